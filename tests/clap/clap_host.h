// A CLAP host of our own for the tests. It loads Tolvane.clap as hosts do
// (or takes the adapter linked into the test program, for the headless
// editor), offers the host extensions the plug-in uses and records every call
// the plug-in makes to them, feeds process() and flush() event lists, and
// keeps CLAP's thread rules: the thread that built the host is the main
// thread, and whatever thread runs the audio calls is the audio thread while
// it does. A host function called on a thread the rules forbid is recorded in
// wrongThread.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ClapInterface.h"
#include "support/signal.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

// One event of any kind we send or receive, with room for the largest.
struct ClapEvent {
    union {
        clap::EventHeader header;
        clap::EventParamValue param;
        clap::EventParamGesture gesture;
        clap::EventMidi midi;
    };
    ClapEvent() : param{} {}
    static ClapEvent copy(const clap::EventHeader& h) {
        ClapEvent e;
        std::memcpy(static_cast<void*>(&e), &h, std::min<size_t>(h.size, sizeof e));
        return e;
    }
    static ClapEvent value(uint32_t frame, uint32_t id, double v) {
        ClapEvent e;
        e.param = {
            {sizeof(clap::EventParamValue), frame, 0, clap::kEventParamValue, 0}, id, nullptr, -1, -1, -1, -1, v};
        return e;
    }
    static ClapEvent midiMessage(uint32_t frame, uint8_t status, uint8_t data1, uint8_t data2) {
        ClapEvent e;
        e.midi = {{sizeof(clap::EventMidi), frame, 0, clap::kEventMidi, 0}, 0, {status, data1, data2}};
        return e;
    }
    // For comparisons: type, frame, parameter, value (0 for gestures), flags.
    std::tuple<uint16_t, uint32_t, uint32_t, double, uint32_t> told() const {
        const bool isValue = header.type == clap::kEventParamValue;
        return {header.type, header.time, isValue ? param.paramId : gesture.paramId, isValue ? param.value : 0.0,
                header.flags};
    }
};

// An input list over events, and an output list that collects what the plug-in pushes.
struct ClapEventLists {
    std::vector<ClapEvent> in;
    std::vector<ClapEvent> out;
    clap::InputEvents input{this, [](const clap::InputEvents* l) { return uint32_t(self(l)->in.size()); },
                            [](const clap::InputEvents* l, uint32_t i) -> const clap::EventHeader* {
                                return i < self(l)->in.size() ? &self(l)->in[i].header : nullptr;
                            }};
    clap::OutputEvents output{this, [](const clap::OutputEvents* l, const clap::EventHeader* e) {
                                  static_cast<ClapEventLists*>(l->ctx)->out.push_back(ClapEvent::copy(*e));
                                  return true;
                              }};
    ClapEventLists() { out.reserve(1024); }  // no allocation inside process()
    ClapEventLists(const ClapEventLists&) = delete;

private:
    static ClapEventLists* self(const clap::InputEvents* l) { return static_cast<ClapEventLists*>(l->ctx); }
};

class ClapLibrary {
public:
    // Loads the file and calls its entry's init with the file's path.
    explicit ClapLibrary(const std::string& path) {
#if defined(_WIN32)
        handle = LoadLibraryA(path.c_str());
        if (handle) entry = reinterpret_cast<const clap::PluginEntry*>(GetProcAddress(handle, "clap_entry"));
#else
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) entry = static_cast<const clap::PluginEntry*>(dlsym(handle, "clap_entry"));
#endif
        if (entry && !entry->init(path.c_str())) entry = nullptr;
    }
    // The adapter linked into the test program.
    explicit ClapLibrary(const clap::PluginEntry& linked) : entry(&linked) { entry->init(""); }
    ~ClapLibrary() {
        if (entry) entry->deinit();
#if defined(_WIN32)
        if (handle) FreeLibrary(handle);
#else
        if (handle) dlclose(handle);
#endif
    }
    ClapLibrary(const ClapLibrary&) = delete;

    template <class T>
    const T* factory(const char* id) const {
        return entry ? static_cast<const T*>(entry->getFactory(id)) : nullptr;
    }
    const clap::PluginEntry* entry = nullptr;

private:
#if defined(_WIN32)
    HMODULE handle = nullptr;
#else
    void* handle = nullptr;
#endif
};

class ClapTestHost {
public:
    ClapTestHost() : mainThread(std::this_thread::get_id()) {}
    ClapTestHost(const ClapTestHost&) = delete;

    const clap::Host* get() const { return &host; }
    bool isMain() const { return std::this_thread::get_id() == mainThread; }
    bool isAudio() const { return std::this_thread::get_id() == audioThread.load(); }

    // Marks the calling thread as the audio thread while it lives.
    struct AudioScope {
        ClapTestHost& h;
        std::thread::id previous;
        explicit AudioScope(ClapTestHost& host)
            : h(host),
              previous(host.audioThread.exchange(std::this_thread::get_id())) {}
        ~AudioScope() { h.audioThread.store(previous); }
    };

    // Extensions the host does not offer.
    std::set<std::string> withheld;
    bool acceptResize = true;

    // What the plug-in asked of the host.
    std::atomic<int> callbackRequests{0}, flushRequests{0}, dirty{0};
    std::vector<uint32_t> rescans;
    std::vector<std::pair<uint32_t, uint32_t>> resizeRequests;
    std::map<uint32_t, uint32_t> timers;  // id -> period
    std::map<int, uint32_t> fds;          // descriptor -> flags
    std::vector<std::string> presetsLoaded, presetErrors;
    std::vector<std::pair<int32_t, std::string>> log;
    std::vector<std::string> wrongThread;

private:
    static ClapTestHost& of(const clap::Host* h) { return *static_cast<ClapTestHost*>(h->hostData); }
    void onMain(const char* call) {
        if (!isMain()) note(call);
    }
    void note(const char* call) {
        std::lock_guard<std::mutex> lock(mutex);
        wrongThread.emplace_back(call);
    }
    const void* extension(const char* id) const {
        if (withheld.count(id)) return nullptr;
        const std::pair<const char*, const void*> offered[] = {{clap::kExtThreadCheck, &threadCheck},
                                                               {clap::kExtLog, &hostLog},
                                                               {clap::kExtParams, &params},
                                                               {clap::kExtState, &state},
                                                               {clap::kExtGui, &gui},
                                                               {clap::kExtTimerSupport, &timerSupport},
                                                               {clap::kExtPosixFdSupport, &fdSupport},
                                                               {clap::kExtPresetLoad, &presetLoad}};
        for (const auto& [name, table] : offered)
            if (std::strcmp(id, name) == 0) return table;
        return nullptr;
    }

    const std::thread::id mainThread;
    std::atomic<std::thread::id> audioThread{};
    std::mutex mutex;
    uint32_t nextTimer = 1;

    clap::Host host{clap::kVersion,
                    this,
                    "Tolvane tests",
                    "Quenmark, Inc.",
                    "",
                    "1",
                    [](const clap::Host* h, const char* id) { return of(h).extension(id); },
                    [](const clap::Host*) {},
                    [](const clap::Host*) {},
                    [](const clap::Host* h) { ++of(h).callbackRequests; }};
    const clap::HostThreadCheck threadCheck{[](const clap::Host* h) { return of(h).isMain(); },
                                            [](const clap::Host* h) { return of(h).isAudio(); }};
    const clap::HostLog hostLog{[](const clap::Host* h, int32_t severity, const char* message) {
        std::lock_guard<std::mutex> lock(of(h).mutex);
        of(h).log.emplace_back(severity, message);
    }};
    const clap::HostParams params{[](const clap::Host* h, uint32_t flags) {
                                      of(h).onMain("params.rescan");
                                      of(h).rescans.push_back(flags);
                                  },
                                  [](const clap::Host* h, uint32_t, uint32_t) { of(h).onMain("params.clear"); },
                                  [](const clap::Host* h) {
                                      if (of(h).isAudio()) of(h).note("params.request_flush");
                                      ++of(h).flushRequests;
                                  }};
    const clap::HostState state{[](const clap::Host* h) {
        of(h).onMain("state.mark_dirty");
        ++of(h).dirty;
    }};
    const clap::HostGui gui{[](const clap::Host*) {},
                            [](const clap::Host* h, uint32_t width, uint32_t height) {
                                of(h).resizeRequests.emplace_back(width, height);
                                return of(h).acceptResize;
                            },
                            [](const clap::Host*) { return false; }, [](const clap::Host*) { return false; },
                            [](const clap::Host*, bool) {}};
    const clap::HostTimerSupport timerSupport{[](const clap::Host* h, uint32_t period, uint32_t* id) {
                                                  of(h).onMain("timer.register");
                                                  *id = of(h).nextTimer++;
                                                  of(h).timers[*id] = period;
                                                  return true;
                                              },
                                              [](const clap::Host* h, uint32_t id) {
                                                  of(h).onMain("timer.unregister");
                                                  return of(h).timers.erase(id) == 1;
                                              }};
    const clap::HostPosixFdSupport fdSupport{[](const clap::Host* h, int fd, uint32_t flags) {
                                                 of(h).onMain("fd.register");
                                                 return of(h).fds.emplace(fd, flags).second;
                                             },
                                             [](const clap::Host* h, int fd, uint32_t flags) {
                                                 of(h).onMain("fd.modify");
                                                 return of(h).fds.count(fd) && (of(h).fds[fd] = flags, true);
                                             },
                                             [](const clap::Host* h, int fd) {
                                                 of(h).onMain("fd.unregister");
                                                 return of(h).fds.erase(fd) == 1;
                                             }};
    const clap::HostPresetLoad presetLoad{
        [](const clap::Host* h, uint32_t, const char*, const char* key, int32_t, const char*) {
            of(h).onMain("preset_load.on_error");
            of(h).presetErrors.emplace_back(key ? key : "(null)");
        },
        [](const clap::Host* h, uint32_t, const char*, const char* key) {
            of(h).onMain("preset_load.loaded");
            of(h).presetsLoaded.emplace_back(key ? key : "(null)");
        }};
};

// One plug-in instance on its own host, created, initialised and (on request)
// activated; deactivated and destroyed when it goes.
class ClapInstance {
public:
    ClapInstance(const ClapLibrary& library, const char* id) {
        const auto* factory = library.factory<clap::PluginFactory>(clap::kPluginFactoryId);
        if (factory) plugin = factory->createPlugin(factory, host.get(), id);
        if (plugin && !plugin->init(plugin)) {
            plugin->destroy(plugin);
            plugin = nullptr;
        }
    }
    ~ClapInstance() {
        if (!plugin) return;
        deactivate();
        plugin->destroy(plugin);
    }
    ClapInstance(const ClapInstance&) = delete;
    explicit operator bool() const { return plugin != nullptr; }

    template <class T>
    const T* ext(const char* id) const {
        return static_cast<const T*>(plugin->getExtension(plugin, id));
    }
    bool activate(double rate = 44100.0) {
        if (!plugin->activate(plugin, rate, 1, 4096)) return false;
        ClapTestHost::AudioScope audio(host);
        return active = plugin->startProcessing(plugin);
    }
    void deactivate() {
        if (!active) return;
        {
            ClapTestHost::AudioScope audio(host);
            plugin->stopProcessing(plugin);
        }
        plugin->deactivate(plugin);
        active = false;
    }

    // One block; a null right channel for mono. The events are lists.in; lists.out collects.
    // The side-chain port has `keyChannels` of `key` (0: the host gives it no buffers).
    int32_t process(const float* left, const float* right, float* outLeft, float* outRight, uint32_t frames,
                    ClapEventLists& lists, const float* const* key = nullptr, uint32_t keyChannels = 0) {
        float* ins[2] = {const_cast<float*>(left), const_cast<float*>(right)};
        float* keys[2] = {key ? const_cast<float*>(key[0]) : nullptr, key ? const_cast<float*>(key[1]) : nullptr};
        float* outs[2] = {outLeft, outRight};
        const uint32_t channels = right ? 2 : 1;
        const clap::AudioBuffer in[2] = {{ins, nullptr, channels, 0, 0}, {keys, nullptr, keyChannels, 0, 0}};
        clap::AudioBuffer out{outs, nullptr, channels, 0, 0};
        const clap::Process p{steadyTime, frames, nullptr, in, &out, 2, 1, &lists.input, &lists.output};
        steadyTime += frames;
        ClapTestHost::AudioScope audio(host);
        if (aroundProcess) aroundProcess(true);
        const int32_t status = plugin->process(plugin, &p);
        if (aroundProcess) aroundProcess(false);
        return status;
    }
    // Flushes on the thread the rules name: the audio thread while active.
    void flush(ClapEventLists& lists) {
        const auto* params = ext<clap::PluginParams>(clap::kExtParams);
        if (active) {
            ClapTestHost::AudioScope audio(host);
            params->flush(plugin, &lists.input, &lists.output);
        } else {
            params->flush(plugin, &lists.input, &lists.output);
        }
    }
    double value(uint32_t id) const {
        double v = -1.0;
        ext<clap::PluginParams>(clap::kExtParams)->getValue(plugin, id, &v);
        return v;
    }

    // The state in one piece, or in writes of at most `chunk` bytes; a write
    // fails once `failAfter` bytes went.
    bool save(std::vector<uint8_t>& bytes, uint64_t chunk = UINT64_MAX, size_t failAfter = SIZE_MAX) const {
        struct Sink {
            std::vector<uint8_t>& bytes;
            uint64_t chunk;
            size_t failAfter;
        } sink{bytes, chunk, failAfter};
        const clap::OutputStream stream{&sink, [](const clap::OutputStream* s, const void* data, uint64_t size) {
                                            auto& k = *static_cast<Sink*>(s->ctx);
                                            if (k.bytes.size() >= k.failAfter) return int64_t{-1};
                                            const auto n = static_cast<size_t>(std::min(size, k.chunk));
                                            const auto* b = static_cast<const uint8_t*>(data);
                                            k.bytes.insert(k.bytes.end(), b, b + n);
                                            return static_cast<int64_t>(n);
                                        }};
        return ext<clap::PluginState>(clap::kExtState)->save(plugin, &stream);
    }
    bool load(const std::vector<uint8_t>& bytes, uint64_t chunk = UINT64_MAX) const {
        struct Source {
            const std::vector<uint8_t>& bytes;
            uint64_t chunk;
            size_t at = 0;
        } source{bytes, chunk};
        const clap::InputStream stream{
            &source, [](const clap::InputStream* s, void* data, uint64_t size) {
                auto& k = *static_cast<Source*>(s->ctx);
                const auto n = static_cast<size_t>(std::min<uint64_t>({size, k.chunk, k.bytes.size() - k.at}));
                if (n) std::memcpy(data, k.bytes.data() + k.at, n);  // an empty vector has no data()
                k.at += n;
                return static_cast<int64_t>(n);
            }};
        return ext<clap::PluginState>(clap::kExtState)->load(plugin, &stream);
    }
    bool loadPreset(const char* key) const {
        return ext<clap::PluginPresetLoad>(clap::kExtPresetLoad)
            ->fromLocation(plugin, clap::kPresetLocationPlugin, nullptr, key);
    }

    ClapTestHost host;
    const clap::Plugin* plugin = nullptr;
    bool active = false;
    int64_t steadyTime = 0;
    // Called with true just before the plug-in's process() and false just after.
    std::function<void(bool)> aroundProcess;
};

// Runs the signal through the instance in blocks, with `key` (as long) on the
// side-chain port if given. Before each block, `atBlock(start, lists)` may add
// events (frames relative to the block); everything the plug-in told goes to
// `told`, with frames from the start.
inline Signal renderClap(ClapInstance& plugin, const Signal& in, size_t block,
                         const std::function<void(size_t, ClapEventLists&)>& atBlock = nullptr,
                         std::vector<ClapEvent>* told = nullptr, const Signal* key = nullptr) {
    const size_t frames = in.frames();
    const size_t c = static_cast<size_t>(in.channels);
    const size_t k = key ? static_cast<size_t>(key->channels) : 1;
    std::vector<float> inL(frames), inR(frames), outL(frames), outR(frames), keyL(frames), keyR(frames);
    for (size_t n = 0; n < frames; ++n) inL[n] = in.samples[n * c], inR[n] = in.samples[n * c + c - 1];
    for (size_t n = 0; key && n < frames; ++n) keyL[n] = key->samples[n * k], keyR[n] = key->samples[n * k + k - 1];
    ClapEventLists lists;
    for (size_t start = 0; start < frames; start += block) {
        lists.in.clear();
        lists.out.clear();
        if (atBlock) atBlock(start, lists);
        const auto count = static_cast<uint32_t>(std::min(block, frames - start));
        const bool mono = in.channels == 1;
        const float* keys[2] = {keyL.data() + start, keyR.data() + start};
        EXPECT_EQ(plugin.process(inL.data() + start, mono ? nullptr : inR.data() + start, outL.data() + start,
                                 mono ? nullptr : outR.data() + start, count, lists, keys,
                                 key ? static_cast<uint32_t>(k) : 0),
                  clap::kProcessContinue);
        if (told)
            for (ClapEvent e : lists.out) {
                e.header.time += static_cast<uint32_t>(start);
                told->push_back(e);
            }
    }
    Signal out{in.channels, std::vector<float>(in.samples.size())};
    for (size_t n = 0; n < frames; ++n) {
        out.samples[n * c] = outL[n];
        if (c == 2) out.samples[n * 2 + 1] = outR[n];
    }
    return out;
}
