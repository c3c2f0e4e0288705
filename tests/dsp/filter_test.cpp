// The first-order Butterworth low-pass at the effect's 9200 Hz cutoff.
#include "qmsp_filter.h"
#include "support/float_compare.h"

#include <cmath>
#include <vector>

namespace {

qmsp_filter_butterworth_first_order_low_pass lowPassAt(float sampleRate, float cutoff = 9200.0f) {
    qmsp_filter_butterworth_first_order_low_pass filter(1000.0f);
    filter.setSampleRate(sampleRate);
    filter.setFrequency(cutoff);
    return filter;
}

// Steady-state gain in dB of a sine at `hz`, from the peak after the filter has settled.
double gainDb(float sampleRate, double hz) {
    auto filter = lowPassAt(sampleRate);
    double peak = 0.0;
    const int settle = 2000, measure = 20000;
    for (int n = 0; n < settle + measure; ++n) {
        const float y = filter.process(static_cast<float>(std::sin(2.0 * 3.141592653589793 * hz * n / sampleRate)));
        if (n >= settle) peak = std::fmax(peak, std::fabs(y));
    }
    return 20.0 * std::log10(peak);
}

TEST(LowPass, CoefficientsAtTheEffectsCutoff) {
    const struct {
        float rate;
        double b0, a1;
    } table[] = {
        {44100.0f, 0.43462665, -0.13074670}, {48000.0f, 0.40733048, -0.18533904}, {96000.0f, 0.23693727, -0.52612545}};
    for (const auto& row : table) {
        const auto filter = lowPassAt(row.rate);
        EXPECT_NEAR(filter.getB0(), row.b0, 5e-9) << row.rate << " Hz";
        EXPECT_EQ(filter.getB1(), filter.getB0()) << row.rate << " Hz";
        EXPECT_NEAR(filter.getA1(), row.a1, 5e-9) << row.rate << " Hz";
    }
}

// The impulse response from a filter fresh from its constructor, which designs
// it at 44100 Hz; the step response from one configured as the effect does.
TEST(LowPass, ImpulseAndStepResponsesAt44100) {
    qmsp_filter_butterworth_first_order_low_pass impulse(9200.0f);
    // Eight decimal places, so within half of the last one.
    const double impulseResponse[] = {0.43462664, 0.49145263, 0.06425581, 0.00840123};
    for (int n = 0; n < 4; ++n)
        EXPECT_NEAR(impulse.process(n == 0 ? 1.0f : 0.0f), impulseResponse[n], 5e-9) << "sample " << n;

    auto step = lowPassAt(44100.0f);
    const double stepResponse[] = {0.43462664, 0.92607927, 0.99033511};
    for (int n = 0; n < 3; ++n) EXPECT_NEAR(step.process(1.0f), stepResponse[n], 5e-9) << "sample " << n;
}

TEST(LowPass, UnityAtDcMinus3dBAtCutoffNullAtHalfTheRate) {
    auto dc = lowPassAt(44100.0f);
    float y = 0.0f;
    for (int n = 0; n < 200; ++n) y = dc.process(1.0f);
    EXPECT_TRUE(withinUlps(y, 1.0f, 1)) << "gain at 0 Hz";

    EXPECT_NEAR(gainDb(44100.0f, 9200.0), -3.0103, 0.01) << "gain at the cutoff";
    EXPECT_NEAR(gainDb(96000.0f, 9200.0), -3.0103, 0.01) << "gain at the cutoff, 96 kHz";

    auto nyquist = lowPassAt(44100.0f);
    for (int n = 0; n < 200; ++n) y = nyquist.process(n % 2 ? -1.0f : 1.0f);
    EXPECT_LT(std::fabs(y), 1e-6f) << "gain at half the rate";
}

TEST(LowPass, FlushesTheStoredOutputButReturnsTheDenormal) {
    auto filter = lowPassAt(44100.0f);
    filter.process(1.0f);
    float y = 1.0f;
    int n = 0;
    while (std::fpclassify(y) != FP_SUBNORMAL && n < 1000) y = filter.process(0.0f), ++n;
    ASSERT_EQ(std::fpclassify(y), FP_SUBNORMAL) << "the decay reaches the denormal range";
    EXPECT_EQ(filter.getPreviousOutput(), 0.0f) << "stored history flushed";
    EXPECT_EQ(filter.process(0.0f), 0.0f) << "next sample computed from the flushed history";
}

TEST(LowPass, SettingsChangesKeepTheHistoryAndResetClearsIt) {
    auto a = lowPassAt(44100.0f), b = lowPassAt(44100.0f), fresh = lowPassAt(44100.0f);
    for (float x : {0.9f, -0.2f, 0.4f}) a.process(x), b.process(x);
    a.setSampleRate(44100.0f);
    EXPECT_EQ(a.process(0.1f), b.process(0.1f)) << "a new rate leaves the history";
    auto c = b;
    c.reset();
    EXPECT_EQ(c.process(0.7f), fresh.process(0.7f)) << "reset clears it";
    EXPECT_EQ(a.process(-0.3f), b.process(-0.3f));

    // A new frequency changes the coefficients only: y1 and x1 carry over.
    const float y1 = a.getPreviousOutput();
    a.setFrequency(2000.0f);
    EXPECT_EQ(a.getPreviousOutput(), y1);
    const double expected = 0.5 * a.getB0() + static_cast<double>(-0.3f) * a.getB1() - y1 * a.getA1();
    EXPECT_EQ(a.process(0.5f), static_cast<float>(expected));
}

TEST(LowPass, StaysStableWhenTheCutoffIsAtOrAboveHalfTheRate) {
    for (float rate : {8000.0f, 11025.0f, 16000.0f, 18400.0f}) {
        auto filter = lowPassAt(rate);
        ASSERT_LT(std::fabs(filter.getA1()), 1.0) << "pole inside the unit circle at " << rate << " Hz";
        // A full-scale input can reach at most the sum of |impulse response|, 2 b0.
        const double bound = 2.0 * filter.getB0();
        float largest = 0.0f;
        for (int n = 0; n < 100000; ++n) {
            const float x = ((n / 7) % 2 ? 1.0f : -1.0f) * (n % 3 ? 1.0f : -1.0f);
            largest = std::fmax(largest, std::fabs(filter.process(x)));
        }
        EXPECT_LE(largest, bound) << rate << " Hz";
        float y = 1.0f;
        for (int n = 0; n < 2000; ++n) y = filter.process(0.0f);
        EXPECT_EQ(y, 0.0f) << "decays to silence at " << rate << " Hz";
        // A steady signal still passes at unity.
        for (int n = 0; n < 2000; ++n) y = filter.process(0.5f);
        EXPECT_NEAR(y, 0.5f, 1e-6) << "the float feedback settles within a few steps, " << rate << " Hz";
    }
}

TEST(LowPass, ExactDesignAtOrdinaryRates) {
    for (float rate : {44100.0f, 48000.0f, 88200.0f, 96000.0f, 192000.0f}) {
        const auto filter = lowPassAt(rate);
        const double omega = 9200.0 * 6.283185307179586;
        const double warp = omega / std::tan(9200.0 * 3.141592653589793 / rate);
        EXPECT_EQ(filter.getB0(), omega / (omega + warp)) << rate << " Hz";
        EXPECT_EQ(filter.getA1(), (omega - warp) / (omega + warp)) << rate << " Hz";
    }
}

}  // namespace
