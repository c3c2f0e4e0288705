// tolvane editor-shot: builds an engine and its editor headless, sets it up
// as asked, runs idle as a host would and writes what the editor shows.
#include "EditorShot.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "CHighlightFrame.h"
#include "EngineEditorLink.h"
#include "PngEncoder.h"
#include "TolvaneEditor.h"
#include "TolvaneEngine.h"

namespace {

int refuse(const std::string& message) {
    std::fprintf(stderr, "tolvane: %s\n", message.c_str());
    return 2;
}

bool parseNumber(const std::string& text, double& out) {
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0';
}

}  // namespace

int editorShotCommand(const std::vector<std::string>& args) {
    std::string output, program;
    std::vector<std::pair<std::string, std::string>> sets;
    double meter = -1.0, highlight = -1.0;
    bool about = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--program") {
            if (!hasValue) return refuse("--program needs a number or a name");
            program = args[++i];
        } else if (a == "--set") {
            const size_t eq = hasValue ? args[i + 1].find('=') : std::string::npos;
            if (eq == std::string::npos || eq == 0) return refuse("--set needs NAME=VALUE");
            sets.emplace_back(args[i + 1].substr(0, eq), args[i + 1].substr(eq + 1));
            ++i;
        } else if (a == "--meter") {
            if (!hasValue || !parseNumber(args[++i], meter) || meter < 0.0 || meter > 1.0)
                return refuse("--meter needs a value from 0 to 1");
        } else if (a == "--highlight") {
            if (!hasValue || !parseNumber(args[++i], highlight) || highlight < 0 || highlight > 8)
                return refuse("--highlight needs a control tag from 0 to 8");
        } else if (a == "--about") {
            about = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return refuse("unknown option " + a);
        } else if (output.empty()) {
            output = a;
        } else {
            return refuse("editor-shot writes one picture");
        }
    }
    if (output.empty()) return refuse("editor-shot needs the PNG file to write");

    platform::useHeadlessWindows(true);
    TolvaneEngine engine;
    if (!program.empty()) {
        double number;
        int32_t chosen = -1;
        if (parseNumber(program, number) && number >= 0 && number < TolvaneEngine::kProgramCount &&
            number == static_cast<int>(number))
            chosen = static_cast<int32_t>(number);
        for (int32_t p = 0; p < TolvaneEngine::kProgramCount && chosen < 0; ++p) {
            char name[TolvaneProgram::kNameLength] = {};
            engine.getProgramNameIndexed(p, name);
            if (strcasecmp(name, program.c_str()) == 0) chosen = p;
        }
        if (chosen < 0) return refuse("no program '" + program + "'");
        engine.setProgram(chosen);
    }
    for (const auto& [name, text] : sets) {
        double value;
        if (!parseNumber(text, value)) return refuse("--set " + name + " needs a number from 0 to 1");
        int32_t index = -1;
        for (int32_t p = 0; p < TolvaneEngine::kParameterCount; ++p) {
            char parameterName[9] = {};  // the name a host sees, at most 8 characters
            engine.getParameterName(p, parameterName, 8);
            if (strcasecmp(parameterName, name.c_str()) == 0) index = p;
        }
        if (index < 0) return refuse("no parameter '" + name + "' (see 'tolvane info')");
        engine.setParameter(index, static_cast<float>(value));
    }

    EngineEditorLink link(engine);
    TolvaneEditor panel(&link);
    TolvaneEditor* editor = &panel;
    editor->open(nullptr);
    editor->idle();
    editor->idle();
    if (meter >= 0.0) {
        editor->getControl(tolvane::kMeterTag)->setValue(static_cast<float>(meter));
        editor->getFrame()->idle();  // draws it, without reading the engine's (silent) meter
    }
    if (highlight >= 0.0) editor->getFrame()->setHighlight(static_cast<int32_t>(highlight), true);
    if (about) editor->getFrame()->mouseDown(600, 185, platform::kLeftButton);
    editor->getFrame()->idle();
    auto* window = static_cast<platform::HeadlessWindow*>(editor->getFrame()->getPlatformWindow());
    const bool written = writePngFile(output, window->getPicture().data(), window->getWidth(), window->getHeight());
    editor->close();
    if (!written) {
        std::fprintf(stderr, "tolvane: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
