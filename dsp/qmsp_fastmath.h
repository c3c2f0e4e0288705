// Batched log10 and 10^x for the compressor's gain computer, rounded to float32
// exactly as float(std::log10(double(x))) and float(std::pow(10.0, double(y)))
// are, but several times faster.
//
// Each value is computed by a double-precision polynomial kernel of our own
// (error below 2^-44 relative), then rounded to float. A float rounding can
// only come out differently from the C library's when the exact result lies
// within a hair of the midpoint between two floats; where our result moved by
// 2^-40 (relative) either way would round differently, or lies outside the
// kernels' range, the C library itself is asked. So the results are the
// literal ones on any library whose log10 and pow are accurate to better than
// 2^-40, which all are; a verification program checks every float of the
// ranges the compressor reaches.
//
// The kernels (qmsp_fastmath_kernels.h) run on SSE2 everywhere, on AVX2 where
// the processor has it (chosen at run time); both give the same bits (the same
// IEEE operations, no fused multiply-add).
#pragma once

#include <cstddef>

namespace qmsp_fastmath {

// out[i] = float(log10(double(x[i]))). `out` must not be `x`; likewise below.
void log10Batch(const float* x, float* out, size_t count);
// out[i] = float(pow(10.0, double(y[i]))).
void pow10Batch(const float* y, float* out, size_t count);

// The compressor's hard-knee gain computer, for envelope levels of at least
// 1e-5, with both kernels and the arithmetic between them in vector lanes:
//   level        = float(20 * float(log10(levels[i])))
//   reductions[i] = threshold > level ? 0 : float(slope * (level - threshold))
//   gains[i]     = float(10^float(reductions[i] / 20))
void hardKneeGains(const float* levels, size_t count, float threshold, double slope, float* gains, float* reductions);

// For measurements and tests: true keeps to the baseline kernels (SSE2 on x86)
// even where the processor has AVX2; the results are the same either way.
void setBaselineOnly(bool baseline);
// Whether the AVX2 kernels are in use.
bool usesAvx2();

}  // namespace qmsp_fastmath
