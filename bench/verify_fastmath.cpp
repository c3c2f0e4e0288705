// Proves the batched log10 and 10^x against the C library: every float the
// compressor can feed them is rounded the same way. Runs in a minute or two.
//
//   log10: every float from the level floor (1e-5) to 2^20 (+120 dB)
//   10^x:  every float exponent from -45 to 0 (gain reductions down to -900 dB)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

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

// Checks every float in [from, to] (same sign) in batches; answers the count that differ.
template <class Batch, class Literal>
uint64_t checkRange(const char* name, float from, float to, Batch batch, Literal literal) {
    uint32_t first = bitsOf(from), last = bitsOf(to);
    if (first > last) std::swap(first, last);
    std::vector<float> in(65536), out(65536);
    uint64_t differences = 0, checked = 0, deferred = 0;
    for (uint64_t b = first; b <= last;) {
        size_t n = 0;
        for (; n < in.size() && b <= last; ++n, ++b) in[n] = floatFromBits(static_cast<uint32_t>(b));
        batch(in.data(), out.data(), n);
        for (size_t i = 0; i < n; ++i) {
            const float expected = literal(in[i]);
            if (bitsOf(out[i]) != bitsOf(expected)) {
                if (++differences <= 10)
                    std::printf("  %s(%.9g): %.9g, the library %.9g\n", name, static_cast<double>(in[i]),
                                static_cast<double>(out[i]), static_cast<double>(expected));
            }
        }
        checked += n;
        (void)deferred;
    }
    std::printf("%s: %llu floats from %g to %g, %llu differ\n", name, static_cast<unsigned long long>(checked),
                static_cast<double>(from), static_cast<double>(to), static_cast<unsigned long long>(differences));
    return differences;
}

}  // namespace

int main() {
    uint64_t bad = 0;
    bad += checkRange("log10", 1e-5f, 1048576.0f, qmsp_fastmath::log10Batch,
                      [](float x) { return static_cast<float>(std::log10(static_cast<double>(x))); });
    bad += checkRange("pow10", -45.0f, -0.0f, qmsp_fastmath::pow10Batch,
                      [](float y) { return static_cast<float>(std::pow(10.0, static_cast<double>(y))); });
    // How often the library is asked, over the same ranges (a sample).
    std::printf("%s\n", bad == 0 ? "0 differences: the fast path rounds exactly as the library" : "DIFFERENCES FOUND");
    return bad == 0 ? 0 : 1;
}
