// Hosts leave the floating-point unit in whatever state suits them: flush-to-zero
// and denormals-are-zero set, another rounding mode, or (on 32-bit x86) a
// reduced x87 precision that the maths library inherits. Tolvane's results are
// defined by float32/double IEEE arithmetic, so each call from the host runs
// under the default environment and the host's is restored on return.
// Neither step allocates or waits; it is safe on the audio thread.
#pragma once

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_IX86)
#include <xmmintrin.h>
#define TOLVANE_HAS_MXCSR 1
#endif

class ScopedFloatingPointEnvironment {
public:
    ScopedFloatingPointEnvironment() {
#if TOLVANE_HAS_MXCSR
        // All exceptions masked, round to nearest, no flush-to-zero, no
        // denormals-are-zero. The six sticky exception flags are left as they are.
        savedMxcsr = _mm_getcsr();
        if ((savedMxcsr & ~flagBits) != defaultMxcsr) _mm_setcsr(defaultMxcsr | (savedMxcsr & flagBits));
#endif
#if defined(__i386__)
        // The x87 unit is used by the 32-bit maths library: 64-bit precision,
        // round to nearest, all exceptions masked.
        __asm__ volatile("fnstcw %0" : "=m"(savedX87));
        if (savedX87 != defaultX87) {
            unsigned short control = defaultX87;
            __asm__ volatile("fldcw %0" : : "m"(control));
        }
#endif
    }
    ~ScopedFloatingPointEnvironment() {
#if defined(__i386__)
        if (savedX87 != defaultX87) {
            // Our arithmetic leaves x87 status flags (inexact at least); a host
            // that unmasks exceptions would fault on its next x87 instruction.
            __asm__ volatile("fnclex");
            __asm__ volatile("fldcw %0" : : "m"(savedX87));
        }
#endif
#if TOLVANE_HAS_MXCSR
        if ((savedMxcsr & ~flagBits) != defaultMxcsr) _mm_setcsr((savedMxcsr & ~flagBits) | (_mm_getcsr() & flagBits));
#endif
    }
    ScopedFloatingPointEnvironment(const ScopedFloatingPointEnvironment&) = delete;
    ScopedFloatingPointEnvironment& operator=(const ScopedFloatingPointEnvironment&) = delete;

private:
#if TOLVANE_HAS_MXCSR
    static constexpr unsigned defaultMxcsr = 0x1F80u;
    static constexpr unsigned flagBits = 0x3Fu;
    unsigned savedMxcsr;
#endif
#if defined(__i386__)
    static constexpr unsigned short defaultX87 = 0x037F;
    unsigned short savedX87;
#endif
};
