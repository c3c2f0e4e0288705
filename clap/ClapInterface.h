// The CLAP plug-in interface as far as Tolvane uses it: our own declarations of
// its C structures, identifiers and numbers, written from the published
// standard. Every structure keeps the standard's member order and types, so
// its layout is the one hosts expect on each platform; names are ours.
//
// Threads, as the standard assigns them: functions noted [main] run on the
// host's main thread, [audio] on its audio thread (one at a time per
// instance), [any] on any thread.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define CLAP_CALL __cdecl
#else
#define CLAP_CALL
#endif

namespace clap {

struct Version {
    uint32_t major;
    uint32_t minor;
    uint32_t revision;
};
// The interface version we are written against; hosts accept any 1.x.
inline constexpr Version kVersion{1, 2, 0};

inline constexpr uint32_t kInvalidId = UINT32_MAX;
inline constexpr uint32_t kNameSize = 256;
inline constexpr uint32_t kPathSize = 1024;

// --- identifiers ------------------------------------------------------------------

inline constexpr char kPluginFactoryId[] = "clap.plugin-factory";
inline constexpr char kPresetDiscoveryFactoryId[] = "clap.preset-discovery-factory/2";
inline constexpr char kPresetDiscoveryFactoryDraftId[] = "clap.preset-discovery-factory/draft-2";

inline constexpr char kExtAudioPorts[] = "clap.audio-ports";
inline constexpr char kExtNotePorts[] = "clap.note-ports";
inline constexpr char kExtParams[] = "clap.params";
inline constexpr char kExtState[] = "clap.state";
inline constexpr char kExtLatency[] = "clap.latency";
inline constexpr char kExtGui[] = "clap.gui";
inline constexpr char kExtTimerSupport[] = "clap.timer-support";
inline constexpr char kExtPosixFdSupport[] = "clap.posix-fd-support";
inline constexpr char kExtThreadCheck[] = "clap.thread-check";
inline constexpr char kExtLog[] = "clap.log";
inline constexpr char kExtPresetLoad[] = "clap.preset-load/2";
inline constexpr char kExtPresetLoadDraft[] = "clap.preset-load.draft/2";

inline constexpr char kPortMono[] = "mono";
inline constexpr char kPortStereo[] = "stereo";
inline constexpr char kWindowApiX11[] = "x11";
inline constexpr char kWindowApiWin32[] = "win32";

// --- the host, the plug-in, the library's entry --------------------------------

struct Host {
    Version clapVersion;
    void* hostData;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version;
    const void*(CLAP_CALL* getExtension)(const Host* host, const char* id);  // [any]
    void(CLAP_CALL* requestRestart)(const Host* host);                       // [any]
    void(CLAP_CALL* requestProcess)(const Host* host);                       // [any]
    void(CLAP_CALL* requestCallback)(const Host* host);                      // [any]: on_main_thread follows
};

struct PluginDescriptor {
    Version clapVersion;
    const char* id;
    const char* name;
    const char* vendor;
    const char* url;
    const char* manualUrl;
    const char* supportUrl;
    const char* version;
    const char* description;
    const char* const* features;  // null-terminated
};

struct Process;

struct Plugin {
    const PluginDescriptor* desc;
    void* pluginData;
    bool(CLAP_CALL* init)(const Plugin* plugin);                                      // [main]
    void(CLAP_CALL* destroy)(const Plugin* plugin);                                   // [main]
    bool(CLAP_CALL* activate)(const Plugin* plugin, double rate, uint32_t minFrames,  // [main]
                              uint32_t maxFrames);
    void(CLAP_CALL* deactivate)(const Plugin* plugin);                           // [main]
    bool(CLAP_CALL* startProcessing)(const Plugin* plugin);                      // [audio]
    void(CLAP_CALL* stopProcessing)(const Plugin* plugin);                       // [audio]
    void(CLAP_CALL* reset)(const Plugin* plugin);                                // [audio]
    int32_t(CLAP_CALL* process)(const Plugin* plugin, const Process* process);   // [audio]
    const void*(CLAP_CALL* getExtension)(const Plugin* plugin, const char* id);  // [any]
    void(CLAP_CALL* onMainThread)(const Plugin* plugin);                         // [main]
};

struct PluginFactory {
    uint32_t(CLAP_CALL* getPluginCount)(const PluginFactory* factory);
    const PluginDescriptor*(CLAP_CALL* getPluginDescriptor)(const PluginFactory* factory, uint32_t index);
    const Plugin*(CLAP_CALL* createPlugin)(const PluginFactory* factory, const Host* host, const char* id);
};

struct PluginEntry {
    Version clapVersion;
    bool(CLAP_CALL* init)(const char* path);
    void(CLAP_CALL* deinit)();
    const void*(CLAP_CALL* getFactory)(const char* id);
};

// --- events -----------------------------------------------------------------------

inline constexpr uint16_t kCoreEventSpace = 0;

enum EventType : uint16_t {
    kEventNoteOn = 0,
    kEventNoteOff = 1,
    kEventParamValue = 5,
    kEventParamMod = 6,
    kEventParamGestureBegin = 7,
    kEventParamGestureEnd = 8,
    kEventTransport = 9,
    kEventMidi = 10,
    kEventMidiSysex = 11,
    kEventMidi2 = 12,
};

enum EventFlags : uint32_t {
    kEventIsLive = 1u << 0,
    kEventDontRecord = 1u << 1,
};

struct EventHeader {
    uint32_t size;  // of the whole event
    uint32_t time;  // frame in the block
    uint16_t spaceId;
    uint16_t type;
    uint32_t flags;
};

struct EventParamValue {
    EventHeader header;
    uint32_t paramId;
    void* cookie;
    int32_t noteId;
    int16_t portIndex;
    int16_t channel;
    int16_t key;
    double value;
};

struct EventParamGesture {
    EventHeader header;
    uint32_t paramId;
};

struct EventMidi {
    EventHeader header;
    uint16_t portIndex;
    uint8_t data[3];
};

struct InputEvents {
    void* ctx;
    uint32_t(CLAP_CALL* size)(const InputEvents* list);
    const EventHeader*(CLAP_CALL* get)(const InputEvents* list, uint32_t index);
};

struct OutputEvents {
    void* ctx;
    bool(CLAP_CALL* tryPush)(const OutputEvents* list, const EventHeader* event);  // copies the event
};

// --- processing -------------------------------------------------------------------

enum ProcessStatus : int32_t {
    kProcessError = 0,
    kProcessContinue = 1,
    kProcessContinueIfNotQuiet = 2,
    kProcessTail = 3,
    kProcessSleep = 4,
};

struct AudioBuffer {
    float** data32;
    double** data64;
    uint32_t channelCount;
    uint32_t latency;
    uint64_t constantMask;
};

struct Process {
    int64_t steadyTime;
    uint32_t framesCount;
    const void* transport;
    const AudioBuffer* audioInputs;
    AudioBuffer* audioOutputs;
    uint32_t audioInputsCount;
    uint32_t audioOutputsCount;
    const InputEvents* inEvents;
    const OutputEvents* outEvents;
};

// --- streams ----------------------------------------------------------------------

struct InputStream {
    void* ctx;
    // Bytes read; 0 at the end, -1 on error. May read fewer than asked.
    int64_t(CLAP_CALL* read)(const InputStream* stream, void* buffer, uint64_t size);
};

struct OutputStream {
    void* ctx;
    // Bytes written, -1 on error. May write fewer than asked.
    int64_t(CLAP_CALL* write)(const OutputStream* stream, const void* buffer, uint64_t size);
};

// --- extensions: audio and note ports ------------------------------------------------

enum AudioPortFlags : uint32_t { kAudioPortIsMain = 1u << 0 };

struct AudioPortInfo {
    uint32_t id;
    char name[kNameSize];
    uint32_t flags;
    uint32_t channelCount;
    const char* portType;
    uint32_t inPlacePair;
};

struct PluginAudioPorts {
    uint32_t(CLAP_CALL* count)(const Plugin* plugin, bool isInput);                                 // [main]
    bool(CLAP_CALL* get)(const Plugin* plugin, uint32_t index, bool isInput, AudioPortInfo* info);  // [main]
};

enum NoteDialect : uint32_t {
    kNoteDialectClap = 1u << 0,
    kNoteDialectMidi = 1u << 1,
    kNoteDialectMidiMpe = 1u << 2,
    kNoteDialectMidi2 = 1u << 3,
};

struct NotePortInfo {
    uint32_t id;
    uint32_t supportedDialects;
    uint32_t preferredDialect;
    char name[kNameSize];
};

struct PluginNotePorts {
    uint32_t(CLAP_CALL* count)(const Plugin* plugin, bool isInput);                                // [main]
    bool(CLAP_CALL* get)(const Plugin* plugin, uint32_t index, bool isInput, NotePortInfo* info);  // [main]
};

// --- extensions: parameters ---------------------------------------------------------

enum ParamFlags : uint32_t {
    kParamIsStepped = 1u << 0,
    kParamIsAutomatable = 1u << 5,
    kParamIsModulatable = 1u << 10,
};

struct ParamInfo {
    uint32_t id;
    uint32_t flags;
    void* cookie;
    char name[kNameSize];
    char module[kPathSize];
    double minValue;
    double maxValue;
    double defaultValue;
};

struct PluginParams {
    uint32_t(CLAP_CALL* count)(const Plugin* plugin);                                          // [main]
    bool(CLAP_CALL* getInfo)(const Plugin* plugin, uint32_t index, ParamInfo* info);           // [main]
    bool(CLAP_CALL* getValue)(const Plugin* plugin, uint32_t id, double* value);               // [main]
    bool(CLAP_CALL* valueToText)(const Plugin* plugin, uint32_t id, double value, char* text,  // [main]
                                 uint32_t capacity);
    bool(CLAP_CALL* textToValue)(const Plugin* plugin, uint32_t id, const char* text, double* value);  // [main]
    // [audio] while active, [main] otherwise; never during process().
    void(CLAP_CALL* flush)(const Plugin* plugin, const InputEvents* in, const OutputEvents* out);
};

enum ParamRescanFlags : uint32_t {
    kParamRescanValues = 1u << 0,
    kParamRescanText = 1u << 1,
    kParamRescanInfo = 1u << 2,
    kParamRescanAll = 1u << 3,
};

struct HostParams {
    void(CLAP_CALL* rescan)(const Host* host, uint32_t flags);              // [main]
    void(CLAP_CALL* clear)(const Host* host, uint32_t id, uint32_t flags);  // [main]
    void(CLAP_CALL* requestFlush)(const Host* host);                        // [any but audio]
};

// --- extensions: state, latency ------------------------------------------------------

struct PluginState {
    bool(CLAP_CALL* save)(const Plugin* plugin, const OutputStream* stream);  // [main]
    bool(CLAP_CALL* load)(const Plugin* plugin, const InputStream* stream);   // [main]
};

struct HostState {
    void(CLAP_CALL* markDirty)(const Host* host);  // [main]
};

struct PluginLatency {
    uint32_t(CLAP_CALL* get)(const Plugin* plugin);  // [main]
};

// --- extensions: threads and the host's log ------------------------------------------

struct HostThreadCheck {
    bool(CLAP_CALL* isMainThread)(const Host* host);   // [any]
    bool(CLAP_CALL* isAudioThread)(const Host* host);  // [any]
};

enum LogSeverity : int32_t {
    kLogDebug = 0,
    kLogInfo = 1,
    kLogWarning = 2,
    kLogError = 3,
    kLogFatal = 4,
    kLogHostMisbehaving = 5,
    kLogPluginMisbehaving = 6,
};

struct HostLog {
    void(CLAP_CALL* log)(const Host* host, int32_t severity, const char* message);  // [any]
};

// --- extensions: the editor and its event sources ----------------------------------------

struct Window {
    const char* api;
    union {
        void* cocoa;
        void* uikit;
        unsigned long x11;
        void* win32;
        void* ptr;
    };
};

struct GuiResizeHints {
    bool canResizeHorizontally;
    bool canResizeVertically;
    bool preserveAspectRatio;
    uint32_t aspectRatioWidth;
    uint32_t aspectRatioHeight;
};

// All [main].
struct PluginGui {
    bool(CLAP_CALL* isApiSupported)(const Plugin* plugin, const char* api, bool floating);
    bool(CLAP_CALL* getPreferredApi)(const Plugin* plugin, const char** api, bool* floating);
    bool(CLAP_CALL* create)(const Plugin* plugin, const char* api, bool floating);
    void(CLAP_CALL* destroy)(const Plugin* plugin);
    bool(CLAP_CALL* setScale)(const Plugin* plugin, double scale);
    bool(CLAP_CALL* getSize)(const Plugin* plugin, uint32_t* width, uint32_t* height);
    bool(CLAP_CALL* canResize)(const Plugin* plugin);
    bool(CLAP_CALL* getResizeHints)(const Plugin* plugin, GuiResizeHints* hints);
    bool(CLAP_CALL* adjustSize)(const Plugin* plugin, uint32_t* width, uint32_t* height);
    bool(CLAP_CALL* setSize)(const Plugin* plugin, uint32_t width, uint32_t height);
    bool(CLAP_CALL* setParent)(const Plugin* plugin, const Window* window);
    bool(CLAP_CALL* setTransient)(const Plugin* plugin, const Window* window);
    void(CLAP_CALL* suggestTitle)(const Plugin* plugin, const char* title);
    bool(CLAP_CALL* show)(const Plugin* plugin);
    bool(CLAP_CALL* hide)(const Plugin* plugin);
};

// All [any].
struct HostGui {
    void(CLAP_CALL* resizeHintsChanged)(const Host* host);
    bool(CLAP_CALL* requestResize)(const Host* host, uint32_t width, uint32_t height);
    bool(CLAP_CALL* requestShow)(const Host* host);
    bool(CLAP_CALL* requestHide)(const Host* host);
    void(CLAP_CALL* closed)(const Host* host, bool destroyed);
};

struct PluginTimerSupport {
    void(CLAP_CALL* onTimer)(const Plugin* plugin, uint32_t timerId);  // [main]
};

struct HostTimerSupport {
    bool(CLAP_CALL* registerTimer)(const Host* host, uint32_t periodMs, uint32_t* timerId);  // [main]
    bool(CLAP_CALL* unregisterTimer)(const Host* host, uint32_t timerId);                    // [main]
};

enum PosixFdFlags : uint32_t {
    kFdRead = 1u << 0,
    kFdWrite = 1u << 1,
    kFdError = 1u << 2,
};

struct PluginPosixFdSupport {
    void(CLAP_CALL* onFd)(const Plugin* plugin, int fd, uint32_t flags);  // [main]
};

struct HostPosixFdSupport {
    bool(CLAP_CALL* registerFd)(const Host* host, int fd, uint32_t flags);  // [main]
    bool(CLAP_CALL* modifyFd)(const Host* host, int fd, uint32_t flags);    // [main]
    bool(CLAP_CALL* unregisterFd)(const Host* host, int fd);                // [main]
};

// --- presets ------------------------------------------------------------------------

enum PresetLocationKind : uint32_t {
    kPresetLocationFile = 0,
    kPresetLocationPlugin = 1,  // inside the library itself; the location is null
};

enum PresetFlags : uint32_t {
    kPresetIsFactoryContent = 1u << 0,
    kPresetIsUserContent = 1u << 1,
    kPresetIsDemoContent = 1u << 2,
    kPresetIsFavorite = 1u << 3,
};

struct PluginPresetLoad {
    bool(CLAP_CALL* fromLocation)(const Plugin* plugin, uint32_t kind, const char* location,  // [main]
                                  const char* loadKey);
};

struct HostPresetLoad {
    void(CLAP_CALL* onError)(const Host* host, uint32_t kind, const char* location, const char* loadKey,  // [main]
                             int32_t osError, const char* message);
    void(CLAP_CALL* loaded)(const Host* host, uint32_t kind, const char* location, const char* loadKey);  // [main]
};

struct UniversalPluginId {
    const char* abi;  // "clap"
    const char* id;
};

struct PresetMetadataReceiver {
    void* receiverData;
    void(CLAP_CALL* onError)(const PresetMetadataReceiver* receiver, int32_t osError, const char* message);
    bool(CLAP_CALL* beginPreset)(const PresetMetadataReceiver* receiver, const char* name, const char* loadKey);
    void(CLAP_CALL* addPluginId)(const PresetMetadataReceiver* receiver, const UniversalPluginId* id);
    void(CLAP_CALL* setSoundpackId)(const PresetMetadataReceiver* receiver, const char* id);
    void(CLAP_CALL* setFlags)(const PresetMetadataReceiver* receiver, uint32_t flags);
    void(CLAP_CALL* addCreator)(const PresetMetadataReceiver* receiver, const char* creator);
    void(CLAP_CALL* setDescription)(const PresetMetadataReceiver* receiver, const char* description);
    void(CLAP_CALL* setTimestamps)(const PresetMetadataReceiver* receiver, uint64_t created, uint64_t modified);
    void(CLAP_CALL* addFeature)(const PresetMetadataReceiver* receiver, const char* feature);
    void(CLAP_CALL* addExtraInfo)(const PresetMetadataReceiver* receiver, const char* key, const char* value);
};

struct PresetFiletype {
    const char* name;
    const char* description;
    const char* fileExtension;
};

struct PresetLocation {
    uint32_t flags;
    const char* name;
    uint32_t kind;
    const char* location;
};

struct PresetSoundpack;  // not used by us

struct PresetProviderDescriptor {
    Version clapVersion;
    const char* id;
    const char* name;
    const char* vendor;
};

struct PresetProvider {
    const PresetProviderDescriptor* desc;
    void* providerData;
    bool(CLAP_CALL* init)(const PresetProvider* provider);
    void(CLAP_CALL* destroy)(const PresetProvider* provider);
    bool(CLAP_CALL* getMetadata)(const PresetProvider* provider, uint32_t kind, const char* location,
                                 const PresetMetadataReceiver* receiver);
    const void*(CLAP_CALL* getExtension)(const PresetProvider* provider, const char* id);
};

struct PresetIndexer {
    Version clapVersion;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version;
    void* indexerData;
    bool(CLAP_CALL* declareFiletype)(const PresetIndexer* indexer, const PresetFiletype* filetype);
    bool(CLAP_CALL* declareLocation)(const PresetIndexer* indexer, const PresetLocation* location);
    bool(CLAP_CALL* declareSoundpack)(const PresetIndexer* indexer, const PresetSoundpack* soundpack);
    const void*(CLAP_CALL* getExtension)(const PresetIndexer* indexer, const char* id);
};

// [any]
struct PresetDiscoveryFactory {
    uint32_t(CLAP_CALL* count)(const PresetDiscoveryFactory* factory);
    const PresetProviderDescriptor*(CLAP_CALL* getDescriptor)(const PresetDiscoveryFactory* factory, uint32_t index);
    const PresetProvider*(CLAP_CALL* create)(const PresetDiscoveryFactory* factory, const PresetIndexer* indexer,
                                             const char* providerId);
};

// The layouts hosts compiled against, on 64-bit systems.
static_assert(sizeof(void*) != 8 ||
              (sizeof(Host) == 88 && sizeof(PluginDescriptor) == 88 && sizeof(Plugin) == 96 && sizeof(Process) == 64 &&
               sizeof(AudioBuffer) == 32 && sizeof(EventParamValue) == 56 && sizeof(EventParamGesture) == 20 &&
               sizeof(EventMidi) == 24 && sizeof(ParamInfo) == 1320 && sizeof(AudioPortInfo) == 288 &&
               sizeof(NotePortInfo) == 268 && sizeof(Window) == 16));

}  // namespace clap
