// qmsp_dynamics, qmsp_compressor: a feed-forward, peak-detecting, hard-knee
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

#include <cmath>
#include <cstring>

#include "qmsp_block.h"
#include "qmsp_fastmath_kernels.h"

// The dynamics interface. Never instantiated by itself.
class qmsp_dynamics : public qmsp_block {
public:
    virtual void setRatio(float ratio) = 0;
    virtual void setThreshold(float dB) = 0;
    virtual void setInputGain(float dB) = 0;
    virtual void setOutputGain(float dB) = 0;
    virtual void setAttack(float seconds) = 0;
    virtual void setRelease(float seconds) = 0;
    virtual void processStereo(float left, float right, float* leftOut, float* rightOut) = 0;
    virtual float getGainReduction() = 0;

protected:
    qmsp_dynamics() = default;
};

class qmsp_compressor : public qmsp_dynamics {
public:
    // 44100 Hz, ratio 2, threshold -10 dB, attack 10 s, release 100 s, gains 0 dB,
    // envelope 1 (as if a full-scale peak had just passed).
    qmsp_compressor();

    // Envelope back to full scale (1.0). gainReduction keeps its last value.
    void reset() override;
    // Stores the rate and recomputes both coefficients, always. Envelope kept.
    void setSampleRate(float hz) override;
    // Mono: one sample through the same chain.
    float process(float x) override;

    // Each setter stores its value and derives from it only when the value
    // changed; a comparison involving a NaN counts as a change.
    void setRatio(float ratio) override;        // n in n:1, > 0 (1 = no compression)
    void setThreshold(float dB) override;       // dB, 0 = full scale
    void setInputGain(float dB) override;       // dB
    void setOutputGain(float dB) override;      // dB, the make-up gain
    void setAttack(float seconds) override;     // seconds, >= 0 (0 jumps to each peak)
    void setRelease(float seconds) override;    // seconds, >= 0
    // Linked stereo: both channels get the gain of the louder one.
    void processStereo(float left, float right, float* leftOut, float* rightOut) override;
    // dB of the most recent frame, 0 or negative; 0 before the first.
    float getGainReduction() override;

    // The same chain taken apart, for callers that work on groups of kGroup
    // frames. First the detector, frame by frame: the frame's peak (the
    // louder channel after the input gain), then the step that moves the
    // envelope and returns the level the gain computer takes. Then the gain
    // computer for a group of such levels, with batched log10 and 10^x: the
    // gain and the gain reduction that processStereo (or process) would
    // compute for each frame. The caller applies the gains as those do:
    //   stereo  out = float(double(gain) * a * outputGain)
    //   mono    out = float(double(gain) * (double(outputGain) * a))
    // with a = the input times the input gain, float(double(x) * inputGain).
    static constexpr int32_t kGroup = 8;
    float stereoPeak(float left, float right) const;
    float monoPeak(float x) const;
    float advanceEnvelopeFromPeak(float peak);
    // The detector step in a shorter form that gives the same bits while it
    // holds: the release step as one multiplication by 1 - releaseCoefficient
    // (the same double when that difference is exact), and no flush or
    // recovery test, which cannot fire for the next kGroup frames while the
    // envelope stays well above the flush level and every peak is finite
    // (the caller checks the peaks); and with an attack coefficient in 0..1
    // the choice between the attack and the release step is a maximum.
    bool shortStepsHold() const {
        return envelope > shortStepFloor && attackCoefficient >= 0.0f && attackCoefficient <= 1.0f;
    }
    float advanceEnvelopeShort(float peak);
    // The short step when the peak does not exceed the released envelope: the
    // attack step then cannot rise above it, so the step is the release alone.
    // releasesOnly() tells, before a group, that this holds for all of its
    // frames: its largest peak is below what two groups of release steps leave
    // of the envelope a group earlier (attack steps only raise the envelope).
    float advanceEnvelopeReleasing();
    bool releasesOnly(float largestPeak, float envelopeGroupBefore) const {
        return largestPeak <= static_cast<double>(envelopeGroupBefore) * keptOverTwoGroups;
    }
    // The gain computer's settings: the reciprocal of the ratio as the double
    // slope = 1/ratio - 1 that every frame computes (callers compute it once
    // per block), and the computer itself, in steps that callers may
    // interleave with other work (see qmsp_fastmath::Kernels).
    double getSlope() const { return 1.0 / ratio - 1.0; }
    template <size_t lanes>
    typename qmsp_fastmath::Kernels<lanes>::HardKneeSteps gainComputerSteps(double slope) const {
        return {workingThreshold, slope};
    }
    // Whether any of kGroup levels reaches the threshold: if none does, every
    // reduction is 0 and every gain 1.
    bool anyReachesThreshold(const float* levels) const;
    // The computer for `count` <= kGroup levels, all steps at once.
    template <class Computer>
    void gainsForGroup(const float* levels, int32_t count, Computer& computer, float* gains, float* reductions);
    // The most recent frame's reduction, for callers that run the computer in steps.
    void setLastGainReduction(float dB) { gainReduction = dB; }
    float getInputGain() const { return inputGain; }
    float getOutputGain() const { return outputGain; }

    // Read-only views for tests and the meter.
    float getEnvelope() const { return envelope; }
    float getAttackCoefficient() const { return attackCoefficient; }
    float getReleaseCoefficient() const { return releaseCoefficient; }

private:
    // 1 - exp(-1 / (seconds * sampleRate)), with the exponential rounded to float32 first.
    float envelopeCoefficient(float seconds) const;
    // Moves the envelope toward the peak and returns the gain for this frame.
    float detect(float peak);
    static float levelReaching(float dB);
    void updateShortStep();

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
    float threshold;      // dB
    float attack;         // s
    float release;        // s
    float inputGainDb;
    float outputGainDb;
    // last result
    float gainReduction;  // dB
    // derived coefficients
    float workingThreshold;  // dB, always equal to threshold
    float thresholdLevel;    // the smallest envelope whose level reaches the threshold
    float attackCoefficient;
    float releaseCoefficient;
    float inputGain;   // linear
    float outputGain;  // linear
    double releaseKeep;    // 1 - releaseCoefficient
    float shortStepFloor;  // the envelope above which the short step holds (infinite: never)
    double keptOverTwoGroups;  // at most what 2 kGroup release steps keep of the envelope
    // running state
    float envelope;    // linear amplitude
};

// detect()'s envelope steps as selects rather than branches: whether a frame
// attacks depends on the signal, and mispredicted branches would cost more
// than the arithmetic of the step not taken.
inline float qmsp_compressor::advanceEnvelopeFromPeak(float peak) {
    const float env = envelope;
    const float released = static_cast<float>(env - static_cast<double>(env) * releaseCoefficient);
    const float attacked = static_cast<float>(released + (static_cast<double>(peak) - released) * attackCoefficient);
    float next = qmsp_selectLess(released, peak, attacked, released);
    next = qmsp_selectLess(next, envelopeFlushLevel, 0.0f, next);
    next = qmsp_selectLess(next, INFINITY, next, 1.0f);  // finite, or 1
    envelope = next;
    return next < levelFloor ? levelFloor : next;
}

inline float qmsp_compressor::stereoPeak(float left, float right) const {
    if (inputGain == 1.0f)  // x * 1.0 is x (a NaN's payload aside, which no comparison sees)
        return std::fabs(left) < std::fabs(right) ? std::fabs(right) : std::fabs(left);
    const float aL = static_cast<float>(static_cast<double>(left) * inputGain);
    const float aR = static_cast<float>(static_cast<double>(right) * inputGain);
    return std::fabs(aL) < std::fabs(aR) ? std::fabs(aR) : std::fabs(aL);
}

inline float qmsp_compressor::monoPeak(float x) const {
    return std::fabs(static_cast<float>(static_cast<double>(inputGain) * x));
}

inline float qmsp_compressor::advanceEnvelopeShort(float peak) {
    const float released = static_cast<float>(static_cast<double>(envelope) * releaseKeep);
    const float attacked = static_cast<float>(released + (static_cast<double>(peak) - released) * attackCoefficient);
    // The attack step moves toward the peak, so it rises above the released
    // envelope exactly when the peak does (a NaN peak never attacks): the
    // choice is a maximum.
    const float next = qmsp_max(attacked, released);
    envelope = next;
    return next < levelFloor ? levelFloor : next;
}

inline float qmsp_compressor::advanceEnvelopeReleasing() {
    envelope = static_cast<float>(static_cast<double>(envelope) * releaseKeep);
    return envelope < levelFloor ? levelFloor : envelope;
}

__attribute__((always_inline)) inline bool qmsp_compressor::anyReachesThreshold(const float* levels) const {
    using K = qmsp_fastmath::Kernels<4>;
    static_assert(2 * K::kLanes == kGroup);
    K::vf low, high;
    K::load(levels, low);
    K::load(levels + K::kLanes, high);
    return K::anyLane((low >= thresholdLevel) | (high >= thresholdLevel));
}

template <class Computer>
__attribute__((always_inline)) inline void qmsp_compressor::gainsForGroup(const float* levels, int32_t count,
                                                                         Computer& computer, float* gains,
                                                                         float* reductions) {
    bool anyLoud = false;
    for (int32_t n = 0; n < count; ++n) anyLoud |= levels[n] >= thresholdLevel;
    if (anyLoud) {
        computer.run(levels, static_cast<size_t>(count), gains, reductions);
    } else {
        for (int32_t n = 0; n < count; ++n) {
            gains[n] = 1.0f;
            reductions[n] = 0.0f;
        }
    }
    gainReduction = reductions[count - 1];
}
