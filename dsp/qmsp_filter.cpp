#include "qmsp_filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

static constexpr double pi = 3.141592653589793;
static constexpr double twoPi = 6.283185307179586;

// Above this share of the rate the cutoff is held. tan() grows without bound as
// f approaches fs / 2 and turns negative beyond it, which would put the pole on
// or outside the unit circle. At 0.49 fs the filter is stable and nearly
// transparent, which is what a cutoff beyond the audible band should sound like.
// At 44100 Hz and above the 9200 Hz cutoff is far below the limit.
static constexpr double highestCutoffShare = 0.49;

qmsp_filter::qmsp_filter(float hz) : frequency(hz), q(0.0f) {}

void qmsp_filter::setFrequency(float hz) {
    if (!(hz == frequency)) {
        frequency = hz;
        updateCoefficients();
    }
}

void qmsp_filter::setQ(float value) {
    if (!(value == q)) {
        q = value;
        updateCoefficients();
    }
}

void qmsp_filter::setResonance(float value) { setQ(value); }

qmsp_filter_butterworth::qmsp_filter_butterworth(float hz)
    : qmsp_filter(hz),
      b0(0.0),
      b1(0.0),
      b2(0.0),
      a1(0.0),
      a2(0.0),
      omega(0.0),
      warp(0.0),
      y1(0.0f),
      y2(0.0f),
      x1(0.0f),
      x2(0.0f) {
    // Virtual calls inside a constructor reach this class, not a derived one:
    // only omega and warp are computed here.
    updatePrewarp();
}

void qmsp_filter_butterworth::setSampleRate(float hz) {
    qmsp_block::setSampleRate(hz);
    updateCoefficients();
}

void qmsp_filter_butterworth::reset() { y1 = y2 = x1 = x2 = 0.0f; }

double qmsp_filter_butterworth::designFrequency() const {
    return std::min(static_cast<double>(frequency), highestCutoffShare * sampleRate);
}

void qmsp_filter_butterworth::updatePrewarp() {
    const double f = designFrequency();
    omega = f * twoPi;
    warp = omega / std::tan(f * pi / sampleRate);
}

void qmsp_filter_butterworth::updateCoefficients() { updatePrewarp(); }

float qmsp_filter_butterworth::process(float x) {
    const float y = static_cast<float>(x * b0 + x1 * b1 + x2 * b2 - y1 * a1 - y2 * a2);
    y2 = y1;
    y1 = y;
    x2 = x1;
    x1 = x;
    return y;
}

// The base constructors could not design the response: a virtual call inside
// a constructor reaches only the class being built.
qmsp_filter_butterworth_first_order_low_pass::qmsp_filter_butterworth_first_order_low_pass(float hz)
    : qmsp_filter_butterworth_first_order(hz) {
    updateCoefficients();
}

void qmsp_filter_butterworth_first_order_low_pass::updateCoefficients() {
    updatePrewarp();
    a1 = (omega - warp) / (omega + warp);
    b0 = omega / (omega + warp);
    b1 = b0;
}
