// qmsp_follower: a one-pole level follower with separate rise and fall times,
// used to smooth the gain reduction for the meter. A plain record: the owner
// passes the sample rate when the times or the rate change.
//
//   step(x): level = x + (level - x) * (x > level ? attackCoefficient : releaseCoefficient)
//
// Numbers: fields are float32; each formula runs in double and is rounded once.
#pragma once

#include <cstdint>

#include "qmsp_block.h"

struct qmsp_follower {
    enum : int32_t { kAttackTime = 530, kReleaseTime = 531 };

    // settings
    float attackTime;   // seconds, used while the input is above the level
    float releaseTime;  // seconds, used otherwise
    // derived coefficients: exp(-1 / (time * rate))
    float attackCoefficient;
    float releaseCoefficient;
    // running state
    float level;

    // Both times 1 ms, level 0.
    void init(float rate);
    // Selector kAttackTime or kReleaseTime, value in seconds; other selectors change nothing.
    void set(int32_t selector, float seconds, float rate);
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
