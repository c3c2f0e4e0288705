// The LV2 plug-in's user interface: the Tolvane editor in an X11 child window
// of the host's (ui:parent), idled by the host (ui:idleInterface), its size
// told to the host (ui:resize). It edits the plug-in through its ports: a
// gesture writes the control port through the host, between ui:touch grab and
// release where the host offers touch; the host's port values move the knobs;
// the meter follows the gain-reduction port; the notify port brings the values
// MIDI set and the learn outline, and learning is armed with a message on the
// control port. For the side-chain plug-in it shows the Key switch, on the Key port.
#pragma once

#include <lv2/atom/forge.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <cstdint>

#include "EditorEffect.h"
#include "TolvaneEditor.h"
#include "TolvaneLv2Messages.h"
#include "TolvaneLv2Ports.h"

class TolvaneLv2Ui : public EditorEffect {
public:
    // Null without the host's URID map, or when no window could be made.
    // A null parent window makes a headless editor (tests).
    static TolvaneLv2Ui* create(const char* pluginUri, LV2UI_Write_Function write, LV2UI_Controller controller,
                                LV2UI_Widget* widget, const LV2_Feature* const* features);
    ~TolvaneLv2Ui() override;

    void portEvent(uint32_t port, uint32_t size, uint32_t format, const void* buffer);
    // 0 while the window lives, 1 once the host destroyed it.
    int idle();
    TolvaneEditor& getEditor() { return editor; }

    // EditorEffect
    float getParameter(int32_t index) override;
    void setParameterAutomated(int32_t index, float value) override;
    void beginEdit(int32_t index) override;
    void endEdit(int32_t index) override;
    float getMeterValue() override;
    void toggleLearn(int32_t parameter) override;
    bool hasKey() override { return count == tolvane::kSideChainParameterCount; }
    // Hosts hold on to the editor's window, which a new size would replace: a
    // size chosen in the editor applies when the host next opens it. While it
    // opens any size goes: create() announces it.
    bool resizeEditor(int32_t, int32_t) override { return !editor.isOpen(); }

private:
    TolvaneLv2Ui(bool sideChain, LV2UI_Write_Function write, LV2UI_Controller controller, LV2_URID_Map* map);
    // The control port of a parameter, and back (-1: none).
    static uint32_t portOf(int32_t index);
    int32_t parameterOf(uint32_t port) const;
    void handleMessage(const tolvane::lv2::Message& message);
    // Sends an object with at most an int parameter to the plug-in's control port.
    void sendMessage(LV2_URID type, const int32_t* parameter);

    const int32_t count;  // the plug-in's parameters
    TolvaneEditor editor{this};
    LV2UI_Write_Function write;
    LV2UI_Controller controller;
    const LV2UI_Touch* touch = nullptr;
    tolvane::lv2::MessageUris uris{};
    LV2_URID eventTransfer = 0;
    LV2_Atom_Forge forge{};

    // The knobs' values, and the port value each came from (or went to): a
    // port event that brings the same value again keeps the knob where it is.
    float values[tolvane::kSideChainParameterCount];
    float portValues[tolvane::kSideChainParameterCount];
    float gainReduction = 0.0f;
};
