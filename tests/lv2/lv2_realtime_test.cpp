// run() under watch: this program puts its own allocator, mutex, file, sleep
// and yield functions in front of the C library's (the plug-in, loaded later,
// binds to them), and counts every call made while run() runs. Whatever a
// block does (ports, MIDI through bindings, learning and its completion,
// messages, the notify port, the inline display's redraw requests, mono and
// stereo), the count stays 0. Not built with the sanitizers, which put their
// own allocator in front.
#include "lv2_host.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "support/temp_folder.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
}

namespace {

std::atomic<bool> watching{false};
std::atomic<int> calls{0};
std::atomic<const char*> lastCall{""};

void note(const char* what) {
    if (!watching.load(std::memory_order_relaxed)) return;
    calls.fetch_add(1, std::memory_order_relaxed);
    lastCall.store(what, std::memory_order_relaxed);
}

template <class F>
F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Counts the calls `body` makes; with `onlyInRun`, those the plug-in's run() makes.
template <class Body>
int watch(Body body, bool onlyInRun = false) {
    calls = 0;
    watching = !onlyInRun;
    body();
    watching = false;
    return calls.load();
}
void watchRun(bool entering) { watching = entering; }

}  // namespace

extern "C" {

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

namespace {

using namespace tolvane::lv2;

TEST(Lv2Realtime, RunCallsNoAllocatorLockFileOrSleep) {
    TempFolder folder;
    const std::string settings = useSettingsRoot(folder.path());
    std::filesystem::create_directories(settings);
    writeText(settings + "/Tolvane MIDI Assignments.txt", "0 20\n5 21\n");
    Lv2Instance stereo(false), mono(true);
    ASSERT_TRUE(stereo && mono);
    stereo.aroundRun = mono.aroundRun = watchRun;
    std::vector<float> left(4096), right(4096), outLeft(4096), outRight(4096);
    for (size_t n = 0; n < left.size(); ++n) left[n] = right[n] = (n % 50 < 25 ? 0.9f : -0.9f);
    auto runBoth = [&](uint32_t frames) {
        return watch(
            [&] {
                stereo.run(left.data(), right.data(), outLeft.data(), outRight.data(), frames);
                mono.run(left.data(), nullptr, outLeft.data(), nullptr, frames);
            },
            true);
    };

    // Ports, MIDI through the bindings, a learn toggle and a state request.
    for (Lv2Instance* p : {&stereo, &mono}) {
        for (int32_t i = 0; i < tolvane::kParameterCount; ++i) p->controls[i] = portValueOf(i, 0.9f);
        p->midi(5, 0xB0, 20, 100);
        p->midi(9, 0xB3, 21, 64);
        p->message(10, kToggleLearnUri, 3);
        p->message(11, kStateRequestUri);
    }
    EXPECT_EQ(runBoth(4096), 0) << lastCall.load();
    stereo.runWorker();
    mono.runWorker();
    // The learn completes in run(); its file write is only scheduled.
    for (Lv2Instance* p : {&stereo, &mono}) {
        p->midi(0, 0xB0, 31, 1);
        p->midi(1, 0xB0, 31, 2);
    }
    EXPECT_EQ(runBoth(1), 0) << lastCall.load();
    EXPECT_EQ(stereo.notifications.back().type, kLearnUri);
    EXPECT_GT(watch([&] { stereo.runWorker(); }), 0) << "the worker writes the file, and the watch sees it";
    mono.runWorker();
    // Loud blocks move the meter and ask for redraws; an empty block changes nothing.
    const int draws = stereo.drawRequests;
    EXPECT_EQ(runBoth(4096), 0) << lastCall.load();
    EXPECT_EQ(runBoth(0), 0) << lastCall.load();
    EXPECT_GT(stereo.drawRequests, draws);
}

TEST(Lv2Realtime, TheWatchSeesTheAllocator) {
    void* (*volatile allocate)(size_t) = malloc;
    EXPECT_EQ(watch([&] { free(allocate(16)); }), 2);
}

}  // namespace
