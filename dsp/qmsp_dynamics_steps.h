// qmsp_compressor::Steps: the compressor's per-frame chain taken apart, for a
// caller that works on groups of kGroup frames and interleaves the parts with
// other work (the audio path's pipeline). Only that caller and the tests
// include this header: it brings in the vector kernels.
//
// First the detector, frame by frame: the step that moves the envelope toward
// the frame's peak (the louder channel after the input gain, which the caller
// computes) and returns the level the gain computer takes. Then the gain
// computer for a group of such levels, with batched log10 and 10^x: the gain
// and the gain reduction that processStereo (or process) would compute for
// each frame. The caller applies the gains as those do:
//   stereo  out = float(double(gain) * a * outputGain)
//   mono    out = float(double(gain) * (double(outputGain) * a))
// with a = the input times the input gain, float(double(x) * inputGain).
// Every part gives the bits of the compressor's own chain.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "qmsp_dynamics.h"
#include "qmsp_fastmath_kernels.h"
#include "qmsp_vector.h"

class qmsp_compressor::Steps {
public:
    static constexpr int32_t kGroup = qmsp_compressor::kGroup;

    // Works on `compressor`'s own state.
    explicit Steps(qmsp_compressor& compressor) : c(compressor) {}

    // The literal detector step, for any peak and envelope.
    float advanceEnvelopeFromPeak(float peak);
    // The detector step in a shorter form that gives the same bits while it
    // holds: the release step as one multiplication by 1 - releaseCoefficient
    // (the same double when that difference is exact), and no flush or
    // recovery test, which cannot fire for the next kGroup frames while the
    // envelope stays well above the flush level and every peak is finite
    // (the caller checks the peaks); and with an attack coefficient in 0..1
    // the choice between the attack and the release step is a maximum.
    bool shortStepsHold() const {
        return c.envelope > c.shortStepFloor && c.attackCoefficient >= 0.0f && c.attackCoefficient <= 1.0f;
    }
    float advanceEnvelopeShort(float peak);
    // The short step when the peak does not exceed the released envelope: the
    // attack step then cannot rise above it, so the step is the release alone.
    // releasesOnly() tells, before a group, that this holds for all of its
    // frames: its largest peak is below what two groups of release steps leave
    // of the envelope a group earlier (attack steps only raise the envelope).
    float advanceEnvelopeReleasing();
    bool releasesOnly(float largestPeak, float envelopeGroupBefore) const {
        return largestPeak <= static_cast<double>(envelopeGroupBefore) * c.keptOverTwoGroups;
    }

    // The gain computer with the current threshold and ratio, in steps that
    // the caller may interleave with other work (see qmsp_fastmath::Kernels),
    // W levels to a vector. The slope 1/ratio - 1 that every frame computes is
    // computed here once.
    template <size_t W>
    typename qmsp_fastmath::Kernels<W>::HardKneeSteps gainComputer() const {
        return {c.threshold, 1.0 / c.ratio - 1.0};
    }
    // Whether any of kGroup levels reaches the threshold: if none does, every
    // reduction is 0 and every gain 1.
    bool anyReachesThreshold(const float* levels) const;
    // The computer for `count` <= kGroup levels, all steps at once.
    template <class Computer>
    void gainsForGroup(const float* levels, int32_t count, Computer& computer, float* gains, float* reductions);
    // The most recent frame's reduction, for a caller that runs the computer in steps.
    void setLastGainReduction(float dB) { c.gainReduction = dB; }

    // Linear.
    float getInputGain() const { return c.inputGain; }
    float getOutputGain() const { return c.outputGain; }

private:
    qmsp_compressor& c;
};

// detect()'s envelope steps as selects rather than branches: whether a frame
// attacks depends on the signal, and mispredicted branches would cost more
// than the arithmetic of the step not taken.
inline float qmsp_compressor::Steps::advanceEnvelopeFromPeak(float peak) {
    const float env = c.envelope;
    const float released = static_cast<float>(env - static_cast<double>(env) * c.releaseCoefficient);
    const float attacked = static_cast<float>(released + (static_cast<double>(peak) - released) * c.attackCoefficient);
    float next = qmsp_selectLess(released, peak, attacked, released);
    next = qmsp_selectLess(next, envelopeFlushLevel, 0.0f, next);
    next = qmsp_selectLess(next, INFINITY, next, 1.0f);  // finite, or 1
    c.envelope = next;
    return next < levelFloor ? levelFloor : next;
}

inline float qmsp_compressor::Steps::advanceEnvelopeShort(float peak) {
    const float released = static_cast<float>(static_cast<double>(c.envelope) * c.releaseKeep);
    const float attacked = static_cast<float>(released + (static_cast<double>(peak) - released) * c.attackCoefficient);
    // The attack step moves toward the peak, so it rises above the released
    // envelope exactly when the peak does (a NaN peak never attacks): the
    // choice is a maximum.
    const float next = qmsp_max(attacked, released);
    c.envelope = next;
    return next < levelFloor ? levelFloor : next;
}

inline float qmsp_compressor::Steps::advanceEnvelopeReleasing() {
    c.envelope = static_cast<float>(static_cast<double>(c.envelope) * c.releaseKeep);
    return c.envelope < levelFloor ? levelFloor : c.envelope;
}

QMSP_ALWAYS_INLINE inline bool qmsp_compressor::Steps::anyReachesThreshold(const float* levels) const {
    using vf = qmsp_vectors<4>::vf;  // two of them hold a group
    constexpr int32_t lanes = sizeof(vf) / sizeof(float);
    static_assert(2 * lanes == kGroup);
    vf low, high;
    qmsp_load(levels, low);
    qmsp_load(levels + lanes, high);
    return qmsp_anyLane((low >= c.thresholdLevel) | (high >= c.thresholdLevel));
}

template <class Computer>
QMSP_ALWAYS_INLINE inline void qmsp_compressor::Steps::gainsForGroup(const float* levels, int32_t count,
                                                                     Computer& computer, float* gains,
                                                                     float* reductions) {
    bool anyLoud = false;
    for (int32_t n = 0; n < count; ++n) anyLoud |= levels[n] >= c.thresholdLevel;
    if (anyLoud) {
        computer.run(levels, static_cast<size_t>(count), gains, reductions);
    } else {
        for (int32_t n = 0; n < count; ++n) {
            gains[n] = 1.0f;
            reductions[n] = 0.0f;
        }
    }
    c.gainReduction = reductions[count - 1];
}
