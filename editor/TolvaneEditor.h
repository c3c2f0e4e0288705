// TolvaneEditor: the 750 x 200 panel. A film-strip control per parameter (five
// knobs and the ACTIVE switch, and in the side-chain forms the KEY switch,
// laid out by the parameter table), a needle
// meter of the gain reduction and a click area over the product logo that
// shows the about image. Gestures become automated parameter changes of the
// effect; every parameter change of the effect shows on its control at the
// next idle; Ctrl+Shift with any button on a control arms MIDI learn for it.
//
// Sizes. The panel is drawn at 100 %, 150 % or 200 % from images made for each
// (EditorScale.h says which it opens at). Every rectangle, drag distance and
// the learn outline grow with it. A right-click on the panel outside the
// controls offers the sizes; the user's choice is kept for every editor, and
// an open editor asks its effect (and so the host) for the new size.
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
class CStripMenu;
class CHighlightFrame;

class TolvaneEditor : public GUIEditorInterface, public CControlListener {
public:
    explicit TolvaneEditor(EditorEffect* effect);
    ~TolvaneEditor() override;
    TolvaneEditor(const TolvaneEditor&) = delete;
    TolvaneEditor& operator=(const TolvaneEditor&) = delete;

    // The size in percent: the open editor's, or the one it would open at
    // from the sources as last read (EditorScale.h); reads nothing.
    int32_t getScale() const;
    // The panel's size in pixels at that scale.
    int32_t getWidth() const;
    int32_t getHeight() const;
    // A scale the host announced (1.0 is 100 %; 0 for none).
    void setHostScale(double factor);
    // A size in percent before every other source (pictures of the editor); 0 for none.
    void setFixedScale(int32_t percent) { fixedScale = percent; }
    // The user's choice of size, kept for every editor opened later. An open
    // editor asks its effect for the new size and reopens at it; when the
    // effect refuses, it stays as it is until it opens next.
    void chooseScale(int32_t percent);

    // Reads the user's choice and the desktop's scale, and builds the window
    // inside the host's window and the controls; false (and closed) when no
    // window could be made. An open editor is closed first. When the sources
    // now give another size than getScale gave just before, the effect is
    // asked for it first; if it refuses, the editor opens at the old one.
    bool open(void* parentWindow);
    void close();
    bool isOpen() const { return frame != nullptr; }
    // Applies what other threads handed over, handles the window's events,
    // repaints what changed and moves the meter.
    void idle();
    // The descriptor the open window's events arrive on, for hosts that run
    // idle() when it is readable (as well as on their timer); -1 for none.
    int eventDescriptor() const;
    // True when a control used the key.
    bool onKeyDown(const platform::KeyCode& key);
    bool onKeyUp(const platform::KeyCode& key);

    // Any thread.
    void setParameter(int32_t index, float value);
    // Outlines the control with that tag (on), or none (off).
    void setHighlight(int32_t tag, bool on);

    // GUIEditorInterface
    void beginEdit(int32_t tag) override;
    void endEdit(int32_t tag) override;
    // CControlListener
    void valueChanged(CControl* control) override;
    int32_t controlModifierClicked(CControl* control, CButtonState buttons) override;

    // While open; null otherwise.
    CHighlightFrame* getFrame() const;
    CControl* getControl(int32_t tag) const;
    // Opens the menu of sizes at a point of the panel (a right-click outside the controls).
    void openSizeMenu(CPoint where);

private:
    // Moves what other threads handed over onto the controls and the frame.
    void applyPendingChanges();
    // The scale the first applying source gives, as last read.
    int32_t resolveScale() const;
    // Asks the effect for the panel's size at `percent`: true when it took it.
    bool askForSize(int32_t percent);
    void addControls(CHighlightFrame* newFrame, int32_t percent);

    EditorEffect* effect;
    CHighlightFrame* frame = nullptr;
    void* parentWindow = nullptr;  // while open
    int32_t openScale = 0;         // while open
    double hostScale = 0.0;
    int32_t fixedScale = 0;
    int32_t unkeptChoice = 0;  // the user's, when the settings folder could not keep it
    CControl* parameterControls[tolvane::kSideChainParameterCount] = {};  // null where the form has none
    CMovieBitmap* gainMeter = nullptr;
    CSplashScreen* aboutArea = nullptr;
    CStripMenu* sizeMenu = nullptr;
    // A size picked in the menu, applied by the next idle (it rebuilds the
    // frame, which cannot happen inside the frame's own click); 0 for none.
    int32_t pickedScale = 0;

    std::atomic<float> pendingValues[tolvane::kSideChainParameterCount] = {};
    std::atomic<uint32_t> pendingParameters{0};
    // The outline asked for last: a tag, or kNoHighlight; kUnchanged when
    // nothing was asked since the last idle.
    static constexpr int32_t kUnchanged = INT32_MIN, kNoHighlight = INT32_MIN + 1;
    std::atomic<int32_t> pendingHighlight{kUnchanged};
};
