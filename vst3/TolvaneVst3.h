// Tolvane as a VST3 plug-in: one object that is both the component (its
// audio, buses and state) and the edit controller (parameters, programs,
// texts, MIDI mapping, the editor), so hosts create it once and query the rest.
//
// Two engines. The processor's engine is the sound: only process() and the
// component's setState change it, and the editor shows it. The controller's
// engine is what the host is told: its values follow setParamNormalized, the
// editor's gestures and state, and its programs keep their edits exactly as
// the processor's do, so a program change reads the same values on both
// sides. Hosts call setParamNormalized late and from their own threads (after
// the change went through process()), which must never move the sound. (A
// third engine only turns values into display texts.)
//
// Parameters. 0..6 are the engine's seven in its side-chain form (normalised
// values pass unchanged: plain and normalised are the same number, the
// display texts say the rest; 6 is Key, a list of Internal and External),
// kBypass the host's bypass, kProgram the program list's selector, and
// kFirstController + n a hidden stand-in for MIDI controller n.
//
// Buses. The main input and output, mono or stereo alike, and the key: an
// auxiliary input, inactive until the host routes a side-chain to it, mono
// or as the main bus (a mono key feeds both sides). With no key, or Key at
// Internal, the detector reads the input.
//
// MIDI. VST3 gives an effect no controller messages: the host asks
// getMidiControllerAssignment and turns a controller into a parameter change.
// A controller bound to one parameter (the bindings file every form shares)
// maps to that parameter. Every other controller, and every controller while
// learning is armed, maps to its stand-in, whose changes process() hands to the
// engine as the control change they came from: the engine then drives the
// parameters bound to it or completes the learn, exactly as in the other
// forms. A learn completed there changes the mapping; the next call on the
// user-interface thread tells the host (kMidiCCAssignmentChanged) and the
// editor's timer writes the file. Stand-ins suit every host that maps
// controllers, for recorded MIDI as well as live input; a host's live-controller
// callback gives the controller's number without its value, only for live
// input, and (in Ardour) on its audio thread.
//
// Bypass. The engine keeps running while bypassed; the output fades between
// its output and the input over 10 ms, and is the input itself once faded.
//
// Threads. process(), and in some hosts getMidiControllerAssignment and
// setBusArrangements, run on the audio thread: they allocate nothing and take
// no lock, and hand the user-interface thread what it must know through
// atomics. Everything else is the host's user-interface thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "EngineEditorLink.h"
#include "TolvaneEditor.h"
#include "TolvaneEngine.h"
#include "Vst3Interfaces.h"
#include "Vst3State.h"

namespace tolvane::vst3ids {
// Hosts keep parameter identifiers in projects and automation: they never change.
inline constexpr vst3::ParamID kBypass = 100;
inline constexpr vst3::ParamID kProgram = 101;
inline constexpr vst3::ParamID kFirstController = 1000;
inline constexpr int32_t kControllerCount = 128;
inline constexpr int32_t kProgramListId = 1;
// The engine's parameters here: the six and Key.
inline constexpr int32_t kEngineCount = kSideChainParameterCount;
// Every parameter the controller lists: the seven, bypass, program, the stand-ins.
inline constexpr int32_t kListedCount = kEngineCount + 2 + kControllerCount;
}  // namespace tolvane::vst3ids

class TolvaneVst3View;

// The component's and the controller's setState and getState have the same
// signatures; each side routes its own to a function of its own name.
class Vst3ComponentSide : public vst3::IComponent {
public:
    vst3::tresult VST3_API setState(vst3::IBStream* state) final { return readComponentState(state); }
    vst3::tresult VST3_API getState(vst3::IBStream* state) final { return writeComponentState(state); }
    virtual vst3::tresult readComponentState(vst3::IBStream* state) = 0;
    virtual vst3::tresult writeComponentState(vst3::IBStream* state) = 0;
};

class Vst3ControllerSide : public vst3::IEditController {
public:
    vst3::tresult VST3_API setState(vst3::IBStream* state) final { return readControllerState(state); }
    vst3::tresult VST3_API getState(vst3::IBStream* state) final { return writeControllerState(state); }
    virtual vst3::tresult readControllerState(vst3::IBStream* state) = 0;
    virtual vst3::tresult writeControllerState(vst3::IBStream* state) = 0;
};

class TolvaneVst3 final : public Vst3ComponentSide,
                          public vst3::IAudioProcessor,
                          public vst3::IProcessContextRequirements,
                          public Vst3ControllerSide,
                          public vst3::IEditController2,
                          public vst3::IMidiMapping,
                          public vst3::IUnitInfo {
public:
    using tresult = vst3::tresult;
    TolvaneVst3();
    TolvaneVst3(const TolvaneVst3&) = delete;
    TolvaneVst3& operator=(const TolvaneVst3&) = delete;

    // FUnknown
    tresult VST3_API queryInterface(const char* iid, void** object) override;
    uint32_t VST3_API addRef() override;
    uint32_t VST3_API release() override;
    // IPluginBase, for the component and the controller alike: hosts may call both.
    tresult VST3_API initialize(FUnknown* context) override;
    tresult VST3_API terminate() override;

    // IComponent
    tresult VST3_API getControllerClassId(char* classId) override;
    tresult VST3_API setIoMode(int32_t) override { return vst3::kResultOk; }
    int32_t VST3_API getBusCount(int32_t type, int32_t direction) override;
    tresult VST3_API getBusInfo(int32_t type, int32_t direction, int32_t index, vst3::BusInfo& bus) override;
    tresult VST3_API getRoutingInfo(vst3::RoutingInfo&, vst3::RoutingInfo&) override { return vst3::kResultFalse; }
    tresult VST3_API activateBus(int32_t type, int32_t direction, int32_t index, vst3::TBool state) override;
    tresult VST3_API setActive(vst3::TBool state) override;
    tresult readComponentState(vst3::IBStream* state) override;
    tresult writeComponentState(vst3::IBStream* state) override;

    // IAudioProcessor
    tresult VST3_API setBusArrangements(vst3::SpeakerArrangement* inputs, int32_t inputCount,
                                        vst3::SpeakerArrangement* outputs, int32_t outputCount) override;
    tresult VST3_API getBusArrangement(int32_t direction, int32_t index,
                                       vst3::SpeakerArrangement& arrangement) override;
    tresult VST3_API canProcessSampleSize(int32_t size) override;
    uint32_t VST3_API getLatencySamples() override { return 0; }
    tresult VST3_API setupProcessing(vst3::ProcessSetup& setup) override;
    tresult VST3_API setProcessing(vst3::TBool) override { return vst3::kResultOk; }
    tresult VST3_API process(vst3::ProcessData& data) override;
    uint32_t VST3_API getTailSamples() override { return 0; }
    // IProcessContextRequirements: no transport, tempo or time needed.
    uint32_t VST3_API getProcessContextRequirements() override { return 0; }

    // IEditController
    tresult VST3_API setComponentState(vst3::IBStream* state) override;
    tresult readControllerState(vst3::IBStream* state) override;
    tresult writeControllerState(vst3::IBStream* state) override;
    int32_t VST3_API getParameterCount() override { return tolvane::vst3ids::kListedCount; }
    tresult VST3_API getParameterInfo(int32_t index, vst3::ParameterInfo& info) override;
    tresult VST3_API getParamStringByValue(vst3::ParamID id, vst3::ParamValue normalized, vst3::char16* text) override;
    tresult VST3_API getParamValueByString(vst3::ParamID id, vst3::char16* text, vst3::ParamValue& normalized) override;
    vst3::ParamValue VST3_API normalizedParamToPlain(vst3::ParamID id, vst3::ParamValue normalized) override;
    vst3::ParamValue VST3_API plainParamToNormalized(vst3::ParamID id, vst3::ParamValue plain) override;
    vst3::ParamValue VST3_API getParamNormalized(vst3::ParamID id) override;
    tresult VST3_API setParamNormalized(vst3::ParamID id, vst3::ParamValue value) override;
    tresult VST3_API setComponentHandler(vst3::IComponentHandler* handler) override;
    vst3::IPlugView* VST3_API createView(vst3::FIDString name) override;

    // IEditController2
    tresult VST3_API setKnobMode(int32_t mode) override;
    tresult VST3_API openHelp(vst3::TBool) override { return vst3::kResultFalse; }
    tresult VST3_API openAboutBox(vst3::TBool) override { return vst3::kResultFalse; }

    // IMidiMapping
    tresult VST3_API getMidiControllerAssignment(int32_t busIndex, int16_t channel, int16_t controller,
                                                 vst3::ParamID& id) override;

    // IUnitInfo: one unit, the root, with the five programs as its program list.
    int32_t VST3_API getUnitCount() override { return 1; }
    tresult VST3_API getUnitInfo(int32_t index, vst3::UnitInfo& info) override;
    int32_t VST3_API getProgramListCount() override { return 1; }
    tresult VST3_API getProgramListInfo(int32_t index, vst3::ProgramListInfo& info) override;
    tresult VST3_API getProgramName(int32_t listId, int32_t program, vst3::char16* name) override;
    tresult VST3_API getProgramInfo(int32_t, int32_t, const char*, vst3::char16*) override {
        return vst3::kResultFalse;
    }
    tresult VST3_API hasProgramPitchNames(int32_t, int32_t) override { return vst3::kResultFalse; }
    tresult VST3_API getProgramPitchName(int32_t, int32_t, int16_t, vst3::char16*) override {
        return vst3::kResultFalse;
    }
    int32_t VST3_API getSelectedUnit() override { return vst3::kRootUnitId; }
    tresult VST3_API selectUnit(int32_t) override { return vst3::kResultOk; }
    tresult VST3_API getUnitByBus(int32_t, int32_t, int32_t, int32_t, int32_t&) override { return vst3::kResultFalse; }
    tresult VST3_API setUnitProgramData(int32_t, int32_t, vst3::IBStream*) override { return vst3::kNotImplemented; }

    // For the view (user-interface thread).
    TolvaneEditor& getEditor() { return editorPanel; }
    vst3::FUnknown* getHostContext() const { return hostContext; }
    void viewGone(TolvaneVst3View* gone);
    // Takes over what the audio thread handed on (values MIDI set, a program
    // process() applied, a changed mapping), writes the bindings a learn left,
    // and tells the host. Only from calls that hosts make on their
    // user-interface thread (a host may have one thread for everything).
    void catchUp();

private:
    ~TolvaneVst3();

    // The editor joined to the processor's engine; its gestures go to the host.
    struct EditorLink : EngineEditorLink {
        TolvaneVst3& owner;
        explicit EditorLink(TolvaneVst3& o) : EngineEditorLink(o.engine), owner(o) {}
        void setParameterAutomated(int32_t index, float value) override;
        void beginEdit(int32_t index) override;
        void endEdit(int32_t index) override;
        void toggleLearn(int32_t parameter) override;
        bool resizeEditor(int32_t width, int32_t height) override;
        void parameterChanged(int32_t index, float value) override;
        void learnChanged(int32_t parameter, bool on) override;
    };

    bool onAudioThread() const;
    void restartComponent(int32_t flags);
    void applyToController(const tolvane::vst3state::ComponentState& state);
    void rebuildMapping();
    void showControllerValues();
    // The processor's side of a block.
    void runBlock(vst3::ProcessData& data, const TolvaneEngine::Audio& audio, uint32_t frames);
    void crossfade(const TolvaneEngine::Audio& audio, uint32_t frames);
    void reportChanges(vst3::IParameterChanges* out);

    std::atomic<uint32_t> references{1};
    bool initialized = false;
    vst3::FUnknown* hostContext = nullptr;
    vst3::IComponentHandler* handler = nullptr;
    TolvaneVst3View* view = nullptr;

    TolvaneEngine engine{TolvaneEngine::defaultAssignmentsFile(), TolvaneEngine::Form::kSideChain};
    TolvaneEngine controllerEngine{"", TolvaneEngine::Form::kSideChain};
    // Shows any value as text, leaving the controller's values alone.
    TolvaneEngine textEngine{"", TolvaneEngine::Form::kSideChain};
    EditorLink link{*this};
    TolvaneEditor editorPanel{&link};
    bool controllerBypass = false;

    // 1 (mono) or 2: the arrangement the main buses have, and the key's.
    std::atomic<int32_t> channels{2};
    std::atomic<int32_t> keyChannels{2};
    std::atomic<bool> keyActive{false};
    float sampleRate = 44100.0f;

    // The audio thread's own.
    std::atomic<uintptr_t> audioThread{0};
    std::vector<float> dry[2];   // the input while the bypass fades
    int32_t bypassPosition = 0;  // 0 (processed) .. bypassLength (the input)
    int32_t bypassLength = 441;
    std::atomic<bool> bypassTarget{false};
    // While process() hands a controller's change to the engine: the parameter
    // changes it makes, for the host (output changes) and for the controller.
    std::atomic<bool> inMidi{false};
    uint32_t eventFrame = 0;
    uint32_t midiChanged = 0;
    int32_t midiFrames[tolvane::vst3ids::kEngineCount] = {};
    int32_t programFrame = -1;

    // Handed to the user-interface thread.
    std::atomic<float> midiValues[tolvane::vst3ids::kEngineCount] = {};
    std::atomic<uint32_t> midiPending{0};
    std::atomic<int32_t> programPending{-1};
    std::atomic<bool> mappingPending{false};
    std::atomic<int32_t> restartPending{0};
    // Per controller: the one parameter it is bound to, else -1 (its stand-in).
    std::atomic<int32_t> mapping[tolvane::vst3ids::kControllerCount];
};

// The factory the module's entry point hands out (one, for the life of the module).
vst3::IPluginFactory* tolvaneVst3Factory();
