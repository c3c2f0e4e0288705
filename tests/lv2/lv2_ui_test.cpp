// The LV2 plug-in's user interface, headless, as a host drives it: it shows
// exactly the VST 2.4 editor's picture for the same values and reduction, a
// drag writes the control port between touch grab and release, port values
// and the notify port's messages move the knobs and the outline, and the
// learn gesture becomes a message to the plug-in.
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/data-access/data-access.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/log/log.h>
#include <lv2/options/options.h>
#include <lv2/uri-map/uri-map.h>

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "CHighlightFrame.h"
#include "EditorWindow.h"
#include "EngineEditorLink.h"
#include "TolvaneEngine.h"
#include "TolvaneLv2Ui.h"
#include "TolvanePrograms.h"
#include "lv2_host.h"

extern "C" const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index);

namespace {

using namespace tolvane::lv2;
using platform::kControl;
using platform::kLeftButton;
using platform::kShift;

std::vector<uint32_t> pictureOf(TolvaneEditor& editor) {
    return static_cast<platform::HeadlessWindow*>(editor.getFrame()->getPlatformWindow())->getPicture();
}

// The VST 2.4 editor of an engine, as shown after two idles.
std::vector<uint32_t> vstPicture(TolvaneEngine& engine) {
    EngineEditorLink link(engine);
    TolvaneEditor editor(&link);
    link.setEditor(&editor);
    editor.open(nullptr);
    editor.idle();
    editor.idle();
    return pictureOf(editor);
}

class Lv2Ui : public ::testing::Test {
protected:
    struct Write {
        uint32_t port, format;
        std::vector<uint8_t> data;
        float value() const {
            float v = 0.0f;
            std::memcpy(&v, data.data(), std::min(data.size(), sizeof v));
            return v;
        }
    };
    struct Touch {
        uint32_t port;
        bool grabbed;
        bool operator==(const Touch&) const = default;
    };

    void SetUp() override {
        platform::useHeadlessWindows(true);
        UridMap& u = urids;
        features = {{LV2_URID__map, &u.mapFeature}, {LV2_UI__touch, &touchFeature}, {LV2_UI__resize, &resizeFeature}};
        std::vector<const LV2_Feature*> list;
        for (const LV2_Feature& f : features) list.push_back(&f);
        list.push_back(nullptr);
        const LV2UI_Descriptor* d = lv2ui_descriptor(0);
        ASSERT_STREQ(d->URI, kUiUri);
        handle = d->instantiate(d, pluginUri, "", recordWrite, this, &widget, list.data());
        ASSERT_NE(handle, nullptr);
        idleInterface = static_cast<const LV2UI_Idle_Interface*>(d->extension_data(LV2_UI__idleInterface));
        ASSERT_NE(idleInterface, nullptr);
    }
    void TearDown() override {
        if (handle) lv2ui_descriptor(0)->cleanup(handle);
        platform::useHeadlessWindows(false);
    }

    TolvaneLv2Ui& ui() { return *static_cast<TolvaneLv2Ui*>(handle); }
    CHighlightFrame& frame() { return *ui().getEditor().getFrame(); }
    void idle() { EXPECT_EQ(idleInterface->idle(handle), 0); }
    void portEvent(uint32_t port, float value) {
        lv2ui_descriptor(0)->port_event(handle, port, sizeof value, 0, &value);
    }
    void notify(const char* type, int32_t parameter, const char* key, bool isFloat, float value) {
        alignas(8) uint8_t buffer[256];
        LV2_Atom_Forge forge;
        lv2_atom_forge_init(&forge, &urids.mapFeature);
        lv2_atom_forge_set_buffer(&forge, buffer, sizeof buffer);
        LV2_Atom_Forge_Frame object;
        auto* atom = reinterpret_cast<LV2_Atom*>(lv2_atom_forge_object(&forge, &object, 0, urids.map(type)));
        lv2_atom_forge_key(&forge, urids.map(kParameterKeyUri));
        lv2_atom_forge_int(&forge, parameter);
        lv2_atom_forge_key(&forge, urids.map(key));
        if (isFloat) lv2_atom_forge_float(&forge, value);
        else lv2_atom_forge_bool(&forge, value != 0.0f);
        lv2_atom_forge_pop(&forge, &object);
        lv2ui_descriptor(0)->port_event(handle, kNotifyPort, lv2_atom_total_size(atom),
                                        urids.map(LV2_ATOM__eventTransfer), atom);
    }
    // The type and parameter of a message the user interface sent to the plug-in.
    std::pair<std::string, int32_t> messageOf(const Write& w) {
        const auto* object = reinterpret_cast<const LV2_Atom_Object*>(w.data.data());
        const LV2_Atom* parameter = nullptr;
        lv2_atom_object_get(object, urids.map(kParameterKeyUri), &parameter, 0);
        return {urids.unmap(object->body.otype),
                parameter ? reinterpret_cast<const LV2_Atom_Int*>(parameter)->body : -1};
    }

    static void recordWrite(LV2UI_Controller controller, uint32_t port, uint32_t size, uint32_t format,
                            const void* buffer) {
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        static_cast<Lv2Ui*>(controller)->writes.push_back({port, format, std::vector<uint8_t>(bytes, bytes + size)});
    }

    const char* pluginUri = kStereoUri;
    UridMap urids;
    std::vector<LV2_Feature> features;
    std::vector<Write> writes;
    std::vector<Touch> touches;
    std::pair<int, int> size{0, 0};
    LV2UI_Touch touchFeature{this, [](LV2UI_Feature_Handle h, uint32_t port, bool grabbed) {
                                 static_cast<Lv2Ui*>(h)->touches.push_back({port, grabbed});
                             }};
    LV2UI_Resize resizeFeature{this, [](LV2UI_Feature_Handle h, int w, int height) {
                                   static_cast<Lv2Ui*>(h)->size = {w, height};
                                   return 0;
                               }};
    LV2UI_Widget widget = nullptr;
    LV2UI_Handle handle = nullptr;
    const LV2UI_Idle_Interface* idleInterface = nullptr;
};

TEST_F(Lv2Ui, ShowsTheVstEditorsPictureForEveryPresetAndReduction) {
    EXPECT_EQ(size, (std::pair<int, int>{750, 200})) << "told to the host";
    for (int32_t program = 0; program < kTolvaneProgramCount; ++program) {
        TolvaneEngine engine("");
        engine.setProgram(program);
        for (int32_t i = 0; i < tolvane::kParameterCount; ++i)
            portEvent(static_cast<uint32_t>(i), portValueOf(i, tolvaneFactoryPresets[program].values[i]));
        idle();
        idle();
        EXPECT_TRUE(pictureOf(ui().getEditor()) == vstPicture(engine)) << tolvaneFactoryPresets[program].name;
    }
    // The needle where the VST 2.4 editor of an engine with that reduction puts it.
    TolvaneEngine engine("");
    engine.setProgram(4);
    std::vector<float> loud(6000);
    for (size_t n = 0; n < loud.size(); ++n) loud[n] = n % 40 < 20 ? 0.8f : -0.8f;
    engine.processStereo(loud.data(), loud.data(), loud.data(), loud.data(), static_cast<int32_t>(loud.size()));
    ASSERT_GT(engine.getGainReduction(), 1.0f);
    portEvent(kGainReductionPort, engine.getGainReduction());
    idle();
    idle();
    EXPECT_TRUE(pictureOf(ui().getEditor()) == vstPicture(engine));
}

TEST_F(Lv2Ui, ADragWritesThePortBetweenTouchGrabAndRelease) {
    idle();
    writes.clear();
    frame().mouseDown(250, 100, kLeftButton);
    frame().mouseMoved(250, 80, kLeftButton);
    frame().mouseMoved(250, 60, kLeftButton);
    frame().mouseUp(250, 60, kLeftButton);
    EXPECT_EQ(touches, (std::vector<Touch>{{2, true}, {2, false}}));
    ASSERT_EQ(writes.size(), 2u);
    const float knob = ui().getEditor().getControl(2)->getValue();
    EXPECT_EQ(writes.back().port, 2u);
    EXPECT_EQ(writes.back().format, 0u);
    EXPECT_EQ(writes.back().value(), portValueOf(2, knob)) << "the plain value of the knob's";
    // The host echoes the value: the knob stays exactly where the drag left it.
    portEvent(2, writes.back().value());
    idle();
    EXPECT_EQ(ui().getEditor().getControl(2)->getValue(), knob);
    EXPECT_EQ(ui().getParameter(2), knob);
    // Another value from the host moves it.
    portEvent(2, 300.0f);
    idle();
    EXPECT_EQ(ui().getEditor().getControl(2)->getValue(), 1.0f);
    EXPECT_EQ(writes.size(), 2u) << "nothing written back";
}

// For the side-chain plug-in: the Key switch on the Key port, both ways, and learnable.
class Lv2UiSideChain : public Lv2Ui {
protected:
    void SetUp() override {
        pluginUri = kSideChainUri;
        Lv2Ui::SetUp();
    }
};

TEST_F(Lv2UiSideChain, TheKeySwitchIsTheKeyPort) {
    idle();
    const CRect key = tolvane::kParameters[tolvane::kKey].rect;
    ASSERT_NE(ui().getEditor().getControl(tolvane::kKey), nullptr);
    writes.clear();
    frame().mouseDown((key.left + key.right) / 2, (key.top + key.bottom) / 2, kLeftButton);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().port, kKeyControlPort);
    EXPECT_EQ(writes.back().value(), 1.0f) << "External";
    portEvent(kKeyControlPort, 0.0f);
    idle();
    EXPECT_EQ(ui().getEditor().getControl(tolvane::kKey)->getValue(), 0.0f) << "the host's Internal shows";
    writes.clear();
    frame().mouseDown(key.left + 2, key.top + 2, kLeftButton | kControl | kShift);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(messageOf(writes[0]), (std::pair<std::string, int32_t>{kToggleLearnUri, tolvane::kKey}));
}

TEST_F(Lv2Ui, NotifyMovesKnobsAndTheOutlineAndLearnIsAMessage) {
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(messageOf(writes[0]), (std::pair<std::string, int32_t>{kStateRequestUri, -1})) << "asked at once";
    notify(kParameterValueUri, 4, kValueKeyUri, true, 0.25f);
    notify(kLearnUri, 3, kArmedKeyUri, false, 1.0f);
    idle();
    EXPECT_EQ(ui().getEditor().getControl(4)->getValue(), 0.25f);
    EXPECT_EQ(frame().getHighlightedView(), ui().getEditor().getControl(3));
    notify(kLearnUri, 3, kArmedKeyUri, false, 0.0f);
    notify(kParameterValueUri, 9, kValueKeyUri, true, 0.5f);  // no such parameter: ignored
    idle();
    EXPECT_EQ(frame().getHighlightedView(), nullptr);

    writes.clear();
    frame().mouseDown(700, 100, kLeftButton | kControl | kShift);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].port, kControlPort);
    EXPECT_EQ(writes[0].format, urids.map(LV2_ATOM__eventTransfer));
    EXPECT_EQ(messageOf(writes[0]), (std::pair<std::string, int32_t>{kToggleLearnUri, 5}));
    EXPECT_TRUE(touches.empty()) << "no edit";
}

// Notifications whose properties run past their object, each in a buffer that
// ends where the object does (under AddressSanitizer a read beyond it stops
// the test): nothing outside is read, and no knob moves.
TEST_F(Lv2Ui, MalformedNotificationsAreReadNoFurtherThanTheyReach) {
    const uint32_t object = urids.map(LV2_ATOM__Object), value = urids.map(kParameterValueUri),
                   parameter = urids.map(kParameterKeyUri), valueKey = urids.map(kValueKeyUri),
                   integer = urids.map(LV2_ATOM__Int), real = urids.map(LV2_ATOM__Float);
    uint32_t quarter;
    const float q = 0.25f;
    std::memcpy(&quarter, &q, sizeof quarter);
    // Atoms: size, type, then the object's id, type and properties.
    const struct {
        const char* name;
        std::vector<uint32_t> words;
    } cases[] = {
        {"a Float running past its object",
         {48, object, 0, value, parameter, 0, 4, integer, 4, 0, valueKey, 0, 4, real}},
        {"an Int of size 0 at its object's end",
         {48, object, 0, value, valueKey, 0, 4, real, quarter, 0, parameter, 0, 0, integer}},
        {"a property header cut by its object's end", {16, object, 0, value, parameter, 0}},
    };
    idle();
    const float before = ui().getEditor().getControl(4)->getValue();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint32_t> exact(c.words.begin(), c.words.end());
        lv2ui_descriptor(0)->port_event(handle, kNotifyPort, static_cast<uint32_t>(exact.size() * 4),
                                        urids.map(LV2_ATOM__eventTransfer), exact.data());
        idle();
        EXPECT_EQ(ui().getEditor().getControl(4)->getValue(), before);
    }
}

// Audacity 3.2 offers an editor exactly these features and shows its own
// sliders instead of one that requires any other.
TEST(Lv2UiHost, TheEditorNeedsNothingAudacityLacks) {
    // clang-format off
    const std::set<std::string> audacity = {
        LV2_UI__noUserResize, LV2_UI__fixedSize, LV2_UI__idleInterface, LV2_UI_PREFIX "makeResident",
        LV2_BUF_SIZE__boundedBlockLength, LV2_BUF_SIZE__fixedBlockLength, LV2_URI_MAP_URI, LV2_URID__map,
        LV2_URID__unmap, LV2_LOG__log, LV2_OPTIONS__options, LV2_UI__resize, LV2_UI__parent, LV2_DATA_ACCESS_URI,
        LV2_INSTANCE_ACCESS_URI, "http://kxstudio.sf.net/ns/lv2ext/external-ui#Host"};
    // clang-format on
    Lv2World& world = Lv2World::get();
    LilvNode* ui = world.node(kUiUri);
    LilvNode* required = world.node(LV2_CORE__requiredFeature);
    lilv_world_load_resource(world.world(), ui);
    LilvNodes* features = lilv_world_find_nodes(world.world(), ui, required, nullptr);
    EXPECT_GT(lilv_nodes_size(features), 0u);
    LILV_FOREACH(nodes, i, features) {
        const std::string uri = lilv_node_as_uri(lilv_nodes_get(features, i));
        EXPECT_TRUE(audacity.count(uri)) << uri;
    }
    lilv_nodes_free(features);
    lilv_node_free(required);
    lilv_node_free(ui);

    // And it opens with no more than Audacity hands it (no touch).
    platform::useHeadlessWindows(true);
    LV2UI_Resize resize{nullptr, [](LV2UI_Feature_Handle, int, int) { return 0; }};
    const LV2_Feature map{LV2_URID__map, &world.urids().mapFeature}, size{LV2_UI__resize, &resize},
        idle{LV2_UI__idleInterface, nullptr}, parent{LV2_UI__parent, nullptr};
    const LV2_Feature* offered[] = {&map, &size, &idle, &parent, nullptr};
    const LV2UI_Descriptor* d = lv2ui_descriptor(0);
    LV2UI_Widget widget = nullptr;
    LV2UI_Handle handle = d->instantiate(
        d, kStereoUri, "", [](LV2UI_Controller, uint32_t, uint32_t, uint32_t, const void*) {}, nullptr, &widget,
        offered);
    EXPECT_NE(handle, nullptr);
    if (handle) d->cleanup(handle);
    platform::useHeadlessWindows(false);
}

}  // namespace
