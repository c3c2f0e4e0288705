// The block base and the one-pole smoother.
#include "qmsp_block.h"
#include "support/float_compare.h"

#include <cmath>
#include <cstring>

namespace {

bool sameFloat(float a, float b) {
    uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

struct InspectableBlock : qmsp_block {
    float rate() const { return sampleRate; }
    float period() const { return samplePeriod; }
    float perMs() const { return samplesPerMs; }
};

TEST(Block, StartsAt44100AndPassesSamplesThrough) {
    InspectableBlock block;
    EXPECT_EQ(block.rate(), 44100.0f);
    EXPECT_EQ(block.period(), 1.0f / 44100.0f);
    // 44100 times the float32 0.001, not 44.1.
    EXPECT_EQ(block.perMs(), 44.100002f);
    EXPECT_NE(block.perMs(), 44.1f);
    EXPECT_EQ(block.process(0.25f), 0.25f);
}

TEST(Block, SetSampleRateStoresAllThreeValues) {
    InspectableBlock block;
    block.setSampleRate(48000.0f);
    EXPECT_EQ(block.rate(), 48000.0f);
    EXPECT_EQ(block.period(), static_cast<float>(1.0 / 48000.0));
    EXPECT_EQ(block.perMs(), 48.000004f);
}

TEST(Smoother, NewSmootherOutputsZero) {
    qmsp_smoother smoother;
    EXPECT_TRUE(withinUlps(smoother.getCoefficient(), 0.99547511f, 1));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(smoother.tick(), 0.0f);
}

TEST(Smoother, GlideFromZeroToOneFollowsTheDefaultTimeConstant) {
    qmsp_smoother smoother;
    smoother.setTarget(1.0f);
    // Worked values of the 5 ms glide at 44100 Hz, by number of ticks.
    const struct { int ticks; double value; } expected[] = {
        {1, 0.0045249}, {220, 0.63129}, {221, 0.63295}, {441, 0.86467}, {1000, 0.98927}};
    int done = 0;
    for (const auto& point : expected) {
        float value = 0.0f;
        while (done < point.ticks) value = smoother.tick(), ++done;
        EXPECT_TRUE(matchesDigits(value, point.value, 5)) << "after " << point.ticks << " ticks";
    }
}

TEST(Smoother, GlideSettlesWhereFloatRoundingStopsIt) {
    qmsp_smoother smoother;
    smoother.setTarget(1.0f);
    float value = 0.0f;
    for (int i = 0; i < 20000; ++i) value = smoother.tick();
    EXPECT_EQ(value, 0.99999344f);
    EXPECT_EQ(smoother.tick(), value) << "a settled glide stays put";

    smoother.setTarget(0.0f);
    for (int i = 0; i < 200000; ++i) {
        value = smoother.tick();
        ASSERT_NE(std::fpclassify(value), FP_SUBNORMAL) << "tick " << i;
        ASSERT_GE(value, 0.0f) << "tick " << i;
    }
    EXPECT_GT(value, 1.0e-17f);
    EXPECT_LT(value, 1.3e-17f);
}

TEST(Smoother, SetValueJumpsWithoutGlide) {
    qmsp_smoother smoother;
    smoother.setValue(0.5f);
    EXPECT_EQ(smoother.tick(), 0.5f);
    EXPECT_EQ(smoother.tick(), 0.5f);
}

TEST(Smoother, ProcessEqualsSetTargetThenTick) {
    qmsp_smoother a, b;
    const float inputs[] = {1.0f, 0.3f, -0.7f, 0.0f, 1.0e-20f, 0.9f};
    for (float x : inputs) {
        for (int i = 0; i < 37; ++i) {
            const float viaProcess = a.process(x);
            b.setTarget(x);
            ASSERT_EQ(viaProcess, b.tick()) << "input " << x << " step " << i;
        }
    }
}

TEST(Smoother, SampleRateChangeKeepsTimeInSecondsAndTheGlide) {
    qmsp_smoother smoother, reference;
    smoother.setTarget(1.0f);
    reference.setTarget(1.0f);
    for (int i = 0; i < 100; ++i) smoother.tick(), reference.tick();
    smoother.setSampleRate(88200.0f);
    EXPECT_EQ(smoother.getCoefficient(), static_cast<float>(std::exp(static_cast<double>(static_cast<float>(-1.0 / 441.0)))));
    // Value and target survive; only the step size changes.
    const float next = smoother.tick();
    const float before = reference.tick();
    EXPECT_GT(next, 0.0f);
    EXPECT_LT(next, before);
}

TEST(Smoother, ZeroTimeReachesTheTargetOnTheNextTick) {
    qmsp_smoother smoother;
    smoother.setTime(0.0f);
    EXPECT_EQ(smoother.getCoefficient(), 0.0f);
    smoother.setTarget(0.75f);
    EXPECT_EQ(smoother.tick(), 0.75f);
}

TEST(Smoother, MoreTimeConstantsMakeTheGlideFaster) {
    qmsp_smoother smoother;
    smoother.setTimeConstants(3);
    smoother.setTarget(1.0f);
    float value = 0.0f;
    for (int i = 0; i < 221; ++i) value = smoother.tick();  // one `time` of 5 ms
    EXPECT_NEAR(value, 1.0 - std::exp(-3.0), 1e-3);
}

// The branch-free choices keep C++'s meaning for every kind of value, NaN included.
TEST(Selects, AgreeWithTheConditionalExpressions) {
    const float values[] = {0.0f, -0.0f, 1e-40f, -1e-40f, 1.0f, -1.0f, 3.4e38f, INFINITY, -INFINITY, NAN};
    for (float a : values) {
        for (float b : values) {
            EXPECT_TRUE(sameFloat(qmsp_selectLess(a, b, 2.0f, 3.0f), a < b ? 2.0f : 3.0f)) << a << " " << b;
            EXPECT_TRUE(sameFloat(qmsp_max(a, b), a > b ? a : b)) << a << " " << b;
            EXPECT_EQ(qmsp_selectLess(double(a), double(b), 2.0, 3.0), a < b ? 2.0 : 3.0) << a << " " << b;
        }
        const bool unfit = a == 0.0f || std::fabs(a) < 1.17549435e-38f || !std::isfinite(a);
        EXPECT_TRUE(sameFloat(qmsp_flushUnfit(a), unfit ? 0.0f : a)) << a;
    }
}

// A glide is settled once a tick changes nothing; then every tick returns value().
TEST(Smoother, SettledMeansEveryFurtherTickIsTheSame) {
    qmsp_smoother s;
    s.setTarget(1.0f);
    EXPECT_FALSE(s.isSettled());
    int ticks = 0;
    while (!s.isSettled() && ticks < 100000) {
        s.tick();
        ++ticks;
    }
    ASSERT_LT(ticks, 100000);
    const float value = s.value();
    for (int i = 0; i < 1000; ++i) EXPECT_TRUE(sameFloat(s.tick(), value));
    s.setTarget(0.25f);
    EXPECT_FALSE(s.isSettled());
}

}  // namespace
