// Tolvane: the effect. Owns an instance's parameter manager, programs, signal
// blocks and meter, answers the host's identity questions, turns parameter
// changes into block settings and runs the audio path:
//
//   input -> compressor (linked stereo) -> clip to +-1 -> 9200 Hz low-pass -> wet
//   output = wet * m + input * (1 - m),  m = the Active value smoothed over 5 ms
//
// The gain reduction, weighted by m, drives a meter follower (rises with 0.09 s,
// falls with 0.2 s) that the editor reads.
#pragma once

#include <atomic>
#include <memory>

#include "AudioEffect.h"
#include "EditorEffect.h"
#include "TolvaneParameterManager.h"
#include "TolvaneAudioPath.h"
#include "TolvaneProgram.h"
#include "qm_controllerAssignments.h"
#include "qmsp_block.h"
#include "qmsp_dynamics.h"
#include "qmsp_filter.h"
#include "qmsp_follower.h"

class TolvaneEditor;

class Tolvane : public AudioEffectX, public EditorEffect {
public:
    explicit Tolvane(audioMasterCallback host);
    ~Tolvane() override;

    void suspend() override;
    void resume() override;
    void setSampleRate(float rate) override;
    void processReplacing(float** inputs, float** outputs, VstInt32 frames) override;
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    void setProgram(VstInt32 program) override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;
    bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override;
    VstInt32 processEvents(VstEvents* events) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override;
    VstInt32 canDo(char* text) override;
    VstInt32 getPlugCategory() override;

    // 0..1: the smoothed gain reduction, 0 dB -> 0, 20 dB or more -> 1.
    float getMeterValue() override;

    // The editor's side of the host callbacks.
    void setParameterAutomated(VstInt32 index, float value) override { AudioEffectX::setParameterAutomated(index, value); }
    bool beginEdit(VstInt32 index) override { return AudioEffectX::beginEdit(index); }
    bool endEdit(VstInt32 index) override { return AudioEffectX::endEdit(index); }
    void masterIdle() override { AudioEffectX::masterIdle(); }
    TolvaneEditor* getTolvaneEditor() const { return tolvaneEditor; }

    // Any thread but the audio thread: writes the MIDI bindings that a learn on
    // the audio thread completed. Called from the editor's idle and the learn
    // toggle, and by the host-facing layer on the host's non-audio calls.
    void writePendingAssignments();
    void controlThreadCall() override { writePendingAssignments(); }

    // MIDI learn. toggleLearn arms learning for a parameter, moves it to another
    // one, or (on the armed parameter) cancels it and forgets all of that
    // parameter's bindings. While learning, the same controller twice in a row
    // binds it (a 14-bit controller's fine number between its coarse ones does
    // not count); while idle, a controller sets every parameter bound to it.
    void toggleLearn(VstInt32 parameter) override;
    void handleController(uint8_t controller, int8_t value);  // audio thread
    void readAssignments();
    VstInt32 getLearnState() const { return learn.load().state; }
    VstInt32 getLearnParameter() const { return learn.load().parameter; }
    qm_controllerAssignments& getControllerAssignments() { return *controllerAssignments; }
    // What shows the learn outline: the editor, unless a test puts another in.
    void setLearnHighlight(LearnHighlight* highlight) { learnHighlight.store(highlight); }

    static constexpr VstInt32 kNumPrograms = kTolvaneProgramCount;
    static constexpr VstInt32 kNumParams = TolvaneParameterManager::kParameterCount;

private:
    static bool isParameter(VstInt32 index) { return index >= 0 && index < kNumParams; }
    // The audio thread's side of parameter changes, at the start of each block.
    void applyChangedSettings();
    // The manager's stored value brought up to date before it writes a text.
    void syncDisplayedValue(VstInt32 index);

    std::unique_ptr<TolvaneParameterManager> parameterManager;
    TolvaneProgram programs[kNumPrograms];
    TolvaneSignalBlocks path;
    // Until a host resumes, stereo as the record announces.
    VstInt32 activeInputs = 2;
    VstInt32 activeOutputs = 2;
    // The follower's level as of the last processed block, for the editor's thread.
    std::atomic<float> meterLevel{0.0f};

    // Parameter changes may come from any thread. The value as given is what
    // getParameter answers at once; the setting for the blocks, derived from the
    // value limited to 0..1, is applied by the audio thread at the start of its
    // next block. A set bit in changedSettings marks a setting not yet applied.
    std::atomic<float> parameterValues[kNumParams] = {};
    std::atomic<float> blockSettings[kNumParams] = {};
    std::atomic<uint32_t> changedSettings{0};

    // Learning: state 0 idle or 1 learning, and the parameter being learned,
    // changed together so the audio and control threads never see half a change.
    struct alignas(8) LearnState {
        int32_t state;
        int32_t parameter;
    };
    std::unique_ptr<qm_controllerAssignments> controllerAssignments;
    std::atomic<LearnState> learn{LearnState{0, 0}};
    static_assert(std::atomic<LearnState>::is_always_lock_free, "the audio thread must never take a lock");
    std::atomic<LearnHighlight*> learnHighlight{nullptr};
    TolvaneEditor* tolvaneEditor = nullptr;  // owned through AudioEffect::editor
};

// The last controller seen while learning, shared by every instance in the
// process; 255 means none.
std::atomic<uint8_t>& tolvaneLastController();

// The sample rate shared by every instance in the process: rate, 1/rate,
// rate x 0.001 (samples per millisecond) and (1/rate) x 0.001.
struct TolvaneProcessSampleRate {
    std::atomic<float> rate{44100.0f};
    std::atomic<float> period{1.0f / 44100.0f};
    std::atomic<float> samplesPerMs{44.1f};
    std::atomic<float> periodPerMs{1.0f / 44100000.0f};

    void set(float hz);
};
TolvaneProcessSampleRate& tolvaneProcessSampleRate();
