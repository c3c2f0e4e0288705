// Watches the C library's allocator, mutexes, file and sleep calls: the test
// program that includes this (in one source) puts its own versions in front
// of the C library's, which the code under test binds to, and counts every
// call made while watching. Not for builds with the sanitizers, which put
// their own allocator in front.
#pragma once

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
}

namespace realtime_watch {

inline std::atomic<bool> watching{false};
inline std::atomic<int> calls{0};
inline std::atomic<const char*> lastCall{""};

inline void note(const char* what) {
    if (!watching.load(std::memory_order_relaxed)) return;
    calls.fetch_add(1, std::memory_order_relaxed);
    lastCall.store(what, std::memory_order_relaxed);
}

template <class F>
F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Counts the calls `body` makes.
template <class Body>
int callsOf(Body body) {
    calls = 0;
    watching = true;
    body();
    watching = false;
    return calls.load();
}

}  // namespace realtime_watch

extern "C" {

using realtime_watch::note;
using realtime_watch::real;

void* malloc(size_t size) {
    note("malloc");
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    note("calloc");
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
    note("realloc");
    return __libc_realloc(p, size);
}
void free(void* p) {
    if (p) note("free");
    __libc_free(p);
}
void* memalign(size_t alignment, size_t size) {
    note("memalign");
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    note("aligned_alloc");
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    note("posix_memalign");
    *out = __libc_memalign(alignment, size);
    return *out ? 0 : 12;
}

int pthread_mutex_lock(pthread_mutex_t* m) {
    note("pthread_mutex_lock");
    static const auto lock = real<int (*)(pthread_mutex_t*)>("pthread_mutex_lock");
    return lock(m);
}
int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
    note("pthread_cond_wait");
    static const auto wait = real<int (*)(pthread_cond_t*, pthread_mutex_t*)>("pthread_cond_wait");
    return wait(c, m);
}
FILE* fopen(const char* path, const char* mode) {
    note("fopen");
    static const auto open = real<FILE* (*)(const char*, const char*)>("fopen");
    return open(path, mode);
}
int rename(const char* from, const char* to) {
    note("rename");
    static const auto move = real<int (*)(const char*, const char*)>("rename");
    return move(from, to);
}
int fsync(int fd) {
    note("fsync");
    static const auto sync = real<int (*)(int)>("fsync");
    return sync(fd);
}
int nanosleep(const struct timespec* duration, struct timespec* left) {
    note("nanosleep");
    static const auto sleep = real<int (*)(const struct timespec*, struct timespec*)>("nanosleep");
    return sleep(duration, left);
}
int sched_yield() {
    note("sched_yield");
    static const auto yield = real<int (*)()>("sched_yield");
    return yield();
}

}  // extern "C"
