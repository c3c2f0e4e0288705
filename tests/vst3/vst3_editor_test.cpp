// The VST3 editor, headless, with the adapter linked into the test: the
// recorded pictures at the host's scale (outside the Key switch, which they
// lack), gestures and the host's changes, the
// host's run loop, a size the user picks, learning through the stand-ins, and
// the audio and user-interface threads at work together.
#include <atomic>
#include <thread>

#include "CHighlightFrame.h"
#include "EditorScale.h"
#include "EditorWindow.h"
#include "TolvaneEditor.h"
#include "TolvaneVst3.h"
#include "TolvaneVst3View.h"
#include "support/golden_picture.h"
#include "support/settings_test.h"
#include "vst3_host.h"

#include <gtest/gtest.h>

namespace {

using namespace vst3host;
using platform::kControl;
using platform::kLeftButton;
using platform::kShift;
constexpr ParamID kProgram = 101, kFirstController = 1000;

class Vst3Editor : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        platform::useHeadlessWindows(true);
    }
    void TearDown() override {
        close();
        platform::useHeadlessWindows(false);
    }
    void open(Instance& plugin, float scale = 0.0f) {
        view = plugin.controller->createView("editor");
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(plugin.controller->createView("editor"), nullptr) << "one editor at a time";
        if (scale != 0.0f) {
            auto* scaling = query<IPlugViewContentScaleSupport>(view);
            ASSERT_NE(scaling, nullptr);
            EXPECT_EQ(scaling->setContentScaleFactor(scale), kResultTrue);
        }
        view->setFrame(&frame);
        ASSERT_EQ(view->attached(nullptr, kPlatformType), kResultOk);
        frame.idle();  // the meter takes its value, and shows it at the next
        frame.idle();
    }
    void close() {
        if (!view) return;
        view->removed();
        view->release();
        view = nullptr;
    }
    TolvaneEditor& editor() { return static_cast<TolvaneVst3View*>(view)->editor(); }
    CHighlightFrame& panel() { return *editor().getFrame(); }
    std::vector<uint32_t> picture() {
        return static_cast<platform::HeadlessWindow*>(panel().getPlatformWindow())->getPicture();
    }
    bool showsGolden(const std::string& name, int32_t percent) {
        return matchesGoldenBesideKeySwitch(picture(), name, percent);
    }
    ViewRect size() {
        ViewRect r{};
        EXPECT_EQ(view->getSize(&r), kResultOk);
        return r;
    }

    Module linked{tolvaneVst3Factory()};
    Frame frame;
    IPlugView* view = nullptr;
};

TEST_F(Vst3Editor, ShowsTheRecordedPicturesAtTheHostsScale) {
    std::vector<float> silence(64), sink(64);
    for (int32_t program : {1, 2, 3, 4}) {
        Instance plugin(linked);
        plugin.changes.add(kProgram, 0, program / 4.0);
        plugin.process(silence.data(), silence.data(), sink.data(), sink.data(), 64);
        open(plugin);
        EXPECT_TRUE(showsGolden("program-" + std::to_string(program), 100)) << "program " << program;
        close();
    }
    Instance plugin(linked);
    open(plugin, 2.0f);
    EXPECT_EQ(size().right, 1500);
    EXPECT_EQ(size().bottom, 400);
    EXPECT_TRUE(showsGolden("program-0-200", 200)) << "at 200 %";
}

TEST_F(Vst3Editor, GesturesReachTheHostAndAChosenSizeResizesItsWindow) {
    Instance plugin(linked);
    open(plugin);
#if !defined(_WIN32)
    ASSERT_EQ(frame.timers.size(), 1u) << "idled by the host's run loop";
    EXPECT_EQ(frame.interval, 30u);
#endif
    panel().mouseDown(250, 100, kLeftButton);
    panel().mouseMoved(250, 60, kLeftButton);
    panel().mouseUp(250, 60, kLeftButton);
    const float knob = editor().getControl(2)->getValue();
    EXPECT_EQ(plugin.handler.log, (std::vector<std::string>{"begin 2", "end 2"}));
    ASSERT_FALSE(plugin.handler.edits.empty());
    EXPECT_EQ(plugin.handler.edits.back(), (std::pair<ParamID, ParamValue>{2, knob}));
    EXPECT_EQ(plugin.controller->getParamNormalized(2), knob) << "the controller knows at once";
    plugin.controller->setParamNormalized(4, 0.25);
    frame.idle();
    EXPECT_EQ(editor().getControl(4)->getValue(), 0.25f) << "the host's change shows";

    // The user picks 150 %: the host is asked and the panel opens again at that size.
    editor().chooseScale(150);
    ASSERT_EQ(frame.resizes.size(), 1u);
    EXPECT_EQ(frame.resizes[0].right, 1125);
    EXPECT_EQ(frame.resizes[0].bottom, 300);
    EXPECT_EQ(size().right, 1125);
    EXPECT_EQ(picture().size(), 1125u * 300u);
    frame.accept = false;
    editor().chooseScale(200);
    EXPECT_EQ(frame.resizes.size(), 2u);
    EXPECT_EQ(size().right, 1125) << "a host that refuses keeps the panel as it is";
    close();
#if !defined(_WIN32)
    EXPECT_TRUE(frame.timers.empty()) << "the view leaves the run loop";
#endif
}

TEST_F(Vst3Editor, LearningTakesEveryControllerThroughItsStandIn) {
    Instance plugin(linked);
    auto* midi = plugin.as<IMidiMapping>();
    ASSERT_NE(midi, nullptr);
    open(plugin);
    panel().mouseDown(520, 100, kLeftButton | kControl | kShift);  // Sensitivity
    ASSERT_FALSE(plugin.handler.restarts.empty());
    EXPECT_EQ(plugin.handler.restarts.back(), kMidiCCAssignmentChanged);
    ParamID id = 0;
    midi->getMidiControllerAssignment(0, 0, 30, id);
    EXPECT_EQ(id, kFirstController + 30);

    // The controller twice in a row binds it, on the audio thread; the next idle writes the file.
    std::vector<float> silence(64), sink(64);
    plugin.changes.add(kFirstController + 30, 0, 10 / 127.0);
    plugin.changes.add(kFirstController + 30, 5, 20 / 127.0);
    plugin.process(silence.data(), silence.data(), sink.data(), sink.data(), 64);
    plugin.handler.restarts.clear();
    frame.idle();
    std::string written = readText(settings + "/Tolvane MIDI Assignments.txt");
    std::erase(written, '\r');  // Windows' line ends on Windows
    EXPECT_EQ(written, "3 30\n");
    EXPECT_EQ(plugin.handler.restarts, (std::vector<int32_t>{kMidiCCAssignmentChanged}));
    midi->getMidiControllerAssignment(0, 9, 30, id);
    EXPECT_EQ(id, 3u) << "bound now, so mapped to its parameter";
    EXPECT_EQ(panel().getHighlightedView(), nullptr) << "the outline went";
}

#if defined(_WIN32)
// A real child window of the host's (under Wine, on the tests' X server): at
// the panel's size, idled by the thread's timer, gone once the view is removed.
TEST_F(Vst3Editor, EmbedsAWindowInTheHostsWindow) {
    platform::useHeadlessWindows(false);
    WNDCLASSA hostClass{};
    hostClass.lpfnWndProc = DefWindowProcA;
    hostClass.hInstance = GetModuleHandleA(nullptr);
    hostClass.lpszClassName = "TolvaneVst3TestHost";
    RegisterClassA(&hostClass);
    HWND host = CreateWindowA(hostClass.lpszClassName, "host", WS_POPUP | WS_VISIBLE, 0, 0, 800, 300, nullptr, nullptr,
                              hostClass.hInstance, nullptr);
    ASSERT_NE(host, nullptr) << GetLastError();
    Instance plugin(linked);
    view = plugin.controller->createView("editor");
    view->setFrame(&frame);
    ASSERT_EQ(view->attached(host, kPlatformTypeHWND), kResultOk);
    HWND child = GetWindow(host, GW_CHILD);
    ASSERT_NE(child, nullptr);
    RECT r{};
    GetClientRect(child, &r);
    EXPECT_EQ(r.right, 750);
    EXPECT_EQ(r.bottom, 200);
    plugin.controller->setParamNormalized(4, 0.25);
    frame.idle();
    EXPECT_EQ(editor().getControl(4)->getValue(), 0.25f) << "idled by the timer";
    close();
    EXPECT_EQ(GetWindow(host, GW_CHILD), nullptr);
    DestroyWindow(host);
}
#endif

// For ThreadSanitizer above all: what a host does on both threads at once.
TEST_F(Vst3Editor, AudioAndUserInterfaceThreadsTogether) {
    writeText(settings + "/Tolvane MIDI Assignments.txt", "0 20\n");
    Instance plugin(linked);
    plugin.handler.forward = nullptr;
    open(plugin);
    std::atomic<bool> done{false};
    std::thread audio([&] {
        std::vector<float> left(256, 0.5f), right(256, -0.5f);
        for (int block = 0; !done; ++block) {
            ParameterChanges in, out;
            in.add(ParamID(block % 6), block % 256, (block % 100) / 100.0);
            in.add(kFirstController + 20, 10, (block % 128) / 127.0);
            if (block % 50 == 0) in.add(kProgram, 0, (block / 50 % 5) / 4.0);
            plugin.process(left.data(), right.data(), left.data(), right.data(), 256, in, out);
        }
    });
    for (int i = 0; i < 60; ++i) {
        if (i % 5 == 0) frame.idle();
        plugin.controller->setParamNormalized(ParamID(i % 6), (i % 10) / 10.0);
        plugin.text(ParamID(i % 6), 0.5);
        panel().mouseDown(250, 100, kLeftButton);
        panel().mouseMoved(250, 100 - i % 30, kLeftButton);
        panel().mouseUp(250, 100 - i % 30, kLeftButton);
        if (i % 20 == 0) panel().mouseDown(520, 100, kLeftButton | kControl | kShift);
        plugin.state();
    }
    done = true;
    audio.join();
}

}  // namespace
