#include "qmsp_block.h"

#include <cmath>

// The float32 0.001 is deliberate: samplesPerMs at 44100 Hz is 44.100002, not 44.1.
static constexpr float millisecond = 0.001f;

qmsp_block::qmsp_block()
    : sampleRate(44100.0f),
      samplePeriod(static_cast<float>(1.0 / 44100.0)),
      samplesPerMs(static_cast<float>(44100.0 * static_cast<double>(millisecond))) {}

qmsp_block::~qmsp_block() = default;

void qmsp_block::reset() {}

void qmsp_block::setSampleRate(float hz) {
    sampleRate = hz;
    samplePeriod = static_cast<float>(1.0 / static_cast<double>(hz));
    samplesPerMs = static_cast<float>(static_cast<double>(hz) * static_cast<double>(millisecond));
}

float qmsp_block::process(float x) { return x; }

qmsp_smoother::qmsp_smoother()
    : time(0.005f),
      timeConstants(1),
      coefficient(0.0f),
      current(denormalOffset),
      target(denormalOffset) {
    updateCoefficient();
}

void qmsp_smoother::setSampleRate(float hz) {
    qmsp_block::setSampleRate(hz);
    updateCoefficient();
}

void qmsp_smoother::reset() { current = target; }

void qmsp_smoother::setTime(float seconds) {
    time = seconds;
    updateCoefficient();
}

void qmsp_smoother::setTimeConstants(int32_t count) {
    timeConstants = count;
    updateCoefficient();
}

void qmsp_smoother::setTarget(float value) {
    target = static_cast<float>(static_cast<double>(value) + static_cast<double>(denormalOffset));
}

void qmsp_smoother::setValue(float value) {
    current = static_cast<float>(static_cast<double>(value) + static_cast<double>(denormalOffset));
    target = current;
}

float qmsp_smoother::process(float x) {
    const float t = static_cast<float>(static_cast<double>(x) + static_cast<double>(denormalOffset));
    target = t;
    current = static_cast<float>(t + (static_cast<double>(current) - t) * coefficient);
    return static_cast<float>(static_cast<double>(current) - static_cast<double>(denormalOffset));
}

void qmsp_smoother::updateCoefficient() {
    // A time of 0 gives e = -inf and a coefficient of exactly 0.
    const float e =
        static_cast<float>(-1.0 / ((static_cast<double>(time) / static_cast<double>(timeConstants)) * sampleRate));
    coefficient = static_cast<float>(std::exp(static_cast<double>(e)));
}
