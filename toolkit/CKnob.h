// CKnob: a rotary control. A drag is relative: moving up or right raises the
// value, 200 pixels (or the drag distance set) sweep the whole range (half as
// much again with Shift, switchable mid-drag without a jump). With Alt held
// the value follows the pointer's angle around the centre instead, over 270
// degrees clockwise from the lower left. Wheel notches and arrow keys step by
// wheelInc (a tenth of it with Shift); Ctrl with the left button resets.
//
// CAnimKnob: a knob drawn from a film strip. Frame floor(value * 32) of 33
// for values below 1, frame 32 at exactly 1, frame 0 below 0. It needs a
// repaint only when its value shows another frame than the one last drawn.
#pragma once

#include "CControl.h"

class CKnob : public CControl {
public:
    CKnob(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background);

    CMouseEventResult onMouseDown(CPoint where, CButtonState buttons) override;
    CMouseEventResult onMouseMoved(CPoint where, CButtonState buttons) override;
    CMouseEventResult onMouseUp(CPoint where, CButtonState buttons) override;
    bool onWheel(CPoint where, float distance, CButtonState buttons) override;
    int32_t onKeyDown(CKeyCode& key) override;
    // Pixels of a linear drag for the whole range (200 unless set; times 1.5 with Shift).
    void setDragDistance(float pixels) { dragDistance = pixels; }

protected:
    void compute();
    // The value for a point relative to the knob's top-left (circular mode).
    float valueFromPoint(CPoint p) const;

    float startAngle, rangeAngle, halfAngle;
    float a, b;  // value = a * angle + b
    float radius;
    float zoomFactor = 1.5f;
    // the drag
    CPoint firstPoint, lastPoint;
    float startValue = 0.0f, entryValue = 0.0f;
    float dragDistance = 200.0f;
    float range = 200.0f, coefficient = 0.0f;
    CButtonState oldButton = 0;
    bool modeLinear = false;
};

class CAnimKnob : public CKnob, public IMultiBitmapControl {
public:
    CAnimKnob(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background);

    void draw(CDrawContext* context) override;
    bool isDirty() const override;

private:
    // Where in the strip the frame for a value starts.
    int32_t frameTop(float v) const;

    int32_t subPixmaps;
};
