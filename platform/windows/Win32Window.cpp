// The editor's window on Windows: a child window of the host's window, painted
// from the frame's picture with SetDIBitsToDevice. Messages arrive through the
// host's message loop. The class "Plugin%p" (the module handle) is registered
// with the first window of the module and unregistered with the last.
#include <windows.h>
#include <windowsx.h>
#include <ole2.h>

#include <atomic>
#include <cstdio>

#include "EditorWindow.h"

namespace platform {

void* resourceModuleHandle();  // ImageResources.cpp: the plug-in's module

namespace {

int registeredWindows = 0;  // user-interface thread only
char className[64];

HMODULE ourModule() {
    HMODULE module = static_cast<HMODULE>(resourceModuleHandle());
    return module ? module : GetModuleHandleA(nullptr);
}

uint32_t keyboardModifiers() {
    uint32_t bits = 0;
    if (GetKeyState(VK_SHIFT) < 0) bits |= kShift;
    if (GetKeyState(VK_CONTROL) < 0) bits |= kControl;
    if (GetKeyState(VK_MENU) < 0) bits |= kAlt;
    return bits;
}

// The buttons held, with Shift and Ctrl from the message and Alt from the keyboard.
uint32_t mouseBits(WPARAM wParam) {
    uint32_t bits = 0;
    const bool swapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    if (wParam & MK_LBUTTON) bits |= swapped ? kRightButton : kLeftButton;
    if (wParam & MK_RBUTTON) bits |= swapped ? kLeftButton : kRightButton;
    if (wParam & MK_MBUTTON) bits |= kMiddleButton;
    if (wParam & MK_XBUTTON1) bits |= kButton4;
    if (wParam & MK_XBUTTON2) bits |= kButton5;
    if (wParam & MK_SHIFT) bits |= kShift;
    if (wParam & MK_CONTROL) bits |= kControl;
    if (GetKeyState(VK_MENU) < 0) bits |= kAlt;
    return bits;
}

// The button a button message is about, as the user sees it.
uint32_t buttonOf(UINT message, WPARAM wParam) {
    const bool swapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK: return swapped ? kRightButton : kLeftButton;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK: return swapped ? kLeftButton : kRightButton;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK: return kMiddleButton;
    default: return GET_XBUTTON_WPARAM(wParam) == XBUTTON1 ? kButton4 : kButton5;
    }
}

class Win32Window : public EditorWindow {
public:
    Win32Window(HWND parent, int32_t w, int32_t h, WindowClient* c) : width(w), height(h), client(c) {
        // COM and OLE for this thread; a host thread already set up in another
        // mode answers RPC_E_CHANGED_MODE, which is fine: nothing here needs OLE.
        oleReady = SUCCEEDED(OleInitialize(nullptr));
        HMODULE module = ourModule();
        if (registeredWindows++ == 0) {
            std::snprintf(className, sizeof className, "Plugin%p", static_cast<void*>(module));
            WNDCLASSA windowClass{};
            windowClass.style = CS_DBLCLKS | CS_GLOBALCLASS;
            windowClass.lpfnWndProc = windowProcedure;
            windowClass.hInstance = module;
            windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
            windowClass.lpszClassName = className;
            RegisterClassA(&windowClass);
        }
        OSVERSIONINFOA version{};
        version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        const bool composited = GetVersionExA(&version) && version.dwMajorVersion >= 6;
#pragma GCC diagnostic pop
        window = CreateWindowExA(composited ? WS_EX_COMPOSITED : 0, className, "Window",
                                 WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, w, h, parent, nullptr,
                                 module, nullptr);
        if (window) SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }

    ~Win32Window() override {
        if (window) {
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            DestroyWindow(window);
        }
        if (--registeredWindows == 0) UnregisterClassA(className, ourModule());
        if (oleReady) OleUninitialize();
    }

    bool created() const { return window != nullptr; }

    void invalidate(const CRect& area) override {
        if (!window) return;
        RECT r{area.left, area.top, area.right, area.bottom};
        InvalidateRect(window, &r, FALSE);
    }
    void captureMouse(bool on) override {
        if (!window) return;
        if (on) SetCapture(window);
        else if (GetCapture() == window) ReleaseCapture();
    }
    void dispatchEvents() override {
        // The host's message loop delivers them.
    }
    void repaint() override {
        if (window) UpdateWindow(window);
    }

private:
    static LRESULT CALLBACK windowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
        WindowClient* client = self->client;
        const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
        switch (message) {
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(hwnd, &paint);
            const RECT& r = paint.rcPaint;
            if (r.right > r.left && r.bottom > r.top) {
                client->paint({r.left, r.top, r.right, r.bottom});
                BITMAPINFO info{};
                info.bmiHeader.biSize = sizeof info.bmiHeader;
                info.bmiHeader.biWidth = self->width;
                info.bmiHeader.biHeight = -self->height;  // top row first
                info.bmiHeader.biPlanes = 1;
                info.bmiHeader.biBitCount = 32;
                info.bmiHeader.biCompression = BI_RGB;
                SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(self->width), static_cast<DWORD>(self->height), 0, 0, 0,
                                  static_cast<UINT>(self->height), client->picture(), &info, DIB_RGB_COLORS);
            }
            EndPaint(hwnd, &paint);
            return 0;
        }
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_XBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDBLCLK:
        case WM_XBUTTONDBLCLK: {
            const bool twice = message == WM_LBUTTONDBLCLK || message == WM_RBUTTONDBLCLK ||
                               message == WM_MBUTTONDBLCLK || message == WM_XBUTTONDBLCLK;
            const uint32_t held =
                mouseBits(wParam) & ~(kLeftButton | kRightButton | kMiddleButton | kButton4 | kButton5);
            client->mouseDown(x, y, held | buttonOf(message, wParam) | (twice ? uint32_t{kDoubleClick} : 0u));
            return message == WM_XBUTTONDOWN || message == WM_XBUTTONDBLCLK ? TRUE : 0;
        }
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
        case WM_XBUTTONUP: {
            const uint32_t held =
                mouseBits(wParam) & ~(kLeftButton | kRightButton | kMiddleButton | kButton4 | kButton5);
            client->mouseUp(x, y, held | buttonOf(message, wParam));
            return message == WM_XBUTTONUP ? TRUE : 0;
        }
        case WM_MOUSEMOVE: client->mouseMoved(x, y, mouseBits(wParam)); return 0;
        case WM_MOUSEWHEEL: {
            POINT p{x, y};
            ScreenToClient(hwnd, &p);
            // Whole notches, truncated toward zero; positive away from the user.
            const int notches = GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
            if (notches != 0) client->wheel(p.x, p.y, static_cast<float>(notches), keyboardModifiers());
            return 0;
        }
        case WM_DESTROY:
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
            self->window = nullptr;
            client->windowDestroyed();
            return 0;
        default: return DefWindowProcA(hwnd, message, wParam, lParam);
        }
    }

    HWND window = nullptr;
    int32_t width, height;
    WindowClient* client;
    bool oleReady = false;
};

}  // namespace

double desktopScale(void* parent) {
    if (headlessWindowsInUse()) return headlessDesktopScale();
    // Windows 10 knows each window's DPI; older systems one for the screen.
    using GetDpiForWindowProc = UINT(WINAPI*)(HWND);
    UINT dpi = 0;
    if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
        auto getDpiForWindow =
            reinterpret_cast<GetDpiForWindowProc>(reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")));
        if (getDpiForWindow && parent) dpi = getDpiForWindow(static_cast<HWND>(parent));
    }
    if (dpi == 0) {
        if (HDC screen = GetDC(nullptr)) {
            dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSX));
            ReleaseDC(nullptr, screen);
        }
    }
    return dpi > 0 ? dpi / 96.0 : 0.0;
}

std::unique_ptr<EditorWindow> createEditorWindow(void* parent, int32_t width, int32_t height, WindowClient* client) {
    if (headlessWindowsInUse() || !parent) return std::make_unique<HeadlessWindow>(width, height, client);
    auto window = std::make_unique<Win32Window>(static_cast<HWND>(parent), width, height, client);
    if (!window->created()) return nullptr;
    return window;
}

}  // namespace platform
