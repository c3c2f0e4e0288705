#include "CMovieControls.h"

CMovieButton::CMovieButton(const CRect& r, CControlListener* l, int32_t t, int32_t frameHeight, CBitmap* bitmap)
    : CControl(r, l, t, bitmap) {
    heightOfOneImage = frameHeight;
}

int32_t CMovieButton::frameFor(float v) const {
    // As drawn: limited to the range first.
    if (v > vmax) v = vmax;
    else if (v < vmin) v = vmin;
    return v == 0.0f ? 0 : 1;
}

bool CMovieButton::isDirty() const { return dirty || frameFor(value) != frameFor(oldValue); }

void CMovieButton::draw(CDrawContext* context) {
    bounceValue();
    if (background) background->draw(context, size, {0, frameFor(value) * heightOfOneImage});
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
    const float before = value;
    value = size.pointInside(where) ? (entryValue == 0.0f ? 1.0f : 0.0f) : entryValue;
    if (!(value == before) && listener) listener->valueChanged(this);
    if (isDirty()) invalid();
    return kMouseEventHandled;
}

CMouseEventResult CMovieButton::onMouseUp(CPoint, CButtonState) {
    endEdit();
    return kMouseEventHandled;
}

CMovieBitmap::CMovieBitmap(const CRect& r, CControlListener* l, int32_t t, int32_t frames, int32_t frameHeight,
                           CBitmap* bitmap)
    : CControl(r, l, t, bitmap),
      subPixmaps(frames) {
    heightOfOneImage = frameHeight;
}

int32_t CMovieBitmap::frameFor(float v) const {
    if (v > 1.0f) v = 1.0f;
    return v > 0.0f ? static_cast<int32_t>(v * static_cast<float>(subPixmaps - 1) + 0.5f) : 0;
}

bool CMovieBitmap::isDirty() const { return dirty || frameFor(value) != frameFor(oldValue); }

void CMovieBitmap::draw(CDrawContext* context) {
    if (value > 1.0f) value = 1.0f;
    if (background) background->draw(context, size, {0, frameFor(value) * heightOfOneImage});
    setDirty(false);
}
