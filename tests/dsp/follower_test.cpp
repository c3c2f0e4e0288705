// The meter's level follower.
#include "qmsp_follower.h"
#include "support/float_compare.h"

#include <cmath>
#include <cstring>

namespace {

TEST(Follower, CoefficientsFollowTimesAndRate) {
    qmsp_follower f;
    f.init(44100.0f);
    EXPECT_EQ(f.level, 0.0f);
    EXPECT_EQ(f.attackCoefficient, static_cast<float>(std::exp(-1.0 / (0.001 * 44100.0))));
    f.set(qmsp_follower::kAttackTime, 0.2f, 44100.0f);
    f.set(qmsp_follower::kReleaseTime, 0.09f, 44100.0f);
    EXPECT_EQ(f.attackCoefficient, static_cast<float>(std::exp(-1.0 / (double(0.2f) * 44100.0))));
    EXPECT_EQ(f.releaseCoefficient, static_cast<float>(std::exp(-1.0 / (double(0.09f) * 44100.0))));
    const qmsp_follower before = f;
    f.set(529, 5.0f, 44100.0f);
    EXPECT_EQ(f.attackTime, before.attackTime) << "other selectors change nothing";
    EXPECT_EQ(f.releaseCoefficient, before.releaseCoefficient);
    f.updateCoefficients(88200.0f);
    EXPECT_EQ(f.releaseCoefficient, static_cast<float>(std::exp(-1.0 / (double(0.09f) * 88200.0))));
}

TEST(Follower, RisesWithAttackFallsWithRelease) {
    qmsp_follower f;
    f.init(1000.0f);
    f.set(qmsp_follower::kAttackTime, 0.1f, 1000.0f);   // 100 samples
    f.set(qmsp_follower::kReleaseTime, 0.01f, 1000.0f);  // 10 samples
    for (int n = 0; n < 100; ++n) f.step(1.0f);
    EXPECT_NEAR(f.level, 1.0 - std::exp(-1.0), 1e-5) << "an input above the level uses the attack time";
    for (int n = 0; n < 10; ++n) f.step(0.0f);
    EXPECT_NEAR(f.level, (1.0 - std::exp(-1.0)) * std::exp(-1.0), 1e-5) << "below it, the release time";
    f.level = 0.5f;
    f.step(0.5f);
    EXPECT_EQ(f.level, 0.5f) << "equal input holds";
}

// The audio path's form, with everything widened beforehand, gives step()'s bits.
TEST(Follower, WidenedStepIsTheSameStep) {
    qmsp_follower f, widened;
    f.init(44100.0f);
    f.set(qmsp_follower::kAttackTime, 0.2f, 44100.0f);
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
