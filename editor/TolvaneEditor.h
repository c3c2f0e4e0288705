// TolvaneEditor: the 750 x 200 panel. Five film-strip knobs (Ratio, Attack,
// Release, Sensitivity, Make-Up Gain), the ACTIVE switch, a needle meter of
// the gain reduction and a click area over the product logo that shows the
// about image. Gestures become automated parameter changes of the effect;
// every parameter change of the effect shows on its control at the next idle;
// Ctrl+Shift with any button on a control arms MIDI learn for it.
//
// Threads. The host calls open, close and idle on its user-interface thread.
// setParameter and setHighlight may come from any thread (automation, MIDI on
// the audio thread) while that thread closes the editor and deletes its
// controls, so they only store into atomics; the next idle applies them.
#pragma once

#include <atomic>

#include "AEffGUIEditor.h"
#include "CControl.h"
#include "EditorEffect.h"

class CAnimKnob;
class CMovieButton;
class CMovieBitmap;
class CSplashScreen;
class CHighlightFrame;

class TolvaneEditor : public AEffGUIEditor, public CControlListener, public LearnHighlight {
public:
    enum Tag : int32_t { kAboutTag = 7, kMeterTag = 8 };
    static constexpr int32_t kParameterCount = 6;

    TolvaneEditor(AudioEffect* owner, EditorEffect* effect);
    ~TolvaneEditor() override;

    // Builds the window and the controls; false, with nothing open, when no window could be made.
    bool open(void* parentWindow) override;
    void close() override;
    void idle() override;
    void setParameter(VstInt32 index, float value) override;
    void setHighlight(VstInt32 tag, bool on) override;

    void valueChanged(CControl* control) override;
    int32_t controlModifierClicked(CControl* control, CButtonState buttons) override;
    void beginEdit(int32_t tag) override;
    void endEdit(int32_t tag) override;

    // While open; null otherwise.
    CHighlightFrame* getFrame() const;
    CControl* getControl(int32_t tag) const;

protected:
    void callMasterIdle() override { effect->masterIdle(); }

private:
    // Moves what other threads handed over onto the controls and the frame.
    void applyPendingChanges();

    EditorEffect* effect;
    CAnimKnob* knobs[5] = {};
    CMovieButton* activeSwitch = nullptr;
    CMovieBitmap* gainMeter = nullptr;
    CSplashScreen* aboutArea = nullptr;
    bool controlsOpen = false;

    std::atomic<float> pendingValues[kParameterCount] = {};
    std::atomic<uint32_t> pendingParameters{0};
    // The outline asked for last: a tag, or kNoHighlight; kUnchanged when
    // nothing was asked since the last idle.
    static constexpr int32_t kUnchanged = INT32_MIN, kNoHighlight = INT32_MIN + 1;
    std::atomic<int32_t> pendingHighlight{kUnchanged};
};
