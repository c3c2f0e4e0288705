// Film-strip controls without a knob's mechanics.
//
// CMovieButton: a two-state switch. Frame 0 for value 0, frame 1 for anything
// else. A press toggles at once; dragging out of the switch before the release
// restores the old state, dragging back in toggles again.
//
// CMovieBitmap: a display (the meter): frame int(value * (frames - 1) + 0.5),
// values above 1 shown as 1; it takes no mouse.
//
// Both need a repaint only when their value shows another frame than the one
// last drawn.
#pragma once

#include "CControl.h"

class CMovieButton : public CControl, public IMultiBitmapControl {
public:
    CMovieButton(const CRect& size, CControlListener* listener, int32_t tag, int32_t frameHeight, CBitmap* background);

    void draw(CDrawContext* context) override;
    bool isDirty() const override;
    CMouseEventResult onMouseDown(CPoint where, CButtonState buttons) override;
    CMouseEventResult onMouseMoved(CPoint where, CButtonState buttons) override;
    CMouseEventResult onMouseUp(CPoint where, CButtonState buttons) override;

private:
    int32_t frameFor(float v) const;

    float entryValue = 0.0f;
};

class CMovieBitmap : public CControl, public IMultiBitmapControl {
public:
    CMovieBitmap(const CRect& size, CControlListener* listener, int32_t tag, int32_t frames, int32_t frameHeight,
                 CBitmap* background);

    void draw(CDrawContext* context) override;
    bool isDirty() const override;

private:
    int32_t frameFor(float v) const;

    int32_t subPixmaps;
};
