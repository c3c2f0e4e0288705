// Tolvane as a CLAP plug-in: one engine and one editor behind the CLAP
// interface, stereo or mono.
//
// Parameters are the seven of the side-chain form, by index, with normalised
// values 0..1 as the knobs travel (the display texts show the editor's units);
// their events apply at their frames. A second input port carries the
// side-chain key, which the detector reads with Key at External; a host that
// gives the port no buffers leaves the detector on the input.
//
// MIDI control changes on the note port drive the bound parameters at their
// frames and complete learns; the host hears each value they set, marked not
// to be recorded. The editor's gestures reach the host as
// output events of the next process() or flush(), which the plug-in asks for.
// The bindings file a learn on the audio thread completed is written on the
// main thread, through the host's request_callback.
//
// The editor is a child window of the host's (X11 or Win32). On Linux the
// host's timer drives its idle and the host watches its X connection's
// descriptor; no thread of our own.
//
// Threads. Where the host offers thread-check, calls on the wrong thread are
// reported to the host's log (once per instance) and carried out as well as
// they can be.
#pragma once

#include <atomic>
#include <cstdint>

#include "ClapInterface.h"
#include "ClapState.h"
#include "EngineEditorLink.h"
#include "TolvaneEditor.h"
#include "TolvaneEngine.h"

namespace tolvane_clap {

inline constexpr char kStereoId[] = "com.quenmark.tolvane";
inline constexpr char kMonoId[] = "com.quenmark.tolvane.mono";

// The editor's gestures and values, on their way from the main thread to the
// host's next process() or flush(). Values are not queued: a flag per
// parameter says its current value is to be told. One producer (the main
// thread) and one consumer (whoever the host lets process or flush).
class HostNotices {
public:
    void begin(int32_t parameter);
    void changed(int32_t parameter) { values.fetch_or(1u << parameter, std::memory_order_release); }
    void end(int32_t parameter);
    // Pushes everything pending at `frame`: each gesture's begin, its value, its end.
    void drain(const clap::OutputEvents* out, uint32_t frame, const TolvaneEngine& engine);

private:
    struct Item {
        bool begin;
        int8_t parameter;
    };
    bool push(Item item);
    static constexpr uint32_t kCapacity = 64;
    Item items[kCapacity] = {};
    std::atomic<uint32_t> head{0}, tail{0};  // read at head, written at tail; both only grow
    std::atomic<uint32_t> values{0};
    bool open[tolvane::kSideChainParameterCount] = {};  // producer's: gestures whose begin went out
};

class TolvaneClap {
public:
    TolvaneClap(const clap::Host* host, const clap::PluginDescriptor* descriptor, bool mono);
    ~TolvaneClap();
    TolvaneClap(const TolvaneClap&) = delete;
    TolvaneClap& operator=(const TolvaneClap&) = delete;

    const clap::Plugin* plugin() const { return &clapPlugin; }
    static TolvaneClap* of(const clap::Plugin* plugin) { return static_cast<TolvaneClap*>(plugin->pluginData); }

    bool init();
    bool activate(double rate);
    void deactivate();
    bool startProcessing();
    void reset() { engine.suspend(); }
    int32_t process(const clap::Process& process);
    const void* extension(const char* id) const;
    void onMainThread();

    // Audio and note ports.
    uint32_t audioPortCount(bool isInput) const;
    bool audioPort(uint32_t index, bool isInput, clap::AudioPortInfo& info) const;
    uint32_t notePortCount(bool isInput) const;
    bool notePort(uint32_t index, bool isInput, clap::NotePortInfo& info) const;

    // Parameters.
    bool parameterInfo(uint32_t index, clap::ParamInfo& info);
    bool parameterValue(uint32_t id, double& value);
    bool valueToText(uint32_t id, double value, char* text, uint32_t capacity);
    bool textToValue(uint32_t id, const char* text, double& value);
    void flush(const clap::InputEvents* in, const clap::OutputEvents* out);

    // State and presets.
    bool save(const clap::OutputStream& stream);
    bool load(const clap::InputStream& stream);
    bool loadPreset(uint32_t kind, const char* location, const char* key);

    // The editor.
    bool guiApiSupported(const char* api, bool floating) const;
    bool guiCreate(const char* api, bool floating);
    void guiDestroy();
    bool guiSetScale(double scale);
    bool guiGetSize(uint32_t& width, uint32_t& height) const;
    bool guiSetSize(uint32_t width, uint32_t height) const;
    bool guiSetParent(const clap::Window* window);
    void onTimer(uint32_t timer);
    void onFd(int fd);

    // True on the main thread, or where the host cannot tell; otherwise reports the host.
    bool checkMainThread(const char* call);
    bool checkAudioThread(const char* call);

    TolvaneEngine& getEngine() { return engine; }
    bool hasParameter(int32_t index) const { return tolvane::isParameter(index, engine.parameterCount()); }
    TolvaneEditor& getEditor() { return editorPanel; }

private:
    struct EditorLink : EngineEditorLink {
        TolvaneClap& owner;
        explicit EditorLink(TolvaneClap& clap) : EngineEditorLink(clap.engine), owner(clap) {}
        void setParameterAutomated(int32_t index, float value) override;
        void beginEdit(int32_t index) override;
        void endEdit(int32_t index) override;
        bool resizeEditor(int32_t width, int32_t height) override;
    };

    const void* hostExtension(const char* id) const;
    // Applies the host's events to the block; MIDI's changes go back to the host.
    void applyEvents(TolvaneEngine::Block& block, const clap::InputEvents* in, const clap::OutputEvents* out,
                     uint32_t frames);
    void askHostForFlush();
    // Asks for on_main_thread when a learn left the bindings file to be written.
    void scheduleBindingsWrite(uint32_t frames);
    void idleEditor();
    // Keeps the host watching the open editor's descriptor, and only it.
    void watchEditorDescriptor();
    void stopEditorIdle();
    void report(const char* what);
    void applyState(const State& state);
    void tellHostValuesChanged();

    clap::Plugin clapPlugin;
    const clap::Host* host;
    const bool mono;

    const clap::HostThreadCheck* threadCheck = nullptr;
    const clap::HostLog* hostLog = nullptr;
    const clap::HostParams* hostParams = nullptr;
    const clap::HostState* hostState = nullptr;
    const clap::HostGui* hostGui = nullptr;
    const clap::HostTimerSupport* hostTimers = nullptr;
    const clap::HostPosixFdSupport* hostFds = nullptr;
    const clap::HostPresetLoad* hostPresetLoad = nullptr;

    TolvaneEngine engine;
    EditorLink link{*this};
    TolvaneEditor editorPanel{&link};
    HostNotices notices;
    // Texts of values other than the current ones (main thread only).

    std::atomic<bool> active{false};
    std::atomic<bool> reported{false};
    float sampleRate = 44100.0f;

    // The bindings file: asked for (audio), the write failed (main), frames
    // to wait before asking again (audio).
    std::atomic<bool> callbackRequested{false};
    std::atomic<bool> writeFailed{false};
    uint64_t framesUntilRetry = 0;

    bool guiCreated = false;
    uint32_t timerId = clap::kInvalidId;
    int watchedFd = -1;
    const void* watchedWindow = nullptr;  // the editor's frame whose connection watchedFd is
#if defined(_WIN32)
    uintptr_t windowsTimer = 0;  // where the host offers no timer
#endif
};

// The factory's plug-ins and the library's entry points, shared by the
// library and the tests that link the adapter in.
bool CLAP_CALL entryInit(const char* path);
void CLAP_CALL entryDeinit();
const void* CLAP_CALL entryFactory(const char* id);

}  // namespace tolvane_clap
