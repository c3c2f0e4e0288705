// TolvaneEditor on a real engine, in a headless window: what it shows when it
// opens and on each idle, what the host hears from a gesture, the learn
// gesture and outline, what gets repainted, and golden pictures of the editor.
#include "CHighlightFrame.h"
#include "CKnob.h"
#include "CStripMenu.h"
#include "EditorScale.h"
#include "EngineEditorLink.h"
#include "PngEncoder.h"
#include "TolvaneEditor.h"
#include "TolvaneEngine.h"
#include "support/golden_picture.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace platform;

// What a host would hear of the user's gestures.
enum HostHears { kBeginEdit, kAutomate, kEndEdit };
struct HostCall {
    HostHears what;
    int32_t index;
    float opt;
};

struct RecordingLink : EngineEditorLink {
    using EngineEditorLink::EngineEditorLink;
    std::vector<HostCall> calls;
    void setParameterAutomated(int32_t index, float value) override {
        EngineEditorLink::setParameterAutomated(index, value);
        calls.push_back({kAutomate, index, value});
    }
    void beginEdit(int32_t index) override { calls.push_back({kBeginEdit, index, 0.0f}); }
    void endEdit(int32_t index) override { calls.push_back({kEndEdit, index, 0.0f}); }
    // The host's window around the editor: resizes asked for, and whether it takes them.
    std::vector<std::pair<int32_t, int32_t>> resizes;
    bool windowResizes = true;
    bool resizeEditor(int32_t width, int32_t height) override {
        resizes.emplace_back(width, height);
        return windowResizes;
    }
};

class Editor : public ::testing::Test {
protected:
    void SetUp() override {
        useHeadlessWindows(true);
        link.setEditor(editor);
    }

    void open() {
        editor->open(nullptr);
        editor->idle();
        editor->idle();
        window()->paintedPixels = 0;
        calls.clear();
    }
    CHighlightFrame* frame() { return editor->getFrame(); }
    HeadlessWindow* window() { return static_cast<HeadlessWindow*>(frame()->getPlatformWindow()); }
    uint32_t shown(int32_t x, int32_t y) { return window()->getPicture()[static_cast<size_t>(y) * 750 + x]; }
    // Is the outermost pixel ring of the rectangle white, and only that?
    bool outlined(const CRect& r) {
        for (int32_t x = r.left; x < r.right; ++x)
            if (shown(x, r.top) != 0xFFFFFFFFu || shown(x, r.bottom - 1) != 0xFFFFFFFFu) return false;
        for (int32_t y = r.top; y < r.bottom; ++y)
            if (shown(r.left, y) != 0xFFFFFFFFu || shown(r.right - 1, y) != 0xFFFFFFFFu) return false;
        return shown(r.left + 1, r.top + 1) != 0xFFFFFFFFu;
    }
    uint64_t areaHash(const CRect& r) {
        uint64_t hash = 1469598103934665603ull;
        for (int32_t y = r.top; y < r.bottom; ++y)
            for (int32_t x = r.left; x < r.right; ++x) hash = (hash ^ shown(x, y)) * 1099511628211ull;
        return hash;
    }
    std::vector<std::pair<HostHears, int32_t>> editCalls() {
        std::vector<std::pair<HostHears, int32_t>> out;
        for (const HostCall& c : calls) out.emplace_back(c.what, c.index);
        return out;
    }

    TolvaneEngine engine{""};
    TolvaneEngine* effect = &engine;
    RecordingLink link{engine};
    std::vector<HostCall>& calls = link.calls;
    TolvaneEditor panel{&link};
    TolvaneEditor* editor = &panel;
};

const CRect kAttack{109, 65, 204, 152}, kRelease{201, 65, 296, 152}, kSensitivity{475, 65, 570, 152},
    kMeter{316, 39, 434, 160}, kAbout{501, 171, 694, 200};

TEST_F(Editor, OpensAtTheEffectsValuesWithTheMeterFullUntilTheSecondIdle) {
    effect->setParameter(0, 0.25f);
    effect->setParameter(5, 0.0f);
    editor->open(nullptr);
    EXPECT_EQ(editor->getControl(0)->getValue(), 0.25f);
    EXPECT_EQ(editor->getControl(5)->getValue(), 0.0f);
    EXPECT_EQ(editor->getControl(tolvane::kMeterTag)->getValue(), 1.0f);
    editor->idle();
    const uint64_t needleAtFull = areaHash(kMeter);
    editor->idle();
    EXPECT_NE(areaHash(kMeter), needleAtFull) << "the measured value (none) from the second idle on";
    EXPECT_EQ(editor->getControl(tolvane::kMeterTag)->getValue(), 0.0f);
}

TEST_F(Editor, ParameterChangesShowAtTheNextIdleAndAreNotLostWhileClosed) {
    open();
    effect->setParameter(1, 0.75f);
    EXPECT_NE(editor->getControl(1)->getValue(), 0.75f) << "nothing happens before idle";
    editor->idle();
    EXPECT_EQ(editor->getControl(1)->getValue(), 0.75f);
    EXPECT_EQ(window()->paintedPixels, 95u * 87u) << "only the knob that changed is repainted";
    editor->close();
    effect->setParameter(1, 0.125f);
    editor->idle();
    open();
    EXPECT_EQ(editor->getControl(1)->getValue(), 0.125f);
}

TEST_F(Editor, AKnobDragTellsTheHostBeginEachChangeAndEnd) {
    open();
    effect->setParameter(2, 0.2f);
    editor->idle();
    frame()->mouseDown(250, 100, kLeftButton);
    frame()->mouseMoved(250, 90, kLeftButton);
    frame()->mouseMoved(250, 90, kLeftButton);  // no movement, no change
    frame()->mouseMoved(250, 80, kLeftButton);
    frame()->mouseUp(250, 80, kLeftButton);
    ASSERT_EQ(editCalls(), (std::vector<std::pair<HostHears, int32_t>>{
                               {kBeginEdit, 2}, {kAutomate, 2}, {kAutomate, 2}, {kEndEdit, 2}}));
    EXPECT_NEAR(calls[2].opt, 0.3f, 1e-5f);
    EXPECT_EQ(effect->getParameter(2), calls[2].opt);
    // At the Ratio knob's right edge the Attack knob, added later, takes the click.
    calls.clear();
    frame()->mouseDown(109, 100, kLeftButton);
    frame()->mouseUp(109, 100, kLeftButton);
    EXPECT_EQ(editCalls(), (std::vector<std::pair<HostHears, int32_t>>{{kBeginEdit, 1}, {kEndEdit, 1}}));
}

TEST_F(Editor, CtrlShiftClickArmsLearnOnParametersOnly) {
    open();
    const float ratio = effect->getParameter(0);
    for (uint32_t button : {kLeftButton, kRightButton, kMiddleButton}) {
        frame()->mouseDown(60, 100, button | kControl | kShift);
        EXPECT_TRUE(effect->isLearning()) << button;
        EXPECT_EQ(effect->getLearnParameter(), 0);
        frame()->mouseDown(60, 100, button | kControl | kShift);  // the armed control again: cancel
        EXPECT_FALSE(effect->isLearning());
    }
    frame()->mouseDown(700, 100, kLeftButton | kControl | kShift | kAlt);
    EXPECT_EQ(effect->getLearnParameter(), 5) << "any other modifiers may be held too";
    frame()->mouseDown(700, 100, kLeftButton | kControl | kShift);
    for (CPoint p : {CPoint{375, 100}, CPoint{600, 185}}) {
        frame()->mouseDown(p.x, p.y, kLeftButton | kControl | kShift);
        EXPECT_FALSE(effect->isLearning()) << "the meter and the about area: nothing";
        EXPECT_EQ(frame()->getModalView(), nullptr);
    }
    EXPECT_EQ(effect->getParameter(0), ratio);
    EXPECT_TRUE(calls.empty()) << "the host hears nothing of it";
}

TEST_F(Editor, TheLearnOutlineFollowsTheArmedControl) {
    open();
    struct Step {
        int32_t tag;
        bool on;
        CRect expected;  // empty: no outline
    };
    for (const Step& s : {Step{3, true, kSensitivity},
                          {1, true, kAttack},
                          {5, false, {}},
                          {8, true, kMeter},
                          {7, true, kAbout},
                          {6, true, {}},
                          {3, true, kSensitivity}}) {
        frame()->setHighlight(s.tag, s.on);
        editor->idle();
        for (const CRect& r : {kSensitivity, kAttack, kMeter, kAbout})
            EXPECT_EQ(outlined(r), r == s.expected) << "after " << s.tag << (s.on ? " on" : " off");
    }
    effect->setParameter(3, 0.9f);  // the outlined knob turns
    editor->idle();
    EXPECT_TRUE(outlined(kSensitivity));
    EXPECT_FALSE(outlined(kRelease));
    // The effect's learn toggle outlines through the editor, applied at idle.
    effect->toggleLearn(2);
    EXPECT_FALSE(outlined(kRelease));
    editor->idle();
    EXPECT_TRUE(outlined(kRelease));
    EXPECT_FALSE(outlined(kSensitivity));
    // Closing drops the outline; reopening shows none though learning goes on.
    editor->close();
    open();
    EXPECT_FALSE(outlined(kRelease));
    EXPECT_TRUE(effect->isLearning());
    effect->toggleLearn(2);
}

TEST_F(Editor, OpeningAndClosingLeavesNothingBehind) {
    const int32_t users = CDrawingRuntime::getUsers();
    for (int i = 0; i < 100; ++i) {
        editor->open(nullptr);
        editor->idle();
        editor->close();
    }
    EXPECT_EQ(CDrawingRuntime::getUsers(), users) << "every bitmap and frame released";
    EXPECT_EQ(CBitmap::getSharedImageCount(), 0) << "and every image";
    EXPECT_EQ(editor->getFrame(), nullptr);
}

// Hosts make instances by the dozen and ask each its editor's size; the images
// are decoded when an editor opens, once for all editors open in the process,
// and freed with the last of them.
TEST(EditorImages, DecodedOnlyWhileAnEditorIsOpenAndOnceForAll) {
    useHeadlessWindows(true);
    TolvaneEngine engine("");
    EngineEditorLink link(engine);
    TolvaneEditor first(&link), second(&link);
    EXPECT_EQ((std::vector<int32_t>{first.getWidth(), first.getHeight()}), (std::vector<int32_t>{750, 200}));
    EXPECT_EQ(CBitmap::getSharedImageCount(), 0) << "nothing decoded for editors never opened";
    first.open(nullptr);
    EXPECT_EQ(CBitmap::getSharedImageCount(), 9);
    second.open(nullptr);
    EXPECT_EQ(CBitmap::getSharedImageCount(), 9) << "the second editor shares them";
    EXPECT_EQ(first.getFrame()->getBackground()->getPixels(), second.getFrame()->getBackground()->getPixels());
    first.close();
    EXPECT_EQ(CBitmap::getSharedImageCount(), 9) << "still in use by the second";
    second.close();
    EXPECT_EQ(CBitmap::getSharedImageCount(), 0) << "freed with the last editor";
}

// The meter is handed a new value at every idle, about 34 a second, which
// while audio runs mostly shows the frame already drawn. Film strips repaint
// only for a new frame.
TEST_F(Editor, ControlsRepaintOnlyWhenTheFrameTheyShowChanges) {
    std::vector<float> loud(44100, 0.9f), silence(1300, 0.0f), out(44100);
    auto play = [&](std::vector<float>& in) {
        effect->processStereo(in.data(), in.data(), out.data(), out.data(), static_cast<int32_t>(in.size()));
    };
    play(loud);
    open();
    CControl* meter = editor->getControl(tolvane::kMeterTag);
    ASSERT_GT(meter->getValue(), 0.1f);
    for (int i = 0; i < 70; ++i) {  // two seconds of silence: the needle down at frame 0
        play(silence);
        editor->idle();
    }
    struct Step {
        const char* what;
        int32_t parameter;  // -1: an idle period of silence for the meter
        float value;
        uint64_t painted;
    };
    for (const Step& s : {Step{"the meter still falls", -1, 0.0f, 0},
                          {"Attack to frame 16", 1, 0.5f, 95 * 87},
                          {"Attack within frame 16", 1, 0.52f, 0},
                          {"Attack to frame 17", 1, 0.5315f, 95 * 87},
                          {"Active off", 5, 0.0f, 82 * 89},
                          {"Active at 0.5: on", 5, 0.5f, 82 * 89},
                          {"Active at 1: on all the same", 5, 1.0f, 0}}) {
        window()->paintedPixels = 0;
        const float meterBefore = meter->getValue();
        if (s.parameter < 0) play(silence);
        else effect->setParameter(s.parameter, s.value);
        editor->idle();
        editor->idle();
        if (s.parameter < 0) {
            ASSERT_NE(meter->getValue(), meterBefore) << s.what;
        }
        EXPECT_EQ(window()->paintedPixels, s.painted) << s.what;
    }
}

// --- golden pictures --------------------------------------------------------

// Compares the editor as shown with tests/editor/golden/NAME.png; with
// TOLVANE_UPDATE_GOLDEN set, writes it instead (then look at it before committing).
void expectGolden(HeadlessWindow* window, const std::string& name) {
    const std::string path = std::string(TOLVANE_GOLDEN_DIR) + "/" + name + ".png";
    if (std::getenv("TOLVANE_UPDATE_GOLDEN")) {
        ASSERT_TRUE(writePngFile(path, window->getPicture().data(), window->getWidth(), window->getHeight()));
        return;
    }
    const std::vector<uint32_t> golden = readGolden(name);
    ASSERT_EQ(golden.size(), window->getPicture().size()) << path;
    size_t differing = 0;
    for (size_t i = 0; i < golden.size(); ++i) differing += golden[i] != window->getPicture()[i];
    EXPECT_EQ(differing, 0u) << name << ": pixels differ from " << path;
}

TEST_F(Editor, LooksAsRecordedForEveryProgramAHighlightAndTheAboutScreen) {
    for (int32_t program = 0; program < 5; ++program) {
        effect->setProgram(program);
        open();
        expectGolden(window(), "program-" + std::to_string(program));
        editor->close();
    }
    effect->setProgram(0);
    open();
    frame()->setHighlight(3, true);
    editor->idle();
    expectGolden(window(), "highlight-sensitivity");
    frame()->setHighlight(3, false);
    frame()->mouseDown(600, 185, kLeftButton);
    editor->idle();
    expectGolden(window(), "about");
    frame()->mouseDown(100, 100, kLeftButton);
    editor->idle();
    expectGolden(window(), "program-0");
}

// --- sizes ------------------------------------------------------------------

class EditorSizes : public Editor {
protected:
    void SetUp() override {
        Editor::SetUp();
        settings = useSettingsRoot(folder.path());
        std::filesystem::create_directories(settings);
        // The sources as this test's folder and desktop give them, whatever
        // earlier tests of the process left.
        editor_scale::readUserChoice();
        editor_scale::readDesktopFactor(nullptr);
    }
    void TearDown() override { setHeadlessDesktopScale(0.0); }
    std::string choiceFile() const { return settings + "/Tolvane Editor Size.txt"; }
    CPoint at(int32_t x, int32_t y) const {
        return {editor_scale::edge(x, editor->getScale()), editor_scale::edge(y, editor->getScale())};
    }
    TempFolder folder;
    std::string settings;
};

TEST_F(EditorSizes, LookAsRecordedAt150And200Percent) {
    for (int32_t percent : {150, 200}) {
        const std::string size = "-" + std::to_string(percent);
        editor->setFixedScale(percent);
        open();
        ASSERT_EQ(window()->getWidth(), editor_scale::edge(750, percent));
        expectGolden(window(), "program-0" + size);
        frame()->setHighlight(3, true);
        editor->idle();
        expectGolden(window(), "highlight-sensitivity" + size);
        frame()->setHighlight(3, false);
        frame()->mouseDown(at(600, 185).x, at(600, 185).y, kLeftButton);
        editor->idle();
        expectGolden(window(), "about" + size);
        editor->close();
    }
}

// The side-chain forms' editor: the same panel with the Key switch, at every
// size. Outside the switch it is the other forms' editor pixel for pixel; a
// click switches Key and the host hears it; Ctrl+Shift arms learning for it.
TEST_F(EditorSizes, TheSideChainEditorAddsAKeySwitch) {
    TolvaneEngine keyed{"", TolvaneEngine::Form::kSideChain};
    RecordingLink keyedLink{keyed};
    TolvaneEditor keyedEditor{&keyedLink};
    keyedLink.setEditor(&keyedEditor);
    const CRect key = tolvane::kParameters[tolvane::kKey].rect;
    for (int32_t percent : {100, 150, 200}) {
        editor->setFixedScale(percent);
        keyedEditor.setFixedScale(percent);
        open();
        keyedEditor.open(nullptr);
        keyedEditor.idle();
        keyedEditor.idle();
        auto* shownKeyed = static_cast<HeadlessWindow*>(keyedEditor.getFrame()->getPlatformWindow());
        const CRect r = editor_scale::rect(key, percent);
        const int32_t width = window()->getWidth();
        size_t outside = 0, inside = 0;
        for (size_t i = 0; i < window()->getPicture().size(); ++i) {
            const CPoint p{static_cast<int32_t>(i % width), static_cast<int32_t>(i / width)};
            const bool differs = window()->getPicture()[i] != shownKeyed->getPicture()[i];
            (p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom ? inside : outside) += differs;
        }
        EXPECT_EQ(outside, 0u) << percent << " %";
        EXPECT_GT(inside, 100u) << percent << " %: the switch shows";
        const std::vector<uint32_t> internal = shownKeyed->getPicture();
        keyedEditor.getFrame()->mouseDown((r.left + r.right) / 2, (r.top + r.bottom) / 2, kLeftButton);
        keyedEditor.idle();
        EXPECT_EQ(keyed.getParameter(tolvane::kKey), 1.0f) << percent << " %";
        EXPECT_NE(shownKeyed->getPicture(), internal) << percent << " %: External shows";
        keyedEditor.getFrame()->mouseDown(r.left + 2, r.top + 2, kLeftButton | kControl | kShift);
        EXPECT_EQ(keyed.getLearnParameter(), tolvane::kKey);
        keyed.toggleLearn(tolvane::kKey);
        keyed.setParameter(tolvane::kKey, 0.0f);
        keyedEditor.close();
        editor->close();
    }
    ASSERT_FALSE(keyedLink.calls.empty());
    EXPECT_EQ(keyedLink.calls.front().index, tolvane::kKey);
    EXPECT_EQ(editor->getControl(tolvane::kKey), nullptr) << "none in the other forms";
}

// Drags cover as many screen pixels as the panel grew: half a knob's range
// is 100 pixels at 100 %, 200 at 200 %, and with Shift half as much again.
TEST_F(EditorSizes, DragDistancesGrowWithThePanel) {
    for (int32_t percent : {100, 150, 200}) {
        for (bool shift : {false, true}) {
            editor->setFixedScale(percent);
            effect->setParameter(1, 0.25f);
            open();
            const CPoint knob = at(156, 108);
            const int32_t half = editor_scale::edge(shift ? 150 : 100, percent);
            const uint32_t buttons = shift ? kLeftButton | kShift : kLeftButton;
            frame()->mouseDown(knob.x, knob.y, buttons);
            frame()->mouseMoved(knob.x, knob.y - half, buttons);
            frame()->mouseUp(knob.x, knob.y - half, buttons);
            EXPECT_NEAR(effect->getParameter(1), 0.75f, 1e-6f) << percent << " %, shift " << shift;
            editor->close();
        }
    }
}

// The user's choice first, then the host's scale, then the desktop's, then
// 100 %; a factor between sizes goes to the nearest. The choice's file and
// the desktop are read when the editor opens; closed, it answers with what
// it found then.
TEST_F(EditorSizes, TheSizeComesFromTheUserTheHostOrTheDesktopInThatOrder) {
    struct Case {
        int32_t user;
        double host, desktop;
        int32_t expected;
    };
    for (const Case& c : {Case{0, 0.0, 0.0, 100},
                          {0, 0.0, 2.0, 200},
                          {0, 0.0, 1.3, 150},
                          {0, 0.0, 1.2, 100},
                          {0, 1.5, 2.0, 150},
                          {0, 1.0, 2.0, 100},
                          {100, 1.5, 2.0, 100},
                          {200, 0.0, 0.0, 200}}) {
        std::filesystem::remove(choiceFile());
        if (c.user) writeText(choiceFile(), std::to_string(c.user) + " %\n");
        editor->setHostScale(c.host);
        setHeadlessDesktopScale(c.desktop);
        open();
        EXPECT_EQ(window()->getHeight(), editor_scale::edge(200, c.expected))
            << c.user << " " << c.host << " " << c.desktop;
        editor->close();
        EXPECT_EQ(editor->getWidth(), editor_scale::edge(750, c.expected));
    }
}

// A right-click on the panel outside the controls offers the sizes; the
// choice asks the host for the new size, reopens the editor at it, and is
// kept for every editor after. A host that refuses keeps the editor as it is
// until it next opens.
TEST_F(EditorSizes, TheUserChoosesInAMenuAndEveryLaterEditorKeepsIt) {
    open();
    frame()->mouseDown(60, 110, kRightButton);
    EXPECT_EQ(frame()->getModalView(), nullptr) << "not on a knob";
    frame()->mouseDown(460, 20, kRightButton);
    ASSERT_NE(frame()->getModalView(), nullptr);
    CKeyCode escape{0, kKeyEscape, 0};
    EXPECT_TRUE(editor->onKeyDown(escape));
    EXPECT_EQ(frame()->getModalView(), nullptr);

    frame()->mouseDown(460, 20, kRightButton);
    const CRect menu = static_cast<CStripMenu*>(frame()->getModalView())->getMenuRect();
    frame()->mouseDown(menu.left + 60, menu.top + 79, kLeftButton);  // the third row: 200 %
    editor->idle();
    EXPECT_EQ(link.resizes, (std::vector<std::pair<int32_t, int32_t>>{{1500, 400}}));
    EXPECT_EQ(window()->getWidth(), 1500);
    EXPECT_EQ(readText(choiceFile()), "200 %\n");

    TolvaneEngine another("");
    RecordingLink anotherLink(another);
    TolvaneEditor later(&anotherLink);
    EXPECT_EQ(later.getWidth(), 1500) << "kept for the next editor";

    link.windowResizes = false;
    editor->chooseScale(150);
    EXPECT_EQ(window()->getWidth(), 1500) << "the host refused";
    editor->close();
    open();
    EXPECT_EQ(window()->getWidth(), 1125) << "the choice applies at the next open";

    editor->close();
    writeText(choiceFile(), "100 %\n");  // chosen in another process
    open();
    EXPECT_EQ(link.resizes.back(), (std::pair<int32_t, int32_t>{750, 200})) << "the host is asked when it opens";
    EXPECT_EQ(window()->getWidth(), 1125) << "and refusing, gets the size it was told";
}

}  // namespace

namespace {

// Automation and learn traffic from an audio thread while the user-interface
// thread opens, idles and closes the editor. Run under ThreadSanitizer in CI.
TEST(EditorThreads, AudioThreadTrafficWhileTheEditorOpensAndCloses) {
    useHeadlessWindows(true);
    TolvaneEngine effect("");
    EngineEditorLink link(effect);
    TolvaneEditor panel(&link);
    TolvaneEditor* editor = &panel;
    link.setEditor(editor);
    std::atomic<bool> done{false};
    std::thread audio([&] {
        std::vector<float> in(64, 0.5f), out(64);
        uint32_t state = 5;
        while (!done.load()) {
            state = state * 1664525u + 1013904223u;
            effect.setParameter(static_cast<int32_t>((state >> 24) % 6), static_cast<float>(state >> 8) / 16777216.0f);
            // A controller completes learns now and then.
            const uint8_t controller[3] = {0xB0, static_cast<uint8_t>(30 + (state >> 30)), 64};
            const auto event = TolvaneEngine::Event::midi(0, controller, 3);
            effect.run({false, in.data(), in.data(), out.data(), out.data()}, 64, &event, 1);
        }
    });
    for (int round = 0; round < 60; ++round) {
        editor->open(nullptr);
        for (int i = 0; i < 5; ++i) {
            effect.toggleLearn(i);
            editor->idle();
        }
        editor->close();
        editor->idle();
    }
    done.store(true);
    audio.join();
    EXPECT_EQ(editor->getFrame(), nullptr);
}

}  // namespace
