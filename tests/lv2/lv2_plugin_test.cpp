// The LV2 plug-in in a host of ours on lilv: its description (exact defaults
// and presets, units, ranges), its sound against the VST 2.4 plug-in (through
// `tolvane render` and in-process), MIDI control and learning through the
// worker, what the notify port tells the user interface, the inline display,
// and the bundle as lv2_validate and lv2info see it.
#include "lv2_host.h"

#include <cmath>
#include <cstdio>
#include <functional>

#include "PluginHost.h"
#include "TolvanePrograms.h"
#include "support/cli_render.h"
#include "support/settings_test.h"

namespace {

using namespace tolvane::lv2;

constexpr uint8_t kControlChange = 0xB0;

// Runs the signal through the instance in blocks; before each block, `atBlock(start)` may change ports or add events.
Signal renderLv2(Lv2Instance& plugin, const Signal& in, size_t block,
                 const std::function<void(size_t)>& atBlock = nullptr) {
    const size_t frames = in.frames();
    std::vector<float> inL(frames), inR(frames), outL(frames), outR(frames);
    for (size_t n = 0; n < frames; ++n) {
        inL[n] = in.samples[n * static_cast<size_t>(in.channels)];
        inR[n] = in.samples[n * static_cast<size_t>(in.channels) + static_cast<size_t>(in.channels - 1)];
    }
    for (size_t start = 0; start < frames; start += block) {
        if (atBlock) atBlock(start);
        const auto count = static_cast<uint32_t>(std::min(block, frames - start));
        plugin.run(inL.data() + start, inR.data() + start, outL.data() + start, outR.data() + start, count);
    }
    Signal out{in.channels, std::vector<float>(in.samples.size())};
    for (size_t n = 0; n < frames; ++n) {
        out.samples[n * static_cast<size_t>(in.channels)] = outL[n];
        if (in.channels == 2) out.samples[n * 2 + 1] = outR[n];
    }
    return out;
}

using Lv2Plugin = SettingsTest;

// --- the description ----------------------------------------------------------

TEST_F(Lv2Plugin, DescribesExactlyTheValuesTheVstPluginDerives) {
    Lv2World& world = Lv2World::get();
    for (bool mono : {false, true}) {
        const std::vector<Lv2World::Preset> presets = world.presets(mono);
        ASSERT_EQ(presets.size(), static_cast<size_t>(kTolvaneProgramCount));
        for (const TolvanePreset& factory : tolvaneFactoryPresets) {
            const auto preset = std::find_if(presets.begin(), presets.end(),
                                             [&](const Lv2World::Preset& p) { return p.name == factory.name; });
            ASSERT_NE(preset, presets.end()) << factory.name;
            for (int32_t i = 0; i < tolvane::kParameterCount; ++i) {
                const float port = preset->values.at(kPortSymbols[i]);
                const float plain = tolvane::normalizedToPlain(i, factory.values[i]);
                // The plain value the VST 2.4 plug-in makes its setting of, exactly.
                EXPECT_EQ(plainOfPortValue(i, port), plain) << factory.name << ", " << kPortSymbols[i];
                if (&factory == &tolvaneFactoryPresets[0]) {
                    EXPECT_EQ(Lv2Instance::defaultValue(static_cast<uint32_t>(i)), port) << kPortSymbols[i];
                }
            }
        }
    }
    // Active in percent: the wet share comes back exactly.
    for (const TolvanePreset& factory : tolvaneFactoryPresets) {
        const float share = factory.values[tolvane::kActive];
        EXPECT_EQ(plainOfPortValue(tolvane::kActive, portValueOfPlain(tolvane::kActive, share)), share);
    }
}

TEST_F(Lv2Plugin, PortsHaveTheEditorsUnitsAndRanges) {
    Lv2World& world = Lv2World::get();
    const LilvPlugin* plugin = world.plugin(false);
    LilvNode* unit = world.node("http://lv2plug.in/ns/extensions/units#unit");
    LilvNode* symbol = world.node("http://lv2plug.in/ns/extensions/units#symbol");
    LilvNode* logarithmic = world.node("http://lv2plug.in/ns/ext/port-props#logarithmic");
    const struct {
        const char* unit;
        float min, max;
    } expected[] = {{":1", 1, 1000}, {"#ms", 0.01f, 100}, {"#ms", 10, 300},
                    {"#db", -60, 0}, {"#db", 0, 30},      {"#pc", 0, 100}};
    for (uint32_t i = 0; i < tolvane::kParameterCount; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        LilvNodes* units = lilv_port_get_value(plugin, port, unit);
        ASSERT_EQ(lilv_nodes_size(units), 1u) << i;
        const LilvNode* u = lilv_nodes_get_first(units);
        std::string text = lilv_node_is_uri(u) ? lilv_node_as_uri(u) : "";
        if (LilvNode* s = lilv_world_get(world.world(), u, symbol, nullptr)) {
            text = lilv_node_as_string(s);
            lilv_node_free(s);
        }
        EXPECT_TRUE(text.ends_with(expected[i].unit)) << i << ": " << text;
        lilv_nodes_free(units);
        LilvNode *def, *min, *max;
        lilv_port_get_range(plugin, port, &def, &min, &max);
        EXPECT_EQ(lilv_node_as_float(min), expected[i].min) << i;
        EXPECT_EQ(lilv_node_as_float(max), expected[i].max) << i;
        lilv_node_free(def);
        lilv_node_free(min);
        lilv_node_free(max);
        EXPECT_EQ(lilv_port_has_property(plugin, port, logarithmic), i == tolvane::kRatio) << i;
    }
    lilv_node_free(unit);
    lilv_node_free(symbol);
    lilv_node_free(logarithmic);
}

// --- the sound ------------------------------------------------------------------

TEST_F(Lv2Plugin, EveryPresetSoundsAsTheVstProgramInEveryBlockSize) {
    for (bool mono : {false, true}) {
        const Signal in = testSignal(mono ? 1 : 2);
        const std::vector<Lv2World::Preset> presets = Lv2World::get().presets(mono);
        for (int32_t program = 0; program < kTolvaneProgramCount; ++program) {
            const auto preset = std::find_if(presets.begin(), presets.end(), [&](const Lv2World::Preset& p) {
                return p.name == tolvaneFactoryPresets[program].name;
            });
            ASSERT_NE(preset, presets.end());
            for (size_t block : {1, 64, 4096}) {
                const Signal vst = renderWithCli(
                    folder, in, "--program " + std::to_string(program) + " --block " + std::to_string(block));
                ASSERT_EQ(vst.frames(), in.frames());
                Lv2Instance plugin(mono);
                ASSERT_TRUE(plugin);
                plugin.applyPreset(*preset);
                EXPECT_TRUE(renderLv2(plugin, in, block) == vst)
                    << preset->name << (mono ? ", mono" : ", stereo") << ", blocks of " << block;
            }
        }
    }
}

// The side-chain plug-in against `tolvane render --key` (Tolvane SC): a key of
// its own with Key External, and the input as its own key giving the stereo
// plug-in's output; a key on key_l alone feeds both sides.
TEST_F(Lv2Plugin, TheSideChainPluginSoundsAsTolvaneSc) {
    const Signal in = testSignal(2);
    Signal key = in;
    std::reverse(key.samples.begin(), key.samples.end());
    ASSERT_TRUE(writeWav(folder / "key.wav", key));
    const Signal keyed = renderWithCli(folder, in, "--key " + (folder / "key.wav"));
    ASSERT_EQ(keyed.frames(), in.frames());
    auto renderKeyed = [&](const Signal& k, bool monoKey) {
        Lv2Instance plugin(false, 44100.0, true, true);
        plugin.controls[tolvane::kKey] = 1.0f;
        const size_t frames = in.frames();
        std::vector<float> l(frames), r(frames), kl(frames), kr(frames), outL(frames), outR(frames);
        for (size_t n = 0; n < frames; ++n)
            l[n] = in.samples[2 * n], r[n] = in.samples[2 * n + 1], kl[n] = k.samples[2 * n],
            kr[n] = k.samples[2 * n + 1];
        for (size_t start = 0; start < frames; start += 300) {
            const auto count = static_cast<uint32_t>(std::min<size_t>(300, frames - start));
            plugin.run(l.data() + start, r.data() + start, outL.data() + start, outR.data() + start, count,
                       kl.data() + start, monoKey ? nullptr : kr.data() + start);
        }
        Signal out{2, std::vector<float>(in.samples.size())};
        for (size_t n = 0; n < frames; ++n) out.samples[2 * n] = outL[n], out.samples[2 * n + 1] = outR[n];
        return out;
    };
    EXPECT_TRUE(renderKeyed(key, false) == keyed) << "a key of its own";
    EXPECT_TRUE(renderKeyed(in, false) == renderWithCli(folder, in, "")) << "the input as the key";
    Signal both = key;
    for (size_t n = 0; n < key.frames(); ++n) both.samples[2 * n + 1] = key.samples[2 * n];
    EXPECT_TRUE(renderKeyed(key, true) == renderKeyed(both, false)) << "a mono key";
}

TEST_F(Lv2Plugin, PortValuesSoundAsTheVstPluginsParameters) {
    // A fresh instance at its defaults is a fresh VST 2.4 instance; ports set
    // from normalised values are its --set.
    const Signal in = testSignal(2);
    {
        Lv2Instance plugin(false);
        EXPECT_TRUE(renderLv2(plugin, in, 512) == renderWithCli(folder, in, ""));
    }
    const float set[tolvane::kParameterCount] = {0.37f, 0.61f, 0.13f, 0.44f, 0.29f, 0.8f};
    Lv2Instance plugin(false);
    for (int32_t i = 0; i < tolvane::kParameterCount; ++i) plugin.controls[i] = portValueOf(i, set[i]);
    EXPECT_TRUE(renderLv2(plugin, in, 512) ==
                renderWithCli(folder, in,
                              "--set Ratio=0.37 --set Attack=0.61 --set Release=0.13 --set Sense=0.44 "
                              "--set Makeup=0.29 --set Active=0.8"));

    // Changes between blocks apply where the VST 2.4 plug-in applies its parameter changes.
    PluginLibrary library(TOLVANE_PLUGIN_PATH);
    auto vst = library.createInstance();
    ASSERT_TRUE(vst);
    vst->dispatch(effMainsChanged, 0, 1);
    Lv2Instance lv2(false);
    struct Change {
        size_t at;
        int32_t index;
        float value;
    };
    const std::vector<Change> changes = {{2048, 0, 0.048f}, {6144, 3, 0.294f}, {6144, 1, 0.194f}, {9728, 5, 0.5f}};
    auto change = [&](size_t start, auto apply) {
        for (const Change& c : changes)
            if (c.at == start) apply(c.index, c.value);
    };
    const Signal lv2Out = renderLv2(lv2, in, 512, [&](size_t start) {
        change(start, [&](int32_t i, float n) { lv2.controls[i] = portValueOf(i, n); });
    });
    Signal vstOut{2, std::vector<float>(in.samples.size())};
    std::vector<float> l(512), r(512), ol(512), orr(512);
    for (size_t start = 0; start < in.frames(); start += 512) {
        change(start, [&](int32_t i, float n) { vst->setParameter(i, n); });
        const size_t count = std::min<size_t>(512, in.frames() - start);
        for (size_t n = 0; n < count; ++n) l[n] = in.samples[(start + n) * 2], r[n] = in.samples[(start + n) * 2 + 1];
        float* ins[2] = {l.data(), r.data()};
        float* outs[2] = {ol.data(), orr.data()};
        vst->process(ins, outs, static_cast<VstInt32>(count));
        for (size_t n = 0; n < count; ++n)
            vstOut.samples[(start + n) * 2] = ol[n], vstOut.samples[(start + n) * 2 + 1] = orr[n];
    }
    EXPECT_TRUE(lv2Out == vstOut);
}

// Programs of others that load LV2 plug-ins, each rendering a float WAV as a
// user would (IN, OUT and URI stand for the files and the plug-in): GStreamer
// takes the stereo plug-in only for its port groups, lv2apply offers no
// features at all and leaves the atom ports unconnected.
struct Client {
    const char *name, *program;
    bool mono;
    const char* command;
};
const Client kClients[] = {
    {"ffmpeg", "ffmpeg", false, "ffmpeg -v error -y -i IN -af lv2=p=URI -c:a pcm_f32le OUT"},
    {"gstreamer", "gst-launch-1.0", false,
     "gst-launch-1.0 -q filesrc location=IN ! wavparse ! audioconvert ! quenmark-com-plugins-tolvane ! audioconvert ! "
     "audio/x-raw,format=F32LE ! wavenc ! filesink location=OUT"},
    {"gstreamer_mono", "gst-launch-1.0", true,
     "gst-launch-1.0 -q filesrc location=IN ! wavparse ! audioconvert ! quenmark-com-plugins-tolvane-mono ! "
     "audioconvert ! audio/x-raw,format=F32LE ! wavenc ! filesink location=OUT"},
    {"lv2apply", "lv2apply", false, "lv2apply -i IN -o OUT URI"},
    {"lv2apply_mono", "lv2apply", true, "lv2apply -i IN -o OUT URI"},
};

void PrintTo(const Client& client, std::ostream* out) { *out << client.name; }

class Lv2Client : public Lv2Plugin, public ::testing::WithParamInterface<Client> {};

TEST_P(Lv2Client, RendersAsTolvaneRender) {
#ifdef TOLVANE_SANITIZED_PLUGIN
    GTEST_SKIP() << "a sanitized plug-in loads only into programs built with its sanitizer";
#endif
    const Client& client = GetParam();
    if (std::system(("command -v " + std::string(client.program) + " >/dev/null").c_str()) != 0)
        GTEST_SKIP() << client.program << " is not installed";
    const Signal in = testSignal(client.mono ? 1 : 2, 4410);
    const Signal expected = renderWithCli(folder, in, "");
    ASSERT_EQ(expected.frames(), in.frames());
    std::string command = client.command;
    const std::string uri = client.program == std::string("ffmpeg")
                                ? "https\\\\://quenmark.com/plugins/tolvane"  // ffmpeg's own escaping of ':'
                                : std::string(client.mono ? kMonoUri : kStereoUri);
    for (const auto& [name, value] :
         {std::pair<std::string, std::string>{"IN", folder / "in.wav"}, {"OUT", folder / "client.wav"}, {"URI", uri}})
        if (const size_t at = command.find(name); at != std::string::npos)
            command.replace(at, name.size(), "'" + value + "'");
    // The build's bundle alone, and GStreamer's registry fresh, so that it scans this build.
    const std::string env =
        std::string("LV2_PATH=") + TOLVANE_LV2_BUNDLES + " GST_REGISTRY=" + (folder / "registry.bin");
    ASSERT_EQ(std::system((env + " " + command).c_str()), 0) << command;
    EXPECT_TRUE(readWav(folder / "client.wav") == expected) << command;
}

INSTANTIATE_TEST_SUITE_P(Clients, Lv2Client, ::testing::ValuesIn(kClients),
                         [](const ::testing::TestParamInfo<Client>& info) { return std::string(info.param.name); });

// MIDI through the bindings file, at its frames inside blocks, as the VST 2.4
// plug-in hears the same messages; the notify port tells each value, and a
// port applies again only when it changes.
TEST_F(Lv2Plugin, ControlChangesFollowTheBindingsAtTheirFrames) {
    writeText(bindingsFile(), "0 20\n5 21\n3 20\n");
    const Signal in = testSignal(2, 12288);
    struct Cc {
        size_t frame;
        uint8_t controller, value;
    };
    const std::vector<Cc> ccs = {{100, 20, 64}, {3000, 21, 0}, {4100, 21, 127}, {9000, 20, 5}};

    PluginLibrary library(TOLVANE_PLUGIN_PATH);
    auto vst = library.createInstance();
    ASSERT_TRUE(vst);
    vst->dispatch(effMainsChanged, 0, 1);
    Signal vstOut{2, std::vector<float>(in.samples.size())};
    std::vector<float> l(in.frames()), r(in.frames()), ol(in.frames()), orr(in.frames());
    for (size_t n = 0; n < in.frames(); ++n) l[n] = in.samples[n * 2], r[n] = in.samples[n * 2 + 1];
    size_t done = 0;
    for (const Cc& cc : ccs) {
        float* ins[2] = {l.data() + done, r.data() + done};
        float* outs[2] = {ol.data() + done, orr.data() + done};
        vst->process(ins, outs, static_cast<VstInt32>(cc.frame - done));
        done = cc.frame;
        VstMidiEvent event{};
        event.type = kVstMidiType;
        event.byteSize = sizeof event;
        event.midiData[0] = static_cast<char>(kControlChange);
        event.midiData[1] = static_cast<char>(cc.controller);
        event.midiData[2] = static_cast<char>(cc.value);
        struct {
            VstInt32 numEvents = 1;
            VstIntPtr reserved = 0;
            VstEvent* events[1];
        } list;
        list.events[0] = reinterpret_cast<VstEvent*>(&event);
        vst->dispatch(effProcessEvents, 0, 0, &list);
    }
    float* ins[2] = {l.data() + done, r.data() + done};
    float* outs[2] = {ol.data() + done, orr.data() + done};
    vst->process(ins, outs, static_cast<VstInt32>(in.frames() - done));
    for (size_t n = 0; n < in.frames(); ++n) vstOut.samples[n * 2] = ol[n], vstOut.samples[n * 2 + 1] = orr[n];

    Lv2Instance plugin(false);
    std::vector<Notification> told;
    const Signal out = renderLv2(plugin, in, 4096, [&](size_t start) {
        for (const Cc& cc : ccs)
            if (cc.frame >= start && cc.frame < start + 4096)
                plugin.midi(static_cast<uint32_t>(cc.frame - start), kControlChange, cc.controller, cc.value);
        told.insert(told.end(), plugin.notifications.begin(), plugin.notifications.end());
        plugin.notifications.clear();
    });
    EXPECT_TRUE(out == vstOut) << "the same sound, sample for sample";
    told.insert(told.end(), plugin.notifications.begin(), plugin.notifications.end());
    std::vector<std::pair<int32_t, float>> values;
    for (const Notification& n : told)
        if (n.type == kParameterValueUri) values.emplace_back(n.parameter, n.value);
    const float step = 0.007874016f;
    // Each block tells its last value of each parameter MIDI moved, in index order.
    EXPECT_EQ(values, (std::vector<std::pair<int32_t, float>>{{0, static_cast<float>(64 * double(step))},
                                                              {3, static_cast<float>(64 * double(step))},
                                                              {5, 0.0f},
                                                              {5, 1.0f},
                                                              {0, static_cast<float>(5 * double(step))},
                                                              {3, static_cast<float>(5 * double(step))}}));

    // A port that keeps its value does not undo MIDI; one that changes applies.
    plugin.notifications.clear();
    std::vector<float> silence(64), sink(64);
    plugin.run(silence.data(), silence.data(), sink.data(), sink.data(), 64);
    plugin.message(0, kStateRequestUri);
    plugin.controls[3] = -12.0f;
    plugin.run(silence.data(), silence.data(), sink.data(), sink.data(), 64);
    values.clear();
    for (const Notification& n : plugin.notifications)
        if (n.type == kParameterValueUri) values.emplace_back(n.parameter, n.value);
    EXPECT_EQ(values, (std::vector<std::pair<int32_t, float>>{{0, static_cast<float>(5 * double(step))}, {5, 1.0f}}))
        << "a user interface that opens hears where MIDI left the engine, but not of a port that has changed since";
}

TEST_F(Lv2Plugin, LearningRunsOnTheWorkerAndTheWorkerWritesTheFile) {
    Lv2Instance plugin(false);
    std::vector<float> silence(64), sink(64);
    auto run = [&] {
        plugin.notifications.clear();
        plugin.run(silence.data(), silence.data(), sink.data(), sink.data(), 64);
    };
    auto learnTold = [&] {
        std::vector<std::pair<int32_t, bool>> learn;
        for (const Notification& n : plugin.notifications)
            if (n.type == kLearnUri) learn.emplace_back(n.parameter, n.armed);
        return learn;
    };
    plugin.message(0, kToggleLearnUri, 2);
    run();
    EXPECT_EQ(plugin.pendingWorkCount(), 1u) << "the toggle waits for the worker";
    EXPECT_TRUE(learnTold().empty());
    EXPECT_EQ(plugin.runWorker(), 1u);
    run();
    EXPECT_EQ(learnTold(), (std::vector<std::pair<int32_t, bool>>{{2, true}})) << "the outline";

    plugin.midi(10, kControlChange, 30, 1);
    plugin.midi(20, kControlChange, 30, 2);
    run();
    EXPECT_EQ(learnTold(), (std::vector<std::pair<int32_t, bool>>{{2, false}})) << "learned";
    EXPECT_FALSE(std::filesystem::exists(bindingsFile())) << "run() writes no file";
    EXPECT_EQ(plugin.pendingWorkCount(), 1u);
    plugin.runWorker();
    EXPECT_EQ(readText(bindingsFile()), "2 30\n");

    // Bound: the controller drives the parameter; an instance made now reads the binding.
    plugin.midi(0, kControlChange, 30, 127);
    run();
    ASSERT_EQ(plugin.notifications.size(), 1u);
    EXPECT_EQ(plugin.notifications[0].value, 1.0f);
    Lv2Instance next(false);
    next.midi(0, kControlChange, 30, 0);
    next.run(silence.data(), silence.data(), sink.data(), sink.data(), 64);
    ASSERT_EQ(next.notifications.size(), 1u);
    EXPECT_EQ(next.notifications[0].parameter, 2);

    // Toggling the armed control again cancels and forgets its bindings, in the file too.
    plugin.message(0, kToggleLearnUri, 2);
    run();
    plugin.runWorker();
    plugin.message(0, kToggleLearnUri, 2);
    run();
    plugin.runWorker();
    run();
    EXPECT_EQ(readText(bindingsFile()), "");
    EXPECT_EQ(learnTold(), (std::vector<std::pair<int32_t, bool>>{{2, false}}));
}

TEST_F(Lv2Plugin, WithoutAWorkerMidiControlStillWorks) {
    writeText(bindingsFile(), "4 7\n");
    Lv2Instance plugin(false, 44100.0, false);
    ASSERT_TRUE(plugin);
    std::vector<float> silence(64), sink(64);
    plugin.message(0, kToggleLearnUri, 1);
    plugin.midi(1, kControlChange, 7, 127);
    plugin.run(silence.data(), silence.data(), sink.data(), sink.data(), 64);
    ASSERT_EQ(plugin.notifications.size(), 1u);
    EXPECT_EQ(plugin.notifications[0].parameter, 4);
}

// A write that failed, or an answer that cannot be the worker's (its byte for
// "written" is neither 0 nor 1), is tried again a second later, counted at the
// engine's rate: the host's, or 44100 Hz where the host's is no usable rate.
TEST_F(Lv2Plugin, AFailedBindingsWriteIsTriedAgainASecondLaterAtAnyRate) {
    const struct {
        double rate;
        uint8_t written;
        uint32_t second;
    } cases[] = {{48000.0, 0, 48000},  {NAN, 0, 44100},   {-44100.0, 0, 44100}, {0.0, 0, 44100},
                 {INFINITY, 0, 44100}, {1e300, 0, 44100}, {48000.0, 2, 48000}};
    std::vector<float> silence(480), sink(480);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, written " << int(c.written));
        Lv2Instance plugin(false, c.rate);
        auto run = [&] { plugin.run(silence.data(), silence.data(), sink.data(), sink.data(), 480); };
        plugin.message(0, kToggleLearnUri, 2);
        run();
        plugin.runWorker();
        plugin.midi(0, kControlChange, 30, 1);
        plugin.midi(1, kControlChange, 30, 1);
        run();
        ASSERT_EQ(plugin.pendingWorkCount(), 1u) << "the write";
        // The answer, as the worker's: kWriteBindings, no parameter, the byte.
        EXPECT_EQ(plugin.workBytes({1, 0, 0, 0, 0, 0, 0, 0, c.written, 0, 0, 0}, true), LV2_WORKER_SUCCESS);
        uint32_t frames = 0;
        for (; frames < 200000 && plugin.pendingWorkCount() == 1; frames += 480) run();
        EXPECT_GE(frames, c.second + 480);
        EXPECT_LT(frames, c.second + 960);
    }
}

TEST_F(Lv2Plugin, TheWorkerLearnsNoParameterThatDoesNotExist) {
    Lv2Instance plugin(false);
    std::vector<float> silence(64), sink(64);
    // A toggle of parameter 999 as the host hands it over.
    EXPECT_NE(plugin.workBytes({0, 0, 0, 0, 0xE7, 0x03, 0, 0, 0, 0, 0, 0}, false), LV2_WORKER_SUCCESS);
    plugin.midi(0, kControlChange, 21, 1);
    plugin.midi(1, kControlChange, 21, 1);
    plugin.run(silence.data(), silence.data(), sink.data(), sink.data(), 64);
    plugin.runWorker();
    EXPECT_FALSE(std::filesystem::exists(bindingsFile())) << readText(bindingsFile());
}

// Sequences whose events run past their end, or objects whose properties run
// past theirs, each in a buffer that ends where the sequence does (run under
// AddressSanitizer, a read beyond it stops the test): what lies outside is
// never read, and well-formed events around the damage still count.
TEST_F(Lv2Plugin, MalformedControlEventsAreReadNoFurtherThanTheyReach) {
    UridMap& u = Lv2World::get().urids();
    const uint32_t object = u.map(LV2_ATOM__Object), toggle = u.map(kToggleLearnUri), key = u.map(kParameterKeyUri),
                   integer = u.map(LV2_ATOM__Int);
    // Events: frames (two words), the atom's size and type, its body.
    const std::vector<uint32_t> emptyObject = {0, 0, 0, object};
    std::vector<uint32_t> thenAToggle = emptyObject;
    thenAToggle.insert(thenAToggle.end(), {0, 0, 28, object, 0, toggle, key, 0, 4, integer, 2, 0});
    const struct {
        const char* name;
        std::vector<uint32_t> events;
        size_t toggles;
    } cases[] = {
        {"an object of size 0, last", emptyObject, 0},
        {"an object running past the sequence", {0, 0, 64, object, 0, toggle}, 0},
        {"an Int running past its object", {0, 0, 24, object, 0, toggle, key, 0, 4, integer}, 0},
        {"a property header cut by its object's end", {0, 0, 16, object, 0, toggle, key, 0}, 0},
        {"an object of size 0, then a toggle", thenAToggle, 1},
    };
    std::vector<float> silence(64), sink(64);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint32_t> words = {static_cast<uint32_t>(8 + 4 * c.events.size()), u.map(LV2_ATOM__Sequence), 0, 0};
        words.insert(words.end(), c.events.begin(), c.events.end());
        std::vector<uint32_t> exact(words.begin(), words.end());
        Lv2Instance plugin(false);
        plugin.rawControl = exact.data();
        plugin.run(silence.data(), silence.data(), sink.data(), sink.data(), 64);
        EXPECT_EQ(plugin.pendingWorkCount(), c.toggles);
    }
}

TEST_F(Lv2Plugin, TheInlineDisplayFitsItsBoundsOrDrawsNothing) {
    Lv2Instance plugin(false);
    const auto* display = static_cast<const Lv2InlineDisplayInterface*>(
        lilv_instance_get_extension_data(plugin.lilv(), TOLVANE_INLINEDISPLAY__interface));
    ASSERT_NE(display, nullptr);
    for (uint32_t width : {0u, 1u, 2u, 3u, 15u, 16u, 100u, 5000u}) {
        for (uint32_t height : {0u, 1u, 2u, 3u, 5u, 6u, 60u}) {
            SCOPED_TRACE(testing::Message() << width << " x " << height);
            const Lv2InlineDisplaySurface* surface =
                display->render(lilv_instance_get_handle(plugin.lilv()), width, height);
            EXPECT_EQ(surface != nullptr, width >= 3 && height >= 3) << "a frame and a row of bar, where they fit";
            if (!surface) continue;
            EXPECT_GE(surface->width, 3);
            EXPECT_LE(static_cast<uint32_t>(surface->width), width);
            EXPECT_GE(surface->height, 3);
            EXPECT_LE(static_cast<uint32_t>(surface->height), height);
            EXPECT_EQ(surface->stride, surface->width * 4);
        }
    }
}

TEST_F(Lv2Plugin, GainReductionReachesItsPortAndTheInlineDisplay) {
    Lv2Instance plugin(false);
    for (const Lv2World::Preset& p : Lv2World::get().presets(false))
        if (p.name == "Full Monty") plugin.applyPreset(p);
    const Signal loud = testSignal(2, 8820);
    renderLv2(plugin, loud, 256);
    EXPECT_GT(plugin.gainReduction, 10.0f);
    EXPECT_GT(plugin.drawRequests, 0);
    const auto* display = static_cast<const Lv2InlineDisplayInterface*>(
        lilv_instance_get_extension_data(plugin.lilv(), TOLVANE_INLINEDISPLAY__interface));
    ASSERT_NE(display, nullptr);
    const Lv2InlineDisplaySurface* surface = display->render(lilv_instance_get_handle(plugin.lilv()), 100, 60);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->width, 100);
    EXPECT_LE(surface->height, 60);
    EXPECT_EQ(surface->stride, 400);
    // Filled from the left as far as the meter's 20 dB scale says.
    const auto* row = reinterpret_cast<const uint32_t*>(surface->data + surface->stride * (surface->height / 2));
    int filled = 0;
    for (int x = 1; x < surface->width - 1; ++x) filled += row[x] == row[1];
    EXPECT_NEAR(filled, std::min(plugin.gainReduction, 20.0f) / 20.0f * 98.0f, 1.0f);
    for (int x = 0; x < surface->width; ++x) EXPECT_EQ(row[x] >> 24, 0xFFu) << "opaque";
}

// --- the bundle as the LV2 tools see it -------------------------------------------

std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        if (pclose(pipe) != 0) out += "\n(failed)";
    }
    return out;
}

TEST_F(Lv2Plugin, Lv2infoListsPortsPresetsAndUnits) {
    const std::string env = std::string("LV2_PATH=") + TOLVANE_LV2_BUNDLES + " ";
    const std::string info = commandOutput(env + "lv2info " + kStereoUri + " 2>&1");
    for (const char* expected : {"Quenmark, Inc.", "Symbol:      ratio", "Symbol:      gain_reduction",
                                 "Symbol:      out_r", "Drum Buss Squisher", "NY Compression", "tolvane_ui.so"})
        EXPECT_NE(info.find(expected), std::string::npos) << expected << " in\n" << info;
    const std::string mono = commandOutput(env + "lv2info " + kMonoUri + " 2>&1");
    EXPECT_NE(mono.find("Symbol:      in\n"), std::string::npos);
    EXPECT_EQ(mono.find("Symbol:      in_r"), std::string::npos);
    // Units show in the description lv2info writes.
    const std::string turtle = folder / "tolvane.ttl";
    commandOutput(env + "lv2info -p " + turtle + " " + kStereoUri);
    const std::string text = readText(turtle);
    for (const char* unit : {"units#ms", "units#db", "units#pc", "\":1\""})
        EXPECT_NE(text.find(unit), std::string::npos) << unit;
}

TEST_F(Lv2Plugin, Lv2ValidateFindsNoError) {
    const std::string bundle = std::string(TOLVANE_LV2_BUNDLES) + "/Tolvane.lv2/";
    const std::string out = commandOutput("lv2_validate " + bundle + "manifest.ttl " + bundle + "tolvane.ttl " +
                                          bundle + "presets.ttl 2>&1");
    EXPECT_NE(out.find("Found 0 errors"), std::string::npos) << out;
    EXPECT_EQ(out.find("(failed)"), std::string::npos) << out;
}

}  // namespace
