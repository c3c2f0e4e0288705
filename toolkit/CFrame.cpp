#include "CFrame.h"

#include "CControl.h"

namespace {
constexpr CButtonState kAnyModifier =
    platform::kShift | platform::kControl | platform::kAlt | platform::kSystemModifier;
}  // namespace

CFrame::CFrame(const CRect& r, void* parentWindow, GUIEditorInterface* owner)
    : CViewContainer(r),
      editor(owner),
      picture_(r.width(), r.height()) {
    CDrawingRuntime::acquire();
    frame = this;
    window = platform::createEditorWindow(parentWindow, r.width(), r.height(), this);
    open = window != nullptr;
}

CFrame::~CFrame() {
    setModalView(nullptr);
    removeAll();
    window.reset();
    CDrawingRuntime::release();
}

void CFrame::addView(CView* view) {
    if (!view) return;
    view->setFrame(this);
    CViewContainer::addView(view);
}

void CFrame::invalidRect(const CRect& r) {
    if (open && window) window->invalidate(r);
}

void CFrame::idle() {
    if (!open || !window) return;
    window->dispatchEvents();
    if (!open) return;  // the events may have told us the window is gone
    if (isDirty()) {
        invalidRect(size);
        setDirty(false);
    }
    for (CView* view : views)
        if (view->isVisible() && view->isDirty()) view->invalid();
    window->repaint();
}

void CFrame::drawRect(CDrawContext* context, const CRect& update) {
    if (!context) return;
    const CRect area = update.intersect(size);
    context->setClipRect(area);
    if (background) background->draw(context, size);
    for (CView* view : views) {
        if (!view->isVisible()) continue;
        const CRect clip = view->getViewSize().intersect(area);
        if (clip.isEmpty()) continue;
        context->setClipRect(clip);
        view->drawRect(context, area);
    }
    context->resetClipRect();
}

void CFrame::paint(const CRect& area) { drawRect(&picture_, area); }

bool CFrame::setModalView(CView* view) {
    if (!view) {
        if (modalView) {
            CView* leaving = modalView;
            modalView = nullptr;
            if (mouseDownView == leaving) mouseDownView = nullptr;
            if (focusView == leaving) focusView = nullptr;
            removeView(leaving);
        }
        return true;
    }
    if (modalView) return false;
    view->remember();
    addView(view);
    modalView = view;
    return true;
}

void CFrame::beginEdit(int32_t tag) {
    if (editor) editor->beginEdit(tag);
}

void CFrame::endEdit(int32_t tag) {
    if (editor) editor->endEdit(tag);
}

void CFrame::mouseDown(int32_t x, int32_t y, uint32_t bits) {
    const CPoint where{x, y};
    const auto buttons = static_cast<CButtonState>(bits);
    mouseDownView = nullptr;
    focusView = nullptr;
    CView* target = nullptr;
    if (modalView) {
        if (!modalView->isVisible() || !modalView->hitTest(where, buttons)) return;
        target = modalView;
    } else {
        for (auto it = views.rbegin(); it != views.rend(); ++it) {
            CView* view = *it;
            if (view->isVisible() && view->getMouseEnabled() && view->hitTest(where, buttons)) {
                target = view;
                break;
            }
        }
    }
    if (!target) return;
    if (CControl* control = target->asControl(); control && control->getListener() && (buttons & kAnyModifier)) {
        if (control->getListener()->controlModifierClicked(control, buttons) != 0) return;
    }
    // Kept alive while it handles the press: it may change the frame's views.
    target->remember();
    if (target->onMouseDown(where, buttons) == kMouseEventHandled) {
        mouseDownView = target;
        if (window) window->captureMouse(true);
    }
    target->forget();
}

void CFrame::mouseMoved(int32_t x, int32_t y, uint32_t bits) {
    CView* target = modalView ? modalView : mouseDownView;
    if (!target) return;
    const CMouseEventResult result = target->onMouseMoved({x, y}, static_cast<CButtonState>(bits));
    if (result != kMouseEventHandled && target == mouseDownView) mouseDownView = nullptr;
}

void CFrame::mouseUp(int32_t x, int32_t y, uint32_t bits) {
    CView* target = mouseDownView;
    mouseDownView = nullptr;
    if (window) window->captureMouse(false);
    if (target) target->onMouseUp({x, y}, static_cast<CButtonState>(bits));
}

void CFrame::wheel(int32_t x, int32_t y, float notches, uint32_t modifiers) {
    if (mouseDownView) return;
    const CPoint where{x, y};
    CView* target = modalView;
    if (!target) {
        for (auto it = views.rbegin(); it != views.rend(); ++it) {
            if ((*it)->isVisible() && (*it)->getMouseEnabled() &&
                (*it)->hitTest(where, static_cast<CButtonState>(modifiers))) {
                target = *it;
                break;
            }
        }
    }
    if (target) target->onWheel(where, notches, static_cast<CButtonState>(modifiers));
}

int32_t CFrame::keyDown(const platform::KeyCode& key) {
    CKeyCode code = key;
    if (focusView) {
        const int32_t result = focusView->onKeyDown(code);
        if (result != -1) return result;
    }
    if (modalView) {
        const int32_t result = modalView->onKeyDown(code);
        if (result != -1) return result;
    }
    if (key.virtualKey == platform::kKeyTab) {
        advanceFocus((key.modifiers & platform::kKeyShift) != 0);
        return 1;
    }
    return -1;
}

int32_t CFrame::keyUp(const platform::KeyCode& key) {
    CKeyCode code = key;
    if (focusView) {
        const int32_t result = focusView->onKeyUp(code);
        if (result != -1) return result;
    }
    if (modalView) return modalView->onKeyUp(code);
    return -1;
}

void CFrame::advanceFocus(bool backwards) {
    const auto count = static_cast<ptrdiff_t>(views.size());
    if (count == 0) return;
    ptrdiff_t at = -1;
    for (ptrdiff_t i = 0; i < count; ++i)
        if (views[static_cast<size_t>(i)] == focusView) at = i;
    for (ptrdiff_t step = 1; step <= count; ++step) {
        ptrdiff_t i = backwards ? at - step : at + step;
        i = ((i % count) + count) % count;
        if (views[static_cast<size_t>(i)]->wantsFocus()) {
            focusView = views[static_cast<size_t>(i)];
            return;
        }
    }
}
