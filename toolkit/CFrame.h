// CFrame: the top view. It owns the editor's window (a child of the host's),
// draws the background and its views into a picture of its own, turns the
// window's mouse, wheel and key events into calls on the views, and on idle
// has the views that changed repainted.
//
// Routing. A button press goes to the modal view when there is one (a point
// outside it is ignored), otherwise to the topmost view that is visible, takes
// the mouse and contains the point. A control with a listener is first offered
// a press with Shift, Ctrl, Alt or the system modifier through
// controlModifierClicked, which may swallow it. A view that answers handled
// receives the movements and the release, with the mouse captured meanwhile.
// The wheel goes to the modal view or the topmost view under the pointer,
// never while a button is held on a view; keys go to the focus view, then the
// modal view.
#pragma once

#include <memory>

#include "CView.h"

class CControl;

// What the frame needs of the editor that owns it.
class GUIEditorInterface {
public:
    virtual ~GUIEditorInterface() = default;
    virtual void beginEdit(int32_t tag) = 0;
    virtual void endEdit(int32_t tag) = 0;
};

class CFrame : public CViewContainer, public platform::WindowClient {
public:
    // Creates the window inside `parentWindow`, of the rectangle's size.
    CFrame(const CRect& size, void* parentWindow, GUIEditorInterface* editor);

    void addView(CView* view) override;
    // True from construction until the window goes away.
    bool isOpen() const { return open; }
    // Invalidates every visible view that is dirty (the whole frame when the
    // frame itself is), then has the window repaint.
    virtual void idle();
    // Background, then the views that meet `update` in order, each clipped to
    // itself and `update`.
    void drawRect(CDrawContext* context, const CRect& update) override;
    void invalidRect(const CRect& r);

    // At most one modal view; false when another is set. Null removes it.
    bool setModalView(CView* view);
    CView* getModalView() const { return modalView; }
    void setFocusView(CView* view) { focusView = view; }

    void beginEdit(int32_t tag);
    void endEdit(int32_t tag);

    platform::EditorWindow* getPlatformWindow() { return window.get(); }

    // The window's events, in the frame's coordinates.
    void paint(const CRect& area) override;
    const uint32_t* picture() const override { return picture_.getPixels(); }
    void mouseDown(int32_t x, int32_t y, uint32_t buttons) override;
    void mouseMoved(int32_t x, int32_t y, uint32_t buttons) override;
    void mouseUp(int32_t x, int32_t y, uint32_t buttons) override;
    void wheel(int32_t x, int32_t y, float notches, uint32_t modifiers) override;
    int32_t keyDown(const platform::KeyCode& key) override;
    int32_t keyUp(const platform::KeyCode& key) override;
    void windowDestroyed() override { open = false; }

protected:
    ~CFrame() override;
    // The next view that wants the focus after (or before) the focus view.
    void advanceFocus(bool backwards);

    GUIEditorInterface* editor;
    CDrawContext picture_;
    std::unique_ptr<platform::EditorWindow> window;
    CView* modalView = nullptr;
    CView* focusView = nullptr;
    CView* mouseDownView = nullptr;
    bool open = false;
};
