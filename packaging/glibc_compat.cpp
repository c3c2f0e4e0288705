// Older glibc symbol versions for the binaries we hand out, so that they load on
// systems older than the one that built them. Linked into the shipped binaries
// only, each with -Wl,--wrap=SYMBOL: every reference to SYMBOL, ours or the
// static C++ runtime's, goes to __wrap_SYMBOL here, which reaches the same
// service through a version that older systems have.
//
//   stat, fstat, lstat      GLIBC_2.33  ->  __xstat, __fxstat, __lxstat@GLIBC_2.2.5, what they
//   and their *64 forms                     called until 2.33 (and __*xstat64, the same layout here)
//   pthread_once            GLIBC_2.34  ->  pthread_once@GLIBC_2.2.5 (in libpthread before 2.34),
//                                           which the C++ runtime's std::call_once names
//   __libc_single_threaded  GLIBC_2.32  ->  a 0 of our own: the C++ runtime then always takes its
//                                           thread-safe paths, as it did before 2.32
//   arc4random              GLIBC_2.36  ->  getrandom (GLIBC_2.25): the C++ runtime's
//                                           std::random_device names it; nothing of ours draws
//                                           random numbers, but the name alone raises the floor
//
// exp, log and pow stay at GLIBC_2.29 (see glibc_compat_program.cpp for the programs' own symbols):
// their older versions exist, but glibc before 2.28 computes them with other code whose last bit
// can differ, and the audio path's coefficients and its fast path's exact fall-backs use them.
#if defined(__x86_64__) && defined(__linux__)
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>

extern "C" {

int tolvane_xstat(int version, const char* path, struct stat* buffer);
int tolvane_fxstat(int version, int fd, struct stat* buffer);
int tolvane_lxstat(int version, const char* path, struct stat* buffer);
__asm__(".symver tolvane_xstat, __xstat@GLIBC_2.2.5");
__asm__(".symver tolvane_fxstat, __fxstat@GLIBC_2.2.5");
__asm__(".symver tolvane_lxstat, __lxstat@GLIBC_2.2.5");

// 1: the layout of struct stat on x86_64 (_STAT_VER).
int __wrap_stat(const char* path, struct stat* buffer) { return tolvane_xstat(1, path, buffer); }
int __wrap_fstat(int fd, struct stat* buffer) { return tolvane_fxstat(1, fd, buffer); }
int __wrap_lstat(const char* path, struct stat* buffer) { return tolvane_lxstat(1, path, buffer); }

int tolvane_xstat64(int version, const char* path, struct stat64* buffer);
int tolvane_fxstat64(int version, int fd, struct stat64* buffer);
int tolvane_lxstat64(int version, const char* path, struct stat64* buffer);
__asm__(".symver tolvane_xstat64, __xstat64@GLIBC_2.2.5");
__asm__(".symver tolvane_fxstat64, __fxstat64@GLIBC_2.2.5");
__asm__(".symver tolvane_lxstat64, __lxstat64@GLIBC_2.2.5");
int __wrap_stat64(const char* path, struct stat64* buffer) { return tolvane_xstat64(1, path, buffer); }
int __wrap_fstat64(int fd, struct stat64* buffer) { return tolvane_fxstat64(1, fd, buffer); }
int __wrap_lstat64(const char* path, struct stat64* buffer) { return tolvane_lxstat64(1, path, buffer); }

int tolvane_pthread_once(pthread_once_t* once, void (*routine)());
__asm__(".symver tolvane_pthread_once, pthread_once@GLIBC_2.2.5");
int __wrap_pthread_once(pthread_once_t* once, void (*routine)()) { return tolvane_pthread_once(once, routine); }

// Read where the C++ runtime asks whether the process has only one thread.
__attribute__((visibility("hidden"))) char __wrap___libc_single_threaded = 0;

uint32_t __wrap_arc4random() {
    uint32_t value = 0;
    while (getrandom(&value, sizeof value, 0) < 0 && errno == EINTR) {
    }
    return value;
}

}  // extern "C"
#endif
