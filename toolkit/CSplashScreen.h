// CSplashScreen: an invisible click area that shows an image over the whole
// frame as its modal view; a click on the image hides it again. The listener
// hears value 1 when shown and 0 when hidden.
//
// CDefaultSplashScreenView: that image, reporting a left click to its splash screen.
#pragma once

#include "CControl.h"

class CDefaultSplashScreenView : public CControl {
public:
    CDefaultSplashScreenView(const CRect& size, CControlListener* listener, CBitmap* background, CPoint offset);

    void draw(CDrawContext* context) override;
    CMouseEventResult onMouseDown(CPoint where, CButtonState buttons) override;
};

class CSplashScreen : public CControl, public CControlListener {
public:
    // `toDisplay` is where the image shows (the whole editor), from `offset` in it.
    CSplashScreen(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background,
                  const CRect& toDisplay, CPoint offset = {});

    void draw(CDrawContext*) override { setDirty(false); }
    bool hitTest(CPoint where, CButtonState buttons) override;
    CMouseEventResult onMouseDown(CPoint where, CButtonState buttons) override;
    void valueChanged(CControl* control) override;  // from the image view
    void unSplash();
    CDefaultSplashScreenView* getSplashView() const { return splashView; }

protected:
    ~CSplashScreen() override;

private:
    CDefaultSplashScreenView* splashView;
};
