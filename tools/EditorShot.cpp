// tolvane editor-shot: builds the effect and its editor headless, sets it up
// as asked, runs idle as a host would and writes what the editor shows.
#include "EditorShot.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "CHighlightFrame.h"
#include "PngEncoder.h"
#include "Tolvane.h"
#include "TolvaneEditor.h"

namespace {

VstIntPtr VSTCALLBACK quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

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
    Tolvane effect(quietHost);
    if (!program.empty()) {
        double number;
        VstInt32 chosen = -1;
        if (parseNumber(program, number) && number >= 0 && number < Tolvane::kNumPrograms && number == static_cast<int>(number))
            chosen = static_cast<VstInt32>(number);
        for (VstInt32 p = 0; p < Tolvane::kNumPrograms && chosen < 0; ++p) {
            char name[kVstMaxProgNameLen + 1] = {};
            effect.getProgramNameIndexed(0, p, name);
            if (strcasecmp(name, program.c_str()) == 0) chosen = p;
        }
        if (chosen < 0) return refuse("no program '" + program + "'");
        effect.setProgram(chosen);
    }
    for (const auto& [name, text] : sets) {
        double value;
        if (!parseNumber(text, value)) return refuse("--set " + name + " needs a number from 0 to 1");
        VstInt32 index = -1;
        for (VstInt32 p = 0; p < Tolvane::kNumParams; ++p) {
            char parameterName[kVstMaxParamStrLen + 1] = {};
            effect.getParameterName(p, parameterName);
            if (strcasecmp(parameterName, name.c_str()) == 0) index = p;
        }
        if (index < 0) return refuse("no parameter '" + name + "' (see 'tolvane info')");
        effect.setParameter(index, static_cast<float>(value));
    }

    TolvaneEditor* editor = effect.getTolvaneEditor();
    editor->open(nullptr);
    editor->idle();
    editor->idle();
    if (meter >= 0.0) {
        editor->getControl(TolvaneEditor::kMeterTag)->setValue(static_cast<float>(meter));
        editor->AEffGUIEditor::idle();  // draws it, without reading the effect's (silent) meter
    }
    if (highlight >= 0.0) editor->getFrame()->setHighlight(static_cast<int32_t>(highlight), true);
    if (about) editor->getFrame()->mouseDown(600, 185, platform::kLeftButton);
    editor->AEffGUIEditor::idle();
    auto* window = static_cast<platform::HeadlessWindow*>(editor->getFrame()->getPlatformWindow());
    const bool written = writePngFile(output, window->getPicture().data(), window->getWidth(), window->getHeight());
    editor->close();
    if (!written) {
        std::fprintf(stderr, "tolvane: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
