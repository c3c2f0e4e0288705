#include "Tolvane.h"

#include <cstring>

#include "CurrentThread.h"
#include "TolvaneText.h"

namespace {

// The editor as the host interface sees it: the panel's size as a rectangle,
// and the host's keys in the panel's terms.
class VstEditor : public AEffEditor {
public:
    explicit VstEditor(TolvaneEditor& panel) : panel(panel) {}

    bool getRect(ERect** r) override {
        rect = {0, 0, static_cast<int16_t>(panel.getHeight()), static_cast<int16_t>(panel.getWidth())};
        *r = &rect;
        return true;
    }
    bool open(void* parentWindow) override { return panel.open(parentWindow); }
    void close() override { panel.close(); }
    bool isOpen() override { return panel.isOpen(); }
    void idle() override { panel.idle(); }
    bool onKeyDown(VstKeyCode& key) override { return panel.onKeyDown({key.character, key.virt, key.modifier}); }
    bool onKeyUp(VstKeyCode& key) override { return panel.onKeyUp({key.character, key.virt, key.modifier}); }
    // The knobs drag linearly whatever mode the host prefers.
    bool setKnobMode(VstInt32) override { return true; }

private:
    TolvaneEditor& panel;
    ERect rect{};
};

}  // namespace

Tolvane::Tolvane(audioMasterCallback host, TolvaneEngine::Form form)
    : AudioEffectX(host, kNumPrograms,
                   form == TolvaneEngine::Form::kSideChain ? TolvaneEngine::kSideChainParameterCount : kNumParams),
      engine(TolvaneEngine::defaultAssignmentsFile(), form),
      sideChain(form == TolvaneEngine::Form::kSideChain) {
    cEffect.flags |= effFlagsCanReplacing | effFlagsHasEditor;
    cEffect.numInputs = sideChain ? 4 : 2;
    cEffect.numOutputs = 2;
    cEffect.uniqueID = sideChain ? kSideChainUniqueId : kUniqueId;
    setEditor(new VstEditor(editorPanel));
    link.setEditor(&editorPanel);
}

Tolvane::~Tolvane() {
    // The editor goes before everything it points to.
    link.setEditor(nullptr);
    editorPanel.close();
    delete editor;
    setEditor(nullptr);
}

void Tolvane::suspend() { engine.suspend(); }

void Tolvane::resume() {
    activeInputs = isInputConnected(1) ? 2 : 1;
    activeOutputs = isOutputConnected(1) ? 2 : 1;
    wantEvents(1);
    AudioEffectX::resume();
}

void Tolvane::setSampleRate(float rate) { engine.setSampleRate(rate); }

void Tolvane::setParameter(VstInt32 index, float value) { engine.setParameter(index, value); }

float Tolvane::getParameter(VstInt32 index) { return engine.getParameter(index); }

void Tolvane::setProgram(VstInt32 program) {
    if (program < 0 || program >= kNumPrograms) return;
    engine.setProgram(program);
    announceChange(kNames | kValues);
}

VstInt32 Tolvane::getProgram() { return engine.getProgram(); }

void Tolvane::setProgramName(char* name) {
    engine.setProgramName(name);
    announceChange(kNames);
}

void Tolvane::getProgramName(char* name) { engine.getProgramName(name); }

bool Tolvane::getProgramNameIndexed(VstInt32, VstInt32 index, char* text) {
    return engine.getProgramNameIndexed(index, text);
}

// Texts of an index that is no parameter are empty, zero-filled as the copies are.
void Tolvane::getParameterLabel(VstInt32 index, char* label) {
    if (tolvane::isParameter(index, engine.parameterCount()))
        engine.getParameterLabel(index, label, kVstMaxParamStrLen);
    else std::memset(label, 0, kVstMaxParamStrLen + 1);
}

void Tolvane::getParameterDisplay(VstInt32 index, char* text) {
    if (tolvane::isParameter(index, engine.parameterCount()))
        engine.getParameterDisplay(index, text, kVstMaxParamStrLen);
    else std::memset(text, 0, kVstMaxParamStrLen);
}

void Tolvane::getParameterName(VstInt32 index, char* text) {
    if (tolvane::isParameter(index, engine.parameterCount())) engine.getParameterName(index, text, kVstMaxParamStrLen);
    else std::memset(text, 0, kVstMaxParamStrLen + 1);
}

// Controller messages apply as they arrive, before the next block: VST 2.4's
// own timing, which getParameter shows at once.
VstInt32 Tolvane::processEvents(VstEvents* events) {
    markAudioThread();
    TolvaneEngine::Block now(engine, TolvaneEngine::Audio{}, 0);
    for (VstInt32 i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = events->events[i];
        if (!event || event->type != kVstMidiType) continue;
        const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
        const uint8_t bytes[3] = {static_cast<uint8_t>(midi->midiData[0]), static_cast<uint8_t>(midi->midiData[1]),
                                  static_cast<uint8_t>(midi->midiData[2])};
        now.add(TolvaneEngine::Event::midi(0, bytes, sizeof bytes));
    }
    return 1;
}

void Tolvane::processReplacing(float** inputs, float** outputs, VstInt32 frames) {
    markAudioThread();
    if (frames <= 0) return;
    TolvaneEngine::Audio audio;
    if (activeOutputs == 1) {
        audio = {true, inputs[0], nullptr, outputs[0], nullptr};
    } else {
        // One connected input feeds both channels.
        audio = {false, inputs[0], activeInputs == 1 ? inputs[0] : inputs[1], outputs[0], outputs[1]};
    }
    // The key: inputs 3 and 4, whatever the host said at resume. Hosts rewire
    // pins without a resume (Ardour's pin connections do), so that answer can
    // be stale; an unconnected input is silent, and as the louder side counts,
    // a silent input 4 leaves the key to input 3 alone.
    if (sideChain) {
        audio.keyLeft = inputs[2];
        audio.keyRight = inputs[3];
    }
    engine.run(audio, static_cast<uint32_t>(frames), nullptr, 0);
}

void Tolvane::controlThreadCall() {
    engine.writePendingAssignments();
    if (const int change = pendingChange.exchange(0)) tellHost(change);
}

void Tolvane::markAudioThread() { audioThread.store(platform::currentThread(), std::memory_order_relaxed); }

bool Tolvane::onAudioThread() const { return audioThread.load(std::memory_order_relaxed) == platform::currentThread(); }

void Tolvane::announceChange(int change) {
    if (onAudioThread()) pendingChange.fetch_or(change);
    else tellHost(change);
}

void Tolvane::tellHost(int change) {
    if (change & kValues)
        for (VstInt32 index = 0; index < engine.parameterCount(); ++index)
            callHost(audioMasterAutomate, index, 0, nullptr, engine.getParameter(index));
    callHost(audioMasterUpdateDisplay);
}

bool Tolvane::getEffectName(char* name) {
    tolvane::copyText(name, sideChain ? "Tolvane SC" : "Tolvane", kVstMaxEffectNameLen);
    return true;
}

bool Tolvane::getVendorString(char* text) {
    tolvane::copyText(text, "Quenmark, Inc.", kVstMaxVendorStrLen);
    return true;
}

bool Tolvane::getProductString(char* text) {
    tolvane::copyText(text, sideChain ? "Tolvane SC" : "Tolvane", kVstMaxProductStrLen);
    return true;
}

VstInt32 Tolvane::getVendorVersion() { return 1000; }

VstInt32 Tolvane::canDo(char* text) {
    // "sizeWindow": the editor may ask the host for a new size (its scale changed).
    static const char* const capabilities[] = {"receiveVstMidiEvent", "plugAsSend", "1in1out", "1in2out", "2in2out",
                                               "plugAsChannelInsert", "sizeWindow"};
    for (const char* capability : capabilities)
        if (std::strcmp(text, capability) == 0) return 1;
    return 0;
}

VstInt32 Tolvane::getPlugCategory() { return kPlugCategEffect; }

VstIntPtr Tolvane::vendorSpecific(VstInt32 index, VstIntPtr value, void*, float opt) {
    if (index != fourCharacters('P', 'r', 'e', 'S') || value != fourCharacters('A', 'e', 'C', 's')) return 0;
    editorPanel.setHostScale(opt);
    return 1;
}
