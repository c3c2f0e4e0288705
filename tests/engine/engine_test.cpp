// The engine as every format drives it: the gain-reduction meter, and
// parameter changes from another thread than the audio's.
#include "TolvaneEngine.h"
#include "TolvaneParameterManager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {

struct Effect {
    TolvaneEngine tolvane{""};

    void run(float level, size_t frames) {
        std::vector<float> in(frames, level), out(frames);
        tolvane.processStereo(in.data(), in.data(), out.data(), out.data(), static_cast<int32_t>(frames));
    }
    // Ratio 2, threshold -20 dB, the shortest attack and release: a constant
    // full-scale input is reduced by 10 dB.
    Effect() {
        TolvaneParameterManager curve;
        tolvane.setParameter(0, curve.plainToNormalized(0, 2.0f));
        tolvane.setParameter(1, 0.0f);
        tolvane.setParameter(2, 0.0f);
        tolvane.setParameter(3, 20.0f / 60.0f);
        tolvane.setParameter(5, 1.0f);
    }
};

TEST(EffectMeter, ShowsTheSmoothedGainReduction) {
    Effect effect;
    EXPECT_EQ(effect.tolvane.getMeterValue(), 0.0f) << "before any audio";
    effect.run(0.0f, 5 * 44100);
    EXPECT_LT(effect.tolvane.getMeterValue(), 1e-9f) << "no reduction in silence (the start's has faded)";
    effect.run(1.0f, 5 * 44100);
    EXPECT_NEAR(effect.tolvane.getMeterValue(), 0.5f, 1e-3f) << "10 dB of reduction";

    Effect heavy;
    heavy.tolvane.setParameter(0, 1.0f);  // 1000:1 at -20 dB: about 20 dB
    heavy.tolvane.setParameter(3, 0.5f);  // -30 dB: about 30 dB
    heavy.run(1.0f, 5 * 44100);
    EXPECT_EQ(heavy.tolvane.getMeterValue(), 1.0f) << "20 dB and more fill the meter";
}

TEST(EffectMeter, RisesIn90MsAndFallsIn200Ms) {
    Effect effect;
    effect.run(0.0f, 44100);
    // Rise: after one time constant the meter covers 1 - 1/e of the way to 0.5.
    effect.run(1.0f, static_cast<size_t>(0.09 * 44100));
    EXPECT_NEAR(effect.tolvane.getMeterValue(), 0.5 * (1.0 - std::exp(-1.0)), 0.01);
    effect.run(1.0f, 5 * 44100);
    // Fall: the detector releases in 10 ms, the meter then follows with 0.2 s.
    effect.run(0.0f, static_cast<size_t>(0.2 * 44100));
    EXPECT_NEAR(effect.tolvane.getMeterValue(), 0.5 * std::exp(-1.0), 0.02);
}

TEST(EffectMeter, FallsToZeroWhenActiveIsOff) {
    Effect effect;
    effect.run(1.0f, 44100);
    effect.tolvane.setParameter(5, 0.0f);
    effect.run(1.0f, 5 * 44100);
    EXPECT_LT(effect.tolvane.getMeterValue(), 1e-6f) << "the reduction is weighted by the wet share";
}

}  // namespace

namespace {

// A host's user-interface thread automates every parameter and switches
// programs while its audio thread processes. Run under ThreadSanitizer in CI:
// no report, and getParameter answers each new value at once.
TEST(EffectThreads, ParameterChangesFromAnotherThreadAreSafe) {
    TolvaneEngine tolvane{""};
    std::atomic<bool> done{false};
    std::thread audio([&] {
        std::vector<float> in(128, 0.5f), out(128);
        while (!done.load()) tolvane.processStereo(in.data(), in.data(), out.data(), out.data(), 128);
    });
    float programs[5][6];  // what each program should hold: its preset, then its edits
    for (int p = 0; p < 5; ++p) std::copy_n(tolvaneFactoryPresets[p].values, 6, programs[p]);
    uint32_t state = 3;
    for (int round = 0; round < 20000; ++round) {
        state = state * 1664525u + 1013904223u;
        const int32_t index = static_cast<int32_t>((state >> 24) % 6);
        if (round % 100 == 0) {
            tolvane.setProgram(static_cast<int32_t>(state >> 29) % 5);
            ASSERT_EQ(tolvane.getParameter(index), programs[tolvane.getProgram()][index]);
        } else {
            const float value = static_cast<float>(state >> 8) / 16777216.0f;
            tolvane.setParameter(index, value);
            programs[tolvane.getProgram()][index] = value;
            ASSERT_EQ(tolvane.getParameter(index), value);
        }
    }
    done.store(true);
    audio.join();
}

}  // namespace
