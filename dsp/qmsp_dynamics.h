// qmsp_compressor: a feed-forward, peak-detecting, hard-knee
// compressor with linked stereo detection.
//
// Per frame:  a = x * inputGain;  peak = |a| (the louder channel in stereo)
//             envelope -= envelope * releaseCoefficient          (every frame, first)
//             if envelope < peak: envelope += (peak - envelope) * attackCoefficient
//             level = 20 log10(max(envelope, 1e-5))             (never below -100 dB)
//             gainReduction = level < threshold ? 0 : (1/ratio - 1)(level - threshold)
//             out = 10^(gainReduction/20) * a * outputGain
// Release runs before attack, so a steady peak P settles the envelope just below
// itself, at P a / (a + r - a r).
//
// Numbers: fields are float32. Each formula is evaluated in double precision and
// rounded to float32 where a value is named or stored; log10, exp and the power
// of ten are the double-precision functions, their results rounded to float32.
#pragma once

#include <cstdint>

#include "qmsp_block.h"

class qmsp_compressor : public qmsp_block {
public:
    // 44100 Hz, ratio 2, threshold -10 dB, attack 10 s, release 100 s, gains 0 dB,
    // envelope 1 (as if a full-scale peak had just passed).
    qmsp_compressor();

    // Envelope back to full scale (1.0). gainReduction keeps its last value.
    void reset() { envelope = 1.0f; }
    // Stores the rate and recomputes both coefficients, always. Envelope kept.
    void setSampleRate(float hz);
    // Mono: one sample through the same chain.
    float process(float x);

    // Each setter stores its value and derives from it only when the value
    // changed; a comparison involving a NaN counts as a change.
    void setRatio(float ratio);      // n in n:1, > 0 (1 = no compression)
    void setThreshold(float dB);     // dB, 0 = full scale
    void setInputGain(float dB);     // dB
    void setOutputGain(float dB);    // dB, the make-up gain
    void setAttack(float seconds);   // seconds, >= 0 (0 jumps to each peak)
    void setRelease(float seconds);  // seconds, >= 0
    // Linked stereo: both channels get the gain of the louder one.
    void processStereo(float left, float right, float* leftOut, float* rightOut);
    // Keyed: the detector takes its peak from the key (both channels linked,
    // as the input's are) and the gain applies to the input.
    void processStereo(float left, float right, float keyLeft, float keyRight, float* leftOut, float* rightOut);
    float process(float x, float keyLeft, float keyRight);
    // dB of the most recent frame, 0 or negative; 0 before the first.
    float getGainReduction() const { return gainReduction; }

    // Read-only views for tests and the meter.
    float getEnvelope() const { return envelope; }
    float getAttackCoefficient() const { return attackCoefficient; }
    float getReleaseCoefficient() const { return releaseCoefficient; }

    // The detector and the gain computer taken apart into the steps that the
    // audio path's pipeline interleaves over groups of frames
    // (qmsp_dynamics_steps.h, where the vector kernels come in).
    class Steps;

private:
    // 1 - exp(-1 / (seconds * sampleRate)), with the exponential rounded to float32 first.
    float envelopeCoefficient(float seconds) const;
    // Moves the envelope toward the peak and returns the gain for this frame.
    float detect(float peak);
    static float levelReaching(float dB);
    void updateShortStep();

    // The frames that Steps takes in one group.
    static constexpr int32_t kGroup = 8;
    // The level floor: 20 log10(1e-5) = -100 dB.
    static constexpr float levelFloor = 1e-5f;
    // An envelope this far below the level floor no longer affects the output:
    // the level is floored at 1e-5, and when a signal returns, the attack
    // step's double arithmetic cannot tell the envelope from 0. Flushing it
    // keeps the detector out of denormal numbers after long digital silence,
    // bit for bit the same output.
    static constexpr float envelopeFlushLevel = 1e-30f;

    // settings
    float ratio;
    float threshold;  // dB
    float attack;     // s
    float release;    // s
    float inputGainDb;
    float outputGainDb;
    // last result
    float gainReduction;  // dB
    // derived coefficients
    float thresholdLevel;  // Steps: the smallest envelope whose level reaches the threshold
    float attackCoefficient;
    float releaseCoefficient;
    float inputGain;           // linear
    float outputGain;          // linear
    double releaseKeep;        // Steps: 1 - releaseCoefficient
    float shortStepFloor;      // Steps: the envelope above which the short step holds (infinite: never)
    double keptOverTwoGroups;  // Steps: at most what 2 kGroup release steps keep of the envelope
    // running state
    float envelope;  // linear amplitude
};
