#include "qmsp_dynamics.h"

#include <cmath>
#include <cstring>

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
      attackCoefficient(0.0f),
      releaseCoefficient(0.0f),
      inputGain(1.0f),
      outputGain(1.0f),
      envelope(1.0f) {
    thresholdLevel = levelReaching(threshold);
    attackCoefficient = envelopeCoefficient(attack);
    releaseCoefficient = envelopeCoefficient(release);
    updateShortStep();
}

// env - env * c equals env * (1 - c) as doubles when 1 - c is exact: env * c
// is exact (two floats' product fits a double), so both are the exact value
// rounded once. 1 - c is exact for c = 0 and for c >= 2^-30. Above the floor,
// kGroup release steps (each keeping at least releaseKeep, less a float
// rounding) cannot take the envelope below the flush level, and an attack
// step only raises it.
void qmsp_compressor::updateShortStep() {
    const double c = releaseCoefficient;
    const bool exact = c == 0.0 || (c >= 0x1p-30 && c <= 1.0);
    releaseKeep = 1.0 - c;
    const double keptOverGroup = std::pow(releaseKeep * (1.0 - 0x1p-20), kGroup);
    keptOverTwoGroups = keptOverGroup * keptOverGroup;
    shortStepFloor =
        exact && keptOverGroup > 0.0 ? static_cast<float>(2.0 * envelopeFlushLevel / keptOverGroup) : INFINITY;
}

float qmsp_compressor::envelopeCoefficient(float seconds) const {
    const float e = static_cast<float>(-1.0 / (static_cast<double>(seconds) * sampleRate));
    const float x = static_cast<float>(std::exp(static_cast<double>(e)));
    return static_cast<float>(1.0 - static_cast<double>(x));
}

void qmsp_compressor::setSampleRate(float hz) {
    sampleRate = hz;
    attackCoefficient = envelopeCoefficient(attack);
    releaseCoefficient = envelopeCoefficient(release);
    updateShortStep();
}

void qmsp_compressor::setRatio(float value) {
    if (changed(value, ratio)) ratio = value;
}

void qmsp_compressor::setThreshold(float dB) {
    if (changed(dB, threshold)) {
        threshold = dB;
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
    if (!below(low) || dB != dB) return 0.0f;        // every level reaches it (or none: compute them all)
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
        updateShortStep();
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
    if (threshold > level) {
        gainReduction = 0.0f;
    } else {
        // 1/ratio is computed afresh every frame: the ratio setter derives nothing.
        gainReduction = static_cast<float>((1.0 / ratio - 1.0) * (static_cast<double>(level) - threshold));
    }
    return dBToGain(gainReduction);
}

void qmsp_compressor::processStereo(float left, float right, float* leftOut, float* rightOut) {
    processStereo(left, right, left, right, leftOut, rightOut);
}

// |a| of the louder channel of a frame, a = x * inputGain.
static float linkedPeak(float left, float right, float inputGain) {
    const float aL = static_cast<float>(static_cast<double>(left) * inputGain);
    const float aR = static_cast<float>(static_cast<double>(right) * inputGain);
    return std::fabs(aL) < std::fabs(aR) ? std::fabs(aR) : std::fabs(aL);
}

void qmsp_compressor::processStereo(float left, float right, float keyLeft, float keyRight, float* leftOut,
                                    float* rightOut) {
    const float aL = static_cast<float>(static_cast<double>(left) * inputGain);
    const float aR = static_cast<float>(static_cast<double>(right) * inputGain);
    const float g = detect(linkedPeak(keyLeft, keyRight, inputGain));
    *leftOut = static_cast<float>(static_cast<double>(g) * aL * outputGain);
    *rightOut = static_cast<float>(static_cast<double>(g) * aR * outputGain);
}

float qmsp_compressor::process(float x) {
    const float a = static_cast<float>(static_cast<double>(inputGain) * x);
    const float g = detect(std::fabs(a));
    return static_cast<float>(static_cast<double>(g) * (static_cast<double>(outputGain) * a));
}

float qmsp_compressor::process(float x, float keyLeft, float keyRight) {
    const float a = static_cast<float>(static_cast<double>(inputGain) * x);
    const float g = detect(linkedPeak(keyLeft, keyRight, inputGain));
    return static_cast<float>(static_cast<double>(g) * (static_cast<double>(outputGain) * a));
}
