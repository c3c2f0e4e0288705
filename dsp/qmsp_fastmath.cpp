#include "qmsp_fastmath.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace qmsp_fastmath {
namespace {

// log10(m) for m in [sqrt(1/2), sqrt(2)): with s = (m - 1) / (m + 1),
// ln(m) = 2s (1 + s^2/3 + s^4/5 + ...); |s| <= 0.1716, so the terms up to
// s^16/17 leave an error below 2^-44, far inside the 2^-40 margin.
constexpr double kLog10e = 0.43429448190325182765;       // 1 / ln 10
constexpr double kLog10Of2Hi = 0.3010299956640665;       // 40 significant bits: e * hi is exact
constexpr double kLog10Of2Lo = -8.532344317057107e-14;   // log10(2) - hi

// 10^y = 2^(y log2 10); y * hi is exact for a float y.
constexpr double kLog2Of10Hi = 3.321928098797798;        // 28 significant bits
constexpr double kLog2Of10Lo = -3.910435808867962e-09;   // log2(10) - hi
constexpr double kRoundMagic = 6755399441055744.0;       // 1.5 * 2^52: adding it rounds to an integer
constexpr double kLn2 = 0.69314718055994530942;



// Four lanes at a time with the compiler's vector types: the doubles fill one
// AVX register or two SSE2 ones. Every decision is made on 32-bit integer
// lanes (native compares on both), so nothing falls back to scalar code.
// Lanes whose rounding the library must decide come out as NaN.
typedef double v4d __attribute__((vector_size(32)));
typedef float v4f __attribute__((vector_size(16)));
typedef int32_t v4i __attribute__((vector_size(16)));
typedef int64_t v4l __attribute__((vector_size(32)));

// float(r), or NaN where r lies within 2^-40 of the midpoint between two
// floats, or rounds to no normal float. The 29 bits a double has beyond a
// float decide the rounding; the midpoint is 1 followed by 28 zeros, and
// 2^-40 relative is 2^12 units of those bits.
__attribute__((always_inline)) inline v4f roundOrDefer4(v4d r, v4i inDomain) {
    const v4l bits = reinterpret_cast<v4l>(r);
    const v4i low = __builtin_convertvector(bits, v4i);
    const v4i high = __builtin_convertvector(bits >> 32, v4i);
    const v4i fromMidpoint = (low & 0x1FFFFFFF) - 0x10000000;
    const v4i nearTie = (fromMidpoint > -0x2000) & (fromMidpoint < 0x2000);
    // Biased double exponents whose floats are normal, with a binade to spare at the top.
    const v4i exponent = (high >> 20) & 0x7FF;
    const v4i normal = (exponent > 1023 - 126) & (exponent < 1023 + 127);
    const v4i defer = nearTie | ~normal | ~inDomain;
    const v4f f = __builtin_convertvector(r, v4f);
    return reinterpret_cast<v4f>((reinterpret_cast<v4i>(f) & ~defer) | (reinterpret_cast<v4i>(v4f{} + NAN) & defer));
}

__attribute__((always_inline)) inline v4f log10Of4(v4f x) {
    const v4i bits = reinterpret_cast<v4i>(x);
    const v4i mantissa = bits & 0x7FFFFF;
    // Above sqrt(2) the mantissa is halved and the exponent raised: m in [sqrt(1/2), sqrt(2)).
    const v4i big = mantissa > 0x3504F3;
    const v4l wideMantissa = __builtin_convertvector(mantissa, v4l);
    const v4l wideExponent = __builtin_convertvector(1023 + big, v4l);
    const v4d m = reinterpret_cast<v4d>((wideMantissa << 29) | (wideExponent << 52));
    const v4d e = __builtin_convertvector(((bits >> 23) & 0xFF) - 127 - big, v4d);
    const v4d s = (m - 1.0) / (m + 1.0);
    const v4d z = s * s;
    v4d p = z * (1.0 / 17.0) + 1.0 / 15.0;
    p = p * z + 1.0 / 13.0;
    p = p * z + 1.0 / 11.0;
    p = p * z + 1.0 / 9.0;
    p = p * z + 1.0 / 7.0;
    p = p * z + 1.0 / 5.0;
    p = p * z + 1.0 / 3.0;
    const v4d lnm = 2.0 * s + 2.0 * s * (z * p);
    const v4d r = e * kLog10Of2Hi + (e * kLog10Of2Lo + lnm * kLog10e);
    const v4i domain = (bits >= 0x00800000) & (bits < 0x7F800000);
    // log10(1) is exactly 0, which the tie test would send to the library.
    const v4i one = bits == 0x3F800000;
    const v4f rounded = roundOrDefer4(r, domain | one);
    return reinterpret_cast<v4f>(reinterpret_cast<v4i>(rounded) & ~one);
}

__attribute__((always_inline)) inline v4f pow10Of4(v4f y) {
    const v4d yd = __builtin_convertvector(y, v4d);
    const v4d hi = yd * kLog2Of10Hi;
    const v4d lo = yd * kLog2Of10Lo;
    const v4d shifted = hi + kRoundMagic;
    const v4d n = shifted - kRoundMagic;
    const v4d r = (hi - n) + lo;
    const v4d t = r * kLn2;
    v4d p = t * (1.0 / 479001600.0) + 1.0 / 39916800.0;
    p = p * t + 1.0 / 3628800.0;
    p = p * t + 1.0 / 362880.0;
    p = p * t + 1.0 / 40320.0;
    p = p * t + 1.0 / 5040.0;
    p = p * t + 1.0 / 720.0;
    p = p * t + 1.0 / 120.0;
    p = p * t + 1.0 / 24.0;
    p = p * t + 1.0 / 6.0;
    p = p * t + 0.5;
    p = p * t + 1.0;
    p = p * t + 1.0;
    // The integer n sits in the low bits of hi + 1.5 * 2^52.
    const v4l integer = reinterpret_cast<v4l>(shifted) - reinterpret_cast<v4l>(v4d{} + kRoundMagic);
    const v4d scale = reinterpret_cast<v4d>((integer + 1023) << 52);
    const v4i domain = (y > -300.0f) & (y < 300.0f);
    return roundOrDefer4(p * scale, domain);
}

// Two groups of four per step: the kernels are long chains of dependent
// operations, and two independent chains keep the processor busy.
template <class Kernel4, class Library>
__attribute__((always_inline)) inline void batch(const float* in, float* out, size_t count, Kernel4 kernel,
                                                 Library library) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        v4f x0, x1;
        std::memcpy(&x0, in + i, sizeof x0);
        std::memcpy(&x1, in + i + 4, sizeof x1);
        const v4f y0 = kernel(x0), y1 = kernel(x1);
        std::memcpy(out + i, &y0, sizeof y0);
        std::memcpy(out + i + 4, &y1, sizeof y1);
    }
    for (; i < count; i += 4) {
        v4f x = v4f{} + 1.0f;
        const size_t n = count - i < 4 ? count - i : 4;
        std::memcpy(&x, in + i, n * sizeof(float));
        const v4f y = kernel(x);
        std::memcpy(out + i, &y, n * sizeof(float));
    }
    for (i = 0; i < count; ++i)
        if (out[i] != out[i]) out[i] = library(in[i]);
}

float libraryLog10(float x) { return static_cast<float>(std::log10(static_cast<double>(x))); }
float libraryPow10(float y) { return static_cast<float>(std::pow(10.0, static_cast<double>(y))); }

void log10Sse2(const float* x, float* out, size_t count) { batch(x, out, count, log10Of4, libraryLog10); }
void pow10Sse2(const float* y, float* out, size_t count) { batch(y, out, count, pow10Of4, libraryPow10); }

#if defined(__x86_64__) || defined(__i386__)
#define QMSP_AVX2 __attribute__((target("avx2")))
QMSP_AVX2 void log10Avx2(const float* x, float* out, size_t count) { batch(x, out, count, log10Of4, libraryLog10); }
QMSP_AVX2 void pow10Avx2(const float* y, float* out, size_t count) { batch(y, out, count, pow10Of4, libraryPow10); }
bool detectAvx2() {
    __builtin_cpu_init();  // may run before the library's own initialisation
    return __builtin_cpu_supports("avx2");
}
const bool haveAvx2 = detectAvx2();
#else
const bool haveAvx2 = false;
#endif

}  // namespace

void log10Batch(const float* x, float* out, size_t count) {
#if defined(__x86_64__) || defined(__i386__)
    if (haveAvx2) return log10Avx2(x, out, count);
#endif
    log10Sse2(x, out, count);
}

void pow10Batch(const float* y, float* out, size_t count) {
#if defined(__x86_64__) || defined(__i386__)
    if (haveAvx2) return pow10Avx2(y, out, count);
#endif
    pow10Sse2(y, out, count);
}

}  // namespace qmsp_fastmath
