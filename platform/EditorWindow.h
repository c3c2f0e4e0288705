// The editor's window behind one small interface: a child window of the host's
// window that shows a picture drawn in memory, repaints the rectangles it is
// told are invalid, and delivers mouse, wheel and key events encoded as the
// toolkit's frame expects them.
//
// Each platform has its implementation (X11 on Linux, Win32 on Windows); the
// headless window keeps an off-screen copy instead and lets tests and tools
// inject events. All calls happen on the host's user-interface thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "CGeometry.h"

namespace platform {

// Button and modifier bits of mouse events.
enum : uint32_t {
    kLeftButton = 2,
    kMiddleButton = 4,
    kRightButton = 8,
    kShift = 0x10,
    kControl = 0x20,
    kAlt = 0x40,
    kSystemModifier = 0x80,
    kButton4 = 0x100,
    kButton5 = 0x200,
    kDoubleClick = 0x400,
};

// A key as the host interface encodes it: a character, or the code of a
// special key, and modifier bits.
struct KeyCode {
    int32_t character = 0;
    uint8_t virtualKey = 0;  // a VirtualKey, or 0 for a character
    uint8_t modifiers = 0;   // KeyModifier bits
};

// The host interface's codes of the special keys this program makes or reads.
enum VirtualKey : uint8_t {
    kKeyBackspace = 1,
    kKeyTab = 2,
    kKeyClear = 3,
    kKeyReturn = 4,
    kKeyPause = 5,
    kKeyEscape = 6,
    kKeySpace = 7,
    kKeyEnd = 9,
    kKeyHome = 10,
    kKeyLeft = 11,
    kKeyUp = 12,
    kKeyRight = 13,
    kKeyDown = 14,
    kKeyPageUp = 15,
    kKeyPageDown = 16,
    kKeyEnter = 19,
    kKeyInsert = 21,
    kKeyDelete = 22,
};

enum KeyModifier : uint8_t { kKeyShift = 1, kKeyAlt = 2, kKeyControl = 4 };

// What the window talks to: the toolkit's frame.
class WindowClient {
public:
    virtual ~WindowClient() = default;
    // Draws `area` into the picture, which the window then shows.
    virtual void paint(const CRect& area) = 0;
    // 32-bit pixels (blue, green, red, alpha), `width` per row, top row first.
    virtual const uint32_t* picture() const = 0;
    virtual void mouseDown(int32_t x, int32_t y, uint32_t buttons) = 0;
    virtual void mouseMoved(int32_t x, int32_t y, uint32_t buttons) = 0;
    virtual void mouseUp(int32_t x, int32_t y, uint32_t buttons) = 0;
    virtual void wheel(int32_t x, int32_t y, float notches, uint32_t modifiers) = 0;
    // Answers -1 when the key was not used.
    virtual int32_t keyDown(const KeyCode& key) = 0;
    virtual int32_t keyUp(const KeyCode& key) = 0;
    // The window went away under the client (the host destroyed its parent, or
    // the connection to the display was lost).
    virtual void windowDestroyed() = 0;
};

class EditorWindow {
public:
    virtual ~EditorWindow() = default;
    // Asks for `area` to be repainted (through WindowClient::paint).
    virtual void invalidate(const CRect& area) = 0;
    // Keeps the mouse while a button is held, also outside the window.
    virtual void captureMouse(bool on) = 0;
    // Reads the events that arrived and delivers them to the client.
    virtual void dispatchEvents() = 0;
    // Repaints what is invalid.
    virtual void repaint() = 0;
    // The X11 window's id, for hosts that ask which window the editor made
    // (LV2's); 0 for other windows.
    virtual uintptr_t nativeHandle() const { return 0; }
    // The file descriptor the window's events arrive on (its X connection),
    // for hosts that watch descriptors and call dispatchEvents when it is
    // readable; -1 for windows without one.
    virtual int eventDescriptor() const { return -1; }
};

// A child window of `parent` (the host's window handle) of the given size, or
// null when none can be made. With headless windows chosen, parent is ignored.
std::unique_ptr<EditorWindow> createEditorWindow(void* parent, int32_t width, int32_t height, WindowClient* client);

// Process-wide: make every editor window headless (tests, `tolvane editor-shot`).
void useHeadlessWindows(bool on);
bool headlessWindowsInUse();

// How much the desktop enlarges what it draws, for a window inside `parent`
// (null: before there is one), 1.0 being 100 %; 0 when it says nothing. X11:
// the root window's Xft.dpi resource over 96; Windows: the window's DPI over
// 96, or the screen's. With headless windows, what setHeadlessDesktopScale set
// (0 at first).
double desktopScale(void* parent);
void setHeadlessDesktopScale(double factor);
double headlessDesktopScale();

// The headless window: an off-screen copy of what a real window would show.
class HeadlessWindow : public EditorWindow {
public:
    HeadlessWindow(int32_t width, int32_t height, WindowClient* client);

    void invalidate(const CRect& area) override;
    void captureMouse(bool on) override { captured = on; }
    void dispatchEvents() override {}
    // Repaints every invalidated rectangle, in the order invalidated.
    void repaint() override;

    // For tests and tools.
    WindowClient* getClient() const { return client; }
    int32_t getWidth() const { return width; }
    int32_t getHeight() const { return height; }
    const std::vector<uint32_t>& getPicture() const { return shown; }
    const std::vector<CRect>& getPendingInvalidations() const { return invalid; }
    // Pixels repainted since the last reset.
    uint64_t paintedPixels = 0;
    bool isCapturing() const { return captured; }

private:
    int32_t width, height;
    WindowClient* client;
    std::vector<uint32_t> shown;
    std::vector<CRect> invalid;
    bool captured = false;
};

}  // namespace platform
