#include "qmsp_dynamics.h"

#include <cmath>
#include <cstring>

#include "qmsp_fastmath.h"

static float dBToGain(float dB) {
    const float exponent = static_cast<float>(static_cast<double>(dB) / 20.0);
    return static_cast<float>(std::pow(10.0, static_cast<double>(exponent)));
}

static bool changed(float newValue, float stored) { return !(newValue == stored); }

qmsp_compressor::qmsp_compressor()
    : ratio(2.0f),
      threshold(-10.0f),
      attack(10.0f),
      release(100.0f),
      inputGainDb(0.0f),
      outputGainDb(0.0f),
      gainReduction(0.0f),
      workingThreshold(-10.0f),
      attackCoefficient(0.0f),
      releaseCoefficient(0.0f),
      inputGain(1.0f),
      outputGain(1.0f),
      envelope(1.0f) {
    thresholdLevel = levelReaching(threshold);
    attackCoefficient = envelopeCoefficient(attack);
    releaseCoefficient = envelopeCoefficient(release);
}

float qmsp_compressor::envelopeCoefficient(float seconds) const {
    const float e = static_cast<float>(-1.0 / (static_cast<double>(seconds) * sampleRate));
    const float x = static_cast<float>(std::exp(static_cast<double>(e)));
    return static_cast<float>(1.0 - static_cast<double>(x));
}

void qmsp_compressor::reset() { envelope = 1.0f; }

void qmsp_compressor::setSampleRate(float hz) {
    qmsp_block::setSampleRate(hz);
    attackCoefficient = envelopeCoefficient(attack);
    releaseCoefficient = envelopeCoefficient(release);
}

void qmsp_compressor::setRatio(float value) {
    if (changed(value, ratio)) ratio = value;
}

void qmsp_compressor::setThreshold(float dB) {
    if (changed(dB, threshold)) {
        threshold = dB;
        workingThreshold = dB;
        thresholdLevel = levelReaching(dB);
    }
}

// The level in dB of an envelope, as detect() computes it, is a non-decreasing
// function of the envelope; search the floats for where it reaches `dB`.
float qmsp_compressor::levelReaching(float dB) {
    auto below = [dB](uint32_t bits) {
        float x;
        std::memcpy(&x, &bits, sizeof x);
        const float lg = static_cast<float>(std::log10(static_cast<double>(x)));
        return dB > static_cast<float>(20.0 * lg);
    };
    uint32_t low = 0x00800000u, high = 0x7F7FFFFFu;  // the normal floats
    if (!below(low) || dB != dB) return 0.0f;          // every level reaches it (or none: compute them all)
    if (below(high)) return 3.4028235e38f;
    while (high - low > 1) {
        const uint32_t middle = low + (high - low) / 2;
        (below(middle) ? low : high) = middle;
    }
    float x;
    std::memcpy(&x, &high, sizeof x);
    return x;
}

void qmsp_compressor::setInputGain(float dB) {
    if (changed(dB, inputGainDb)) {
        inputGainDb = dB;
        inputGain = dBToGain(dB);
    }
}

void qmsp_compressor::setOutputGain(float dB) {
    if (changed(dB, outputGainDb)) {
        outputGainDb = dB;
        outputGain = dBToGain(dB);
    }
}

void qmsp_compressor::setAttack(float seconds) {
    if (changed(seconds, attack)) {
        attack = seconds;
        attackCoefficient = envelopeCoefficient(seconds);
    }
}

void qmsp_compressor::setRelease(float seconds) {
    if (changed(seconds, release)) {
        release = seconds;
        releaseCoefficient = envelopeCoefficient(seconds);
    }
}

float qmsp_compressor::detect(float peak) {
    envelope = static_cast<float>(envelope - static_cast<double>(envelope) * releaseCoefficient);
    if (envelope < peak)
        envelope = static_cast<float>(envelope + (static_cast<double>(peak) - envelope) * attackCoefficient);
    if (envelope < envelopeFlushLevel) envelope = 0.0f;
    // Only an infinite input sample can make the envelope non-finite, and the
    // release step would keep it NaN for good. Such a sample counts as a
    // full-scale peak, as after reset. Finite input never gets here.
    if (!(envelope <= 3.4028235e38f)) envelope = 1.0f;

    const float lg = static_cast<float>(std::log10(static_cast<double>(envelope < levelFloor ? levelFloor : envelope)));
    const float level = static_cast<float>(20.0 * lg);
    if (workingThreshold > level) {
        gainReduction = 0.0f;
    } else {
        // 1/ratio is computed afresh every frame: the ratio setter derives nothing.
        gainReduction = static_cast<float>((1.0 / ratio - 1.0) * (static_cast<double>(level) - workingThreshold));
    }
    return dBToGain(gainReduction);
}

void qmsp_compressor::processStereo(float left, float right, float* leftOut, float* rightOut) {
    const float aL = static_cast<float>(static_cast<double>(left) * inputGain);
    const float aR = static_cast<float>(static_cast<double>(right) * inputGain);
    const float peak = std::fabs(aL) < std::fabs(aR) ? std::fabs(aR) : std::fabs(aL);
    const float g = detect(peak);
    *leftOut = static_cast<float>(static_cast<double>(g) * aL * outputGain);
    *rightOut = static_cast<float>(static_cast<double>(g) * aR * outputGain);
}

float qmsp_compressor::process(float x) {
    const float a = static_cast<float>(static_cast<double>(inputGain) * x);
    const float g = detect(std::fabs(a));
    return static_cast<float>(static_cast<double>(g) * (static_cast<double>(outputGain) * a));
}

float qmsp_compressor::getGainReduction() { return gainReduction; }

void qmsp_compressor::computeGains(const float* left, const float* right, int32_t frames, float* gains,
                                   float* reductions) {
    if (frames <= 0) return;
    if (frames > kMaxBlock) frames = kMaxBlock;
    float levels[kMaxBlock];
    if (right)
        for (int32_t n = 0; n < frames; ++n) levels[n] = advanceEnvelope(left[n], right[n]);
    else
        for (int32_t n = 0; n < frames; ++n) levels[n] = advanceEnvelope(left[n]);
    gainsForLevels(levels, frames, gains, reductions);
}

void qmsp_compressor::gainsForLevels(const float* levels, int32_t frames, float* gains, float* reductions) {
    if (frames <= 0) return;
    if (frames > kMaxBlock) frames = kMaxBlock;
    // Pass 2, the frames whose envelope reaches the threshold, all at once:
    // level in dB, reduction, gain. Below it the reduction is 0 and the gain
    // 10^0 = 1, with no logarithm needed. The reciprocal of the ratio is the
    // same double every frame, so it is computed once.
    int32_t index[kMaxBlock];
    float loud[kMaxBlock], logs[kMaxBlock], exponents[kMaxBlock], loudGains[kMaxBlock];
    int32_t count = 0;
    for (int32_t n = 0; n < frames; ++n) count += levels[n] >= thresholdLevel ? 1 : 0;
    const bool allLoud = count == frames;
    if (!allLoud) {
        count = 0;
        for (int32_t n = 0; n < frames; ++n) {
            index[count] = n;
            loud[count] = levels[n];
            count += levels[n] >= thresholdLevel ? 1 : 0;
            reductions[n] = 0.0f;
            gains[n] = 1.0f;
        }
    }
    if (allLoud) {
        // Every frame: no gathering and scattering.
        qmsp_fastmath::log10Batch(levels, logs, static_cast<size_t>(frames));
        const double slope = 1.0 / ratio - 1.0;
        const double thresholdDb = workingThreshold;
        for (int32_t n = 0; n < frames; ++n) {
            const float level = static_cast<float>(20.0 * logs[n]);
            reductions[n] =
                workingThreshold > level ? 0.0f : static_cast<float>(slope * (static_cast<double>(level) - thresholdDb));
            exponents[n] = static_cast<float>(static_cast<double>(reductions[n]) / 20.0);
        }
        qmsp_fastmath::pow10Batch(exponents, gains, static_cast<size_t>(frames));
    } else if (count > 0) {
        qmsp_fastmath::log10Batch(loud, logs, static_cast<size_t>(count));
        const double slope = 1.0 / ratio - 1.0;
        const double thresholdDb = workingThreshold;
        for (int32_t k = 0; k < count; ++k) {
            const float level = static_cast<float>(20.0 * logs[k]);
            const float reduction =
                workingThreshold > level ? 0.0f : static_cast<float>(slope * (static_cast<double>(level) - thresholdDb));
            logs[k] = reduction;
            exponents[k] = static_cast<float>(static_cast<double>(reduction) / 20.0);
        }
        qmsp_fastmath::pow10Batch(exponents, loudGains, static_cast<size_t>(count));
        for (int32_t k = 0; k < count; ++k) {
            reductions[index[k]] = logs[k];
            gains[index[k]] = loudGains[k];
        }
    }
    gainReduction = reductions[frames - 1];
}
