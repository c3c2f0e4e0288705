// `tolvane live` with its editor, in a real X window under the tests' Xvfb,
// driven through XTest as a person would: the window carries the program's
// name, a drag on a knob changes the sound, a MIDI program change renames the
// window, learning binds a controller, and the close button ends the program
// with the settings saved.
#include <cmath>

#include "LiveSettings.h"
#include "live_support.h"

// Last: Xlib's macros would clash with the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using namespace live;

std::vector<float> sine(size_t frames, float amplitude) {
    std::vector<float> s(frames);
    for (size_t n = 0; n < frames; ++n)
        s[n] = amplitude * static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * n / 48000.0));
    return s;
}

class LiveEditor : public ::testing::Test {
protected:
    void SetUp() override {
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "no X display at " << TOLVANE_TEST_DISPLAY;
        useSettingsRoot(folder.path());
    }
    void TearDown() override {
        if (display) XCloseDisplay(display);
    }

    std::string utf8Title(Window w) {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        std::string title;
        if (XGetWindowProperty(display, w, XInternAtom(display, "_NET_WM_NAME", False), 0, 256, False,
                               XInternAtom(display, "UTF8_STRING", False), &type, &format, &count, &after,
                               &data) == Success &&
            data)
            title.assign(reinterpret_cast<char*>(data), count);
        if (data) XFree(data);
        return title;
    }
    // The top-level window whose title begins with "Tolvane", or 0.
    Window findWindow() {
        Window root, parent, *children = nullptr, found = 0;
        unsigned count = 0;
        if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return 0;
        for (unsigned i = 0; i < count && !found; ++i)
            if (utf8Title(children[i]).rfind("Tolvane", 0) == 0) found = children[i];
        if (children) XFree(children);
        return found;
    }
    void moveTo(int x, int y) {
        XTestFakeMotionEvent(display, -1, originX + x, originY + y, CurrentTime);
        XSync(display, False);
        std::this_thread::sleep_for(40ms);  // the program idles every 15 ms
    }
    void button(bool down) {
        XTestFakeButtonEvent(display, 1, down, CurrentTime);
        XSync(display, False);
        std::this_thread::sleep_for(40ms);
    }
    void key(KeySym symbol, bool down) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, symbol), down, CurrentTime);
        XSync(display, False);
    }
    // The output's peak over a third of a second, in dB.
    double outputLevel(Recorder& recorder) {
        recorder.resetPeak();
        std::this_thread::sleep_for(350ms);
        return 20.0 * std::log10(std::max(recorder.peakLevel(), 1e-9f));
    }
    // Ctrl+Shift+click on Ratio: arms learning.
    void learnRatio() {
        moveTo(61, 108);
        key(XK_Control_L, true);
        key(XK_Shift_L, true);
        button(true);
        button(false);
        key(XK_Shift_L, false);
        key(XK_Control_L, false);
    }
    void close(Window w) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        XSendEvent(display, w, False, NoEventMask, &e);
        XSync(display, False);
    }

    TempFolder folder;
    Display* display = nullptr;
    int originX = 0, originY = 0;
};

TEST_F(LiveEditor, DragChangesTheSoundTheTitleFollowsTheProgramAndCloseEnds) {
    const std::vector<float> tone = sine(48000 * 20, 0.25f);
    Player player("tolvane-test-player", tone, tone);
    Recorder recorder("tolvane-test-recorder", player, 1);
    ASSERT_TRUE(player.ok() && recorder.ok() && player.activate() && recorder.activate());
    ASSERT_TRUE(player.setBufferSize(1024));
    std::vector<std::string> ports = player.ports();
    for (const std::string& p : recorder.ports()) ports.push_back(p);
    player.play();
    Child live(liveArguments({"--program", "NY Compression", "--connect", joined(ports)}), folder / "live");

    Window window = 0;
    ASSERT_TRUE(waitFor([&] { return (window = findWindow()) != 0 || !live.running(); })) << live.errors();
    ASSERT_NE(window, 0u) << live.errors();
    EXPECT_EQ(utf8Title(window), "Tolvane \xE2\x80\x94 NY Compression");
    char* latin1 = nullptr;
    XFetchName(display, window, &latin1);
    EXPECT_STREQ(latin1, "Tolvane - NY Compression");
    if (latin1) XFree(latin1);
    ASSERT_TRUE(waitFor([&] { return allConnected(player, ports); })) << live.errors();
    Window child;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &originX, &originY, &child);

    // Make-Up Gain down by a quarter of a knob's travel: the wet part of the blend drops.
    const double before = outputLevel(recorder);
    moveTo(615, 108);
    button(true);
    moveTo(615, 158);
    moveTo(615, 208);
    button(false);
    const double after = outputLevel(recorder);
    EXPECT_LT(after, before - 2.0) << "before " << before << " dB, after " << after << " dB";

    player.send({0xC0, 0, 0}, 2);  // program 0
    EXPECT_TRUE(waitFor([&] { return utf8Title(window) == "Tolvane \xE2\x80\x94 Drum Buss Squisher"; }, 3s))
        << utf8Title(window);

    // Learning armed on Ratio; the same controller twice in a row binds it.
    learnRatio();
    // The program sees the click within a round of its loop: until then a
    // controller only moves what it is bound to (nothing), so it keeps coming.
    const std::string bindings = folder.path() + "/Quenmark/Tolvane MIDI Assignments.txt";
    EXPECT_TRUE(waitFor(
        [&] {
            player.send({0xB0, 22, 5});
            std::this_thread::sleep_for(50ms);
            return readText(bindings) == "0 22\n";
        },
        5s))
        << readText(bindings);
    // Bound now: the controller drives Ratio, and the settings follow within a second.
    player.send({0xB0, 22, 127});
    EXPECT_TRUE(
        waitFor([&] { return parseLiveSettings(readText(liveSettingsPath())).values[tolvane::kRatio] == 1.0f; }, 5s));

    close(window);
    EXPECT_EQ(live.waitExit(), 0) << live.errors();
    const LiveSettings saved = parseLiveSettings(readText(liveSettingsPath()));
    EXPECT_EQ(saved.program, 0);
    EXPECT_EQ(saved.values[tolvane::kRatio], 1.0f);
}

// A binding learned where the bindings file cannot be written (a folder in
// its place) is told of, once.
TEST_F(LiveEditor, ABindingThatCannotBeSavedIsToldOnce) {
    std::filesystem::create_directories(folder.path() + "/Quenmark/Tolvane MIDI Assignments.txt");
    Player player("tolvane-test-player", {}, {});
    ASSERT_TRUE(player.ok() && player.activate());
    Child live(liveArguments({"--connect", player.port("midi_out")}), folder / "live");
    Window window = 0;
    ASSERT_TRUE(waitFor([&] { return (window = findWindow()) != 0 || !live.running(); })) << live.errors();
    ASSERT_NE(window, 0u) << live.errors();
    ASSERT_TRUE(waitFor([&] { return allConnected(player, {player.port("midi_out")}); })) << live.errors();
    Window child;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &originX, &originY, &child);

    learnRatio();
    const std::string told = "tolvane: cannot save the MIDI bindings in " + folder.path() + "/Quenmark/";
    EXPECT_TRUE(waitFor(
        [&] {
            player.send({0xB0, 22, 5});
            std::this_thread::sleep_for(50ms);
            return live.errors().find(told) != std::string::npos;
        },
        5s))
        << live.errors();
    close(window);
    EXPECT_EQ(live.waitExit(), 0) << live.errors();
    EXPECT_EQ(live.errors().find(told), live.errors().rfind(told)) << live.errors();
}

}  // namespace
