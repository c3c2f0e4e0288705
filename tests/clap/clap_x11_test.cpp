// Tolvane.clap's editor in a real X window of this test, as a Linux host
// embeds it: its X connection handed to the host's descriptor support, its
// idle to the host's timer, and a real drag (XTest) seen only because the
// host reports the descriptor readable. Needs an X server (the tests start Xvfb).
#include <poll.h>

#include "clap_host.h"
#include "support/temp_folder.h"

// Last: Xlib's macros would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace {

TEST(ClapX11, TheEditorRunsOnTheHostsDescriptorAndTimer) {
    TempFolder folder;
    useSettingsRoot(folder.path());
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window parent = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 750, 200, 0, 0, 0);
    XSelectInput(display, parent, StructureNotifyMask);
    XMapWindow(display, parent);
    for (XEvent e; XNextEvent(display, &e), e.type != MapNotify;) {
    }

    ClapLibrary library(TOLVANE_CLAP_PATH);
    ClapInstance plugin(library, "com.quenmark.tolvane");
    ASSERT_TRUE(plugin);
    const auto* gui = plugin.ext<clap::PluginGui>(clap::kExtGui);
    ASSERT_TRUE(gui->create(plugin.plugin, clap::kWindowApiX11, false));
    clap::Window window{clap::kWindowApiX11, {nullptr}};
    window.x11 = parent;
    ASSERT_TRUE(gui->setParent(plugin.plugin, &window));
    ASSERT_EQ(plugin.host.fds.size(), 1u);
    EXPECT_EQ(plugin.host.fds.begin()->second, clap::kFdRead | clap::kFdError);
    ASSERT_EQ(plugin.host.timers.size(), 1u);
    const int fd = plugin.host.fds.begin()->first;
    const auto* fds = plugin.ext<clap::PluginPosixFdSupport>(clap::kExtPosixFdSupport);
    // The host's loop: whenever the descriptor is readable, the plug-in hears of it.
    auto serve = [&](int milliseconds) {
        for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, milliseconds) > 0; p.revents = 0)
            fds->onFd(plugin.plugin, fd, clap::kFdRead);
    };
    serve(200);  // the window's first events

    // Ratio's knob, dragged 50 pixels up: a quarter of its range. At screen
    // coordinates, wherever a window manager put the window.
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display, parent, DefaultRootWindow(display), 61, 108, &x, &y, &child);
    const double before = plugin.value(0);
    XTestFakeMotionEvent(display, -1, x, y, 0);
    XTestFakeButtonEvent(display, 1, True, 0);
    for (int up = 10; up <= 50; up += 10) XTestFakeMotionEvent(display, -1, x, y - up, 0);
    XTestFakeButtonEvent(display, 1, False, 0);
    XSync(display, False);
    serve(300);
    EXPECT_NEAR(plugin.value(0), before + 0.25, 1e-6);
    ClapEventLists lists;
    plugin.flush(lists);
    ASSERT_FALSE(lists.out.empty());
    EXPECT_EQ(lists.out.front().header.type, clap::kEventParamGestureBegin);
    EXPECT_EQ(lists.out.back().header.type, clap::kEventParamGestureEnd);

    gui->destroy(plugin.plugin);
    EXPECT_TRUE(plugin.host.fds.empty());
    EXPECT_TRUE(plugin.host.timers.empty());
    EXPECT_TRUE(plugin.host.wrongThread.empty());
    XDestroyWindow(display, parent);
    XCloseDisplay(display);
}

}  // namespace
