#include "Tolvane.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "SettingsFolder.h"
#include "TolvaneEditor.h"

namespace {

constexpr double secondsPerMillisecond = 0.001;
constexpr float mixTime = 0.005f;  // the Active fade, seconds
constexpr float lowPassCutoff = 9200.0f;   // Hz, for the life of the instance
constexpr float meterRiseTime = 0.09f;     // seconds; the follower's "release" (reduction grows)
constexpr float meterFallTime = 0.2f;      // seconds; the follower's "attack" (reduction shrinks)

// Copies at most size - 1 characters and the terminator, and writes nothing
// after it: a host's buffer may be exactly `size` bytes.
void copyText(char* text, const char* source, size_t size) {
    const size_t length = strnlen(source, size - 1);
    std::memcpy(text, source, length);
    text[length] = '\0';
}

}  // namespace

void TolvaneProcessSampleRate::set(float hz) {
    const double r = hz;
    rate.store(hz, std::memory_order_relaxed);
    period.store(static_cast<float>(1.0 / r), std::memory_order_relaxed);
    samplesPerMs.store(static_cast<float>(r * 0.001), std::memory_order_relaxed);
    periodPerMs.store(static_cast<float>(1.0 / r * 0.001), std::memory_order_relaxed);
}

// Both are constant-initialised at load, so no first use (possibly on the audio
// thread) runs a guarded initialisation.
static TolvaneProcessSampleRate processSampleRate;
static std::atomic<uint8_t> lastControllerSeen{255};

TolvaneProcessSampleRate& tolvaneProcessSampleRate() { return processSampleRate; }
std::atomic<uint8_t>& tolvaneLastController() { return lastControllerSeen; }

static const char* const assignmentsFileName = "Tolvane MIDI Assignments.txt";

Tolvane::Tolvane(audioMasterCallback host)
    : AudioEffectX(host, kNumPrograms, kNumParams) {
    path.mix.setTime(mixTime);
    const std::string folder = platform::settingsFolder();
    controllerAssignments = std::make_unique<qm_controllerAssignments>(folder.empty() ? "" : folder + assignmentsFileName);

    cEffect.flags |= effFlagsCanReplacing | effFlagsHasEditor;
    cEffect.numInputs = 2;
    cEffect.numOutputs = 2;
    cEffect.uniqueID = fourCharacters('Q', 'M', 't', 'v');

    parameterManager = std::make_unique<TolvaneParameterManager>();
    tolvaneProcessSampleRate().set(sampleRate);

    path.lowPassLeft.setSampleRate(sampleRate);
    path.lowPassRight.setSampleRate(sampleRate);
    path.lowPassLeft.setFrequency(lowPassCutoff);
    path.lowPassRight.setFrequency(lowPassCutoff);

    const float processRate = tolvaneProcessSampleRate().rate.load(std::memory_order_relaxed);
    path.meter.init(processRate);
    path.meter.setAttackTime(meterFallTime, processRate);
    path.meter.setReleaseTime(meterRiseTime, processRate);

    // The compressor's own defaults (attack and release in seconds); the first
    // program replaces all but the input gain straight away.
    path.compressor.setInputGain(0.0f);
    path.compressor.setThreshold(-10.0f);
    path.compressor.setAttack(10.0f);
    path.compressor.setRelease(100.0f);
    path.compressor.setRatio(2.0f);
    path.compressor.setOutputGain(0.0f);

    tolvaneEditor = new TolvaneEditor(this, this);
    setEditor(tolvaneEditor);
    learnHighlight.store(tolvaneEditor);

    for (int p = 0; p < kNumPrograms; ++p) {
        copyText(programs[p].name, tolvaneFactoryPresets[p].name, sizeof programs[p].name);
        std::memcpy(programs[p].values, tolvaneFactoryPresets[p].values, sizeof programs[p].values);
    }
    setProgram(0);
    readAssignments();
}

Tolvane::~Tolvane() {
    // The editor goes before everything it points to.
    learnHighlight.store(nullptr);
    if (editor != tolvaneEditor) delete editor;  // one put in place of ours (tests do)
    setEditor(nullptr);
    delete tolvaneEditor;
}

void Tolvane::suspend() {
    path.lowPassLeft.reset();
    path.lowPassRight.reset();
    path.compressor.reset();
    // The fade and the meter carry on across a pause, unless something made them
    // non-finite.
    if (!std::isfinite(path.mix.getCurrent())) path.mix.reset();
    if (!std::isfinite(path.meter.level)) path.meter.reset();
}

void Tolvane::resume() {
    activeInputs = isInputConnected(1) ? 2 : 1;
    activeOutputs = isOutputConnected(1) ? 2 : 1;
    wantEvents(1);
    AudioEffectX::resume();
}

void Tolvane::setSampleRate(float rate) {
    // A rate must be a positive number of hertz; anything else would leave the
    // filter's coefficients NaN.
    if (!(rate > 0.0f) || !std::isfinite(rate)) return;
    // Compared with this instance's own blocks, not the process-wide record:
    // another instance may already have put this rate there.
    if (rate == path.compressor.getSampleRate()) return;
    tolvaneProcessSampleRate().set(rate);
    path.meter.updateCoefficients(tolvaneProcessSampleRate().rate.load(std::memory_order_relaxed));
    path.lowPassLeft.setSampleRate(rate);
    path.lowPassRight.setSampleRate(rate);
    path.mix.setSampleRate(rate);
    path.compressor.setSampleRate(rate);
}

void Tolvane::setParameter(VstInt32 index, float value) {
    // A value that is no number would stay in the program and the blocks for good.
    if (!isParameter(index) || !std::isfinite(value)) return;
    std::atomic_ref<float>(programs[std::atomic_ref<VstInt32>(curProgram).load()].values[index]).store(value);
    parameterValues[index].store(value);
    // Values outside 0..1 are kept as given (hosts read them back, texts show
    // them); the signal path takes them limited to the range.
    const float limited = std::clamp(value, 0.0f, 1.0f);
    const double plain = parameterManager->normalizedToPlain(index, limited);
    float setting = static_cast<float>(plain);
    if (index == TolvaneParameterManager::kAttack || index == TolvaneParameterManager::kRelease)
        setting = static_cast<float>(static_cast<float>(plain) * secondsPerMillisecond);
    else if (index == TolvaneParameterManager::kActive)
        setting = limited;
    blockSettings[index].store(setting, std::memory_order_relaxed);
    changedSettings.fetch_or(1u << index, std::memory_order_release);
    if (editor) editor->setParameter(index, value);
}

void Tolvane::applyChangedSettings() {
    uint32_t changed = changedSettings.exchange(0, std::memory_order_acquire);
    while (changed != 0) {
        const int index = std::countr_zero(changed);
        changed &= changed - 1;
        const float setting = blockSettings[index].load(std::memory_order_relaxed);
        switch (index) {
        case TolvaneParameterManager::kRatio: path.compressor.setRatio(setting); break;
        case TolvaneParameterManager::kAttack: path.compressor.setAttack(setting); break;
        case TolvaneParameterManager::kRelease: path.compressor.setRelease(setting); break;
        case TolvaneParameterManager::kSensitivity: path.compressor.setThreshold(setting); break;
        case TolvaneParameterManager::kMakeUpGain: path.compressor.setOutputGain(setting); break;
        case TolvaneParameterManager::kActive: path.mix.setTarget(setting); break;
        }
    }
}

float Tolvane::getParameter(VstInt32 index) {
    return isParameter(index) ? parameterValues[index].load() : 0.0f;
}

void Tolvane::syncDisplayedValue(VstInt32 index) {
    parameterManager->setNormalized(index, parameterValues[index].load());
}

// Texts of an index that is no parameter are empty, zero-filled as the copies are.
void Tolvane::getParameterLabel(VstInt32 index, char* label) {
    if (isParameter(index)) parameterManager->getLabel(index, label, kVstMaxParamStrLen);
    else std::memset(label, 0, kVstMaxParamStrLen + 1);
}

void Tolvane::getParameterDisplay(VstInt32 index, char* text) {
    if (isParameter(index)) {
        syncDisplayedValue(index);
        parameterManager->getDisplay(index, text, kVstMaxParamStrLen);
    } else std::memset(text, 0, kVstMaxParamStrLen);
}

void Tolvane::getParameterName(VstInt32 index, char* text) {
    if (isParameter(index)) parameterManager->getName(index, text, kVstMaxParamStrLen);
    else std::memset(text, 0, kVstMaxParamStrLen + 1);
}

void Tolvane::setProgram(VstInt32 program) {
    if (program < 0 || program >= kNumPrograms) return;
    std::atomic_ref<VstInt32>(curProgram).store(program);
    for (VstInt32 i = 0; i < kNumParams; ++i) setParameter(i, std::atomic_ref<float>(programs[program].values[i]).load());
}

void Tolvane::setProgramName(char* name) {
    // Longer names keep their first 23 characters.
    copyText(programs[curProgram].name, name, sizeof programs[curProgram].name);
}

void Tolvane::getProgramName(char* name) {
    const TolvaneProgram& program = programs[curProgram];
    if (std::strcmp(program.name, "init") == 0)
        std::snprintf(name, kVstMaxProgNameLen, "init %d", curProgram + 1);
    else
        std::strcpy(name, program.name);
}

bool Tolvane::getProgramNameIndexed(VstInt32, VstInt32 index, char* text) {
    if (index < 0 || index >= kNumPrograms) return false;
    std::strcpy(text, programs[index].name);
    return true;
}

void Tolvane::readAssignments() { controllerAssignments->read(); }

VstInt32 Tolvane::processEvents(VstEvents* events) {
    for (VstInt32 i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = events->events[i];
        if (!event || event->type != kVstMidiType) continue;
        const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
        // Any channel; only control changes, and not 123 (all notes off) or 126 (mono mode).
        if ((static_cast<uint8_t>(midi->midiData[0]) & 0xF0) != 0xB0) continue;
        const uint8_t controller = static_cast<uint8_t>(midi->midiData[1]);
        const uint8_t value = static_cast<uint8_t>(midi->midiData[2]);
        // Data bytes have bit 7 clear; anything else is no MIDI message.
        if (controller > 127 || value > 127) continue;
        if (controller == 123 || controller == 126) continue;
        handleController(controller, static_cast<int8_t>(value));
    }
    return 1;
}

void Tolvane::handleController(uint8_t controller, int8_t value) {
    std::atomic<uint8_t>& lastController = tolvaneLastController();
    LearnState now = learn.load();
    while (now.state != 0) {
        // The first message of a controller only primes learning; the same
        // controller twice in a row binds it. No value is applied meanwhile.
        const uint8_t last = lastController.load();
        // A 14-bit controller follows its coarse number n (0..31) with its fine
        // number n + 32 on every move: the fine one keeps n primed.
        if (controller >= 32 && controller < 64 && last == controller - 32) return;
        if (controller != last) {
            lastController.store(controller);
            return;
        }
        if (!learn.compare_exchange_weak(now, LearnState{0, now.parameter})) continue;  // changed meanwhile
        controllerAssignments->bind(static_cast<int8_t>(controller), now.parameter);
        lastController.store(255);
        if (LearnHighlight* highlight = learnHighlight.load()) highlight->setHighlight(now.parameter, false);
        return;
    }
    const float normalized = static_cast<float>(value * static_cast<double>(0.007874016f));
    controllerAssignments->forEachParameterOf(static_cast<int8_t>(controller),
                                              [&](int32_t parameter) { setParameter(parameter, normalized); });
}

void Tolvane::writePendingAssignments() { controllerAssignments->writePending(); }

void Tolvane::toggleLearn(VstInt32 parameter) {
    // Whatever the audio thread learned since the last idle goes first.
    writePendingAssignments();
    LearnState now = learn.load();
    for (;;) {
        if (now.state == 0) {
            if (!learn.compare_exchange_weak(now, LearnState{1, parameter})) continue;
            if (LearnHighlight* highlight = learnHighlight.load()) highlight->setHighlight(parameter, true);
            return;
        }
        if (now.parameter != parameter) {
            if (!learn.compare_exchange_weak(now, LearnState{1, parameter})) continue;
            if (LearnHighlight* highlight = learnHighlight.load()) {
                highlight->setHighlight(now.parameter, false);
                highlight->setHighlight(parameter, true);
            }
            return;
        }
        // The armed control again: cancel, and forget every binding of it.
        if (!learn.compare_exchange_weak(now, LearnState{0, parameter})) continue;
        controllerAssignments->removeParameter(parameter);
        if (LearnHighlight* highlight = learnHighlight.load()) highlight->setHighlight(parameter, false);
        return;
    }
}

bool Tolvane::getEffectName(char* name) {
    copyText(name, "Tolvane", kVstMaxEffectNameLen);
    return true;
}

bool Tolvane::getVendorString(char* text) {
    copyText(text, "Quenmark, Inc.", kVstMaxVendorStrLen);
    return true;
}

bool Tolvane::getProductString(char* text) {
    copyText(text, "Tolvane", kVstMaxProductStrLen);
    return true;
}

VstInt32 Tolvane::getVendorVersion() { return 1000; }

VstInt32 Tolvane::canDo(char* text) {
    static const char* const capabilities[] = {"receiveVstMidiEvent", "plugAsSend", "1in1out",
                                               "1in2out", "2in2out", "plugAsChannelInsert"};
    for (const char* capability : capabilities)
        if (std::strcmp(text, capability) == 0) return 1;
    return 0;
}

VstInt32 Tolvane::getPlugCategory() { return kPlugCategEffect; }

float Tolvane::getMeterValue() {
    const float level = std::fabs(meterLevel.load(std::memory_order_relaxed));
    return static_cast<float>((level < 20.0f ? level : 20.0f) / 20.0);
}

void Tolvane::processReplacing(float** inputs, float** outputs, VstInt32 frames) {
    if (frames <= 0) return;
    applyChangedSettings();
    if (activeOutputs == 1) {
        tolvaneRunMono(path, inputs[0], outputs[0], frames);
    } else {
        // One connected input feeds both channels.
        tolvaneRunStereo(path, inputs[0], activeInputs == 1 ? inputs[0] : inputs[1], outputs[0], outputs[1], frames);
    }
    meterLevel.store(path.meter.level, std::memory_order_relaxed);
}
