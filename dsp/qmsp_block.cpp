#include "qmsp_block.h"

#include <cmath>

qmsp_smoother::qmsp_smoother() : time(0.005f), coefficient(0.0f), current(denormalOffset), target(denormalOffset) {
    updateCoefficient();
}

void qmsp_smoother::setSampleRate(float hz) {
    sampleRate = hz;
    updateCoefficient();
}

void qmsp_smoother::setTime(float seconds) {
    time = seconds;
    updateCoefficient();
}

void qmsp_smoother::setTarget(float value) {
    target = static_cast<float>(static_cast<double>(value) + static_cast<double>(denormalOffset));
}

void qmsp_smoother::updateCoefficient() {
    // A time of 0 gives e = -inf and a coefficient of exactly 0.
    const float e = static_cast<float>(-1.0 / (static_cast<double>(time) * sampleRate));
    coefficient = static_cast<float>(std::exp(static_cast<double>(e)));
}
