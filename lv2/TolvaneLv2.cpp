#include "TolvaneLv2.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "qm_controllerAssignments.h"

namespace {

using namespace tolvane::lv2;

const void* feature(const LV2_Feature* const* features, const char* uri) {
    for (; features && *features; ++features)
        if (std::strcmp((*features)->URI, uri) == 0) return (*features)->data;
    return nullptr;
}

// The largest message the notify port carries, with its event header.
constexpr uint32_t kLargestMessage = 128;

// A host's rate that is no number, not above 0 or beyond a float leaves the
// engine at its own rate, which then counts everywhere.
float usableRate(double rate) {
    const float r = rate > 0.0 && rate <= std::numeric_limits<float>::max() ? static_cast<float>(rate) : 0.0f;
    return r > 0.0f ? r : 44100.0f;
}

}  // namespace

TolvaneLv2* TolvaneLv2::create(Layout layout, double sampleRate, const LV2_Feature* const* features) {
    auto* map = static_cast<LV2_URID_Map*>(const_cast<void*>(feature(features, LV2_URID__map)));
    auto* schedule = static_cast<LV2_Worker_Schedule*>(const_cast<void*>(feature(features, LV2_WORKER__schedule)));
    const auto* display = static_cast<const Lv2InlineDisplay*>(feature(features, TOLVANE_INLINEDISPLAY__queue_draw));
    try {
        return new TolvaneLv2(layout, sampleRate, map, schedule, display);
    } catch (...) {
        return nullptr;
    }
}

TolvaneLv2::TolvaneLv2(Layout layout, double rate, LV2_URID_Map* map, LV2_Worker_Schedule* worker,
                       const Lv2InlineDisplay* inlineDisplay)
    : engine(TolvaneEngine::defaultAssignmentsFile(),
             layout == Layout::kSideChain ? TolvaneEngine::Form::kSideChain : TolvaneEngine::Form::kMain),
      mono(layout == Layout::kMono),
      sideChain(layout == Layout::kSideChain),
      sampleRate(usableRate(rate)),
      retryFrames(static_cast<uint64_t>(std::min(sampleRate, 4.0e9f))),
      uris(map ? MessageUris::map(map) : MessageUris{}),
      schedule(worker),
      display(inlineDisplay),
      mapped(map != nullptr) {
    if (mapped) lv2_atom_forge_init(&forge, map);
    std::fill(std::begin(appliedPorts), std::end(appliedPorts), NAN);
    engine.setSampleRate(sampleRate);
    engine.setObserver(this);
}

void TolvaneLv2::connectPort(uint32_t port, void* data) {
    if (port < kGainReductionPort) controls[port] = static_cast<const float*>(data);
    else if (port == kGainReductionPort) gainReduction = static_cast<float*>(data);
    else if (port == kControlPort) control = static_cast<const LV2_Atom_Sequence*>(data);
    else if (port == kNotifyPort) notify = static_cast<LV2_Atom_Sequence*>(data);
    else if (mono && port == kFirstAudioPort) inputs[0] = static_cast<const float*>(data);
    else if (mono && port == kFirstAudioPort + 1) outputs[0] = static_cast<float*>(data);
    else if (!mono && port < kStereoPortCount) {
        const uint32_t k = port - kFirstAudioPort;
        if (k < 2) inputs[k] = static_cast<const float*>(data);
        else outputs[k - 2] = static_cast<float*>(data);
    } else if (sideChain && port == kKeyControlPort) {
        controls[tolvane::kKey] = static_cast<const float*>(data);
    } else if (sideChain && port < kSideChainPortCount) {
        keys[port - kFirstKeyPort] = static_cast<const float*>(data);
    }
}

void TolvaneLv2::parameterChanged(int32_t index, float) {
    if (!inMidi) return;
    midiChanged |= 1u << index;
    midiDiverged |= 1u << index;
}

void TolvaneLv2::applyChangedPorts() {
    for (int32_t i = 0; i < engine.parameterCount(); ++i) {
        if (!controls[i]) continue;
        const float port = *controls[i];
        if (port == appliedPorts[i]) continue;
        appliedPorts[i] = port;
        midiDiverged &= ~(1u << i);
        engine.setParameterPlain(i, plainOfPortValue(i, port));
    }
}

void TolvaneLv2::run(uint32_t frames) {
    applyChangedPorts();
    {
        TolvaneEngine::Block block(engine, audio(), frames);
        if (control && mapped) {
            forEachMessage(*control, uris, [&](int64_t time, const Message& message) {
                handleMessage(block, static_cast<uint32_t>(std::clamp<int64_t>(time, 0, frames)), message);
            });
        }
    }
    if (gainReduction) *gainReduction = engine.getGainReduction();
    scheduleBindingsWrite(frames);
    writeNotifications();
    if (display) {
        const auto meter = static_cast<int32_t>(engine.getMeterValue() * 256.0f);
        if (meter != meterShown) {
            meterShown = meter;
            display->queueDraw(display->handle);
        }
    }
}

TolvaneEngine::Audio TolvaneLv2::audio() const {
    if (mono) return {true, inputs[0], nullptr, outputs[0], nullptr};
    // An unconnected key is none; an unconnected right key, the left one's.
    return {false, inputs[0], inputs[1], outputs[0], outputs[1], keys[0], keys[1] ? keys[1] : keys[0]};
}

void TolvaneLv2::handleMessage(TolvaneEngine::Block& block, uint32_t frame, const Message& message) {
    if (message.kind == Message::kMidi) {
        inMidi = true;
        block.add(TolvaneEngine::Event::midi(frame, message.midi, message.midiSize));
        inMidi = false;
    } else if (message.kind == Message::kStateRequest) {
        stateRequested = true;
    } else if (message.kind == Message::kToggleLearn && schedule) {
        const WorkItem item{WorkItem::kToggleLearn, message.parameter, 0};
        schedule->schedule_work(schedule->handle, sizeof item, &item);
    }
}

void TolvaneLv2::scheduleBindingsWrite(uint32_t frames) {
    if (framesUntilRetry > 0) {
        framesUntilRetry = framesUntilRetry > frames ? framesUntilRetry - frames : 0;
        return;
    }
    if (!schedule || writeScheduled || !engine.getControllerAssignments().hasPendingWrite()) return;
    const WorkItem item{WorkItem::kWriteBindings, 0, 0};
    writeScheduled = schedule->schedule_work(schedule->handle, sizeof item, &item) == LV2_WORKER_SUCCESS;
}

LV2_Worker_Status TolvaneLv2::work(LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle, uint32_t size,
                                   const void* data) {
    if (size != sizeof(WorkItem)) return LV2_WORKER_ERR_UNKNOWN;
    WorkItem item;
    std::memcpy(&item, data, sizeof item);
    if (item.kind == WorkItem::kToggleLearn && tolvane::isParameter(item.parameter, engine.parameterCount())) {
        engine.toggleLearn(item.parameter);
    } else if (item.kind == WorkItem::kWriteBindings) {
        item.written = engine.getControllerAssignments().writePending() ? 1 : 0;
        respond(handle, sizeof item, &item);
    } else {
        return LV2_WORKER_ERR_UNKNOWN;
    }
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status TolvaneLv2::workResponse(uint32_t size, const void* data) {
    if (size != sizeof(WorkItem)) return LV2_WORKER_ERR_UNKNOWN;
    WorkItem item;
    std::memcpy(&item, data, sizeof item);
    if (item.kind != WorkItem::kWriteBindings) return LV2_WORKER_ERR_UNKNOWN;
    writeScheduled = false;
    // A file that cannot be written now (or an answer that cannot be ours) is
    // tried again in about a second.
    if (item.written != 1) framesUntilRetry = retryFrames;
    return LV2_WORKER_SUCCESS;
}

void TolvaneLv2::writeNotifications() {
    if (!notify || !mapped) return;
    const uint32_t capacity = notify->atom.size;
    lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(notify), capacity);
    LV2_Atom_Forge_Frame sequence;
    if (!lv2_atom_forge_sequence_head(&forge, &sequence, 0)) return;
    // A user interface that opens knows the ports' values from its host; it
    // learns here where MIDI took the engine from them.
    if (stateRequested) midiChanged |= midiDiverged;
    // What does not fit waits for the next block.
    for (int32_t i = 0; i < engine.parameterCount(); ++i)
        if ((midiChanged & (1u << i)) && writeParameterValue(i)) midiChanged &= ~(1u << i);
    const bool armed = engine.isLearning();
    const int32_t parameter = engine.getLearnParameter();
    const bool changed = armed != learnArmedShown || (armed && parameter != learnParameterShown);
    if ((changed || stateRequested) && writeLearnState(armed, parameter)) {
        learnArmedShown = armed;
        learnParameterShown = parameter;
        stateRequested = false;
    }
    lv2_atom_forge_pop(&forge, &sequence);
}

bool TolvaneLv2::writeParameterValue(int32_t index) {
    if (forge.size - forge.offset < kLargestMessage) return false;
    LV2_Atom_Forge_Frame object;
    lv2_atom_forge_frame_time(&forge, 0);
    lv2_atom_forge_object(&forge, &object, 0, uris.parameterValue);
    lv2_atom_forge_key(&forge, uris.parameter);
    lv2_atom_forge_int(&forge, index);
    lv2_atom_forge_key(&forge, uris.value);
    lv2_atom_forge_float(&forge, engine.getParameter(index));
    lv2_atom_forge_pop(&forge, &object);
    return true;
}

bool TolvaneLv2::writeLearnState(bool armed, int32_t parameter) {
    if (forge.size - forge.offset < kLargestMessage) return false;
    LV2_Atom_Forge_Frame object;
    lv2_atom_forge_frame_time(&forge, 0);
    lv2_atom_forge_object(&forge, &object, 0, uris.learn);
    lv2_atom_forge_key(&forge, uris.parameter);
    lv2_atom_forge_int(&forge, parameter);
    lv2_atom_forge_key(&forge, uris.armed);
    lv2_atom_forge_bool(&forge, armed);
    lv2_atom_forge_pop(&forge, &object);
    return true;
}

Lv2InlineDisplaySurface* TolvaneLv2::renderInlineDisplay(uint32_t width, uint32_t maxHeight) {
    // A bar of the gain reduction on the editor meter's scale (20 dB fill it),
    // with a tick every 5 dB, within the bounds asked for: none where a frame
    // around one row of bar does not fit.
    const uint32_t w = std::min<uint32_t>(width, 1024);
    const uint32_t h = std::min<uint32_t>(std::clamp<uint32_t>(w / 8, 6, 24), maxHeight);
    if (w < 3 || h < 3) return nullptr;
    try {
        displayPixels.resize(static_cast<size_t>(w) * h);
    } catch (...) {
        return nullptr;
    }
    constexpr uint32_t kBackground = 0xFF1C1C1Cu, kBar = 0xFFE8961Eu, kTick = 0xFF5A5A5Au, kFrame = 0xFF3A3A3Au;
    const uint32_t inner = w - 2;
    const auto filled = static_cast<uint32_t>(std::lround(engine.getMeterValue() * static_cast<float>(inner)));
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t pixel = kBackground;
            if (y == 0 || y == h - 1 || x == 0 || x == w - 1) pixel = kFrame;
            else if (x - 1 < filled) pixel = kBar;
            else if (x - 1 == inner / 4 || x - 1 == inner / 2 || x - 1 == inner * 3 / 4) pixel = kTick;
            displayPixels[static_cast<size_t>(y) * w + x] = pixel;
        }
    }
    displaySurface = {reinterpret_cast<unsigned char*>(displayPixels.data()), static_cast<int>(w), static_cast<int>(h),
                      static_cast<int>(w * sizeof(uint32_t))};
    return &displaySurface;
}

// --- the LV2 entry points -----------------------------------------------------

namespace {

TolvaneLv2* self(LV2_Handle instance) { return static_cast<TolvaneLv2*>(instance); }

template <TolvaneLv2::Layout layout>
LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features) {
    return TolvaneLv2::create(layout, rate, features);
}

void connectPort(LV2_Handle instance, uint32_t port, void* data) { self(instance)->connectPort(port, data); }
void activate(LV2_Handle) {}
void run(LV2_Handle instance, uint32_t frames) { self(instance)->run(frames); }
void deactivate(LV2_Handle instance) { self(instance)->deactivate(); }
void cleanup(LV2_Handle instance) { delete self(instance); }

LV2_Worker_Status work(LV2_Handle instance, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                       uint32_t size, const void* data) {
    return self(instance)->work(respond, handle, size, data);
}
LV2_Worker_Status workResponse(LV2_Handle instance, uint32_t size, const void* data) {
    return self(instance)->workResponse(size, data);
}
Lv2InlineDisplaySurface* render(LV2_Handle instance, uint32_t width, uint32_t maxHeight) {
    return self(instance)->renderInlineDisplay(width, maxHeight);
}

const LV2_Worker_Interface workerInterface{work, workResponse, nullptr};
const Lv2InlineDisplayInterface inlineDisplayInterface{render};

const void* extensionData(const char* uri) {
    if (std::strcmp(uri, LV2_WORKER__interface) == 0) return &workerInterface;
    if (std::strcmp(uri, TOLVANE_INLINEDISPLAY__interface) == 0) return &inlineDisplayInterface;
    return nullptr;
}

const LV2_Descriptor descriptors[] = {
    {kStereoUri, instantiate<TolvaneLv2::Layout::kStereo>, connectPort, activate, run, deactivate, cleanup,
     extensionData},
    {kMonoUri, instantiate<TolvaneLv2::Layout::kMono>, connectPort, activate, run, deactivate, cleanup, extensionData},
    {kSideChainUri, instantiate<TolvaneLv2::Layout::kSideChain>, connectPort, activate, run, deactivate, cleanup,
     extensionData},
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index < std::size(descriptors) ? &descriptors[index] : nullptr;
}
