#include "CSplashScreen.h"

#include "CFrame.h"

CDefaultSplashScreenView::CDefaultSplashScreenView(const CRect& r, CControlListener* l, CBitmap* bitmap, CPoint offset)
    : CControl(r, l, 0, bitmap) {
    backgroundOffset = offset;
}

void CDefaultSplashScreenView::draw(CDrawContext* context) {
    if (background) background->draw(context, size, backgroundOffset);
    setDirty(false);
}

CMouseEventResult CDefaultSplashScreenView::onMouseDown(CPoint, CButtonState buttons) {
    if (!(buttons & platform::kLeftButton)) return kMouseEventNotHandled;
    if (listener) listener->valueChanged(this);
    return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
}

CSplashScreen::CSplashScreen(const CRect& r, CControlListener* l, int32_t t, CBitmap* bitmap, const CRect& toDisplay,
                             CPoint offset)
    : CControl(r, l, t, bitmap),
      splashView(new CDefaultSplashScreenView(toDisplay, this, bitmap, offset)) {}

CSplashScreen::~CSplashScreen() {
    if (frame && frame->getModalView() == splashView) frame->setModalView(nullptr);
    splashView->forget();
}

bool CSplashScreen::hitTest(CPoint where, CButtonState buttons) {
    return CView::hitTest(where, buttons) && (buttons & platform::kLeftButton);
}

CMouseEventResult CSplashScreen::onMouseDown(CPoint, CButtonState buttons) {
    if (!(buttons & platform::kLeftButton)) return kMouseEventNotHandled;
    value = value == 0.0f ? 1.0f : 0.0f;
    if (value != 0.0f && frame && frame->setModalView(splashView)) {
        splashView->invalid();
        if (listener) listener->valueChanged(this);
    }
    return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
}

void CSplashScreen::valueChanged(CControl*) {
    unSplash();
    if (listener) listener->valueChanged(this);
}

void CSplashScreen::unSplash() {
    value = 0.0f;
    if (frame && frame->getModalView() == splashView) {
        splashView->invalid();
        frame->setModalView(nullptr);
    }
}
