// AEffGUIEditor: an editor built on the widget toolkit. It keeps the editor's
// size, the host's parent window and the frame while open, answers the frame's
// questions (knob mode, begin and end of an edit), and offers a throttled idle
// for long operations (doIdleStuff).
#pragma once

#include <cstdint>

#include "AEffEditor.h"
#include "CFrame.h"

class AEffGUIEditor : public AEffEditor, public GUIEditorInterface {
public:
    explicit AEffGUIEditor(AudioEffect* effect);
    ~AEffGUIEditor() override;

    bool getRect(ERect** r) override;
    bool open(void* parentWindow) override;
    void close() override {}
    bool isOpen() override { return frame != nullptr; }
    void idle() override;
    bool setKnobMode(VstInt32 mode) override;
    bool onKeyDown(VstKeyCode& key) override;
    bool onKeyUp(VstKeyCode& key) override;
    // Redraws the rectangle (the whole frame for null) now; nothing while closed.
    void draw(ERect* r);

    void doIdleStuff() override;
    int32_t getKnobMode() const override { return knobMode; }

protected:
    // Runs the host's idle (masterIdle); the effect provides it.
    virtual void callMasterIdle() = 0;

    void* systemWindow = nullptr;
    CFrame* frame = nullptr;
    ERect rect{};
    uint32_t lastTicks;
    bool inIdleStuff = false;
    // The host's choice for this editor (effSetEditKnobMode).
    int32_t knobMode = kCircularMode;
};
