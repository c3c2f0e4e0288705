// The editor as the host interface sees it. The effect owns one (or none); the
// dispatcher's editor opcodes reach it, and answer 0 when there is none.
#pragma once

#include "vst2.h"

class AudioEffect;

class AEffEditor {
public:
    explicit AEffEditor(AudioEffect* effect) : effect(effect) {}
    virtual ~AEffEditor() = default;

    virtual AudioEffect* getEffect() { return effect; }
    virtual bool getRect(ERect** rect) = 0;
    virtual bool open(void* parentWindow) = 0;
    virtual void close() = 0;
    virtual bool isOpen() = 0;
    virtual void idle() {}
    virtual bool onKeyDown(VstKeyCode&) { return false; }
    virtual bool onKeyUp(VstKeyCode&) { return false; }
    virtual bool setKnobMode(VstInt32) { return false; }
    // Called by the effect after every parameter change, from whichever thread made it.
    virtual void setParameter(VstInt32, float) {}

protected:
    AudioEffect* effect;
};
