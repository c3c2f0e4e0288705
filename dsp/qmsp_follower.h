// qmsp_follower: a one-pole level follower with separate rise and fall times,
// used to smooth the gain reduction for the meter.
//
//   step(x): level = x + (level - x) * (x > level ? attackCoefficient : releaseCoefficient)
//
// It has the blocks' life cycle (usable at 44100 Hz straight after
// construction; the rate, the setters, step() per sample, reset()) with two
// differences: it is a plain record without virtual operations, copied by
// value into the audio path; and it holds no sample rate: its owner passes
// one to every call that derives a coefficient (the engine passes its own).
//
// Numbers: fields are float32; each formula runs in double and is rounded once.
#pragma once

#include "qmsp_vector.h"

struct qmsp_follower {
    // settings
    float attackTime;   // seconds, used while the input is above the level
    float releaseTime;  // seconds, used otherwise
    // derived coefficients: exp(-1 / (time * rate))
    float attackCoefficient;
    float releaseCoefficient;
    // running state
    float level;

    // Both times 1 ms at 44100 Hz, level 0.
    qmsp_follower();
    // Both times 1 ms at `rate` (Hz, > 0), level 0.
    void init(float rate);
    // Seconds, >= 0 (0 follows the input at once), and the rate in Hz, > 0: each
    // stores its time and derives its coefficient.
    void setAttackTime(float seconds, float rate);
    void setReleaseTime(float seconds, float rate);
    // Both coefficients from the stored times for a new rate (Hz, > 0); the level is kept.
    void updateCoefficients(float rate);
    void step(float input);
    // step() for callers that widen to double ahead of time: the input (a
    // float's value) and both coefficients. The same bits with fewer conversions.
    void stepWidened(double input, double attack, double release);
    // Level 0, settings kept.
    void reset() { level = 0.0f; }
};

// Defined here so that the audio path inlines it.
inline void qmsp_follower::step(float input) {
    const float coefficient = qmsp_selectLess(level, input, attackCoefficient, releaseCoefficient);
    level = static_cast<float>(input + (static_cast<double>(level) - input) * coefficient);
}

inline void qmsp_follower::stepWidened(double input, double attack, double release) {
    const double widened = level;
    level = static_cast<float>(input + (widened - input) * qmsp_selectLess(widened, input, attack, release));
}
