#include "CMovieControls.h"

CMovieButton::CMovieButton(const CRect& r, CControlListener* l, int32_t t, int32_t frameHeight, CBitmap* bitmap)
    : CControl(r, l, t, bitmap), buttonState(value) {
    heightOfOneImage = frameHeight;
}

void CMovieButton::draw(CDrawContext* context) {
    bounceValue();
    if (background) background->draw(context, size, {0, value == 0.0f ? 0 : heightOfOneImage});
    buttonState = value;
    setDirty(false);
}

CMouseEventResult CMovieButton::onMouseDown(CPoint where, CButtonState buttons) {
    if (!(buttons & platform::kLeftButton)) return kMouseEventNotHandled;
    entryValue = value;
    beginEdit();
    return onMouseMoved(where, buttons);
}

CMouseEventResult CMovieButton::onMouseMoved(CPoint where, CButtonState buttons) {
    if (!(buttons & platform::kLeftButton)) return kMouseEventHandled;
    const bool inside = where.x >= size.left && where.x <= size.right && where.y >= size.top && where.y <= size.bottom;
    value = inside ? (entryValue == 0.0f ? 1.0f : 0.0f) : entryValue;
    if (isDirty() && listener) listener->valueChanged(this);
    if (isDirty()) invalid();
    return kMouseEventHandled;
}

CMouseEventResult CMovieButton::onMouseUp(CPoint, CButtonState) {
    endEdit();
    return kMouseEventHandled;
}

CMovieBitmap::CMovieBitmap(const CRect& r, CControlListener* l, int32_t t, int32_t frames, int32_t frameHeight,
                           CBitmap* bitmap)
    : CControl(r, l, t, bitmap), subPixmaps(frames) {
    heightOfOneImage = frameHeight;
}

void CMovieBitmap::draw(CDrawContext* context) {
    if (value > 1.0f) value = 1.0f;
    int32_t frame = 0;
    if (value > 0.0f) frame = static_cast<int32_t>(value * static_cast<float>(subPixmaps - 1) + 0.5f);
    if (background) background->draw(context, size, {0, frame * heightOfOneImage});
    setDirty(false);
}
