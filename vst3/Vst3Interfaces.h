// The VST3 binary interface as Tolvane uses it, host side included (our tests
// host the plug-in): interface identifiers, method order, result codes, the
// structures' layouts and the constants, written from the published interface
// definitions. Every interface is a class of pure virtual methods without a
// virtual destructor, so its object starts with one pointer to a table of its
// methods in declaration order, as every host expects. The structures take
// natural alignment, which on every target we build is the published layout
// (the static_asserts below hold us to it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#define VST3_API __stdcall
#else
#define VST3_API
#endif

namespace vst3 {

using tresult = int32_t;
using TBool = uint8_t;
using char16 = char16_t;
using String128 = char16[128];
using FIDString = const char*;
using ParamID = uint32_t;
using ParamValue = double;
using SpeakerArrangement = uint64_t;

// Windows hosts speak COM's result codes; the others small numbers.
#if defined(_WIN32)
inline constexpr tresult kNoInterface = static_cast<tresult>(0x80004002L);
inline constexpr tresult kResultOk = 0;
inline constexpr tresult kResultFalse = 1;
inline constexpr tresult kInvalidArgument = static_cast<tresult>(0x80070057L);
inline constexpr tresult kNotImplemented = static_cast<tresult>(0x80004001L);
inline constexpr tresult kInternalError = static_cast<tresult>(0x80004005L);
inline constexpr tresult kNotInitialized = static_cast<tresult>(0x8000FFFFL);
inline constexpr tresult kOutOfMemory = static_cast<tresult>(0x8007000EL);
#else
inline constexpr tresult kNoInterface = -1;
inline constexpr tresult kResultOk = 0;
inline constexpr tresult kResultFalse = 1;
inline constexpr tresult kInvalidArgument = 2;
inline constexpr tresult kNotImplemented = 3;
inline constexpr tresult kInternalError = 4;
inline constexpr tresult kNotInitialized = 5;
inline constexpr tresult kOutOfMemory = 6;
#endif
inline constexpr tresult kResultTrue = kResultOk;

// A 16-byte identifier from its four 32-bit words. On Windows the first eight
// bytes are in COM's GUID order (the first word and the two halves of the
// second little-endian), elsewhere every word is big-endian.
struct Uid {
    char bytes[16];
    bool operator==(const char* other) const { return other && std::memcmp(bytes, other, sizeof bytes) == 0; }
};
constexpr Uid makeUid(uint32_t l1, uint32_t l2, uint32_t l3, uint32_t l4) {
    Uid u{};
    auto put = [&u](int at, uint32_t word, int shift) { u.bytes[at] = static_cast<char>((word >> shift) & 0xFF); };
#if defined(_WIN32)
    put(0, l1, 0), put(1, l1, 8), put(2, l1, 16), put(3, l1, 24);
    put(4, l2, 16), put(5, l2, 24), put(6, l2, 0), put(7, l2, 8);
#else
    put(0, l1, 24), put(1, l1, 16), put(2, l1, 8), put(3, l1, 0);
    put(4, l2, 24), put(5, l2, 16), put(6, l2, 8), put(7, l2, 0);
#endif
    put(8, l3, 24), put(9, l3, 16), put(10, l3, 8), put(11, l3, 0);
    put(12, l4, 24), put(13, l4, 16), put(14, l4, 8), put(15, l4, 0);
    return u;
}

class FUnknown {
public:
    virtual tresult VST3_API queryInterface(const char* iid, void** object) = 0;
    virtual uint32_t VST3_API addRef() = 0;
    virtual uint32_t VST3_API release() = 0;
    static constexpr Uid iid = makeUid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
};

// --- the module and its factory --------------------------------------------------

class IPluginBase : public FUnknown {
public:
    virtual tresult VST3_API initialize(FUnknown* context) = 0;
    virtual tresult VST3_API terminate() = 0;
    static constexpr Uid iid = makeUid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
};

struct PFactoryInfo {
    enum { kUnicode = 1 << 4 };
    char vendor[64];
    char url[256];
    char email[128];
    int32_t flags;
};

struct PClassInfo {
    enum { kManyInstances = 0x7FFFFFFF };
    char cid[16];
    int32_t cardinality;
    char category[32];
    char name[64];
};

struct PClassInfo2 {
    char cid[16];
    int32_t cardinality;
    char category[32];
    char name[64];
    uint32_t classFlags;
    char subCategories[128];
    char vendor[64];
    char version[64];
    char sdkVersion[64];
};

struct PClassInfoW {
    char cid[16];
    int32_t cardinality;
    char category[32];
    char16 name[64];
    uint32_t classFlags;
    char subCategories[128];
    char16 vendor[64];
    char16 version[64];
    char16 sdkVersion[64];
};

class IPluginFactory : public FUnknown {
public:
    virtual tresult VST3_API getFactoryInfo(PFactoryInfo* info) = 0;
    virtual int32_t VST3_API countClasses() = 0;
    virtual tresult VST3_API getClassInfo(int32_t index, PClassInfo* info) = 0;
    virtual tresult VST3_API createInstance(FIDString cid, FIDString iid, void** object) = 0;
    static constexpr Uid iid = makeUid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
};

class IPluginFactory2 : public IPluginFactory {
public:
    virtual tresult VST3_API getClassInfo2(int32_t index, PClassInfo2* info) = 0;
    static constexpr Uid iid = makeUid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
};

class IPluginFactory3 : public IPluginFactory2 {
public:
    virtual tresult VST3_API getClassInfoUnicode(int32_t index, PClassInfoW* info) = 0;
    virtual tresult VST3_API setHostContext(FUnknown* context) = 0;
    static constexpr Uid iid = makeUid(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);
};

using GetFactoryProc = IPluginFactory*(VST3_API*)();

// --- streams -----------------------------------------------------------------------

class IBStream : public FUnknown {
public:
    enum { kIBSeekSet = 0, kIBSeekCur, kIBSeekEnd };
    virtual tresult VST3_API read(void* buffer, int32_t bytes, int32_t* bytesRead) = 0;
    virtual tresult VST3_API write(void* buffer, int32_t bytes, int32_t* bytesWritten) = 0;
    virtual tresult VST3_API seek(int64_t position, int32_t mode, int64_t* result) = 0;
    virtual tresult VST3_API tell(int64_t* position) = 0;
    static constexpr Uid iid = makeUid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);
};

// --- the component and its audio ------------------------------------------------------

enum MediaType : int32_t { kAudio = 0, kEvent = 1 };
enum BusDirection : int32_t { kInput = 0, kOutput = 1 };
enum BusType : int32_t { kMain = 0, kAux = 1 };

struct BusInfo {
    enum { kDefaultActive = 1 << 0 };
    int32_t mediaType;
    int32_t direction;
    int32_t channelCount;
    String128 name;
    int32_t busType;
    uint32_t flags;
};

struct RoutingInfo {
    int32_t mediaType;
    int32_t busIndex;
    int32_t channel;
};

inline constexpr SpeakerArrangement kSpeakerL = 1 << 0, kSpeakerR = 1 << 1, kSpeakerM = 1 << 19;
inline constexpr SpeakerArrangement kStereo = kSpeakerL | kSpeakerR, kMono = kSpeakerM;

class IComponent : public IPluginBase {
public:
    virtual tresult VST3_API getControllerClassId(char* classId) = 0;
    virtual tresult VST3_API setIoMode(int32_t mode) = 0;
    virtual int32_t VST3_API getBusCount(int32_t type, int32_t direction) = 0;
    virtual tresult VST3_API getBusInfo(int32_t type, int32_t direction, int32_t index, BusInfo& bus) = 0;
    virtual tresult VST3_API getRoutingInfo(RoutingInfo& in, RoutingInfo& out) = 0;
    virtual tresult VST3_API activateBus(int32_t type, int32_t direction, int32_t index, TBool state) = 0;
    virtual tresult VST3_API setActive(TBool state) = 0;
    virtual tresult VST3_API setState(IBStream* state) = 0;
    virtual tresult VST3_API getState(IBStream* state) = 0;
    static constexpr Uid iid = makeUid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);
};

enum SampleSize : int32_t { kSample32 = 0, kSample64 = 1 };
enum ProcessMode : int32_t { kRealtime = 0, kPrefetch = 1, kOffline = 2 };

struct ProcessSetup {
    int32_t processMode;
    int32_t symbolicSampleSize;
    int32_t maxSamplesPerBlock;
    double sampleRate;
};

struct AudioBusBuffers {
    int32_t numChannels;
    uint64_t silenceFlags;
    union {
        float** channelBuffers32;
        double** channelBuffers64;
    };
};

class IParameterChanges;
class IEventList;
struct ProcessContext;

struct ProcessData {
    int32_t processMode;
    int32_t symbolicSampleSize;
    int32_t numSamples;
    int32_t numInputs;
    int32_t numOutputs;
    AudioBusBuffers* inputs;
    AudioBusBuffers* outputs;
    IParameterChanges* inputParameterChanges;
    IParameterChanges* outputParameterChanges;
    IEventList* inputEvents;
    IEventList* outputEvents;
    ProcessContext* processContext;
};

class IAudioProcessor : public FUnknown {
public:
    virtual tresult VST3_API setBusArrangements(SpeakerArrangement* inputs, int32_t inputCount,
                                                SpeakerArrangement* outputs, int32_t outputCount) = 0;
    virtual tresult VST3_API getBusArrangement(int32_t direction, int32_t index, SpeakerArrangement& arrangement) = 0;
    virtual tresult VST3_API canProcessSampleSize(int32_t size) = 0;
    virtual uint32_t VST3_API getLatencySamples() = 0;
    virtual tresult VST3_API setupProcessing(ProcessSetup& setup) = 0;
    virtual tresult VST3_API setProcessing(TBool state) = 0;
    virtual tresult VST3_API process(ProcessData& data) = 0;
    virtual uint32_t VST3_API getTailSamples() = 0;
    static constexpr Uid iid = makeUid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);
};

class IProcessContextRequirements : public FUnknown {
public:
    virtual uint32_t VST3_API getProcessContextRequirements() = 0;
    static constexpr Uid iid = makeUid(0x2A654303, 0xEF764E3D, 0x95B5FE83, 0x730EF6D0);
};

class IParamValueQueue : public FUnknown {
public:
    virtual ParamID VST3_API getParameterId() = 0;
    virtual int32_t VST3_API getPointCount() = 0;
    virtual tresult VST3_API getPoint(int32_t index, int32_t& sampleOffset, ParamValue& value) = 0;
    virtual tresult VST3_API addPoint(int32_t sampleOffset, ParamValue value, int32_t& index) = 0;
    static constexpr Uid iid = makeUid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);
};

class IParameterChanges : public FUnknown {
public:
    virtual int32_t VST3_API getParameterCount() = 0;
    virtual IParamValueQueue* VST3_API getParameterData(int32_t index) = 0;
    virtual IParamValueQueue* VST3_API addParameterData(const ParamID& id, int32_t& index) = 0;
    static constexpr Uid iid = makeUid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);
};

// --- the controller ---------------------------------------------------------------------

struct ParameterInfo {
    enum : int32_t {
        kCanAutomate = 1 << 0,
        kIsReadOnly = 1 << 1,
        kIsList = 1 << 3,
        kIsHidden = 1 << 4,
        kIsProgramChange = 1 << 15,
        kIsBypass = 1 << 16,
    };
    ParamID id;
    String128 title;
    String128 shortTitle;
    String128 units;
    int32_t stepCount;
    ParamValue defaultNormalizedValue;
    int32_t unitId;
    int32_t flags;
};

enum RestartFlags : int32_t {
    kParamValuesChanged = 1 << 2,
    kParamTitlesChanged = 1 << 4,
    kMidiCCAssignmentChanged = 1 << 5,
};

class IComponentHandler : public FUnknown {
public:
    virtual tresult VST3_API beginEdit(ParamID id) = 0;
    virtual tresult VST3_API performEdit(ParamID id, ParamValue normalized) = 0;
    virtual tresult VST3_API endEdit(ParamID id) = 0;
    virtual tresult VST3_API restartComponent(int32_t flags) = 0;
    static constexpr Uid iid = makeUid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);
};

class IPlugView;

class IEditController : public IPluginBase {
public:
    virtual tresult VST3_API setComponentState(IBStream* state) = 0;
    virtual tresult VST3_API setState(IBStream* state) = 0;
    virtual tresult VST3_API getState(IBStream* state) = 0;
    virtual int32_t VST3_API getParameterCount() = 0;
    virtual tresult VST3_API getParameterInfo(int32_t index, ParameterInfo& info) = 0;
    virtual tresult VST3_API getParamStringByValue(ParamID id, ParamValue normalized, char16* text) = 0;
    virtual tresult VST3_API getParamValueByString(ParamID id, char16* text, ParamValue& normalized) = 0;
    virtual ParamValue VST3_API normalizedParamToPlain(ParamID id, ParamValue normalized) = 0;
    virtual ParamValue VST3_API plainParamToNormalized(ParamID id, ParamValue plain) = 0;
    virtual ParamValue VST3_API getParamNormalized(ParamID id) = 0;
    virtual tresult VST3_API setParamNormalized(ParamID id, ParamValue value) = 0;
    virtual tresult VST3_API setComponentHandler(IComponentHandler* handler) = 0;
    virtual IPlugView* VST3_API createView(FIDString name) = 0;
    static constexpr Uid iid = makeUid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);
};

class IEditController2 : public FUnknown {
public:
    virtual tresult VST3_API setKnobMode(int32_t mode) = 0;
    virtual tresult VST3_API openHelp(TBool onlyCheck) = 0;
    virtual tresult VST3_API openAboutBox(TBool onlyCheck) = 0;
    static constexpr Uid iid = makeUid(0x7F4EFE59, 0xF3204967, 0xAC27A3AE, 0xAFB63038);
};

class IMidiMapping : public FUnknown {
public:
    virtual tresult VST3_API getMidiControllerAssignment(int32_t busIndex, int16_t channel, int16_t controller,
                                                         ParamID& id) = 0;
    static constexpr Uid iid = makeUid(0xDF0FF9F7, 0x49B74669, 0xB63AB732, 0x7ADBF5E5);
};

inline constexpr int32_t kRootUnitId = 0, kNoParentUnitId = -1;

struct UnitInfo {
    int32_t id;
    int32_t parentUnitId;
    String128 name;
    int32_t programListId;
};

struct ProgramListInfo {
    int32_t id;
    String128 name;
    int32_t programCount;
};

class IUnitInfo : public FUnknown {
public:
    virtual int32_t VST3_API getUnitCount() = 0;
    virtual tresult VST3_API getUnitInfo(int32_t index, UnitInfo& info) = 0;
    virtual int32_t VST3_API getProgramListCount() = 0;
    virtual tresult VST3_API getProgramListInfo(int32_t index, ProgramListInfo& info) = 0;
    virtual tresult VST3_API getProgramName(int32_t listId, int32_t program, char16* name) = 0;
    virtual tresult VST3_API getProgramInfo(int32_t listId, int32_t program, const char* attribute, char16* value) = 0;
    virtual tresult VST3_API hasProgramPitchNames(int32_t listId, int32_t program) = 0;
    virtual tresult VST3_API getProgramPitchName(int32_t listId, int32_t program, int16_t pitch, char16* name) = 0;
    virtual int32_t VST3_API getSelectedUnit() = 0;
    virtual tresult VST3_API selectUnit(int32_t unitId) = 0;
    virtual tresult VST3_API getUnitByBus(int32_t type, int32_t direction, int32_t busIndex, int32_t channel,
                                          int32_t& unitId) = 0;
    virtual tresult VST3_API setUnitProgramData(int32_t listOrUnitId, int32_t program, IBStream* data) = 0;
    static constexpr Uid iid = makeUid(0x3D4BD6B5, 0x913A4FD2, 0xA886E768, 0xA5EB92C1);
};

// --- the editor ---------------------------------------------------------------------------

struct ViewRect {
    int32_t left, top, right, bottom;
};

inline constexpr const char* kPlatformTypeHWND = "HWND";
inline constexpr const char* kPlatformTypeX11EmbedWindowID = "X11EmbedWindowID";
#if defined(_WIN32)
inline constexpr const char* kPlatformType = kPlatformTypeHWND;
#else
inline constexpr const char* kPlatformType = kPlatformTypeX11EmbedWindowID;
#endif

class IPlugFrame;

class IPlugView : public FUnknown {
public:
    virtual tresult VST3_API isPlatformTypeSupported(FIDString type) = 0;
    virtual tresult VST3_API attached(void* parent, FIDString type) = 0;
    virtual tresult VST3_API removed() = 0;
    virtual tresult VST3_API onWheel(float distance) = 0;
    virtual tresult VST3_API onKeyDown(char16 key, int16_t keyCode, int16_t modifiers) = 0;
    virtual tresult VST3_API onKeyUp(char16 key, int16_t keyCode, int16_t modifiers) = 0;
    virtual tresult VST3_API getSize(ViewRect* size) = 0;
    virtual tresult VST3_API onSize(ViewRect* size) = 0;
    virtual tresult VST3_API onFocus(TBool state) = 0;
    virtual tresult VST3_API setFrame(IPlugFrame* frame) = 0;
    virtual tresult VST3_API canResize() = 0;
    virtual tresult VST3_API checkSizeConstraint(ViewRect* rect) = 0;
    static constexpr Uid iid = makeUid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);
};

class IPlugFrame : public FUnknown {
public:
    virtual tresult VST3_API resizeView(IPlugView* view, ViewRect* size) = 0;
    static constexpr Uid iid = makeUid(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);
};

// Also what some hosts know as their own view-scaling extension: the same identifier and method.
class IPlugViewContentScaleSupport : public FUnknown {
public:
    virtual tresult VST3_API setContentScaleFactor(float factor) = 0;
    static constexpr Uid iid = makeUid(0x65ED9690, 0x8AC44525, 0x8AADEF7A, 0x72EA703F);
};

// The host's run loop on Linux, found through the view's frame: descriptors
// it watches and timers it calls, all on its user-interface thread.
class IEventHandler : public FUnknown {
public:
    virtual void VST3_API onFDIsSet(int fd) = 0;
    static constexpr Uid iid = makeUid(0x561E65C9, 0x13A0496F, 0x813A2C35, 0x654D7983);
};

class ITimerHandler : public FUnknown {
public:
    virtual void VST3_API onTimer() = 0;
    static constexpr Uid iid = makeUid(0x10BDD94F, 0x41424774, 0x821FAD8F, 0xECA72CA9);
};

class IRunLoop : public FUnknown {
public:
    virtual tresult VST3_API registerEventHandler(IEventHandler* handler, int fd) = 0;
    virtual tresult VST3_API unregisterEventHandler(IEventHandler* handler) = 0;
    virtual tresult VST3_API registerTimer(ITimerHandler* handler, uint64_t milliseconds) = 0;
    virtual tresult VST3_API unregisterTimer(ITimerHandler* handler) = 0;
    static constexpr Uid iid = makeUid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);
};

// --- the published layouts ------------------------------------------------------------------

static_assert(sizeof(PFactoryInfo) == 452 && sizeof(PClassInfo) == 116);
static_assert(sizeof(PClassInfo2) == 440 && sizeof(PClassInfoW) == 696);
static_assert(sizeof(BusInfo) == 276 && sizeof(RoutingInfo) == 12);
static_assert(offsetof(ProcessSetup, sampleRate) == 16 && sizeof(ProcessSetup) == 24);
static_assert(offsetof(AudioBusBuffers, silenceFlags) == 8 && offsetof(AudioBusBuffers, channelBuffers32) == 16);
static_assert(offsetof(ProcessData, inputs) == (sizeof(void*) == 8 ? 24 : 20));
static_assert(offsetof(ParameterInfo, defaultNormalizedValue) == 776 && sizeof(ParameterInfo) == 792);
static_assert(sizeof(UnitInfo) == 268 && sizeof(ProgramListInfo) == 264 && sizeof(ViewRect) == 16);

}  // namespace vst3
