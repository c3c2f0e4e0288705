// The meter's level follower.
#include "qmsp_follower.h"
#include "support/float_compare.h"

#include <cmath>
#include <cstring>

namespace {

// Steps until a step of the input from `from` to `to` has covered 1 - 1/e of the way.
int stepsToCover(qmsp_follower f, float from, float to) {
    f.level = from;
    const double mark = to + (from - to) * std::exp(-1.0);
    int steps = 0;
    while ((to > from ? f.level < mark : f.level > mark) && steps < 1000000) f.step(to), ++steps;
    return steps;
}

// Each time is the time constant of its direction, in seconds at the rate the
// owner passes: rising with the attack time, falling with the release time.
TEST(Follower, EachTimeIsTheTimeConstantOfItsDirection) {
    auto times = [](float attack, float release, float rate) {
        qmsp_follower f;
        f.setAttackTime(attack, rate);
        f.setReleaseTime(release, rate);
        return f;
    };
    auto retuned = [](qmsp_follower f, float rate) {
        f.updateCoefficients(rate);
        return f;
    };
    auto initialised = [](float rate) {
        qmsp_follower f;
        f.init(rate);
        return f;
    };
    const struct {
        const char* what;
        qmsp_follower follower;
        double riseSamples, fallSamples;
    } cases[] = {
        {"as constructed: 1 ms both ways at 44100 Hz", qmsp_follower(), 44.1, 44.1},
        {"init(48000): 1 ms both ways", initialised(48000.0f), 48.0, 48.0},
        {"the meter's times at 44100 Hz", times(0.2f, 0.09f, 44100.0f), 8820.0, 3969.0},
        {"a new rate keeps the times in seconds", retuned(times(0.2f, 0.09f, 44100.0f), 96000.0f), 19200.0, 8640.0},
        {"short times at 1000 Hz", times(0.1f, 0.01f, 1000.0f), 100.0, 10.0},
    };
    // Within a sample and 1%: a coefficient is a float near 1, whose rounding
    // alone moves a long time constant by a few tenths of a percent.
    for (const auto& c : cases) {
        EXPECT_EQ(c.follower.level, 0.0f) << c.what;
        EXPECT_NEAR(stepsToCover(c.follower, 0.0f, 1.0f), c.riseSamples, 1.0 + 0.01 * c.riseSamples)
            << c.what << ", rising";
        EXPECT_NEAR(stepsToCover(c.follower, -20.0f, -30.0f), c.fallSamples, 1.0 + 0.01 * c.fallSamples)
            << c.what << ", falling";
    }
}

TEST(Follower, EqualInputHoldsTheLevel) {
    qmsp_follower f;
    f.level = 0.5f;
    f.step(0.5f);
    EXPECT_EQ(f.level, 0.5f);
}

// The audio path's form, with everything widened beforehand, gives step()'s bits.
TEST(Follower, WidenedStepIsTheSameStep) {
    qmsp_follower f, widened;
    f.setAttackTime(0.2f, 44100.0f);
    widened = f;
    const float inputs[] = {-3.0f, -3.0f, 0.0f, -1e-40f, -60.0f, -0.5f, NAN, -2.0f, -INFINITY, -1.0f};
    for (float in : inputs) {
        f.step(in);
        widened.stepWidened(in, f.attackCoefficient, f.releaseCoefficient);
        EXPECT_TRUE(std::memcmp(&widened.level, &f.level, sizeof f.level) == 0) << in;
        widened.level = f.level;  // after a NaN or an infinity, both start again alike
    }
}

}  // namespace
