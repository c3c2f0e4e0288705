#include "qmsp_fastmath.h"

#include <atomic>
#include <cmath>
#include <cstring>

#include "qmsp_fastmath_kernels.h"

namespace qmsp_fastmath {
namespace {

template <size_t W, class Kernel, class Library>
QMSP_ALWAYS_INLINE inline void batch(const float* in, float* out, size_t count, Kernel kernel, Library library) {
    using vf = typename Kernels<W>::vf;
    for (size_t i = 0; i < count; i += W) {
        vf x = vf{} + 1.0f;
        const size_t n = count - i < W ? count - i : W;
        std::memcpy(&x, in + i, n * sizeof(float));
        vf y;
        kernel(x, y);
        std::memcpy(out + i, &y, n * sizeof(float));
    }
    for (size_t i = 0; i < count; ++i)
        if (out[i] != out[i]) out[i] = library(in[i]);
}

float libraryLog10(float x) { return static_cast<float>(std::log10(static_cast<double>(x))); }
float libraryPow10(float y) { return static_cast<float>(std::pow(10.0, static_cast<double>(y))); }

template <size_t W>
QMSP_ALWAYS_INLINE inline void hardKneeBatch(const float* levels, size_t count, float threshold, double slope,
                                             float* gains, float* reductions) {
    typename Kernels<W>::HardKneeSteps computer(threshold, slope);
    constexpr size_t most = Kernels<W>::HardKneeSteps::kMaxCount;
    for (size_t i = 0; i < count; i += most) {
        const size_t n = count - i < most ? count - i : most;
        computer.run(levels + i, n, gains + i, reductions + i);
    }
}

void log10Sse2(const float* x, float* out, size_t count) {
    batch<4>(x, out, count, Kernels<4>::log10Lanes, libraryLog10);
}
void pow10Sse2(const float* y, float* out, size_t count) {
    batch<4>(y, out, count, Kernels<4>::pow10Lanes, libraryPow10);
}
void hardKneeSse2(const float* levels, size_t count, float threshold, double slope, float* gains, float* reductions) {
    hardKneeBatch<4>(levels, count, threshold, slope, gains, reductions);
}

#if defined(__x86_64__) || defined(__i386__)
#define QMSP_AVX2 __attribute__((target("avx2")))
QMSP_AVX2 void log10Avx2(const float* x, float* out, size_t count) {
    batch<8>(x, out, count, Kernels<8>::log10Lanes, libraryLog10);
}
QMSP_AVX2 void pow10Avx2(const float* y, float* out, size_t count) {
    batch<8>(y, out, count, Kernels<8>::pow10Lanes, libraryPow10);
}
QMSP_AVX2 void hardKneeAvx2(const float* levels, size_t count, float threshold, double slope, float* gains,
                            float* reductions) {
    hardKneeBatch<8>(levels, count, threshold, slope, gains, reductions);
}
bool detectAvx2() {
    __builtin_cpu_init();  // may run before the library's own initialisation
    return __builtin_cpu_supports("avx2");
}
const bool haveAvx2 = detectAvx2();
#else
const bool haveAvx2 = false;
#endif
std::atomic<bool> baselineOnly{false};

}  // namespace

bool usesAvx2() { return haveAvx2 && !baselineOnly.load(std::memory_order_relaxed); }
void setBaselineOnly(bool baseline) { baselineOnly.store(baseline, std::memory_order_relaxed); }

void log10Batch(const float* x, float* out, size_t count) {
#if defined(__x86_64__) || defined(__i386__)
    if (usesAvx2()) return log10Avx2(x, out, count);
#endif
    log10Sse2(x, out, count);
}

void pow10Batch(const float* y, float* out, size_t count) {
#if defined(__x86_64__) || defined(__i386__)
    if (usesAvx2()) return pow10Avx2(y, out, count);
#endif
    pow10Sse2(y, out, count);
}

void hardKneeGains(const float* levels, size_t count, float threshold, double slope, float* gains, float* reductions) {
#if defined(__x86_64__) || defined(__i386__)
    if (usesAvx2()) return hardKneeAvx2(levels, count, threshold, slope, gains, reductions);
#endif
    hardKneeSse2(levels, count, threshold, slope, gains, reductions);
}

}  // namespace qmsp_fastmath
