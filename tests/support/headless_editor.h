// What the editor of an effect with the given parameter values shows, drawn
// headless: the picture a real window must match pixel for pixel.
#pragma once

#include <vector>

#include "CHighlightFrame.h"
#include "EditorWindow.h"
#include "PluginHost.h"
#include "Tolvane.h"
#include "TolvaneEditor.h"

inline std::vector<uint32_t> headlessPicture(PluginInstance& shown, int32_t highlight = -1) {
    platform::useHeadlessWindows(true);
    std::vector<uint32_t> picture;
    {
        Tolvane effect(nullptr);
        for (VstInt32 i = 0; i < 6; ++i) effect.setParameter(i, shown.getParameter(i));
        TolvaneEditor* editor = effect.getTolvaneEditor();
        editor->open(nullptr);
        editor->idle();
        if (highlight >= 0) editor->getFrame()->setHighlight(highlight, true);
        editor->idle();
        picture = static_cast<platform::HeadlessWindow*>(editor->getFrame()->getPlatformWindow())->getPicture();
    }
    platform::useHeadlessWindows(false);
    return picture;
}
