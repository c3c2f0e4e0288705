// The audio path through the record: channel configurations, the Active blend,
// the clip before the low-pass, sample rates, suspend, hostile samples, block
// sizes, and exact recorded results of the five programs.
#include "support/plugin_fixture.h"

#include <algorithm>
#include <cmath>

namespace {

// Resumes as a host does, with the given pins connected.
void resume(PluginInstance& plugin, int inputs = 2, int outputs = 2) {
    plugin.connectedInputs = inputs;
    plugin.connectedOutputs = outputs;
    plugin.dispatch(effMainsChanged, 0, 1);
}

TEST(HostResume, AsksForPinsThenForMidiTwice) {
    auto plugin = newTolvane();
    plugin->calls.clear();
    resume(*plugin);
    ASSERT_EQ(plugin->calls.size(), 4u);
    EXPECT_EQ(plugin->calls[0].opcode, audioMasterPinConnected);
    EXPECT_EQ(plugin->calls[0].index, 1);
    EXPECT_EQ(plugin->calls[0].value, 0) << "input pin first";
    EXPECT_EQ(plugin->calls[1].opcode, audioMasterPinConnected);
    EXPECT_EQ(plugin->calls[1].value, 1) << "then the output pin";
    EXPECT_EQ(plugin->calls[2].opcode, audioMasterWantMidi);
    EXPECT_EQ(plugin->calls[3].opcode, audioMasterWantMidi);
    EXPECT_EQ(plugin->calls[3].value, 1);
}

TEST(HostAudio, OneConnectedInputFeedsBothChannels) {
    auto plugin = newTolvane();
    resume(*plugin, 1, 2);
    StereoBuffer in = burstSignal(4096);
    for (float& x : in.right) x = 123.0f;  // must never be read
    const StereoBuffer out = processInBlocks(*plugin, in);
    EXPECT_EQ(out.left, out.right) << "same input, same gain on both outputs";
}

TEST(HostAudio, MonoLeavesTheSecondOutputAlone) {
    auto plugin = newTolvane();
    resume(*plugin, 1, 1);
    const StereoBuffer in = burstSignal(4096);
    StereoBuffer out(in.frames(), 7.0f);
    float* inputs[2] = {const_cast<float*>(in.left.data()), const_cast<float*>(in.right.data())};
    float* outputs[2] = {out.left.data(), out.right.data()};
    plugin->process(inputs, outputs, static_cast<VstInt32>(in.frames()));
    for (float x : out.right) ASSERT_EQ(x, 7.0f);
    EXPECT_NE(out.left, in.left);

    // The mono loop is the stereo chain on one channel: a stereo instance fed
    // the same signal on both sides gives the same left output.
    auto stereo = newTolvane();
    resume(*stereo, 1, 2);
    const StereoBuffer stereoOut = processInBlocks(*stereo, in, in.frames());
    for (size_t n = 0; n < in.frames(); ++n) ASSERT_NEAR(out.left[n], stereoOut.left[n], 1e-6f) << "frame " << n;
}

TEST(HostAudio, ActiveZeroPassesTheInput) {
    auto plugin = newTolvane();
    resume(*plugin);
    plugin->setParameter(5, 0.0f);
    processInBlocks(*plugin, burstSignal(44100));  // let the 5 ms fade settle
    const StereoBuffer in = burstSignal(8192, 9);
    const StereoBuffer out = processInBlocks(*plugin, in);
    for (size_t n = 0; n < in.frames(); ++n) {
        ASSERT_NEAR(out.left[n], in.left[n], 1e-7f) << "frame " << n;
        ASSERT_NEAR(out.right[n], in.right[n], 1e-7f) << "frame " << n;
    }
}

TEST(HostAudio, NewYorkBlendMixesWetAndDry) {
    auto blend = newTolvane(), wet = newTolvane(), dry = newTolvane();
    for (auto* p : {blend.get(), wet.get(), dry.get()}) {
        resume(*p);
        p->dispatch(effSetProgram, 0, 4);
    }
    wet->setParameter(5, 1.0f);
    dry->setParameter(5, 0.0f);
    const StereoBuffer in = burstSignal(44100);
    const StereoBuffer b = processInBlocks(*blend, in), w = processInBlocks(*wet, in), d = processInBlocks(*dry, in);
    // After the fade: 0.356164 of the compressed path and 0.643836 of the input.
    for (size_t n = 4410; n < in.frames(); ++n) {
        const double expected = 0.356164 * w.left[n] + 0.643836 * d.left[n];
        ASSERT_NEAR(b.left[n], expected, 2e-5) << "frame " << n;
    }
}

TEST(HostAudio, WetPathIsClippedBeforeTheLowPass) {
    auto plugin = newTolvane();
    resume(*plugin);
    plugin->setParameter(0, 0.0f);  // ratio 1: no compression, only the make-up gain
    plugin->setParameter(4, 1.0f);  // +30 dB
    plugin->setParameter(5, 1.0f);
    StereoBuffer in(8820, 0.9f);
    for (float& x : in.right) x = -0.9f;
    const StereoBuffer out = processInBlocks(*plugin, in);
    // 0.9 at +30 dB is 28.5; clipped to 1 first, the low-pass then settles at 1.
    EXPECT_NEAR(out.left.back(), 1.0f, 1e-5f);
    EXPECT_NEAR(out.right.back(), -1.0f, 1e-5f);
    for (size_t n = 0; n < out.frames(); ++n) ASSERT_LE(std::fabs(out.left[n]), 1.0f + 1e-6f) << n;
}

TEST(HostAudio, OnlyEffSetSampleRateReachesTheBlocks) {
    auto at44 = newTolvane(), blockAndRate = newTolvane(), rate = newTolvane(), reference = newTolvane();
    blockAndRate->dispatch(effSetBlockSizeAndSampleRate, 0, 512, nullptr, 96000.0f);
    rate->dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
    reference->dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
    for (auto* p : {at44.get(), blockAndRate.get(), rate.get(), reference.get()}) resume(*p);
    const StereoBuffer in = burstSignal(8192);
    const StereoBuffer a = processInBlocks(*at44, in), b = processInBlocks(*blockAndRate, in),
                       c = processInBlocks(*rate, in), r = processInBlocks(*reference, in);
    EXPECT_EQ(a, b) << "effSetBlockSizeAndSampleRate leaves the blocks at 44100 Hz";
    EXPECT_FALSE(a == c);
    EXPECT_EQ(c, r);
    // There and back to 44100: the same as an instance that never left it.
    auto roundTrip = newTolvane();
    roundTrip->dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
    roundTrip->dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    resume(*roundTrip);
    EXPECT_EQ(processInBlocks(*roundTrip, in), a);
}

TEST(HostAudio, EveryInstanceRunsAtTheRateItsHostSet) {
    // The first instance moves the process-wide rate to 48000; the second must
    // still move its own blocks there.
    auto first = newTolvane(), second = newTolvane(), fresh = newTolvane();
    first->dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    second->dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    for (auto* p : {first.get(), second.get()}) resume(*p);
    const StereoBuffer in = burstSignal(8192);
    EXPECT_EQ(processInBlocks(*first, in), processInBlocks(*second, in));
    // And an instance whose host sets 44100 while the record holds 48000 stays at 44100.
    fresh->dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    auto untouched = newTolvane();
    resume(*fresh);
    resume(*untouched);
    EXPECT_EQ(processInBlocks(*fresh, in), processInBlocks(*untouched, in));
}

TEST(HostAudio, RateChangesWhileProcessingTakeEffectAtOnce) {
    auto changing = newTolvane(), reference = newTolvane();
    resume(*changing);
    reference->dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
    resume(*reference);
    const StereoBuffer in = burstSignal(4096);
    processInBlocks(*changing, in);
    processInBlocks(*reference, in);
    changing->dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);  // no suspend in between
    const StereoBuffer longer = burstSignal(96000);
    const StereoBuffer a = processInBlocks(*changing, longer), b = processInBlocks(*reference, longer);
    // Different history, same settings: within a second the outputs agree.
    for (size_t n = 90000; n < longer.frames(); ++n) ASSERT_NEAR(a.left[n], b.left[n], 1e-5f) << "frame " << n;
}

TEST(HostAudio, NonsenseSampleRatesAreIgnored) {
    auto plugin = newTolvane(), reference = newTolvane();
    for (float bad : {0.0f, -44100.0f, NAN, INFINITY}) plugin->dispatch(effSetSampleRate, 0, 0, nullptr, bad);
    resume(*plugin);
    resume(*reference);
    const StereoBuffer in = burstSignal(4096);
    EXPECT_EQ(processInBlocks(*plugin, in), processInBlocks(*reference, in));
}

TEST(HostAudio, SuspendPutsTheDetectorBackToFullScale) {
    auto suspended = newTolvane(), running = newTolvane();
    for (auto* p : {suspended.get(), running.get()}) {
        resume(*p);
        processInBlocks(*p, StereoBuffer(44100));  // a second of silence: detector empty
    }
    suspended->dispatch(effMainsChanged, 0, 0);
    resume(*suspended);
    const StereoBuffer probe(64, 0.01f);
    const StereoBuffer a = processInBlocks(*suspended, probe), b = processInBlocks(*running, probe);
    EXPECT_LT(a.left[0], 0.5f * b.left[0]) << "after suspend the first frames are held down";
}

TEST(HostAudio, RecoversFromNonFiniteInput) {
    auto plugin = newTolvane(), reference = newTolvane();
    resume(*plugin);
    resume(*reference);
    const StereoBuffer in = burstSignal(44100);
    StereoBuffer hostile = in;
    hostile.left[1000] = NAN;
    hostile.right[1001] = INFINITY;
    hostile.left[1002] = -INFINITY;
    const StereoBuffer out = processInBlocks(*plugin, hostile);
    // Two samples after the last bad one, every sample is finite again.
    for (size_t n = 1003 + 2; n < out.frames(); ++n)
        ASSERT_TRUE(std::isfinite(out.left[n]) && std::isfinite(out.right[n])) << "frame " << n;
    // And the sound returns to what it would have been (the detector restarts at full scale).
    const StereoBuffer clean = processInBlocks(*reference, in);
    EXPECT_NEAR(out.left.back(), clean.left.back(), 1e-3f);
}

TEST(HostAudio, BlockSizeMakesNoDifference) {
    const StereoBuffer in = burstSignal(20000);
    StereoBuffer first;
    for (size_t block : {1, 7, 64, 4096, 8192}) {
        auto plugin = newTolvane();
        resume(*plugin);
        plugin->dispatch(effSetBlockSize, 0, static_cast<VstIntPtr>(block));
        const StereoBuffer out = processInBlocks(*plugin, in, block);
        if (block == 1) first = out;
        else EXPECT_EQ(out, first) << "blocks of " << block;
    }
}

TEST(HostAudio, ZeroFramesWritesNothing) {
    auto plugin = newTolvane();
    resume(*plugin);
    float in = 0.5f, out = 3.0f;
    float* inputs[2] = {&in, &in};
    float* outputs[2] = {&out, &out};
    plugin->process(inputs, outputs, 0);
    plugin->process(inputs, outputs, -5);
    EXPECT_EQ(out, 3.0f);
}

// Runs `work` with the floating-point unit set as a careless host might leave
// it: flush-to-zero, denormals-are-zero, rounding toward zero, and on 32-bit
// x86 the x87 unit at single precision. The host's mode must come back.
template <class Work>
void inHostileFloatingPointMode(Work work) {
#if defined(__SSE2__)
    const unsigned saved = __builtin_ia32_stmxcsr();
    const unsigned hostile = saved | 0x8040u | 0x6000u;
    __builtin_ia32_ldmxcsr(hostile);
#endif
#if defined(__i386__)
    unsigned short savedX87, hostileX87 = 0x0C7F;  // single precision, round toward zero
    __asm__ volatile("fnstcw %0" : "=m"(savedX87));
    __asm__ volatile("fldcw %0" : : "m"(hostileX87));
#endif
    work();
#if defined(__i386__)
    unsigned short afterX87;
    __asm__ volatile("fnstcw %0" : "=m"(afterX87));
    __asm__ volatile("fldcw %0" : : "m"(savedX87));
    EXPECT_EQ(afterX87, hostileX87) << "the host's x87 mode is restored";
#endif
#if defined(__SSE2__)
    const unsigned after = __builtin_ia32_stmxcsr();
    __builtin_ia32_ldmxcsr(saved);
    EXPECT_EQ(after & ~0x3Fu, hostile & ~0x3Fu) << "the host's mode is restored";
#endif
}

TEST(HostAudio, ResultsDoNotDependOnTheHostsFloatingPointMode) {
    const StereoBuffer in = burstSignal(20000);
    for (VstInt32 program : {0, 2, 4}) {
        auto plain = newTolvane();
        resume(*plain);
        plain->dispatch(effSetProgram, 0, program);
        plain->setParameter(1, 0.3f);
        const StereoBuffer expected = processInBlocks(*plain, in);
        StereoBuffer out;
        inHostileFloatingPointMode([&] {
            auto hostile = newTolvane();  // constructed, set and run in the host's mode
            resume(*hostile);
            hostile->dispatch(effSetProgram, 0, program);
            hostile->setParameter(1, 0.3f);
            out = processInBlocks(*hostile, in);
        });
        EXPECT_EQ(out, expected) << "program " << program;
    }
}

// FNV-1a over the bits of every output sample.
uint64_t fingerprint(const StereoBuffer& b) {
    uint64_t h = 1469598103934665603ull;
    for (const auto* channel : {&b.left, &b.right})
        for (float x : *channel) {
            uint32_t bits;
            std::memcpy(&bits, &x, sizeof bits);
            for (int k = 0; k < 4; ++k) h = (h ^ ((bits >> (8 * k)) & 0xFF)) * 1099511628211ull;
        }
    return h;
}

// Exact results of each program on a fixed signal, recorded from this build.
// Any change of arithmetic, evaluation order or compiler flags shows up here;
// the tolerance tests above say whether such a change is still right.
TEST(HostGolden, EachProgramGivesTheRecordedBits) {
    struct Golden {
        uint64_t fingerprint;
        float left1000, right15000;
    };
    const Golden golden[5] = {{0x0a2d5f9a43d33fe6ull, -0x1.63e44ap-7f, -0x1.1f5e82p-3f},
                              {0x6102871aab9f9331ull, -0x1.4e80cap-7f, -0x1.3cdc38p-4f},
                              {0x31cab62f624b0866ull, -0x1.538a06p-7f, -0x1.c89b7ap-5f},
                              {0x540d92e92c8d23b5ull, -0x1.227dd4p-5f, -0x1.adf3d2p-3f},
                              {0xb85a7d9e5f662695ull, 0x1.81d9f4p-3f, -0x1.b3958cp-2f}};
    const StereoBuffer in = burstSignal(22050, 42);
    for (VstInt32 p = 0; p < 5; ++p) {
        auto plugin = newTolvane();
        resume(*plugin);
        plugin->dispatch(effSetProgram, 0, p);
        const StereoBuffer out = processInBlocks(*plugin, in, 333);
        EXPECT_EQ(fingerprint(out), golden[p].fingerprint)
            << "program " << p << "; if the change is intended, record: {0x" << std::hex << fingerprint(out) << "ull, "
            << std::hexfloat << out.left[1000] << "f, " << out.right[15000] << "f}";
        EXPECT_EQ(out.left[1000], golden[p].left1000) << "program " << p;
        EXPECT_EQ(out.right[15000], golden[p].right15000) << "program " << p;
    }
}

// Tolvane SC: the same effect with inputs 3-4 as the key and a seventh
// parameter. With a key equal to the input and Key External, or with another
// key and Key Internal, it gives Tolvane's recorded bits; a key of its own
// changes them. Input 4 counts even when the host said at resume that it was
// unconnected (Ardour rewires pins without a resume), and a silent input 4
// (a mono key on pin 3) keys both sides as input 3 on both does.
TEST(HostSideChain, KeyEqualToTheInputGivesTolvanesBits) {
    static PluginLibrary library(TOLVANE_SC_PLUGIN_PATH);
    auto probe = library.createInstance();
    ASSERT_TRUE(probe) << library.error();
    EXPECT_EQ(probe->effect()->numInputs, 4);
    EXPECT_EQ(probe->effect()->numOutputs, 2);
    EXPECT_EQ(probe->effect()->numParams, 7);
    EXPECT_EQ(probe->effect()->uniqueID, fourCharacters('Q', 'M', 't', 's'));
    EXPECT_EQ(probe->text(effGetEffectName), "Tolvane SC");
    EXPECT_EQ(probe->text(effGetParamName, 6), "Key");
    EXPECT_EQ(probe->text(effGetParamDisplay, 6), "Int");
    const StereoBuffer in = burstSignal(22050, 42), other = burstSignal(22050, 7);
    StereoBuffer leftOnly = other, leftOnBoth = other;
    std::fill(leftOnly.right.begin(), leftOnly.right.end(), 0.0f);
    leftOnBoth.right = other.left;
    auto run = [&](VstInt32 program, float key, const StereoBuffer& keyed, int connected) {
        auto plugin = library.createInstance();
        resume(*plugin, connected, 2);
        plugin->dispatch(effSetProgram, 0, program);
        plugin->setParameter(6, key);
        StereoBuffer out(in.frames());
        for (size_t start = 0; start < in.frames(); start += 333) {
            const size_t n = std::min<size_t>(333, in.frames() - start);
            float* inputs[4] = {const_cast<float*>(in.left.data() + start), const_cast<float*>(in.right.data() + start),
                                const_cast<float*>(keyed.left.data() + start),
                                const_cast<float*>(keyed.right.data() + start)};
            float* outputs[2] = {out.left.data() + start, out.right.data() + start};
            plugin->process(inputs, outputs, static_cast<VstInt32>(n));
        }
        return out;
    };
    for (VstInt32 p = 0; p < 5; ++p) {
        auto main = newTolvane();
        resume(*main);
        main->dispatch(effSetProgram, 0, p);
        const StereoBuffer expected = processInBlocks(*main, in, 333);
        EXPECT_TRUE(run(p, 1.0f, in, 4) == expected) << "program " << p << ", key = input";
        EXPECT_TRUE(run(p, 0.0f, other, 4) == expected) << "program " << p << ", Key Internal";
        const StereoBuffer keyed = run(p, 1.0f, other, 4);
        EXPECT_FALSE(keyed == expected) << "program " << p << ", a key of its own";
        EXPECT_TRUE(run(p, 1.0f, other, 3) == keyed) << "program " << p << ", input 4 rewired after resume";
        EXPECT_TRUE(run(p, 1.0f, leftOnly, 3) == run(p, 1.0f, leftOnBoth, 4)) << "program " << p << ", a mono key";
    }
}

}  // namespace
