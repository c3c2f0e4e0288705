#include "qmsp_follower.h"

#include <cmath>

static float followerCoefficient(float seconds, float rate) {
    return static_cast<float>(std::exp(-1.0 / (static_cast<double>(seconds) * rate)));
}

void qmsp_follower::init(float rate) {
    attackTime = releaseTime = 0.001f;
    updateCoefficients(rate);
    level = 0.0f;
}

void qmsp_follower::set(int32_t selector, float seconds, float rate) {
    if (selector == kAttackTime) {
        attackTime = seconds;
        attackCoefficient = followerCoefficient(seconds, rate);
    } else if (selector == kReleaseTime) {
        releaseTime = seconds;
        releaseCoefficient = followerCoefficient(seconds, rate);
    }
}

void qmsp_follower::updateCoefficients(float rate) {
    attackCoefficient = followerCoefficient(attackTime, rate);
    releaseCoefficient = followerCoefficient(releaseTime, rate);
}
