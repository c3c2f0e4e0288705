// The LV2 plug-in's contract, shared by its DSP binary, its user interface and
// the generator of its description: the URIs, the port layout, the messages
// between DSP and user interface, and how a control port's value relates to
// the engine's plain and normalised values.
//
// Ports, the same indexes in the stereo, the mono and the side-chain plug-in:
//   0..5  the six parameters, in plain values (ratio, ms, ms, dB, dB, Active in %)
//   6     gain reduction in dB (output)
//   7     control: MIDI and the user interface's messages (atom sequence in)
//   8     notify: the engine's values and the learn outline for the user interface (atom sequence out)
//   9..   audio: in left, in right, out left, out right (stereo) or in, out (mono)
// and in the side-chain plug-in (stereo) after them:
//   13    Key: 0 Internal, 1 External
//   14,15 the key's audio, left and right (a right left unconnected: the left feeds both)
//
// Messages are atom objects of these types:
//   ToggleLearn     ui -> dsp   parameter (int): arms, moves or cancels learning
//   StateRequest    ui -> dsp   asks for every ParameterValue and the Learn state
//   ParameterValue  dsp -> ui   parameter (int), value (float, normalised): a change MIDI made
//   Learn           dsp -> ui   parameter (int), armed (bool): the outline
#pragma once

#include <cstdint>

#include "TolvaneParameters.h"

namespace tolvane::lv2 {

#define TOLVANE_LV2_URI "https://quenmark.com/plugins/tolvane"
inline constexpr const char* kStereoUri = TOLVANE_LV2_URI;
inline constexpr const char* kMonoUri = TOLVANE_LV2_URI "/mono";
inline constexpr const char* kSideChainUri = TOLVANE_LV2_URI "/sidechain";
inline constexpr const char* kProjectUri = TOLVANE_LV2_URI "#project";
inline constexpr const char* kUiUri = TOLVANE_LV2_URI "#ui";
inline constexpr const char* kInputGroupUri = TOLVANE_LV2_URI "#in";
inline constexpr const char* kOutputGroupUri = TOLVANE_LV2_URI "#out";
inline constexpr const char* kKeyGroupUri = TOLVANE_LV2_URI "#key";
inline constexpr const char* kPresetPrefix = TOLVANE_LV2_URI "/presets#";

inline constexpr const char* kToggleLearnUri = TOLVANE_LV2_URI "#ToggleLearn";
inline constexpr const char* kStateRequestUri = TOLVANE_LV2_URI "#StateRequest";
inline constexpr const char* kParameterValueUri = TOLVANE_LV2_URI "#ParameterValue";
inline constexpr const char* kLearnUri = TOLVANE_LV2_URI "#Learn";
inline constexpr const char* kParameterKeyUri = TOLVANE_LV2_URI "#parameter";
inline constexpr const char* kValueKeyUri = TOLVANE_LV2_URI "#value";
inline constexpr const char* kArmedKeyUri = TOLVANE_LV2_URI "#armed";

enum Port : uint32_t {
    kFirstControlPort = 0,
    kGainReductionPort = kParameterCount,
    kControlPort,
    kNotifyPort,
    kFirstAudioPort,
};
// Control port symbols, by parameter index.
inline constexpr const char* kPortSymbols[kParameterCount] = {"ratio",       "attack", "release",
                                                              "sensitivity", "makeup", "active"};

inline constexpr uint32_t kStereoPortCount = kFirstAudioPort + 4;
inline constexpr uint32_t kMonoPortCount = kFirstAudioPort + 2;
inline constexpr uint32_t kKeyControlPort = kStereoPortCount;
inline constexpr uint32_t kFirstKeyPort = kKeyControlPort + 1;
inline constexpr uint32_t kSideChainPortCount = kFirstKeyPort + 2;
inline constexpr const char* kKeyPortSymbol = "key";
static_assert(kGainReductionPort == 6, "control ports are the parameters' indexes");

// The notify port's smallest buffer: every message at once, with room to spare.
inline constexpr uint32_t kNotifyBufferSize = 2048;

// Active's port is in percent; every other port carries the plain value itself.
inline constexpr float kActivePortScale = 100.0f;

// The port value of an engine plain value, and back. Active's percent comes
// back exactly for every factory value (the generator's test checks it).
inline float portValueOfPlain(int32_t index, float plain) {
    return index == kActive ? static_cast<float>(static_cast<double>(plain) * kActivePortScale) : plain;
}
inline float plainOfPortValue(int32_t index, float port) {
    return index == kActive ? static_cast<float>(static_cast<double>(port) / kActivePortScale) : port;
}

// The port value of a normalised value: what the VST 2.4 plug-in's setting
// would be made from, so both sound the same.
inline float portValueOf(int32_t index, float normalized) {
    const float limited = normalized < 0.0f ? 0.0f : normalized > 1.0f ? 1.0f : normalized;
    return portValueOfPlain(index, normalizedToPlain(index, limited));
}
inline float normalizedOfPortValue(int32_t index, float port) {
    return plainToNormalized(index, plainOfPortValue(index, port));
}

}  // namespace tolvane::lv2
