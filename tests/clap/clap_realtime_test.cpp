// process() and flush() on the audio thread under watch, as for LV2: this
// program puts its own allocator, mutex, file and sleep functions in front of
// the C library's and counts the calls made inside the plug-in's process().
// Whatever a block carries (automation, MIDI through the bindings, a learn
// completing, the editor's gestures on their way to the host, mono or
// stereo), the count stays 0. Not built with the sanitizers, which put their
// own allocator in front.

#include <cstdio>

#include "CHighlightFrame.h"
#include "EditorWindow.h"
#include "TolvaneClap.h"
#include "clap_host.h"
#include "support/realtime_watch.h"
#include "support/temp_folder.h"

using realtime_watch::calls;
using realtime_watch::lastCall;
using realtime_watch::watching;

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
    const float* key[2] = {right.data(), left.data()};
    auto runBoth = [&](uint32_t frames) {
        calls = 0;
        lists.out.clear();
        stereo.process(left.data(), right.data(), outLeft.data(), outRight.data(), frames, lists, key, 2);
        lists.out.clear();
        mono.process(left.data(), nullptr, outLeft.data(), nullptr, frames, lists, key, 1);
        return calls.load();
    };

    // Automation and MIDI through the bindings, with their values told back; the key drives the detector.
    lists.in = {ClapEvent::value(0, 6, 1.0), ClapEvent::value(0, 1, 0.9), ClapEvent::midiMessage(5, 0xB0, 20, 100),
                ClapEvent::value(7, 3, 0.2), ClapEvent::midiMessage(9, 0xB3, 21, 64)};
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
