// What the editor needs of the effect it edits: the VST 2.4 effect, the LV2
// plug-in's user interface (through its ports) and the standalone program
// each implement it, so the editor knows none of them.
#pragma once

#include <cstdint>

class EditorEffect {
public:
    virtual ~EditorEffect() = default;
    // Normalised 0..1, by parameter index.
    virtual float getParameter(int32_t index) = 0;
    // A change the user made: sets the parameter and tells the host, if any (automation).
    virtual void setParameterAutomated(int32_t index, float value) = 0;
    // Around each gesture of the user's, so that a host records it as one edit.
    virtual void beginEdit(int32_t index) = 0;
    virtual void endEdit(int32_t index) = 0;
    // 0..1: the smoothed gain reduction, 0 dB -> 0, 20 dB or more -> 1.
    virtual float getMeterValue() = 0;
    // MIDI learn for a parameter: arms, moves or cancels it.
    virtual void toggleLearn(int32_t parameter) = 0;
    // A side-chain form's: the editor shows its Key switch (parameter 6).
    virtual bool hasKey() { return false; }
    // The open editor wants a new size in pixels (the user chose another
    // scale): true when the window around it may take it. Where the editor's
    // window is its own, nothing is in the way.
    virtual bool resizeEditor(int32_t /*width*/, int32_t /*height*/) { return true; }
};
