// CHighlightFrame: the editor's frame. On top of CFrame it can outline one
// control, chosen by its tag, with a rectangle on the control's outermost
// pixel ring (one pixel wide unless set; drawn after every view but a modal
// one, so it stays on top while the control repaints).
#pragma once

#include <map>

#include "CControl.h"
#include "CFrame.h"

class CHighlightFrame : public CFrame {
public:
    CHighlightFrame(const CRect& size, void* parentWindow, GUIEditorInterface* editor);

    void drawRect(CDrawContext* context, const CRect& update) override;

    // Adds the control and files it under its tag (a later one replaces an
    // earlier one in the file, not among the views). Null is ignored.
    void addControl(CControl* control);
    void setHighlightedView(CView* view) { highlightedView = view; }
    CView* getHighlightedView() const { return highlightedView; }
    void setHighlightWidth(int32_t pixels) { highlightWidth = pixels; }
    // On: outlines the control of that tag (none when no control has it).
    // Off: clears whatever is outlined, whatever the tag. Only marks the views
    // concerned dirty; the next idle repaints them.
    void setHighlight(int32_t tag, bool on);
    // Null for a tag that names no control.
    CView* getControlByTag(int32_t tag);

private:
    CView* highlightedView = nullptr;
    CColor highlightColor{255, 255, 255, 255};
    int32_t highlightWidth = 1;
    std::map<int32_t, CView*> controlsByTag;
};
