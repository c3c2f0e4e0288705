// The engine as every format drives it: a block with its events, the
// gain-reduction meter, and parameter changes from another thread than the audio's.
#include "TolvaneEngine.h"
#include "qm_controllerAssignments.h"
#include "support/float_compare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <atomic>
#include <string>
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
        tolvane.setParameter(0, tolvane::plainToNormalized(0, 2.0f));
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

namespace {

using Event = TolvaneEngine::Event;

// run() with events against the same changes made by hand between parts of
// the block: each event applies at its own frame, out-of-order and late
// events where the block has got to, and a program change only where enabled.
TEST(EngineBlock, EventsApplyAtTheirFrames) {
    constexpr uint32_t kFrames = 300;
    const uint8_t cc7[3] = {0xB3, 7, 100}, program2[2] = {0xC0, 2}, sysex[4] = {0xF0, 1, 2, 0xF7};
    struct Case {
        const char* what;
        std::vector<Event> events;
        bool midiPrograms;
        // The same by hand: (frame, change) in order.
        std::vector<std::pair<uint32_t, void (*)(TolvaneEngine&)>> byHand;
    };
    auto ratio = [](TolvaneEngine& e) { e.setParameter(0, 0.9f); };
    auto attackPlain = [](TolvaneEngine& e) { e.setParameterPlain(1, 0.5f); };
    auto toProgram3 = [](TolvaneEngine& e) { e.setProgram(3); };
    auto toProgram2 = [](TolvaneEngine& e) { e.setProgram(2); };
    auto boundController = [](TolvaneEngine& e) { e.setParameter(4, 100 * 0.007874016f); };
    const Case cases[] = {
        {"parameter at 17, plain at 120",
         {Event::parameter(17, 0, 0.9f), Event::plainParameter(120, 1, 0.5f)},
         false,
         {{17, ratio}, {120, attackPlain}}},
        {"program at 64", {Event::program(64, 3)}, false, {{64, toProgram3}}},
        {"out of order: at 200, then at 50",
         {Event::program(200, 3), Event::parameter(50, 0, 0.9f)},
         false,
         {{200, toProgram3}, {200, ratio}}},
        {"past the end", {Event::parameter(5000, 0, 0.9f)}, false, {{kFrames, ratio}}},
        {"controller 7 bound to make-up", {Event::midi(99, cc7, 3)}, false, {{99, boundController}}},
        {"program change ignored", {Event::midi(10, program2, 2), Event::midi(11, sysex, 4)}, false, {}},
        {"program change enabled", {Event::midi(10, program2, 2)}, true, {{10, toProgram2}}},
    };
    std::vector<float> left(kFrames), right(kFrames);
    for (uint32_t n = 0; n < kFrames; ++n) {
        left[n] = 0.9f * std::sin(0.05f * static_cast<float>(n));
        right[n] = 0.6f * std::cos(0.03f * static_cast<float>(n));
    }
    for (const Case& c : cases) {
        for (bool mono : {false, true}) {
            TolvaneEngine withEvents{""}, byHand{""};
            withEvents.setMidiProgramChanges(c.midiPrograms);
            for (TolvaneEngine* e : {&withEvents, &byHand}) e->getControllerAssignments().bind(7, 4);
            std::vector<float> outL(kFrames), outR(kFrames), refL(kFrames), refR(kFrames);
            withEvents.run({mono, left.data(), right.data(), outL.data(), outR.data()}, kFrames, c.events.data(),
                           c.events.size());
            uint32_t done = 0;
            auto processTo = [&](uint32_t frame) {
                if (frame <= done) return;
                byHand.run({mono, left.data() + done, right.data() + done, refL.data() + done, refR.data() + done},
                           frame - done, nullptr, 0);
                done = frame;
            };
            for (const auto& [frame, change] : c.byHand) {
                processTo(frame);
                change(byHand);
            }
            processTo(kFrames);
            for (uint32_t n = 0; n < kFrames; ++n) {
                ASSERT_TRUE(sameFloat(outL[n], refL[n])) << c.what << (mono ? ", mono" : "") << ", frame " << n;
                if (!mono) {
                    ASSERT_TRUE(sameFloat(outR[n], refR[n])) << c.what << ", right, frame " << n;
                }
            }
            for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(withEvents.getParameter(i), byHand.getParameter(i)) << c.what;
            EXPECT_EQ(withEvents.getProgram(), byHand.getProgram()) << c.what;
        }
    }
}

}  // namespace

namespace {

// Typing back what the display shows lands on a value that shows the same
// text, for every parameter across its range; units and stray text around the
// number are allowed, no number at all is refused.
TEST(EngineText, DisplayTextsReadBackToTheSameText) {
    TolvaneEngine engine{"", TolvaneEngine::Form::kSideChain};
    for (int32_t index = 0; index < 7; ++index) {
        for (float value : {0.0f, 0.013f, 0.25f, 0.5f, 0.77f, 0.999f, 1.0f}) {
            char shown[16] = {}, again[16] = {};
            engine.setParameter(index, value);
            engine.getParameterDisplay(index, shown, 8);
            float typed = -1.0f;
            ASSERT_TRUE(engine.normalizedFromText(index, shown, typed)) << index << " '" << shown << "'";
            engine.setParameter(index, typed);
            engine.getParameterDisplay(index, again, 8);
            EXPECT_STREQ(again, shown) << "parameter " << index << " at " << value;
        }
    }
    float n = -1.0f;
    EXPECT_TRUE(engine.normalizedFromText(tolvane::kSensitivity, " -30 dB", n));
    EXPECT_EQ(n, 0.5f);
    EXPECT_TRUE(engine.normalizedFromText(tolvane::kActive, "250%", n));
    EXPECT_EQ(n, 1.0f) << "limited to the range";
    for (const char* text : {"", "dB", "loud", "nan"}) EXPECT_FALSE(engine.normalizedFromText(0, text, n)) << text;
    // Key: its words, begun or whole, in any case, or a number.
    for (const auto& [text, key] : {std::pair{"ext", 1.0f}, {" Internal ", 0.0f}, {"E", 1.0f}, {"1", 1.0f}}) {
        EXPECT_TRUE(engine.normalizedFromText(tolvane::kKey, text, n)) << text;
        EXPECT_EQ(n, key) << text;
    }
    for (const char* text : {"", "extra", "key"}) EXPECT_FALSE(engine.normalizedFromText(6, text, n)) << text;
    EXPECT_FALSE(TolvaneEngine{""}.normalizedFromText(6, "1", n)) << "no Key in the main form";
}

}  // namespace

namespace {

// A side-chain engine with Key at External; the key as given.
struct Keyed {
    TolvaneEngine engine{"", TolvaneEngine::Form::kSideChain};
    Keyed() { engine.setParameter(tolvane::kKey, 1.0f); }
};

// Runs `engine` over the signal in blocks, with a key or none.
std::vector<float> runBlocks(TolvaneEngine& engine, bool mono, const std::vector<float>& left,
                             const std::vector<float>& right, uint32_t block, const float* keyLeft = nullptr,
                             const float* keyRight = nullptr) {
    std::vector<float> outL(left.size()), outR(left.size());
    for (uint32_t start = 0; start < left.size(); start += block) {
        const uint32_t n = std::min<uint32_t>(block, static_cast<uint32_t>(left.size()) - start);
        TolvaneEngine::Audio audio{mono, left.data() + start, right.data() + start, outL.data() + start,
                                   outR.data() + start};
        if (keyLeft) {
            audio.keyLeft = keyLeft + start;
            audio.keyRight = keyRight ? keyRight + start : nullptr;
        }
        engine.run(audio, n, nullptr, 0);
    }
    if (!mono) outL.insert(outL.end(), outR.begin(), outR.end());
    return outL;
}

// Only the side-chain form has the Key, and every program starts it at Internal.
TEST(EngineKey, ExistsOnlyInTheSideChainFormAndStartsInternal) {
    TolvaneEngine main{""}, keyed{"", TolvaneEngine::Form::kSideChain};
    EXPECT_EQ(main.parameterCount(), 6);
    EXPECT_EQ(keyed.parameterCount(), 7);
    main.setParameter(tolvane::kKey, 1.0f);
    EXPECT_EQ(main.getParameter(tolvane::kKey), 0.0f) << "no such parameter";
    char text[16] = {};
    for (int32_t p = 0; p < TolvaneEngine::kProgramCount; ++p) {
        keyed.setProgram(p);
        keyed.getParameterDisplay(tolvane::kKey, text, sizeof text);
        EXPECT_STREQ(text, "Internal") << "program " << p;
    }
}

// The key's oracle: a key equal to the input gives, with Key External, the
// output of the main form, as does a different key with Key Internal; in
// every program, mono and stereo, whatever the blocks.
TEST(EngineKey, AKeyEqualToTheInputGivesTheInternalOutput) {
    constexpr size_t kFrames = 20000;
    std::vector<float> left(kFrames), right(kFrames), other(kFrames);
    for (size_t n = 0; n < kFrames; ++n) {
        const float t = static_cast<float>(n);
        const float swell = (n / 2500) % 2 ? 0.9f : 0.05f;
        left[n] = swell * std::sin(0.031f * t) + 0.1f * std::sin(0.29f * t);
        right[n] = 0.7f * swell * std::cos(0.017f * t);
        other[n] = (n / 900) % 2 ? 0.8f * std::sin(0.2f * t) : 0.0f;
    }
    for (int32_t program = 0; program < TolvaneEngine::kProgramCount; ++program)
        for (bool mono : {false, true})
            for (uint32_t block : {1u, 64u, 1000u}) {
                TolvaneEngine main{""};
                Keyed self, internal;
                internal.engine.setParameter(tolvane::kKey, 0.0f);
                for (TolvaneEngine* e : {&main, &self.engine, &internal.engine}) e->setProgram(program);
                self.engine.setParameter(tolvane::kKey, 1.0f);
                const std::vector<float> expected = runBlocks(main, mono, left, right, block);
                const std::string what = "program " + std::to_string(program) + (mono ? ", mono" : ", stereo") +
                                         ", block " + std::to_string(block);
                EXPECT_TRUE(expected == runBlocks(self.engine, mono, left, right, block, left.data(),
                                                  mono ? nullptr : right.data()))
                    << what << ", key = input";
                EXPECT_TRUE(expected == runBlocks(internal.engine, mono, left, right, block, other.data()))
                    << what << ", Key Internal";
            }
}

// Ducking: steady music under a spoken key, ratio 4:1 at -30 dB with the
// fastest attack and the slowest release. While a word holds, the music's
// reduction is the static curve's at the word's peak level, (1/4 - 1)(L + 30)
// dB; after a second of silence on the key it is gone (the key's level has
// fallen below the threshold), whatever the music's own level. Mono and
// stereo keys alike.
TEST(EngineKey, ReductionFollowsTheKeyOnTheStaticCurve) {
    constexpr float kRate = 44100.0f;
    constexpr size_t kWord = 22050, kPause = 44100;
    struct Word {
        float peakDb;
        double reductionDb;  // expected at the word's end
    };
    const Word words[] = {{-6.0f, -18.0}, {-12.0f, -13.5}, {-20.0f, -7.5}, {-36.0f, 0.0}};
    std::vector<float> music, keyL, keyR;
    for (const Word& w : words) {
        const float amplitude = std::pow(10.0f, w.peakDb / 20.0f);
        for (size_t n = 0; n < kWord + kPause; ++n) {
            const float t = static_cast<float>(music.size());
            music.push_back(0.3f * std::sin(2.0f * 3.14159265f * 110.0f * t / kRate) +
                            0.2f * std::sin(2.0f * 3.14159265f * 165.0f * t / kRate));
            // A voiced tone whose louder channel alternates: the link takes its peak.
            const float voice = n < kWord ? amplitude * std::sin(2.0f * 3.14159265f * 180.0f * t / kRate) : 0.0f;
            keyL.push_back(voice);
            keyR.push_back(0.5f * voice);
        }
    }
    auto reductionAt = [&](const std::vector<float>& out, size_t end) {  // over the 50 ms before `end`
        double in2 = 0.0, out2 = 0.0;
        for (size_t n = end - 2205; n < end; ++n) {
            in2 += double(music[n]) * music[n];
            out2 += double(out[n]) * out[n];
        }
        return 10.0 * std::log10(out2 / in2);
    };
    for (bool stereoKey : {false, true}) {
        Keyed ducker;
        TolvaneEngine& e = ducker.engine;
        e.setParameterPlain(tolvane::kRatio, 4.0f);
        e.setParameter(tolvane::kAttack, 0.0f);
        e.setParameter(tolvane::kRelease, 1.0f);
        e.setParameterPlain(tolvane::kSensitivity, -30.0f);
        e.setParameter(tolvane::kMakeUpGain, 0.0f);
        e.setParameter(tolvane::kActive, 1.0f);
        const std::vector<float> out = runBlocks(e, true, music, music, 512, stereoKey ? keyR.data() : keyL.data(),
                                                 stereoKey ? keyL.data() : nullptr);
        for (size_t i = 0; i < std::size(words); ++i) {
            const size_t start = i * (kWord + kPause);
            EXPECT_NEAR(reductionAt(out, start + kWord), words[i].reductionDb, 0.3)
                << "word at " << words[i].peakDb << " dB" << (stereoKey ? ", stereo key" : "");
            EXPECT_NEAR(reductionAt(out, start + kWord + kPause), 0.0, 0.05) << "after the word, released";
        }
    }
}

}  // namespace
