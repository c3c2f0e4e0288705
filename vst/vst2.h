// The VST 2.4 binary interface as Tolvane uses it: the effect record, the
// opcode, flag and host-callback numbers, and the event structures. Written
// from the published numbers; the record's field order and its 32-bit offsets
// are binding, and on 64-bit targets the same fields take natural alignment.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define VSTCALLBACK __cdecl
#else
#define VSTCALLBACK
#endif

using VstInt32 = int32_t;
using VstIntPtr = intptr_t;

struct AEffect;

using audioMasterCallback = VstIntPtr(VSTCALLBACK*)(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                                    void* ptr, float opt);
using AEffectDispatcherProc = VstIntPtr(VSTCALLBACK*)(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                                      void* ptr, float opt);
using AEffectProcessProc = void(VSTCALLBACK*)(AEffect* effect, float** inputs, float** outputs, VstInt32 sampleFrames);
using AEffectProcessDoubleProc = void(VSTCALLBACK*)(AEffect* effect, double** inputs, double** outputs,
                                                    VstInt32 sampleFrames);
using AEffectSetParameterProc = void(VSTCALLBACK*)(AEffect* effect, VstInt32 index, float parameter);
using AEffectGetParameterProc = float(VSTCALLBACK*)(AEffect* effect, VstInt32 index);

// Four characters as a big-endian 32-bit constant: 'VstP' -> 0x56737450.
constexpr VstInt32 fourCharacters(char a, char b, char c, char d) {
    return static_cast<VstInt32>((static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24) |
                                 (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16) |
                                 (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8) |
                                 static_cast<uint32_t>(static_cast<uint8_t>(d)));
}

constexpr VstInt32 kEffectMagic = fourCharacters('V', 's', 't', 'P');
// What effIdentify answers: the tag by which old hosts recognise an effect.
constexpr VstInt32 kEffectIdentity = fourCharacters('N', 'v', 'E', 'f');

struct AEffect {
    VstInt32 magic;
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc process;  // the deprecated accumulating process
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 numInputs;
    VstInt32 numOutputs;
    VstInt32 flags;
    VstIntPtr resvd1;
    VstIntPtr resvd2;
    VstInt32 initialDelay;
    VstInt32 realQualities;
    VstInt32 offQualities;
    float ioRatio;
    void* object;
    void* user;
    VstInt32 uniqueID;
    VstInt32 version;
    AEffectProcessProc processReplacing;
    AEffectProcessDoubleProc processDoubleReplacing;
    char future[56];
};

#define VST2_FIELD_AT(field, offset32, offset64) \
    static_assert(offsetof(AEffect, field) == (sizeof(void*) == 4 ? (offset32) : (offset64)), #field)
VST2_FIELD_AT(magic, 0, 0);
VST2_FIELD_AT(dispatcher, 4, 8);
VST2_FIELD_AT(process, 8, 16);
VST2_FIELD_AT(setParameter, 12, 24);
VST2_FIELD_AT(getParameter, 16, 32);
VST2_FIELD_AT(numPrograms, 20, 40);
VST2_FIELD_AT(numParams, 24, 44);
VST2_FIELD_AT(numInputs, 28, 48);
VST2_FIELD_AT(numOutputs, 32, 52);
VST2_FIELD_AT(flags, 36, 56);
VST2_FIELD_AT(resvd1, 40, 64);
VST2_FIELD_AT(resvd2, 44, 72);
VST2_FIELD_AT(initialDelay, 48, 80);
VST2_FIELD_AT(realQualities, 52, 84);
VST2_FIELD_AT(offQualities, 56, 88);
VST2_FIELD_AT(ioRatio, 60, 92);
VST2_FIELD_AT(object, 64, 96);
VST2_FIELD_AT(user, 68, 104);
VST2_FIELD_AT(uniqueID, 72, 112);
VST2_FIELD_AT(version, 76, 116);
VST2_FIELD_AT(processReplacing, 80, 120);
VST2_FIELD_AT(processDoubleReplacing, 84, 128);
VST2_FIELD_AT(future, 88, 136);
#undef VST2_FIELD_AT
static_assert(sizeof(AEffect) == (sizeof(void*) == 4 ? 144 : 192), "AEffect size");

// Effect flags.
enum : VstInt32 {
    effFlagsHasEditor = 1 << 0,
    effFlagsCanReplacing = 1 << 4,
    effFlagsProgramChunks = 1 << 5,
    effFlagsIsSynth = 1 << 8,
    effFlagsNoSoundInStop = 1 << 9,
    effFlagsCanDoubleReplacing = 1 << 12,
};

// Opcodes the host sends to the effect's dispatcher, numbered by position;
// kept packed (a formatter would give each its own line).
// clang-format off
enum : VstInt32 {
    effOpen = 0, effClose, effSetProgram, effGetProgram, effSetProgramName, effGetProgramName,
    effGetParamLabel, effGetParamDisplay, effGetParamName, effGetVu, effSetSampleRate, effSetBlockSize,
    effMainsChanged, effEditGetRect, effEditOpen, effEditClose, effEditDraw, effEditMouse, effEditKey,
    effEditIdle, effEditTop, effEditSleep, effIdentify, effGetChunk, effSetChunk,
    effProcessEvents = 25, effCanBeAutomated, effString2Parameter, effGetNumProgramCategories,
    effGetProgramNameIndexed, effCopyProgram, effConnectInput, effConnectOutput, effGetInputProperties,
    effGetOutputProperties, effGetPlugCategory, effGetCurrentPosition, effGetDestinationBuffer,
    effOfflineNotify, effOfflinePrepare, effOfflineRun, effProcessVarIo, effSetSpeakerArrangement,
    effSetBlockSizeAndSampleRate, effSetBypass, effGetEffectName, effGetErrorText, effGetVendorString,
    effGetProductString, effGetVendorVersion, effVendorSpecific, effCanDo, effGetTailSize, effIdle,
    effGetIcon, effSetViewPosition, effGetParameterProperties, effKeysRequired, effGetVstVersion,
    effEditKeyDown, effEditKeyUp, effSetEditKnobMode, effGetMidiProgramName, effGetCurrentMidiProgram,
    effGetMidiProgramCategory, effHasMidiProgramsChanged, effGetMidiKeyName, effBeginSetProgram,
    effEndSetProgram, effGetSpeakerArrangement, effShellGetNextPlugin, effStartProcess, effStopProcess,
    effSetTotalSampleToProcess, effSetPanLaw, effBeginLoadBank, effBeginLoadProgram,
    effSetProcessPrecision, effGetNumMidiInputChannels, effGetNumMidiOutputChannels,
};
// clang-format on
static_assert(effGetVstVersion == 58 && effGetNumMidiOutputChannels == 79, "opcode numbering");

// Opcodes the effect sends to the host callback.
enum : VstInt32 {
    audioMasterAutomate = 0,
    audioMasterVersion = 1,
    audioMasterIdle = 3,
    audioMasterPinConnected = 4,
    audioMasterWantMidi = 6,
    audioMasterSizeWindow = 15,     // the editor asks for a new size: index width, value height; 1 when done
    audioMasterUpdateDisplay = 42,  // the effect's parameters or programs changed: hosts re-read them
    audioMasterBeginEdit = 43,
    audioMasterEndEdit = 44,
};

enum : VstInt32 { kPlugCategEffect = 1 };

// Text lengths hosts provide.
enum : VstInt32 {
    kVstMaxProgNameLen = 24,
    kVstMaxParamStrLen = 8,
    kVstMaxEffectNameLen = 32,
    kVstMaxVendorStrLen = 64,
    kVstMaxProductStrLen = 64,
};

// Events.
enum : VstInt32 { kVstMidiType = 1 };

struct VstEvent {
    VstInt32 type;
    VstInt32 byteSize;
    VstInt32 deltaFrames;
    VstInt32 flags;
    char data[16];
};

struct VstEvents {
    VstInt32 numEvents;
    VstIntPtr reserved;
    VstEvent* events[2];  // numEvents entries in practice
};

struct VstMidiEvent {
    VstInt32 type;
    VstInt32 byteSize;
    VstInt32 deltaFrames;
    VstInt32 flags;
    VstInt32 noteLength;
    VstInt32 noteOffset;
    char midiData[4];
    char detune;
    char noteOffVelocity;
    char reserved1;
    char reserved2;
};
static_assert(sizeof(VstEvent) == 32 && sizeof(VstMidiEvent) == 32, "event size");
static_assert(offsetof(VstMidiEvent, midiData) == 24, "midiData offset");
static_assert(offsetof(VstEvents, events) == 2 * sizeof(void*), "events offset");

// The editor's rectangle and key code.
struct ERect {
    int16_t top, left, bottom, right;
};

struct VstKeyCode {
    VstInt32 character;
    unsigned char virt;
    unsigned char modifier;
};
