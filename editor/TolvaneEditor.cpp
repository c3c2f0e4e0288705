#include "TolvaneEditor.h"

#include "CHighlightFrame.h"
#include "CKnob.h"
#include "CMovieControls.h"
#include "CSplashScreen.h"

namespace {

CRect toRect(const tolvane::PanelRect& r) { return {r.left, r.top, r.right, r.bottom}; }

}  // namespace

TolvaneEditor::TolvaneEditor(EditorEffect* e) : effect(e) {}

TolvaneEditor::~TolvaneEditor() {
    // A host may close the effect without closing its editor first.
    close();
}

bool TolvaneEditor::open(void* parentWindow) {
    if (frame) close();
    const CRect whole = toRect(tolvane::kPanelRect);
    auto* newFrame = new CHighlightFrame(whole, parentWindow, this);
    if (!newFrame->isOpen()) {
        // No window (no display, or a parent that is no window): the host may try again later.
        newFrame->forget();
        return false;
    }
    CBitmap* background = new CBitmap(tolvane::kPanelImageId);
    newFrame->setBackground(background);
    background->forget();

    // Values read now; whatever other threads hand over from here on is applied by idle.
    pendingParameters.store(0);
    pendingHighlight.store(kUnchanged);
    // Creation order is drawing order (later on top) and decides who gets a
    // click where rectangles overlap: the table's order.
    for (int32_t p = 0; p < tolvane::kParameterCount; ++p) {
        const tolvane::ParameterInfo& info = tolvane::kParameters[p];
        CBitmap* image = new CBitmap(info.imageId);
        CControl* control = nullptr;
        if (info.control == tolvane::Control::kKnob)
            control = new CAnimKnob(toRect(info.rect), this, p, image);
        else
            control = new CMovieButton(toRect(info.rect), this, p, info.frameHeight, image);
        image->forget();  // the control keeps its own
        control->setValue(effect->getParameter(p));
        newFrame->addControl(control);
        parameterControls[p] = control;
    }
    CBitmap* meterImage = new CBitmap(tolvane::kMeterImageId);
    gainMeter = new CMovieBitmap(toRect(tolvane::kMeterRect), this, tolvane::kMeterTag, tolvane::kMeterFrames,
                                 tolvane::kMeterRect.height(), meterImage);
    meterImage->forget();
    gainMeter->setValue(1.0f);
    newFrame->addControl(gainMeter);
    CBitmap* aboutImage = new CBitmap(tolvane::kAboutImageId);
    aboutArea = new CSplashScreen(toRect(tolvane::kAboutRect), this, tolvane::kAboutTag, aboutImage, whole);
    aboutImage->forget();
    newFrame->addControl(aboutArea);

    frame = newFrame;
    return true;
}

void TolvaneEditor::close() {
    if (frame) {
        frame->forget();
        frame = nullptr;
    }
    for (CControl*& control : parameterControls) control = nullptr;
    gainMeter = nullptr;
    aboutArea = nullptr;
}

CHighlightFrame* TolvaneEditor::getFrame() const { return frame; }

CControl* TolvaneEditor::getControl(int32_t tag) const {
    if (!frame) return nullptr;
    if (tolvane::isParameter(tag)) return parameterControls[tag];
    if (tag == tolvane::kMeterTag) return gainMeter;
    if (tag == tolvane::kAboutTag) return aboutArea;
    return nullptr;
}

bool TolvaneEditor::onKeyDown(const platform::KeyCode& key) { return frame && frame->keyDown(key) > 0; }

bool TolvaneEditor::onKeyUp(const platform::KeyCode& key) { return frame && frame->keyUp(key) > 0; }

void TolvaneEditor::setParameter(int32_t index, float value) {
    if (!tolvane::isParameter(index)) return;
    pendingValues[index].store(value, std::memory_order_relaxed);
    pendingParameters.fetch_or(1u << index, std::memory_order_release);
}

void TolvaneEditor::setHighlight(int32_t tag, bool on) { pendingHighlight.store(on ? tag : kNoHighlight); }

void TolvaneEditor::applyPendingChanges() {
    uint32_t changed = pendingParameters.exchange(0, std::memory_order_acquire);
    for (int32_t p = 0; changed != 0; ++p, changed >>= 1)
        if (changed & 1) parameterControls[p]->setValue(pendingValues[p].load(std::memory_order_relaxed));
    const int32_t highlight = pendingHighlight.exchange(kUnchanged);
    if (highlight == kNoHighlight) frame->setHighlight(0, false);
    else if (highlight != kUnchanged) frame->setHighlight(highlight, true);
}

void TolvaneEditor::idle() {
    if (!frame) return;
    applyPendingChanges();
    frame->idle();
    // Drawn by the next idle: the needle lags the effect by one idle period.
    if (gainMeter) gainMeter->setValue(effect->getMeterValue());
}

void TolvaneEditor::valueChanged(CControl* control) {
    const int32_t tag = control->getTag();
    if (tolvane::isParameter(tag)) effect->setParameterAutomated(tag, control->getValue());
}

int32_t TolvaneEditor::controlModifierClicked(CControl* control, CButtonState buttons) {
    const CButtonState learnGesture = platform::kControl | platform::kShift;
    if ((buttons & learnGesture) != learnGesture) return 0;
    const int32_t tag = control->getTag();
    if (tolvane::isParameter(tag)) effect->toggleLearn(tag);
    return 1;
}

void TolvaneEditor::beginEdit(int32_t tag) { effect->beginEdit(tag); }

void TolvaneEditor::endEdit(int32_t tag) { effect->endEdit(tag); }
