#include "CView.h"

#include <algorithm>

#include "CFrame.h"

CView::CView(const CRect& r) : size(r) {}

CView::~CView() {
    if (background) background->forget();
}

void CView::draw(CDrawContext* context) {
    if (background) background->draw(context, size, backgroundOffset);
    setDirty(false);
}

bool CView::hitTest(CPoint where, CButtonState) { return size.pointInside(where); }

void CView::invalid() {
    setDirty(false);
    if (frame) frame->invalidRect(size);
}

void CView::setBackground(CBitmap* bitmap) {
    if (bitmap) bitmap->remember();
    if (background) background->forget();
    background = bitmap;
    setDirty(true);
}

void CViewContainer::addView(CView* view) {
    if (!view) return;
    views.push_back(view);
}

void CViewContainer::removeView(CView* view) {
    const auto at = std::find(views.begin(), views.end(), view);
    if (at == views.end()) return;
    views.erase(at);
    view->forget();
}

void CViewContainer::removeAll() {
    // The last added goes first, as it was drawn last.
    while (!views.empty()) {
        CView* view = views.back();
        views.pop_back();
        view->forget();
    }
}

CViewContainer::~CViewContainer() { removeAll(); }
