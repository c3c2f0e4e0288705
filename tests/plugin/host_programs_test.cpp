// Programs and parameters through the dispatcher: the factory presets, naming,
// edits kept per program, the host's parameter texts, and refused indexes.
#include "support/guarded_text.h"
#include "support/plugin_fixture.h"

#include <string>
#include <thread>
#include <vector>

namespace {

const char* const presetNames[] = {"Drum Buss Squisher", "Gone Nuclear", "Full Monty", "Just a touch",
                                   "NY Compression"};
const float firstPreset[] = {0.523857f, 0.489787f, 0.277769f, 0.585f, 0.47526f, 1.0f};

std::string programNameIndexed(PluginInstance& plugin, VstInt32 index, VstIntPtr* result = nullptr) {
    char text[kVstMaxProgNameLen + 8];
    std::memset(text, '#', sizeof text);
    text[sizeof text - 1] = '\0';
    const VstIntPtr r = plugin.dispatch(effGetProgramNameIndexed, index, 0, text);
    if (result) *result = r;
    return text;
}

TEST(HostPrograms, FreshInstanceIsTheFirstPreset) {
    auto plugin = newTolvane();
    EXPECT_EQ(plugin->dispatch(effGetProgram), 0);
    EXPECT_EQ(plugin->text(effGetProgramName), "Drum Buss Squisher");
    for (VstInt32 i = 0; i < 6; ++i) EXPECT_EQ(plugin->getParameter(i), firstPreset[i]) << "parameter " << i;
    for (VstInt32 p = 0; p < 5; ++p) EXPECT_EQ(programNameIndexed(*plugin, p), presetNames[p]);
}

TEST(HostPrograms, SwitchingAppliesAndKeepsEdits) {
    auto plugin = newTolvane();
    plugin->dispatch(effSetProgram, 0, 4);
    EXPECT_EQ(plugin->getParameter(5), 0.356164f);
    plugin->dispatch(effSetProgram, 0, 1);
    plugin->setParameter(0, 0.9f);
    plugin->dispatch(effSetProgram, 0, 3);
    EXPECT_EQ(plugin->getParameter(0), 0.318857f);
    plugin->dispatch(effSetProgram, 0, 1);
    EXPECT_EQ(plugin->getParameter(0), 0.9f) << "program 1 kept its edit";
}

TEST(HostPrograms, ProgramNumbersOutsideTheTableAreRefused) {
    auto plugin = newTolvane();
    plugin->setParameter(2, 0.75f);
    for (VstIntPtr bad : {5, 6, 1000, -1, -5}) {
        EXPECT_EQ(plugin->dispatch(effSetProgram, 0, bad), 0);
        EXPECT_EQ(plugin->dispatch(effGetProgram), 0) << "program " << bad;
        EXPECT_EQ(plugin->getParameter(2), 0.75f) << "nothing re-applied for " << bad;
    }
}

TEST(HostPrograms, InitNamesGetTheirNumber) {
    auto plugin = newTolvane();
    plugin->dispatch(effSetProgram, 0, 2);
    char init[] = "init";
    plugin->dispatch(effSetProgramName, 0, 0, init);
    EXPECT_EQ(plugin->text(effGetProgramName), "init 3");
    EXPECT_EQ(programNameIndexed(*plugin, 2), "init") << "the list shows the stored name";
}

TEST(HostPrograms, IndexedNamesOutsideTheTableLeaveTheTextAlone) {
    auto plugin = newTolvane();
    plugin->dispatch(effSetProgram, 0, 3);
    VstIntPtr result = -1;
    for (VstInt32 p = 0; p < 5; ++p) {
        EXPECT_EQ(programNameIndexed(*plugin, p, &result), presetNames[p]);
        EXPECT_EQ(result, 1);
    }
    for (VstInt32 bad : {5, 17, -1}) {
        EXPECT_EQ(programNameIndexed(*plugin, bad, &result), std::string(kVstMaxProgNameLen + 7, '#'));
        EXPECT_EQ(result, 0) << bad;
    }
}

TEST(HostPrograms, LongNamesKeepTheirFirst23Characters) {
    auto plugin = newTolvane();
    char longName[] = "A program name far longer than twenty-three characters";
    plugin->dispatch(effSetProgramName, 0, 0, longName);
    EXPECT_EQ(plugin->text(effGetProgramName), "A program name far long");
    GuardedText text(kVstMaxProgNameLen);
    plugin->dispatch(effGetProgramName, 0, 0, text.data());
    EXPECT_TRUE(text.guardIntact());
    // The neighbouring program is untouched.
    EXPECT_EQ(programNameIndexed(*plugin, 1), "Gone Nuclear");
}

TEST(HostParameters, TextsAtLengthEight) {
    auto plugin = newTolvane();
    const char* names[] = {"Ratio", "Attack", "Release", "Sense", "Makeup", "Active"};
    const char* labels[] = {" ", "", "", "dB", "dB", " "};
    const char* displays[] = {"  12:1", "5.4", "3.5", " -35", "  14", "100%"};
    for (VstInt32 i = 0; i < 6; ++i) {
        GuardedText name(9), label(9), display(8);
        plugin->dispatch(effGetParamName, i, 0, name.data());
        plugin->dispatch(effGetParamLabel, i, 0, label.data());
        plugin->dispatch(effGetParamDisplay, i, 0, display.data());
        EXPECT_EQ(name.str(), names[i]);
        EXPECT_EQ(label.str(), labels[i]);
        EXPECT_EQ(display.str(), displays[i]);
        EXPECT_TRUE(name.guardIntact() && label.guardIntact() && display.guardIntact()) << "parameter " << i;
    }
    plugin->setParameter(0, 1.0f);
    EXPECT_EQ(plugin->text(effGetParamDisplay, 0), "1000:1");
    plugin->setParameter(3, 1.0f);
    EXPECT_EQ(plugin->text(effGetParamDisplay, 3), " -60");
}

TEST(HostParameters, IndexesOutsideTheSixAreRefused) {
    auto plugin = newTolvane();
    for (VstInt32 bad : {-1, 6, 7, -100000}) {
        plugin->setParameter(bad, 0.25f);
        EXPECT_EQ(plugin->getParameter(bad), 0.0f) << bad;
        for (VstInt32 opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
            GuardedText text(9, '#');
            plugin->dispatch(opcode, bad, 0, text.data());
            EXPECT_EQ(text.str(), "") << "opcode " << opcode << " index " << bad;
            EXPECT_TRUE(text.guardIntact());
        }
    }
    for (VstInt32 i = 0; i < 6; ++i) EXPECT_EQ(plugin->getParameter(i), firstPreset[i]) << "parameter " << i;
    EXPECT_EQ(plugin->text(effGetProgramName), "Drum Buss Squisher");
}

TEST(HostParameters, ChangesLandInTheCurrentProgram) {
    auto plugin = newTolvane();
    plugin->dispatch(effSetProgram, 0, 2);
    plugin->setParameter(4, 0.125f);
    plugin->dispatch(effSetProgram, 0, 0);
    EXPECT_EQ(plugin->getParameter(4), 0.47526f);
    plugin->dispatch(effSetProgram, 0, 2);
    EXPECT_EQ(plugin->getParameter(4), 0.125f);
}

}  // namespace

namespace {

// What the host heard of the display: each parameter's new value (automate, 0)
// and "update display" (42), with the thread that sent it.
struct Heard {
    std::thread::id thread;
    VstInt32 opcode, index;
    float value;
    bool operator==(const Heard&) const = default;
};
std::vector<Heard> heard;
VstIntPtr VSTCALLBACK displayHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*, float opt) {
    if (opcode == audioMasterAutomate || opcode == audioMasterUpdateDisplay)
        heard.push_back({std::this_thread::get_id(), opcode, opcode == audioMasterAutomate ? index : 0, opt});
    return opcode == audioMasterVersion ? 2400 : 0;
}

// A program change sends every parameter's new value, then "update display";
// a rename only the latter. Both go on the thread that made the change; one
// on the audio thread waits for the next call off it (an idle).
TEST(HostPrograms, ProgramChangesTellTheHostOffTheAudioThread) {
    heard.clear();
    AEffect* effect = tolvaneLibrary().callEntryPoint(displayHost);
    ASSERT_NE(effect, nullptr);
    auto dispatch = [&](VstInt32 opcode, VstIntPtr value = 0, void* ptr = nullptr) {
        return effect->dispatcher(effect, opcode, 0, value, ptr, 0.0f);
    };
    const std::thread::id ui = std::this_thread::get_id();
    auto programChange = [&] {
        std::vector<Heard> told;
        for (VstInt32 i = 0; i < 6; ++i) told.push_back({ui, audioMasterAutomate, i, effect->getParameter(effect, i)});
        told.push_back({ui, audioMasterUpdateDisplay, 0, 0.0f});
        return told;
    };
    dispatch(effSetProgram, 2);
    EXPECT_EQ(heard, programChange());
    EXPECT_EQ(heard[0].value, 1.0f) << "Full Monty's ratio";
    heard.clear();
    char name[] = "Mine";
    dispatch(effSetProgramName, 0, name);
    EXPECT_EQ(heard, (std::vector<Heard>{{ui, audioMasterUpdateDisplay, 0, 0.0f}}));

    heard.clear();
    dispatch(effMainsChanged, 1);
    std::thread audio([&] {
        std::vector<float> in(64), out(64);
        float* inputs[2] = {in.data(), in.data()};
        float* outputs[2] = {out.data(), out.data()};
        effect->processReplacing(effect, inputs, outputs, 64);
        dispatch(effSetProgram, 3);  // as a host's automation of programs may
    });
    audio.join();
    EXPECT_TRUE(heard.empty()) << "nothing on the audio thread";
    dispatch(effEditIdle);
    EXPECT_EQ(heard, programChange()) << "the next idle sends it";
    dispatch(effEditIdle);
    EXPECT_EQ(heard.size(), 7u) << "once";
    dispatch(effClose);
}

}  // namespace
