#include "CHighlightFrame.h"

CHighlightFrame::CHighlightFrame(const CRect& r, void* parentWindow, GUIEditorInterface* editor)
    : CFrame(r, parentWindow, editor) {}

void CHighlightFrame::addControl(CControl* control) {
    if (!control) return;
    addView(control);
    controlsByTag[control->getTag()] = control;
}

CView* CHighlightFrame::getControlByTag(int32_t tag) {
    const auto found = controlsByTag.find(tag);
    return found == controlsByTag.end() ? nullptr : found->second;
}

void CHighlightFrame::setHighlight(int32_t tag, bool on) {
    CView* old = getHighlightedView();
    if (old) old->setDirty(true);
    CView* next = on ? getControlByTag(tag) : nullptr;
    if (next) next->setDirty(true);
    setHighlightedView(next);
}

void CHighlightFrame::drawRect(CDrawContext* context, const CRect& update) {
    CFrame::drawRect(context, update);
    if (!highlightedView || !context) return;
    const CColor savedColor = context->getFrameColor();
    const int32_t savedWidth = context->getLineWidth();
    context->setLineWidth(highlightWidth);
    context->setFrameColor(highlightColor);
    context->drawRectOutline(highlightedView->getViewSize());
    context->setLineWidth(savedWidth);
    context->setFrameColor(savedColor);
    // A modal view (a menu, the about screen) stays above the outline.
    if (modalView && modalView->isVisible()) {
        const CRect clip = modalView->getViewSize().intersect(update.intersect(size));
        if (!clip.isEmpty()) {
            context->setClipRect(clip);
            modalView->drawRect(context, clip);
            context->resetClipRect();
        }
    }
}
