// process() and flush() on the audio thread under watch, as for LV2: this
// program puts its own allocator, mutex, file and sleep functions in front of
// the C library's and counts the calls made inside the plug-in's process().
// Whatever a block carries (automation, MIDI through the bindings, a learn
// completing, the editor's gestures on their way to the host, mono or
// stereo), the count stays 0. Not built with the sanitizers, which put their
// own allocator in front.
#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <cstdio>

#include "CHighlightFrame.h"
#include "EditorWindow.h"
#include "TolvaneClap.h"
#include "clap_host.h"
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

const clap::PluginEntry linkedEntry{clap::kVersion, tolvane_clap::entryInit, tolvane_clap::entryDeinit,
                                    tolvane_clap::entryFactory};

TEST(ClapRealtime, ProcessCallsNoAllocatorLockFileOrSleep) {
    TempFolder folder;
    const std::string settings = useSettingsRoot(folder.path());
    std::filesystem::create_directories(settings);
    writeText(settings + "/Tolvane MIDI Assignments.txt", "0 20\n5 21\n");
    platform::useHeadlessWindows(true);
    ClapLibrary linked(linkedEntry);
    ClapInstance stereo(linked, tolvane_clap::kStereoId), mono(linked, tolvane_clap::kMonoId);
    ASSERT_TRUE(stereo && mono);
    auto watchProcess = [](bool entering) { watching = entering; };
    stereo.aroundProcess = mono.aroundProcess = watchProcess;
    ASSERT_TRUE(stereo.activate() && mono.activate());
    std::vector<float> left(4096), right(4096), outLeft(4096), outRight(4096);
    for (size_t n = 0; n < left.size(); ++n) left[n] = right[n] = (n % 50 < 25 ? 0.9f : -0.9f);
    ClapEventLists lists;
    auto runBoth = [&](uint32_t frames) {
        calls = 0;
        lists.out.clear();
        stereo.process(left.data(), right.data(), outLeft.data(), outRight.data(), frames, lists);
        lists.out.clear();
        mono.process(left.data(), nullptr, outLeft.data(), nullptr, frames, lists);
        return calls.load();
    };

    // Automation and MIDI through the bindings, with their values told back.
    lists.in = {ClapEvent::value(0, 1, 0.9), ClapEvent::midiMessage(5, 0xB0, 20, 100), ClapEvent::value(7, 3, 0.2),
                ClapEvent::midiMessage(9, 0xB3, 21, 64)};
    EXPECT_EQ(runBoth(4096), 0) << lastCall.load();
    // A learn completing asks the host for the main thread.
    for (ClapInstance* p : {&stereo, &mono}) tolvane_clap::TolvaneClap::of(p->plugin)->getEngine().toggleLearn(3);
    lists.in = {ClapEvent::midiMessage(0, 0xB0, 31, 1), ClapEvent::midiMessage(1, 0xB0, 31, 2)};
    EXPECT_EQ(runBoth(64), 0) << lastCall.load();
    EXPECT_EQ(stereo.host.callbackRequests, 1);
    // The editor's gesture goes out with the next block.
    const auto* gui = stereo.ext<clap::PluginGui>(clap::kExtGui);
    const clap::Window parent{clap::kWindowApiX11, {nullptr}};
    ASSERT_TRUE(gui->create(stereo.plugin, clap::kWindowApiX11, false) && gui->setParent(stereo.plugin, &parent));
    CHighlightFrame* frame = tolvane_clap::TolvaneClap::of(stereo.plugin)->getEditor().getFrame();
    frame->mouseDown(250, 100, platform::kLeftButton);
    frame->mouseMoved(250, 60, platform::kLeftButton);
    frame->mouseUp(250, 60, platform::kLeftButton);
    lists.in.clear();
    calls = 0;
    stereo.process(left.data(), right.data(), outLeft.data(), outRight.data(), 512, lists);
    EXPECT_EQ(calls.load(), 0) << lastCall.load();
    EXPECT_EQ(lists.out.size(), 3u);
    EXPECT_EQ(runBoth(0), 0) << lastCall.load();
    gui->destroy(stereo.plugin);
    platform::useHeadlessWindows(false);
}

TEST(ClapRealtime, TheWatchSeesTheAllocator) {
    void* (*volatile allocate)(size_t) = malloc;
    watching = true;
    calls = 0;
    free(allocate(16));
    watching = false;
    EXPECT_EQ(calls.load(), 2);
}

}  // namespace
