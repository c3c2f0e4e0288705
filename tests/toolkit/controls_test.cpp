// The controls on a frame of their own, driven by injected events: which frame
// of a strip each value shows, knob drags, wheel and keys, the switch, and the
// about screen.
#include "CFrame.h"
#include "CKnob.h"
#include "CMovieControls.h"
#include "CSplashScreen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using namespace platform;

// A frame of 750 x 200 and a recording listener.
struct Bench : GUIEditorInterface, CControlListener {
    std::vector<std::string> events;  // "begin 3", "value 3 0.7", "end 3"
    CFrame* frame;

    Bench() : frame(new CFrame({0, 0, 750, 200}, nullptr, this)) {}
    ~Bench() override { frame->forget(); }
    void beginEdit(int32_t tag) override { events.push_back("begin " + std::to_string(tag)); }
    void endEdit(int32_t tag) override { events.push_back("end " + std::to_string(tag)); }
    void valueChanged(CControl* c) override {
        events.push_back("value " + std::to_string(c->getTag()) + " " + std::to_string(c->getValue()));
    }

    template <class Control>
    Control* add(Control* control) {
        frame->addView(control);
        return control;
    }
    CAnimKnob* knob(float value, int32_t tag = 0) {
        auto* strip = new CBitmap(10001);
        auto* k = add(new CAnimKnob({14, 65, 109, 152}, this, tag, strip));
        strip->forget();
        k->setValue(value);
        return k;
    }
    // A press at (x, y), moves by the offsets, and the release.
    void drag(int32_t x, int32_t y, std::vector<std::pair<int32_t, int32_t>> moves, uint32_t buttons = kLeftButton) {
        frame->mouseDown(x, y, buttons);
        for (auto [dx, dy] : moves) frame->mouseMoved(x + dx, y + dy, buttons);
        frame->mouseUp(x + moves.back().first, y + moves.back().second, buttons);
    }
};

// The frame a strip control shows: drawn alone, matched against the strip.
int32_t shownFrame(CControl* control, CBitmap* strip, int32_t frameHeight) {
    const CRect r = control->getViewSize();
    CDrawContext context(750, 200);
    control->draw(&context);
    for (int32_t k = 0; k * frameHeight < strip->getHeight(); ++k) {
        bool same = true;
        for (int32_t y = 0; y < frameHeight && same; ++y)
            for (int32_t x = 0; x < r.width() && same; ++x)
                same = context.pixelAt(r.left + x, r.top + y) ==
                       strip->getPixels()[static_cast<size_t>(k * frameHeight + y) * strip->getWidth() + x];
        if (same) return k;
    }
    return -1;
}

TEST(Controls, EachValueShowsItsFrame) {
    Bench bench;
    CAnimKnob* knob = bench.knob(0.0f);
    for (auto [value, frame] : {std::pair{0.5f, 16}, {0.999f, 31}, {1.0f, 32}, {-0.2f, 0}, {1.5f, 32}, {0.0f, 0}}) {
        knob->setValue(value);
        EXPECT_EQ(shownFrame(knob, knob->getBackground(), 87), frame) << "knob at " << value;
    }
    auto* meterStrip = new CBitmap(10006);
    auto* meter = bench.add(new CMovieBitmap({316, 39, 434, 160}, &bench, 8, 33, 121, meterStrip));
    for (auto [value, frame] : {std::pair{0.0f, 0}, {0.01f, 0}, {1.0f / 32.0f, 1}, {0.5f, 16}, {1.5f, 32}}) {
        meter->setValue(value);
        EXPECT_EQ(shownFrame(meter, meterStrip, 121), frame) << "meter at " << value;
    }
    meterStrip->forget();
    auto* switchStrip = new CBitmap(10007);
    auto* button = bench.add(new CMovieButton({668, 54, 750, 143}, &bench, 5, 89, switchStrip));
    for (auto [value, frame] : {std::pair{0.0f, 0}, {1.0f, 1}, {0.3f, 1}, {-2.0f, 0}}) {
        button->setValue(value);
        EXPECT_EQ(shownFrame(button, switchStrip, 89), frame) << "switch at " << value;
    }
    switchStrip->forget();
}

TEST(Controls, KnobDragsAreRelativeAndLinear) {
    struct Case {
        const char* what;
        std::vector<std::pair<int32_t, int32_t>> moves;
        uint32_t buttons;
        float expected;
    };
    const Case cases[] = {
        {"100 up", {{0, -50}, {0, -100}}, kLeftButton, 0.7f},
        {"100 right", {{100, 0}}, kLeftButton, 0.7f},
        {"50 up, 50 left", {{0, -50}, {-50, -50}}, kLeftButton, 0.2f},
        {"300 up stops at the end", {{0, -300}, {0, -310}}, kLeftButton, 1.0f},
        {"Shift: 300 pixels for the range", {{0, -100}}, kLeftButton | kShift, 0.2f + 100.0f / 300.0f},
        {"a press alone changes nothing", {{0, 0}}, kLeftButton, 0.2f},
        {"Ctrl+Alt is a circular drag to straight up, not a reset", {{0, -44}}, kLeftButton | kControl | kAlt, 0.498f},
        {"a double click is a press", {{0, -20}}, kLeftButton | kDoubleClick, 0.3f},
        {"Ctrl alone resets", {}, kLeftButton | kControl, 0.5f},
        {"Ctrl+Shift does not", {{0, 0}}, kLeftButton | kControl | kShift, 0.2f},
    };
    for (const Case& c : cases) {
        Bench bench;
        CAnimKnob* knob = bench.knob(0.2f);
        // Circular drags start from the point straight above the centre.
        const int32_t x = 61, y = 100;
        if (c.moves.empty()) bench.frame->mouseDown(x, y, c.buttons);
        else bench.drag(x, y, c.moves, c.buttons);
        EXPECT_NEAR(knob->getValue(), c.expected, 1e-3f) << c.what;
    }
}

TEST(Controls, ShiftMidDragChangesTheSpeedWithoutAJump) {
    Bench bench;
    CAnimKnob* knob = bench.knob(0.2f);
    bench.frame->mouseDown(61, 100, kLeftButton);
    bench.frame->mouseMoved(61, 60, kLeftButton);  // 40 up: 0.4
    EXPECT_NEAR(knob->getValue(), 0.4f, 1e-5f);
    bench.frame->mouseMoved(61, 60, kLeftButton | kShift);  // the same point: ignored
    EXPECT_NEAR(knob->getValue(), 0.4f, 1e-5f);
    bench.frame->mouseMoved(61, 30, kLeftButton | kShift);  // where Shift is first seen moving
    EXPECT_NEAR(knob->getValue(), 0.55f, 1e-5f);
    bench.frame->mouseMoved(61, 0, kLeftButton | kShift);  // from here on 1/300 per pixel
    EXPECT_NEAR(knob->getValue(), 0.65f, 1e-5f);
    bench.frame->mouseUp(61, 0, kLeftButton | kShift);
}

// A strip is redrawn only for a new frame, but the host must hear every value
// a gesture makes, also one back to the value last drawn.
TEST(Controls, GesturesReportEveryValueWithinOneFrame) {
    Bench bench;
    CAnimKnob* knob = bench.knob(0.5f);
    CDrawContext context(750, 200);
    knob->draw(&context);
    bench.drag(61, 100, {{0, -1}, {0, 0}});  // 0.505 and back, all in frame 16
    knob->setValue(0.51f);
    knob->draw(&context);
    bench.frame->mouseDown(61, 100, kLeftButton | kControl);  // to the default 0.5, frame 16 too
    EXPECT_EQ(bench.events, (std::vector<std::string>{"begin 0", "value 0 0.505000", "value 0 0.500000", "end 0",
                                                      "begin 0", "begin 0", "value 0 0.500000", "end 0", "end 0"}));
}

TEST(Controls, WheelAndKeysStepTheKnob) {
    Bench bench;
    CAnimKnob* knob = bench.knob(0.05f);
    bench.frame->wheel(61, 100, -1.0f, 0);
    EXPECT_EQ(knob->getValue(), 0.0f) << "limited";
    knob->setValue(0.05f);
    bench.frame->wheel(61, 100, -1.0f, kShift);
    EXPECT_NEAR(knob->getValue(), 0.04f, 1e-6f);
    EXPECT_EQ(bench.events, (std::vector<std::string>{"begin 0", "value 0 0.000000", "end 0", "begin 0",
                                                      "value 0 0.040000", "end 0"}));
    bench.frame->setFocusView(knob);
    // The host interface's numbers: up, right, left with Shift, down.
    for (auto [key, modifiers, expected] : {std::tuple{12, 0, 0.14f}, {13, 0, 0.24f}, {11, 1, 0.23f}, {14, 0, 0.13f}}) {
        EXPECT_EQ(bench.frame->keyDown({0, static_cast<uint8_t>(key), static_cast<uint8_t>(modifiers)}), 1);
        EXPECT_NEAR(knob->getValue(), expected, 1e-5f) << "key " << key;
    }
    EXPECT_EQ(bench.frame->keyDown({'a', 0, 0}), -1);
}

TEST(Controls, TheSwitchTogglesAndDraggingOutRestores) {
    Bench bench;
    auto* strip = new CBitmap(10007);
    auto* button = bench.add(new CMovieButton({668, 54, 750, 143}, &bench, 5, 89, strip));
    strip->forget();
    bench.drag(700, 100, {{0, 0}});
    bench.drag(700, 100, {{0, 0}});
    bench.frame->mouseDown(700, 100, kLeftButton);
    bench.frame->mouseMoved(600, 100, kLeftButton);
    bench.frame->mouseUp(600, 100, kLeftButton);
    bench.frame->mouseDown(700, 100, kRightButton);
    EXPECT_EQ(bench.events,
              (std::vector<std::string>{"begin 5", "value 5 1.000000", "end 5", "begin 5", "value 5 0.000000", "end 5",
                                        "begin 5", "value 5 1.000000", "value 5 0.000000", "end 5"}));
    EXPECT_EQ(button->getValue(), 0.0f);
}

TEST(Controls, ARightClickOnAKnobBracketsAnEditAndChangesNothing) {
    Bench bench;
    CAnimKnob* knob = bench.knob(0.2f);
    bench.drag(61, 100, {{0, -50}}, kRightButton);
    EXPECT_EQ(knob->getValue(), 0.2f);
    EXPECT_EQ(bench.events, (std::vector<std::string>{"begin 0", "end 0"}));
}

TEST(Controls, TheAboutScreenComesAndGoesWithAClick) {
    Bench bench;
    auto* image = new CBitmap(10008);
    auto* about = bench.add(new CSplashScreen({501, 171, 694, 200}, &bench, 7, image, {0, 0, 750, 200}));
    image->forget();
    bench.frame->mouseDown(600, 180, kRightButton);
    EXPECT_EQ(bench.frame->getModalView(), nullptr) << "a right click does nothing";
    bench.frame->mouseDown(600, 180, kLeftButton);
    EXPECT_EQ(bench.frame->getModalView(), about->getSplashView());
    bench.frame->mouseDown(20, 20, kRightButton);
    EXPECT_NE(bench.frame->getModalView(), nullptr);
    bench.frame->mouseDown(20, 20, kLeftButton);
    EXPECT_EQ(bench.frame->getModalView(), nullptr);
    EXPECT_EQ(bench.events, (std::vector<std::string>{"value 7 1.000000", "value 7 0.000000"}));
}

}  // namespace
