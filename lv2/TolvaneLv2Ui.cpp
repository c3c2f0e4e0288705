#include "TolvaneLv2Ui.h"

#include <lv2/atom/util.h>

#include <cstring>

#include "CHighlightFrame.h"
#include "EditorWindow.h"
#include "TolvaneEngine.h"
#include "TolvanePrograms.h"

namespace {

using namespace tolvane::lv2;

const void* feature(const LV2_Feature* const* features, const char* uri) {
    for (; features && *features; ++features)
        if (std::strcmp((*features)->URI, uri) == 0) return (*features)->data;
    return nullptr;
}

}  // namespace

TolvaneLv2Ui* TolvaneLv2Ui::create(const char* pluginUri, LV2UI_Write_Function write, LV2UI_Controller controller,
                                   LV2UI_Widget* widget, const LV2_Feature* const* features) {
    auto* map = static_cast<LV2_URID_Map*>(const_cast<void*>(feature(features, LV2_URID__map)));
    if (!map || !write) return nullptr;
    TolvaneLv2Ui* ui = nullptr;
    try {
        ui = new TolvaneLv2Ui(pluginUri && std::strcmp(pluginUri, kSideChainUri) == 0, write, controller, map);
    } catch (...) {
        return nullptr;
    }
    ui->touch = static_cast<const LV2UI_Touch*>(feature(features, LV2_UI__touch));
    if (!ui->editor.open(const_cast<void*>(feature(features, LV2_UI__parent)))) {
        delete ui;
        return nullptr;
    }
    if (widget) *widget = reinterpret_cast<LV2UI_Widget>(ui->editor.getFrame()->getPlatformWindow()->nativeHandle());
    if (const auto* resize = static_cast<const LV2UI_Resize*>(feature(features, LV2_UI__resize)))
        resize->ui_resize(resize->handle, ui->editor.getWidth(), ui->editor.getHeight());
    // The plug-in answers with the values MIDI set and the learn state.
    ui->sendMessage(ui->uris.stateRequest, nullptr);
    return ui;
}

TolvaneLv2Ui::TolvaneLv2Ui(bool sideChain, LV2UI_Write_Function writeFunction, LV2UI_Controller hostController,
                           LV2_URID_Map* map)
    : count(sideChain ? tolvane::kSideChainParameterCount : tolvane::kParameterCount),
      write(writeFunction),
      controller(hostController),
      uris(MessageUris::map(map)),
      eventTransfer(map->map(map->handle, LV2_ATOM__eventTransfer)) {
    lv2_atom_forge_init(&forge, map);
    // A fresh instance's values, as its ports' defaults give them.
    for (int32_t i = 0; i < tolvane::kParameterCount; ++i) {
        values[i] = tolvaneFactoryPresets[0].values[i];
        portValues[i] = portValueOf(i, values[i]);
    }
    values[tolvane::kKey] = portValues[tolvane::kKey] = 0.0f;  // Internal
}

uint32_t TolvaneLv2Ui::portOf(int32_t index) {
    return index == tolvane::kKey ? kKeyControlPort : static_cast<uint32_t>(index);
}

int32_t TolvaneLv2Ui::parameterOf(uint32_t port) const {
    if (port < kGainReductionPort) return static_cast<int32_t>(port);
    return port == kKeyControlPort && count == tolvane::kSideChainParameterCount ? tolvane::kKey : -1;
}

TolvaneLv2Ui::~TolvaneLv2Ui() { editor.close(); }

int TolvaneLv2Ui::idle() {
    if (!editor.isOpen() || !editor.getFrame()->isOpen()) return 1;
    editor.idle();
    return 0;
}

void TolvaneLv2Ui::portEvent(uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
    if (!buffer) return;
    if (format == 0 && size == sizeof(float)) {
        float value;
        std::memcpy(&value, buffer, sizeof value);
        if (port == kGainReductionPort) {
            gainReduction = value;
        } else if (const int32_t i = parameterOf(port);
                   i >= 0 && std::memcmp(&value, &portValues[i], sizeof value) != 0) {
            portValues[i] = value;
            values[i] = normalizedOfPortValue(i, value);
            editor.setParameter(i, values[i]);
        }
    } else if (format == eventTransfer && port == kNotifyPort) {
        handleMessage(readMessage(static_cast<const LV2_Atom*>(buffer), size, uris));
    }
}

void TolvaneLv2Ui::handleMessage(const Message& message) {
    if (message.kind == Message::kParameterValue && tolvane::isParameter(message.parameter, count)) {
        values[message.parameter] = message.value;
        editor.setParameter(message.parameter, message.value);
    } else if (message.kind == Message::kLearn) {
        editor.setHighlight(message.parameter, message.armed);
    }
}

float TolvaneLv2Ui::getParameter(int32_t index) { return tolvane::isParameter(index, count) ? values[index] : 0.0f; }

void TolvaneLv2Ui::setParameterAutomated(int32_t index, float value) {
    if (!tolvane::isParameter(index, count)) return;
    values[index] = value;
    portValues[index] = portValueOf(index, value);
    write(controller, portOf(index), sizeof(float), 0, &portValues[index]);
    editor.setParameter(index, value);
}

void TolvaneLv2Ui::beginEdit(int32_t index) {
    if (touch && tolvane::isParameter(index, count)) touch->touch(touch->handle, portOf(index), true);
}

void TolvaneLv2Ui::endEdit(int32_t index) {
    if (touch && tolvane::isParameter(index, count)) touch->touch(touch->handle, portOf(index), false);
}

float TolvaneLv2Ui::getMeterValue() {
    // The engine's scale, so the needle stands where the VST 2.4 editor's would.
    return TolvaneEngine::meterValueOf(gainReduction);
}

void TolvaneLv2Ui::toggleLearn(int32_t parameter) {
    if (tolvane::isParameter(parameter, count)) sendMessage(uris.toggleLearn, &parameter);
}

void TolvaneLv2Ui::sendMessage(LV2_URID type, const int32_t* parameter) {
    alignas(8) uint8_t buffer[128];
    lv2_atom_forge_set_buffer(&forge, buffer, sizeof buffer);
    LV2_Atom_Forge_Frame frame;
    auto* message = reinterpret_cast<LV2_Atom*>(lv2_atom_forge_object(&forge, &frame, 0, type));
    if (parameter) {
        lv2_atom_forge_key(&forge, uris.parameter);
        lv2_atom_forge_int(&forge, *parameter);
    }
    lv2_atom_forge_pop(&forge, &frame);
    write(controller, kControlPort, lv2_atom_total_size(message), eventTransfer, message);
}

// --- the LV2 entry points -----------------------------------------------------

namespace {

TolvaneLv2Ui* self(LV2UI_Handle ui) { return static_cast<TolvaneLv2Ui*>(ui); }

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features) {
    return TolvaneLv2Ui::create(pluginUri, write, controller, widget, features);
}

void cleanup(LV2UI_Handle ui) { delete self(ui); }

void portEvent(LV2UI_Handle ui, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
    self(ui)->portEvent(port, size, format, buffer);
}

int idle(LV2UI_Handle ui) { return self(ui)->idle(); }

const LV2UI_Idle_Interface idleInterface{idle};

const void* extensionData(const char* uri) {
    return std::strcmp(uri, LV2_UI__idleInterface) == 0 ? &idleInterface : nullptr;
}

const LV2UI_Descriptor descriptor{kUiUri, instantiate, cleanup, portEvent, extensionData};

}  // namespace

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
