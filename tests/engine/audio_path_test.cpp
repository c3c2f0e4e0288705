// The shipped audio path, which works on blocks in passes with batched log10
// and 10^x, against the literal one: the blocks' own per-frame calls, frame by
// frame, exactly as the design writes them. Every output sample and the meter
// must match to the bit, for hostile signals, parameter changes between blocks
// and every block size.
#include "TolvaneEngine.h"
#include "qmsp_fastmath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// The effect's signal path written frame by frame with the blocks' per-frame calls.
struct LiteralPath {
    qmsp_compressor compressor;
    qmsp_filter_butterworth_first_order_low_pass lowPassLeft{1000.0f}, lowPassRight{1000.0f};
    qmsp_smoother mix;
    qmsp_follower meter{};

    LiteralPath() {
        for (auto* f : {&lowPassLeft, &lowPassRight}) {
            f->setSampleRate(44100.0f);
            f->setFrequency(9200.0f);
        }
        mix.setTime(0.005f);
        meter.init(44100.0f);
        meter.setAttackTime(0.2f, 44100.0f);
        meter.setReleaseTime(0.09f, 44100.0f);
        for (int i = 0; i < 6; ++i) set(i, tolvaneFactoryPresets[0].values[i]);  // as the effect starts
    }
    void set(int index, float value) {
        const float limited = std::clamp(value, 0.0f, 1.0f);
        const float plain = tolvane::normalizedToPlain(index, limited);
        switch (index) {
        case 0: compressor.setRatio(plain); break;
        case 1: compressor.setAttack(static_cast<float>(plain * 0.001)); break;
        case 2: compressor.setRelease(static_cast<float>(plain * 0.001)); break;
        case 3: compressor.setThreshold(plain); break;
        case 4: compressor.setOutputGain(plain); break;
        default: mix.setTarget(limited); break;
        }
    }
    static float clip(float y) { return y < -1.0f ? -1.0f : y > 1.0f ? 1.0f : y; }
    // With a key (kL not null; kR null for a mono key) the detector reads it.
    void stereo(const float* l, const float* r, float* outL, float* outR, int n, const float* kL = nullptr,
                const float* kR = nullptr) {
        for (int t = 0; t < n; ++t) {
            float yL, yR;
            if (kL) compressor.processStereo(l[t], r[t], kL[t], kR ? kR[t] : kL[t], &yL, &yR);
            else compressor.processStereo(l[t], r[t], &yL, &yR);
            yL = clip(yL);
            yR = clip(yR);
            const float m = mix.tick();
            const float d = static_cast<float>(1.0 - m);
            const float oL =
                static_cast<float>(static_cast<double>(lowPassLeft.process(yL)) * m + static_cast<double>(l[t]) * d);
            const float oR =
                static_cast<float>(static_cast<double>(lowPassRight.process(yR)) * m + static_cast<double>(r[t]) * d);
            outL[t] = oL;
            outR[t] = oR;
            meter.step(static_cast<float>(static_cast<double>(compressor.getGainReduction()) * m));
        }
    }
    void mono(const float* in, float* out, int n, const float* kL = nullptr, const float* kR = nullptr) {
        for (int t = 0; t < n; ++t) {
            const float x = in[t];
            const float y = clip(kL ? compressor.process(x, kL[t], kR ? kR[t] : kL[t]) : compressor.process(x));
            const double m = mix.tick();
            const double f = lowPassLeft.process(y);
            out[t] = static_cast<float>(f * m + (1.0 - m) * x);
            meter.step(static_cast<float>(compressor.getGainReduction() * m));
        }
    }
};

// Silence, denormals, full-scale clipping, impulses, noise at every level and
// a few samples that are no numbers or infinite.
std::vector<float> hostileSignal(size_t frames, uint32_t seed) {
    std::vector<float> s(frames);
    uint32_t state = seed;
    for (size_t n = 0; n < frames; ++n) {
        state = state * 1664525u + 1013904223u;
        const float noise = static_cast<float>(static_cast<int32_t>(state)) / 2147483648.0f;
        switch ((n / 3000) % 6) {
        case 0: s[n] = 0.0f; break;
        case 1: s[n] = noise * 1e-39f; break;
        case 2: s[n] = noise * 4.0f; break;
        case 3: s[n] = n % 700 == 0 ? 1.0f : 0.0f; break;
        case 4: s[n] = noise * std::pow(10.0f, -static_cast<float>((n / 500) % 8)); break;
        default: s[n] = n % 997 == 5 ? NAN : n % 1499 == 9 ? -INFINITY : noise * 0.5f; break;
        }
    }
    return s;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// The engine's stereo or mono path, as a host with that many channels drives
// it; with a key (key[0] not null, key[1] null for a mono key) and Key External.
void process(TolvaneEngine& engine, int channels, float** in, float** out, int frames,
             const float* const* key = nullptr) {
    TolvaneEngine::Audio audio{channels == 1, in[0], channels == 2 ? in[1] : nullptr, out[0],
                               channels == 2 ? out[1] : nullptr};
    if (key) {
        audio.keyLeft = key[0];
        audio.keyRight = key[1];
    }
    engine.run(audio, static_cast<uint32_t>(frames), nullptr, 0);
}

// A key for expectLiteral: none, or one or two channels.
struct Key {
    const std::vector<float>* left = nullptr;
    const std::vector<float>* right = nullptr;
};

// Runs the effect and the literal path side by side over the signals in
// blocks of `block` frames, with settings changed between blocks now and then
// as hosts automate (out of range too: the path takes them limited to 0..1),
// and holds the effect to the literal output and meter. In place: the effect
// writes over its input, as hosts may ask.
void expectLiteral(const std::vector<float>& left, const std::vector<float>& right, int channels, int block,
                   bool inPlace, int settingsEvery, const char* what, Key key = {}) {
    const size_t frames = left.size();
    TolvaneEngine effect("", key.left ? TolvaneEngine::Form::kSideChain : TolvaneEngine::Form::kMain);
    if (key.left) effect.setParameter(tolvane::kKey, 1.0f);
    LiteralPath literal;
    std::vector<float> inL = left, inR = right;
    std::vector<float> outL(frames), outR(frames), litL(frames), litR(frames);
    uint32_t state = static_cast<uint32_t>(block);
    for (size_t start = 0, round = 0; start < frames; start += static_cast<size_t>(block), ++round) {
        if (settingsEvery > 0 && round % static_cast<size_t>(settingsEvery) == 0) {
            state = state * 1664525u + 1013904223u;
            const int index = static_cast<int>((state >> 24) % 6);
            const float value = static_cast<float>(state >> 8) / 16777216.0f * 1.2f - 0.1f;
            effect.setParameter(index, value);
            literal.set(index, value);
        }
        const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(block), frames - start));
        float* in[2] = {inL.data() + start, inR.data() + start};
        float* out[2] = {inPlace ? in[0] : outL.data() + start, inPlace ? in[1] : outR.data() + start};
        const float* keys[2] = {key.left ? key.left->data() + start : nullptr,
                                key.right ? key.right->data() + start : nullptr};
        if (channels == 2) {
            literal.stereo(left.data() + start, right.data() + start, litL.data() + start, litR.data() + start, n,
                           keys[0], keys[1]);
        } else {
            literal.mono(left.data() + start, litL.data() + start, n, keys[0], keys[1]);
        }
        process(effect, channels, in, out, n, key.left ? keys : nullptr);
    }
    ASSERT_TRUE(sameBits(inPlace ? inL : outL, litL)) << what << ", " << channels << " channels, block " << block;
    if (channels == 2) {
        ASSERT_TRUE(sameBits(inPlace ? inR : outR, litR)) << what << ", block " << block;
    }
    const float level = std::fabs(literal.meter.level);
    EXPECT_EQ(effect.getMeterValue(), static_cast<float>((level < 20.0f ? level : 20.0f) / 20.0)) << what;
}

// Both instruction sets: the processor's own (AVX2 here, where it has it) and the baseline.
class AudioPath : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { qmsp_fastmath::setBaselineOnly(GetParam()); }
    void TearDown() override { qmsp_fastmath::setBaselineOnly(false); }
};

TEST_P(AudioPath, BlocksInPassesMatchTheLiteralPathToTheBit) {
    const std::vector<float> left = hostileSignal(30000, 1), right = hostileSignal(30000, 2);
    for (int channels : {2, 1})
        for (int block : {1, 2, 3, 7, 8, 9, 31, 64, 255, 256, 257, 512, 1000, 4096, 8192})
            expectLiteral(left, right, channels, block, block == 257, 5, "hostile");
}

// The detector on a key of its own, mono or stereo, for both input layouts.
TEST_P(AudioPath, KeyedBlocksMatchTheLiteralPathToTheBit) {
    const std::vector<float> left = hostileSignal(30000, 1), right = hostileSignal(30000, 2);
    std::vector<float> keyL = hostileSignal(30000 + 1500, 3), keyR = hostileSignal(30000 + 4500, 4);
    keyL.erase(keyL.begin(), keyL.begin() + 1500);  // the key's silences and bursts fall elsewhere than the input's
    keyR.erase(keyR.begin(), keyR.begin() + 4500);
    for (int channels : {2, 1})
        for (Key key : {Key{&keyL, nullptr}, Key{&keyL, &keyR}})
            for (int block : {1, 7, 8, 9, 256, 257, 4096})
                expectLiteral(left, right, channels, block, block == 257, 5, key.right ? "stereo key" : "mono key",
                              key);
}

// A long silence after a short release takes the envelope down to the flush
// level and to 0, where the detector's short step no longer holds; a loud
// signal then brings it back.
TEST_P(AudioPath, AnEnvelopeFlushedByLongSilenceRecoversAsTheLiteralOne) {
    std::vector<float> left(200000, 0.0f);
    for (size_t n = 150000; n < left.size(); ++n) left[n] = 0.8f * std::sin(0.05f * static_cast<float>(n));
    for (int channels : {2, 1}) {
        TolvaneEngine effect("");
        effect.setParameter(2, 0.0f);  // the shortest release
        LiteralPath literal;
        literal.set(2, 0.0f);
        std::vector<float> out(left.size()), outR(left.size()), lit(left.size()), litR(left.size());
        for (size_t start = 0; start < left.size(); start += 512) {
            const int n = static_cast<int>(std::min<size_t>(512, left.size() - start));
            float* in[2] = {left.data() + start, left.data() + start};
            float* o[2] = {out.data() + start, outR.data() + start};
            process(effect, channels, in, o, n);
            if (channels == 2) {
                literal.stereo(in[0], in[1], lit.data() + start, litR.data() + start, n);
            } else {
                literal.mono(in[0], lit.data() + start, n);
            }
        }
        EXPECT_GT(literal.compressor.getEnvelope(), 0.0f);
        ASSERT_TRUE(sameBits(out, lit)) << channels << " channels";
    }
}

// Zero frames (or fewer) leave the blocks and the buffers alone.
TEST(AudioPathBlock, NoFramesChangeNothing) {
    TolvaneSignalBlocks blocks;
    float sample = 0.5f;
    for (int32_t frames : {0, -1}) {
        tolvaneRunStereo(blocks, &sample, &sample, &sample, &sample, frames);
        tolvaneRunMono(blocks, &sample, &sample, frames);
    }
    EXPECT_EQ(sample, 0.5f);
    EXPECT_EQ(blocks.compressor.getGainReduction(), 0.0f);
    EXPECT_EQ(blocks.compressor.getEnvelope(), 1.0f);
}

INSTANTIATE_TEST_SUITE_P(InstructionSets, AudioPath, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Baseline" : "Native"; });

}  // namespace
