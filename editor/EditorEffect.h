// What the editor needs of the effect it edits, so that the editor depends on
// no effect class: the effect implements these.
#pragma once

#include "vst2.h"

class EditorEffect {
public:
    virtual ~EditorEffect() = default;
    virtual float getParameter(VstInt32 index) = 0;
    // Sets the parameter and tells the host (automation).
    virtual void setParameterAutomated(VstInt32 index, float value) = 0;
    virtual bool beginEdit(VstInt32 index) = 0;
    virtual bool endEdit(VstInt32 index) = 0;
    virtual void masterIdle() = 0;
    // 0..1: the smoothed gain reduction, 0 dB -> 0, 20 dB or more -> 1.
    virtual float getMeterValue() = 0;
    // MIDI learn for a parameter: arms, moves or cancels it.
    virtual void toggleLearn(VstInt32 parameter) = 0;
};

// What draws the learn outline around a control. The effect calls it when
// learning is armed, moved, completed or cancelled, from any thread.
class LearnHighlight {
public:
    virtual ~LearnHighlight() = default;
    virtual void setHighlight(VstInt32 tag, bool on) = 0;
};
