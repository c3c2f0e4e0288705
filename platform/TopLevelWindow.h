// A window of the desktop's own for a program that is its own host (the
// standalone program): a title, the close button the window manager offers,
// and a native handle that the editor's window takes as its parent, exactly
// as it takes a host's window. The editor's child window stays what it is.
//
// Linux (X11) only for now. All calls on one thread, the program's main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class TopLevelWindow {
public:
    virtual ~TopLevelWindow() = default;
    // The native window (an X11 Window id), for createEditorWindow's parent.
    virtual void* handle() const = 0;
    // UTF-8. Window managers that read only the old Latin-1 title get one
    // with every other character as '-'.
    virtual void setTitle(const std::string& title) = 0;
    // Reads the window's events; true once the user asked to close it (the
    // close button, or the window manager's close), and from then on.
    virtual bool closeRequested() = 0;
    // The editor chose another size: the window takes it (and still offers no other).
    virtual void resize(int32_t width, int32_t height) = 0;
};

// Mapped on the default display, `width` x `height` and not resizable; null
// when there is no display to open.
std::unique_ptr<TopLevelWindow> createTopLevelWindow(const std::string& title, int32_t width, int32_t height);

}  // namespace platform
