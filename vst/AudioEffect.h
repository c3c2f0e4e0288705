// The VST 2.4 effect base layer: AudioEffect owns the AEffect record that the
// host keeps for an instance, turns the basic opcodes (0..24) into virtual
// operations and wraps the host callbacks; AudioEffectX adds the extended
// opcodes (25..79). An effect derives from AudioEffectX and overrides what it
// needs; everything else keeps the defaults here.
#pragma once

#include "AEffEditor.h"
#include "vst2.h"

class AudioEffect {
public:
    AudioEffect(audioMasterCallback host, VstInt32 programCount, VstInt32 parameterCount);
    virtual ~AudioEffect();

    virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

    // The operations an effect usually overrides, in slot order.
    virtual void suspend() {}
    virtual void resume() {}
    virtual void setSampleRate(float rate) { sampleRate = rate; }
    virtual void processReplacing(float** inputs, float** outputs, VstInt32 frames) = 0;
    virtual void setParameter(VstInt32, float) {}
    virtual float getParameter(VstInt32) { return 0.0f; }
    virtual void setProgram(VstInt32 program) { curProgram = program; }
    virtual void setProgramName(char*) {}
    virtual void getProgramName(char* name) { name[0] = '\0'; }
    virtual void getParameterLabel(VstInt32, char* label) { label[0] = '\0'; }
    virtual void getParameterDisplay(VstInt32, char* text) { text[0] = '\0'; }
    virtual void getParameterName(VstInt32, char* text) { text[0] = '\0'; }

    // Defaults kept by Tolvane.
    virtual void open() {}
    virtual void close() {}
    virtual void setBlockSize(VstInt32 size) { blockSize = size; }
    virtual void processDoubleReplacing(double**, double**, VstInt32) {}
    virtual VstInt32 getChunk(void**, bool) { return 0; }
    virtual VstInt32 setChunk(void*, VstInt32, bool) { return 0; }
    virtual float getVu() { return 0.0f; }
    virtual VstInt32 getProgram() { return curProgram; }
    // Called before each host call that never comes from the audio thread (open,
    // close, suspend/resume, the editor's open, close and idle, idle): work that
    // the audio thread only flagged can be done here.
    virtual void controlThreadCall() {}

    // Host callbacks. Each does nothing (and answers its default) without a host.
    virtual void setParameterAutomated(VstInt32 index, float value);  // setParameter, then tells the host

    AEffect* getAeffect() { return &cEffect; }
    AEffEditor* getEditor() { return editor; }
    // The editor registers itself; the effect then owns it.
    void setEditor(AEffEditor* newEditor) { editor = newEditor; }

protected:
    VstIntPtr callHost(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f);

    audioMasterCallback audioMaster;
    AEffEditor* editor = nullptr;
    float sampleRate = 44100.0f;
    VstInt32 blockSize = 1024;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 curProgram = 0;
    AEffect cEffect;
};

class AudioEffectX : public AudioEffect {
public:
    using AudioEffect::AudioEffect;

    VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override;
    // Asks the host for MIDI once more when the effect is a synth or receives MIDI events.
    void resume() override;

    // The extended operations an effect usually overrides, in slot order.
    virtual bool getProgramNameIndexed(VstInt32, VstInt32, char*) { return false; }
    virtual VstInt32 processEvents(VstEvents*) { return 0; }
    virtual bool getEffectName(char*) { return false; }
    virtual bool getVendorString(char*) { return false; }
    virtual bool getProductString(char*) { return false; }
    virtual VstInt32 getVendorVersion() { return 0; }
    virtual VstInt32 canDo(char*) { return 0; }
    virtual VstInt32 getPlugCategory() { return 0; }

    // Defaults kept by Tolvane.
    virtual bool canParameterBeAutomated(VstInt32) { return true; }
    virtual bool string2parameter(VstInt32, char*) { return false; }
    virtual VstInt32 getVstVersion() { return 2400; }
    virtual bool keysRequired() { return false; }
    // A host's own extension (effVendorSpecific); 0 when not understood.
    virtual VstIntPtr vendorSpecific(VstInt32, VstIntPtr, void*, float) { return 0; }
    virtual void setBlockSizeAndSampleRate(VstInt32 size, float rate) {
        blockSize = size;
        sampleRate = rate;
    }

    // Host callbacks.
    virtual bool isInputConnected(VstInt32 input);  // true when the host answers 0, or there is no host
    virtual bool isOutputConnected(VstInt32 output);
    virtual void wantEvents(VstInt32 filter = 1);
    virtual bool beginEdit(VstInt32 index);
    virtual bool endEdit(VstInt32 index);
};
