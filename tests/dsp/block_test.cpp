// The one-pole smoother.
#include "qmsp_block.h"
#include "support/float_compare.h"

#include <cmath>
#include <cstring>

namespace {

// The smoother starts at 44100 Hz, and a new rate keeps its time in seconds:
// a 5 ms glide covers 1 - 1/e of a step in 5 ms worth of samples, whatever
// the rate. The value and the target survive the change.
TEST(Smoother, StartsAt44100AndKeepsTheTimeInSecondsAtEveryRate) {
    EXPECT_EQ(qmsp_smoother().getSampleRate(), 44100.0f);
    for (float rate : {0.0f, 22050.0f, 48000.0f, 88200.0f, 96000.0f}) {
        qmsp_smoother smoother;
        smoother.setTarget(1.0f);
        for (int i = 0; i < 10; ++i) smoother.tick();  // a glide under way
        const float before = smoother.value();
        if (rate > 0.0f) smoother.setSampleRate(rate);  // 0: as constructed
        EXPECT_EQ(smoother.value(), before) << rate << " Hz";
        const double samples = 0.005 * smoother.getSampleRate();
        const double mark = 1.0 - std::exp(-1.0);
        // From `before`, 1 - 1/e of the rest takes one time constant.
        const double target = before + (1.0 - before) * mark;
        int ticks = 0;
        while (smoother.tick() < target && ticks < 100000) ++ticks;
        EXPECT_NEAR(ticks + 1, samples, 1.0) << rate << " Hz";
    }
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
    const struct {
        int ticks;
        double value;
    } expected[] = {{1, 0.0045249}, {220, 0.63129}, {221, 0.63295}, {441, 0.86467}, {1000, 0.98927}};
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

TEST(Smoother, ZeroTimeReachesTheTargetOnTheNextTick) {
    qmsp_smoother smoother;
    smoother.setTime(0.0f);
    EXPECT_EQ(smoother.getCoefficient(), 0.0f);
    smoother.setTarget(0.75f);
    EXPECT_EQ(smoother.tick(), 0.75f);
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
