// The editor in a real X window, as a Linux host shows it: the plug-in is
// loaded through its record only, its editor opened in a top-level window of
// this test, and driven with real input through XTest at screen coordinates.
// Needs an X server (the tests start Xvfb).
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "CHighlightFrame.h"
#include "EditorWindow.h"
#include "PluginHost.h"

#include "TolvaneEditor.h"
#include "support/headless_editor.h"
#include "support/temp_folder.h"

// Last: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

int hostErrors = 0;
int countHostErrors(Display*, XErrorEvent*) {
    ++hostErrors;
    return 0;
}

struct MidiEvents {
    VstInt32 numEvents = 1;
    VstIntPtr reserved = 0;
    VstEvent* events[1];
    VstMidiEvent event{};
    MidiEvents(uint8_t controller, uint8_t value) {
        event.type = kVstMidiType;
        event.byteSize = sizeof event;
        event.midiData[0] = static_cast<char>(0xB0);
        event.midiData[1] = static_cast<char>(controller);
        event.midiData[2] = static_cast<char>(value);
        events[0] = reinterpret_cast<VstEvent*>(&event);
    }
};

class X11Editor : public ::testing::Test {
protected:
    void SetUp() override {
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "no X display at DISPLAY=" << (getenv("DISPLAY") ? getenv("DISPLAY") : "");
        XSetErrorHandler(countHostErrors);
        settings = useSettingsRoot(folder.path());
        library = std::make_unique<PluginLibrary>(TOLVANE_PLUGIN_PATH);
        plugin = library->createInstance();
        ASSERT_TRUE(plugin);
        host = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 750, 200, 0, 0, 0);
        XSelectInput(display, host, StructureNotifyMask);
        XMapWindow(display, host);
        for (XEvent e; XNextEvent(display, &e), e.type != MapNotify;) {
        }
        ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)), 1);
        settle();
        plugin->calls.clear();
    }
    void TearDown() override {
        if (!display) return;
        XSync(display, False);
        if (plugin) plugin->dispatch(effEditClose);
        plugin.reset();
        XDestroyWindow(display, host);
        XCloseDisplay(display);
        EXPECT_EQ(hostErrors, 0) << "the plug-in's X errors must not reach the host";
    }

    // Idle as a host does, long enough for the X server to catch up.
    void settle(int rounds = 6) {
        for (int i = 0; i < rounds; ++i) {
            XSync(display, False);
            plugin->dispatch(effEditIdle);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    void moveTo(int x, int y) {
        XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
        settle(2);
    }
    void button(unsigned b, bool down) {
        XTestFakeButtonEvent(display, b, down, CurrentTime);
        settle(2);
    }
    void key(KeySym symbol, bool down) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, symbol), down, CurrentTime);
        XSync(display, False);
    }
    void click(int x, int y, unsigned b = 1) {
        moveTo(x, y);
        button(b, true);
        button(b, false);
    }
    void drag(int x, int y, int dx, int dy) {
        moveTo(x, y);
        button(1, true);
        moveTo(x + dx / 2, y + dy / 2);
        moveTo(x + dx, y + dy);
        button(1, false);
    }
    // What the screen shows of the editor, as 0xAARRGGBB with A = 0xFF.
    std::vector<uint32_t> capture() {
        settle();
        XImage* image = XGetImage(display, host, 0, 0, 750, 200, AllPlanes, ZPixmap);
        std::vector<uint32_t> pixels(750 * 200);
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 750; ++x)
                pixels[static_cast<size_t>(y) * 750 + x] = 0xFF000000u | static_cast<uint32_t>(XGetPixel(image, x, y));
        XDestroyImage(image);
        return pixels;
    }
    std::vector<std::pair<VstInt32, VstInt32>> edits() {
        std::vector<std::pair<VstInt32, VstInt32>> out;
        for (const HostCall& c : plugin->calls)
            if (c.opcode == audioMasterBeginEdit || c.opcode == audioMasterEndEdit || c.opcode == audioMasterAutomate)
                out.emplace_back(c.opcode, c.index);
        return out;
    }

    TempFolder folder;
    std::string settings;
    Display* display = nullptr;
    Window host = 0;
    std::unique_ptr<PluginLibrary> library;
    std::unique_ptr<PluginInstance> plugin;
};

TEST_F(X11Editor, RealInputDrivesTheKnobsAndTheHostHearsEachEdit) {
    const float ratio = plugin->getParameter(0);
    drag(60, 110, 0, -40);  // 40 pixels up: +0.2
    EXPECT_NEAR(plugin->getParameter(0), ratio + 0.2f, 1e-4f);
    const auto calls = edits();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front(), (std::pair<VstInt32, VstInt32>{audioMasterBeginEdit, 0}));
    EXPECT_EQ(calls.back(), (std::pair<VstInt32, VstInt32>{audioMasterEndEdit, 0}));
    for (size_t i = 1; i + 1 < calls.size(); ++i) EXPECT_EQ(calls[i], (std::pair<VstInt32, VstInt32>{audioMasterAutomate, 0}));
    EXPECT_EQ(plugin->calls[plugin->calls.size() - 2].opt, plugin->getParameter(0)) << "the last automation carries the value";

    const float attack = plugin->getParameter(1);
    key(XK_Shift_L, true);
    drag(155, 110, 30, 0);  // with Shift: 1/300 per pixel
    key(XK_Shift_L, false);
    EXPECT_NEAR(plugin->getParameter(1), attack + 0.1f, 1e-4f);

    key(XK_Control_L, true);
    click(250, 110);  // Ctrl+click: back to 0.5
    key(XK_Control_L, false);
    EXPECT_EQ(plugin->getParameter(2), 0.5f);

    plugin->setParameter(3, 0.5f);
    moveTo(520, 110);
    button(5, true);  // one notch toward the user
    button(5, false);
    EXPECT_NEAR(plugin->getParameter(3), 0.4f, 1e-6f);

    const float active = plugin->getParameter(5);
    click(708, 100);
    EXPECT_EQ(plugin->getParameter(5), active == 0.0f ? 1.0f : 0.0f);
    click(708, 100);
    EXPECT_EQ(plugin->getParameter(5), active == 0.0f ? 0.0f : 1.0f);

    // A whole drag arriving between two idles: the moves keep their place between press and release.
    const float before = plugin->getParameter(4);
    XTestFakeMotionEvent(display, -1, 615, 120, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeMotionEvent(display, -1, 615, 110, CurrentTime);
    XTestFakeMotionEvent(display, -1, 615, 100, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    settle();
    EXPECT_NEAR(plugin->getParameter(4), before + 0.1f, 1e-4f);

    EXPECT_EQ(capture(), headlessPicture(*plugin)) << "the window shows exactly the headless picture";
}

TEST_F(X11Editor, TheAboutScreenAndTheLearnGesture) {
    const std::vector<uint32_t> panel = capture();
    plugin->calls.clear();
    click(600, 186);
    const std::vector<uint32_t> about = capture();
    EXPECT_NE(about, panel);
    click(100, 100);
    EXPECT_EQ(capture(), panel);
    EXPECT_TRUE(edits().empty()) << "the about screen never reaches the host";

    key(XK_Control_L, true);
    key(XK_Shift_L, true);
    click(520, 110);  // arms learning for Sensitivity
    key(XK_Shift_L, false);
    key(XK_Control_L, false);
    EXPECT_EQ(capture(), headlessPicture(*plugin, 3)) << "outlined";
    for (int i = 0; i < 2; ++i) {
        MidiEvents cc(21, 100);
        plugin->dispatch(effProcessEvents, 0, 0, &cc);
    }
    settle();
    EXPECT_EQ(capture(), panel) << "bound: the outline is gone";
    MidiEvents move(21, 127);
    plugin->dispatch(effProcessEvents, 0, 0, &move);
    EXPECT_EQ(plugin->getParameter(3), 1.0f);
    EXPECT_EQ(readText(settings + "/Tolvane MIDI Assignments.txt"), "3 21\n") << "written at the editor's idle";
}

TEST_F(X11Editor, OpeningAndClosingLeavesNoWindowBehind) {
    for (int i = 0; i < 200; ++i) {
        plugin->dispatch(effEditClose);
        ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)), 1);
        plugin->dispatch(effEditIdle);
    }
    plugin->dispatch(effEditClose);
    XSync(display, False);
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(display, host, &root, &parent, &children, &count);
    if (children) XFree(children);
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)), 1);
}

TEST_F(X11Editor, AHostThatDestroysItsWindowFirstCrashesNothing) {
    XDestroyWindow(display, host);
    XSync(display, False);
    settle();
    plugin->dispatch(effEditClose);
    host = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 750, 200, 0, 0, 0);
    XMapWindow(display, host);
    EXPECT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)), 1) << "and opens again";
}

}  // namespace
