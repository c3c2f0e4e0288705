// The top-level window on X11: a plain window on a display connection of its
// own, with WM_DELETE_WINDOW so the close button reaches us as a message
// instead of killing the connection, _NET_WM_NAME for a UTF-8 title and fixed
// size hints (the panel does not scale).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "TopLevelWindow.h"

namespace platform {
namespace {

// The Latin-1 stand-in for a UTF-8 title, for window managers that read only
// WM_NAME: characters beyond Latin-1, and malformed bytes, become '-'.
std::string latin1Title(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        const size_t length = lead < 0x80         ? 1
                              : (lead >> 5) == 6  ? 2
                              : (lead >> 4) == 14 ? 3
                              : (lead >> 3) == 30 ? 4
                                                  : 0;
        bool whole = length > 0 && i + length <= utf8.size();
        for (size_t k = 1; whole && k < length; ++k) whole = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
        if (!whole) {
            out += '-';
            ++i;
            continue;
        }
        const unsigned code = length == 1 ? lead : length == 2 ? ((lead & 0x1Fu) << 6) | (utf8[i + 1] & 0x3Fu) : 0x100;
        // Overlong forms (a NUL among them) count as malformed.
        out += code < 0x100 && (length == 1 || code >= 0x80) ? static_cast<char>(code) : '-';
        i += length;
    }
    return out;
}

class X11TopLevelWindow : public TopLevelWindow {
public:
    X11TopLevelWindow(Display* d, const std::string& title, int32_t width, int32_t height) : display(d) {
        XSetWindowAttributes attributes{};
        attributes.background_pixmap = None;  // the editor's child covers every pixel
        attributes.event_mask = StructureNotifyMask;
        window = XCreateWindow(display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(width),
                               static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                               CWBackPixmap | CWEventMask, &attributes);
        fixSize(width, height);
        XClassHint* names = XAllocClassHint();
        names->res_name = const_cast<char*>("tolvane");
        names->res_class = const_cast<char*>("Tolvane");
        XSetClassHint(display, window, names);
        XFree(names);
        deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(display, window, &deleteWindow, 1);
        setTitle(title);
        XMapWindow(display, window);
        XSync(display, False);
    }

    void resize(int32_t width, int32_t height) override {
        fixSize(width, height);
        XResizeWindow(display, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
        XSync(display, False);
    }

    // The window manager offers no resizing: the editor has sizes of its own.
    void fixSize(int32_t width, int32_t height) {
        XSizeHints* size = XAllocSizeHints();
        size->flags = PMinSize | PMaxSize;
        size->min_width = size->max_width = width;
        size->min_height = size->max_height = height;
        XSetWMNormalHints(display, window, size);
        XFree(size);
    }

    ~X11TopLevelWindow() override {
        XDestroyWindow(display, window);
        XCloseDisplay(display);
    }

    void* handle() const override { return reinterpret_cast<void*>(static_cast<uintptr_t>(window)); }

    void setTitle(const std::string& title) override {
        const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
        for (const char* property : {"_NET_WM_NAME", "_NET_WM_ICON_NAME"})
            XChangeProperty(display, window, XInternAtom(display, property, False), utf8, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
        const std::string latin1 = latin1Title(title);
        XStoreName(display, window, latin1.c_str());
        XSetIconName(display, window, latin1.c_str());
        XFlush(display);
    }

    bool closeRequested() override {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow)
                closing = true;
        }
        return closing;
    }

private:
    Display* display;
    ::Window window;
    Atom deleteWindow;
    bool closing = false;
};

}  // namespace

std::unique_ptr<TopLevelWindow> createTopLevelWindow(const std::string& title, int32_t width, int32_t height) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    return std::make_unique<X11TopLevelWindow>(display, title, width, height);
}

}  // namespace platform
