// tolvane editor-shot: builds an engine and its editor headless, sets it up
// as asked, runs idle as a host would and writes what the editor shows.
#include "EditorShot.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "CHighlightFrame.h"
#include "EditorScale.h"
#include "EngineEditorLink.h"
#include "PngEncoder.h"
#include "TolvaneEditor.h"
#include "TolvaneEngine.h"

namespace {

struct ShotOptions {
    std::string output, program;
    std::vector<std::pair<std::string, std::string>> sets;
    double meter = -1.0, highlight = -1.0;
    int32_t scale = 100;
    bool about = false, sizeMenu = false;
};

int refuse(const std::string& message) {
    std::fprintf(stderr, "tolvane: %s\n", message.c_str());
    return 2;
}

bool parseNumber(const std::string& text, double& out) {
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0';
}

// 0 when the options are sound; otherwise what to exit with, said on stderr.
int parseOptions(const std::vector<std::string>& args, ShotOptions& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        double number = 0.0;
        if (a == "--program") {
            if (!hasValue) return refuse("--program needs a number or a name");
            o.program = args[++i];
        } else if (a == "--set") {
            const size_t eq = hasValue ? args[i + 1].find('=') : std::string::npos;
            if (eq == std::string::npos || eq == 0) return refuse("--set needs NAME=VALUE");
            o.sets.emplace_back(args[i + 1].substr(0, eq), args[i + 1].substr(eq + 1));
            ++i;
        } else if (a == "--meter") {
            if (!hasValue || !parseNumber(args[++i], o.meter) || o.meter < 0.0 || o.meter > 1.0)
                return refuse("--meter needs a value from 0 to 1");
        } else if (a == "--highlight") {
            if (!hasValue || !parseNumber(args[++i], o.highlight) || o.highlight < 0 || o.highlight > 8)
                return refuse("--highlight needs a control tag from 0 to 8");
        } else if (a == "--scale") {
            // 1, 1.5 or 2 (or 100, 150, 200).
            if (hasValue && parseNumber(args[++i], number) && number > 10.0) number /= 100.0;
            o.scale = 0;
            for (int32_t size : editor_scale::kSizes)
                if (number * 100.0 == size) o.scale = size;
            if (o.scale == 0) return refuse("--scale needs 1, 1.5 or 2");
        } else if (a == "--about" || a == "--size-menu") {
            (a == "--about" ? o.about : o.sizeMenu) = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return refuse("unknown option " + a);
        } else if (o.output.empty()) {
            o.output = a;
        } else {
            return refuse("editor-shot writes one picture");
        }
    }
    return o.output.empty() ? refuse("editor-shot needs the PNG file to write") : 0;
}

// The program and parameters asked for, by number or name; 0 or a refusal.
int applySettings(const ShotOptions& o, TolvaneEngine& engine) {
    if (!o.program.empty()) {
        double number;
        int32_t chosen = -1;
        if (parseNumber(o.program, number) && number >= 0 && number < TolvaneEngine::kProgramCount &&
            number == static_cast<int>(number))
            chosen = static_cast<int32_t>(number);
        for (int32_t p = 0; p < TolvaneEngine::kProgramCount && chosen < 0; ++p) {
            char name[TolvaneProgram::kNameLength] = {};
            engine.getProgramNameIndexed(p, name);
            if (strcasecmp(name, o.program.c_str()) == 0) chosen = p;
        }
        if (chosen < 0) return refuse("no program '" + o.program + "'");
        engine.setProgram(chosen);
    }
    for (const auto& [name, text] : o.sets) {
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
    return 0;
}

}  // namespace

int editorShotCommand(const std::vector<std::string>& args) {
    ShotOptions o;
    if (const int refused = parseOptions(args, o)) return refused;
    platform::useHeadlessWindows(true);
    TolvaneEngine engine;
    if (const int refused = applySettings(o, engine)) return refused;

    EngineEditorLink link(engine);
    TolvaneEditor editor(&link);
    editor.setFixedScale(o.scale);
    editor.open(nullptr);
    editor.idle();
    editor.idle();
    CHighlightFrame* frame = editor.getFrame();
    if (o.meter >= 0.0) {
        editor.getControl(tolvane::kMeterTag)->setValue(static_cast<float>(o.meter));
        frame->idle();  // draws it, without reading the engine's (silent) meter
    }
    if (o.highlight >= 0.0) frame->setHighlight(static_cast<int32_t>(o.highlight), true);
    auto at = [&](int32_t x, int32_t y) {
        return CPoint{editor_scale::edge(x, o.scale), editor_scale::edge(y, o.scale)};
    };
    if (o.about) frame->mouseDown(at(600, 185).x, at(600, 185).y, platform::kLeftButton);
    if (o.sizeMenu) editor.openSizeMenu(at(460, 20));
    frame->idle();
    auto* window = static_cast<platform::HeadlessWindow*>(frame->getPlatformWindow());
    const bool written = writePngFile(o.output, window->getPicture().data(), window->getWidth(), window->getHeight());
    editor.close();
    if (!written) {
        std::fprintf(stderr, "tolvane: cannot write %s\n", o.output.c_str());
        return 1;
    }
    return 0;
}
