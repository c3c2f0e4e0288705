// The peak compressor: coefficients, the static curve, stereo linking and the
// detector's behaviour after reset and after long silence.
#include "qmsp_dynamics.h"
#include "qmsp_dynamics_steps.h"
#include "support/float_compare.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

// The detector exactly as written on paper, without the denormal flush of the
// envelope: the flushed block must produce the same bits.
struct ReferenceCompressor {
    float ratio, threshold, attackCoefficient, releaseCoefficient, outputGain, envelope = 1.0f, gainReduction = 0.0f;

    static float coefficient(float seconds, float rate) {
        const float x =
            static_cast<float>(std::exp(static_cast<double>(static_cast<float>(-1.0 / (double(seconds) * rate)))));
        return static_cast<float>(1.0 - x);
    }
    ReferenceCompressor(float ratio_, float thresholdDb, float attackS, float releaseS, float outputDb)
        : ratio(ratio_),
          threshold(thresholdDb),
          attackCoefficient(coefficient(attackS, 44100.0f)),
          releaseCoefficient(coefficient(releaseS, 44100.0f)),
          outputGain(static_cast<float>(std::pow(10.0, double(static_cast<float>(outputDb / 20.0))))) {}

    void processStereo(float left, float right, float* l, float* r) {
        const float peak = std::fabs(left) < std::fabs(right) ? std::fabs(right) : std::fabs(left);
        envelope = static_cast<float>(envelope - double(envelope) * releaseCoefficient);
        if (envelope < peak) envelope = static_cast<float>(envelope + (double(peak) - envelope) * attackCoefficient);
        const float level =
            static_cast<float>(20.0 * static_cast<float>(std::log10(double(std::fmax(envelope, 1e-5f)))));
        gainReduction =
            threshold > level ? 0.0f : static_cast<float>((1.0 / ratio - 1.0) * (double(level) - threshold));
        const float g = static_cast<float>(std::pow(10.0, double(static_cast<float>(gainReduction / 20.0))));
        *l = static_cast<float>(double(g) * left * outputGain);
        *r = static_cast<float>(double(g) * right * outputGain);
    }
};

qmsp_compressor compressorWith(float ratio, float thresholdDb, float attackS, float releaseS, float outputDb = 0.0f) {
    qmsp_compressor c;
    c.setRatio(ratio);
    c.setThreshold(thresholdDb);
    c.setAttack(attackS);
    c.setRelease(releaseS);
    c.setOutputGain(outputDb);
    return c;
}

TEST(Compressor, EnvelopeCoefficientsRoundTheExponentialFirst) {
    qmsp_compressor c;
    EXPECT_TRUE(withinUlps(c.getAttackCoefficient(), 2.2649765e-06f, 1)) << "10 s";
    EXPECT_EQ(c.getReleaseCoefficient(), 0x1p-22f) << "100 s";
    c.setRelease(0.1f);
    EXPECT_TRUE(withinUlps(c.getReleaseCoefficient(), 0.00022673607f, 1)) << "0.1 s";
    c.setRelease(0.3f);
    EXPECT_TRUE(withinUlps(c.getReleaseCoefficient(), 0.000075578690f, 1)) << "0.3 s";
    c.setAttack(0.0f);
    EXPECT_EQ(c.getAttackCoefficient(), 1.0f) << "a zero time jumps";
}

TEST(Compressor, SampleRateKeepsTimesInSeconds) {
    auto c = compressorWith(2.0f, -10.0f, 0.1f, 0.1f);
    const float at44 = c.getAttackCoefficient();
    c.setSampleRate(88200.0f);
    EXPECT_LT(c.getAttackCoefficient(), at44);
    EXPECT_TRUE(withinUlps(c.getAttackCoefficient(), ReferenceCompressor::coefficient(0.1f, 88200.0f), 0));
    c.setSampleRate(44100.0f);
    EXPECT_EQ(c.getAttackCoefficient(), at44);
}

TEST(Compressor, StereoLinkUsesTheLouderChannel) {
    auto c = compressorWith(4.0f, -20.0f, 0.001f, 0.1f);
    float left = 0.0f, right = 0.0f;
    for (int n = 0; n < 44100; ++n) c.processStereo(1.0f, 0.5f, &left, &right);
    EXPECT_TRUE(matchesDigits(c.getEnvelope(), 0.99021, 5));
    EXPECT_TRUE(matchesDigits(c.getGainReduction(), -14.9359, 6));
    EXPECT_TRUE(matchesDigits(left, 0.179145, 6));
    EXPECT_EQ(right, left * 0.5f) << "the right channel gets the left channel's gain";

    // Swapping the channels swaps the outputs: the link does not favour a side.
    auto swapped = compressorWith(4.0f, -20.0f, 0.001f, 0.1f);
    float l2 = 0.0f, r2 = 0.0f;
    for (int n = 0; n < 44100; ++n) swapped.processStereo(0.5f, 1.0f, &l2, &r2);
    EXPECT_EQ(l2, right);
    EXPECT_EQ(r2, left);
}

TEST(Compressor, ResetStartsAsIfAFullScalePeakHadPassed) {
    auto c = compressorWith(4.0f, -20.0f, 0.001f, 0.1f);
    float left, right;
    for (int n = 0; n < 1000; ++n) c.processStereo(1.0f, 0.5f, &left, &right);
    c.reset();
    EXPECT_EQ(c.getEnvelope(), 1.0f);
    c.processStereo(0.0f, 0.0f, &left, &right);
    EXPECT_TRUE(matchesDigits(c.getGainReduction(), -14.9985, 6));
    float previous = c.getGainReduction();
    for (int n = 0; n < 100; ++n) {
        c.processStereo(0.0f, 0.0f, &left, &right);
        ASSERT_GT(c.getGainReduction(), previous) << "the reduction shrinks at the release rate";
        previous = c.getGainReduction();
    }
}

TEST(Compressor, LevelIsFlooredAtMinus100dB) {
    auto c = compressorWith(2.0f, -120.0f, 0.001f, 0.001f);
    float left, right;
    for (int n = 0; n < 44100; ++n) c.processStereo(0.0f, 0.0f, &left, &right);
    EXPECT_LT(c.getEnvelope(), 1e-5f);
    EXPECT_EQ(c.getGainReduction(), -10.0f);
}

TEST(Compressor, StaticCurve) {
    // Ratio 1: never any reduction, even far above the threshold.
    auto unity = compressorWith(1.0f, -60.0f, 0.0f, 0.1f);
    float left, right;
    for (int n = 0; n < 100; ++n) {
        unity.processStereo(0.9f, -0.9f, &left, &right);
        ASSERT_EQ(unity.getGainReduction(), 0.0f);
        ASSERT_EQ(left, 0.9f);
    }

    // With zero attack and release the envelope equals the peak; a level exactly at the
    // threshold is not reduced, a level a hair above it is.
    const float level = static_cast<float>(20.0 * static_cast<float>(std::log10(double(0.1f))));
    auto atThreshold = compressorWith(4.0f, level, 0.0f, 0.0f);
    atThreshold.processStereo(0.1f, 0.1f, &left, &right);
    EXPECT_EQ(atThreshold.getGainReduction(), 0.0f);
    EXPECT_EQ(left, 0.1f);
    atThreshold.setThreshold(std::nextafter(level, -1000.0f));
    atThreshold.processStereo(0.1f, 0.1f, &left, &right);
    EXPECT_LT(atThreshold.getGainReduction(), 0.0f);

    // 12 dB over a -20 dB threshold at 4:1 is reduced by 9 dB.
    auto over = compressorWith(4.0f, -20.0f, 0.0f, 0.0f);
    const float peak = static_cast<float>(std::pow(10.0, -8.0 / 20.0));
    over.processStereo(peak, 0.0f, &left, &right);
    EXPECT_NEAR(over.getGainReduction(), -9.0, 1e-4);
}

TEST(Compressor, BelowThresholdPassesBitForBit) {
    auto c = compressorWith(8.0f, -6.0f, 0.01f, 0.1f);
    c.reset();
    float left, right;
    for (int n = 0; n < 44100; ++n) c.processStereo(0.0f, 0.0f, &left, &right);  // let the envelope fall
    std::mt19937 random(7);
    std::uniform_real_distribution<float> quiet(-0.4f, 0.4f);
    for (int n = 0; n < 10000; ++n) {
        const float l = quiet(random), r = quiet(random);
        c.processStereo(l, r, &left, &right);
        ASSERT_EQ(c.getGainReduction(), 0.0f);
        ASSERT_EQ(left, l);
        ASSERT_EQ(right, r);
        ASSERT_EQ(c.process(l), l);
    }
}

TEST(Compressor, GainReductionReportsTheLatestFrame) {
    auto c = compressorWith(4.0f, -20.0f, 0.001f, 0.1f);
    EXPECT_EQ(c.getGainReduction(), 0.0f) << "before any processing";
    float left, right;
    c.processStereo(0.5f, 0.5f, &left, &right);
    const float afterStereo = c.getGainReduction();
    EXPECT_LT(afterStereo, 0.0f);
    c.process(0.5f);
    EXPECT_NE(c.getGainReduction(), afterStereo);
    const float last = c.getGainReduction();
    c.reset();
    EXPECT_EQ(c.getGainReduction(), last) << "reset keeps the last reduction";
}

TEST(Compressor, MonoMatchesStereoWithTwoEqualChannels) {
    auto mono = compressorWith(3.0f, -18.0f, 0.005f, 0.08f);
    auto stereo = compressorWith(3.0f, -18.0f, 0.005f, 0.08f);
    std::mt19937 random(11);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f);
    for (int n = 0; n < 20000; ++n) {
        const float x = signal(random) * (n % 5000 < 2500 ? 1.0f : 0.05f);
        float left, right;
        stereo.processStereo(x, x, &left, &right);
        ASSERT_EQ(mono.process(x), left) << "frame " << n;
        ASSERT_EQ(mono.getGainReduction(), stereo.getGainReduction());
    }
}

TEST(Compressor, EnvelopeFlushAfterSilenceChangesNoOutputBit) {
    auto c = compressorWith(12.28f, -35.1f, 0.049f, 0.0905f, 14.26f);
    ReferenceCompressor reference(12.28f, -35.1f, 0.049f, 0.0905f, 14.26f);
    std::mt19937 random(3);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f);
    // Bursts at many levels (down to the denormal range) separated by silences long
    // enough for the unflushed envelope to decay into denormal numbers.
    const float levels[] = {1.0f, 1e-3f, 1e-6f, 1e-20f, 1e-38f, 1e-42f, 0.3f};
    bool flushed = false;
    for (float level : levels) {
        for (int n = 0; n < 60 * 44100 / 10; ++n) {
            const bool silent = n >= 4410;
            const float l = silent ? 0.0f : signal(random) * level, r = silent ? 0.0f : signal(random) * level;
            float cl, cr, rl, rr;
            c.processStereo(l, r, &cl, &cr);
            reference.processStereo(l, r, &rl, &rr);
            ASSERT_EQ(cl, rl) << "level " << level << " frame " << n;
            ASSERT_EQ(cr, rr) << "level " << level << " frame " << n;
            ASSERT_EQ(c.getGainReduction(), reference.gainReduction);
            ASSERT_NE(std::fpclassify(c.getEnvelope()), FP_SUBNORMAL) << "level " << level << " frame " << n;
            flushed = flushed || (c.getEnvelope() == 0.0f && reference.envelope != 0.0f);
        }
    }
    EXPECT_TRUE(flushed) << "the test reached the flush";
}

// Wherever the short detector step holds, it moves the envelope as the
// literal step does, for every release time down to the coefficients whose
// 1 - c is only just exact, and for peaks of every size, NaN among them.
TEST(Compressor, TheShortStepIsTheLiteralOneWhereverItHolds) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float releases[] = {0.0001f, 0.01f, 0.1f, 3.0f, 100.0f, 20000.0f};
    const float peaks[] = {0.0f, 1e-38f, 1e-6f, 0.3f, 1.0f, 30.0f, 3.4e38f, NAN};
    int checked = 0;
    for (float release : releases) {
        qmsp_compressor shortSteps = compressorWith(4.0f, -20.0f, 0.001f, release), literal = shortSteps;
        qmsp_compressor::Steps shortStep(shortSteps), literalStep(literal);
        for (int frame = 0; frame < 20000; ++frame) {
            const float peak = frame % 3 == 0 ? peaks[frame / 3 % 8] : unit(random) * unit(random);
            if (!shortStep.shortStepsHold()) {
                shortStep.advanceEnvelopeFromPeak(peak);
            } else {
                const float level = shortStep.advanceEnvelopeShort(peak);
                ++checked;
                ASSERT_EQ(level, literalStep.advanceEnvelopeFromPeak(peak)) << release << " s, frame " << frame;
                ASSERT_EQ(shortSteps.getEnvelope(), literal.getEnvelope()) << release << " s, frame " << frame;
                continue;
            }
            literalStep.advanceEnvelopeFromPeak(peak);
            ASSERT_EQ(shortSteps.getEnvelope(), literal.getEnvelope());
        }
    }
    EXPECT_GT(checked, 60000);
}

// Where releasesOnly() allows a group, the release alone gives the literal steps'
// bits; peaks near the envelope probe its margin.
TEST(Compressor, ReleaseOnlyGroupsAreTheLiteralSteps) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> nearEnvelope(0.98f, 1.0005f);
    const float releases[] = {0.0001f, 0.003f, 0.1f, 3.0f, 20000.0f};
    constexpr int group = qmsp_compressor::Steps::kGroup;
    int checked = 0;
    for (float release : releases) {
        qmsp_compressor fast = compressorWith(4.0f, -20.0f, 0.0005f, release), literal = fast;
        qmsp_compressor::Steps fastStep(fast), literalStep(literal);
        float groupBefore = fast.getEnvelope();
        for (int g = 0; g < 3000; ++g) {
            float peaks[group], largest = 0.0f;
            const float scale = fast.getEnvelope() * (g % 5 == 0 ? 1.5f : 1.0f);  // some groups attack
            for (float& peak : peaks) largest = std::max(largest, peak = scale * nearEnvelope(random));
            const bool releasing = fastStep.shortStepsHold() && fastStep.releasesOnly(largest, groupBefore);
            groupBefore = fast.getEnvelope();
            for (float peak : peaks) {
                const float expected = literalStep.advanceEnvelopeFromPeak(peak);
                ASSERT_EQ(releasing ? fastStep.advanceEnvelopeReleasing() : fastStep.advanceEnvelopeFromPeak(peak),
                          expected)
                    << release << " s, group " << g;
                ASSERT_EQ(fast.getEnvelope(), literal.getEnvelope());
            }
            checked += releasing;
        }
    }
    EXPECT_GT(checked, 1500);
}

}  // namespace
