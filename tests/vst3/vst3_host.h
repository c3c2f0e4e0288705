// A small VST3 host for the tests: it loads the bundle's binary as a host
// does (or takes the factory of the adapter linked into the test), creates
// the plug-in, sets it up for mono or stereo (with a key when asked), hands
// it parameter changes at frames, collects what it reports back, keeps its state in memory streams
// and gives its view a frame with a run loop.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "Vst3Interfaces.h"
#include "Vst3Text.h"
#include "support/signal.h"

namespace vst3host {

using namespace vst3;

// Objects the test owns: reference counts play no part.
#define VST3HOST_UNCOUNTED                            \
    uint32_t VST3_API addRef() override { return 1; } \
    uint32_t VST3_API release() override { return 1; }

// The binary of a bundle, loaded and entered; or the adapter linked in.
class Module {
public:
    explicit Module(const std::string& path) {
#if defined(_WIN32)
        handle = LoadLibraryA(path.c_str());
        auto find = [this](const char* name) {
            return handle ? (void*)GetProcAddress((HMODULE)handle, name) : nullptr;
        };
        if (auto enter = reinterpret_cast<bool(VST3_API*)()>(find("InitDll"))) entered = enter();
        exit = find("ExitDll");
#else
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        auto find = [this](const char* name) { return handle ? dlsym(handle, name) : nullptr; };
        if (auto enter = reinterpret_cast<bool (*)(void*)>(find("ModuleEntry"))) entered = enter(handle);
        exit = find("ModuleExit");
#endif
        if (auto get = reinterpret_cast<GetFactoryProc>(find("GetPluginFactory"))) factory = get();
    }
    explicit Module(IPluginFactory* linkedIn) : factory(linkedIn), entered(true) {}
    ~Module() {
        if (!handle) return;
#if defined(_WIN32)
        if (exit) reinterpret_cast<bool(VST3_API*)()>(exit)();
        FreeLibrary((HMODULE)handle);
#else
        if (exit) reinterpret_cast<bool (*)()>(exit)();
        dlclose(handle);
#endif
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    IPluginFactory* factory = nullptr;
    bool entered = false;

private:
    void* handle = nullptr;
    void* exit = nullptr;
};

class MemoryStream : public IBStream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<uint8_t> content) : bytes(std::move(content)) {}
    tresult VST3_API queryInterface(const char*, void**) override { return kNoInterface; }
    VST3HOST_UNCOUNTED
    tresult VST3_API read(void* buffer, int32_t size, int32_t* done) override {
        // At most `chunk` bytes a call, as some hosts' streams deliver.
        const auto n = static_cast<int32_t>(std::min<size_t>({size_t(std::max(size, 0)), bytes.size() - at, chunk}));
        if (n > 0) std::memcpy(buffer, bytes.data() + at, static_cast<size_t>(n));  // an empty vector has no data()
        at += static_cast<size_t>(n);
        if (done) *done = n;
        return kResultOk;
    }
    tresult VST3_API write(void* buffer, int32_t size, int32_t* done) override {
        const auto* b = static_cast<const uint8_t*>(buffer);
        bytes.resize(std::max(bytes.size(), at + size_t(size)));
        std::copy(b, b + size, bytes.begin() + static_cast<std::ptrdiff_t>(at));
        at += size_t(size);
        if (done) *done = size;
        return kResultOk;
    }
    tresult VST3_API seek(int64_t position, int32_t mode, int64_t* result) override {
        const int64_t base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? int64_t(at) : int64_t(bytes.size());
        if (base + position < 0) return kInvalidArgument;
        at = size_t(base + position);
        if (result) *result = int64_t(at);
        return kResultOk;
    }
    tresult VST3_API tell(int64_t* position) override {
        if (position) *position = int64_t(at);
        return kResultOk;
    }
    void rewind() { at = 0; }

    std::vector<uint8_t> bytes;
    size_t at = 0;
    size_t chunk = SIZE_MAX;
};

class ParameterChanges : public IParameterChanges {
public:
    struct Queue : IParamValueQueue {
        ParamID id = 0;
        std::vector<std::pair<int32_t, double>> points;
        tresult VST3_API queryInterface(const char*, void**) override { return kNoInterface; }
        VST3HOST_UNCOUNTED
        ParamID VST3_API getParameterId() override { return id; }
        int32_t VST3_API getPointCount() override { return int32_t(points.size()); }
        tresult VST3_API getPoint(int32_t i, int32_t& offset, ParamValue& value) override {
            if (i < 0 || i >= getPointCount()) return kInvalidArgument;
            std::tie(offset, value) = points[size_t(i)];
            return kResultOk;
        }
        tresult VST3_API addPoint(int32_t offset, ParamValue value, int32_t& index) override {
            index = getPointCount();
            points.emplace_back(offset, value);
            return kResultOk;
        }
    };
    ParameterChanges() { queues.reserve(512); }  // stable addresses while the plug-in holds them
    tresult VST3_API queryInterface(const char*, void**) override { return kNoInterface; }
    VST3HOST_UNCOUNTED
    int32_t VST3_API getParameterCount() override { return int32_t(queues.size()); }
    IParamValueQueue* VST3_API getParameterData(int32_t i) override {
        return i >= 0 && i < getParameterCount() ? &queues[size_t(i)] : nullptr;
    }
    IParamValueQueue* VST3_API addParameterData(const ParamID& id, int32_t& index) override {
        for (size_t i = 0; i < queues.size(); ++i)
            if (queues[i].id == id) return index = int32_t(i), &queues[i];
        index = getParameterCount();
        queues.emplace_back();
        queues.back().id = id;
        return &queues.back();
    }
    void add(ParamID id, int32_t offset, double value) {
        int32_t ignored;
        addParameterData(id, ignored)->addPoint(offset, value, ignored);
    }
    // Every point, as (id, offset, value).
    std::vector<std::tuple<ParamID, int32_t, double>> all() const {
        std::vector<std::tuple<ParamID, int32_t, double>> out;
        for (const Queue& q : queues)
            for (const auto& [offset, value] : q.points) out.emplace_back(q.id, offset, value);
        return out;
    }
    std::vector<Queue> queues;
};

// The host's side of the controller: edits and restarts, recorded; edits also
// reach the next block, as a host forwards them.
class Handler : public IComponentHandler {
public:
    tresult VST3_API queryInterface(const char*, void**) override { return kNoInterface; }
    VST3HOST_UNCOUNTED
    tresult VST3_API beginEdit(ParamID id) override { return log.push_back("begin " + std::to_string(id)), kResultOk; }
    tresult VST3_API performEdit(ParamID id, ParamValue value) override {
        edits.emplace_back(id, value);
        if (forward) forward->add(id, 0, value);
        return kResultOk;
    }
    tresult VST3_API endEdit(ParamID id) override { return log.push_back("end " + std::to_string(id)), kResultOk; }
    tresult VST3_API restartComponent(int32_t flags) override { return restarts.push_back(flags), kResultOk; }
    std::vector<std::string> log;
    std::vector<std::pair<ParamID, ParamValue>> edits;
    std::vector<int32_t> restarts;
    ParameterChanges* forward = nullptr;
};

template <class I>
I* query(FUnknown* object) {
    void* found = nullptr;
    if (!object || object->queryInterface(I::iid.bytes, &found) != kResultOk) return nullptr;
    object->release();  // the tests hold the object through its first interface
    return static_cast<I*>(found);
}

// One plug-in instance, set up and processing.
class Instance {
public:
    explicit Instance(Module& module, int32_t channelCount = 2, double rate = 44100.0, int32_t maxBlock = 4096)
        : channels(channelCount) {
        PClassInfo info{};
        if (!module.factory || module.factory->getClassInfo(0, &info) != kResultOk) return;
        void* object = nullptr;
        if (module.factory->createInstance(info.cid, IComponent::iid.bytes, &object) != kResultOk) return;
        component = static_cast<IComponent*>(object);
        processor = query<IAudioProcessor>(component);
        controller = query<IEditController>(component);
        if (!processor || !controller) return;
        component->initialize(nullptr);
        controller->initialize(nullptr);
        controller->setComponentHandler(&handler);
        handler.forward = &changes;
        SpeakerArrangement arrangement = channels == 1 ? kMono : kStereo;
        arranged = processor->setBusArrangements(&arrangement, 1, &arrangement, 1) == kResultTrue;
        ProcessSetup setup{kRealtime, kSample32, maxBlock, rate};
        processor->setupProcessing(setup);
        component->setActive(true);
        processor->setProcessing(true);
    }
    ~Instance() {
        if (!component) return;
        if (processor) {
            processor->setProcessing(false);
            component->setActive(false);
        }
        if (controller) controller->setComponentHandler(nullptr);
        component->terminate();
        component->release();
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    explicit operator bool() const { return component && processor && controller; }
    // Routes a key of 1 or 2 channels to the side-chain bus; process() then hands it `key`.
    bool activateKey(int32_t keyChannels) {
        SpeakerArrangement in[2] = {channels == 1 ? kMono : kStereo, keyChannels == 1 ? kMono : kStereo};
        keyBus.numChannels = keyChannels;
        return processor->setBusArrangements(in, 2, in, 1) == kResultTrue &&
               component->activateBus(kAudio, kInput, 1, true) == kResultOk;
    }
    template <class I>
    I* as() {
        void* found = nullptr;
        return component->queryInterface(I::iid.bytes, &found) == kResultOk
                   ? (component->release(), static_cast<I*>(found))
                   : nullptr;
    }

    // One block; `changes` go with it and are cleared, what the plug-in
    // reported lands in `reported`. Mono uses the left buffers.
    void process(const float* inL, const float* inR, float* outL, float* outR, int32_t frames) {
        ParameterChanges block = std::move(changes);
        changes = ParameterChanges();
        reported = ParameterChanges();
        process(inL, inR, outL, outR, frames, block, reported);
    }
    // The same with changes of the caller's own (from a thread of its own).
    void process(const float* inL, const float* inR, float* outL, float* outR, int32_t frames, ParameterChanges& in,
                 ParameterChanges& out) {
        const float* ins[2] = {inL, inR};
        float* outs[2] = {outL, outR};
        AudioBusBuffers inBus{}, outBus{};
        inBus.numChannels = outBus.numChannels = channels;
        inBus.channelBuffers32 = const_cast<float**>(ins);
        outBus.channelBuffers32 = outs;
        ProcessData data{};
        data.processMode = kRealtime;
        data.symbolicSampleSize = kSample32;
        data.numSamples = frames;
        AudioBusBuffers buses[2] = {inBus, keyBus};
        buses[1].channelBuffers32 = const_cast<float**>(key);
        data.numInputs = key[0] ? 2 : 1;
        data.numOutputs = 1;
        data.inputs = buses;
        data.outputs = &outBus;
        data.inputParameterChanges = &in;
        data.outputParameterChanges = &out;
        processor->process(data);
    }

    // Empty when the plug-in wrote nothing.
    std::vector<uint8_t> state(bool ofController = false) {
        MemoryStream stream;
        if ((ofController ? controller->getState(&stream) : component->getState(&stream)) != kResultOk) return {};
        return stream.bytes;
    }
    tresult setState(const std::vector<uint8_t>& bytes, bool ofController = false) {
        MemoryStream stream(bytes);
        return ofController ? controller->setState(&stream) : component->setState(&stream);
    }
    std::string text(ParamID id, double value) {
        String128 t{};
        return controller->getParamStringByValue(id, value, t) == kResultOk ? tolvane::vst3text::toUtf8(t, 128)
                                                                            : "(none)";
    }

    const int32_t channels;
    IComponent* component = nullptr;
    IAudioProcessor* processor = nullptr;
    IEditController* controller = nullptr;
    bool arranged = false;
    AudioBusBuffers keyBus{};
    const float* key[2] = {nullptr, nullptr};  // for the next blocks, when not null
    Handler handler;
    ParameterChanges changes;   // for the next block
    ParameterChanges reported;  // by the last block
};

// The host's window around a view: a resize asked of it is answered with
// onSize when accepted; on Linux its run loop, whose timers idle() fires (on
// Windows idle() runs the thread's messages, which carry the view's timer).
class Frame : public IPlugFrame
#if !defined(_WIN32)
    ,
              public IRunLoop
#endif
{
public:
    tresult VST3_API queryInterface(const char* iid, void** object) override {
#if !defined(_WIN32)
        if (IRunLoop::iid == iid) return *object = static_cast<IRunLoop*>(this), kResultOk;
#endif
        *object = nullptr;
        return (void)iid, kNoInterface;
    }
    VST3HOST_UNCOUNTED
    tresult VST3_API resizeView(IPlugView* view, ViewRect* size) override {
        resizes.push_back(*size);
        return accept && view->onSize(size) == kResultTrue ? kResultTrue : kResultFalse;
    }
    void idle() {
#if defined(_WIN32)
        for (DWORD until = GetTickCount() + 100; GetTickCount() < until; Sleep(5)) {
            MSG m;
            while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        }
#else
        for (ITimerHandler* t : std::vector<ITimerHandler*>(timers)) t->onTimer();
#endif
    }
#if !defined(_WIN32)
    tresult VST3_API registerEventHandler(IEventHandler* handler, int fd) override {
        return handlers.emplace_back(handler, fd), kResultTrue;
    }
    tresult VST3_API unregisterEventHandler(IEventHandler* handler) override {
        return std::erase_if(handlers, [&](const auto& h) { return h.first == handler; }), kResultTrue;
    }
    tresult VST3_API registerTimer(ITimerHandler* handler, uint64_t ms) override {
        return timers.push_back(handler), interval = ms, kResultTrue;
    }
    tresult VST3_API unregisterTimer(ITimerHandler* handler) override {
        return std::erase(timers, handler), kResultTrue;
    }
    std::vector<std::pair<IEventHandler*, int>> handlers;
    std::vector<ITimerHandler*> timers;
    uint64_t interval = 0;
#endif
    bool accept = true;
    std::vector<ViewRect> resizes;
};

// Runs the signal through the instance in blocks, with a key of the same
// length if given; before each block, `atBlock(start)` may add changes to it.
inline Signal render(Instance& plugin, const Signal& in, size_t block,
                     const std::function<void(size_t)>& atBlock = nullptr, const Signal* key = nullptr) {
    const size_t frames = in.frames();
    const auto c = size_t(in.channels);
    std::vector<float> l(frames), r(frames), ol(frames), orr(frames);
    for (size_t n = 0; n < frames; ++n) l[n] = in.samples[n * c], r[n] = in.samples[n * c + c - 1];
    std::vector<float> kl(key ? frames : 0), kr(kl.size());
    for (size_t n = 0; n < kl.size(); ++n)
        kl[n] = key->samples[n * size_t(key->channels)], kr[n] = key->samples[(n + 1) * size_t(key->channels) - 1];
    for (size_t start = 0; start < frames; start += block) {
        if (atBlock) atBlock(start);
        const auto count = int32_t(std::min(block, frames - start));
        if (key) plugin.key[0] = kl.data() + start, plugin.key[1] = kr.data() + start;
        plugin.process(l.data() + start, r.data() + start, ol.data() + start, orr.data() + start, count);
    }
    Signal out{in.channels, std::vector<float>(in.samples.size())};
    for (size_t n = 0; n < frames; ++n) {
        out.samples[n * c] = ol[n];
        if (c == 2) out.samples[n * 2 + 1] = orr[n];
    }
    return out;
}

}  // namespace vst3host
