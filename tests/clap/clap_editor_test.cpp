// The CLAP plug-in's editor, headless, through the gui extension of the
// adapter linked into this program: its pictures at each scale, the user's
// choice before the host's, the host's timer, the user's gestures told to the
// host, and MIDI learn from the gesture to the bindings file.
#include <png.h>

#include <fstream>
#include <sstream>

#include "support/golden_picture.h"
#include "CHighlightFrame.h"
#include "EditorWindow.h"
#include "TolvaneClap.h"
#include "clap_host.h"
#include "support/settings_test.h"

namespace {

using platform::kControl;
using platform::kLeftButton;
using platform::kShift;

#if defined(_WIN32)
constexpr const char* kApi = clap::kWindowApiWin32;
#else
constexpr const char* kApi = clap::kWindowApiX11;
#endif

const clap::PluginEntry linkedEntry{clap::kVersion, tolvane_clap::entryInit, tolvane_clap::entryDeinit,
                                    tolvane_clap::entryFactory};

class ClapEditor : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        platform::useHeadlessWindows(true);
        plugin = std::make_unique<ClapInstance>(linked, tolvane_clap::kStereoId);
        ASSERT_TRUE(*plugin);
        gui = plugin->ext<clap::PluginGui>(clap::kExtGui);
    }
    void TearDown() override {
        plugin.reset();
        platform::useHeadlessWindows(false);
    }

    // Creates the editor and embeds it, at the host's scale when given.
    void open(double scale = 0.0) {
        ASSERT_TRUE(gui->isApiSupported(plugin->plugin, kApi, false));
        ASSERT_FALSE(gui->isApiSupported(plugin->plugin, kApi, true)) << "embedded only";
        ASSERT_TRUE(gui->create(plugin->plugin, kApi, false));
        if (scale > 0.0) {
            EXPECT_TRUE(gui->setScale(plugin->plugin, scale));
        }
        clap::Window parent{kApi, {nullptr}};
        ASSERT_TRUE(gui->setParent(plugin->plugin, &parent));
        ASSERT_TRUE(gui->show(plugin->plugin));
    }
    std::pair<uint32_t, uint32_t> size() {
        uint32_t w = 0, h = 0;
        EXPECT_TRUE(gui->getSize(plugin->plugin, &w, &h));
        return {w, h};
    }
    void timer() {
        ASSERT_EQ(plugin->host.timers.size(), 1u);
        plugin->ext<clap::PluginTimerSupport>(clap::kExtTimerSupport)
            ->onTimer(plugin->plugin, plugin->host.timers.begin()->first);
    }
    TolvaneEditor& editor() { return tolvane_clap::TolvaneClap::of(plugin->plugin)->getEditor(); }
    const std::vector<uint32_t>& picture() {
        return static_cast<platform::HeadlessWindow*>(editor().getFrame()->getPlatformWindow())->getPicture();
    }

    ClapLibrary linked{linkedEntry};
    std::unique_ptr<ClapInstance> plugin;
    const clap::PluginGui* gui = nullptr;
};

TEST_F(ClapEditor, LooksAsRecordedAtEachHostScaleAndIdlesOnTheHostsTimer) {
    const struct {
        double scale;
        uint32_t width, height;
        const char* golden;
    } cases[] = {{1.0, 750, 200, "program-0"},
                 {1.5, 1125, 300, "program-0-150"},
                 {2.0, 1500, 400, "program-0-200"},
                 {1.75, 1500, 400, "program-0-200"},
                 {1.2, 750, 200, "program-0"}};
    for (const auto& c : cases) {
        open(c.scale);
        EXPECT_EQ(size(), (std::pair<uint32_t, uint32_t>{c.width, c.height})) << c.scale;
        EXPECT_FALSE(gui->setSize(plugin->plugin, c.width + 10, c.height)) << "one size per scale";
        timer();
        timer();
        EXPECT_TRUE(matchesGoldenBesideKeySwitch(picture(), c.golden, static_cast<int32_t>(c.width * 100 / 750)))
            << c.scale;
        EXPECT_EQ(plugin->host.timers.begin()->second, 30u);
        gui->destroy(plugin->plugin);
        EXPECT_TRUE(plugin->host.timers.empty());
        EXPECT_FALSE(editor().isOpen());
    }
    EXPECT_TRUE(plugin->host.fds.empty()) << "a headless window has no descriptor";
    EXPECT_TRUE(plugin->host.wrongThread.empty());
}

// The user's own choice of size comes first; one made while the editor is
// open asks the host to resize, and stays for the next opening if refused.
TEST_F(ClapEditor, TheUsersChoiceComesBeforeTheHostsScale) {
    writeText(settings + "/Tolvane Editor Size.txt", "100\n");
    open(2.0);
    EXPECT_EQ(size(), (std::pair<uint32_t, uint32_t>{750, 200}));
    // The file was written after the instance quoted its size: opening asked for the new one.
    plugin->host.resizeRequests.clear();
    editor().chooseScale(150);
    EXPECT_EQ(plugin->host.resizeRequests, (std::vector<std::pair<uint32_t, uint32_t>>{{1125, 300}}));
    EXPECT_EQ(size(), (std::pair<uint32_t, uint32_t>{1125, 300}));
    plugin->host.acceptResize = false;
    editor().chooseScale(200);
    EXPECT_EQ(size(), (std::pair<uint32_t, uint32_t>{1125, 300})) << "refused: kept until the next opening";
    gui->destroy(plugin->plugin);
    open();
    EXPECT_EQ(size(), (std::pair<uint32_t, uint32_t>{1500, 400}));
}

// A drag reaches the host as one gesture (begin, the value, end) through the
// flush it asks for, or the next block while it processes; host values move
// the knob at the next timer.
TEST_F(ClapEditor, GesturesReachTheHostAndHostValuesMoveTheKnobs) {
    open();
    auto drag = [&] {
        editor().getFrame()->mouseDown(250, 100, kLeftButton);
        editor().getFrame()->mouseMoved(250, 80, kLeftButton);
        editor().getFrame()->mouseMoved(250, 60, kLeftButton);
        editor().getFrame()->mouseUp(250, 60, kLeftButton);
    };
    using Told = std::tuple<uint16_t, uint32_t, uint32_t, double, uint32_t>;
    auto toldOf = [](const std::vector<ClapEvent>& events) {
        std::vector<Told> told;
        for (const ClapEvent& e : events) told.push_back(e.told());
        return told;
    };
    drag();
    EXPECT_GT(plugin->host.flushRequests, 0);
    const double knob = editor().getControl(2)->getValue();
    EXPECT_EQ(plugin->value(2), knob);
    ClapEventLists lists;
    plugin->flush(lists);
    EXPECT_EQ(toldOf(lists.out), (std::vector<Told>{{clap::kEventParamGestureBegin, 0, 2, 0.0, 0},
                                                    {clap::kEventParamValue, 0, 2, knob, 0},
                                                    {clap::kEventParamGestureEnd, 0, 2, 0.0, 0}}));
    lists.out.clear();
    plugin->flush(lists);
    EXPECT_TRUE(lists.out.empty()) << "told once";

    ASSERT_TRUE(plugin->activate());
    std::vector<float> l(64), r(64);
    drag();
    lists.in = {ClapEvent::value(10, 4, 0.75)};
    plugin->process(l.data(), r.data(), l.data(), r.data(), 64, lists);
    EXPECT_EQ(toldOf(lists.out).size(), 3u);
    EXPECT_EQ(lists.out[0].header.type, clap::kEventParamGestureBegin);
    timer();
    EXPECT_EQ(editor().getControl(4)->getValue(), 0.75f);
    EXPECT_TRUE(plugin->host.wrongThread.empty());
}

// Ctrl+Shift click arms learning; two messages of a controller on the audio
// thread bind it, and the bindings file is written when the host calls back
// on the main thread; from then on the controller drives the parameter.
TEST_F(ClapEditor, LearningBindsOnTheAudioThreadAndWritesOnTheMainThread) {
    const std::string file = settings + "/Tolvane MIDI Assignments.txt";
    open();
    ASSERT_TRUE(plugin->activate());
    editor().getFrame()->mouseDown(700, 100, kLeftButton | kControl | kShift);
    timer();
    EXPECT_EQ(editor().getFrame()->getHighlightedView(), editor().getControl(5));
    std::vector<float> l(32), r(32);
    ClapEventLists lists;
    lists.in = {ClapEvent::midiMessage(3, 0xB0, 31, 1), ClapEvent::midiMessage(9, 0xB0, 31, 2)};
    plugin->process(l.data(), r.data(), l.data(), r.data(), 32, lists);
    EXPECT_EQ(plugin->host.callbackRequests, 1);
    EXPECT_EQ(readText(file), "") << "not on the audio thread";
    lists.in.clear();
    plugin->process(l.data(), r.data(), l.data(), r.data(), 32, lists);
    EXPECT_EQ(plugin->host.callbackRequests, 1) << "asked once";
    plugin->plugin->onMainThread(plugin->plugin);
    EXPECT_EQ(readText(file), textLines("5 31\n"));
    timer();
    EXPECT_EQ(editor().getFrame()->getHighlightedView(), nullptr);

    lists.in = {ClapEvent::midiMessage(5, 0xB0, 31, 0)};
    lists.out.clear();
    plugin->process(l.data(), r.data(), l.data(), r.data(), 32, lists);
    EXPECT_EQ(plugin->value(5), 0.0);
    ASSERT_EQ(lists.out.size(), 1u);
    EXPECT_EQ(lists.out[0].told(), (std::tuple<uint16_t, uint32_t, uint32_t, double, uint32_t>{
                                       clap::kEventParamValue, 5, 5, 0.0, clap::kEventDontRecord}));
    EXPECT_TRUE(plugin->host.wrongThread.empty());
}

}  // namespace
