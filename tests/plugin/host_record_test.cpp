// Tolvane.so as a host meets it: the exports, the entry point, the record and
// the dispatcher's fixed answers.
#include "support/guarded_text.h"
#include "support/plugin_fixture.h"
#include "support/temp_folder.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

VstIntPtr VSTCALLBACK versionZeroHost(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) { return 0; }
VstIntPtr VSTCALLBACK version2Host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2 : 0;  // some hosts answer 2, not 2400
}

TEST(HostEntry, ExportsOnlyTheEntryPointTwice) {
    PluginLibrary& library = tolvaneLibrary();
    ASSERT_TRUE(library.loaded()) << library.error();
    EXPECT_NE(library.symbol("VSTPluginMain"), nullptr);
    EXPECT_EQ(library.symbol("main"), library.symbol("VSTPluginMain")) << "main is the same function";
    EXPECT_EQ(library.symbol("_ZN7Tolvane16processReplacingEPPfS1_i"), nullptr) << "internal symbols stay hidden";
}

TEST(HostEntry, RefusesAHostThatReportsNoVersion) {
    EXPECT_EQ(tolvaneLibrary().callEntryPoint(versionZeroHost), nullptr);
    EXPECT_EQ(tolvaneLibrary().callEntryPoint(nullptr), nullptr) << "no callback, no instance";
    AEffect* effect = tolvaneLibrary().callEntryPoint(version2Host);
    ASSERT_NE(effect, nullptr) << "any nonzero version is accepted";
    EXPECT_EQ(effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f), 1);
}

TEST(HostRecord, FreshInstance) {
    auto plugin = newTolvane();
    const AEffect* e = plugin->effect();
    EXPECT_EQ(e->magic, 0x56737450);
    EXPECT_EQ(e->flags, 0x11) << "an editor and replacing; no chunks, not a synth, no doubles";
    EXPECT_EQ(e->numPrograms, 5);
    EXPECT_EQ(e->numParams, 6);
    EXPECT_EQ(e->numInputs, 2);
    EXPECT_EQ(e->numOutputs, 2);
    EXPECT_EQ(e->uniqueID, 0x514D7476);
    EXPECT_EQ(e->version, 1);
    EXPECT_EQ(e->ioRatio, 1.0f);
    EXPECT_EQ(e->initialDelay, 0);
    EXPECT_EQ(e->resvd1, 0);
    EXPECT_EQ(e->resvd2, 0);
    EXPECT_NE(e->object, nullptr);
    EXPECT_TRUE(e->dispatcher && e->process && e->processReplacing && e->processDoubleReplacing && e->setParameter &&
                e->getParameter);
    const char zeros[56] = {};
    EXPECT_EQ(std::memcmp(e->future, zeros, sizeof zeros), 0);
}

// Hosts size their window before the editor first opens: a size the user
// chose in an earlier session counts from the first instance of a process.
TEST(HostRecord, TheEditorsFirstSizeIsTheOneTheUserKept) {
    TempFolder folder;
    const std::string settings = useSettingsRoot(folder.path());
    std::filesystem::create_directories(settings);
    writeText(settings + "/Tolvane Editor Size.txt", "150 %\n");
    // A copy loads as a library of its own, as in a fresh process.
    std::filesystem::path plugin = TOLVANE_PLUGIN_PATH;
#if defined(_WIN32)
    char program[MAX_PATH];  // the DLL is found beside the test programs
    ASSERT_GT(GetModuleFileNameA(nullptr, program, MAX_PATH), 0u);
    plugin = std::filesystem::path(program).parent_path() / plugin;
#endif
    const std::string copy = folder / plugin.filename().string();
    std::filesystem::copy_file(plugin, copy);
    PluginLibrary library(copy);
    auto instance = library.createInstance();
    ASSERT_TRUE(instance) << library.error();
    ERect* rect = nullptr;
    ASSERT_EQ(instance->dispatch(effEditGetRect, 0, 0, &rect), 1);
    EXPECT_EQ((std::vector<int>{rect->bottom, rect->right}), (std::vector<int>{300, 1125}));
}

TEST(HostOpcodes, FixedAnswers) {
    auto plugin = newTolvane();
    EXPECT_EQ(plugin->dispatch(effOpen), 0);
    EXPECT_EQ(plugin->dispatch(effGetVu), 0);
    EXPECT_EQ(plugin->dispatch(effIdentify), 0x4E764566);
    EXPECT_EQ(plugin->dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(plugin->dispatch(effGetVendorVersion), 1000);
    EXPECT_EQ(plugin->dispatch(effGetPlugCategory), 1);
    EXPECT_EQ(plugin->dispatch(effKeysRequired), 1);
    EXPECT_EQ(plugin->dispatch(effGetNumProgramCategories), 1);
    EXPECT_EQ(plugin->dispatch(effConnectInput), 1);
    EXPECT_EQ(plugin->dispatch(effConnectOutput), 1);
    EXPECT_EQ(plugin->dispatch(effGetCurrentMidiProgram), -1);
    EXPECT_EQ(plugin->dispatch(effSetTotalSampleToProcess, 0, 512), 512);
    EXPECT_EQ(plugin->dispatch(effSetBlockSizeAndSampleRate, 0, 256, nullptr, 48000.0f), 1);
    for (VstInt32 index : {-1, 0, 5, 6, 99}) EXPECT_EQ(plugin->dispatch(effCanBeAutomated, index), 1) << index;

    void* inputArrangement = &inputArrangement;
    void* outputArrangement = &outputArrangement;
    EXPECT_EQ(plugin->dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&inputArrangement),
                               &outputArrangement),
              0);
    EXPECT_EQ(inputArrangement, nullptr);
    EXPECT_EQ(outputArrangement, nullptr);

    VstEvents none{};
    EXPECT_EQ(plugin->dispatch(effProcessEvents, 0, 0, &none), 1);

    // The editor's size is known before it opens; a closed editor uses no key.
    ERect* rect = nullptr;
    EXPECT_EQ(plugin->dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ((std::vector<int>{rect->top, rect->left, rect->bottom, rect->right}), (std::vector<int>{0, 0, 200, 750}));
    EXPECT_EQ(plugin->dispatch(effEditKeyDown, 'a', 0), 0);
    EXPECT_EQ(plugin->dispatch(effSetEditKnobMode, 0, 2), 1);

    const VstInt32 silent[] = {16, 17, 18, 20, 21, 23, 24, 27, 30, 33, 34, 36, 37, 38, 39, 40, 41, 42, 44, 46, 50, 52,
                               53, 54, 55, 56, 62, 64, 65, 66, 67, 68, 70, 71, 72, 74, 75, 76, 77, 78, 79, 80, 500};
    char scratch[512] = {};
    for (VstInt32 opcode : silent) EXPECT_EQ(plugin->dispatch(opcode, 0, 0, scratch), 0) << "opcode " << opcode;
}

// Hosts pass the arrangement pointers' addresses in value and ptr; one that is
// missing or misaligned is no such address, and nothing is written at all.
TEST(HostOpcodes, SpeakerArrangementWritesOnlyThroughTwoUsablePointers) {
    auto plugin = newTolvane();
    enum Kind { usable, none, misaligned };
    for (auto [input, output] : {std::pair{usable, none},
                                 {none, usable},
                                 {usable, misaligned},
                                 {misaligned, usable},
                                 {misaligned, misaligned},
                                 {none, none}}) {
        alignas(void*) unsigned char in[2 * sizeof(void*)], out[2 * sizeof(void*)];
        std::memset(in, 0xA5, sizeof in);
        std::memset(out, 0xA5, sizeof out);
        auto pointer = [](Kind kind, unsigned char* bytes) -> void* {
            return kind == usable ? bytes : kind == misaligned ? bytes + 1 : nullptr;
        };
        EXPECT_EQ(plugin->dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(pointer(input, in)),
                                   pointer(output, out)),
                  0);
        const bool untouched = std::all_of(in, in + sizeof in, [](unsigned char b) { return b == 0xA5; }) &&
                               std::all_of(out, out + sizeof out, [](unsigned char b) { return b == 0xA5; });
        EXPECT_TRUE(untouched) << "input kind " << input << ", output kind " << output;
    }
}

TEST(HostOpcodes, ClosingAnswersOne) {
    auto plugin = newTolvane();
    EXPECT_EQ(plugin->close(), 1);
}

TEST(HostIdentity, NamesAndCapabilities) {
    auto plugin = newTolvane();
    EXPECT_EQ(plugin->dispatch(effGetPlugCategory), 1) << "some hosts ask before effOpen";
    EXPECT_EQ(plugin->text(effGetEffectName), "Tolvane");
    EXPECT_EQ(plugin->text(effGetVendorString), "Quenmark, Inc.");
    EXPECT_EQ(plugin->text(effGetProductString), "Tolvane");
    EXPECT_EQ(plugin->dispatch(effGetEffectName, 0, 0, nullptr), 0) << "a host without a buffer gets nothing";
    for (const char* yes :
         {"receiveVstMidiEvent", "plugAsSend", "1in1out", "1in2out", "2in2out", "plugAsChannelInsert"}) {
        char text[64];
        std::strcpy(text, yes);
        EXPECT_EQ(plugin->dispatch(effCanDo, 0, 0, text), 1) << yes;
    }
    for (const char* no : {"sendVstMidiEvent", "bypass", "2in2OUT", "", "receiveVstMidiEvents"}) {
        char text[64];
        std::strcpy(text, no);
        EXPECT_EQ(plugin->dispatch(effCanDo, 0, 0, text), 0) << no;
    }
}

// Each text opcode in a buffer of the size hosts give it: the names write their
// text and its terminator and nothing after it, the parameter texts no more than 9 bytes.
TEST(HostTexts, NoOpcodeWritesPastWhatItMayWrite) {
    auto plugin = newTolvane();
    char longName[] = "Twenty-three characters";
    plugin->dispatch(effSetProgram, 0, 1);
    plugin->dispatch(effSetProgramName, 0, 0, longName);
    plugin->setParameter(0, 1.0f);
    struct Case {
        VstInt32 opcode, index;
        const char* text;
        size_t size, written;
    };
    const Case cases[] = {
        {effGetEffectName, 0, "Tolvane", 32, 8},
        {effGetVendorString, 0, "Quenmark, Inc.", 64, 15},
        {effGetProductString, 0, "Tolvane", 64, 8},
        {effGetProgramName, 0, longName, 24, 24},
        {effGetProgramNameIndexed, 1, longName, 24, 24},
        {effGetProgramNameIndexed, 4, "NY Compression", 24, 15},
        {effGetParamName, 4, "Makeup", 9, 9},
        {effGetParamLabel, 3, "dB", 9, 9},
        {effGetParamDisplay, 0, "1000:1", 9, 9},
        {effGetParamName, 6, "", 9, 9},
        {effGetParamLabel, 6, "", 9, 9},
        {effGetParamDisplay, 6, "", 9, 9},
    };
    for (const Case& c : cases) {
        GuardedText text(c.size);
        plugin->dispatch(c.opcode, c.index, 0, text.data());
        EXPECT_EQ(text.str(), c.text) << "opcode " << c.opcode << " index " << c.index;
        EXPECT_TRUE(text.intactFrom(c.written)) << "opcode " << c.opcode << " index " << c.index;
    }
}

}  // namespace
