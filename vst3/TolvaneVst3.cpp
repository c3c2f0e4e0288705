#include "TolvaneVst3.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "CurrentThread.h"
#include "TolvaneVst3View.h"
#include "Vst3Text.h"
#include "qm_controllerAssignments.h"

using namespace vst3;
namespace ids = tolvane::vst3ids;
using tolvane::vst3text::toUtf16;

namespace {

constexpr int32_t kLastProgram = TolvaneEngine::kProgramCount - 1;
constexpr int32_t kLastControllerValue = 127;
// The VST 2.4 plug-in's text length, so that names, units and displays read alike.
constexpr int32_t kShortText = 8;
constexpr int32_t kLongText = 63;
constexpr double kBypassFadeSeconds = 0.01;
constexpr uint32_t kMinimumScratchFrames = 256;
constexpr uint8_t kControlChange = 0xB0;
// Channel modes, no controllers: the engine ignores them, and so does the mapping.
constexpr int16_t kAllNotesOff = 123, kMonoMode = 126;

double limited(double value) { return value < 0.0 ? 0.0 : value > 1.0 ? 1.0 : value; }
int32_t programOf(double normalized) { return static_cast<int32_t>(std::lround(limited(normalized) * kLastProgram)); }
int32_t controllerValueOf(double normalized) {
    return static_cast<int32_t>(std::lround(limited(normalized) * kLastControllerValue));
}
bool isEngineParameter(int32_t index) { return tolvane::isParameter(index, ids::kEngineCount); }
bool isController(ParamID id) {
    return id >= ids::kFirstController && id < ids::kFirstController + ids::kControllerCount;
}

// The points of a block's parameter queues, in frame order: each queue's in
// its own order; at the same frame a program change first (the values that
// come with it apply to the new program), then the earlier queue's.
class PointMerge {
public:
    struct Cursor {
        IParamValueQueue* queue;
        ParamID id;
        int32_t count, next, offset;
        double value;
    };

    explicit PointMerge(IParameterChanges* changes) {
        const int32_t queues = changes ? changes->getParameterCount() : 0;
        for (int32_t q = 0; q < queues && used < kCapacity; ++q) {
            IParamValueQueue* queue = changes->getParameterData(q);
            if (!queue) continue;
            const ParamID id = queue->getParameterId();
            if (!isEngineParameter(static_cast<int32_t>(id)) && id != ids::kProgram && !isController(id)) continue;
            cursors[used] = {queue, id, queue->getPointCount(), 0, 0, 0.0};
            load(cursors[used++]);
        }
    }

    // The next point; null when none is left.
    Cursor* peek() {
        Cursor* first = nullptr;
        for (int32_t i = 0; i < used; ++i)
            if (cursors[i].next < cursors[i].count && (!first || before(cursors[i], *first))) first = &cursors[i];
        return first;
    }
    void advance(Cursor& cursor) {
        ++cursor.next;
        load(cursor);
    }

private:
    static constexpr int32_t kCapacity = 256;
    static bool before(const Cursor& a, const Cursor& b) {
        return a.offset < b.offset || (a.offset == b.offset && a.id == ids::kProgram && b.id != ids::kProgram);
    }
    static void load(Cursor& c) {
        if (c.next >= c.count) return;
        if (c.queue->getPoint(c.next, c.offset, c.value) != kResultOk || std::isnan(c.value)) {
            ++c.next;  // an unreadable point is skipped
            load(c);
            return;
        }
        if (c.offset < 0) c.offset = 0;
    }
    Cursor cursors[kCapacity];
    int32_t used = 0;
};

TolvaneEngine::Audio sliceOf(const TolvaneEngine::Audio& audio, uint32_t start) {
    auto at = [start](auto* p) { return p ? p + start : p; };
    return {audio.mono,         at(audio.left),    at(audio.right),   at(audio.leftOut),
            at(audio.rightOut), at(audio.keyLeft), at(audio.keyRight)};
}

}  // namespace

// --- life ------------------------------------------------------------------------------

TolvaneVst3::TolvaneVst3() {
    for (auto& m : mapping) m.store(-1);
    link.setEditor(&editorPanel);
    for (auto& buffer : dry) buffer.resize(kMinimumScratchFrames);
    rebuildMapping();
}

TolvaneVst3::~TolvaneVst3() {
    // The editor goes before everything it points to.
    link.setEditor(nullptr);
    editorPanel.close();
    terminate();
}

tresult TolvaneVst3::queryInterface(const char* iid, void** object) {
    if (!object) return kInvalidArgument;
    void* found = nullptr;
    if (FUnknown::iid == iid || IPluginBase::iid == iid || IComponent::iid == iid)
        found = static_cast<IComponent*>(this);
    else if (IAudioProcessor::iid == iid) found = static_cast<IAudioProcessor*>(this);
    else if (IProcessContextRequirements::iid == iid) found = static_cast<IProcessContextRequirements*>(this);
    else if (IEditController::iid == iid) found = static_cast<IEditController*>(this);
    else if (IEditController2::iid == iid) found = static_cast<IEditController2*>(this);
    else if (IMidiMapping::iid == iid) found = static_cast<IMidiMapping*>(this);
    else if (IUnitInfo::iid == iid) found = static_cast<IUnitInfo*>(this);
    *object = found;
    if (!found) return kNoInterface;
    addRef();
    return kResultOk;
}

uint32_t TolvaneVst3::addRef() { return references.fetch_add(1) + 1; }

uint32_t TolvaneVst3::release() {
    const uint32_t left = references.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
}

tresult TolvaneVst3::initialize(FUnknown* context) {
    // The host initialises the component and then the controller: one object.
    if (initialized) return kResultOk;
    initialized = true;
    if (context) context->addRef();
    hostContext = context;
    return kResultOk;
}

tresult TolvaneVst3::terminate() {
    if (!initialized) return kResultOk;
    initialized = false;
    editorPanel.close();
    engine.writePendingAssignments();
    if (handler) handler->release();
    handler = nullptr;
    if (hostContext) hostContext->release();
    hostContext = nullptr;
    return kResultOk;
}

// --- the component ---------------------------------------------------------------------------

tresult TolvaneVst3::getControllerClassId(char* classId) {
    // No separate controller: this object is one.
    if (classId) std::memset(classId, 0, 16);
    return kResultFalse;
}

int32_t TolvaneVst3::getBusCount(int32_t type, int32_t direction) {
    if (type == kAudio) return direction == kInput ? 2 : direction == kOutput ? 1 : 0;
    return type == kEvent && direction == kInput ? 1 : 0;
}

tresult TolvaneVst3::getBusInfo(int32_t type, int32_t direction, int32_t index, BusInfo& bus) {
    if (index < 0 || index >= getBusCount(type, direction)) return kInvalidArgument;
    std::memset(&bus, 0, sizeof bus);
    bus.mediaType = type;
    bus.direction = direction;
    bus.busType = kMain;
    bus.flags = BusInfo::kDefaultActive;
    if (type == kAudio && index == 1) {
        // The key: active once the host routes one.
        bus.busType = kAux;
        bus.flags = 0;
        bus.channelCount = keyChannels.load();
        toUtf16("Side-chain", bus.name, 128);
    } else if (type == kAudio) {
        bus.channelCount = channels.load();
        toUtf16(direction == kInput ? "Input" : "Output", bus.name, 128);
    } else {
        bus.channelCount = 16;
        toUtf16("MIDI Input", bus.name, 128);
    }
    return kResultOk;
}

tresult TolvaneVst3::activateBus(int32_t type, int32_t direction, int32_t index, TBool state) {
    if (index < 0 || index >= getBusCount(type, direction)) return kInvalidArgument;
    if (type == kAudio && index == 1) keyActive.store(state != 0);
    return kResultOk;
}

tresult TolvaneVst3::setActive(TBool state) {
    // Whatever the host streams next starts afresh, at the bypass's own end.
    if (!state) engine.suspend();
    bypassPosition = bypassTarget.load() ? bypassLength : 0;
    return kResultOk;
}

tresult TolvaneVst3::readComponentState(IBStream* stream) {
    tolvane::vst3state::ComponentState state;
    if (!tolvane::vst3state::read(stream, state)) return kResultFalse;
    for (int32_t p = 0; p < TolvaneEngine::kProgramCount; ++p) engine.setProgramNameIndexed(p, state.names[p]);
    engine.setProgram(state.program);
    for (int32_t i = 0; i < ids::kEngineCount; ++i) engine.setParameter(i, state.values[i]);
    bypassTarget.store(state.bypass);
    applyToController(state);
    return kResultOk;
}

tresult TolvaneVst3::writeComponentState(IBStream* stream) {
    catchUp();
    tolvane::vst3state::ComponentState state;
    state.program = engine.getProgram();
    for (int32_t i = 0; i < ids::kEngineCount; ++i) state.values[i] = engine.getParameter(i);
    state.bypass = bypassTarget.load();
    for (int32_t p = 0; p < TolvaneEngine::kProgramCount; ++p) engine.getProgramNameIndexed(p, state.names[p]);
    return tolvane::vst3state::write(stream, state) ? kResultOk : kResultFalse;
}

// --- audio ------------------------------------------------------------------------------------

tresult TolvaneVst3::setBusArrangements(SpeakerArrangement* inputs, int32_t inputCount, SpeakerArrangement* outputs,
                                        int32_t outputCount) {
    // Mono to mono or stereo to stereo, as the VST 2.4 plug-in takes them; a
    // key as the input or mono (a host that names no key gets it as the input).
    if ((inputCount != 1 && inputCount != 2) || outputCount != 1 || !inputs || !outputs) return kResultFalse;
    const int in = std::popcount(inputs[0]), out = std::popcount(outputs[0]);
    const int key = inputCount == 2 ? std::popcount(inputs[1]) : in;
    if (in != out || (in != 1 && in != 2) || (key != in && key != 1)) return kResultFalse;
    channels.store(in);
    keyChannels.store(key);
    return kResultTrue;
}

tresult TolvaneVst3::getBusArrangement(int32_t direction, int32_t index, SpeakerArrangement& arrangement) {
    if (index < 0 || index >= getBusCount(kAudio, direction)) return kInvalidArgument;
    arrangement = (index == 1 ? keyChannels.load() : channels.load()) == 1 ? kMono : kStereo;
    return kResultOk;
}

tresult TolvaneVst3::canProcessSampleSize(int32_t size) { return size == kSample32 ? kResultTrue : kResultFalse; }

tresult TolvaneVst3::setupProcessing(ProcessSetup& setup) {
    if (setup.symbolicSampleSize != kSample32) return kResultFalse;
    if (setup.sampleRate > 0.0 && std::isfinite(setup.sampleRate)) {
        sampleRate = static_cast<float>(setup.sampleRate);
        engine.setSampleRate(sampleRate);
        bypassLength = std::max<int32_t>(1, static_cast<int32_t>(std::lround(setup.sampleRate * kBypassFadeSeconds)));
    }
    const auto frames =
        std::max<uint32_t>(kMinimumScratchFrames, static_cast<uint32_t>(std::max(0, setup.maxSamplesPerBlock)));
    for (auto& buffer : dry) buffer.resize(frames);
    bypassPosition = std::min(bypassPosition, bypassLength);
    return kResultOk;
}

tresult TolvaneVst3::process(ProcessData& data) {
    audioThread.store(platform::currentThread(), std::memory_order_relaxed);
    if (data.symbolicSampleSize != kSample32) return kResultFalse;
    const uint32_t frames = data.numSamples > 0 ? static_cast<uint32_t>(data.numSamples) : 0;

    TolvaneEngine::Audio audio{};
    if (frames > 0 && data.numOutputs > 0 && data.outputs && data.outputs[0].channelBuffers32) {
        AudioBusBuffers& out = data.outputs[0];
        out.silenceFlags = 0;
        const AudioBusBuffers* in = data.numInputs > 0 && data.inputs ? &data.inputs[0] : nullptr;
        const int32_t inCount = in && in->channelBuffers32 ? in->numChannels : 0;
        auto input = [&](int32_t c) -> const float* { return c < inCount ? in->channelBuffers32[c] : nullptr; };
        float** outs = out.channelBuffers32;
        if (out.numChannels == 1) {
            audio = {true, input(0), nullptr, outs[0], nullptr};
        } else if (out.numChannels >= 2) {
            // One input feeds both channels, as in the VST 2.4 plug-in.
            audio = {false, input(0), inCount >= 2 ? input(1) : input(0), outs[0], outs[1]};
        }
        if (!audio.left || !audio.leftOut || (!audio.mono && (!audio.right || !audio.rightOut))) {
            // Nothing to read: silence rather than whatever the buffers held.
            for (int32_t c = 0; c < out.numChannels; ++c)
                if (outs[c]) std::memset(outs[c], 0, frames * sizeof(float));
            audio = {};
        }
        // The key, where the host routes one; a mono key feeds both sides.
        const AudioBusBuffers* key = data.numInputs > 1 && data.inputs ? &data.inputs[1] : nullptr;
        if (audio.left && key && keyActive.load(std::memory_order_relaxed) && key->channelBuffers32 &&
            key->numChannels > 0 && key->channelBuffers32[0]) {
            audio.keyLeft = key->channelBuffers32[0];
            audio.keyRight = key->numChannels >= 2 && key->channelBuffers32[1] ? key->channelBuffers32[1] : nullptr;
        }
    }

    if (IParameterChanges* changes = data.inputParameterChanges) {
        for (int32_t q = 0, queues = changes->getParameterCount(); q < queues; ++q) {
            IParamValueQueue* queue = changes->getParameterData(q);
            int32_t offset = 0;
            double value = 0.0;
            if (queue && queue->getParameterId() == ids::kBypass &&
                queue->getPoint(queue->getPointCount() - 1, offset, value) == kResultOk && !std::isnan(value))
                bypassTarget.store(value >= 0.5);
        }
    }
    runBlock(data, audio, frames);
    reportChanges(data.outputParameterChanges);
    return kResultOk;
}

void TolvaneVst3::runBlock(ProcessData& data, const TolvaneEngine::Audio& audio, uint32_t frames) {
    midiChanged = 0;
    programFrame = -1;
    const bool fading = audio.leftOut && (bypassPosition != 0 || bypassTarget.load(std::memory_order_relaxed));
    // While the bypass fades, the block goes in parts the size of the input's copy.
    const uint32_t step = fading ? std::min<uint32_t>(frames, static_cast<uint32_t>(dry[0].size())) : frames;
    PointMerge merge(data.inputParameterChanges);
    uint32_t start = 0;
    do {
        const uint32_t count = std::min(step, frames - start);
        const bool last = start + count >= frames;
        const TolvaneEngine::Audio part = sliceOf(audio, start);
        if (fading) {
            std::memcpy(dry[0].data(), part.left, count * sizeof(float));
            if (!part.mono) std::memcpy(dry[1].data(), part.right, count * sizeof(float));
        }
        {
            TolvaneEngine::Block block(engine, part, count);
            for (PointMerge::Cursor* point;
                 (point = merge.peek()) && (last || static_cast<uint32_t>(point->offset) < start + count);
                 merge.advance(*point)) {
                const uint32_t frame = std::max(static_cast<uint32_t>(point->offset), start);
                const uint32_t at = frame - start;
                const double value = limited(point->value);
                if (point->id == ids::kProgram) {
                    const int32_t program = programOf(value);
                    block.add(TolvaneEngine::Event::program(at, program));
                    programFrame = static_cast<int32_t>(std::min(frame, frames));
                    programPending.store(program);
                } else if (isController(point->id)) {
                    const uint8_t bytes[3] = {kControlChange, static_cast<uint8_t>(point->id - ids::kFirstController),
                                              static_cast<uint8_t>(controllerValueOf(value))};
                    eventFrame = std::min(frame, frames);
                    inMidi.store(true, std::memory_order_relaxed);
                    block.add(TolvaneEngine::Event::midi(at, bytes, sizeof bytes));
                    inMidi.store(false, std::memory_order_relaxed);
                } else {
                    block.add(TolvaneEngine::Event::parameter(at, static_cast<int32_t>(point->id),
                                                              static_cast<float>(value)));
                }
            }
        }
        if (fading) crossfade(part, count);
        start += count;
    } while (start < frames);
}

void TolvaneVst3::crossfade(const TolvaneEngine::Audio& audio, uint32_t frames) {
    const bool target = bypassTarget.load(std::memory_order_relaxed);
    const float length = static_cast<float>(bypassLength);
    for (uint32_t n = 0; n < frames; ++n) {
        if (target && bypassPosition < bypassLength) ++bypassPosition;
        else if (!target && bypassPosition > 0) --bypassPosition;
        if (bypassPosition == 0) continue;  // the engine's output as it is
        for (int c = 0; c < (audio.mono ? 1 : 2); ++c) {
            float* out = c == 0 ? audio.leftOut : audio.rightOut;
            const float input = dry[c][n];
            if (bypassPosition == bypassLength) {
                out[n] = input;
            } else {
                const float share = static_cast<float>(bypassPosition) / length;
                out[n] = out[n] * (1.0f - share) + input * share;
            }
        }
    }
}

// The values MIDI or a program change set in the block, for the host and for
// the controller's side.
void TolvaneVst3::reportChanges(IParameterChanges* out) {
    const uint32_t all = (1u << ids::kEngineCount) - 1;
    const uint32_t changed = programFrame >= 0 ? all : midiChanged;
    if (!changed) return;
    midiPending.fetch_or(midiChanged);
    if (!out) return;
    for (int32_t i = 0; i < ids::kEngineCount; ++i) {
        if (!(changed & (1u << i))) continue;
        const int32_t frame = midiChanged & (1u << i) ? std::max(midiFrames[i], programFrame) : programFrame;
        int32_t queueIndex = 0, pointIndex = 0;
        const ParamID id = static_cast<ParamID>(i);
        if (IParamValueQueue* queue = out->addParameterData(id, queueIndex))
            queue->addPoint(frame, engine.getParameter(i), pointIndex);
    }
}

// --- the controller --------------------------------------------------------------------------

tresult TolvaneVst3::setComponentState(IBStream* stream) {
    tolvane::vst3state::ComponentState state;
    if (!tolvane::vst3state::read(stream, state)) return kResultFalse;
    applyToController(state);
    return kResultOk;
}

tresult TolvaneVst3::readControllerState(IBStream* stream) {
    return tolvane::vst3state::readController(stream) ? kResultOk : kResultFalse;
}

tresult TolvaneVst3::writeControllerState(IBStream* stream) {
    catchUp();
    return tolvane::vst3state::writeController(stream) ? kResultOk : kResultFalse;
}

void TolvaneVst3::applyToController(const tolvane::vst3state::ComponentState& state) {
    for (int32_t p = 0; p < TolvaneEngine::kProgramCount; ++p)
        controllerEngine.setProgramNameIndexed(p, state.names[p]);
    controllerEngine.setProgram(state.program);
    for (int32_t i = 0; i < ids::kEngineCount; ++i) controllerEngine.setParameter(i, state.values[i]);
    controllerBypass = state.bypass;
}

tresult TolvaneVst3::getParameterInfo(int32_t index, ParameterInfo& info) {
    if (index < 0 || index >= ids::kListedCount) return kInvalidArgument;
    std::memset(&info, 0, sizeof info);
    info.unitId = kRootUnitId;
    char text[kLongText + 1];
    if (isEngineParameter(index)) {
        info.id = static_cast<ParamID>(index);
        controllerEngine.getParameterName(index, text, kLongText);
        toUtf16(text, info.title, 128);
        controllerEngine.getParameterName(index, text, kShortText);
        toUtf16(text, info.shortTitle, 128);
        controllerEngine.getParameterLabel(index, text, kShortText);
        toUtf16(text, info.units, 128);
        info.defaultNormalizedValue = tolvaneFactoryValue(0, index);
        info.flags = ParameterInfo::kCanAutomate;
        if (index == tolvane::kKey) {
            info.stepCount = 1;
            info.flags |= ParameterInfo::kIsList;
        }
    } else if (index == ids::kEngineCount) {
        info.id = ids::kBypass;
        toUtf16("Bypass", info.title, 128);
        toUtf16("Bypass", info.shortTitle, 128);
        info.stepCount = 1;
        info.flags = ParameterInfo::kCanAutomate | ParameterInfo::kIsBypass;
    } else if (index == ids::kEngineCount + 1) {
        info.id = ids::kProgram;
        toUtf16("Program", info.title, 128);
        toUtf16("Program", info.shortTitle, 128);
        info.stepCount = kLastProgram;
        info.flags = ParameterInfo::kCanAutomate | ParameterInfo::kIsList | ParameterInfo::kIsProgramChange;
    } else {
        const int32_t controller = index - (ids::kEngineCount + 2);
        info.id = ids::kFirstController + static_cast<ParamID>(controller);
        std::snprintf(text, sizeof text, "MIDI CC %d", controller);
        toUtf16(text, info.title, 128);
        std::snprintf(text, sizeof text, "CC %d", controller);
        toUtf16(text, info.shortTitle, 128);
        info.stepCount = kLastControllerValue;
        info.flags = ParameterInfo::kIsHidden;
    }
    return kResultOk;
}

tresult TolvaneVst3::getParamStringByValue(ParamID id, ParamValue normalized, char16* text) {
    if (!text || std::isnan(normalized)) return kInvalidArgument;
    char display[kLongText + 1];
    const double value = limited(normalized);
    if (isEngineParameter(static_cast<int32_t>(id))) {
        // Key's words in full (the VST 2.4 plug-in's buffers take only "Int" and "Ext").
        const auto index = static_cast<int32_t>(id);
        textEngine.setParameter(index, static_cast<float>(value));
        textEngine.getParameterDisplay(index, display, index == tolvane::kKey ? kLongText : kShortText);
    } else if (id == ids::kBypass) {
        std::snprintf(display, sizeof display, "%s", value >= 0.5 ? "On" : "Off");
    } else if (id == ids::kProgram) {
        controllerEngine.getProgramNameIndexed(programOf(value), display);
    } else if (isController(id)) {
        std::snprintf(display, sizeof display, "%d", controllerValueOf(value));
    } else {
        return kInvalidArgument;
    }
    toUtf16(display, text, 128);
    return kResultOk;
}

tresult TolvaneVst3::getParamValueByString(ParamID id, char16* text, ParamValue& normalized) {
    if (!text) return kInvalidArgument;
    const std::string typed = tolvane::vst3text::toUtf8(text, 128);
    if (isEngineParameter(static_cast<int32_t>(id))) {
        float value = 0.0f;
        if (!controllerEngine.normalizedFromText(static_cast<int32_t>(id), typed.c_str(), value)) return kResultFalse;
        normalized = value;
        return kResultOk;
    }
    if (id == ids::kBypass) {
        if (typed == "On" || typed == "1") normalized = 1.0;
        else if (typed == "Off" || typed == "0") normalized = 0.0;
        else return kResultFalse;
        return kResultOk;
    }
    if (id == ids::kProgram) {
        char name[TolvaneProgram::kNameLength];
        for (int32_t p = 0; p <= kLastProgram; ++p)
            if (controllerEngine.getProgramNameIndexed(p, name) && typed == name) {
                normalized = static_cast<double>(p) / kLastProgram;
                return kResultOk;
            }
        return kResultFalse;
    }
    if (isController(id)) {
        char* end = nullptr;
        const long value = std::strtol(typed.c_str(), &end, 10);
        if (end == typed.c_str() || value < 0 || value > kLastControllerValue) return kResultFalse;
        normalized = static_cast<double>(value) / kLastControllerValue;
        return kResultOk;
    }
    return kInvalidArgument;
}

ParamValue TolvaneVst3::normalizedParamToPlain(ParamID id, ParamValue normalized) {
    if (id == ids::kBypass || id == static_cast<ParamID>(tolvane::kKey)) return limited(normalized) >= 0.5 ? 1.0 : 0.0;
    if (id == ids::kProgram) return programOf(normalized);
    if (isController(id)) return controllerValueOf(normalized);
    return normalized;
}

ParamValue TolvaneVst3::plainParamToNormalized(ParamID id, ParamValue plain) {
    if (id == ids::kProgram) return limited(plain / kLastProgram);
    if (isController(id)) return limited(plain / kLastControllerValue);
    return limited(plain);
}

ParamValue TolvaneVst3::getParamNormalized(ParamID id) {
    if (isEngineParameter(static_cast<int32_t>(id))) return controllerEngine.getParameter(static_cast<int32_t>(id));
    if (id == ids::kBypass) return controllerBypass ? 1.0 : 0.0;
    if (id == ids::kProgram) return static_cast<double>(controllerEngine.getProgram()) / kLastProgram;
    return 0.0;
}

tresult TolvaneVst3::setParamNormalized(ParamID id, ParamValue value) {
    if (std::isnan(value)) return kInvalidArgument;
    const double v = limited(value);
    if (isEngineParameter(static_cast<int32_t>(id))) {
        controllerEngine.setParameter(static_cast<int32_t>(id), static_cast<float>(v));
        editorPanel.setParameter(static_cast<int32_t>(id), static_cast<float>(v));
    } else if (id == ids::kBypass) {
        controllerBypass = v >= 0.5;
    } else if (id == ids::kProgram) {
        // The host changes the processor's program too; the values it reads
        // back from here are the program's now. It hears of them at its next
        // call on the user-interface thread, not from inside this one: a host
        // may hold a lock of its own here that its restart handling takes too.
        const int32_t program = programOf(v);
        if (program != controllerEngine.getProgram()) {
            controllerEngine.setProgram(program);
            showControllerValues();
            restartPending.fetch_or(kParamValuesChanged);
        }
    } else if (!isController(id)) {
        return kInvalidArgument;
    }
    return kResultOk;
}

tresult TolvaneVst3::setComponentHandler(IComponentHandler* newHandler) {
    if (newHandler == handler) return kResultOk;
    if (newHandler) newHandler->addRef();
    if (handler) handler->release();
    handler = newHandler;
    return kResultOk;
}

IPlugView* TolvaneVst3::createView(FIDString name) {
    if (!name || std::strcmp(name, "editor") != 0 || view) return nullptr;
    view = new (std::nothrow) TolvaneVst3View(*this);
    return view;
}

void TolvaneVst3::viewGone(TolvaneVst3View* gone) {
    if (view == gone) view = nullptr;
}

// Taken, and changes nothing: the knobs always drag linearly.
tresult TolvaneVst3::setKnobMode(int32_t mode) { return mode >= 0 && mode <= 2 ? kResultOk : kResultFalse; }

tresult TolvaneVst3::getMidiControllerAssignment(int32_t busIndex, int16_t channel, int16_t controller, ParamID& id) {
    if (busIndex != 0 || channel < 0 || channel > 15 || controller < 0 || controller >= ids::kControllerCount ||
        controller == kAllNotesOff || controller == kMonoMode)
        return kResultFalse;
    const int32_t bound = engine.isLearning() ? -1 : mapping[controller].load(std::memory_order_relaxed);
    id = bound >= 0 ? static_cast<ParamID>(bound) : ids::kFirstController + static_cast<ParamID>(controller);
    return kResultOk;
}

tresult TolvaneVst3::getUnitInfo(int32_t index, UnitInfo& info) {
    if (index != 0) return kInvalidArgument;
    std::memset(&info, 0, sizeof info);
    info.id = kRootUnitId;
    info.parentUnitId = kNoParentUnitId;
    toUtf16("Root", info.name, 128);
    info.programListId = ids::kProgramListId;
    return kResultOk;
}

tresult TolvaneVst3::getProgramListInfo(int32_t index, ProgramListInfo& info) {
    if (index != 0) return kInvalidArgument;
    std::memset(&info, 0, sizeof info);
    info.id = ids::kProgramListId;
    toUtf16("Programs", info.name, 128);
    info.programCount = TolvaneEngine::kProgramCount;
    return kResultOk;
}

tresult TolvaneVst3::getProgramName(int32_t listId, int32_t program, char16* name) {
    char text[TolvaneProgram::kNameLength];
    if (listId != ids::kProgramListId || !name || !controllerEngine.getProgramNameIndexed(program, text))
        return kInvalidArgument;
    toUtf16(text, name, 128);
    return kResultOk;
}

// --- between the threads -------------------------------------------------------------------------

bool TolvaneVst3::onAudioThread() const {
    return audioThread.load(std::memory_order_relaxed) == platform::currentThread();
}

void TolvaneVst3::restartComponent(int32_t flags) {
    // Never from the audio thread: the next call on the user-interface thread sends it.
    if (onAudioThread()) restartPending.fetch_or(flags);
    else if (handler) handler->restartComponent(flags);
}

void TolvaneVst3::catchUp() {
    int32_t flags = restartPending.exchange(0);
    const int32_t program = programPending.exchange(-1);
    if (program >= 0 && program != controllerEngine.getProgram()) {
        controllerEngine.setProgram(program);
        flags |= kParamValuesChanged;
    }
    const uint32_t moved = midiPending.exchange(0);
    for (int32_t i = 0; i < ids::kEngineCount; ++i)
        if (moved & (1u << i)) controllerEngine.setParameter(i, midiValues[i].load());
    if (moved) flags |= kParamValuesChanged;
    if (mappingPending.exchange(false)) {
        rebuildMapping();
        flags |= kMidiCCAssignmentChanged;
    }
    engine.writePendingAssignments();
    if (flags && handler) handler->restartComponent(flags);
}

void TolvaneVst3::rebuildMapping() {
    // -2: no binding yet; -1: bound to several parameters (the stand-in drives them all).
    int32_t bound[ids::kControllerCount];
    std::fill(std::begin(bound), std::end(bound), -2);
    for (const qm_controllerAssignment& entry : engine.getControllerAssignments().entries()) {
        const auto controller = static_cast<uint8_t>(entry.controller);
        if (controller >= ids::kControllerCount || !isEngineParameter(entry.parameter)) continue;
        bound[controller] = bound[controller] == -2 || bound[controller] == entry.parameter ? entry.parameter : -1;
    }
    for (int32_t c = 0; c < ids::kControllerCount; ++c) mapping[c].store(bound[c] >= 0 ? bound[c] : -1);
}

void TolvaneVst3::showControllerValues() {
    for (int32_t i = 0; i < ids::kEngineCount; ++i) editorPanel.setParameter(i, controllerEngine.getParameter(i));
}

// --- the editor's link ----------------------------------------------------------------------------

void TolvaneVst3::EditorLink::setParameterAutomated(int32_t index, float value) {
    // The host hands the change to process(); the controller knows it now.
    owner.controllerEngine.setParameter(index, value);
    if (owner.handler) owner.handler->performEdit(static_cast<ParamID>(index), value);
}

void TolvaneVst3::EditorLink::beginEdit(int32_t index) {
    if (owner.handler) owner.handler->beginEdit(static_cast<ParamID>(index));
}

void TolvaneVst3::EditorLink::endEdit(int32_t index) {
    if (owner.handler) owner.handler->endEdit(static_cast<ParamID>(index));
}

void TolvaneVst3::EditorLink::toggleLearn(int32_t parameter) {
    EngineEditorLink::toggleLearn(parameter);
    // Armed, every controller reaches the engine through its stand-in.
    owner.mappingPending.store(false);
    owner.rebuildMapping();
    owner.restartComponent(kMidiCCAssignmentChanged);
}

bool TolvaneVst3::EditorLink::resizeEditor(int32_t width, int32_t height) {
    return owner.view && owner.view->requestSize(width, height);
}

void TolvaneVst3::EditorLink::parameterChanged(int32_t index, float value) {
    EngineEditorLink::parameterChanged(index, value);
    if (!owner.inMidi.load(std::memory_order_relaxed) || !owner.onAudioThread()) return;
    owner.midiValues[index].store(value);
    owner.midiChanged |= 1u << index;
    owner.midiFrames[index] = static_cast<int32_t>(owner.eventFrame);
}

void TolvaneVst3::EditorLink::learnChanged(int32_t parameter, bool on) {
    EngineEditorLink::learnChanged(parameter, on);
    owner.mappingPending.store(true);
}
