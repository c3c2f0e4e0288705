#include "AudioEffect.h"

#include <cstdint>
#include <cstring>

namespace {

AudioEffect* effectOf(AEffect* e) { return static_cast<AudioEffect*>(e->object); }

// No exception crosses into the host: a call that throws (running out of
// memory) fails quietly with 0. (The engine sets the floating-point
// environment it computes in itself, whatever mode the host works in.)

// The host's calls that never come from its audio thread: there the effect may
// do work that the audio thread only flags.
bool isControlThreadCall(VstInt32 opcode) {
    switch (opcode) {
    case effOpen:
    case effClose:
    case effMainsChanged:
    case effEditOpen:
    case effEditClose:
    case effEditIdle:
    case effIdle: return true;
    default: return false;
    }
}

VstIntPtr VSTCALLBACK dispatchEffect(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                     float opt) {
    AudioEffect* effect = effectOf(e);
    try {
        if (isControlThreadCall(opcode)) effect->controlThreadCall();
        if (opcode == effClose) {
            effect->dispatcher(opcode, index, value, ptr, opt);
            delete effect;
            return 1;
        }
        return effect->dispatcher(opcode, index, value, ptr, opt);
    } catch (...) {
        return 0;
    }
}

void VSTCALLBACK processAccumulating(AEffect*, float**, float**, VstInt32) {}

void VSTCALLBACK processReplacingCallback(AEffect* e, float** inputs, float** outputs, VstInt32 frames) {
    try {
        effectOf(e)->processReplacing(inputs, outputs, frames);
    } catch (...) {
    }
}

void VSTCALLBACK processDoubleReplacingCallback(AEffect* e, double** inputs, double** outputs, VstInt32 frames) {
    try {
        effectOf(e)->processDoubleReplacing(inputs, outputs, frames);
    } catch (...) {
    }
}

void VSTCALLBACK setParameterCallback(AEffect* e, VstInt32 index, float value) {
    try {
        effectOf(e)->setParameter(index, value);
    } catch (...) {
    }
}

float VSTCALLBACK getParameterCallback(AEffect* e, VstInt32 index) {
    try {
        return effectOf(e)->getParameter(index);
    } catch (...) {
        return 0.0f;
    }
}

}  // namespace

AudioEffect::AudioEffect(audioMasterCallback host, VstInt32 programCount, VstInt32 parameterCount)
    : audioMaster(host),
      numPrograms(programCount),
      numParams(parameterCount) {
    std::memset(&cEffect, 0, sizeof cEffect);
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchEffect;
    cEffect.process = processAccumulating;
    cEffect.setParameter = setParameterCallback;
    cEffect.getParameter = getParameterCallback;
    cEffect.numPrograms = programCount;
    cEffect.numParams = parameterCount;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.version = 1;
    cEffect.processReplacing = processReplacingCallback;
    cEffect.processDoubleReplacing = processDoubleReplacingCallback;
}

AudioEffect::~AudioEffect() { delete editor; }

VstIntPtr AudioEffect::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    return audioMaster ? audioMaster(&cEffect, opcode, index, value, ptr, opt) : 0;
}

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    char* text = static_cast<char*>(ptr);
    switch (opcode) {
    case effOpen: open(); return 0;
    case effClose: close(); return 0;
    case effSetProgram:
        // A negative number is no program: refused like one that is too large.
        if (value >= 0 && value < numPrograms) setProgram(static_cast<VstInt32>(value));
        return 0;
    case effGetProgram: return getProgram();
    case effSetProgramName:
        if (text) setProgramName(text);
        return 0;
    case effGetProgramName:
        if (text) getProgramName(text);
        return 0;
    case effGetParamLabel:
        if (text) getParameterLabel(index, text);
        return 0;
    case effGetParamDisplay:
        if (text) getParameterDisplay(index, text);
        return 0;
    case effGetParamName:
        if (text) getParameterName(index, text);
        return 0;
    case effGetVu: return static_cast<VstIntPtr>(getVu() * 32767.0f);
    case effSetSampleRate: setSampleRate(opt); return 0;
    case effSetBlockSize: setBlockSize(static_cast<VstInt32>(value)); return 0;
    case effMainsChanged:
        if (value == 0) suspend();
        else resume();
        return 0;
    case effEditGetRect: return editor && ptr && editor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
    case effEditOpen: return editor && editor->open(ptr) ? 1 : 0;
    case effEditClose:
        if (editor) editor->close();
        return 0;
    case effEditIdle:
        if (editor) editor->idle();
        return 0;
    case effIdentify: return kEffectIdentity;
    case effGetChunk: return ptr ? getChunk(static_cast<void**>(ptr), index != 0) : 0;
    case effSetChunk: return setChunk(ptr, static_cast<VstInt32>(value), index != 0);
    default: return 0;
    }
}

void AudioEffect::setParameterAutomated(VstInt32 index, float value) {
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

VstIntPtr AudioEffectX::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    char* text = static_cast<char*>(ptr);
    switch (opcode) {
    case effProcessEvents: return ptr ? processEvents(static_cast<VstEvents*>(ptr)) : 1;
    case effCanBeAutomated: return canParameterBeAutomated(index) ? 1 : 0;
    case effString2Parameter: return text && string2parameter(index, text) ? 1 : 0;
    case effGetNumProgramCategories: return 1;
    case effGetProgramNameIndexed:
        return text && getProgramNameIndexed(static_cast<VstInt32>(value), index, text) ? 1 : 0;
    case effConnectInput:
    case effConnectOutput: return 1;
    case effGetPlugCategory: return getPlugCategory();
    case effSetBlockSizeAndSampleRate: setBlockSizeAndSampleRate(static_cast<VstInt32>(value), opt); return 1;
    case effGetEffectName: return text && getEffectName(text) ? 1 : 0;
    case effGetVendorString: return text && getVendorString(text) ? 1 : 0;
    case effGetProductString: return text && getProductString(text) ? 1 : 0;
    case effGetVendorVersion: return getVendorVersion();
    case effCanDo: return text ? canDo(text) : 0;
    case effVendorSpecific: return vendorSpecific(index, value, ptr, opt);
    case effKeysRequired: return keysRequired() ? 0 : 1;
    case effGetVstVersion: return getVstVersion();
    case effEditKeyDown:
    case effEditKeyUp: {
        if (!editor) return 0;
        // The modifiers come as a float; one that is no byte (NaN, huge) is none.
        const unsigned char modifiers = opt >= 0.0f && opt < 256.0f ? static_cast<unsigned char>(opt) : 0;
        VstKeyCode key{index, static_cast<unsigned char>(value), modifiers};
        return (opcode == effEditKeyDown ? editor->onKeyDown(key) : editor->onKeyUp(key)) ? 1 : 0;
    }
    case effSetEditKnobMode: return editor && editor->setKnobMode(static_cast<VstInt32>(value)) ? 1 : 0;
    case effGetCurrentMidiProgram: return -1;
    case effGetSpeakerArrangement: {
        // value and ptr carry the addresses of the host's two arrangement
        // pointers. A missing or misaligned one means the host sent something
        // else, so nothing is written through either.
        auto* input = reinterpret_cast<void**>(value);
        auto* output = static_cast<void**>(ptr);
        auto usable = [](void** p) { return p && reinterpret_cast<uintptr_t>(p) % alignof(void*) == 0; };
        if (usable(input) && usable(output)) *input = *output = nullptr;
        return 0;
    }
    case effSetTotalSampleToProcess: return value;
    default:
        // Opcodes 0..24 belong to the basic layer; every other number answers 0 there.
        if (opcode >= effOpen && opcode <= effSetChunk) return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
        return 0;
    }
}

void AudioEffectX::resume() {
    char receive[] = "receiveVstMidiEvent";
    if ((cEffect.flags & effFlagsIsSynth) || canDo(receive) == 1) wantEvents(1);
}

bool AudioEffectX::isInputConnected(VstInt32 input) { return callHost(audioMasterPinConnected, input, 0) == 0; }
bool AudioEffectX::isOutputConnected(VstInt32 output) { return callHost(audioMasterPinConnected, output, 1) == 0; }
void AudioEffectX::wantEvents(VstInt32 filter) { callHost(audioMasterWantMidi, 0, filter); }
bool AudioEffectX::beginEdit(VstInt32 index) { return callHost(audioMasterBeginEdit, index) != 0; }
bool AudioEffectX::endEdit(VstInt32 index) { return callHost(audioMasterEndEdit, index) != 0; }
