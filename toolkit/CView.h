// CView: a rectangle of the frame that draws itself and may take mouse, wheel
// and key events; CViewContainer: the views inside another, in the order
// added, which is the drawing order (later on top) and the reverse of the
// order in which they are offered a click.
//
// Mouse results: kMouseEventNotImplemented, kMouseEventHandled (send the
// movements and the release), kMouseEventNotHandled, kMouseDownEventHandledButDontNeedMovedOrUpEvents.
#pragma once

#include <vector>

#include "CBaseObject.h"
#include "CBitmap.h"
#include "CDrawContext.h"
#include "CGeometry.h"
#include "EditorWindow.h"

enum CMouseEventResult : int32_t {
    kMouseEventNotImplemented = 0,
    kMouseEventHandled = 1,
    kMouseEventNotHandled = 2,
    kMouseDownEventHandledButDontNeedMovedOrUpEvents = 3,
};

using CButtonState = int32_t;  // platform::kLeftButton ... platform::kDoubleClick
using CKeyCode = platform::KeyCode;

class CFrame;

class CView : public CBaseObject {
public:
    explicit CView(const CRect& size);

    virtual void draw(CDrawContext* context);  // the background bitmap, if any
    virtual void drawRect(CDrawContext* context, const CRect&) { draw(context); }

    virtual CMouseEventResult onMouseDown(CPoint, CButtonState) { return kMouseEventNotImplemented; }
    virtual CMouseEventResult onMouseUp(CPoint, CButtonState) { return kMouseEventNotImplemented; }
    virtual CMouseEventResult onMouseMoved(CPoint, CButtonState) { return kMouseEventNotImplemented; }
    virtual bool onWheel(CPoint, float, CButtonState) { return false; }
    // -1: not used.
    virtual int32_t onKeyDown(CKeyCode&) { return -1; }
    virtual int32_t onKeyUp(CKeyCode&) { return -1; }
    // The point on the rectangle (CRect::pointInside).
    virtual bool hitTest(CPoint where, CButtonState buttons);
    // The view as a control, or null when it is none.
    virtual class CControl* asControl() { return nullptr; }

    virtual bool isDirty() const { return dirty; }
    virtual void setDirty(bool on) { dirty = on; }
    // Clears the dirty state and has the frame repaint the rectangle.
    virtual void invalid();

    void setBackground(CBitmap* bitmap);
    CBitmap* getBackground() const { return background; }
    const CRect& getViewSize() const { return size; }
    bool isVisible() const { return visible; }
    bool getMouseEnabled() const { return mouseEnabled; }
    bool wantsFocus() const { return focusWanted; }
    CFrame* getFrame() const { return frame; }
    void setFrame(CFrame* f) { frame = f; }

protected:
    ~CView() override;

    CRect size;
    CFrame* frame = nullptr;
    CBitmap* background = nullptr;
    CPoint backgroundOffset;
    bool visible = true;
    bool mouseEnabled = true;
    bool dirty = false;
    bool focusWanted = false;
};

class CViewContainer : public CView {
public:
    explicit CViewContainer(const CRect& size) : CView(size) {}

    // Takes over the caller's reference; the view becomes the topmost.
    virtual void addView(CView* view);
    // Releases the container's reference.
    void removeView(CView* view);
    void removeAll();

protected:
    ~CViewContainer() override;

    std::vector<CView*> views;
};
