#include "CStripMenu.h"

#include <algorithm>

#include "CFrame.h"

CStripMenu::CStripMenu(const CRect& area, CControlListener* l, int32_t t, CBitmap* strip, int32_t height,
                       std::vector<CRect> choiceRows)
    : CControl(area, l, t, strip),
      frameHeight(height),
      rows(std::move(choiceRows)) {}

bool CStripMenu::popup(CFrame* owner, CPoint where, int32_t current) {
    if (!owner || !background) return false;
    const int32_t width = background->getWidth();
    const int32_t left = std::clamp(where.x, size.left, std::max(size.left, size.right - width));
    const int32_t top = std::clamp(where.y, size.top, std::max(size.top, size.bottom - frameHeight));
    menuRect = {left, top, left + width, top + frameHeight};
    value = static_cast<float>(current);
    if (!owner->setModalView(this)) return false;
    frame->invalidRect(menuRect);
    return true;
}

bool CStripMenu::isOpen() const { return frame && frame->getModalView() == this; }

void CStripMenu::dismiss() {
    if (!isOpen()) return;
    frame->invalidRect(menuRect);
    frame->setModalView(nullptr);
}

void CStripMenu::draw(CDrawContext* context) {
    const auto marked = static_cast<int32_t>(value);
    if (background && marked >= 0 && marked < static_cast<int32_t>(rows.size()))
        background->draw(context, menuRect, {0, marked * frameHeight});
    setDirty(false);
}

CMouseEventResult CStripMenu::onMouseDown(CPoint where, CButtonState) {
    const CPoint inside{where.x - menuRect.left, where.y - menuRect.top};
    int32_t picked = -1;
    for (size_t row = 0; row < rows.size(); ++row)
        if (rows[row].pointInside(inside)) picked = static_cast<int32_t>(row);
    // Kept alive past closing: the frame lets go of its modal view.
    remember();
    dismiss();
    if (picked >= 0) {
        value = static_cast<float>(picked);
        if (listener) listener->valueChanged(this);
    }
    forget();
    return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
}

int32_t CStripMenu::onKeyDown(CKeyCode& key) {
    if (key.virtualKey != platform::kKeyEscape) return -1;
    dismiss();
    return 1;
}
