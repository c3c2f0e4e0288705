// The calling thread, as a number to compare with another thread's. Asking
// neither allocates nor enters the system, so the audio thread may ask.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace platform {

inline uintptr_t currentThread() {
#if defined(_WIN32)
    return GetCurrentThreadId();
#else
    return static_cast<uintptr_t>(pthread_self());
#endif
}

}  // namespace platform
