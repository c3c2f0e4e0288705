#include "CKnob.h"

#include <cmath>

namespace {
constexpr float pi = 3.141592653f;
constexpr float twoPi = 6.283185307f;
}  // namespace

CKnob::CKnob(const CRect& r, CControlListener* l, int32_t t, CBitmap* bitmap)
    : CControl(r, l, t, bitmap),
      startAngle(5.0f * pi / 4.0f),
      rangeAngle(-3.0f * pi / 2.0f) {
    radius = static_cast<float>(r.width()) / 2.0f;
    focusWanted = true;
    compute();
}

void CKnob::compute() {
    a = (vmax - vmin) / rangeAngle;
    b = vmin - a * startAngle;
    halfAngle = (twoPi - std::fabs(rangeAngle)) / 2.0f;
}

float CKnob::valueFromPoint(CPoint p) const {
    float alpha = std::atan2(radius - static_cast<float>(p.y), static_cast<float>(p.x) - radius);
    if (alpha < 0.0f) alpha += twoPi;
    float alpha2 = alpha - startAngle - rangeAngle;
    float alpha3 = std::fmod(alpha2, twoPi);
    if (alpha3 < 0.0f) alpha3 += twoPi;
    if (alpha3 > halfAngle - rangeAngle) return vmax;
    if (alpha3 > -rangeAngle) return vmin;
    if (alpha2 > halfAngle - rangeAngle) alpha2 -= twoPi;
    else if (alpha2 < -halfAngle) alpha2 += twoPi;
    return a * alpha2 + vmax;
}

CMouseEventResult CKnob::onMouseDown(CPoint where, CButtonState buttons) {
    beginEdit();
    if (checkDefaultValue(buttons)) {
        endEdit();
        return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
    }
    firstPoint = where;
    lastPoint = {-1, -1};
    startValue = oldValue;
    modeLinear = false;
    entryValue = value;
    range = dragDistance;
    coefficient = (vmax - vmin) / range;
    oldButton = buttons;
    const bool linear = (buttons & platform::kAlt) == 0;
    if (linear && (buttons & platform::kLeftButton)) {
        if (buttons & platform::kShift) range *= zoomFactor;
        lastPoint = where;
        modeLinear = true;
        coefficient = (vmax - vmin) / range;
    } else {
        startValue = valueFromPoint({where.x - size.left, where.y - size.top});
    }
    return onMouseMoved(where, buttons);
}

CMouseEventResult CKnob::onMouseMoved(CPoint where, CButtonState buttons) {
    if (!(buttons & platform::kLeftButton)) return kMouseEventHandled;
    if (where == lastPoint) return kMouseEventHandled;
    lastPoint = where;
    // Against the value before this move, not the one last drawn: a film strip
    // is not redrawn for every value, and the host must still hear each one.
    const float before = value;
    if (modeLinear) {
        const int32_t diff = (firstPoint.y - where.y) + (where.x - firstPoint.x);
        if (buttons != oldButton) {
            range = (buttons & platform::kShift) ? dragDistance * zoomFactor : dragDistance;
            const float newCoefficient = (vmax - vmin) / range;
            entryValue += static_cast<float>(diff) * (coefficient - newCoefficient);
            coefficient = newCoefficient;
            oldButton = buttons;
        }
        value = entryValue + static_cast<float>(diff) * coefficient;
        bounceValue();
    } else {
        value = valueFromPoint({where.x - size.left, where.y - size.top});
        if (startValue - value > (vmax - vmin) / 2.0f) value = vmax;
        else if (value - startValue > (vmax - vmin) / 2.0f) value = vmin;
        else startValue = value;
    }
    if (!(value == before) && listener) listener->valueChanged(this);
    if (isDirty()) invalid();
    return kMouseEventHandled;
}

CMouseEventResult CKnob::onMouseUp(CPoint, CButtonState) {
    endEdit();
    return kMouseEventHandled;
}

bool CKnob::onWheel(CPoint, float distance, CButtonState buttons) {
    if (!mouseEnabled) return false;
    const float before = value;
    value += distance * ((buttons & platform::kShift) ? wheelInc * 0.1f : wheelInc);
    bounceValue();
    if (!(value == before) && listener) {
        beginEdit();
        listener->valueChanged(this);
        endEdit();
    }
    return true;
}

int32_t CKnob::onKeyDown(CKeyCode& key) {
    float step;
    switch (key.virtualKey) {
    case platform::kKeyLeft:
    case platform::kKeyDown: step = -1.0f; break;
    case platform::kKeyUp:
    case platform::kKeyRight: step = 1.0f; break;
    default: return -1;
    }
    onWheel({}, step, (key.modifiers & platform::kKeyShift) ? CButtonState{platform::kShift} : CButtonState{0});
    return 1;
}

CAnimKnob::CAnimKnob(const CRect& r, CControlListener* l, int32_t t, CBitmap* bitmap) : CKnob(r, l, t, bitmap) {
    heightOfOneImage = r.height();
    subPixmaps = bitmap && heightOfOneImage > 0 ? static_cast<int16_t>(bitmap->getHeight() / heightOfOneImage) : 0;
}

int32_t CAnimKnob::frameTop(float v) const {
    if (!(v >= 0.0f) || heightOfOneImage <= 0) return 0;
    if (v > 1.0f) v = 1.0f;  // the same frame as any value above, with no overflow
    const float span = static_cast<float>(heightOfOneImage * (subPixmaps - 1));
    int32_t y = static_cast<int32_t>(v * span);
    // Down to the start of its frame.
    y = (y / heightOfOneImage + 1) * heightOfOneImage - heightOfOneImage;
    if (y < 0) y = 0;
    // A host may set more than 1: the last frame, not a picture from past the strip.
    if (y > static_cast<int32_t>(span)) y = static_cast<int32_t>(span);
    return y;
}

bool CAnimKnob::isDirty() const { return dirty || frameTop(value) != frameTop(oldValue); }

void CAnimKnob::draw(CDrawContext* context) {
    if (background) background->draw(context, size, {0, frameTop(value)});
    setDirty(false);
}
