#include "TolvaneEditor.h"

#include "CHighlightFrame.h"
#include "CKnob.h"
#include "CMovieControls.h"
#include "CSplashScreen.h"
#include "CStripMenu.h"
#include "EditorScale.h"

namespace {

// A drag of this many pixels at 100 % sweeps a knob's whole range.
constexpr float kKnobDragDistance = 200.0f;

// The panel itself, under every control: a right-click there offers the sizes.
class PanelClickArea : public CView {
public:
    PanelClickArea(const CRect& r, TolvaneEditor& editor) : CView(r), editor(editor) {}
    void draw(CDrawContext*) override { setDirty(false); }
    CMouseEventResult onMouseDown(CPoint where, CButtonState buttons) override {
        if (!(buttons & platform::kRightButton)) return kMouseEventNotHandled;
        editor.openSizeMenu(where);
        return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
    }

private:
    TolvaneEditor& editor;
};

}  // namespace

TolvaneEditor::TolvaneEditor(EditorEffect* e) : effect(e) {
    // Hosts ask the size before the first open: a choice kept from an earlier session must count then.
    editor_scale::readUserChoiceOnce();
}

TolvaneEditor::~TolvaneEditor() {
    // A host may close the effect without closing its editor first.
    close();
}

int32_t TolvaneEditor::resolveScale() const {
    for (int32_t size : editor_scale::kSizes)
        if (fixedScale == size) return size;
    // This editor's own choice counts where the settings folder could not keep it.
    int32_t userChoice = editor_scale::userChoice();
    if (userChoice == 0) userChoice = unkeptChoice;
    return editor_scale::choose(userChoice, hostScale, editor_scale::desktopFactor());
}

int32_t TolvaneEditor::getScale() const { return frame ? openScale : resolveScale(); }

int32_t TolvaneEditor::getWidth() const { return editor_scale::edge(tolvane::kPanelRect.width(), getScale()); }

int32_t TolvaneEditor::getHeight() const { return editor_scale::edge(tolvane::kPanelRect.height(), getScale()); }

void TolvaneEditor::setHostScale(double factor) {
    hostScale = factor;
    if (frame && resolveScale() != openScale) chooseScale(0);
}

void TolvaneEditor::chooseScale(int32_t percent) {
    if (percent != 0) unkeptChoice = editor_scale::writeUserChoice(percent) ? 0 : percent;
    if (!frame) return;
    const int32_t wanted = resolveScale();
    if (wanted == openScale || !askForSize(wanted)) return;  // refused: at the next open
    void* parent = parentWindow;
    close();
    open(parent);
}

bool TolvaneEditor::askForSize(int32_t percent) {
    return effect->resizeEditor(editor_scale::edge(tolvane::kPanelRect.width(), percent),
                                editor_scale::edge(tolvane::kPanelRect.height(), percent));
}

bool TolvaneEditor::open(void* parent) {
    if (frame) close();
    // The size a host asking now would have been told, from the sources as
    // last read; read afresh, they may give another, which the host is asked
    // for. A host that refuses gets the size it was told.
    const int32_t told = resolveScale();
    editor_scale::readUserChoice();
    editor_scale::readDesktopFactor(parent);
    int32_t percent = resolveScale();
    if (percent != told && !askForSize(percent)) percent = told;
    const CRect whole = editor_scale::rect(tolvane::kPanelRect, percent);
    auto* newFrame = new CHighlightFrame(whole, parent, this);
    if (!newFrame->isOpen()) {
        // No window (no display, or a parent that is no window): the host may try again later.
        newFrame->forget();
        return false;
    }
    newFrame->setHighlightWidth(editor_scale::edge(1, percent));
    CBitmap* background = new CBitmap(editor_scale::imageId(tolvane::kPanelImageId, percent));
    newFrame->setBackground(background);
    background->forget();

    // Values read now; whatever other threads hand over from here on is applied by idle.
    pendingParameters.store(0);
    pendingHighlight.store(kUnchanged);
    addControls(newFrame, percent);
    frame = newFrame;
    parentWindow = parent;
    openScale = percent;
    return true;
}

void TolvaneEditor::addControls(CHighlightFrame* newFrame, int32_t percent) {
    auto image = [percent](int32_t id) { return new CBitmap(editor_scale::imageId(id, percent)); };
    const CRect whole = editor_scale::rect(tolvane::kPanelRect, percent);
    newFrame->addView(new PanelClickArea(whole, *this));
    // Creation order is drawing order (later on top) and decides who gets a
    // click where rectangles overlap: the table's order.
    const int32_t count = effect->hasKey() ? tolvane::kSideChainParameterCount : tolvane::kParameterCount;
    for (int32_t p = 0; p < count; ++p) {
        const tolvane::ParameterInfo& info = tolvane::kParameters[p];
        CBitmap* strip = image(info.imageId);
        const CRect r = editor_scale::rect(info.rect, percent);
        CControl* control = nullptr;
        if (info.control == tolvane::Control::kKnob) {
            auto* knob = new CAnimKnob(r, this, p, strip);
            knob->setDragDistance(kKnobDragDistance * static_cast<float>(percent) / 100.0f);
            control = knob;
        } else {
            control = new CMovieButton(r, this, p, r.height(), strip);
        }
        strip->forget();  // the control keeps its own
        control->setValue(effect->getParameter(p));
        newFrame->addControl(control);
        parameterControls[p] = control;
    }
    CBitmap* meterImage = image(tolvane::kMeterImageId);
    const CRect meterRect = editor_scale::rect(tolvane::kMeterRect, percent);
    gainMeter =
        new CMovieBitmap(meterRect, this, tolvane::kMeterTag, tolvane::kMeterFrames, meterRect.height(), meterImage);
    meterImage->forget();
    gainMeter->setValue(1.0f);
    newFrame->addControl(gainMeter);
    CBitmap* aboutImage = image(tolvane::kAboutImageId);
    aboutArea = new CSplashScreen(editor_scale::rect(tolvane::kAboutRect, percent), this, tolvane::kAboutTag,
                                  aboutImage, whole);
    aboutImage->forget();
    newFrame->addControl(aboutArea);
}

void TolvaneEditor::openSizeMenu(CPoint where) {
    if (!frame) return;
    if (!sizeMenu) {
        // Made when first asked for: most editors never show it.
        std::vector<CRect> rows;
        for (const CRect& row : tolvane::kSizeMenuRows) rows.push_back(editor_scale::rect(row, openScale));
        CBitmap* menuImage = new CBitmap(editor_scale::imageId(tolvane::kSizeMenuImageId, openScale));
        sizeMenu =
            new CStripMenu(editor_scale::rect(tolvane::kPanelRect, openScale), this, tolvane::kSizeMenuTag, menuImage,
                           editor_scale::rect(tolvane::kSizeMenuFrame, openScale).height(), std::move(rows));
        menuImage->forget();
    }
    int32_t current = 0;
    for (int32_t i = 0; i < static_cast<int32_t>(std::size(editor_scale::kSizes)); ++i)
        if (editor_scale::kSizes[i] == openScale) current = i;
    sizeMenu->popup(frame, where, current);
}

void TolvaneEditor::close() {
    if (sizeMenu) sizeMenu->dismiss();
    if (frame) {
        frame->forget();
        frame = nullptr;
    }
    if (sizeMenu) {
        sizeMenu->forget();
        sizeMenu = nullptr;
    }
    parentWindow = nullptr;
    openScale = 0;
    pickedScale = 0;
    for (CControl*& control : parameterControls) control = nullptr;
    gainMeter = nullptr;
    aboutArea = nullptr;
}

CHighlightFrame* TolvaneEditor::getFrame() const { return frame; }

CControl* TolvaneEditor::getControl(int32_t tag) const {
    if (!frame) return nullptr;
    if (tolvane::isRow(tag)) return parameterControls[tag];
    if (tag == tolvane::kMeterTag) return gainMeter;
    if (tag == tolvane::kAboutTag) return aboutArea;
    return nullptr;
}

bool TolvaneEditor::onKeyDown(const platform::KeyCode& key) { return frame && frame->keyDown(key) > 0; }

bool TolvaneEditor::onKeyUp(const platform::KeyCode& key) { return frame && frame->keyUp(key) > 0; }

void TolvaneEditor::setParameter(int32_t index, float value) {
    if (!tolvane::isRow(index)) return;
    pendingValues[index].store(value, std::memory_order_relaxed);
    pendingParameters.fetch_or(1u << index, std::memory_order_release);
}

void TolvaneEditor::setHighlight(int32_t tag, bool on) { pendingHighlight.store(on ? tag : kNoHighlight); }

void TolvaneEditor::applyPendingChanges() {
    uint32_t changed = pendingParameters.exchange(0, std::memory_order_acquire);
    for (int32_t p = 0; changed != 0; ++p, changed >>= 1)
        if ((changed & 1) && parameterControls[p])
            parameterControls[p]->setValue(pendingValues[p].load(std::memory_order_relaxed));
    const int32_t highlight = pendingHighlight.exchange(kUnchanged);
    if (highlight == kNoHighlight) frame->setHighlight(0, false);
    else if (highlight != kUnchanged) frame->setHighlight(highlight, true);
}

void TolvaneEditor::idle() {
    if (!frame) return;
    applyPendingChanges();
    frame->idle();
    if (const int32_t picked = pickedScale) {
        pickedScale = 0;
        chooseScale(picked);
        if (!frame) return;
    }
    // Drawn by the next idle: the needle lags the effect by one idle period.
    if (gainMeter) gainMeter->setValue(effect->getMeterValue());
}

int TolvaneEditor::eventDescriptor() const {
    platform::EditorWindow* window = frame ? frame->getPlatformWindow() : nullptr;
    return window ? window->eventDescriptor() : -1;
}

void TolvaneEditor::valueChanged(CControl* control) {
    const int32_t tag = control->getTag();
    if (tolvane::isRow(tag)) effect->setParameterAutomated(tag, control->getValue());
    if (tag == tolvane::kSizeMenuTag) pickedScale = editor_scale::kSizes[static_cast<size_t>(control->getValue())];
}

int32_t TolvaneEditor::controlModifierClicked(CControl* control, CButtonState buttons) {
    const CButtonState learnGesture = platform::kControl | platform::kShift;
    if ((buttons & learnGesture) != learnGesture) return 0;
    const int32_t tag = control->getTag();
    if (tolvane::isRow(tag)) effect->toggleLearn(tag);
    return 1;
}

void TolvaneEditor::beginEdit(int32_t tag) { effect->beginEdit(tag); }

void TolvaneEditor::endEdit(int32_t tag) { effect->endEdit(tag); }
