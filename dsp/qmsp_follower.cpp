#include "qmsp_follower.h"

#include <cmath>

static float followerCoefficient(float seconds, float rate) {
    return static_cast<float>(std::exp(-1.0 / (static_cast<double>(seconds) * rate)));
}

qmsp_follower::qmsp_follower() { init(44100.0f); }

void qmsp_follower::init(float rate) {
    attackTime = releaseTime = 0.001f;
    updateCoefficients(rate);
    level = 0.0f;
}

void qmsp_follower::setAttackTime(float seconds, float rate) {
    attackTime = seconds;
    attackCoefficient = followerCoefficient(seconds, rate);
}

void qmsp_follower::setReleaseTime(float seconds, float rate) {
    releaseTime = seconds;
    releaseCoefficient = followerCoefficient(seconds, rate);
}

void qmsp_follower::updateCoefficients(float rate) {
    attackCoefficient = followerCoefficient(attackTime, rate);
    releaseCoefficient = followerCoefficient(releaseTime, rate);
}
