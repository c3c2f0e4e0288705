// What the editor of an engine with the given parameter values shows, drawn
// headless: the picture a real window must match pixel for pixel.
#pragma once

#include <vector>

#include "CHighlightFrame.h"
#include "EditorWindow.h"
#include "EngineEditorLink.h"
#include "PluginHost.h"
#include "TolvaneEditor.h"
#include "TolvaneEngine.h"

inline std::vector<uint32_t> headlessPicture(PluginInstance& shown, int32_t highlight = -1) {
    platform::useHeadlessWindows(true);
    std::vector<uint32_t> picture;
    {
        TolvaneEngine engine("");
        for (int32_t i = 0; i < TolvaneEngine::kParameterCount; ++i) engine.setParameter(i, shown.getParameter(i));
        EngineEditorLink link(engine);
        TolvaneEditor editor(&link);
        editor.open(nullptr);
        editor.idle();
        if (highlight >= 0) editor.getFrame()->setHighlight(highlight, true);
        editor.idle();
        picture = static_cast<platform::HeadlessWindow*>(editor.getFrame()->getPlatformWindow())->getPicture();
    }
    platform::useHeadlessWindows(false);
    return picture;
}
