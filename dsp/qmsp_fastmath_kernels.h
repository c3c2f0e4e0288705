// The vector kernels behind qmsp_fastmath, for code that inlines them into
// its own loops: W values at a time (Kernels<4> for SSE2, Kernels<8> for
// AVX2), each rounded to float exactly as the C library's double-precision
// result would be, or NaN where the library itself must be asked. See
// qmsp_fastmath.h for how the rounding is proven.
//
// They are written in the vector vocabulary of qmsp_vector.h: every function
// here is always inlined, so a caller compiled for AVX2 gets AVX2 code and the
// same bits, and vectors pass by reference.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "qmsp_vector.h"

namespace qmsp_fastmath {

// log10(m) for m in [sqrt(1/2), sqrt(2)): with s = (m - 1) / (m + 1),
// ln(m) = 2s (1 + s^2/3 + s^4/5 + ...); |s| <= 0.1716, so the terms up to
// s^14/15 leave an error below 2^-44 (s^16/17 < 2^-44.8), inside the 2^-40 margin.
inline constexpr double kLog10e = 0.43429448190325182765;      // 1 / ln 10
inline constexpr double kLog10Of2Hi = 0.3010299956640665;      // 40 significant bits: e * hi is exact
inline constexpr double kLog10Of2Lo = -8.532344317057107e-14;  // log10(2) - hi

// 10^y = 2^(y log2 10); y * hi is exact for a float y.
inline constexpr double kLog2Of10Hi = 3.321928098797798;       // 28 significant bits
inline constexpr double kLog2Of10Lo = -3.910435808867962e-09;  // log2(10) - hi
inline constexpr double kRoundMagic = 6755399441055744.0;      // 1.5 * 2^52: adding it rounds to an integer
inline constexpr double kLn2 = 0.69314718055994530942;

// W lanes at a time: 4 with SSE2, 8 with AVX2.
template <size_t W>
struct Kernels {
    static constexpr size_t kLanes = W;
    using vd = typename qmsp_vectors<W>::vd;
    using vf = typename qmsp_vectors<W>::vf;
    using vi = typename qmsp_vectors<W>::vi;
    using vl = typename qmsp_vectors<W>::vl;

    // float(r), or NaN where the C library must decide the rounding. The kernels'
    // results are within 2^-44 (relative) of the exact value, so when r moved by
    // 2^-40 either way still rounds to the same float, the exact value does too
    // (rounding to float is monotonic, denormal and overflowing results included).
    // Lanes outside the kernel's domain are NaN as well.
    QMSP_ALWAYS_INLINE static void roundChecked(const vd& r, const vi& inDomain, vf& out) {
        const vf f = __builtin_convertvector(r, vf);
        const vf below = __builtin_convertvector(r * (1.0 - 0x1p-40), vf);
        const vf above = __builtin_convertvector(r * (1.0 + 0x1p-40), vf);
        const vi sure = (below == above) & inDomain;
        out = reinterpret_cast<vf>((reinterpret_cast<vi>(f) & sure) | (reinterpret_cast<vi>(vf{} + NAN) & ~sure));
    }

    // The logarithm in three steps: the argument reduced, the series, the sum
    // and its rounding.
    struct Log10Steps {
        vi bits;
        vd s, e, lnm;

        // log10(m) for m in [sqrt(1/2), sqrt(2)) first: above sqrt(2) the mantissa
        // is halved and the exponent raised. m is made as a float (exact), then
        // widened: no 64-bit integer lanes needed.
        QMSP_ALWAYS_INLINE void reduce(const vf& x) {
            bits = reinterpret_cast<vi>(x);
            const vi mantissa = bits & 0x7FFFFF;
            const vi big = mantissa > 0x3504F3;
            const vd m = __builtin_convertvector(reinterpret_cast<vf>(mantissa | ((127 + big) << 23)), vd);
            e = __builtin_convertvector(((bits >> 23) & 0xFF) - 127 - big, vd);
            s = (m - 1.0) / (m + 1.0);
        }
        // The series by Estrin's scheme (pairs, then pairs of pairs): a short chain
        // of dependent steps instead of Horner's long one.
        QMSP_ALWAYS_INLINE void series() {
            const vd z = s * s;
            const vd z2 = z * z;
            const vd z4 = z2 * z2;
            const vd a0 = z * (1.0 / 5.0) + 1.0 / 3.0, a1 = z * (1.0 / 9.0) + 1.0 / 7.0;
            const vd a2 = z * (1.0 / 13.0) + 1.0 / 11.0;
            const vd p = (a0 + z2 * a1) + z4 * (a2 + z2 * (1.0 / 15.0));
            lnm = 2.0 * s + 2.0 * s * (z * p);
        }
        QMSP_ALWAYS_INLINE void finish(vf& out) const {
            const vd r = e * kLog10Of2Hi + (e * kLog10Of2Lo + lnm * kLog10e);
            // Positive normal floats (x = 1 gives exactly 0, as the library does).
            roundChecked(r, (bits >= 0x00800000) & (bits < 0x7F800000), out);
        }
    };

    // 10^y = 2^n 2^r, n an integer, |r| <= 1/2: reduced, the series, then the
    // scale and the rounding.
    struct Pow10Steps {
        vf y;
        vd t, shifted, p;

        QMSP_ALWAYS_INLINE void reduce(const vf& exponent) {
            y = exponent;
            const vd yd = __builtin_convertvector(y, vd);
            const vd hi = yd * kLog2Of10Hi;
            const vd lo = yd * kLog2Of10Lo;
            shifted = hi + kRoundMagic;
            const vd n = shifted - kRoundMagic;
            t = ((hi - n) + lo) * kLn2;
        }
        // The exponential series to t^11 by Estrin's scheme, as for the logarithm;
        // |t| <= ln(2)/2, so the rest is below t^12/12! < 2^-47.
        QMSP_ALWAYS_INLINE void series() {
            const vd t2 = t * t;
            const vd t4 = t2 * t2;
            const vd t8 = t4 * t4;
            const vd a0 = t + 1.0, a1 = t * (1.0 / 6.0) + 0.5;
            const vd a2 = t * (1.0 / 120.0) + 1.0 / 24.0, a3 = t * (1.0 / 5040.0) + 1.0 / 720.0;
            const vd a4 = t * (1.0 / 362880.0) + 1.0 / 40320.0, a5 = t * (1.0 / 39916800.0) + 1.0 / 3628800.0;
            p = ((a0 + t2 * a1) + t4 * (a2 + t2 * a3)) + t8 * (a4 + t2 * a5);
        }
        QMSP_ALWAYS_INLINE void finish(vf& out) const {
            // The integer n sits in the low bits of hi + 1.5 * 2^52.
            const vl integer = reinterpret_cast<vl>(shifted) - reinterpret_cast<vl>(vd{} + kRoundMagic);
            const vd scale = reinterpret_cast<vd>((integer + 1023) << 52);
            roundChecked(p * scale, (y > -300.0f) & (y < 300.0f), out);
        }
    };

    QMSP_ALWAYS_INLINE static void log10Lanes(const vf& x, vf& out) {
        Log10Steps log;
        log.reduce(x);
        log.series();
        log.finish(out);
    }

    QMSP_ALWAYS_INLINE static void pow10Lanes(const vf& y, vf& out) {
        Pow10Steps pow;
        pow.reduce(y);
        pow.series();
        pow.finish(out);
    }

    // The compressor's hard-knee gain computer for `count` <= kMaxCount envelope
    // levels (each at least 1e-5):
    //   level         = float(20 * float(log10(levels[i])))
    //   reductions[i] = threshold > level ? 0 : float(slope * (level - threshold))
    //   gains[i]      = float(10^float(reductions[i] / 20))
    // The arithmetic between the two kernels is plain IEEE double and float
    // operations, the same bits in any lane as in scalar code. A NaN from either
    // kernel reaches the gain, which sends that frame to the C library.
    //
    // It comes in kSteps steps, each a short chain of dependent operations (side
    // by side, one per kLanes levels), for callers that give the
    // processor other work between them: step<k>() for k = 0 .. kSteps - 1 in
    // order. begin() names the levels and where the results go.
    class HardKneeSteps {
    public:
        static constexpr int kSteps = 8;
        static constexpr size_t kMaxCount = 8;
        static constexpr size_t kHalves = kMaxCount / kLanes;

        // The settings are spread across the lanes once, here.
        HardKneeSteps(float threshold, double slope)
            : threshold(threshold),
              slope(slope),
              thresholds(vf{} + threshold),
              thresholdsWide(vd{} + static_cast<double>(threshold)),
              slopes(vd{} + slope) {}

        QMSP_ALWAYS_INLINE void begin(const float* levelsIn, size_t countIn, float* gainsOut, float* reductionsOut) {
            levels = levelsIn;
            count = countIn;
            gains = gainsOut;
            reductions = reductionsOut;
        }

        template <int k>
        QMSP_ALWAYS_INLINE void step() {
            for (size_t h = 0; h < kHalves; ++h) halfStep<k>(h);
            if constexpr (k == kSteps - 1) {
                vi deferred = gain[0] != gain[0];
                for (size_t h = 1; h < kHalves; ++h) deferred |= gain[h] != gain[h];
                if (qmsp_anyLane(deferred)) askLibrary();
            }
        }

        QMSP_ALWAYS_INLINE void run(const float* levelsIn, size_t countIn, float* gainsOut, float* reductionsOut) {
            begin(levelsIn, countIn, gainsOut, reductionsOut);
            step<0>();
            step<1>();
            step<2>();
            step<3>();
            step<4>();
            step<5>();
            step<6>();
            step<7>();
        }

    private:
        // The lanes of half h that hold levels.
        size_t countIn(size_t h) const {
            const size_t first = h * kLanes;
            return count <= first ? 0 : count - first < kLanes ? count - first : kLanes;
        }

        template <int k>
        QMSP_ALWAYS_INLINE void halfStep(size_t h) {
            if constexpr (k == 0) {
                vf x = vf{} + 1.0f;
                if (countIn(h) == kLanes) qmsp_load(levels + h * kLanes, x);
                else
                    for (size_t i = 0; i < countIn(h); ++i) x[i] = levels[h * kLanes + i];
                log[h].reduce(x);
            } else if constexpr (k == 1) {
                log[h].series();
            } else if constexpr (k == 2) {
                log[h].finish(lg[h]);
            } else if constexpr (k == 3) {
                // float(double(a) op double(b)) for floats a and b is the float
                // operation itself: a double holds more than twice a float's
                // precision plus two bits, so rounding twice gives the correctly
                // rounded result for +, -, *, /. So these two are float operations.
                const vf level = 20.0f * lg[h];
                const vf reduced =
                    __builtin_convertvector(slopes * (__builtin_convertvector(level, vd) - thresholdsWide), vf);
                const vi below = thresholds > level;
                reduction[h] = reinterpret_cast<vf>(reinterpret_cast<vi>(reduced) & ~below);
            } else if constexpr (k == 4) {
                pow[h].reduce(reduction[h] / 20.0f);
            } else if constexpr (k == 5) {
                pow[h].series();
            } else if constexpr (k == 6) {
                pow[h].finish(gain[h]);
            } else if constexpr (k == 7) {
                if (countIn(h) == kLanes) {
                    qmsp_store(gains + h * kLanes, gain[h]);
                    qmsp_store(reductions + h * kLanes, reduction[h]);
                } else {
                    for (size_t i = 0; i < countIn(h); ++i) {
                        gains[h * kLanes + i] = gain[h][i];
                        reductions[h * kLanes + i] = reduction[h][i];
                    }
                }
            }
        }

        // The literal computation for the frames the kernels left undecided.
        void askLibrary() {
            for (size_t i = 0; i < count; ++i) {
                if (gains[i] == gains[i]) continue;
                const float lgLibrary = static_cast<float>(std::log10(static_cast<double>(levels[i])));
                const float levelLibrary = static_cast<float>(20.0 * lgLibrary);
                reductions[i] = threshold > levelLibrary
                                    ? 0.0f
                                    : static_cast<float>(slope * (static_cast<double>(levelLibrary) - threshold));
                gains[i] = static_cast<float>(
                    std::pow(10.0, static_cast<double>(static_cast<float>(static_cast<double>(reductions[i]) / 20.0))));
            }
        }

        float threshold;
        double slope;
        vf thresholds;
        vd thresholdsWide, slopes;
        const float* levels = nullptr;
        size_t count = 0;
        float* gains = nullptr;
        float* reductions = nullptr;
        Log10Steps log[kHalves];
        Pow10Steps pow[kHalves];
        vf lg[kHalves], reduction[kHalves], gain[kHalves];
    };
};

}  // namespace qmsp_fastmath
