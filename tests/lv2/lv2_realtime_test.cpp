// run() under watch: this program puts its own allocator, mutex, file, sleep
// and yield functions in front of the C library's (the plug-in, loaded later,
// binds to them), and counts every call made while run() runs. Whatever a
// block does (ports, MIDI through bindings, learning and its completion,
// messages, the notify port, the inline display's redraw requests, mono and
// stereo), the count stays 0. Not built with the sanitizers, which put their
// own allocator in front.
#include "lv2_host.h"

#include <atomic>
#include <cstdio>

#include "support/realtime_watch.h"
#include "support/temp_folder.h"

using realtime_watch::calls;
using realtime_watch::lastCall;
using realtime_watch::watching;

namespace {

// The calls `body` makes; only those inside run() when `onlyInRun`.
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
