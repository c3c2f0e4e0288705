// Tolvane: the VST 2.4 effect. It owns one engine and one editor and
// translates between them and the host: the host's calls become the engine's
// (parameters, programs, audio, MIDI events) and the editor's (its window,
// keys, idle); the editor's gestures become the host's automation; every
// parameter change reaches the editor, and a program change tells the host to
// read the parameters again.
//
// The side-chain form ("Tolvane SC") is the same effect with four inputs, 1-2
// the signal and 3-4 the key, and the seventh parameter, Key.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "AudioEffect.h"
#include "EngineEditorLink.h"
#include "TolvaneEditor.h"
#include "TolvaneEngine.h"

class Tolvane : public AudioEffectX {
public:
    explicit Tolvane(audioMasterCallback host, TolvaneEngine::Form form = TolvaneEngine::Form::kMain);
    ~Tolvane() override;

    void suspend() override;
    void resume() override;
    void setSampleRate(float rate) override;
    void processReplacing(float** inputs, float** outputs, VstInt32 frames) override;
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    void setProgram(VstInt32 program) override;
    VstInt32 getProgram() override;
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
    // The editor's scale, as hosts announce it: 'PreS' in index, 'AeCs' in value, the factor in opt.
    VstIntPtr vendorSpecific(VstInt32 index, VstIntPtr value, void* ptr, float opt) override;
    // Work the audio thread could only flag: the bindings it learned, and the
    // host's notice of a program it changed.
    void controlThreadCall() override;

    TolvaneEngine& getEngine() { return engine; }
    TolvaneEditor& getTolvaneEditor() { return editorPanel; }

    static constexpr VstInt32 kNumPrograms = TolvaneEngine::kProgramCount;
    static constexpr VstInt32 kNumParams = TolvaneEngine::kParameterCount;
    // Hosts tell plug-ins apart by these; a session or preset names its
    // plug-in by the ID, so neither may ever change.
    static constexpr VstInt32 kUniqueId = fourCharacters('Q', 'M', 't', 'v');
    static constexpr VstInt32 kSideChainUniqueId = fourCharacters('Q', 'M', 't', 's');

private:
    // The editor joined to the engine, with the user's edits told to the host.
    struct EditorLink : EngineEditorLink {
        Tolvane& effect;
        EditorLink(Tolvane& owner) : EngineEditorLink(owner.engine), effect(owner) {}
        void setParameterAutomated(int32_t index, float value) override { effect.setParameterAutomated(index, value); }
        void beginEdit(int32_t index) override { effect.beginEdit(index); }
        void endEdit(int32_t index) override { effect.endEdit(index); }
        bool resizeEditor(int32_t width, int32_t height) override {
            return effect.callHost(audioMasterSizeWindow, width, height) != 0;
        }
    };

    // What the host shows that a call changed: a program's name, or with a
    // program change every parameter's value too.
    enum Change : int { kNames = 1, kValues = 2 };
    // Tells the host of the change, unless this is the audio thread: then the
    // next call off it does. New values go as automation (a host that reads
    // the parameters back before it changes the program, as Ardour does,
    // shows them only then), and "update display" follows.
    void announceChange(int change);
    void tellHost(int change);
    bool onAudioThread() const;
    void markAudioThread();

    TolvaneEngine engine;
    const bool sideChain;
    EditorLink link{*this};
    TolvaneEditor editorPanel{&link};
    // Until a host resumes, stereo as the record announces.
    VstInt32 activeInputs = 2;
    VstInt32 activeOutputs = 2;
    // The thread that last processed audio or events, and a notice to the host
    // that it could not send.
    std::atomic<uintptr_t> audioThread{0};
    std::atomic<int> pendingChange{0};
};
