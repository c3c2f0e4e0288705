// Tolvane.clap in a host of ours: what the factory describes, the sound
// against `tolvane render`, parameter and MIDI events at their frames against
// the engine, state, the factory presets, and CLAP's thread rules.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ClapState.h"
#include "TolvaneClap.h"
#include "TolvaneEngine.h"
#include "TolvanePrograms.h"
#include "clap_host.h"
#include "support/settings_test.h"

#if defined(_WIN32)
#include "PluginHost.h"
#else
#include "support/cli_render.h"
#endif

namespace {

using tolvane_clap::kMonoId;
using tolvane_clap::kStereoId;

ClapLibrary& library() {
    static ClapLibrary file(TOLVANE_CLAP_PATH);
    return file;
}

// What the VST 2.4 plug-in makes of the signal with a program, in blocks, as `tolvane render` runs it.
#if defined(_WIN32)
// The command is Linux's; here the same host layer runs the DLL in this process.
Signal renderReference(const TempFolder&, const Signal& in, int32_t program, size_t block) {
    PluginLibrary dll(TOLVANE_PLUGIN_PATH);
    auto vst = dll.createInstance();
    if (!vst) return {};
    vst->connectedInputs = vst->connectedOutputs = in.channels;
    vst->dispatch(effOpen);
    vst->dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    vst->dispatch(effSetBlockSize, 0, static_cast<VstIntPtr>(block));
    vst->dispatch(effSetProgram, 0, program);
    vst->dispatch(effMainsChanged, 0, 1);
    const size_t c = static_cast<size_t>(in.channels);
    Signal out{in.channels, std::vector<float>(in.samples.size())};
    std::vector<float> l(block), r(block), ol(block), orr(block);
    for (size_t start = 0; start < in.frames(); start += block) {
        const size_t n = std::min(block, in.frames() - start);
        for (size_t k = 0; k < n; ++k) l[k] = in.samples[(start + k) * c], r[k] = in.samples[(start + k) * c + c - 1];
        float* ins[2] = {l.data(), r.data()};
        float* outs[2] = {ol.data(), orr.data()};
        vst->process(ins, outs, static_cast<VstInt32>(n));
        for (size_t k = 0; k < n; ++k) {
            out.samples[(start + k) * c] = ol[k];
            if (c == 2) out.samples[(start + k) * 2 + 1] = orr[k];
        }
    }
    return out;
}
#else
// `tolvane render`, with `--key` when a key is given.
Signal renderReference(const TempFolder& folder, const Signal& in, int32_t program, size_t block,
                       const Signal* key = nullptr) {
    return renderWithCli(folder, in, "--program " + std::to_string(program) + " --block " + std::to_string(block), key);
}
#endif

// The engine run over the same signal in the same blocks, with `events(start)` at each block.
Signal renderEngine(TolvaneEngine& engine, const Signal& in, size_t block,
                    const std::function<std::vector<TolvaneEngine::Event>(size_t)>& events) {
    Signal out{in.channels, std::vector<float>(in.samples.size())};
    const size_t c = static_cast<size_t>(in.channels);
    std::vector<float> l(block), r(block), ol(block), orr(block);
    for (size_t start = 0; start < in.frames(); start += block) {
        const size_t n = std::min(block, in.frames() - start);
        for (size_t k = 0; k < n; ++k) l[k] = in.samples[(start + k) * c], r[k] = in.samples[(start + k) * c + c - 1];
        const std::vector<TolvaneEngine::Event> list = events(start);
        engine.run({c == 1, l.data(), r.data(), ol.data(), orr.data()}, static_cast<uint32_t>(n), list.data(),
                   list.size());
        for (size_t k = 0; k < n; ++k) {
            out.samples[(start + k) * c] = ol[k];
            if (c == 2) out.samples[(start + k) * 2 + 1] = orr[k];
        }
    }
    return out;
}

using ClapPlugin = SettingsTest;

// --- what the host sees ---------------------------------------------------------------

TEST_F(ClapPlugin, DescribesTwoPluginsWithTheirPortsAndParameters) {
    const auto* factory = library().factory<clap::PluginFactory>(clap::kPluginFactoryId);
    ASSERT_NE(factory, nullptr);
    ASSERT_EQ(factory->getPluginCount(factory), 2u);
    const struct {
        const char *id, *name, *layout;
        uint32_t channels;
    } expected[] = {{kStereoId, "Tolvane", "stereo", 2}, {kMonoId, "Tolvane Mono", "mono", 1}};
    TolvaneEngine engine("");
    for (uint32_t k = 0; k < 2; ++k) {
        const auto& e = expected[k];
        const clap::PluginDescriptor* d = factory->getPluginDescriptor(factory, k);
        ASSERT_NE(d, nullptr);
        EXPECT_STREQ(d->id, e.id);
        EXPECT_STREQ(d->name, e.name);
        EXPECT_STREQ(d->vendor, "Quenmark, Inc.");
        EXPECT_STREQ(d->version, TOLVANE_VERSION);
        std::vector<std::string> features;
        for (const char* const* f = d->features; *f; ++f) features.emplace_back(*f);
        EXPECT_EQ(features, (std::vector<std::string>{"audio-effect", "compressor", e.layout}));

        ClapInstance plugin(library(), e.id);
        ASSERT_TRUE(plugin);
        const auto* audio = plugin.ext<clap::PluginAudioPorts>(clap::kExtAudioPorts);
        for (bool input : {true, false}) {
            const uint32_t ports = input ? 2 : 1;  // an input's second port is the side-chain's
            ASSERT_EQ(audio->count(plugin.plugin, input), ports);
            for (uint32_t i = 0; i < ports; ++i) {
                clap::AudioPortInfo info{};
                ASSERT_TRUE(audio->get(plugin.plugin, i, input, &info));
                EXPECT_EQ(info.id, i);
                EXPECT_STREQ(info.name, i ? "Side-chain" : input ? "Input" : "Output");
                EXPECT_EQ(info.channelCount, e.channels);
                EXPECT_STREQ(info.portType, e.layout);
                EXPECT_EQ(info.flags, i ? 0u : uint32_t{clap::kAudioPortIsMain});
            }
            clap::AudioPortInfo none{};
            EXPECT_FALSE(audio->get(plugin.plugin, ports, input, &none));
        }
        const auto* notes = plugin.ext<clap::PluginNotePorts>(clap::kExtNotePorts);
        EXPECT_EQ(notes->count(plugin.plugin, false), 0u);
        ASSERT_EQ(notes->count(plugin.plugin, true), 1u);
        clap::NotePortInfo note{};
        ASSERT_TRUE(notes->get(plugin.plugin, 0, true, &note));
        EXPECT_EQ(note.supportedDialects, clap::kNoteDialectMidi);
        EXPECT_EQ(plugin.ext<clap::PluginLatency>(clap::kExtLatency)->get(plugin.plugin), 0u);

        const auto* params = plugin.ext<clap::PluginParams>(clap::kExtParams);
        ASSERT_EQ(params->count(plugin.plugin), 7u);
        for (uint32_t i = 0; i < 7; ++i) {
            clap::ParamInfo info{};
            ASSERT_TRUE(params->getInfo(plugin.plugin, i, &info));
            char name[64] = {};
            engine.getParameterName(static_cast<int32_t>(i), name, 63);
            EXPECT_EQ(info.id, i);
            EXPECT_STREQ(info.name, name);
            EXPECT_EQ(info.flags, clap::kParamIsAutomatable | (i == 6 ? uint32_t{clap::kParamIsStepped} : 0u)) << "Key";
            EXPECT_EQ(info.minValue, 0.0);
            EXPECT_EQ(info.maxValue, 1.0);
            EXPECT_EQ(info.defaultValue, double(tolvaneFactoryValue(0, static_cast<int32_t>(i)))) << "program 0";
            EXPECT_EQ(plugin.value(i), info.defaultValue) << "a fresh instance";
        }
        clap::ParamInfo none{};
        EXPECT_FALSE(params->getInfo(plugin.plugin, 7, &none));
        EXPECT_EQ(plugin.ext<void>("clap.no-such-extension"), nullptr);
    }
    EXPECT_EQ(factory->createPlugin(factory, ClapTestHost().get(), "com.quenmark.other"), nullptr);
}

TEST_F(ClapPlugin, ParameterTextsAreTheVstPluginsAndParseBack) {
    ClapInstance plugin(library(), kStereoId);
    const auto* params = plugin.ext<clap::PluginParams>(clap::kExtParams);
    TolvaneEngine engine("", TolvaneEngine::Form::kSideChain);
    for (uint32_t i = 0; i < 7; ++i) {
        for (double v : {0.0, 0.13, 0.5, 0.585, 0.999, 1.0}) {
            engine.setParameter(static_cast<int32_t>(i), static_cast<float>(v));
            char display[16] = {}, label[9] = {}, text[64] = {};
            engine.getParameterDisplay(static_cast<int32_t>(i), display, i == 6 ? 15 : 8);  // Key's words whole
            engine.getParameterLabel(static_cast<int32_t>(i), label, 8);
            std::string shown = std::string(display) + (label[0] > ' ' ? std::string(" ") + label : "");
            shown.erase(0, shown.find_first_not_of(' '));
            ASSERT_TRUE(params->valueToText(plugin.plugin, i, v, text, sizeof text));
            EXPECT_EQ(text, shown) << i << " at " << v;
            double back = -1.0;
            float expected = -2.0f;
            ASSERT_TRUE(params->textToValue(plugin.plugin, i, text, &back)) << text;
            ASSERT_TRUE(engine.normalizedFromText(static_cast<int32_t>(i), text, expected));
            EXPECT_EQ(back, double(expected)) << text;
        }
    }
    char text[64];
    EXPECT_TRUE(params->valueToText(plugin.plugin, 3, 0.585, text, sizeof text));
    EXPECT_STREQ(text, "-35 dB");
    char small[4] = {'#', '#', '#', '#'};
    EXPECT_TRUE(params->valueToText(plugin.plugin, 3, 0.585, small, sizeof small));
    EXPECT_STREQ(small, "-35") << "cut to the buffer, terminated";
    double value = 0.0;
    EXPECT_FALSE(params->valueToText(plugin.plugin, 7, 0.5, text, sizeof text));
    EXPECT_FALSE(params->valueToText(plugin.plugin, 0, NAN, text, sizeof text));
    EXPECT_FALSE(params->textToValue(plugin.plugin, 0, "loud", &value));
    EXPECT_FALSE(params->textToValue(plugin.plugin, 7, "1", &value));
}

// --- the sound --------------------------------------------------------------------------

TEST_F(ClapPlugin, EveryProgramSoundsAsTolvaneRenderInEveryBlockSize) {
    for (int channels : {2, 1}) {
        const Signal in = testSignal(channels, 22050);
        for (int32_t program = 0; program < kTolvaneProgramCount; ++program) {
            for (size_t block : {1, 64, 4096}) {
                const Signal expected = renderReference(folder, in, program, block);
                ASSERT_EQ(expected.frames(), in.frames());
                ClapInstance plugin(library(), channels == 2 ? kStereoId : kMonoId);
                ASSERT_TRUE(plugin.loadPreset(std::to_string(program).c_str()));
                ASSERT_TRUE(plugin.activate());
                EXPECT_TRUE(renderClap(plugin, in, block) == expected)
                    << "program " << program << ", " << channels << " channels, blocks of " << block;
            }
        }
    }
}

// The side-chain port: with Key at External a key equal to the input sounds
// as no key at all, and a key of its own is what the detector hears, as in
// `tolvane render --key`; at Internal the key is ignored. One key channel
// feeds both sides of the detector, and a port without buffers means no key.
TEST_F(ClapPlugin, TheSideChainKeyDrivesTheDetectorAtExternal) {
    for (int channels : {2, 1}) {
        const Signal in = testSignal(channels, 22050);
        Signal other = testSignal(channels, 22050);
        std::rotate(other.samples.begin(), other.samples.begin() + 4410 * channels, other.samples.end());
        Signal oneChannel{1, std::vector<float>(other.frames())}, doubled{2, {}};
        for (size_t n = 0; n < other.frames(); ++n) {
            oneChannel.samples[n] = other.samples[n * static_cast<size_t>(channels)];
            doubled.samples.insert(doubled.samples.end(), 2, oneChannel.samples[n]);
        }
        for (int32_t program = 0; program < kTolvaneProgramCount; ++program) {
            const Signal expected = renderReference(folder, in, program, 512);
            auto render = [&](double key, const Signal* keySignal) {
                ClapInstance plugin(library(), channels == 2 ? kStereoId : kMonoId);
                EXPECT_TRUE(plugin.loadPreset(std::to_string(program).c_str()));
                EXPECT_TRUE(plugin.activate());
                return renderClap(
                    plugin, in, 512,
                    [&](size_t start, ClapEventLists& lists) {
                        if (start == 0) lists.in.push_back(ClapEvent::value(0, 6, key));
                    },
                    nullptr, keySignal);
            };
            const std::string at = "program " + std::to_string(program) + ", " + std::to_string(channels) + " channels";
            EXPECT_TRUE(render(1.0, &in) == expected) << at << ": key = input";
            EXPECT_TRUE(render(1.0, nullptr) == expected) << at << ": no key buffers";
            EXPECT_TRUE(render(0.0, &other) == expected) << at << ": Internal";
            const Signal keyed = render(1.0, &other);
            EXPECT_FALSE(keyed == expected) << at << ": a key of its own";
#if !defined(_WIN32)
            EXPECT_TRUE(keyed == renderReference(folder, in, program, 512, &other)) << at << ": as render --key";
#endif
            if (channels == 2) {
                EXPECT_TRUE(render(1.0, &oneChannel) == render(1.0, &doubled)) << at << ": mono key";
            }
        }
    }
}

// Values at their frames, as the engine applies them: across blocks, several
// at one frame, out of range (limited), no number or no parameter (ignored).
TEST_F(ClapPlugin, ParameterEventsApplyAtTheirFrames) {
    const Signal in = testSignal(2, 12288);
    struct Change {
        size_t frame;
        uint32_t id;
        double value;
    };
    const std::vector<Change> changes = {{0, 0, 0.9},     {700, 3, 0.2},   {700, 1, 0.05}, {2047, 5, 0.4},
                                         {2048, 5, 1.7},  {5000, 4, NAN},  {5001, 9, 0.5}, {9999, 2, -3.0},
                                         {11000, 0, 0.1}, {12287, 3, 0.95}};
    auto inBlock = [&](size_t start, size_t block, auto each) {
        for (const Change& c : changes)
            if (c.frame >= start && c.frame < start + block) each(c, static_cast<uint32_t>(c.frame - start));
    };
    for (size_t block : {512, 4096}) {
        TolvaneEngine engine("");
        const Signal expected = renderEngine(engine, in, block, [&](size_t start) {
            std::vector<TolvaneEngine::Event> events;
            inBlock(start, block, [&](const Change& c, uint32_t at) {
                if (c.id < 6 && std::isfinite(c.value))
                    events.push_back(TolvaneEngine::Event::parameter(
                        at, static_cast<int32_t>(c.id), static_cast<float>(std::clamp(c.value, 0.0, 1.0))));
            });
            return events;
        });
        ClapInstance plugin(library(), kStereoId);
        ASSERT_TRUE(plugin.activate());
        std::vector<ClapEvent> told;
        const Signal out = renderClap(
            plugin, in, block,
            [&](size_t start, ClapEventLists& lists) {
                inBlock(start, block,
                        [&](const Change& c, uint32_t at) { lists.in.push_back(ClapEvent::value(at, c.id, c.value)); });
            },
            &told);
        EXPECT_TRUE(out == expected) << "blocks of " << block;
        EXPECT_TRUE(told.empty()) << "the host's own changes are not told back";
        for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(plugin.value(i), double(engine.getParameter(int32_t(i))));
    }
}

// Without processing, flush applies the host's values at once, and what the
// instance then plays is what it would have played with them set beforehand.
TEST_F(ClapPlugin, FlushAppliesValuesWhileNotProcessing) {
    ClapInstance plugin(library(), kMonoId);
    ClapEventLists lists;
    lists.in = {ClapEvent::value(0, 0, 0.8), ClapEvent::value(0, 4, 0.3)};
    plugin.flush(lists);
    EXPECT_EQ(plugin.value(0), double(0.8f));
    EXPECT_EQ(plugin.value(4), double(0.3f));
    EXPECT_TRUE(lists.out.empty());

    TolvaneEngine engine("");
    engine.setParameter(0, 0.8f);
    engine.setParameter(4, 0.3f);
    const Signal in = testSignal(1, 4096);
    const Signal expected = renderEngine(engine, in, 1024, [](size_t) { return std::vector<TolvaneEngine::Event>{}; });
    ASSERT_TRUE(plugin.activate());
    EXPECT_TRUE(renderClap(plugin, in, 1024) == expected);
    // Active but between blocks: the flush comes on the audio thread.
    lists.in = {ClapEvent::value(0, 2, 0.6)};
    plugin.flush(lists);
    EXPECT_EQ(plugin.value(2), double(0.6f));
    EXPECT_TRUE(plugin.host.wrongThread.empty());
}

// Control changes through the bindings file, at their frames inside blocks,
// as the engine hears them; each value they set goes to the host marked not to
// be recorded.
TEST_F(ClapPlugin, ControllerMessagesDriveBoundParametersAtTheirFrames) {
    const std::string bindings = settings + "/Tolvane MIDI Assignments.txt";
    writeText(bindings, "0 20\n5 21\n3 20\n");
    const Signal in = testSignal(2, 12288);
    struct Cc {
        size_t frame;
        uint8_t status, controller, value;
    };
    const std::vector<Cc> ccs = {
        {100, 0xB0, 20, 64}, {3000, 0xB5, 21, 0}, {4100, 0xB0, 21, 127}, {4100, 0x90, 60, 100}, {9000, 0xB0, 20, 5}};
    auto inBlock = [&](size_t start, auto each) {
        for (const Cc& c : ccs)
            if (c.frame >= start && c.frame < start + 4096) each(c, static_cast<uint32_t>(c.frame - start));
    };
    TolvaneEngine engine(bindings);
    const Signal expected = renderEngine(engine, in, 4096, [&](size_t start) {
        std::vector<TolvaneEngine::Event> events;
        inBlock(start, [&](const Cc& c, uint32_t at) {
            const uint8_t bytes[3] = {c.status, c.controller, c.value};
            events.push_back(TolvaneEngine::Event::midi(at, bytes, 3));
        });
        return events;
    });
    ClapInstance plugin(library(), kStereoId);
    ASSERT_TRUE(plugin.activate());
    std::vector<ClapEvent> told;
    const Signal out = renderClap(
        plugin, in, 4096,
        [&](size_t start, ClapEventLists& lists) {
            inBlock(start, [&](const Cc& c, uint32_t at) {
                lists.in.push_back(ClapEvent::midiMessage(at, c.status, c.controller, c.value));
            });
        },
        &told);
    EXPECT_TRUE(out == expected);
    const double half = static_cast<float>(64 * double(0.007874016f)),
                 low = static_cast<float>(5 * double(0.007874016f));
    using Told = std::tuple<uint16_t, uint32_t, uint32_t, double, uint32_t>;
    std::vector<Told> values;
    for (const ClapEvent& e : told) values.push_back(e.told());
    const uint16_t v = clap::kEventParamValue;
    const uint32_t dontRecord = clap::kEventDontRecord;
    EXPECT_EQ(values, (std::vector<Told>{{v, 100, 0, half, dontRecord},
                                         {v, 100, 3, half, dontRecord},
                                         {v, 3000, 5, 0.0, dontRecord},
                                         {v, 4100, 5, 1.0, dontRecord},
                                         {v, 9000, 0, low, dontRecord},
                                         {v, 9000, 3, low, dontRecord}}));
    EXPECT_EQ(plugin.host.callbackRequests, 0) << "nothing to write";
}

// --- state ------------------------------------------------------------------------------------

TEST_F(ClapPlugin, StateRoundTripsProgramValuesAndNames) {
    std::vector<uint8_t> saved;
    {
        ClapInstance a(library(), kStereoId);
        ASSERT_TRUE(a.loadPreset("3"));
        ClapEventLists lists;
        lists.in = {ClapEvent::value(0, 1, 0.25), ClapEvent::value(0, 5, 0.5), ClapEvent::value(0, 6, 1.0)};
        a.flush(lists);
        ASSERT_TRUE(a.save(saved, 7)) << "in writes of 7 bytes";
    }
    ASSERT_EQ(saved.size(), tolvane_clap::kStateSize);
    const std::optional<tolvane_clap::State> state = tolvane_clap::readState(saved.data(), saved.size());
    ASSERT_TRUE(state);
    EXPECT_EQ(state->program, 3);
    EXPECT_EQ(state->values[1], 0.25f);
    EXPECT_EQ(state->values[6], 1.0f) << "Key at External";
    EXPECT_EQ(state->values[0], tolvaneFactoryPresets[3].values[0]);
    EXPECT_STREQ(state->names[4], "NY Compression");

    ClapInstance b(library(), kStereoId);
    ASSERT_TRUE(b.load(saved, 1)) << "in reads of 1 byte";
    EXPECT_TRUE(b.host.rescans.empty()) << "the host reads the values it asked for";
    for (uint32_t i = 0; i < 7; ++i) EXPECT_EQ(b.value(i), double(state->values[i]));
    std::vector<uint8_t> again;
    ASSERT_TRUE(b.save(again));
    EXPECT_EQ(again, saved);

    // Names edited elsewhere come back as they were, the program and values too.
    tolvane_clap::State edited = *state;
    std::strcpy(edited.names[0], "Kick bus");
    std::strcpy(edited.names[3], "Vocals, gently");
    edited.program = 1;
    const auto bytes = tolvane_clap::writeState(edited);
    ASSERT_TRUE(b.load({bytes.begin(), bytes.end()}));
    again.clear();
    ASSERT_TRUE(b.save(again));
    EXPECT_EQ(again, std::vector<uint8_t>(bytes.begin(), bytes.end()));

    std::vector<uint8_t> failed;
    EXPECT_FALSE(b.save(failed, 100, 100)) << "a write error";

    // A session saved before the Key parameter: program 1 with its values, Key at Internal.
    const std::string before =
        "544c56530100000094000000010000000000803e0000003f0000403f0000003e0000803f0000003f4472756d20427573"
        "73205371756973686572000000000000476f6e65204e75636c65617200000000000000000000000046756c6c204d6f6e"
        "747900000000000000000000000000004a757374206120746f7563680000000000000000000000004e5920436f6d7072"
        "657373696f6e000000000000000000001834e143";
    std::vector<uint8_t> old;
    for (size_t i = 0; i < before.size(); i += 2) old.push_back(uint8_t(std::stoi(before.substr(i, 2), nullptr, 16)));
    ClapEventLists external;
    external.in = {ClapEvent::value(0, 6, 1.0)};
    b.flush(external);
    ASSERT_TRUE(b.load(old));
    const double values[7] = {0.25, 0.5, 0.75, 0.125, 1.0, 0.5, 0.0};
    for (uint32_t i = 0; i < 7; ++i) EXPECT_EQ(b.value(i), values[i]) << i;
    again.clear();
    ASSERT_TRUE(b.save(again));
    EXPECT_EQ(again.size(), tolvane_clap::kStateSize) << "saved again in today's form";
}

TEST_F(ClapPlugin, DamagedOrForeignStateChangesNothingAndFails) {
    ClapInstance plugin(library(), kStereoId);
    ASSERT_TRUE(plugin.loadPreset("2"));
    std::vector<uint8_t> before;
    ASSERT_TRUE(plugin.save(before));
    plugin.host.rescans.clear();

    std::vector<std::vector<uint8_t>> damaged;
    for (size_t n = 0; n < before.size(); ++n) damaged.emplace_back(before.begin(), before.begin() + long(n));
    for (size_t n = 0; n < before.size(); ++n) {
        damaged.push_back(before);
        damaged.back()[n] ^= 0x10;
    }
    damaged.push_back(before);
    damaged.back().push_back(0);
    // Well formed, with values no state of ours holds.
    tolvane_clap::State valid = *tolvane_clap::readState(before.data(), before.size());
    for (auto change :
         {+[](tolvane_clap::State& s) { s.program = 5; }, +[](tolvane_clap::State& s) { s.program = -1; },
          +[](tolvane_clap::State& s) { s.values[2] = NAN; }, +[](tolvane_clap::State& s) { s.values[0] = 1.0001f; },
          +[](tolvane_clap::State& s) { s.values[4] = -0.5f; }}) {
        tolvane_clap::State s = valid;
        change(s);
        const auto bytes = tolvane_clap::writeState(s);
        damaged.emplace_back(bytes.begin(), bytes.end());
    }
    damaged.push_back(std::vector<uint8_t>{'<', '?', 'x', 'm', 'l', '>'});  // another plug-in's
    for (size_t k = 0; k < damaged.size(); ++k) {
        EXPECT_FALSE(plugin.load(damaged[k])) << "case " << k;
        std::vector<uint8_t> now;
        ASSERT_TRUE(plugin.save(now));
        ASSERT_EQ(now, before) << "case " << k;
    }
    const clap::InputStream failing{nullptr, [](const clap::InputStream*, void*, uint64_t) { return int64_t{-1}; }};
    EXPECT_FALSE(plugin.ext<clap::PluginState>(clap::kExtState)->load(plugin.plugin, &failing));
    EXPECT_TRUE(plugin.host.rescans.empty());
}

// --- presets --------------------------------------------------------------------------------

TEST_F(ClapPlugin, TheFactoryProgramsAreDiscoveredAsPresetsAndLoad) {
    // What an indexer hears, one line per location and per preset.
    struct Heard {
        std::vector<std::string> lines;
        static Heard& of(void* data) { return *static_cast<Heard*>(data); }
        static void add(const clap::PresetMetadataReceiver* r, const std::string& text) {
            of(r->receiverData).lines.back() += text;
        }
    };
    std::vector<std::string> expected = {"location kind 1, no path, flags 1"};
    for (int32_t p = 0; p < kTolvaneProgramCount; ++p)
        expected.push_back(std::string(tolvaneFactoryPresets[p].name) + " (" + std::to_string(p) +
                           "): clap:com.quenmark.tolvane clap:com.quenmark.tolvane.mono flags 1");
    for (const char* id : {clap::kPresetDiscoveryFactoryId, clap::kPresetDiscoveryFactoryDraftId}) {
        const auto* factory = library().factory<clap::PresetDiscoveryFactory>(id);
        ASSERT_NE(factory, nullptr) << id;
        ASSERT_EQ(factory->count(factory), 1u);
        Heard heard;
        const clap::PresetIndexer indexer{
            clap::kVersion,
            "tests",
            "",
            "",
            "",
            &heard,
            [](const clap::PresetIndexer*, const clap::PresetFiletype*) { return true; },
            [](const clap::PresetIndexer* i, const clap::PresetLocation* l) {
                Heard::of(i->indexerData)
                    .lines.push_back("location kind " + std::to_string(l->kind) +
                                     (l->location ? ", a path" : ", no path") + ", flags " + std::to_string(l->flags));
                return true;
            },
            [](const clap::PresetIndexer*, const clap::PresetSoundpack*) { return true; },
            [](const clap::PresetIndexer*, const char*) -> const void* { return nullptr; }};
        using R = const clap::PresetMetadataReceiver*;
        const clap::PresetMetadataReceiver receiver{
            &heard,
            [](R, int32_t, const char*) {},
            [](R r, const char* name, const char* key) {
                Heard::of(r->receiverData).lines.push_back(std::string(name) + " (" + key + "):");
                return true;
            },
            [](R r, const clap::UniversalPluginId* p) { Heard::add(r, std::string(" ") + p->abi + ":" + p->id); },
            [](R, const char*) {},
            [](R r, uint32_t flags) { Heard::add(r, " flags " + std::to_string(flags)); },
            [](R, const char*) {},
            [](R, const char*) {},
            [](R, uint64_t, uint64_t) {},
            [](R, const char*) {},
            [](R, const char*, const char*) {}};
        const clap::PresetProvider* provider =
            factory->create(factory, &indexer, factory->getDescriptor(factory, 0)->id);
        ASSERT_NE(provider, nullptr);
        ASSERT_TRUE(provider->init(provider));
        ASSERT_TRUE(provider->getMetadata(provider, clap::kPresetLocationPlugin, nullptr, &receiver));
        EXPECT_EQ(heard.lines, expected);
        EXPECT_FALSE(provider->getMetadata(provider, clap::kPresetLocationFile, "/tmp", &receiver));
        provider->destroy(provider);
    }

    // A preset brings the factory's values, whatever the program was edited to.
    ClapInstance plugin(library(), kStereoId);
    ASSERT_TRUE(plugin.loadPreset("1"));
    ClapEventLists lists;
    lists.in = {ClapEvent::value(0, 0, 0.1)};
    plugin.flush(lists);
    ASSERT_TRUE(plugin.loadPreset("1"));
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(plugin.value(i), double(tolvaneFactoryPresets[1].values[i]));
    EXPECT_EQ(plugin.host.presetsLoaded, (std::vector<std::string>{"1", "1"}));
    EXPECT_EQ(plugin.host.rescans, (std::vector<uint32_t>{clap::kParamRescanValues, clap::kParamRescanValues}));
    EXPECT_EQ(plugin.host.dirty, 2);
    const auto* load = plugin.ext<clap::PluginPresetLoad>(clap::kExtPresetLoad);
    for (const char* key : {"5", "", "01", "-1"}) EXPECT_FALSE(plugin.loadPreset(key)) << key;
    EXPECT_FALSE(load->fromLocation(plugin.plugin, clap::kPresetLocationPlugin, nullptr, nullptr));
    EXPECT_FALSE(load->fromLocation(plugin.plugin, clap::kPresetLocationFile, "/tmp/x", "0"));
    EXPECT_EQ(plugin.host.presetErrors, (std::vector<std::string>{"5", "", "01", "-1", "(null)", "0"}));
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(plugin.value(i), double(tolvaneFactoryPresets[1].values[i]));
}

// --- threads --------------------------------------------------------------------------------

// The audio thread plays blocks with automation and MIDI while the main thread
// reads values and texts, saves and loads, and loads presets: the plug-in
// calls the host only on the threads the rules allow (and ThreadSanitizer,
// where built with it, sees no race).
TEST_F(ClapPlugin, MainAndAudioThreadsTogetherKeepTheRules) {
    writeText(settings + "/Tolvane MIDI Assignments.txt", "0 20\n");
    ClapInstance plugin(library(), kStereoId);
    ASSERT_TRUE(plugin.activate());
    const auto* params = plugin.ext<clap::PluginParams>(clap::kExtParams);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> l(256, 0.5f), r(256, -0.5f), ol(256), orr(256);
        ClapEventLists lists;
        for (uint32_t n = 0; !stop.load(); ++n) {
            lists.in = {ClapEvent::value(3, n % 6, (n % 100) / 100.0), ClapEvent::midiMessage(7, 0xB0, 20, n % 128)};
            lists.out.clear();
            plugin.process(l.data(), r.data(), ol.data(), orr.data(), 256, lists);
        }
    });
    std::vector<uint8_t> state;
    for (int round = 0; round < 200; ++round) {
        char text[64];
        double v;
        params->getValue(plugin.plugin, round % 6, &v);
        params->valueToText(plugin.plugin, round % 6, v, text, sizeof text);
        state.clear();
        plugin.save(state);
        plugin.load(state);
        if (round % 50 == 0) plugin.loadPreset(std::to_string(round / 50).c_str());
    }
    stop = true;
    audio.join();
    EXPECT_TRUE(plugin.host.wrongThread.empty()) << plugin.host.wrongThread.front();
    EXPECT_TRUE(plugin.host.log.empty());

    // A main-thread call on another thread is reported to the host's log, once.
    std::thread other([&] {
        double v;
        params->getValue(plugin.plugin, 0, &v);
        params->getValue(plugin.plugin, 1, &v);
    });
    other.join();
    ASSERT_EQ(plugin.host.log.size(), 1u);
    EXPECT_EQ(plugin.host.log[0].first, clap::kLogHostMisbehaving);
    EXPECT_NE(plugin.host.log[0].second.find("params.get_value"), std::string::npos);
}

}  // namespace
