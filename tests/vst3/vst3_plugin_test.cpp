// The VST3 bundle in a host of ours: what the module says of itself, the
// arrangements it takes, its sound against `tolvane render` (the VST 2.4
// plug-in) in every program and block size, parameter changes at their frames
// against the engine, the key, the bypass, parameters as the VST 2.4 plug-in
// names and shows them, state, and MIDI through the mapping.
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "PluginHost.h"
#include "TolvaneEngine.h"
#include "TolvanePrograms.h"
#include "support/settings_test.h"
#include "vst3_host.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include "support/cli_render.h"
#endif

namespace {

using namespace vst3host;
constexpr ParamID kKey = 6, kBypass = 100, kProgram = 101, kFirstController = 1000;

Module& bundle() {
    static Module module(TOLVANE_VST3_BINARY);
    return module;
}

// What the VST 2.4 plug-in makes of the signal with a program: `tolvane
// render` on Linux; the engine it runs, where there is no command-line host.
Signal reference(const TempFolder& folder, const Signal& in, int32_t program) {
#if defined(_WIN32)
    (void)folder;
    TolvaneEngine engine("");
    engine.setProgram(program);
    Signal out{in.channels, in.samples};
    std::vector<float> l(in.frames()), r(in.frames());
    for (size_t n = 0; n < in.frames(); ++n)
        l[n] = in.samples[n * in.channels], r[n] = in.samples[n * in.channels + in.channels - 1];
    if (in.channels == 1) engine.processMono(l.data(), l.data(), int32_t(l.size()));
    else engine.processStereo(l.data(), r.data(), l.data(), r.data(), int32_t(l.size()));
    for (size_t n = 0; n < in.frames(); ++n) {
        out.samples[n * in.channels] = l[n];
        if (in.channels == 2) out.samples[n * 2 + 1] = r[n];
    }
    return out;
#else
    return renderWithCli(folder, in, "--program " + std::to_string(program));
#endif
}

using Vst3 = SettingsTest;

TEST_F(Vst3, TheModuleOffersOneEffectUnderItsLastingClassId) {
    ASSERT_TRUE(bundle().entered && bundle().factory);
    IPluginFactory* factory = bundle().factory;
    PFactoryInfo about{};
    ASSERT_EQ(factory->getFactoryInfo(&about), kResultOk);
    EXPECT_STREQ(about.vendor, "Quenmark, Inc.");
    EXPECT_EQ(about.flags, PFactoryInfo::kUnicode);
    ASSERT_EQ(factory->countClasses(), 1);
    auto* third = query<IPluginFactory3>(factory);
    ASSERT_NE(third, nullptr);
    PClassInfo2 info{};
    PClassInfoW wide{};
    ASSERT_EQ(third->getClassInfo2(0, &info), kResultOk);
    ASSERT_EQ(third->getClassInfoUnicode(0, &wide), kResultOk);
    // Projects know the plug-in by this identifier: it must never change.
    EXPECT_TRUE(makeUid(0x568D85F8, 0xBB0A4413, 0x98AD66C4, 0xD49AEE37) == info.cid);
    EXPECT_EQ(std::memcmp(info.cid, wide.cid, 16), 0);
    EXPECT_STREQ(info.category, "Audio Module Class");
    EXPECT_STREQ(info.name, "Tolvane");
    EXPECT_STREQ(info.subCategories, "Fx|Dynamics");
    EXPECT_STREQ(info.version, TOLVANE_VERSION);
    EXPECT_EQ(tolvane::vst3text::toUtf8(wide.name, 64), "Tolvane");
    void* none = nullptr;
    EXPECT_EQ(factory->createInstance(IComponent::iid.bytes, IComponent::iid.bytes, &none), kNoInterface);
    EXPECT_EQ(none, nullptr);
}

// The key: an auxiliary input, inactive until routed, as the input or mono.
TEST_F(Vst3, TakesMonoToMonoAndStereoToStereoOnlyWithAKeyAsTheInputOrMono) {
    Instance plugin(bundle());
    ASSERT_TRUE(plugin && plugin.arranged);
    const SpeakerArrangement fiveOne = 0x3F;
    const struct {
        SpeakerArrangement in, key, out;  // key 0: the host names none
        int32_t outputs;
        bool taken;
    } cases[] = {{kStereo, 0, kStereo, 1, true},      {kMono, 0, kMono, 1, true},
                 {kSpeakerL, 0, kSpeakerL, 1, true},  {kMono, 0, kStereo, 1, false},
                 {kStereo, 0, kMono, 1, false},       {fiveOne, 0, fiveOne, 1, false},
                 {kStereo, 0, kStereo, 2, false},     {0, 0, 0, 1, false},
                 {kStereo, kMono, kStereo, 1, true},  {kMono, kStereo, kMono, 1, false},
                 {kMono, kMono, kMono, 1, true},      {kStereo, fiveOne, kStereo, 1, false},
                 {kStereo, kStereo, kStereo, 1, true}};
    for (const auto& c : cases) {
        SpeakerArrangement in[2] = {c.in, c.key}, out[2] = {c.out, c.out};
        SpeakerArrangement before = 0, after = 0, key = 0;
        plugin.processor->getBusArrangement(kOutput, 0, before);
        EXPECT_EQ(plugin.processor->setBusArrangements(in, c.key ? 2 : 1, out, c.outputs) == kResultTrue, c.taken)
            << std::hex << c.in << " + " << c.key << " -> " << c.out;
        plugin.processor->getBusArrangement(kOutput, 0, after);
        EXPECT_EQ(after, c.taken ? (std::popcount(c.in) == 1 ? kMono : kStereo) : before);
        plugin.processor->getBusArrangement(kInput, 1, key);
        if (c.taken) {
            EXPECT_EQ(key, std::popcount(c.key ? c.key : c.in) == 1 ? kMono : kStereo) << std::hex << c.key;
        }
    }
    BusInfo bus{};
    ASSERT_EQ(plugin.component->getBusInfo(kAudio, kInput, 0, bus), kResultOk);
    EXPECT_EQ(bus.channelCount, 2) << "as arranged last";
    ASSERT_EQ(plugin.component->getBusInfo(kAudio, kInput, 1, bus), kResultOk);
    EXPECT_EQ(bus.busType, kAux);
    EXPECT_EQ(bus.flags, 0u) << "not active until the host routes a key";
    EXPECT_EQ(tolvane::vst3text::toUtf8(bus.name, 128), "Side-chain");
    EXPECT_EQ(plugin.component->getBusInfo(kAudio, kOutput, 1, bus), kInvalidArgument);
    EXPECT_EQ(plugin.component->getBusCount(kAudio, kInput), 2);
    EXPECT_EQ(plugin.component->getBusCount(kAudio, kOutput), 1);
    EXPECT_EQ(plugin.component->activateBus(kAudio, kInput, 1, true), kResultOk);
    EXPECT_EQ(plugin.component->activateBus(kAudio, kInput, 2, true), kInvalidArgument);
    EXPECT_EQ(plugin.component->activateBus(kAudio, kOutput, 1, true), kInvalidArgument);
    EXPECT_EQ(plugin.component->getBusCount(kEvent, kInput), 1) << "hosts map controllers for an event input";
    EXPECT_EQ(plugin.processor->canProcessSampleSize(kSample64), kResultFalse);
}

// With the key routed too: at Internal whatever the key, at External with the input as the key.
TEST_F(Vst3, EveryProgramSoundsAsTolvaneRenderInEveryBlockSize) {
    for (int channels : {1, 2}) {
        const Signal in = testSignal(channels), other{channels, {in.samples.rbegin(), in.samples.rend()}};
        for (int32_t program = 0; program < kTolvaneProgramCount; ++program) {
            const Signal expected = reference(folder, in, program);
            ASSERT_EQ(expected.frames(), in.frames());
            for (size_t block : {1, 64, 4096}) {
                for (const auto& [key, external] :
                     {std::pair<const Signal*, bool>{nullptr, false}, {&other, false}, {&in, true}}) {
                    Instance plugin(bundle(), channels);
                    ASSERT_TRUE(plugin && plugin.arranged);
                    ASSERT_TRUE(!key || plugin.activateKey(channels));
                    const Signal out = render(
                        plugin, in, block,
                        [&](size_t start) {
                            if (start == 0) plugin.changes.add(kProgram, 0, program / 4.0);
                            if (start == 0 && external) plugin.changes.add(kKey, 0, 1.0);
                        },
                        key);
                    EXPECT_TRUE(out == expected)
                        << "program " << program << ", " << channels << " channel(s), blocks of " << block << ", key "
                        << (key == &in ? "the input"
                            : key      ? "another"
                                       : "none");
                }
            }
        }
    }
}

// A key of its own: a loud one holds the quiet input down, a silent one lets
// it go; with its bus inactive there is none.
TEST_F(Vst3, AnExternalKeyDrivesTheDetector) {
    const Signal in = testSignal(2);
    Signal loud{2, std::vector<float>(in.samples.size())}, silent = loud;
    for (size_t i = 0; i < loud.samples.size(); ++i) loud.samples[i] = i / 2 % 2 ? 0.9f : -0.9f;
    auto run = [&](const Signal* key, bool active) {
        Instance plugin(bundle());
        EXPECT_TRUE(!active || plugin.activateKey(2));
        plugin.keyBus.numChannels = 2;
        return render(
            plugin, in, 512,
            [&](size_t start) {
                if (start == 0) plugin.changes.add(kKey, 0, 1.0);
            },
            key);
    };
    auto energy = [&](const Signal* key, bool active) {
        double sum = 0;
        for (float v : run(key, active).samples) sum += double(v) * v;
        return sum;
    };
    const double internal = energy(nullptr, false);
    EXPECT_LT(energy(&loud, true), internal * 0.7);
    EXPECT_GT(energy(&silent, true), internal * 1.5);
    EXPECT_EQ(energy(&loud, false), internal);
#if !defined(_WIN32)
    EXPECT_TRUE(run(&loud, true) == renderWithCli(folder, in, "--block 512", &loud)) << "as tolvane render --key";
#endif
}

// Points of several queues inside blocks, applied at their frames in frame
// order (a queue's own order first), as the engine applies the same events.
TEST_F(Vst3, ParameterChangesApplyAtTheirFrames) {
    struct Point {
        size_t frame;
        ParamID id;
        double value;
    };
    const std::vector<Point> points = {{100, 0, 0.048},   {100, 3, 0.294},      {700, 1, 0.194}, {1500, kProgram, 0.5},
                                       {1500, 2, 0.9},    {3000, 5, 0.5},       {4095, 4, 0.0},  {4096, 4, 1.0},
                                       {7000, 3, 0.9999}, {7001, kProgram, 1.0}};
    const Signal in = testSignal(2, 8192);
    std::vector<TolvaneEngine::Event> events;
    for (const Point& p : points)
        events.push_back(p.id == kProgram
                             ? TolvaneEngine::Event::program(uint32_t(p.frame), int32_t(p.value * 4))
                             : TolvaneEngine::Event::parameter(uint32_t(p.frame), int32_t(p.id), float(p.value)));
    TolvaneEngine engine("");
    std::vector<float> l(in.frames()), r(in.frames());
    for (size_t n = 0; n < in.frames(); ++n) l[n] = in.samples[2 * n], r[n] = in.samples[2 * n + 1];
    engine.run({false, l.data(), r.data(), l.data(), r.data()}, uint32_t(l.size()), events.data(), events.size());
    Signal expected{2, std::vector<float>(in.samples.size())};
    for (size_t n = 0; n < in.frames(); ++n) expected.samples[2 * n] = l[n], expected.samples[2 * n + 1] = r[n];

    for (size_t block : {512, 4096}) {
        Instance plugin(bundle());
        const Signal out = render(plugin, in, block, [&](size_t start) {
            // Queues in reverse, to show the order comes from the frames (and a program before values at its frame).
            int32_t queue;
            for (auto p = points.rbegin(); p != points.rend(); ++p)
                if (p->frame >= start && p->frame < start + block) plugin.changes.addParameterData(p->id, queue);
            for (const Point& p : points)
                if (p.frame >= start && p.frame < start + block)
                    plugin.changes.add(p.id, int32_t(p.frame - start), p.value);
        });
        EXPECT_TRUE(out == expected) << "blocks of " << block;
        // The last program's values go back to the host at its frame; the controller has them at its next call.
        const int32_t at = 7001 - 4096;
        using Point3 = std::tuple<ParamID, int32_t, double>;
        std::vector<Point3> values;
        for (int32_t i = 0; i < 7; ++i) values.emplace_back(i, at, i < 6 ? tolvaneFactoryPresets[4].values[i] : 0.0);
        if (block == 4096) {
            EXPECT_EQ(plugin.reported.all(), values) << "in the last block";
        }
        plugin.state();
        EXPECT_EQ(plugin.controller->getParamNormalized(kProgram), 1.0);
        EXPECT_EQ(plugin.controller->getParamNormalized(3), tolvaneFactoryPresets[4].values[3]);
    }
}

TEST_F(Vst3, BypassFadesToTheInputAndBackWhileTheEngineRuns) {
    const Signal in = testSignal(2, 12288);
    Instance plain(bundle()), bypassed(bundle());
    const Signal processed = render(plain, in, 1024);
    const Signal out = render(bypassed, in, 1024, [&](size_t start) {
        if (start == 4096) bypassed.changes.add(kBypass, 17, 1.0);
        if (start == 8192) bypassed.changes.add(kBypass, 0, 0.0);
    });
    for (size_t i = 0; i < out.samples.size(); ++i) {
        const size_t n = i / 2;
        const float a = processed.samples[i], b = in.samples[i];
        if (n < 4096 || n >= 8192 + 441) {
            ASSERT_EQ(out.samples[i], a) << "frame " << n << ": the engine's output";
        } else if (n >= 4096 + 441 && n < 8192) {
            ASSERT_EQ(out.samples[i], b) << "frame " << n << ": the input itself";
        } else {
            ASSERT_GE(out.samples[i], std::min(a, b) - 1e-6f) << "frame " << n << " lies between them";
            ASSERT_LE(out.samples[i], std::max(a, b) + 1e-6f) << "frame " << n;
        }
    }
    EXPECT_EQ(bypassed.controller->getParamNormalized(kBypass), 0.0);
    EXPECT_EQ(bypassed.text(kBypass, 1.0), "On");
}

// --- parameters, programs, texts ----------------------------------------------------------------

TEST_F(Vst3, ParametersAreNamedAndShownAsInTheVstPlugin) {
    Instance plugin(bundle());
    PluginLibrary library(TOLVANE_PLUGIN_PATH);
    auto vst = library.createInstance();
    ASSERT_TRUE(plugin && vst);
    ASSERT_EQ(plugin.controller->getParameterCount(), 7 + 2 + 128);
    for (int32_t i = 0; i < plugin.controller->getParameterCount(); ++i) {
        ParameterInfo info{};
        ASSERT_EQ(plugin.controller->getParameterInfo(i, info), kResultOk);
        const std::string title = tolvane::vst3text::toUtf8(info.title, 128);
        if (i < 6) {
            EXPECT_EQ(info.id, ParamID(i));
            EXPECT_EQ(tolvane::vst3text::toUtf8(info.shortTitle, 128), vst->text(effGetParamName, i));
            EXPECT_EQ(tolvane::vst3text::toUtf8(info.units, 128), vst->text(effGetParamLabel, i));
            EXPECT_EQ(info.defaultNormalizedValue, tolvaneFactoryPresets[0].values[i]) << "program 0";
            EXPECT_EQ(info.flags, ParameterInfo::kCanAutomate);
            for (float v : {0.0f, 0.137f, 0.5f, 0.9f, 1.0f}) {
                vst->setParameter(i, v);
                EXPECT_EQ(plugin.text(info.id, v), vst->text(effGetParamDisplay, i)) << title << " at " << v;
                String128 typed{};
                tolvane::vst3text::toUtf16(vst->text(effGetParamDisplay, i).c_str(), typed, 128);
                ParamValue back = -1;
                ASSERT_EQ(plugin.controller->getParamValueByString(info.id, typed, back), kResultOk);
                vst->setParameter(i, float(back));
                EXPECT_EQ(plugin.text(info.id, back), plugin.text(info.id, v)) << "the text reads back: " << title;
            }
        } else if (i == 6) {
            EXPECT_EQ(info.id, kKey);
            EXPECT_EQ(title, "Key");
            EXPECT_EQ(info.flags, ParameterInfo::kCanAutomate | ParameterInfo::kIsList);
            EXPECT_EQ(info.stepCount, 1);
            EXPECT_EQ(info.defaultNormalizedValue, 0.0) << "Internal";
            EXPECT_EQ(plugin.text(kKey, 0.0) + " " + plugin.text(kKey, 1.0), "Internal External");
            String128 typed{};
            tolvane::vst3text::toUtf16("External", typed, 128);
            ParamValue back = -1;
            EXPECT_EQ(plugin.controller->getParamValueByString(kKey, typed, back), kResultOk);
            EXPECT_EQ(back, 1.0);
        } else if (info.id == kBypass) {
            EXPECT_EQ(info.flags, ParameterInfo::kCanAutomate | ParameterInfo::kIsBypass);
        } else if (info.id == kProgram) {
            EXPECT_EQ(info.flags,
                      ParameterInfo::kCanAutomate | ParameterInfo::kIsList | ParameterInfo::kIsProgramChange);
            EXPECT_EQ(info.stepCount, 4);
            EXPECT_EQ(plugin.text(kProgram, 0.25), "Gone Nuclear");
        } else {
            EXPECT_EQ(info.id, kFirstController + ParamID(i - 9));
            EXPECT_EQ(info.flags, ParameterInfo::kIsHidden) << "no host lists a stand-in";
            EXPECT_EQ(title, "MIDI CC " + std::to_string(i - 9));
        }
    }
    auto* units = plugin.as<IUnitInfo>();
    ASSERT_NE(units, nullptr);
    ProgramListInfo list{};
    ASSERT_EQ(units->getProgramListInfo(0, list), kResultOk);
    EXPECT_EQ(list.programCount, 5);
    UnitInfo root{};
    ASSERT_EQ(units->getUnitInfo(0, root), kResultOk);
    EXPECT_EQ(root.programListId, list.id);
    for (int32_t p = 0; p < 5; ++p) {
        String128 name{};
        ASSERT_EQ(units->getProgramName(list.id, p, name), kResultOk);
        EXPECT_STREQ(tolvane::vst3text::toUtf8(name, 128).c_str(), tolvaneFactoryPresets[p].name);
    }
}

// The host changes the program through the controller and reads its values back before process() runs.
TEST_F(Vst3, TheControllerFollowsAProgramChangeAtOnce) {
    Instance plugin(bundle());
    ASSERT_EQ(plugin.controller->setParamNormalized(kProgram, 0.5), kResultOk);
    for (int32_t i = 0; i < 6; ++i)
        EXPECT_EQ(plugin.controller->getParamNormalized(ParamID(i)), tolvaneFactoryPresets[2].values[i]);
    EXPECT_TRUE(plugin.handler.restarts.empty()) << "never from inside setParamNormalized";
    plugin.state();
    EXPECT_EQ(plugin.handler.restarts, (std::vector<int32_t>{kParamValuesChanged})) << "at the next call";
}

// --- state --------------------------------------------------------------------------------------------

constexpr size_t kNames = 8 + 4 + 24 + 4;   // where the record's names start
constexpr size_t kKeyAt = kNames + 5 * 24;  // Key, appended in version 2

TEST_F(Vst3, StateKeepsProgramValuesBypassNamesAndKey) {
    Instance plugin(bundle());
    std::vector<float> silence(64), sink(64);
    plugin.changes.add(kProgram, 0, 0.75);
    plugin.changes.add(2, 10, 0.31);
    plugin.changes.add(kKey, 20, 1.0);
    plugin.process(silence.data(), silence.data(), sink.data(), sink.data(), 64);
    std::vector<uint8_t> state = plugin.state();
    ASSERT_EQ(state.size(), kKeyAt + 4);
    const char renamed[24] = "Renamed";
    std::memcpy(state.data() + kNames + 24, renamed, sizeof renamed);
    ASSERT_EQ(plugin.setState(state), kResultOk);

    Instance other(bundle());
    MemoryStream slow(state);
    slow.chunk = 7;  // a host's stream that delivers a few bytes at a time
    ASSERT_EQ(other.component->setState(&slow), kResultOk);
    slow.rewind();
    ASSERT_EQ(other.controller->setComponentState(&slow), kResultOk);
    EXPECT_EQ(other.state(), state);
    EXPECT_EQ(other.controller->getParamNormalized(kProgram), 0.75);
    EXPECT_EQ(other.controller->getParamNormalized(2), float(0.31));
    EXPECT_EQ(other.controller->getParamNormalized(kKey), 1.0);
    String128 name{};
    other.as<IUnitInfo>()->getProgramName(1, 1, name);
    EXPECT_EQ(tolvane::vst3text::toUtf8(name, 128), "Renamed");

    std::vector<uint8_t> bypassed = state;
    bypassed[36] = 1;
    ASSERT_EQ(other.setState(bypassed), kResultOk);
    EXPECT_EQ(other.state(), bypassed);

    const std::vector<uint8_t> controllerState = plugin.state(true);
    EXPECT_EQ(other.setState(controllerState, true), kResultOk);

    // The first version's record, before Key (a host's longer stream included): Key at Internal.
    std::vector<uint8_t> first(state.begin(), state.begin() + kKeyAt), internal = state;
    first[4] = 1;
    std::fill(internal.begin() + kKeyAt, internal.end(), 0);
    for (size_t extra : {0, 4}) {
        first.resize(kKeyAt + extra, 0x3F);
        MemoryStream stream(first);
        ASSERT_EQ(other.component->setState(&stream), kResultOk);
        stream.rewind();
        ASSERT_EQ(other.controller->setComponentState(&stream), kResultOk);
        EXPECT_EQ(other.state(), internal);
        EXPECT_EQ(other.controller->getParamNormalized(kKey), 0.0);
        EXPECT_EQ(other.controller->getParamNormalized(2), float(0.31));
    }
}

TEST_F(Vst3, DamagedOrForeignStateChangesNothingAndFails) {
    Instance plugin(bundle());
    plugin.changes.add(kProgram, 0, 0.25);
    std::vector<float> silence(64), sink(64);
    plugin.process(silence.data(), silence.data(), sink.data(), sink.data(), 64);
    const std::vector<uint8_t> good = plugin.state();
    auto cut = [](std::vector<uint8_t> bytes, size_t size) { return bytes.resize(size), bytes; };
    auto with = [&](size_t at, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> s = good;
        std::copy(bytes.begin(), bytes.end(), s.begin() + std::ptrdiff_t(at));
        return s;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"nothing", {}},
        {"one byte short", cut(good, good.size() - 1)},
        {"another tag", with(0, {'V', 'S', 'T', '3'})},
        {"a later version", with(4, {3})},
        {"a first-version record one byte short", cut(with(4, {1}), kKeyAt - 1)},
        {"a Key above 1", with(kKeyAt, {0, 0, 0xC0, 0x3F})},
        {"no such program", with(8, {5})},
        {"a value that is no number", with(12, {0, 0, 0xC0, 0x7F})},
        {"a value above 1", with(16, {0, 0, 0xC0, 0x3F})},
        {"a bypass of 2", with(36, {2})},
        {"a name without its end", with(kNames, std::vector<uint8_t>(24, 'x'))},
        {"bytes after a name's end", with(kNames + 23, {'x'})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plugin.setState(c.bytes), kResultFalse) << c.what;
        MemoryStream stream(c.bytes);
        EXPECT_EQ(plugin.controller->setComponentState(&stream), kResultFalse) << c.what;
        EXPECT_EQ(plugin.state(), good) << c.what;
        EXPECT_EQ(plugin.controller->getParamNormalized(kProgram), 0.25) << c.what;
    }
    EXPECT_EQ(plugin.setState(good, true), kResultFalse) << "a component's record is no controller's";
}

// --- MIDI ------------------------------------------------------------------------------------------------

TEST_F(Vst3, BoundControllersMapToTheirParameterAndTheRestToStandIns) {
    writeText(bindingsFile(), "0 20\n3 20\n5 21\n4 7\n");
    Instance plugin(bundle());
    auto* midi = plugin.as<IMidiMapping>();
    ASSERT_NE(midi, nullptr);
    const struct {
        int32_t bus;
        int16_t channel, controller;
        tresult result;
        ParamID id;
    } cases[] = {
        {0, 0, 7, kResultOk, 4},      {0, 15, 21, kResultOk, 5},    {0, 3, 20, kResultOk, kFirstController + 20},
        {0, 0, 30, kResultOk, 1030},  {0, 0, 0, kResultOk, 1000},   {1, 0, 7, kResultFalse, 0},
        {0, 0, 123, kResultFalse, 0}, {0, 0, 128, kResultFalse, 0}, {0, 16, 7, kResultFalse, 0}};
    for (const auto& c : cases) {
        ParamID id = 0;
        EXPECT_EQ(midi->getMidiControllerAssignment(c.bus, c.channel, c.controller, id), c.result) << c.controller;
        if (c.result == kResultOk) {
            EXPECT_EQ(id, c.id) << "controller " << c.controller;
        }
    }
}

// A stand-in's change is the control change it came from, at its frame, as
// the engine hears it; the values it set go back to the host.
TEST_F(Vst3, StandInsDriveTheBoundParametersAtTheirFrames) {
    writeText(bindingsFile(), "0 20\n3 20\n");
    const Signal in = testSignal(2, 4096);
    TolvaneEngine engine;
    const uint8_t move[3] = {0xB0, 20, 64};
    const TolvaneEngine::Event event = TolvaneEngine::Event::midi(1000, move, 3);
    std::vector<float> l(in.frames()), r(in.frames());
    for (size_t n = 0; n < in.frames(); ++n) l[n] = in.samples[2 * n], r[n] = in.samples[2 * n + 1];
    engine.run({false, l.data(), r.data(), l.data(), r.data()}, uint32_t(l.size()), &event, 1);

    Instance plugin(bundle());
    const Signal out =
        render(plugin, in, 4096, [&](size_t) { plugin.changes.add(kFirstController + 20, 1000, 64 / 127.0f); });
    for (size_t n = 0; n < in.frames(); ++n) {
        ASSERT_EQ(out.samples[2 * n], l[n]) << n;
        ASSERT_EQ(out.samples[2 * n + 1], r[n]) << n;
    }
    const float value = engine.getParameter(0);
    using Point = std::tuple<ParamID, int32_t, double>;
    EXPECT_EQ(plugin.reported.all(), (std::vector<Point>{{0, 1000, value}, {3, 1000, value}}));
}

}  // namespace
