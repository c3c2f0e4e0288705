#include "TolvaneClap.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "CHighlightFrame.h"
#include "EditorScale.h"
#include "TolvaneText.h"
#include "qm_controllerAssignments.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace tolvane_clap {

namespace {

#if defined(_WIN32)
constexpr const char* kWindowApi = clap::kWindowApiWin32;
#else
constexpr const char* kWindowApi = clap::kWindowApiX11;
#endif
constexpr uint32_t kIdlePeriodMs = 30;
// The display texts are the VST 2.4 plug-in's, which has room for 7 characters;
// Key's words are shown whole.
constexpr int32_t kDisplayLength = 8;
constexpr int32_t kKeyDisplayLength = 15;

using tolvane::copyText;

void pushValue(const clap::OutputEvents* out, uint32_t frame, int32_t index, float value, uint32_t flags) {
    if (!out) return;
    const clap::EventParamValue event{
        {sizeof(clap::EventParamValue), frame, clap::kCoreEventSpace, clap::kEventParamValue, flags},
        static_cast<uint32_t>(index),
        nullptr,
        -1,
        -1,
        -1,
        -1,
        static_cast<double>(value)};
    out->tryPush(out, &event.header);
}

void pushGesture(const clap::OutputEvents* out, uint32_t frame, int32_t index, bool begin) {
    const clap::EventParamGesture event{{sizeof(clap::EventParamGesture), frame, clap::kCoreEventSpace,
                                         begin ? clap::kEventParamGestureBegin : clap::kEventParamGestureEnd, 0},
                                        static_cast<uint32_t>(index)};
    out->tryPush(out, &event.header);
}

#if defined(_WIN32)
// Where the host offers no timer, a thread timer of the main thread's own
// message loop idles the editor. Main thread only.
std::vector<std::pair<UINT_PTR, TolvaneClap*>>& windowsTimers() {
    static std::vector<std::pair<UINT_PTR, TolvaneClap*>> timers;
    return timers;
}
void CALLBACK onWindowsTimer(HWND, UINT, UINT_PTR id, DWORD) {
    for (const auto& [timer, owner] : windowsTimers())
        if (timer == id) owner->onTimer(clap::kInvalidId);
}
#endif

}  // namespace

// --- the editor's notices to the host -------------------------------------------------

bool HostNotices::push(Item item) {
    const uint32_t t = tail.load(std::memory_order_relaxed);
    if (t - head.load(std::memory_order_acquire) >= kCapacity) return false;
    items[t % kCapacity] = item;
    tail.store(t + 1, std::memory_order_release);
    return true;
}

void HostNotices::begin(int32_t parameter) {
    if (!tolvane::isRow(parameter) || open[parameter]) return;
    // A begin goes out only with room kept for the end of every open gesture.
    const uint32_t used = tail.load(std::memory_order_relaxed) - head.load(std::memory_order_acquire);
    if (used + 1 + tolvane::kSideChainParameterCount > kCapacity) return;
    open[parameter] = push({true, static_cast<int8_t>(parameter)});
}

void HostNotices::end(int32_t parameter) {
    if (!tolvane::isRow(parameter) || !open[parameter]) return;
    open[parameter] = false;
    push({false, static_cast<int8_t>(parameter)});
}

void HostNotices::drain(const clap::OutputEvents* out, uint32_t frame, const TolvaneEngine& engine) {
    if (!out) return;  // kept for a call that has a list
    // The tail first: a value the producer set before an end we see is then seen too.
    const uint32_t t = tail.load(std::memory_order_acquire);
    uint32_t changed = values.exchange(0, std::memory_order_acquire);
    uint32_t h = head.load(std::memory_order_relaxed);
    for (; h != t; ++h) {
        const Item item = items[h % kCapacity];
        const uint32_t bit = 1u << item.parameter;
        if (!item.begin && (changed & bit)) {
            changed &= ~bit;
            pushValue(out, frame, item.parameter, engine.getParameter(item.parameter), 0);
        }
        pushGesture(out, frame, item.parameter, item.begin);
    }
    head.store(h, std::memory_order_release);
    for (int32_t p = 0; changed != 0; ++p, changed >>= 1)
        if (changed & 1) pushValue(out, frame, p, engine.getParameter(p), 0);
}

// --- the editor's link ------------------------------------------------------------------

void TolvaneClap::EditorLink::setParameterAutomated(int32_t index, float value) {
    engine.setParameter(index, value);
    if (!owner.hasParameter(index)) return;
    owner.notices.changed(index);
    owner.askHostForFlush();
}

void TolvaneClap::EditorLink::beginEdit(int32_t index) {
    owner.notices.begin(index);
    owner.askHostForFlush();
}

void TolvaneClap::EditorLink::endEdit(int32_t index) {
    owner.notices.end(index);
    owner.askHostForFlush();
}

bool TolvaneClap::EditorLink::resizeEditor(int32_t width, int32_t height) {
    return owner.hostGui &&
           owner.hostGui->requestResize(owner.host, static_cast<uint32_t>(width), static_cast<uint32_t>(height));
}

// --- life cycle --------------------------------------------------------------------------

TolvaneClap::TolvaneClap(const clap::Host* clapHost, const clap::PluginDescriptor* descriptor, bool isMono)
    : host(clapHost),
      mono(isMono),
      engine(TolvaneEngine::defaultAssignmentsFile(), TolvaneEngine::Form::kSideChain) {
    clapPlugin =
        clap::Plugin{descriptor,
                     this,
                     [](const clap::Plugin* p) { return of(p)->init(); },
                     [](const clap::Plugin* p) {
                         of(p)->checkMainThread("destroy");
                         delete of(p);
                     },
                     [](const clap::Plugin* p, double rate, uint32_t, uint32_t) { return of(p)->activate(rate); },
                     [](const clap::Plugin* p) { of(p)->deactivate(); },
                     [](const clap::Plugin* p) { return of(p)->startProcessing(); },
                     [](const clap::Plugin*) {},
                     [](const clap::Plugin* p) { of(p)->reset(); },
                     [](const clap::Plugin* p, const clap::Process* process) {
                         return process ? of(p)->process(*process) : int32_t{clap::kProcessError};
                     },
                     [](const clap::Plugin* p, const char* id) { return of(p)->extension(id); },
                     [](const clap::Plugin* p) { of(p)->onMainThread(); }};
    link.setEditor(&editorPanel);
}

TolvaneClap::~TolvaneClap() {
    stopEditorIdle();
    // The editor goes before everything it points to.
    link.setEditor(nullptr);
    editorPanel.close();
}

const void* TolvaneClap::hostExtension(const char* id) const {
    return host && host->getExtension ? host->getExtension(host, id) : nullptr;
}

bool TolvaneClap::init() {
    threadCheck = static_cast<const clap::HostThreadCheck*>(hostExtension(clap::kExtThreadCheck));
    hostLog = static_cast<const clap::HostLog*>(hostExtension(clap::kExtLog));
    checkMainThread("init");
    hostParams = static_cast<const clap::HostParams*>(hostExtension(clap::kExtParams));
    hostState = static_cast<const clap::HostState*>(hostExtension(clap::kExtState));
    hostGui = static_cast<const clap::HostGui*>(hostExtension(clap::kExtGui));
    hostTimers = static_cast<const clap::HostTimerSupport*>(hostExtension(clap::kExtTimerSupport));
    hostFds = static_cast<const clap::HostPosixFdSupport*>(hostExtension(clap::kExtPosixFdSupport));
    hostPresetLoad = static_cast<const clap::HostPresetLoad*>(hostExtension(clap::kExtPresetLoad));
    if (!hostPresetLoad)
        hostPresetLoad = static_cast<const clap::HostPresetLoad*>(hostExtension(clap::kExtPresetLoadDraft));
    return true;
}

bool TolvaneClap::activate(double rate) {
    checkMainThread("activate");
    if (!(rate > 0.0) || !std::isfinite(rate)) return false;
    sampleRate = static_cast<float>(rate);
    engine.setSampleRate(sampleRate);
    active.store(true);
    return true;
}

void TolvaneClap::deactivate() {
    checkMainThread("deactivate");
    active.store(false);
    engine.suspend();
}

bool TolvaneClap::startProcessing() {
    checkAudioThread("start_processing");
    return true;
}

void TolvaneClap::report(const char* what) {
    if (!hostLog || reported.exchange(true)) return;
    char message[160];
    std::snprintf(message, sizeof message, "Tolvane: %s called on the wrong thread", what);
    hostLog->log(host, clap::kLogHostMisbehaving, message);
}

bool TolvaneClap::checkMainThread(const char* call) {
    if (!threadCheck || threadCheck->isMainThread(host)) return true;
    report(call);
    return false;
}

bool TolvaneClap::checkAudioThread(const char* call) {
    if (!threadCheck || threadCheck->isAudioThread(host)) return true;
    report(call);
    return false;
}

// --- audio ------------------------------------------------------------------------------

int32_t TolvaneClap::process(const clap::Process& p) {
    const uint32_t frames = p.framesCount;
    notices.drain(p.outEvents, 0, engine);
    TolvaneEngine::Audio audio{};
    if (p.audioInputsCount > 0 && p.audioOutputsCount > 0 && p.audioInputs && p.audioOutputs) {
        const clap::AudioBuffer& in = p.audioInputs[0];
        const clap::AudioBuffer& out = p.audioOutputs[0];
        if (in.data32 && out.data32 && in.channelCount > 0 && out.channelCount > 0) {
            if (mono) audio = {true, in.data32[0], nullptr, out.data32[0], nullptr};
            else
                audio = {false, in.data32[0], in.data32[in.channelCount > 1 ? 1 : 0], out.data32[0],
                         out.channelCount > 1 ? out.data32[1] : nullptr};
        }
        // The side-chain port, where the host gives it buffers: one channel feeds both.
        const clap::AudioBuffer* key = p.audioInputsCount > 1 ? &p.audioInputs[1] : nullptr;
        if (key && key->data32 && key->channelCount > 0) {
            audio.keyLeft = key->data32[0];
            audio.keyRight = key->channelCount > 1 && !mono ? key->data32[1] : nullptr;
        }
    }
    {
        TolvaneEngine::Block block(engine, audio, frames);
        applyEvents(block, p.inEvents, p.outEvents, frames);
    }
    scheduleBindingsWrite(frames);
    return clap::kProcessContinue;
}

void TolvaneClap::applyEvents(TolvaneEngine::Block& block, const clap::InputEvents* in, const clap::OutputEvents* out,
                              uint32_t frames) {
    if (!in) return;
    const uint32_t count = in->size(in);
    for (uint32_t i = 0; i < count; ++i) {
        const clap::EventHeader* event = in->get(in, i);
        if (!event || event->spaceId != clap::kCoreEventSpace) continue;
        if (event->type == clap::kEventParamValue && event->size >= sizeof(clap::EventParamValue)) {
            const auto* change = reinterpret_cast<const clap::EventParamValue*>(event);
            const auto index = static_cast<int32_t>(change->paramId);
            if (!hasParameter(index) || !std::isfinite(change->value)) continue;
            // The range the host was told; a state keeps only values inside it.
            const auto value = static_cast<float>(std::clamp(change->value, 0.0, 1.0));
            block.add(TolvaneEngine::Event::parameter(event->time, index, value));
        } else if (event->type == clap::kEventMidi && event->size >= sizeof(clap::EventMidi)) {
            const auto* midi = reinterpret_cast<const clap::EventMidi*>(event);
            float before[tolvane::kSideChainParameterCount];
            for (int32_t p = 0; p < engine.parameterCount(); ++p) before[p] = engine.getParameter(p);
            block.add(TolvaneEngine::Event::midi(event->time, midi->data, sizeof midi->data));
            // What a bound controller set: the host shows it, and keeps its automation apart.
            const uint32_t at = frames == 0 ? 0 : std::min(event->time, frames - 1);
            for (int32_t p = 0; p < engine.parameterCount(); ++p) {
                const float after = engine.getParameter(p);
                if (after != before[p]) pushValue(out, at, p, after, clap::kEventDontRecord);
            }
        }
    }
}

void TolvaneClap::flush(const clap::InputEvents* in, const clap::OutputEvents* out) {
    const bool isActive = active.load();
    if (isActive) checkAudioThread("params.flush");
    else checkMainThread("params.flush");
    notices.drain(out, 0, engine);
    {
        TolvaneEngine::Block now(engine, TolvaneEngine::Audio{}, 0);
        applyEvents(now, in, out, 0);
    }
    // A learn completed here is written at once on the main thread.
    if (isActive) scheduleBindingsWrite(0);
    else engine.writePendingAssignments();
}

void TolvaneClap::scheduleBindingsWrite(uint32_t frames) {
    if (writeFailed.exchange(false)) framesUntilRetry = static_cast<uint64_t>(sampleRate);
    if (framesUntilRetry > 0) {
        framesUntilRetry -= std::min<uint64_t>(frames, framesUntilRetry);
        return;
    }
    if (callbackRequested.load() || !engine.getControllerAssignments().hasPendingWrite()) return;
    callbackRequested.store(true);
    host->requestCallback(host);
}

void TolvaneClap::onMainThread() {
    checkMainThread("on_main_thread");
    // A busy lock or a failed write waits about a second before the next try.
    if (!engine.getControllerAssignments().writePending()) writeFailed.store(true);
    callbackRequested.store(false);
}

void TolvaneClap::askHostForFlush() {
    if (hostParams) hostParams->requestFlush(host);
}

// --- ports ------------------------------------------------------------------------------

// The main signal in and out, and the side-chain key in: as many channels as the main signal.
uint32_t TolvaneClap::audioPortCount(bool isInput) const { return isInput ? 2 : 1; }

bool TolvaneClap::audioPort(uint32_t index, bool isInput, clap::AudioPortInfo& info) const {
    if (index >= audioPortCount(isInput)) return false;
    const bool key = index == 1;
    info = {};
    info.id = index;
    copyText(info.name, key ? "Side-chain" : isInput ? "Input" : "Output", sizeof info.name);
    info.flags = key ? 0u : uint32_t{clap::kAudioPortIsMain};
    info.channelCount = mono ? 1 : 2;
    info.portType = mono ? clap::kPortMono : clap::kPortStereo;
    info.inPlacePair = key ? clap::kInvalidId : 0;
    return true;
}

uint32_t TolvaneClap::notePortCount(bool isInput) const { return isInput ? 1 : 0; }

bool TolvaneClap::notePort(uint32_t index, bool isInput, clap::NotePortInfo& info) const {
    if (index != 0 || !isInput) return false;
    info = {};
    info.id = 0;
    info.supportedDialects = clap::kNoteDialectMidi;
    info.preferredDialect = clap::kNoteDialectMidi;
    copyText(info.name, "MIDI In", sizeof info.name);
    return true;
}

// --- parameters --------------------------------------------------------------------------

bool TolvaneClap::parameterInfo(uint32_t index, clap::ParamInfo& info) {
    checkMainThread("params.get_info");
    const auto i = static_cast<int32_t>(index);
    if (!hasParameter(i)) return false;
    info = {};
    info.id = index;
    info.flags = clap::kParamIsAutomatable | (i == tolvane::kKey ? uint32_t{clap::kParamIsStepped} : 0u);
    engine.getParameterName(i, info.name, clap::kNameSize - 1);
    info.minValue = 0.0;
    info.maxValue = 1.0;
    info.defaultValue = tolvaneFactoryValue(0, static_cast<int32_t>(i));
    return true;
}

bool TolvaneClap::parameterValue(uint32_t id, double& value) {
    checkMainThread("params.get_value");
    const auto i = static_cast<int32_t>(id);
    if (!hasParameter(i)) return false;
    value = engine.getParameter(i);
    return true;
}

bool TolvaneClap::valueToText(uint32_t id, double value, char* text, uint32_t capacity) {
    checkMainThread("params.value_to_text");
    const auto i = static_cast<int32_t>(id);
    if (!hasParameter(i) || !text || capacity == 0 || !std::isfinite(value)) return false;
    // The display and its unit, as a VST 2.4 host shows them side by side.
    char display[kKeyDisplayLength + 1] = {}, label[kDisplayLength + 1] = {};
    engine.getParameterDisplay(i, static_cast<float>(std::clamp(value, 0.0, 1.0)), display,
                               i == tolvane::kKey ? kKeyDisplayLength : kDisplayLength);
    engine.getParameterLabel(i, label, kDisplayLength);
    // Without the padding that lines texts up in a VST 2.4 host's columns.
    const char* shown = display + std::strspn(display, " ");
    char whole[kKeyDisplayLength + kDisplayLength + 2];
    const bool hasUnit = label[0] != '\0' && label[0] != ' ';
    std::snprintf(whole, sizeof whole, hasUnit ? "%s %s" : "%s", shown, label);
    copyText(text, whole, capacity);
    return true;
}

bool TolvaneClap::textToValue(uint32_t id, const char* text, double& value) {
    checkMainThread("params.text_to_value");
    float normalized = 0.0f;
    if (!engine.normalizedFromText(static_cast<int32_t>(id), text, normalized)) return false;
    value = normalized;
    return true;
}

void TolvaneClap::tellHostValuesChanged() {
    if (hostParams) hostParams->rescan(host, clap::kParamRescanValues);
}

// --- state and presets ----------------------------------------------------------------------

bool TolvaneClap::save(const clap::OutputStream& stream) {
    checkMainThread("state.save");
    State state;
    state.program = engine.getProgram();
    for (int32_t i = 0; i < engine.parameterCount(); ++i) state.values[i] = engine.getParameter(i);
    for (int32_t p = 0; p < kTolvaneProgramCount; ++p) engine.getProgramNameIndexed(p, state.names[p]);
    const auto bytes = writeState(state);
    for (size_t done = 0; done < bytes.size();) {
        const int64_t n = stream.write(&stream, bytes.data() + done, bytes.size() - done);
        if (n <= 0 || static_cast<uint64_t>(n) > bytes.size() - done) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool TolvaneClap::load(const clap::InputStream& stream) {
    checkMainThread("state.load");
    // One byte more than a state, to tell a state from a longer stream.
    uint8_t bytes[kStateSize + 1];
    size_t size = 0;
    while (size < sizeof bytes) {
        const int64_t n = stream.read(&stream, bytes + size, sizeof bytes - size);
        if (n < 0 || static_cast<uint64_t>(n) > sizeof bytes - size) return false;
        if (n == 0) break;
        size += static_cast<size_t>(n);
    }
    const std::optional<State> state = readState(bytes, size);
    if (!state) return false;
    // The host that asked for the load reads the values itself; a rescan from
    // inside the load would count as an edit (Qtractor marks a session it is
    // opening as modified).
    applyState(*state);
    return true;
}

void TolvaneClap::applyState(const State& state) {
    for (int32_t p = 0; p < kTolvaneProgramCount; ++p) engine.setProgramNameIndexed(p, state.names[p]);
    if (engine.getProgram() != state.program) engine.setProgram(state.program);
    for (int32_t i = 0; i < engine.parameterCount(); ++i) engine.setParameter(i, state.values[i]);
}

bool TolvaneClap::loadPreset(uint32_t kind, const char* location, const char* key) {
    checkMainThread("preset_load.from_location");
    const bool known = kind == clap::kPresetLocationPlugin && key && key[0] >= '0' &&
                       key[0] < '0' + kTolvaneProgramCount && key[1] == '\0';
    if (!known) {
        if (hostPresetLoad) hostPresetLoad->onError(host, kind, location, key, 0, "Tolvane has no such preset");
        return false;
    }
    // The factory's values, whatever this instance's program was edited to.
    const int32_t program = key[0] - '0';
    engine.setProgram(program);
    for (int32_t i = 0; i < engine.parameterCount(); ++i) engine.setParameter(i, tolvaneFactoryValue(program, i));
    tellHostValuesChanged();
    if (hostPresetLoad) hostPresetLoad->loaded(host, kind, location, key);
    if (hostState) hostState->markDirty(host);
    return true;
}

// --- the editor --------------------------------------------------------------------------

bool TolvaneClap::guiApiSupported(const char* api, bool floating) const {
    return !floating && api && std::strcmp(api, kWindowApi) == 0;
}

bool TolvaneClap::guiCreate(const char* api, bool floating) {
    checkMainThread("gui.create");
    if (!guiApiSupported(api, floating)) return false;
    guiCreated = true;
    return true;
}

void TolvaneClap::guiDestroy() {
    checkMainThread("gui.destroy");
    stopEditorIdle();
    editorPanel.close();
    guiCreated = false;
}

bool TolvaneClap::guiSetScale(double scale) {
    checkMainThread("gui.set_scale");
    editorPanel.setHostScale(scale);
    watchEditorDescriptor();  // an open editor may have reopened at the new size
    return editor_scale::nearest(scale) != 0;
}

bool TolvaneClap::guiGetSize(uint32_t& width, uint32_t& height) const {
    width = static_cast<uint32_t>(editorPanel.getWidth());
    height = static_cast<uint32_t>(editorPanel.getHeight());
    return true;
}

bool TolvaneClap::guiSetSize(uint32_t width, uint32_t height) const {
    return width == static_cast<uint32_t>(editorPanel.getWidth()) &&
           height == static_cast<uint32_t>(editorPanel.getHeight());
}

bool TolvaneClap::guiSetParent(const clap::Window* window) {
    checkMainThread("gui.set_parent");
    if (!guiCreated || !window || !window->api || std::strcmp(window->api, kWindowApi) != 0) return false;
#if defined(_WIN32)
    void* parent = window->win32;
#else
    void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window->x11));
#endif
    try {
        if (!editorPanel.open(parent)) return false;
    } catch (...) {
        return false;
    }
    if (timerId == clap::kInvalidId && hostTimers) {
        uint32_t id = clap::kInvalidId;
        if (hostTimers->registerTimer(host, kIdlePeriodMs, &id)) timerId = id;
    }
#if defined(_WIN32)
    if (timerId == clap::kInvalidId && windowsTimer == 0) {
        windowsTimer = SetTimer(nullptr, 0, kIdlePeriodMs, onWindowsTimer);
        if (windowsTimer != 0) windowsTimers().emplace_back(windowsTimer, this);
    }
#endif
    watchEditorDescriptor();
    return true;
}

void TolvaneClap::onTimer(uint32_t timer) {
    checkMainThread("timer_support.on_timer");
    if (timer == timerId
#if defined(_WIN32)
        || (timer == clap::kInvalidId && windowsTimer != 0)
#endif
    )
        idleEditor();
}

void TolvaneClap::onFd(int fd) {
    checkMainThread("posix_fd_support.on_fd");
    if (fd >= 0 && fd == watchedFd) idleEditor();
}

void TolvaneClap::idleEditor() {
    editorPanel.idle();
    // Whatever a learn left to write, if the host's callback has not come yet.
    engine.writePendingAssignments();
    watchEditorDescriptor();
}

void TolvaneClap::watchEditorDescriptor() {
    if (!hostFds) return;
    const int fd = editorPanel.isOpen() ? editorPanel.eventDescriptor() : -1;
    const void* window = editorPanel.isOpen() ? editorPanel.getFrame() : nullptr;
    // A reopened editor has a new connection, which may reuse the old number.
    if (fd == watchedFd && window == watchedWindow) return;
    if (watchedFd >= 0) hostFds->unregisterFd(host, watchedFd);
    watchedFd = -1;
    watchedWindow = nullptr;
    if (fd >= 0 && hostFds->registerFd(host, fd, clap::kFdRead | clap::kFdError)) {
        watchedFd = fd;
        watchedWindow = window;
    }
}

void TolvaneClap::stopEditorIdle() {
    if (timerId != clap::kInvalidId && hostTimers) hostTimers->unregisterTimer(host, timerId);
    timerId = clap::kInvalidId;
    if (watchedFd >= 0 && hostFds) hostFds->unregisterFd(host, watchedFd);
    watchedFd = -1;
    watchedWindow = nullptr;
#if defined(_WIN32)
    if (windowsTimer != 0) {
        KillTimer(nullptr, windowsTimer);
        auto& timers = windowsTimers();
        timers.erase(std::remove_if(timers.begin(), timers.end(), [&](const auto& t) { return t.second == this; }),
                     timers.end());
        windowsTimer = 0;
    }
#endif
}

// --- the C interface -----------------------------------------------------------------------

namespace {

TolvaneClap* self(const clap::Plugin* plugin) { return TolvaneClap::of(plugin); }

const clap::PluginAudioPorts audioPorts{
    [](const clap::Plugin* p, bool isInput) {
        self(p)->checkMainThread("audio_ports.count");
        return self(p)->audioPortCount(isInput);
    },
    [](const clap::Plugin* p, uint32_t index, bool isInput, clap::AudioPortInfo* info) {
        self(p)->checkMainThread("audio_ports.get");
        return info && self(p)->audioPort(index, isInput, *info);
    }};

const clap::PluginNotePorts notePorts{
    [](const clap::Plugin* p, bool isInput) {
        self(p)->checkMainThread("note_ports.count");
        return self(p)->notePortCount(isInput);
    },
    [](const clap::Plugin* p, uint32_t index, bool isInput, clap::NotePortInfo* info) {
        self(p)->checkMainThread("note_ports.get");
        return info && self(p)->notePort(index, isInput, *info);
    }};

const clap::PluginParams params{
    [](const clap::Plugin* p) {
        self(p)->checkMainThread("params.count");
        return static_cast<uint32_t>(self(p)->getEngine().parameterCount());
    },
    [](const clap::Plugin* p, uint32_t index, clap::ParamInfo* info) {
        return info && self(p)->parameterInfo(index, *info);
    },
    [](const clap::Plugin* p, uint32_t id, double* value) { return value && self(p)->parameterValue(id, *value); },
    [](const clap::Plugin* p, uint32_t id, double value, char* text, uint32_t capacity) {
        return self(p)->valueToText(id, value, text, capacity);
    },
    [](const clap::Plugin* p, uint32_t id, const char* text, double* value) {
        return value && self(p)->textToValue(id, text, *value);
    },
    [](const clap::Plugin* p, const clap::InputEvents* in, const clap::OutputEvents* out) { self(p)->flush(in, out); }};

const clap::PluginState state{
    [](const clap::Plugin* p, const clap::OutputStream* stream) { return stream && self(p)->save(*stream); },
    [](const clap::Plugin* p, const clap::InputStream* stream) { return stream && self(p)->load(*stream); }};

const clap::PluginLatency latency{[](const clap::Plugin* p) {
    self(p)->checkMainThread("latency.get");
    return 0u;
}};

const clap::PluginGui gui{
    [](const clap::Plugin* p, const char* api, bool floating) { return self(p)->guiApiSupported(api, floating); },
    [](const clap::Plugin*, const char** api, bool* floating) {
        if (!api || !floating) return false;
        *api = kWindowApi;
        *floating = false;
        return true;
    },
    [](const clap::Plugin* p, const char* api, bool floating) { return self(p)->guiCreate(api, floating); },
    [](const clap::Plugin* p) { self(p)->guiDestroy(); },
    [](const clap::Plugin* p, double scale) { return self(p)->guiSetScale(scale); },
    [](const clap::Plugin* p, uint32_t* width, uint32_t* height) {
        return width && height && self(p)->guiGetSize(*width, *height);
    },
    [](const clap::Plugin*) { return false; },
    // Hints there are: the window cannot be resized by dragging.
    [](const clap::Plugin*, clap::GuiResizeHints* hints) {
        if (!hints) return false;
        *hints = {false, false, false, 0, 0};
        return true;
    },
    // One fixed size per scale: whatever the host proposes becomes the current one.
    [](const clap::Plugin* p, uint32_t* width, uint32_t* height) {
        return width && height && self(p)->guiGetSize(*width, *height);
    },
    [](const clap::Plugin* p, uint32_t width, uint32_t height) { return self(p)->guiSetSize(width, height); },
    [](const clap::Plugin* p, const clap::Window* window) { return self(p)->guiSetParent(window); },
    [](const clap::Plugin*, const clap::Window*) { return false; }, [](const clap::Plugin*, const char*) {},
    [](const clap::Plugin*) { return true; }, [](const clap::Plugin*) { return true; }};

const clap::PluginTimerSupport timerSupport{[](const clap::Plugin* p, uint32_t timer) { self(p)->onTimer(timer); }};

#if !defined(_WIN32)
const clap::PluginPosixFdSupport fdSupport{[](const clap::Plugin* p, int fd, uint32_t) { self(p)->onFd(fd); }};
#endif

const clap::PluginPresetLoad presetLoad{[](const clap::Plugin* p, uint32_t kind, const char* location,
                                           const char* key) { return self(p)->loadPreset(kind, location, key); }};

}  // namespace

const void* TolvaneClap::extension(const char* id) const {
    if (!id) return nullptr;
    const struct {
        const char* id;
        const void* table;
    } extensions[] = {
        {clap::kExtAudioPorts, &audioPorts},
        {clap::kExtNotePorts, &notePorts},
        {clap::kExtParams, &params},
        {clap::kExtState, &state},
        {clap::kExtLatency, &latency},
        {clap::kExtGui, &gui},
        {clap::kExtTimerSupport, &timerSupport},
#if !defined(_WIN32)
        {clap::kExtPosixFdSupport, &fdSupport},
#endif
        {clap::kExtPresetLoad, &presetLoad},
        {clap::kExtPresetLoadDraft, &presetLoad},
    };
    for (const auto& e : extensions)
        if (std::strcmp(id, e.id) == 0) return e.table;
    return nullptr;
}

}  // namespace tolvane_clap
