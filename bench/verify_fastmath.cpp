// Proves the batched log10 and 10^x, and the gain computer built on them,
// against the C library, on every instruction set this processor offers:
// every float the compressor can feed them is rounded the same way.
//
//   log10:          every float from the level floor (1e-5) to 2^20 (+120 dB)
//   10^x:           every float exponent from -45 to 0 (reductions down to -900 dB)
//   gain computer:  every float level from 1e-5 to 2^20 for each factory
//                   program's threshold and ratio, and 20 million random
//                   settings and levels
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "TolvaneParameters.h"
#include "TolvanePrograms.h"
#include "qmsp_fastmath.h"

namespace {

float floatFromBits(uint32_t b) {
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}
uint32_t bitsOf(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// The instruction sets to prove: the baseline, and AVX2 where the processor has it.
std::vector<bool> instructionSets() {
    qmsp_fastmath::setBaselineOnly(false);
    return qmsp_fastmath::usesAvx2() ? std::vector<bool>{true, false} : std::vector<bool>{true};
}
const char* nameOf(bool baseline) { return baseline ? "baseline" : "AVX2"; }

uint64_t report(const char* what, uint64_t checked, uint64_t differences) {
    std::printf("%s: %llu checked, %llu differ\n", what, static_cast<unsigned long long>(checked),
                static_cast<unsigned long long>(differences));
    return differences;
}

// Every float in [from, to] (same sign) through a batch, against the library.
template <class Batch, class Literal>
uint64_t checkRange(const char* name, float from, float to, Batch batch, Literal literal) {
    uint32_t first = bitsOf(from), last = bitsOf(to);
    if (first > last) std::swap(first, last);
    std::vector<float> in(65536), out(65536), expected(65536);
    uint64_t differences = 0, checked = 0;
    const std::vector<bool> sets = instructionSets();
    for (uint64_t b = first; b <= last;) {
        size_t n = 0;
        for (; n < in.size() && b <= last; ++n, ++b) in[n] = floatFromBits(static_cast<uint32_t>(b));
        for (size_t i = 0; i < n; ++i) expected[i] = literal(in[i]);
        for (bool baseline : sets) {
            qmsp_fastmath::setBaselineOnly(baseline);
            batch(in.data(), out.data(), n);
            for (size_t i = 0; i < n; ++i) {
                if (bitsOf(out[i]) == bitsOf(expected[i])) continue;
                if (++differences <= 10)
                    std::printf("  %s %s(%.9g): %.9g, the library %.9g\n", nameOf(baseline), name,
                                static_cast<double>(in[i]), static_cast<double>(out[i]),
                                static_cast<double>(expected[i]));
            }
        }
        checked += n;
    }
    char what[96];
    std::snprintf(what, sizeof what, "%s, floats from %g to %g", name, static_cast<double>(from),
                  static_cast<double>(to));
    return report(what, checked, differences);
}

// The compressor's gain computer written literally with the C library.
struct LiteralKnee {
    float threshold;
    double slope;
    void operator()(float level, float& gain, float& reduction) const {
        const float lg = static_cast<float>(std::log10(static_cast<double>(level)));
        const float dB = static_cast<float>(20.0 * lg);
        reduction = threshold > dB ? 0.0f : static_cast<float>(slope * (static_cast<double>(dB) - threshold));
        gain = static_cast<float>(
            std::pow(10.0, static_cast<double>(static_cast<float>(static_cast<double>(reduction) / 20.0))));
    }
};

// Levels in batches through the gain computer on every instruction set.
uint64_t checkKnee(const LiteralKnee& knee, const std::vector<float>& levels, size_t n, const char* what) {
    static std::vector<float> gains(65536), reductions(65536), expectedGains(65536), expectedReductions(65536);
    for (size_t i = 0; i < n; ++i) knee(levels[i], expectedGains[i], expectedReductions[i]);
    uint64_t differences = 0;
    for (bool baseline : instructionSets()) {
        qmsp_fastmath::setBaselineOnly(baseline);
        qmsp_fastmath::hardKneeGains(levels.data(), n, knee.threshold, knee.slope, gains.data(), reductions.data());
        for (size_t i = 0; i < n; ++i) {
            if (bitsOf(gains[i]) == bitsOf(expectedGains[i]) && bitsOf(reductions[i]) == bitsOf(expectedReductions[i]))
                continue;
            if (++differences <= 10)
                std::printf("  %s %s, level %.9g: gain %.9g reduction %.9g, literally %.9g %.9g\n", nameOf(baseline),
                            what, static_cast<double>(levels[i]), static_cast<double>(gains[i]),
                            static_cast<double>(reductions[i]), static_cast<double>(expectedGains[i]),
                            static_cast<double>(expectedReductions[i]));
        }
    }
    return differences;
}

uint64_t checkFactoryPrograms() {
    uint64_t differences = 0;
    std::vector<float> levels(65536);
    for (const TolvanePreset& preset : tolvaneFactoryPresets) {
        const float ratio = tolvane::normalizedToPlain(tolvane::kRatio, preset.values[0]);
        const LiteralKnee knee{tolvane::normalizedToPlain(tolvane::kSensitivity, preset.values[3]), 1.0 / ratio - 1.0};
        uint64_t checked = 0, programDifferences = 0;
        const uint32_t last = bitsOf(1048576.0f);
        for (uint64_t b = bitsOf(1e-5f); b <= last;) {
            size_t n = 0;
            for (; n < levels.size() && b <= last; ++n, ++b) levels[n] = floatFromBits(static_cast<uint32_t>(b));
            programDifferences += checkKnee(knee, levels, n, preset.name);
            checked += n;
        }
        char what[96];
        std::snprintf(what, sizeof what, "gain computer, %s, every level from 1e-5 to 2^20", preset.name);
        differences += report(what, checked, programDifferences);
    }
    return differences;
}

uint64_t checkRandomSettings() {
    uint32_t state = 2026;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state) / 4294967296.0;
    };
    std::vector<float> levels(65536);
    uint64_t differences = 0, checked = 0;
    for (int round = 0; round < 305; ++round) {
        // Ratios from 1 to 1000 and thresholds from -60 to 0 dB, as the parameters reach.
        const double ratio = static_cast<float>(std::pow(1000.0, next()));
        const LiteralKnee knee{static_cast<float>(-60.0 * next()), 1.0 / ratio - 1.0};
        for (float& level : levels) level = static_cast<float>(std::pow(10.0, -5.0 + 11.0 * next()));
        differences += checkKnee(knee, levels, levels.size(), "random settings");
        checked += levels.size();
    }
    return report("gain computer, random settings and levels", checked, differences);
}

}  // namespace

int main() {
    uint64_t bad = 0;
    bad += checkRange("log10", 1e-5f, 1048576.0f, qmsp_fastmath::log10Batch,
                      [](float x) { return static_cast<float>(std::log10(static_cast<double>(x))); });
    bad += checkRange("pow10", -45.0f, -0.0f, qmsp_fastmath::pow10Batch,
                      [](float y) { return static_cast<float>(std::pow(10.0, static_cast<double>(y))); });
    bad += checkFactoryPrograms();
    bad += checkRandomSettings();
    std::printf("%s\n", bad == 0 ? "0 differences: the fast path rounds exactly as the library" : "DIFFERENCES FOUND");
    return bad == 0 ? 0 : 1;
}
