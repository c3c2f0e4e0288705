// What a careless or hostile host may send: values that are no numbers, values
// outside 0..1, malformed MIDI, and unloading the library under an open instance.
#include "support/plugin_fixture.h"
#include "support/temp_folder.h"

#include <cmath>
#include <filesystem>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

void resume(PluginInstance& plugin) { plugin.dispatch(effMainsChanged, 0, 1); }

struct MidiEvents {
    VstInt32 numEvents = 1;
    VstIntPtr reserved = 0;
    VstEvent* events[1];
    VstMidiEvent event{};
    MidiEvents(uint8_t status, uint8_t data1, uint8_t data2) {
        event.type = kVstMidiType;
        event.byteSize = sizeof event;
        event.midiData[0] = static_cast<char>(status);
        event.midiData[1] = static_cast<char>(data1);
        event.midiData[2] = static_cast<char>(data2);
        events[0] = reinterpret_cast<VstEvent*>(&event);
    }
};

TEST(HostHostile, ValuesThatAreNoNumbersAreRefusedAndLeaveNoTrace) {
    const StereoBuffer in = burstSignal(8192);
    for (VstInt32 index = 0; index < 6; ++index) {
        for (float bad : {NAN, INFINITY, -INFINITY}) {
            auto plugin = newTolvane(), reference = newTolvane();
            for (auto* p : {plugin.get(), reference.get()}) p->setParameter(index, 0.3f), resume(*p);
            plugin->setParameter(index, bad);
            EXPECT_EQ(plugin->getParameter(index), 0.3f) << index << " " << bad;
            EXPECT_EQ(processInBlocks(*plugin, in), processInBlocks(*reference, in)) << index << " " << bad;
            // Nor does it hide in the program, to come back with a program change.
            for (auto* p : {plugin.get(), reference.get()})
                p->dispatch(effSetProgram, 0, 1), p->dispatch(effSetProgram, 0, 0);
            EXPECT_EQ(plugin->getParameter(index), 0.3f);
            EXPECT_EQ(processInBlocks(*plugin, in), processInBlocks(*reference, in)) << index << " " << bad;
        }
    }
}

TEST(HostHostile, ValuesOutsideTheRangeAreKeptButTheSoundUsesTheEnds) {
    struct Case {
        VstInt32 index;
        float given, limited;
    };
    const StereoBuffer in = burstSignal(8192);
    for (const Case c : {Case{0, 7.0f, 1.0f},
                         {1, -2.0f, 0.0f},
                         {2, -0.5f, 0.0f},
                         {3, 1.5f, 1.0f},
                         {4, 40.0f, 1.0f},
                         {5, 1.44f, 1.0f},
                         {5, -0.44f, 0.0f}}) {
        auto plugin = newTolvane(), reference = newTolvane();
        plugin->setParameter(c.index, c.given);
        reference->setParameter(c.index, c.limited);
        EXPECT_EQ(plugin->getParameter(c.index), c.given) << "hosts read back what they set";
        resume(*plugin);
        resume(*reference);
        const StereoBuffer out = processInBlocks(*plugin, in);
        EXPECT_EQ(out, processInBlocks(*reference, in)) << c.index << " " << c.given;
    }
}

TEST(HostHostile, ControlChangesWithBadDataBytesAreIgnored) {
    TempFolder folder;
    const std::string settings = useSettingsRoot(folder.path());
    std::filesystem::create_directories(settings);
    writeText((std::filesystem::path(settings) / "Tolvane MIDI Assignments.txt").string(), "5 7\n");  // 7 drives Active
    auto plugin = newTolvane();
    resume(*plugin);
    const float active = plugin->getParameter(5);
    // Bound or not, none of these may reach a parameter; 0xFF must not pass for "no controller".
    for (auto [controller, value] : {std::pair{7, 200}, {0xFF, 64}, {0x80, 0}, {7, 0x80}}) {
        MidiEvents events(0xB0, static_cast<uint8_t>(controller), static_cast<uint8_t>(value));
        EXPECT_EQ(plugin->dispatch(effProcessEvents, 0, 0, &events), 1);
    }
    EXPECT_EQ(plugin->getParameter(5), active);
}

TEST(HostHostile, KeyModifiersThatAreNoByteAreNone) {
    auto plugin = newTolvane();
    for (float modifiers : {NAN, INFINITY, -1.0f, 1e30f})  // undefined behaviour once (the fuzzer found it)
        EXPECT_EQ(plugin->dispatch(effEditKeyDown, 'a', 0, nullptr, modifiers), 0);
}

#if !defined(_WIN32)
// A scanner's way: load, make an instance, unload the library without closing
// it. Nothing of the plug-in may still run afterwards. In a child process, on a
// copy of the library, so the unload is real.
TEST(HostHostile, UnloadingTheLibraryUnderAnOpenInstanceIsSafe) {
    TempFolder folder;
    const std::string copy = folder / "Tolvane-copy.so";
    std::filesystem::copy_file(TOLVANE_PLUGIN_PATH, copy);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int round = 0; round < 20; ++round) {
            auto library = std::make_unique<PluginLibrary>(copy);
            if (!library->loaded()) _exit(2);
            auto instance = library->createInstance();
            MidiEvents events(0xB0, 7, 100);
            instance->dispatch(effMainsChanged, 0, 1);
            instance->dispatch(effProcessEvents, 0, 0, &events);
            (void)instance.release();  // never closed
            library.reset();
            usleep(30000);  // long enough for any timer of ours to fire
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "the child died of signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
