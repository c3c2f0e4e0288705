// qmsp_vector: the vocabulary of the vector code in dsp/ and the audio path.
// Vectors of W lanes, loaded and stored at any alignment, and the branch-free
// choices between two values that the per-frame recursions make.
//
// Vectors are the compiler's own vector types, spelled out per W (the compiler
// ignores a vector_size that depends on a template parameter): W = 4 floats
// fill an SSE register and their doubles two; W = 8 floats fill an AVX
// register and their doubles two; W = 2 doubles fill an SSE register. The
// floats must fit one register: wider, the compiler splits comparisons lane
// by lane. A comparison gives a mask of the lanes' width, all bits set where
// it holds.
//
// The vector helpers are always inlined (QMSP_ALWAYS_INLINE), so a caller
// compiled for AVX2 gets AVX2 code and the same bits, and they take vectors
// by reference: no call ever hands one over by value, whose ABI differs
// between instruction sets.
#pragma once

#include <cstddef>
#include <cstdint>

// For code whose speed depends on being inlined into its caller's loop.
#define QMSP_ALWAYS_INLINE __attribute__((always_inline))

// vf, vi: W floats and W int32 (a comparison of floats); vd, vl: W doubles and
// W int64; vfInMemory: W floats in memory at any alignment.
template <size_t W>
struct qmsp_vectors;
template <>
struct qmsp_vectors<2> {  // doubles only: one SSE register of them
    typedef double vd __attribute__((vector_size(16)));
    typedef int64_t vl __attribute__((vector_size(16)));
};
template <>
struct qmsp_vectors<4> {
    typedef double vd __attribute__((vector_size(32)));
    typedef float vf __attribute__((vector_size(16)));
    typedef float vfInMemory __attribute__((vector_size(16), aligned(4), may_alias));
    typedef int32_t vi __attribute__((vector_size(16)));
    typedef int64_t vl __attribute__((vector_size(32)));
};
template <>
struct qmsp_vectors<8> {
    typedef double vd __attribute__((vector_size(64)));
    typedef float vf __attribute__((vector_size(32)));
    typedef float vfInMemory __attribute__((vector_size(32), aligned(4), may_alias));
    typedef int32_t vi __attribute__((vector_size(32)));
    typedef int64_t vl __attribute__((vector_size(64)));
};

// W floats from memory and back, at any alignment, straight into and out of a
// register. (A memcpy into a vector variable may go through the stack in
// halves, and loading the whole right after storing its halves stalls.)
template <class Floats>
QMSP_ALWAYS_INLINE inline void qmsp_load(const float* from, Floats& to) {
    to = *reinterpret_cast<const typename qmsp_vectors<sizeof(Floats) / sizeof(float)>::vfInMemory*>(from);
}
template <class Floats>
QMSP_ALWAYS_INLINE inline void qmsp_store(float* to, const Floats& v) {
    *reinterpret_cast<typename qmsp_vectors<sizeof(Floats) / sizeof(float)>::vfInMemory*>(to) = v;
}

// Whether any lane of a comparison of 4 or 8 floats holds, within registers.
template <class Mask>
QMSP_ALWAYS_INLINE inline bool qmsp_anyLane(const Mask& lanes) {
    constexpr size_t W = sizeof(Mask) / sizeof(int32_t);
    Mask mask = lanes;
    if constexpr (W == 8) {
        mask |= __builtin_shufflevector(mask, mask, 4, 5, 6, 7, 0, 1, 2, 3);
        mask |= __builtin_shufflevector(mask, mask, 2, 3, 0, 1, 6, 7, 4, 5);
        mask |= __builtin_shufflevector(mask, mask, 1, 0, 3, 2, 5, 4, 7, 6);
    } else {
        static_assert(W == 4);
        mask |= __builtin_shufflevector(mask, mask, 2, 3, 0, 1);
        mask |= __builtin_shufflevector(mask, mask, 1, 0, 3, 2);
    }
    return mask[0] != 0;
}

// The lanes of v that hold zero, a denormal, an infinity or NaN (all exponent
// bits clear, or all set), whatever their sign.
template <class Floats, class Mask>
QMSP_ALWAYS_INLINE inline void qmsp_unfitLanes(const Floats& v, Mask& unfit) {
    const Mask exponent = reinterpret_cast<Mask>(v) & 0x7F800000;
    unfit = (exponent == 0) | (exponent == 0x7F800000);
}

// The choices between two computed values that the audio path makes without a
// branch: which way they go depends on the signal, and a mispredicted branch
// costs more than the arithmetic of both sides. Each works on the lowest lane
// of the SSE registers that hold the values, so that the compiler can neither
// turn it into a jump nor move the values out of the floating-point unit; the
// other lanes are whatever the registers held, and never read. A comparison
// with a NaN is false, as in C++.
template <class T>
struct qmsp_register;  // one SSE register of Ts, and the mask a comparison of two gives
template <>
struct qmsp_register<float> {
    typedef qmsp_vectors<4>::vf lanes;
    typedef qmsp_vectors<4>::vi mask;
};
template <>
struct qmsp_register<double> {
    typedef qmsp_vectors<2>::vd lanes;
    typedef qmsp_vectors<2>::vl mask;
};

// x in the lowest lane of a register, as it is. (Clang, which builds only the
// fuzzing targets, fails on the empty statement; it gets zeroed lanes.)
template <class T>
inline typename qmsp_register<T>::lanes qmsp_lane(T x) {
#if defined(__SSE2__) && !defined(__clang__)
    typename qmsp_register<T>::lanes v;
    __asm__("" : "=x"(v) : "0"(x));
    return v;
#else
    return typename qmsp_register<T>::lanes{x};
#endif
}

// x < y ? ifLess : otherwise, for floats or doubles
template <class T>
inline T qmsp_selectLess(T x, T y, T ifLess, T otherwise) {
    using mask = typename qmsp_register<T>::mask;
    const mask less = qmsp_lane(x) < qmsp_lane(y);
    const mask chosen =
        (reinterpret_cast<mask>(qmsp_lane(ifLess)) & less) | (reinterpret_cast<mask>(qmsp_lane(otherwise)) & ~less);
    return reinterpret_cast<typename qmsp_register<T>::lanes>(chosen)[0];
}

// a > b ? a : b, the processor's own maximum (b when either is NaN).
inline float qmsp_max(float a, float b) {
    const qmsp_register<float>::lanes va = qmsp_lane(a), vb = qmsp_lane(b);
    return (va > vb ? va : vb)[0];
}

// +0 where x is zero, denormal, infinite or NaN; x otherwise.
inline float qmsp_flushUnfit(float x) {
    const qmsp_register<float>::lanes v = qmsp_lane(x);
    qmsp_register<float>::mask unfit;
    qmsp_unfitLanes(v, unfit);
    return reinterpret_cast<qmsp_register<float>::lanes>(reinterpret_cast<qmsp_register<float>::mask>(v) & ~unfit)[0];
}
