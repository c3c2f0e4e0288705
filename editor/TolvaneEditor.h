// TolvaneEditor: the 750 x 200 panel. A film-strip control per parameter (five
// knobs and the ACTIVE switch, laid out by the parameter table), a needle
// meter of the gain reduction and a click area over the product logo that
// shows the about image. Gestures become automated parameter changes of the
// effect; every parameter change of the effect shows on its control at the
// next idle; Ctrl+Shift with any button on a control arms MIDI learn for it.
//
// It knows the effect only through EditorEffect, and no plug-in format: an
// adapter opens it in the host's window, idles it and forwards keys.
//
// Threads. The host calls open, close, idle and the keys on its user-interface
// thread. setParameter and setHighlight may come from any thread (automation,
// MIDI on the audio thread) while that thread closes the editor and deletes
// its controls, so they only store into atomics; the next idle applies them.
#pragma once

#include <atomic>
#include <cstdint>

#include "CControl.h"
#include "CFrame.h"
#include "EditorEffect.h"
#include "TolvaneParameters.h"

class CMovieBitmap;
class CSplashScreen;
class CHighlightFrame;

class TolvaneEditor : public GUIEditorInterface, public CControlListener {
public:
    explicit TolvaneEditor(EditorEffect* effect);
    ~TolvaneEditor() override;
    TolvaneEditor(const TolvaneEditor&) = delete;
    TolvaneEditor& operator=(const TolvaneEditor&) = delete;

    // The panel's size in pixels, open or not.
    int32_t getWidth() const { return tolvane::kPanelRect.width(); }
    int32_t getHeight() const { return tolvane::kPanelRect.height(); }

    // Builds the window inside the host's window and the controls; false
    // (and closed) when no window could be made. An open editor is closed first.
    bool open(void* parentWindow);
    void close();
    bool isOpen() const { return frame != nullptr; }
    // Applies what other threads handed over, handles the window's events,
    // repaints what changed and moves the meter.
    void idle();
    // True when a control used the key.
    bool onKeyDown(const platform::KeyCode& key);
    bool onKeyUp(const platform::KeyCode& key);
    // The host's knob mode (0 circular, 1 relative circular, 2 linear). Kept
    // for the host; this panel's frame always drags linearly.
    void setKnobMode(int32_t mode) { knobMode = mode; }

    // Any thread.
    void setParameter(int32_t index, float value);
    // Outlines the control with that tag (on), or none (off).
    void setHighlight(int32_t tag, bool on);

    // GUIEditorInterface
    int32_t getKnobMode() const override { return knobMode; }
    void beginEdit(int32_t tag) override;
    void endEdit(int32_t tag) override;
    // CControlListener
    void valueChanged(CControl* control) override;
    int32_t controlModifierClicked(CControl* control, CButtonState buttons) override;

    // While open; null otherwise.
    CHighlightFrame* getFrame() const;
    CControl* getControl(int32_t tag) const;

private:
    // Moves what other threads handed over onto the controls and the frame.
    void applyPendingChanges();

    EditorEffect* effect;
    CHighlightFrame* frame = nullptr;
    int32_t knobMode = kLinearMode;
    CControl* parameterControls[tolvane::kParameterCount] = {};
    CMovieBitmap* gainMeter = nullptr;
    CSplashScreen* aboutArea = nullptr;

    std::atomic<float> pendingValues[tolvane::kParameterCount] = {};
    std::atomic<uint32_t> pendingParameters{0};
    // The outline asked for last: a tag, or kNoHighlight; kUnchanged when
    // nothing was asked since the last idle.
    static constexpr int32_t kUnchanged = INT32_MIN, kNoHighlight = INT32_MIN + 1;
    std::atomic<int32_t> pendingHighlight{kUnchanged};
};
