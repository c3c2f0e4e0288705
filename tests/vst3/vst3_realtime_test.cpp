// process() under watch, with the adapter linked in: whatever a block brings
// (parameter points, a program, the bypass fading, stand-ins driving bound
// parameters, a learn completed, a key), mono or stereo, it calls no allocator,
// lock, file or sleep function, and what it reports goes into the host's
// queues. Not built with the sanitizers.
#include "CHighlightFrame.h"
#include "TolvaneEditor.h"
#include "TolvaneVst3.h"
#include "TolvaneVst3View.h"
#include "support/temp_folder.h"
#include "vst3_host.h"

#include <gtest/gtest.h>
// Last: its definitions follow the C library's declarations.
#include "support/realtime_watch.h"

namespace {

using namespace vst3host;
constexpr ParamID kBypass = 100, kProgram = 101, kFirstController = 1000;

TEST(Vst3Realtime, ProcessCallsNoAllocatorLockFileOrSleep) {
    TempFolder folder;
    const std::string settings = useSettingsRoot(folder.path());
    std::filesystem::create_directories(settings);
    writeText(settings + "/Tolvane MIDI Assignments.txt", "0 20\n5 21\n3 21\n");
    platform::useHeadlessWindows(true);
    Module linked(tolvaneVst3Factory());
    Instance stereo(linked, 2), mono(linked, 1);
    ASSERT_TRUE(stereo && mono && stereo.activateKey(1) && mono.activateKey(1));
    // Learning armed through the editor, so that a block completes it.
    IPlugView* view = stereo.controller->createView("editor");
    ASSERT_EQ(view->attached(nullptr, kPlatformType), kResultOk);
    static_cast<TolvaneVst3View*>(view)->editor().getFrame()->mouseDown(
        250, 100, platform::kLeftButton | platform::kControl | platform::kShift);

    std::vector<float> left(4096), right(4096);
    for (size_t n = 0; n < left.size(); ++n) left[n] = right[n] = n % 50 < 25 ? 0.9f : -0.9f;
    const std::vector<float> key(4096, 0.5f);
    stereo.key[0] = mono.key[0] = key.data();
    auto block = [&](Instance& plugin, int32_t frames, auto fill) {
        ParameterChanges in, out;
        fill(in);
        for (ParamID id = 0; id < 7; ++id) out.add(id, 0, 0.0), out.queues.back().points.reserve(16);
        for (auto& q : out.queues) q.points.clear();
        int count = realtime_watch::callsOf(
            [&] { plugin.process(left.data(), right.data(), left.data(), right.data(), frames, in, out); });
        EXPECT_EQ(count, 0) << realtime_watch::lastCall.load();
        return out.all().size();
    };
    for (Instance* plugin : {&stereo, &mono}) {
        block(*plugin, 4096, [](ParameterChanges& in) {
            in.add(kProgram, 100, 0.5);
            for (ParamID id = 0; id < 7; ++id) in.add(id, int32_t(200 + id), 0.9);
            in.add(kFirstController + 20, 300, 0.5);
            in.add(kFirstController + 21, 301, 1.0);
            in.add(kBypass, 4000, 1.0);
        });
        // The bypass fades in parts the size of the input's copy; a controller is learned meanwhile.
        const size_t told = block(*plugin, 4096, [](ParameterChanges& in) {
            in.add(kFirstController + 30, 10, 0.1);
            in.add(kFirstController + 30, 11, 0.2);
            in.add(2, 3000, 0.1);
        });
        EXPECT_EQ(told, 0u) << "a learn sets no value";
        EXPECT_EQ(block(*plugin, 0, [](ParameterChanges& in) { in.add(kFirstController + 20, 0, 1.0); }), 1u)
            << "a block of no frames applies its changes and tells them";
    }
    EXPECT_FALSE(stereo.as<IEditController>() == nullptr);
    view->removed();
    view->release();
    platform::useHeadlessWindows(false);
}

TEST(Vst3Realtime, TheWatchSeesTheAllocator) {
    void* (*volatile allocate)(size_t) = malloc;
    EXPECT_EQ(realtime_watch::callsOf([&] { free(allocate(16)); }), 2);
}

}  // namespace
