#include "CControl.h"

#include "CFrame.h"

CControl::CControl(const CRect& r, CControlListener* l, int32_t t, CBitmap* bitmap) : CView(r), listener(l), tag(t) {
    setBackground(bitmap);
    setDirty(true);
}

void CControl::bounceValue() {
    if (value > vmax) value = vmax;
    else if (value < vmin) value = vmin;
}

bool CControl::isDirty() const { return dirty || !(oldValue == value); }

void CControl::setDirty(bool on) {
    dirty = on;
    if (on) oldValue = value == -1.0f ? 0.0f : -1.0f;
    else oldValue = value;
}

void CControl::beginEdit() {
    if (listener) listener->controlBeginEdit(this);
    if (frame) {
        frame->setFocusView(this);
        frame->beginEdit(tag);
    }
}

void CControl::endEdit() {
    if (frame) frame->endEdit(tag);
    if (listener) listener->controlEndEdit(this);
}

bool CControl::checkDefaultValue(CButtonState buttons) {
    if (buttons != (platform::kLeftButton | platform::kControl)) return false;
    beginEdit();
    const float before = value;
    value = defaultValue;
    if (!(value == before) && listener) listener->valueChanged(this);
    endEdit();
    return true;
}
