// MIDI control and learn on the effect: priming, binding, cancelling, which
// messages count, and the assignments file as instances read and write it.
#include "Tolvane.h"
#include "qm_controllerAssignments.h"
#include "support/lock_holder.h"
#include "support/temp_folder.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// A VstEvents list with room for many events.
struct EventList {
    VstInt32 numEvents = 0;
    VstIntPtr reserved = 0;
    VstEvent* events[64] = {};
    std::vector<VstMidiEvent> storage = std::vector<VstMidiEvent>(64);

    EventList& add(uint8_t status, uint8_t data1, uint8_t data2, VstInt32 type = kVstMidiType) {
        VstMidiEvent& e = storage[static_cast<size_t>(numEvents)];
        e = VstMidiEvent{};
        e.type = type;
        e.byteSize = sizeof e;
        e.midiData[0] = static_cast<char>(status);
        e.midiData[1] = static_cast<char>(data1);
        e.midiData[2] = static_cast<char>(data2);
        events[numEvents++] = reinterpret_cast<VstEvent*>(&e);
        return *this;
    }
    EventList& cc(uint8_t controller, uint8_t value = 100, uint8_t channel = 0) {
        return add(static_cast<uint8_t>(0xB0 | channel), controller, value);
    }
    VstEvents* list() { return reinterpret_cast<VstEvents*>(this); }
};

// Records the parameter changes and learn outlines that would reach the editor, in order.
struct Recorder : TolvaneEngine::Observer {
    std::vector<std::pair<int32_t, float>> changes;
    std::vector<std::pair<int32_t, bool>> calls;
    void parameterChanged(int32_t index, float value) override { changes.emplace_back(index, value); }
    void learnChanged(int32_t tag, bool on) override { calls.emplace_back(tag, on); }
};

class MidiLearn : public ::testing::Test {
protected:
    void SetUp() override {
        settings = useSettingsRoot(folder.path());
        tolvaneLastController().store(255);
    }
    std::string assignmentsFile() const { return settings + "/Tolvane MIDI Assignments.txt"; }
    std::unique_ptr<Tolvane> newEffect() { return std::make_unique<Tolvane>(nullptr); }
    static void send(Tolvane& effect, EventList events) { effect.processEvents(events.list()); }
    static std::vector<qm_controllerAssignment> table(Tolvane& effect) {
        return effect.getEngine().getControllerAssignments().entries();
    }

    TempFolder folder;
    std::string settings;
};

using Table = std::vector<qm_controllerAssignment>;

TEST_F(MidiLearn, TheSameControllerTwiceInARowBinds) {
    auto effect = newEffect();
    effect->getEngine().toggleLearn(2);
    EXPECT_EQ(effect->getEngine().isLearning(), true);
    send(*effect, EventList().cc(7));
    EXPECT_EQ(effect->getEngine().isLearning(), true) << "the first message only primes";
    EXPECT_TRUE(table(*effect).empty());
    send(*effect, EventList().cc(7));
    EXPECT_EQ(effect->getEngine().isLearning(), false);
    EXPECT_EQ(table(*effect), (Table{{7, 2}}));
    EXPECT_EQ(tolvaneLastController().load(), 255) << "a completed learn forgets the controller";
}

TEST_F(MidiLearn, EachNewControllerRestartsPriming) {
    auto effect = newEffect();
    effect->getEngine().toggleLearn(1);
    send(*effect, EventList().cc(7).cc(10).cc(7));
    EXPECT_EQ(effect->getEngine().isLearning(), true);
    EXPECT_TRUE(table(*effect).empty()) << "7, 10, 7 binds nothing";
    send(*effect, EventList().cc(10).cc(10));
    EXPECT_EQ(table(*effect), (Table{{10, 1}})) << "then 10, 10 binds 10";
}

// A 14-bit controller sends its coarse number n (0..31), then its fine number
// n + 32, for every move (or the fine one alone while the coarse part stays).
TEST_F(MidiLearn, FourteenBitControllersBindTheirCoarseNumber) {
    struct Case {
        std::vector<uint8_t> stream;
        Table bound;
    };
    const Case cases[] = {
        {{7, 39, 7, 39, 7, 39}, {{7, 2}}},
        {{0, 32, 0, 32}, {{0, 2}}},
        {{31, 63, 31, 63}, {{31, 2}}},
        {{7, 39, 39, 39, 7}, {{7, 2}}},
        {{40, 40}, {{40, 2}}},  // a fine number alone is a controller like any other
        {{5, 40, 40}, {{40, 2}}},
        {{8, 41, 41}, {{41, 2}}},  // not the fine number of 8
        {{64, 96, 64}, {}},        // controllers from 64 have no fine number
    };
    for (const Case& c : cases) {
        std::filesystem::remove(assignmentsFile());
        tolvaneLastController().store(255);
        auto effect = newEffect();
        effect->getEngine().toggleLearn(2);
        EventList events;
        for (uint8_t controller : c.stream) events.cc(controller);
        send(*effect, events);
        EXPECT_EQ(table(*effect), c.bound) << "stream starting " << int(c.stream[0]) << ", " << int(c.stream[1]);
    }
}

TEST_F(MidiLearn, NoValueIsAppliedWhileLearning) {
    auto effect = newEffect();
    send(*effect, EventList().cc(7).cc(7));  // idle: nothing bound, nothing moves
    effect->getEngine().toggleLearn(3);
    const float before = effect->getParameter(3);
    send(*effect, EventList().cc(7, 0).cc(7, 0).cc(7, 0));
    // The third message arrives after the learn completed and moves the parameter.
    EXPECT_EQ(effect->getParameter(3), 0.0f);
    EXPECT_NE(before, 0.0f);
}

TEST_F(MidiLearn, LastControllerSurvivesACancelledLearn) {
    auto effect = newEffect();
    effect->getEngine().toggleLearn(1);
    send(*effect, EventList().cc(9));
    effect->getEngine().toggleLearn(1);  // cancel
    EXPECT_EQ(effect->getEngine().isLearning(), false);
    EXPECT_EQ(tolvaneLastController().load(), 9);
    effect->getEngine().toggleLearn(4);
    send(*effect, EventList().cc(9));
    EXPECT_EQ(table(*effect), (Table{{9, 4}})) << "the first message of the same number binds at once";
}

TEST_F(MidiLearn, LastControllerIsSharedByInstances) {
    auto first = newEffect(), second = newEffect();
    first->getEngine().toggleLearn(0);
    second->getEngine().toggleLearn(5);
    send(*first, EventList().cc(21));
    send(*second, EventList().cc(21));
    EXPECT_EQ(table(*second), (Table{{21, 5}}));
    EXPECT_EQ(first->getEngine().isLearning(), true);
}

TEST_F(MidiLearn, RelearningAPairMovesItBehindItsController) {
    auto effect = newEffect();
    for (VstInt32 p : {1, 2, 1}) {
        effect->getEngine().toggleLearn(p);
        send(*effect, EventList().cc(7).cc(7));
    }
    EXPECT_EQ(table(*effect), (Table{{7, 2}, {7, 1}})) << "no duplicate, re-learned pair last";
}

TEST_F(MidiLearn, ArmingAnotherControlMovesTheHighlight) {
    auto effect = newEffect();
    Recorder highlight;
    effect->getEngine().toggleLearn(0);  // before anyone listens
    effect->getEngine().setObserver(&highlight);
    effect->getEngine().toggleLearn(3);
    EXPECT_EQ(effect->getEngine().getLearnParameter(), 3);
    send(*effect, EventList().cc(5).cc(5));
    effect->getEngine().toggleLearn(4);
    effect->getEngine().toggleLearn(4);
    const std::vector<std::pair<int32_t, bool>> expected = {{0, false}, {3, true}, {3, false}, {4, true}, {4, false}};
    EXPECT_EQ(highlight.calls, expected);
    effect->getEngine().setObserver(nullptr);
}

TEST_F(MidiLearn, OneControllerSetsItsParametersInBindingOrder) {
    auto effect = newEffect();
    Recorder recorder;
    std::vector<std::pair<int32_t, float>>& changes = recorder.changes;
    effect->getEngine().setObserver(&recorder);
    for (VstInt32 p : {4, 1}) {
        effect->getEngine().toggleLearn(p);
        send(*effect, EventList().cc(7).cc(7));
    }
    changes.clear();
    send(*effect, EventList().cc(7, 64, 9));  // any channel
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].first, 4);
    EXPECT_EQ(changes[1].first, 1);
    EXPECT_FLOAT_EQ(changes[0].second, 0.503937f);
}

TEST_F(MidiLearn, ControllerValuesScaleToExactlyOne) {
    auto effect = newEffect();
    effect->getEngine().toggleLearn(2);
    send(*effect, EventList().cc(74).cc(74));
    send(*effect, EventList().cc(74, 0));
    EXPECT_EQ(effect->getParameter(2), 0.0f);
    send(*effect, EventList().cc(74, 64));
    EXPECT_EQ(effect->getParameter(2), static_cast<float>(64 * static_cast<double>(0.007874016f)));
    EXPECT_NEAR(effect->getParameter(2), 0.503937f, 1e-6f);
    send(*effect, EventList().cc(74, 127));
    EXPECT_EQ(effect->getParameter(2), 1.0f);
}

TEST_F(MidiLearn, OnlyControlChangesCount) {
    auto effect = newEffect();
    effect->getEngine().toggleLearn(1);
    EventList ignored;
    ignored.cc(123)
        .cc(123)
        .cc(126)
        .cc(126)  // all notes off, mono mode
        .add(0x90, 7, 100)
        .add(0x90, 7, 100)  // note on
        .add(0x80, 7, 0)
        .add(0x80, 7, 0)  // note off
        .add(0xE0, 7, 64)
        .add(0xE0, 7, 64)  // pitch bend
        .add(0xC0, 7, 0)
        .add(0xC0, 7, 0)  // program change
        .add(0xA0, 7, 1)
        .add(0xD0, 7, 1)
        .add(0xF0, 7, 7)
        .add(0xB0, 7, 7, 6)
        .add(0xB0, 7, 7, 6);  // a control change that is no MIDI event
    send(*effect, ignored);
    EXPECT_EQ(effect->getEngine().isLearning(), true);
    EXPECT_TRUE(table(*effect).empty());
    EXPECT_EQ(tolvaneLastController().load(), 255);
}

TEST_F(MidiLearn, CancellingForgetsEveryBindingOfTheParameterAndRewritesTheFile) {
    auto effect = newEffect();
    for (auto [controller, parameter] : {std::pair{7, 1}, {8, 1}, {9, 2}}) {
        effect->getEngine().toggleLearn(parameter);
        send(*effect, EventList().cc(static_cast<uint8_t>(controller)).cc(static_cast<uint8_t>(controller)));
    }
    effect->getEngine().getControllerAssignments().writePending();
    EXPECT_EQ(readText(assignmentsFile()), textLines("1 7\n1 8\n2 9\n"));
    effect->getEngine().toggleLearn(1);
    effect->getEngine().toggleLearn(1);
    EXPECT_EQ(table(*effect), (Table{{9, 2}}));
    EXPECT_EQ(readText(assignmentsFile()), textLines("2 9\n")) << "written before toggleLearn returns";

    writeText(assignmentsFile(), "2 9\n0 3\n");  // another instance learned 3 meanwhile
    effect->getEngine().toggleLearn(5);
    effect->getEngine().toggleLearn(5);
    EXPECT_EQ(readText(assignmentsFile()), "2 9\n0 3\n") << "what others learned is kept as it is";
}

TEST_F(MidiLearn, NewInstancesReadTheFile) {
    std::filesystem::create_directories(settings);
    writeText(assignmentsFile(), "0 1\n3 -1\n5 7\n");
    auto effect = newEffect();
    EXPECT_EQ(table(*effect), (Table{{1, 0}, {7, 5}})) << "the pair with -1 is skipped";
    send(*effect, EventList().cc(1, 127).cc(7, 0));
    EXPECT_EQ(effect->getParameter(0), 1.0f);
    EXPECT_EQ(effect->getParameter(5), 0.0f);
    EXPECT_EQ(readText(assignmentsFile()), "0 1\n3 -1\n5 7\n") << "reading does not rewrite";
}

TEST_F(MidiLearn, TheFirstLearnCreatesTheFolderAndTheFile) {
    const std::string nested = (std::filesystem::path(folder.path()) / "not" / "yet" / "there").string();
    const std::string created = useSettingsRoot(nested);
    auto effect = newEffect();
    EXPECT_TRUE(table(*effect).empty());
    effect->getEngine().toggleLearn(3);
    send(*effect, EventList().cc(11).cc(11));
    effect->getEngine().getControllerAssignments().writePending();
    EXPECT_EQ(readText(created + "/Tolvane MIDI Assignments.txt"), textLines("3 11\n"));
}

TEST_F(MidiLearn, TheLastBindingReachesTheFileWhenTheInstanceCloses) {
    {
        auto effect = newEffect();
        effect->getEngine().toggleLearn(2);
        send(*effect, EventList().cc(30).cc(30));
    }
    EXPECT_EQ(readText(assignmentsFile()), textLines("2 30\n"));
}

TEST_F(MidiLearn, LearningWorksWithoutAUsableFolder) {
    // A file where the first missing level of the settings folder should be.
#if defined(_WIN32)
    writeText(std::filesystem::path(settings).parent_path().string(), "not a folder");
#else
    writeText(settings, "not a folder");
#endif
    auto effect = newEffect();
    effect->getEngine().toggleLearn(4);
    send(*effect, EventList().cc(12).cc(12));
    EXPECT_EQ(table(*effect), (Table{{12, 4}}));
    send(*effect, EventList().cc(12, 127));
    EXPECT_EQ(effect->getParameter(4), 1.0f);
    effect->getEngine().toggleLearn(4);
    effect->getEngine().toggleLearn(4);
    EXPECT_TRUE(table(*effect).empty());
}

TEST_F(MidiLearn, HostsReachTheEventsThroughTheDispatcher) {
    auto effect = newEffect();
    effect->getEngine().toggleLearn(0);
    EventList events;
    events.cc(40).cc(40);
    EXPECT_EQ(effect->dispatcher(effProcessEvents, 0, 0, events.list(), 0.0f), 1);
    EXPECT_EQ(table(*effect), (Table{{40, 0}}));
    EXPECT_EQ(effect->dispatcher(effProcessEvents, 0, 0, nullptr, 0.0f), 1);
}

// The editor's thread toggles learning while the audio thread feeds control
// changes and processes audio. Run under ThreadSanitizer in CI: no report, and
// the file ends up matching the table.
TEST_F(MidiLearn, LearningWhileProcessingIsSafe) {
    auto effect = newEffect();
    std::atomic<bool> done{false};
    std::thread audio([&] {
        std::vector<float> in(64, 0.25f), out(64);
        float* inputs[2] = {in.data(), in.data()};
        float* outputs[2] = {out.data(), out.data()};
        uint32_t state = 1;
        while (!done.load()) {
            EventList events;
            for (int k = 0; k < 8; ++k) {
                state = state * 1664525u + 1013904223u;
                events.cc(static_cast<uint8_t>(20 + (state >> 28) % 4), static_cast<uint8_t>((state >> 8) % 128));
            }
            effect->processEvents(events.list());
            effect->processReplacing(inputs, outputs, 64);
        }
    });
    uint32_t state = 7;
    for (int toggle = 0; toggle < 3000; ++toggle) {
        state = state * 1664525u + 1013904223u;
        effect->getEngine().toggleLearn(static_cast<VstInt32>((state >> 24) % 6));
        if (toggle % 16 == 0) effect->getEngine().writePendingAssignments();  // as the editor's idle does
        std::this_thread::yield();                                            // let some learns complete
    }
    done.store(true);
    audio.join();
    qm_controllerAssignments& assignments = effect->getEngine().getControllerAssignments();
    assignments.writePending();
    auto written = std::make_unique<qm_controllerAssignments::Table>();
    // A cancelled learn forgets its parameter's bindings, so none may be left
    // (on a busy machine the audio thread may complete no learn at all): then
    // there is no file.
    const bool read = qm_controllerAssignments::readFile(assignmentsFile(), *written);
    EXPECT_TRUE(read || assignments.entries().empty());
    EXPECT_EQ(Table(written->entries, written->entries + written->count), assignments.entries());
}

#if !defined(_WIN32)
// A writer in another process stopped while holding the lock: creating an
// instance, learning and cancelling do not wait for it, and the changes reach
// the file once it lets go.
TEST_F(MidiLearn, AnotherProcessHoldingTheLockNeverBlocksTheHost) {
    std::filesystem::create_directories(settings);
    writeText(assignmentsFile(), "0 1\n");
    LockHolder holder(settings);
    const auto start = std::chrono::steady_clock::now();
    auto effect = newEffect();
    effect->getEngine().toggleLearn(2);
    send(*effect, EventList().cc(7).cc(7));
    AEffect* e = effect->getAeffect();
    e->dispatcher(e, effEditIdle, 0, 0, nullptr, 0.0f);  // tries to write the learn
    effect->getEngine().toggleLearn(0);
    effect->getEngine().toggleLearn(0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(table(*effect), (Table{{7, 2}})) << "the file was read";
    EXPECT_EQ(readText(assignmentsFile()), "0 1\n");
    holder.release();
    effect->getEngine().writePendingAssignments();
    EXPECT_EQ(readText(assignmentsFile()), "2 7\n");
}
#endif

}  // namespace
