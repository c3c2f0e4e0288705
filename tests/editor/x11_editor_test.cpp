// The editor in a real X window, as a Linux host shows it: the plug-in is
// loaded through its record only, its editor opened in a top-level window of
// this test, and driven with real input through XTest at screen coordinates.
// Needs an X server (the tests start Xvfb).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <thread>

#include "CHighlightFrame.h"
#include "EditorWindow.h"
#include "PluginHost.h"

#include "TolvaneEditor.h"
#include "support/headless_editor.h"
#include "support/temp_folder.h"

// Last: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

int hostErrors = 0;
int countHostErrors(Display*, XErrorEvent*) {
    ++hostErrors;
    return 0;
}

int hostConnectionsLost = 0;
int countHostConnectionsLost(Display*) {
    ++hostConnectionsLost;
    return 0;
}
void keepGoing(Display*, void*) {}

unsigned childCount(Display* display, Window parent) {
    XSync(display, False);
    Window root, above, *children = nullptr;
    unsigned count = 0;
    XQueryTree(display, parent, &root, &above, &children, &count);
    if (children) XFree(children);
    return count;
}

// An X server of the test's own that it can end: Xvfb on the first free display.
struct ScratchServer {
    pid_t pid = 0;
    std::string name;  // ":N", empty when it did not start

    ScratchServer() {
        int ready[2];
        if (pipe(ready) != 0) return;
        const std::string fd = std::to_string(ready[1]);
        pid = fork();
        if (pid == 0) {
            close(ready[0]);
            prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlives a test that crashed
            dup2(open("/dev/null", O_WRONLY), 2);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x300x24", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(ready[1]);
        char text[16] = {};
        size_t got = 0;
        for (ssize_t n; got < sizeof text - 1 && (n = read(ready[0], text + got, sizeof text - 1 - got)) > 0;)
            got += static_cast<size_t>(n);
        close(ready[0]);
        if (got > 1) name = ":" + std::string(text, std::strcspn(text, "\n"));
    }
    ~ScratchServer() { end(); }
    void end() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = 0;
    }
};

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
    for (size_t i = 1; i + 1 < calls.size(); ++i)
        EXPECT_EQ(calls[i], (std::pair<VstInt32, VstInt32>{audioMasterAutomate, 0}));
    EXPECT_EQ(plugin->calls[plugin->calls.size() - 2].opt, plugin->getParameter(0))
        << "the last automation carries the value";

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
    EXPECT_EQ(childCount(display, host), 0u);
    ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)), 1);
}

TEST_F(X11Editor, AHostThatDestroysItsWindowFirstCrashesNothing) {
    XDestroyWindow(display, host);
    XSync(display, False);
    settle();
    plugin->dispatch(effEditClose);
    host = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 750, 200, 0, 0, 0);
    XMapWindow(display, host);
    XSync(display, False);  // the server must know the window before another connection can use it
    EXPECT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)), 1) << "and opens again";
}

TEST_F(X11Editor, AnOpenThatMakesNoWindowAnswersZeroAndALaterOneWorks) {
    const std::string here = getenv("DISPLAY");
    const Pixmap pixmap = XCreatePixmap(display, host, 8, 8, static_cast<unsigned>(DefaultDepth(display, 0)));
    const Window gone = XCreateSimpleWindow(display, host, 0, 0, 8, 8, 0, 0, 0);
    XDestroyWindow(display, gone);
    XSetWindowAttributes none{};
    const Window inputOnly =
        XCreateWindow(display, DefaultRootWindow(display), 0, 0, 8, 8, 0, 0, InputOnly, CopyFromParent, 0, &none);
    XSync(display, False);
    const struct {
        const char* name;
        bool withDisplay;
        uintptr_t parent;
    } cases[] = {
        {"DISPLAY unset", false, host},
        {"a pixmap for a parent", true, pixmap},
        {"a window already destroyed", true, gone},
        {"an InputOnly window, which cannot hold one that draws", true, inputOnly},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.withDisplay) unsetenv("DISPLAY");
        EXPECT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(c.parent)), 0);
        setenv("DISPLAY", here.c_str(), 1);
        plugin->dispatch(effEditIdle);
        EXPECT_EQ(childCount(display, host), 0u);
        EXPECT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)), 1);
        EXPECT_EQ(childCount(display, host), 1u);
    }
    XFreePixmap(display, pixmap);
    XDestroyWindow(display, inputOnly);
}

// The plug-in's X server ends with the editor open (a remote display dropped, a
// nested server quit). Each row is what the host calls next; the host holds a
// connection of its own to that server, whose loss stays the host's to handle.
TEST_F(X11Editor, ALostDisplayClosesTheEditorAndTheHostLivesOn) {
    const std::string here = getenv("DISPLAY");
    const XIOErrorHandler hostsBefore = XSetIOErrorHandler(countHostConnectionsLost);
    const struct {
        const char* name;
        std::vector<VstInt32> calls;
    } cases[] = {
        {"idle meets it", {effEditIdle, effEditIdle, effEditKeyDown, effEditIdle, effEditClose, effEditClose}},
        {"close meets it", {effEditClose}},
        {"the next open meets it", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchServer server;
        ASSERT_FALSE(server.name.empty()) << "Xvfb did not start";
        Display* hostConnection = XOpenDisplay(server.name.c_str());
        ASSERT_NE(hostConnection, nullptr);
        XSetIOErrorExitHandler(hostConnection, keepGoing, nullptr);
        const Window root = DefaultRootWindow(hostConnection);
        setenv("DISPLAY", server.name.c_str(), 1);
        EXPECT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(root)), 1);
        setenv("DISPLAY", here.c_str(), 1);
        plugin->dispatch(effEditIdle);
        EXPECT_EQ(childCount(hostConnection, root), 1u) << "the editor's window was there";

        hostConnectionsLost = 0;
        server.end();
        for (VstInt32 opcode : c.calls) plugin->dispatch(opcode);
        XPending(hostConnection);
        XCloseDisplay(hostConnection);

        ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)), 1);
        EXPECT_EQ(hostConnectionsLost, 1) << "the host learns of its own connection's loss, and only of that";
        EXPECT_EQ(childCount(display, host), 1u);
        EXPECT_EQ(capture(), headlessPicture(*plugin)) << "a fresh window, drawn in full";
    }
    XSetIOErrorHandler(hostsBefore);
}

}  // namespace

namespace {

// The desktop's scale as X11 desktops publish it: Xft.dpi in the root
// window's resources, 96 being 100 %. Removed again when the test ends, as
// the X server outlives it.
struct DesktopDpi {
    Display* display;
    DesktopDpi(Display* d, int dpi) : display(d) {
        const std::string resources = "Xft.dpi:\t" + std::to_string(dpi) + "\n";
        XChangeProperty(display, DefaultRootWindow(display), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(resources.data()), static_cast<int>(resources.size()));
        XSync(display, False);
    }
    ~DesktopDpi() {
        XDeleteProperty(display, DefaultRootWindow(display), XA_RESOURCE_MANAGER);
        XSync(display, False);
    }
};

// The size of the plug-in's window inside the host's.
std::pair<unsigned, unsigned> editorWindowSize(Display* display, Window host) {
    XSync(display, False);
    Window root, above, *children = nullptr;
    unsigned count = 0;
    std::pair<unsigned, unsigned> size{0, 0};
    if (XQueryTree(display, host, &root, &above, &children, &count) && count == 1) {
        int x, y;
        unsigned border, depth;
        XGetGeometry(display, children[0], &root, &x, &y, &size.first, &size.second, &border, &depth);
    }
    if (children) XFree(children);
    return size;
}

// The desktop's 192 dpi opens the editor at 200 %, a host's announced scale
// comes before it, and the user's choice in the menu before both: the host
// is asked for the new size and the window follows. A closed editor answers
// its size from what it found when it last opened: asking touches neither
// the X server nor the choice's file.
TEST_F(X11Editor, TheDesktopTheHostAndTheUserSizeTheWindowInThatOrder) {
    plugin->dispatch(effEditClose);
    plugin->resizeEditorWindow = [&](int32_t w, int32_t h) {
        XResizeWindow(display, host, static_cast<unsigned>(w), static_cast<unsigned>(h));
        return true;
    };
    DesktopDpi desktop(display, 192);
    auto rect = [&] {
        ERect* r = nullptr;
        plugin->dispatch(effEditGetRect, 0, 0, &r);
        return r ? std::pair<unsigned, unsigned>(r->right, r->bottom) : std::pair<unsigned, unsigned>{};
    };
    EXPECT_EQ(rect(), (std::pair<unsigned, unsigned>{750, 200})) << "the desktop as it was at the last open";
    ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)), 1);
    EXPECT_EQ(editorWindowSize(display, host), (std::pair<unsigned, unsigned>{1500, 400}));
    plugin->dispatch(effEditClose);
    EXPECT_EQ(rect(), (std::pair<unsigned, unsigned>{1500, 400}));

    EXPECT_EQ(plugin->dispatch(effVendorSpecific, fourCharacters('P', 'r', 'e', 'S'),
                               fourCharacters('A', 'e', 'C', 's'), nullptr, 1.5f),
              1);
    EXPECT_EQ(rect(), (std::pair<unsigned, unsigned>{1125, 300})) << "the host's scale before the desktop's";
    XResizeWindow(display, host, 1125, 300);
    ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)), 1);
    settle();
    plugin->calls.clear();
    click(690, 30, 3);  // a right-click on the panel, above the controls
    click(740, 148);    // the menu's third row: 200 %
    settle();
    bool asked = false;
    for (const HostCall& c : plugin->calls)
        asked = asked || (c.opcode == audioMasterSizeWindow && c.index == 1500 && c.value == 400);
    EXPECT_TRUE(asked) << "the host hears the new size";
    EXPECT_EQ(editorWindowSize(display, host), (std::pair<unsigned, unsigned>{1500, 400}));
    EXPECT_EQ(readText(settings + "/Tolvane Editor Size.txt"), "200 %\n");

    plugin->dispatch(effEditClose);
    writeText(settings + "/Tolvane Editor Size.txt", "100 %\n");
    EXPECT_EQ(rect(), (std::pair<unsigned, unsigned>{1500, 400})) << "the file as it was at the last open";
}

}  // namespace
