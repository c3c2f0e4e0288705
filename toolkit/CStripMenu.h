// CStripMenu: a small menu drawn from a film strip, as the frame's modal view:
// frame k of the strip is the menu with choice k marked, and each choice has a
// row inside the frame. A click on a row picks that choice (the listener hears
// its number as the value) and closes the menu; a click anywhere else, or
// Escape, closes it without a choice. The menu takes the whole frame, so that
// every click reaches it while it is open.
#pragma once

#include <vector>

#include "CControl.h"

class CStripMenu : public CControl {
public:
    // `area` is the frame's whole rectangle; `rows` are inside one frame of the
    // strip, from its top-left corner.
    CStripMenu(const CRect& area, CControlListener* listener, int32_t tag, CBitmap* strip, int32_t frameHeight,
               std::vector<CRect> rows);

    // Opens the menu over `frame`, its corner at `where` (moved as little as
    // needed to stay inside), with choice `current` marked. False when another
    // view is modal.
    bool popup(CFrame* frame, CPoint where, int32_t current);
    // Closes it without a choice.
    void dismiss();
    bool isOpen() const;
    // Where the menu shows.
    const CRect& getMenuRect() const { return menuRect; }

    void draw(CDrawContext* context) override;
    bool hitTest(CPoint, CButtonState) override { return true; }
    CMouseEventResult onMouseDown(CPoint where, CButtonState buttons) override;
    int32_t onKeyDown(CKeyCode& key) override;

private:
    int32_t frameHeight;
    std::vector<CRect> rows;
    CRect menuRect;
};
