// The editor's window on Linux: an Xlib child window of the host's window, on
// a display connection of its own, painted with XPutImage straight from the
// frame's picture. Events are read on every idle (hosts call the editor's idle
// on their user-interface thread).
//
// A host may destroy its parent window before closing the editor: the child
// goes with it, and the X errors that our later calls then cause are caught by
// an error handler that ignores errors on our connections and passes every
// other one to the handler it replaced.
//
// The connection itself may be lost (the server ends, a remote display drops).
// Xlib's default then ends the process; here the process-wide I/O error handler
// returns for our connections (passing the others on as above), and each of our
// connections has an exit handler that only marks its window lost. From then on
// the window behaves as destroyed and touches the connection only to close it.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "EditorWindow.h"

namespace platform {
namespace {

// --- X errors ---------------------------------------------------------------

std::mutex errorLock;  // guards the three below; editors of several hosts' threads may open at once
std::vector<Display*> ourDisplays;
XErrorHandler previousHandler = nullptr;
XIOErrorHandler previousIOHandler = nullptr;

bool isOurs(Display* display) {
    return std::find(ourDisplays.begin(), ourDisplays.end(), display) != ourDisplays.end();
}

int ignoreOurErrors(Display* display, XErrorEvent* error) {
    XErrorHandler previous;
    {
        std::lock_guard<std::mutex> lock(errorLock);
        if (isOurs(display)) return 0;
        previous = previousHandler;
    }
    return previous ? previous(display, error) : 0;
}

int survivingOurLosses(Display* display) {
    XIOErrorHandler previous;
    {
        std::lock_guard<std::mutex> lock(errorLock);
        if (isOurs(display)) return 0;  // the connection's exit handler follows
        previous = previousIOHandler;
    }
    return previous ? previous(display) : 0;
}

void registerDisplay(Display* display) {
    std::lock_guard<std::mutex> lock(errorLock);
    if (ourDisplays.empty()) {
        previousHandler = XSetErrorHandler(ignoreOurErrors);
        previousIOHandler = XSetIOErrorHandler(survivingOurLosses);
    }
    ourDisplays.push_back(display);
}

void unregisterDisplay(Display* display) {
    std::lock_guard<std::mutex> lock(errorLock);
    // One entry only: a connection opened meanwhile may have been given the same address.
    const auto found = std::find(ourDisplays.begin(), ourDisplays.end(), display);
    if (found != ourDisplays.end()) ourDisplays.erase(found);
    if (!ourDisplays.empty()) return;
    // Put the host's handlers back, unless someone replaced ours meanwhile:
    // then theirs stay. Either way no pointer into this library remains.
    XErrorHandler current = XSetErrorHandler(previousHandler);
    if (current != ignoreOurErrors) XSetErrorHandler(current);
    XIOErrorHandler currentIO = XSetIOErrorHandler(previousIOHandler);
    if (currentIO != survivingOurLosses) XSetIOErrorHandler(currentIO);
    previousHandler = nullptr;
    previousIOHandler = nullptr;
}

uint32_t modifierBits(unsigned state) {
    uint32_t bits = 0;
    if (state & ShiftMask) bits |= kShift;
    if (state & ControlMask) bits |= kControl;
    if (state & Mod1Mask) bits |= kAlt;
    return bits;
}

uint32_t heldButtonBits(unsigned state) {
    uint32_t bits = 0;
    if (state & Button1Mask) bits |= kLeftButton;
    if (state & Button2Mask) bits |= kMiddleButton;
    if (state & Button3Mask) bits |= kRightButton;
    return bits;
}

uint32_t buttonBit(unsigned button) {
    switch (button) {
    case Button1: return kLeftButton;
    case Button2: return kMiddleButton;
    case Button3: return kRightButton;
    case 8: return kButton4;
    case 9: return kButton5;
    default: return 0;
    }
}

// The host interface's key codes: a VirtualKey for the special keys, the
// character otherwise. (XK_Next is XK_Page_Down.)
KeyCode keyCodeOf(XKeyEvent& event) {
    KeyCode key;
    char text[8] = {};
    KeySym symbol = NoSymbol;
    XLookupString(&event, text, sizeof text - 1, &symbol, nullptr);
    struct Virtual {
        KeySym symbol;
        VirtualKey key;
    };
    static const Virtual virtuals[] = {
        {XK_BackSpace, kKeyBackspace}, {XK_Tab, kKeyTab},       {XK_ISO_Left_Tab, kKeyTab},
        {XK_Clear, kKeyClear},         {XK_Return, kKeyReturn}, {XK_Pause, kKeyPause},
        {XK_Escape, kKeyEscape},       {XK_space, kKeySpace},   {XK_End, kKeyEnd},
        {XK_Home, kKeyHome},           {XK_Left, kKeyLeft},     {XK_Up, kKeyUp},
        {XK_Right, kKeyRight},         {XK_Down, kKeyDown},     {XK_Page_Up, kKeyPageUp},
        {XK_Page_Down, kKeyPageDown},  {XK_Insert, kKeyInsert}, {XK_Delete, kKeyDelete},
        {XK_KP_Enter, kKeyEnter},
    };
    for (const Virtual& v : virtuals)
        if (v.symbol == symbol) key.virtualKey = v.key;
    if (!key.virtualKey) key.character = static_cast<unsigned char>(text[0]);
    if (event.state & ShiftMask) key.modifiers |= kKeyShift;
    if (event.state & Mod1Mask) key.modifiers |= kKeyAlt;
    if (event.state & ControlMask) key.modifiers |= kKeyControl;
    return key;
}

uint64_t nowMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

class X11Window : public EditorWindow {
public:
    X11Window(Display* d, ::Window parentWindow, int32_t w, int32_t h, WindowClient* c)
        : display(d),
          width(w),
          height(h),
          client(c) {
        registerDisplay(display);
        XSetIOErrorExitHandler(display, connectionLost, this);
        // A parent that is no window, or one that cannot hold a drawn child
        // (InputOnly), makes no editor window (see created).
        XWindowAttributes parent{};
        if (!XGetWindowAttributes(display, parentWindow, &parent) || parent.c_class == InputOnly) return;
        XSetWindowAttributes attributes{};
        attributes.colormap = parent.colormap;
        attributes.border_pixel = 0;
        attributes.background_pixmap = None;  // no erasing: every pixel is painted
        attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                                KeyReleaseMask | StructureNotifyMask;
        window = XCreateWindow(display, parentWindow, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h), 0,
                               parent.depth, InputOutput, parent.visual,
                               CWEventMask | CWBackPixmap | CWColormap | CWBorderPixel, &attributes);
        gc = XCreateGC(display, window, 0, nullptr);
        XStoreName(display, window, "Window");
        XMapWindow(display, window);
        XSync(display, False);
        if (lost) return;
        const char* clickTime = XGetDefault(display, "*", "multiClickTime");
        if (clickTime && std::atoi(clickTime) > 0) doubleClick = static_cast<uint32_t>(std::atoi(clickTime));
        image = XCreateImage(display, parent.visual, static_cast<unsigned>(parent.depth), ZPixmap, 0, nullptr,
                             static_cast<unsigned>(w), static_cast<unsigned>(h), 32, 0);
        // Our pixels are 0xAARRGGBB words: usable as they are when the screen
        // takes 32-bit words with those masks, converted pixel by pixel otherwise.
        direct = image && image->bits_per_pixel == 32 && image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 &&
                 image->blue_mask == 0xFF && image->byte_order == LSBFirst;
        if (image && !direct) {
            converted.resize(static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(h));
            image->data = converted.data();
        }
    }

    ~X11Window() override {
        if (image) {
            image->data = nullptr;  // the pixels are not the image's to free
            XDestroyImage(image);
        }
        if (window && !destroyed && !lost) XDestroyWindow(display, window);
        // On a lost connection Xlib sends nothing more: this only frees the GC's record.
        if (gc) XFreeGC(display, gc);
        if (!lost) XSync(display, False);  // any error from a window already gone arrives while ours is the handler
        XCloseDisplay(display);            // still ours while it closes, should the connection go now
        unregisterDisplay(display);
    }

    // False when no window could be made: the parent is no window, or the connection went meanwhile.
    bool created() const { return window && !lost; }

    void invalidate(const CRect& area) override {
        const CRect r = area.intersect({0, 0, width, height});
        if (r.isEmpty()) return;
        for (const CRect& pending : invalid)
            if (pending.left <= r.left && pending.top <= r.top && pending.right >= r.right &&
                pending.bottom >= r.bottom)
                return;
        invalid.push_back(r);
    }

    void captureMouse(bool) override {
        // X keeps the pointer with the window from a press to its release.
    }

    uintptr_t nativeHandle() const override { return window; }
    int eventDescriptor() const override { return lost ? -1 : ConnectionNumber(display); }

    void dispatchEvents() override {
        while (!destroyed && !lost && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.xany.window != window) continue;
            switch (event.type) {
            case Expose:
                invalidate({event.xexpose.x, event.xexpose.y, event.xexpose.x + event.xexpose.width,
                            event.xexpose.y + event.xexpose.height});
                break;
            case ButtonPress: pressed(event.xbutton); break;
            case ButtonRelease: {
                const uint32_t bit = buttonBit(event.xbutton.button);
                if (bit) client->mouseUp(event.xbutton.x, event.xbutton.y, bit | modifierBits(event.xbutton.state));
                break;
            }
            case MotionNotify: {
                // Of movements in a row only the latest counts; never one past a
                // press or release, which must keep its place.
                XEvent next;
                while (XEventsQueued(display, QueuedAlready) > 0 && (XPeekEvent(display, &next), true) &&
                       next.type == MotionNotify && next.xany.window == window)
                    XNextEvent(display, &event);
                client->mouseMoved(event.xmotion.x, event.xmotion.y,
                                   heldButtonBits(event.xmotion.state) | modifierBits(event.xmotion.state));
                break;
            }
            case KeyPress: client->keyDown(keyCodeOf(event.xkey)); break;
            case KeyRelease: client->keyUp(keyCodeOf(event.xkey)); break;
            case DestroyNotify:
                if (event.xdestroywindow.window == window) {
                    destroyed = true;
                    client->windowDestroyed();
                }
                break;
            default: break;
            }
        }
        // Told here, wherever the loss was met: the client may call back into the window.
        if (lost && !destroyed) {
            destroyed = true;
            client->windowDestroyed();
        }
    }

    void repaint() override {
        if (destroyed || lost || !image) {
            invalid.clear();
            return;
        }
        std::vector<CRect> areas;
        areas.swap(invalid);
        for (const CRect& r : areas) {
            if (lost) return;
            client->paint(r);
            const uint32_t* picture = client->picture();
            if (direct) {
                image->data = reinterpret_cast<char*>(const_cast<uint32_t*>(picture));
            } else {
                for (int32_t y = r.top; y < r.bottom; ++y)
                    for (int32_t x = r.left; x < r.right; ++x) {
                        const uint32_t p = picture[static_cast<size_t>(y) * width + x];
                        XPutPixel(image, x, y, pixelFor(p));
                    }
            }
            XPutImage(display, window, gc, image, r.left, r.top, r.left, r.top, static_cast<unsigned>(r.width()),
                      static_cast<unsigned>(r.height()));
            if (direct) image->data = nullptr;
        }
        XFlush(display);
    }

private:
    static void connectionLost(Display*, void* self) { static_cast<X11Window*>(self)->lost = true; }

    void pressed(const XButtonEvent& e) {
        if (e.button == Button4 || e.button == Button5) {
            // One notch each; up (4) is away from the user.
            client->wheel(e.x, e.y, e.button == Button4 ? 1.0f : -1.0f, modifierBits(e.state));
            return;
        }
        const uint32_t bit = buttonBit(e.button);
        if (!bit) return;
        uint32_t bits = bit | modifierBits(e.state);
        const uint64_t now = nowMs();
        if (bit == lastPressBit && now - lastPressTime <= doubleClick && std::abs(e.x - lastPressX) <= 4 &&
            std::abs(e.y - lastPressY) <= 4) {
            bits |= kDoubleClick;
            lastPressBit = 0;  // a third press starts afresh
        } else {
            lastPressBit = bit;
        }
        lastPressTime = now;
        lastPressX = e.x;
        lastPressY = e.y;
        client->mouseDown(e.x, e.y, bits);
    }

    unsigned long pixelFor(uint32_t p) const {
        auto scale = [](uint32_t channel, unsigned long mask) -> unsigned long {
            if (!mask) return 0;
            int shift = 0;
            while (!((mask >> shift) & 1)) ++shift;
            const unsigned long max = mask >> shift;
            return ((channel * max + 127) / 255) << shift;
        };
        return scale((p >> 16) & 0xFF, image->red_mask) | scale((p >> 8) & 0xFF, image->green_mask) |
               scale(p & 0xFF, image->blue_mask);
    }

    Display* display;
    ::Window window = 0;
    GC gc = nullptr;
    XImage* image = nullptr;
    bool direct = false;
    std::vector<char> converted;
    int32_t width, height;
    WindowClient* client;
    std::vector<CRect> invalid;
    bool destroyed = false;  // the window is gone (with its parent, or with the connection)
    bool lost = false;       // the connection is gone: only the closing calls may use it now
    uint32_t doubleClick = 400;
    uint32_t lastPressBit = 0;
    uint64_t lastPressTime = 0;
    int lastPressX = 0, lastPressY = 0;
};

}  // namespace

double desktopScale(void*) {
    // One scale for the whole desktop: the parent window does not matter.
    if (headlessWindowsInUse()) return headlessDesktopScale();
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 0.0;
    // The resources as the display's root window held them when we connected;
    // desktops put their scale there as Xft.dpi, 96 being 100 %.
    double factor = 0.0;
    for (const char* line = XResourceManagerString(display); line && *line;) {
        if (std::strncmp(line, "Xft.dpi:", 8) == 0) {
            const double dpi = std::strtod(line + 8, nullptr);
            if (dpi > 0.0) factor = dpi / 96.0;
            break;
        }
        line = std::strchr(line, '\n');
        if (line) ++line;
    }
    XCloseDisplay(display);
    return factor;
}

std::unique_ptr<EditorWindow> createEditorWindow(void* parent, int32_t width, int32_t height, WindowClient* client) {
    if (headlessWindowsInUse() || !parent) return std::make_unique<HeadlessWindow>(width, height, client);
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    auto window = std::make_unique<X11Window>(display, static_cast<::Window>(reinterpret_cast<uintptr_t>(parent)),
                                              width, height, client);
    if (!window->created()) return nullptr;
    return window;
}

}  // namespace platform
