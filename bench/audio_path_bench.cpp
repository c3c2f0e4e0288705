// The shipped audio path against its literal form, side by side in one run:
// per factory program, ns per frame of each over 60 s of music-like stereo in
// 512-frame blocks, measured in interleaved rounds (CPU time, medians), and
// their ratios: the shipped path on this processor's own instruction set
// (AVX2 where it has it) and on the baseline one (SSE2 on x86), in stereo,
// and for the first program in mono too. The literal form is the design's
// arithmetic written straight as one per-frame loop with the C library's
// log10 and pow; every output must have the same bits, which is checked too.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "TolvaneEngine.h"
#include "qmsp_fastmath.h"

namespace {

constexpr int kRate = 44100, kSeconds = 60, kBlock = 512, kRounds = 7;

// Drum-like bursts over a sustained bed, different in the two channels.
void musicLike(std::vector<float>& left, std::vector<float>& right) {
    const size_t frames = static_cast<size_t>(kRate) * kSeconds;
    left.resize(frames);
    right.resize(frames);
    uint32_t state = 12345;
    double phase = 0.0;
    for (size_t n = 0; n < frames; ++n) {
        state = state * 1664525u + 1013904223u;
        const float noise = static_cast<float>(static_cast<int32_t>(state)) / 2147483648.0f;
        const size_t beat = n % 11025;
        const float hit = beat < 3000 ? 0.9f * std::exp(-static_cast<float>(beat) / 700.0f) : 0.0f;
        phase += 2.0 * 3.14159265358979 * 110.0 / kRate;
        const float bed = 0.15f * static_cast<float>(std::sin(phase)) + 0.03f * noise;
        left[n] = hit * noise + bed;
        right[n] = hit * noise * 0.8f + bed * 0.9f;
    }
}

// The design's arithmetic, literally, frame by frame.
struct Literal {
    float ratio, threshold, attackC, releaseC, outputGain, envelope = 1.0f, gr = 0.0f;
    double b0, b1, a1;
    float x1L = 0, y1L = 0, x1R = 0, y1R = 0;
    float current, target, coefficient;
    float meter = 0.0f, meterRise, meterFall;

    static bool flushes(float v) {
        uint32_t b;
        std::memcpy(&b, &v, 4);
        return (b & 0x7F800000u) == 0 || (b & 0x7F800000u) == 0x7F800000u;
    }
    float lowPass(float x, float& x1, float& y1) const {
        const float y = static_cast<float>(x * b0 + x1 * b1 - y1 * a1);
        y1 = flushes(y) ? 0.0f : y;
        x1 = x;
        return y;
    }
    // The detector and the gain computer for one frame's peak; gr is the reduction.
    float gainFor(float peak) {
        envelope = static_cast<float>(envelope - static_cast<double>(envelope) * releaseC);
        if (envelope < peak) envelope = static_cast<float>(envelope + (static_cast<double>(peak) - envelope) * attackC);
        if (envelope < 1e-30f) envelope = 0.0f;
        if (!(envelope <= 3.4028235e38f)) envelope = 1.0f;
        const float lg = static_cast<float>(std::log10(static_cast<double>(envelope < 1e-5f ? 1e-5f : envelope)));
        const float level = static_cast<float>(20.0 * lg);
        gr = threshold > level ? 0.0f
                               : static_cast<float>((1.0 / ratio - 1.0) * (static_cast<double>(level) - threshold));
        const float e = static_cast<float>(static_cast<double>(gr) / 20.0);
        return static_cast<float>(std::pow(10.0, static_cast<double>(e)));
    }
    void meterStep(float in) {
        const float c = in > meter ? meterFall : meterRise;
        meter = static_cast<float>(in + (static_cast<double>(meter) - in) * c);
    }
    void process(const float* left, const float* right, float* outL, float* outR, int frames) {
        for (int n = 0; n < frames; ++n) {
            const float xL = left[n], xR = right[n];
            const float aL = static_cast<float>(static_cast<double>(xL) * 1.0f);
            const float aR = static_cast<float>(static_cast<double>(xR) * 1.0f);
            const float peak = std::fabs(aL) < std::fabs(aR) ? std::fabs(aR) : std::fabs(aL);
            const float g = gainFor(peak);
            float yL = static_cast<float>(static_cast<double>(g) * aL * outputGain);
            float yR = static_cast<float>(static_cast<double>(g) * aR * outputGain);
            yL = yL < -1.0f ? -1.0f : yL > 1.0f ? 1.0f : yL;
            yR = yR < -1.0f ? -1.0f : yR > 1.0f ? 1.0f : yR;
            current = static_cast<float>((static_cast<double>(current) - target) * coefficient + target);
            const float m = static_cast<float>(static_cast<double>(current) - static_cast<double>(1e-12f));
            const float d = static_cast<float>(1.0 - m);
            outL[n] = static_cast<float>(static_cast<double>(lowPass(yL, x1L, y1L)) * m + static_cast<double>(xL) * d);
            outR[n] = static_cast<float>(static_cast<double>(lowPass(yR, x1R, y1R)) * m + static_cast<double>(xR) * d);
            meterStep(static_cast<float>(static_cast<double>(gr) * m));
        }
    }
    // One channel, with the compressor's and the effect's mono formulas.
    void process(const float* input, float* output, int frames) {
        for (int n = 0; n < frames; ++n) {
            const float x = input[n];
            const float a = static_cast<float>(1.0 * x);
            const float peak = std::fabs(a);
            const float g = gainFor(peak);
            float y = static_cast<float>(static_cast<double>(g) * (static_cast<double>(outputGain) * a));
            y = y < -1.0f ? -1.0f : y > 1.0f ? 1.0f : y;
            current = static_cast<float>((static_cast<double>(current) - target) * coefficient + target);
            const double m = static_cast<float>(static_cast<double>(current) - static_cast<double>(1e-12f));
            const double f = lowPass(y, x1L, y1L);
            output[n] = static_cast<float>(f * m + (1.0 - m) * x);
            meterStep(static_cast<float>(gr * m));
        }
    }
};

// CPU time where the clock is fine enough; on Windows, whose process clock
// ticks every 15.6 ms, the performance counter (wall time: measure on an idle
// machine).
double cpuSeconds() {
#if defined(_WIN32)
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#else
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
#endif
}

Literal literalFor(int32_t program) {
    // The settings as the effect derives them, read back through a reference effect.
    const float* v = tolvaneFactoryPresets[program].values;
    auto coefficient = [](double seconds) {
        const float e = static_cast<float>(-1.0 / (seconds * 44100.0f));
        return static_cast<float>(1.0 - static_cast<double>(static_cast<float>(std::exp(static_cast<double>(e)))));
    };
    Literal l{};
    l.ratio = tolvane::normalizedToPlain(0, v[0]);
    l.attackC = coefficient(static_cast<float>(static_cast<double>(tolvane::normalizedToPlain(1, v[1])) * 0.001));
    l.releaseC = coefficient(static_cast<float>(static_cast<double>(tolvane::normalizedToPlain(2, v[2])) * 0.001));
    l.threshold = tolvane::normalizedToPlain(3, v[3]);
    l.outputGain = static_cast<float>(std::pow(
        10.0,
        static_cast<double>(static_cast<float>(static_cast<double>(tolvane::normalizedToPlain(4, v[4])) / 20.0))));
    l.envelope = 1.0f;
    qmsp_filter_butterworth_first_order_low_pass probe(1000.0f);
    probe.setSampleRate(44100.0f);
    probe.setFrequency(9200.0f);
    l.b0 = probe.getB0();
    l.b1 = probe.getB1();
    l.a1 = probe.getA1();
    qmsp_smoother s;
    s.setSampleRate(44100.0f);
    l.coefficient = s.getCoefficient();
    l.current = static_cast<float>(0.0 + static_cast<double>(1e-12f));
    l.target = static_cast<float>(static_cast<double>(v[5]) + static_cast<double>(1e-12f));
    l.meterRise = static_cast<float>(std::exp(-1.0 / (static_cast<double>(0.09f) * 44100.0f)));
    l.meterFall = static_cast<float>(std::exp(-1.0 / (static_cast<double>(0.2f) * 44100.0f)));
    return l;
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// ns per frame: the literal loop, the shipped path natively, the shipped path on the baseline.
struct Row {
    double literal, native, baseline;
    bool same;
};

Row measure(int32_t program, int channels, const std::vector<float>& left, const std::vector<float>& right) {
    const size_t frames = left.size();
    std::vector<float> outL(frames), outR(frames), litL(frames), litR(frames);
    std::vector<double> literalTimes, nativeTimes, baselineTimes;
    bool same = true;
    for (int round = 0; round < kRounds; ++round) {
        Literal literal = literalFor(program);
        double t0 = cpuSeconds();
        for (size_t start = 0; start < frames; start += kBlock) {
            const int n = static_cast<int>(std::min<size_t>(kBlock, frames - start));
            if (channels == 2)
                literal.process(left.data() + start, right.data() + start, litL.data() + start, litR.data() + start, n);
            else literal.process(left.data() + start, litL.data() + start, n);
        }
        literalTimes.push_back(cpuSeconds() - t0);
        for (bool baseline : {false, true}) {
            qmsp_fastmath::setBaselineOnly(baseline);
            TolvaneEngine effect("");
            effect.setProgram(program);
            const double t1 = cpuSeconds();
            for (size_t start = 0; start < frames; start += kBlock) {
                const int n = static_cast<int>(std::min<size_t>(kBlock, frames - start));
                if (channels == 2)
                    effect.processStereo(left.data() + start, right.data() + start, outL.data() + start,
                                         outR.data() + start, n);
                else effect.processMono(left.data() + start, outL.data() + start, n);
            }
            (baseline ? baselineTimes : nativeTimes).push_back(cpuSeconds() - t1);
            same = same && std::memcmp(outL.data(), litL.data(), frames * 4) == 0 &&
                   (channels == 1 || std::memcmp(outR.data(), litR.data(), frames * 4) == 0);
        }
        qmsp_fastmath::setBaselineOnly(false);
    }
    const double scale = 1e9 / static_cast<double>(frames);
    return {median(literalTimes) * scale, median(nativeTimes) * scale, median(baselineTimes) * scale, same};
}

}  // namespace

int main() {
    std::vector<float> left, right;
    musicLike(left, right);
    const char* native = qmsp_fastmath::usesAvx2() ? "AVX2" : "baseline";
    std::printf("%-26s %10s %10s %10s %8s %8s\n", "program", "literal", native, "baseline", "ratio", "ratio");
    std::printf("%-26s %10s %10s %10s %8s %8s\n", "", "ns/frame", "ns/frame", "ns/frame", native, "baseline");
    for (int32_t program = 0; program <= 5; ++program) {
        const int channels = program < 5 ? 2 : 1;
        const int32_t measured = program < 5 ? program : 0;
        const Row row = measure(measured, channels, left, right);
        char name[64] = {};
        std::snprintf(name, sizeof name, "%.24s%s", tolvaneFactoryPresets[measured].name,
                      channels == 1 ? ", mono" : "");
        std::printf("%-26s %10.2f %10.2f %10.2f %8.2f %8.2f%s\n", name, row.literal, row.native, row.baseline,
                    row.native / row.literal, row.baseline / row.literal, row.same ? "" : "   OUTPUT DIFFERS");
    }
    return 0;
}
