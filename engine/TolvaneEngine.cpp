#include "TolvaneEngine.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <string_view>

#include "SettingsFolder.h"
#include "TolvaneText.h"
#include "qm_controllerAssignments.h"

namespace {

constexpr float kStartRate = 44100.0f;
constexpr double kSecondsPerMillisecond = 0.001;
constexpr float kMixTime = 0.005f;         // the Active fade, seconds
constexpr float kLowPassCutoff = 9200.0f;  // Hz, for the life of the instance
constexpr float kMeterRiseTime = 0.09f;    // seconds; the follower's "release" (reduction grows)
constexpr float kMeterFallTime = 0.2f;     // seconds; the follower's "attack" (reduction shrinks)
// A controller's 0..127 as 0..1: the float nearest 1/127, widened, so that 127 gives exactly 1.
constexpr float kControllerStep = 0.007874016f;

// Constant-initialised at load, so no first use (possibly on the audio thread)
// runs a guarded initialisation.
std::atomic<uint8_t> lastControllerSeen{kNoController};

}  // namespace

std::atomic<uint8_t>& tolvaneLastController() { return lastControllerSeen; }

std::string TolvaneEngine::defaultAssignmentsFile() {
    const std::string folder = platform::settingsFolder();
    return folder.empty() ? "" : folder + "Tolvane MIDI Assignments.txt";
}

TolvaneEngine::TolvaneEngine() : TolvaneEngine(defaultAssignmentsFile()) {}

// The environment is set before the blocks are built: their constructors derive coefficients.
TolvaneEngine::TolvaneEngine(const std::string& assignmentsFile, Form form)
    : TolvaneEngine(assignmentsFile, form, ScopedFloatingPointEnvironment()) {}

TolvaneEngine::TolvaneEngine(const std::string& assignmentsFile, Form form, const ScopedFloatingPointEnvironment&)
    : count(form == Form::kSideChain ? kSideChainParameterCount : kParameterCount),
      controllerAssignments(std::make_unique<qm_controllerAssignments>(assignmentsFile)) {
    // The blocks start at 44100 Hz, kStartRate. The compressor keeps its own
    // defaults (input gain 0 dB) until the first program below sets the rest.
    path.mix.setTime(kMixTime);
    path.lowPassLeft.setFrequency(kLowPassCutoff);
    path.lowPassRight.setFrequency(kLowPassCutoff);
    path.meter.init(kStartRate);
    path.meter.setAttackTime(kMeterFallTime, kStartRate);
    path.meter.setReleaseTime(kMeterRiseTime, kStartRate);

    for (int32_t p = 0; p < kProgramCount; ++p) {
        tolvane::copyText(programs[p].name, tolvaneFactoryPresets[p].name, sizeof programs[p].name);
        std::memcpy(programs[p].values, tolvaneFactoryPresets[p].values, sizeof tolvaneFactoryPresets[p].values);
        programs[p].values[tolvane::kKey] = 0.0f;
    }
    setProgram(0);
    readAssignments();
}

TolvaneEngine::~TolvaneEngine() = default;

void TolvaneEngine::setParameter(int32_t index, float value) {
    ScopedFloatingPointEnvironment defaultFloatingPoint;  // the parameter's curve
    // A value that is no number would stay in the program and the blocks for good.
    if (!tolvane::isParameter(index, count) || !std::isfinite(value)) return;
    const float limited = std::clamp(value, 0.0f, 1.0f);
    storeParameter(index, value, tolvane::normalizedToPlain(index, limited));
}

void TolvaneEngine::setParameterPlain(int32_t index, float plain) {
    ScopedFloatingPointEnvironment defaultFloatingPoint;
    if (!tolvane::isParameter(index, count) || !std::isfinite(plain)) return;
    const tolvane::ParameterInfo& p = tolvane::kParameters[index];
    const float limited = std::clamp(plain, std::min(p.min, p.max), std::max(p.min, p.max));
    storeParameter(index, tolvane::plainToNormalized(index, limited), limited);
}

void TolvaneEngine::storeParameter(int32_t index, float value, float plain) {
    std::atomic_ref<float>(programs[currentProgram.load()].values[index]).store(value);
    parameterValues[index].store(value);
    float setting = plain;
    switch (tolvane::kParameters[index].setting) {
    case tolvane::Setting::kAttack:
    case tolvane::Setting::kRelease:
        setting = static_cast<float>(static_cast<float>(plain) * kSecondsPerMillisecond);
        break;
    default:
        // The wet share's range is 0..1, so its plain value is the limited normalised one.
        break;
    }
    blockSettings[index].store(setting, std::memory_order_relaxed);
    changedSettings.fetch_or(1u << index, std::memory_order_release);
    if (Observer* o = observer.load()) o->parameterChanged(index, value);
}

float TolvaneEngine::getParameter(int32_t index) const {
    return tolvane::isParameter(index, count) ? parameterValues[index].load() : 0.0f;
}

void TolvaneEngine::applyChangedSettings() {
    uint32_t changed = changedSettings.exchange(0, std::memory_order_acquire);
    while (changed != 0) {
        const int32_t index = std::countr_zero(changed);
        changed &= changed - 1;
        applySetting(index, blockSettings[index].load(std::memory_order_relaxed));
    }
}

void TolvaneEngine::applySetting(int32_t index, float setting) {
    switch (tolvane::kParameters[index].setting) {
    case tolvane::Setting::kRatio: path.compressor.setRatio(setting); break;
    case tolvane::Setting::kAttack: path.compressor.setAttack(setting); break;
    case tolvane::Setting::kRelease: path.compressor.setRelease(setting); break;
    case tolvane::Setting::kThreshold: path.compressor.setThreshold(setting); break;
    case tolvane::Setting::kOutputGain: path.compressor.setOutputGain(setting); break;
    case tolvane::Setting::kWetShare: path.mix.setTarget(setting); break;
    case tolvane::Setting::kKey: externalKey = setting >= 0.5f; break;
    }
}

void TolvaneEngine::getParameterName(int32_t index, char* text, int32_t length) const {
    tolvane::writeName(index, text, length);
}

void TolvaneEngine::getParameterLabel(int32_t index, char* text, int32_t length) const {
    tolvane::writeUnit(index, text, length);
}

void TolvaneEngine::getParameterDisplay(int32_t index, char* text, int32_t length) const {
    getParameterDisplay(index, getParameter(index), text, length);
}

void TolvaneEngine::getParameterDisplay(int32_t index, float normalized, char* text, int32_t length) const {
    ScopedFloatingPointEnvironment defaultFloatingPoint;
    tolvane::writeDisplay(index, normalized, text, length);
}

bool TolvaneEngine::normalizedFromText(int32_t index, const char* text, float& normalized) {
    if (!tolvane::isParameter(index, count) || !text) return false;
    ScopedFloatingPointEnvironment defaultFloatingPoint;
    const tolvane::ParameterInfo& p = tolvane::kParameters[index];
    if (p.display == tolvane::Display::kKey) {
        // The switch's words, whole or begun ("Int", "ext"), in any case; else a number.
        std::string word(text + std::strspn(text, " "));
        word.erase(word.find_last_not_of(' ') + 1);
        for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const auto& [name, value] : {std::pair{"internal", 0.0f}, std::pair{"external", 1.0f}}) {
            if (word.empty() || !std::string_view(name).starts_with(word)) continue;
            normalized = value;
            return true;
        }
    }
    char* end = nullptr;
    const double number = std::strtod(text, &end);
    if (end == text || !std::isfinite(number)) return false;
    double n;
    if (p.display == tolvane::Display::kScale) {
        n = (number - 1.0) / 9.0;  // the display's 1.0 .. 10.0 scale
    } else if (p.display == tolvane::Display::kPercent) {
        n = number / 100.0;
    } else {  // the plain value, or the ratio's n in n:1
        const double plain = std::clamp(number, double(std::min(p.min, p.max)), double(std::max(p.min, p.max)));
        n = tolvane::plainToNormalized(index, static_cast<float>(plain));
    }
    float value = static_cast<float>(std::clamp(n, 0.0, 1.0));
    // The percentage shows truncated: a float just below 0.76 would show 75 %.
    if (p.display == tolvane::Display::kPercent && value < 1.0f && std::trunc(value * 100.0) < std::trunc(number))
        value = std::nextafter(value, 1.0f);
    normalized = value;
    return true;
}

void TolvaneEngine::setProgram(int32_t program) {
    if (program < 0 || program >= kProgramCount) return;
    currentProgram.store(program);
    for (int32_t i = 0; i < count; ++i) setParameter(i, std::atomic_ref<float>(programs[program].values[i]).load());
}

void TolvaneEngine::getProgramName(char* text) const {
    const int32_t current = currentProgram.load();
    const TolvaneProgram& program = programs[current];
    if (std::strcmp(program.name, "init") == 0) std::snprintf(text, sizeof program.name, "init %d", current + 1);
    else std::strcpy(text, program.name);
}

bool TolvaneEngine::getProgramNameIndexed(int32_t index, char* text) const {
    if (index < 0 || index >= kProgramCount) return false;
    std::strcpy(text, programs[index].name);
    return true;
}

void TolvaneEngine::setProgramName(const char* name) { setProgramNameIndexed(currentProgram.load(), name); }

bool TolvaneEngine::setProgramNameIndexed(int32_t index, const char* name) {
    if (index < 0 || index >= kProgramCount) return false;
    tolvane::copyText(programs[index].name, name, sizeof programs[index].name);
    return true;
}

void TolvaneEngine::setSampleRate(float rate) {
    ScopedFloatingPointEnvironment defaultFloatingPoint;
    // A rate must be a positive number of hertz; anything else would leave the
    // filter's coefficients NaN.
    if (!(rate > 0.0f) || !std::isfinite(rate)) return;
    if (rate == path.compressor.getSampleRate()) return;
    path.meter.updateCoefficients(rate);
    path.lowPassLeft.setSampleRate(rate);
    path.lowPassRight.setSampleRate(rate);
    path.mix.setSampleRate(rate);
    path.compressor.setSampleRate(rate);
}

void TolvaneEngine::suspend() {
    path.lowPassLeft.reset();
    path.lowPassRight.reset();
    path.compressor.reset();
    // The fade and the meter carry on across a pause, unless something made them
    // non-finite.
    if (!std::isfinite(path.mix.getCurrent())) path.mix.reset();
    if (!std::isfinite(path.meter.level)) path.meter.reset();
}

TolvaneEngine::Event TolvaneEngine::Event::midi(uint32_t frame, const uint8_t* bytes, size_t size) {
    Event e{frame, Kind::kMidi, static_cast<uint8_t>(std::min<size_t>(size, 3)), {}, 0, 0.0f};
    std::memcpy(e.bytes, bytes, e.size);
    return e;
}

TolvaneEngine::Event TolvaneEngine::Event::parameter(uint32_t frame, int32_t index, float normalized) {
    return Event{frame, Kind::kParameter, 0, {}, index, normalized};
}

TolvaneEngine::Event TolvaneEngine::Event::plainParameter(uint32_t frame, int32_t index, float plain) {
    return Event{frame, Kind::kPlainParameter, 0, {}, index, plain};
}

TolvaneEngine::Event TolvaneEngine::Event::program(uint32_t frame, int32_t program) {
    return Event{frame, Kind::kProgram, 0, {}, program, 0.0f};
}

void TolvaneEngine::run(const Audio& audio, uint32_t frames, const Event* events, size_t count) {
    Block block(*this, audio, frames);
    for (size_t i = 0; i < count; ++i) block.add(events[i]);
}

void TolvaneEngine::processStereo(const float* left, const float* right, float* leftOut, float* rightOut,
                                  int32_t frames) {
    if (frames > 0) run(Audio{false, left, right, leftOut, rightOut}, static_cast<uint32_t>(frames), nullptr, 0);
}

void TolvaneEngine::processMono(const float* input, float* output, int32_t frames) {
    if (frames > 0) run(Audio{true, input, nullptr, output, nullptr}, static_cast<uint32_t>(frames), nullptr, 0);
}

void TolvaneEngine::runAudio(const Audio& audio, uint32_t from, uint32_t to) {
    if (!audio.left || !audio.leftOut) return;
    if (!audio.mono && (!audio.right || !audio.rightOut)) return;
    // The pipeline counts frames as int32_t; a longer block goes in parts.
    constexpr uint32_t kLongest = 1u << 30;
    while (from < to) {
        const uint32_t end = to - from > kLongest ? from + kLongest : to;
        const auto frames = static_cast<int32_t>(end - from);
        applyChangedSettings();
        const bool keyed = externalKey && audio.keyLeft;
        const float* keyLeft = keyed ? audio.keyLeft + from : nullptr;
        const float* keyRight = keyed && audio.keyRight ? audio.keyRight + from : nullptr;
        if (audio.mono) {
            tolvaneRunMono(path, TolvaneMonoFrames{audio.left + from, audio.leftOut + from, keyLeft, keyRight}, frames);
        } else {
            tolvaneRunStereo(path,
                             TolvaneStereoFrames{audio.left + from, audio.right + from, audio.leftOut + from,
                                                 audio.rightOut + from, keyLeft, keyRight},
                             frames);
        }
        from = end;
    }
    meterLevel.store(path.meter.level, std::memory_order_relaxed);
}

void TolvaneEngine::apply(const Event& event) {
    switch (event.kind) {
    case Event::Kind::kMidi: handleMidi(event.bytes, event.size); break;
    case Event::Kind::kParameter: setParameter(event.index, event.value); break;
    case Event::Kind::kPlainParameter: setParameterPlain(event.index, event.value); break;
    case Event::Kind::kProgram: setProgram(event.index); break;
    }
}

float TolvaneEngine::getGainReduction() const { return std::fabs(meterLevel.load(std::memory_order_relaxed)); }

void TolvaneEngine::handleMidi(const uint8_t* bytes, size_t size) {
    // Program changes on any channel; a number that is no program is ignored.
    if (midiProgramChanges && size >= 2 && (bytes[0] & 0xF0) == 0xC0) {
        setProgram(bytes[1]);
        return;
    }
    if (size < 3 || (bytes[0] & 0xF0) != 0xB0) return;
    const uint8_t controller = bytes[1], value = bytes[2];
    // Data bytes have bit 7 clear; anything else is no MIDI message.
    if (controller > 127 || value > 127) return;
    // Not 123 (all notes off) or 126 (mono mode): channel modes, no controllers.
    if (controller == 123 || controller == 126) return;
    handleController(controller, value);
}

void TolvaneEngine::handleController(uint8_t controller, uint8_t value) {
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
        lastController.store(kNoController);
        notifyLearn(now.parameter, false);
        return;
    }
    const float normalized = static_cast<float>(value * static_cast<double>(kControllerStep));
    controllerAssignments->forEachParameterOf(static_cast<int8_t>(controller),
                                              [&](int32_t parameter) { setParameter(parameter, normalized); });
}

void TolvaneEngine::notifyLearn(int32_t parameter, bool on) {
    if (Observer* o = observer.load()) o->learnChanged(parameter, on);
}

void TolvaneEngine::toggleLearn(int32_t parameter) {
    // Whatever the audio thread learned since the last call goes first.
    writePendingAssignments();
    LearnState now = learn.load();
    for (;;) {
        if (now.state == 0) {
            if (!learn.compare_exchange_weak(now, LearnState{1, parameter})) continue;
            notifyLearn(parameter, true);
            return;
        }
        if (now.parameter != parameter) {
            if (!learn.compare_exchange_weak(now, LearnState{1, parameter})) continue;
            notifyLearn(now.parameter, false);
            notifyLearn(parameter, true);
            return;
        }
        // The armed control again: cancel, and forget every binding of it.
        if (!learn.compare_exchange_weak(now, LearnState{0, parameter})) continue;
        controllerAssignments->removeParameter(parameter);
        notifyLearn(parameter, false);
        return;
    }
}

void TolvaneEngine::writePendingAssignments() { controllerAssignments->writePending(); }

void TolvaneEngine::readAssignments() { controllerAssignments->read(); }
