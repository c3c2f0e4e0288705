// The editor as the host interface sees it. The effect owns one (or none); the
// dispatcher's editor opcodes reach it, and answer 0 when there is none.
#pragma once

#include "vst2.h"

class AEffEditor {
public:
    virtual ~AEffEditor() = default;

    // The editor's size; true when *rect points to it.
    virtual bool getRect(ERect** rect) = 0;
    // Opens the editor inside the host's window; false when no window could be made.
    virtual bool open(void* parentWindow) = 0;
    virtual void close() = 0;
    virtual bool isOpen() = 0;
    virtual void idle() {}
    virtual bool onKeyDown(VstKeyCode&) { return false; }
    virtual bool onKeyUp(VstKeyCode&) { return false; }
    virtual bool setKnobMode(VstInt32) { return false; }
};
