#include "qmsp_filter.h"

#include <algorithm>
#include <cmath>

static constexpr double pi = 3.141592653589793;
static constexpr double twoPi = 6.283185307179586;

// Above this share of the rate the cutoff is held. tan() grows without bound as
// f approaches fs / 2 and turns negative beyond it, which would put the pole on
// or outside the unit circle. At 0.49 fs the filter is stable and nearly
// transparent, which is what a cutoff beyond the audible band should sound like.
// At 44100 Hz and above the 9200 Hz cutoff is far below the limit.
static constexpr double highestCutoffShare = 0.49;

qmsp_filter_butterworth_first_order_low_pass::qmsp_filter_butterworth_first_order_low_pass(float hz) : frequency(hz) {
    design();
}

void qmsp_filter_butterworth_first_order_low_pass::setSampleRate(float hz) {
    sampleRate = hz;
    design();
}

void qmsp_filter_butterworth_first_order_low_pass::setFrequency(float hz) {
    if (!(hz == frequency)) {
        frequency = hz;
        design();
    }
}

void qmsp_filter_butterworth_first_order_low_pass::design() {
    const double f = std::min(static_cast<double>(frequency), highestCutoffShare * sampleRate);
    const double omega = f * twoPi;
    const double warp = omega / std::tan(f * pi / sampleRate);
    a1 = (omega - warp) / (omega + warp);
    b0 = omega / (omega + warp);
    b1 = b0;
}
