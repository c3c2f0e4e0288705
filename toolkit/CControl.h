// CControl: a view with a value (nominally 0..1) that it shows and the user
// changes, and a listener it tells about changes; IMultiBitmapControl: a
// control drawn from a film strip, frames stacked from the top.
//
// The value last drawn (oldValue) decides whether the control needs a repaint:
// it is dirty while its value differs from it (film strips: shows another
// frame) or its dirty flag is set. The listener hears of every change of the
// value a gesture makes, drawn or not.
#pragma once

#include "CView.h"

class CControl;

class CControlListener {
public:
    virtual ~CControlListener() = default;
    virtual void valueChanged(CControl* control) = 0;
    // Offered a press with a modifier before the control; non-zero swallows it.
    virtual int32_t controlModifierClicked(CControl*, CButtonState) { return 0; }
    virtual void controlBeginEdit(CControl*) {}
    virtual void controlEndEdit(CControl*) {}
};

class IMultiBitmapControl {
public:
    virtual ~IMultiBitmapControl() = default;

protected:
    int32_t heightOfOneImage = 0;
};

class CControl : public CView {
public:
    CControl(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background);
    CControl* asControl() override { return this; }

    // A plain store: no limiting, no listener call, no drawing. The
    // user-interface thread's; other threads hand values to the editor, which
    // sets them at its idle.
    virtual void setValue(float v) { value = v; }
    virtual float getValue() const { return value; }
    float getMin() const { return vmin; }
    float getMax() const { return vmax; }
    int32_t getTag() const { return tag; }
    CControlListener* getListener() const { return listener; }

    // Limits the value to min..max.
    void bounceValue();
    bool isDirty() const override;
    void setDirty(bool on) override;

    // Around every change the user makes: the listener, the focus and the
    // frame (which tells the editor, which tells the host).
    virtual void beginEdit();
    virtual void endEdit();

protected:
    // Exactly the left button with Ctrl: the value goes back to its default,
    // as one edit of its own. True when it was such a click.
    bool checkDefaultValue(CButtonState buttons);

    CControlListener* listener;
    int32_t tag;
    float oldValue = 1.0f;
    float defaultValue = 0.5f;
    float value = 0.0f;
    float vmin = 0.0f;
    float vmax = 1.0f;
    float wheelInc = 0.1f;
};
