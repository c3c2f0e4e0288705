#include "TolvaneEditor.h"

#include "CHighlightFrame.h"
#include "CKnob.h"
#include "CMovieControls.h"
#include "CSplashScreen.h"

namespace {

enum ImageId : int32_t {
    kBackgroundImage = 10000,
    kRatioKnobImage,
    kAttackKnobImage,
    kReleaseKnobImage,
    kSensitivityKnobImage,
    kMakeUpKnobImage,
    kMeterImage,
    kSwitchImage,
    kAboutImage,
};

// The layout, in creation order, which is also the drawing order (later on
// top) and decides who gets a click where rectangles overlap (knob 3 overlaps
// knob 2 by 3 pixels, knob 5 knob 4 by 2).
constexpr CRect kKnobRects[5] = {
    {14, 65, 109, 152}, {109, 65, 204, 152}, {201, 65, 296, 152}, {475, 65, 570, 152}, {568, 65, 663, 152}};
constexpr CRect kSwitchRect{668, 54, 750, 143};
constexpr int32_t kSwitchFrameHeight = 89;
constexpr CRect kMeterRect{316, 39, 434, 160};
constexpr int32_t kMeterFrames = 33, kMeterFrameHeight = 121;
constexpr CRect kAboutRect{501, 171, 694, 200};
constexpr int32_t kActiveParameter = 5;

}  // namespace

TolvaneEditor::TolvaneEditor(AudioEffect* owner, EditorEffect* e) : AEffGUIEditor(owner), effect(e) {
    // The size from the background's header: hosts ask for it of every
    // instance, most never open the editor, and its images are decoded only then.
    const CRect size = CBitmap::getResourceBounds(kBackgroundImage);
    rect.top = 0;
    rect.left = 0;
    rect.bottom = static_cast<int16_t>(size.height());
    rect.right = static_cast<int16_t>(size.width());
    knobMode = kLinearMode;
}

TolvaneEditor::~TolvaneEditor() {
    // A host may close the effect without closing its editor first.
    close();
}

bool TolvaneEditor::open(void* parentWindow) {
    if (frame) close();
    AEffGUIEditor::open(parentWindow);
    const CRect whole{0, 0, rect.right, rect.bottom};
    auto* newFrame = new CHighlightFrame(whole, parentWindow, this);
    if (!newFrame->isOpen()) {
        // No window (no display, a parent that is no window): nothing is open, and the host may try again.
        newFrame->forget();
        return false;
    }
    // Shared with every other open editor of the process (decoded by the first).
    CBitmap* background = new CBitmap(kBackgroundImage);
    newFrame->setBackground(background);
    background->forget();
    CBitmap* images[8];
    for (int32_t i = 0; i < 8; ++i) images[i] = new CBitmap(kRatioKnobImage + i);

    // Values read now; whatever other threads hand over from here on is applied by idle.
    pendingParameters.store(0);
    pendingHighlight.store(kUnchanged);
    for (int32_t p = 0; p < 5; ++p) {
        knobs[p] = new CAnimKnob(kKnobRects[p], this, p, images[p]);
        knobs[p]->setValue(effect->getParameter(p));
        newFrame->addControl(knobs[p]);
    }
    activeSwitch = new CMovieButton(kSwitchRect, this, kActiveParameter, kSwitchFrameHeight, images[6]);
    activeSwitch->setValue(effect->getParameter(kActiveParameter));
    newFrame->addControl(activeSwitch);
    gainMeter = new CMovieBitmap(kMeterRect, this, kMeterTag, kMeterFrames, kMeterFrameHeight, images[5]);
    gainMeter->setValue(1.0f);
    newFrame->addControl(gainMeter);
    aboutArea = new CSplashScreen(kAboutRect, this, kAboutTag, images[7], whole);
    newFrame->addControl(aboutArea);
    for (CBitmap* image : images) image->forget();  // the controls keep their own

    frame = newFrame;
    controlsOpen = true;
    return true;
}

void TolvaneEditor::close() {
    controlsOpen = false;
    if (frame) {
        frame->forget();
        frame = nullptr;
    }
    for (auto*& knob : knobs) knob = nullptr;
    activeSwitch = nullptr;
    gainMeter = nullptr;
    aboutArea = nullptr;
}

CHighlightFrame* TolvaneEditor::getFrame() const { return static_cast<CHighlightFrame*>(frame); }

CControl* TolvaneEditor::getControl(int32_t tag) const {
    if (!controlsOpen) return nullptr;
    if (tag >= 0 && tag < 5) return knobs[tag];
    if (tag == kActiveParameter) return activeSwitch;
    if (tag == kMeterTag) return gainMeter;
    if (tag == kAboutTag) return aboutArea;
    return nullptr;
}

void TolvaneEditor::setParameter(VstInt32 index, float value) {
    if (index < 0 || index >= kParameterCount) return;
    pendingValues[index].store(value, std::memory_order_relaxed);
    pendingParameters.fetch_or(1u << index, std::memory_order_release);
}

void TolvaneEditor::setHighlight(VstInt32 tag, bool on) { pendingHighlight.store(on ? tag : kNoHighlight); }

void TolvaneEditor::applyPendingChanges() {
    uint32_t changed = pendingParameters.exchange(0, std::memory_order_acquire);
    for (int32_t p = 0; changed != 0; ++p, changed >>= 1) {
        if (!(changed & 1)) continue;
        const float value = pendingValues[p].load(std::memory_order_relaxed);
        if (p < 5) knobs[p]->setValue(value);
        else activeSwitch->setValue(value);
    }
    const int32_t highlight = pendingHighlight.exchange(kUnchanged);
    if (highlight == kNoHighlight) getFrame()->setHighlight(0, false);
    else if (highlight != kUnchanged) getFrame()->setHighlight(highlight, true);
}

void TolvaneEditor::idle() {
    if (!controlsOpen) return;
    applyPendingChanges();
    AEffGUIEditor::idle();
    // Drawn by the next idle: the needle lags the effect by one idle period.
    gainMeter->setValue(effect->getMeterValue());
}

void TolvaneEditor::valueChanged(CControl* control) {
    const int32_t tag = control->getTag();
    if (tag >= 0 && tag < kParameterCount) effect->setParameterAutomated(tag, control->getValue());
}

int32_t TolvaneEditor::controlModifierClicked(CControl* control, CButtonState buttons) {
    const CButtonState learnGesture = platform::kControl | platform::kShift;
    if ((buttons & learnGesture) != learnGesture) return 0;
    const int32_t tag = control->getTag();
    if (tag != kAboutTag && tag != kMeterTag) effect->toggleLearn(tag);
    return 1;
}

void TolvaneEditor::beginEdit(int32_t tag) { effect->beginEdit(tag); }

void TolvaneEditor::endEdit(int32_t tag) { effect->endEdit(tag); }
