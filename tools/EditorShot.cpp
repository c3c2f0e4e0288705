// tolvane editor-shot: builds an engine and its editor headless, sets it up
// as asked, runs idle as a host would and writes what the editor shows.
#include "EditorShot.h"

#include "CHighlightFrame.h"
#include "CommandLine.h"
#include "EditorScale.h"
#include "EngineEditorLink.h"
#include "PngEncoder.h"
#include "TolvaneEditor.h"
#include "TolvaneEngine.h"

namespace {

struct ShotOptions {
    std::string output, program;
    std::vector<cli::ParameterValue> sets;
    double meter = -1.0, highlight = -1.0;
    int32_t scale = 100;
    bool about = false, sizeMenu = false;
};

const cli::Option kShotOptions[] = {
    {"--program", cli::Takes::kValue, "a number or a name"},
    {"--set", cli::Takes::kValue, "NAME=VALUE"},
    {"--meter", cli::Takes::kValue, "a value from 0 to 1"},
    {"--highlight", cli::Takes::kValue, "a control tag from 0 to 8"},
    {"--scale", cli::Takes::kValue, "1, 1.5 or 2"},
    {"--about", cli::Takes::kNothing, ""},
    {"--size-menu", cli::Takes::kNothing, ""},
};

// 0 when the options are sound; otherwise what to exit with, said on stderr.
int parseOptions(const std::vector<std::string>& args, ShotOptions& o) {
    cli::Arguments parsed;
    std::string error;
    if (!cli::parse(args, kShotOptions, parsed, error)) return cli::refuse(error);
    for (const cli::Given& given : parsed.options) {
        double number = 0.0;
        if (given.is("--program")) {
            o.program = given.value;
        } else if (given.is("--set")) {
            if (!cli::parseParameterValue(given.value, o.sets.emplace_back(), error)) return cli::refuse(error);
        } else if (given.is("--meter")) {
            if (!cli::parseNumber(given.value, o.meter) || o.meter < 0.0 || o.meter > 1.0)
                return cli::refuse(given.refusal());
        } else if (given.is("--highlight")) {
            if (!cli::parseNumber(given.value, o.highlight) || o.highlight < 0 || o.highlight > 8)
                return cli::refuse(given.refusal());
        } else if (given.is("--scale")) {
            // 1, 1.5 or 2 (or 100, 150, 200).
            if (cli::parseNumber(given.value, number) && number > 10.0) number /= 100.0;
            o.scale = 0;
            for (int32_t size : editor_scale::kSizes)
                if (number * 100.0 == size) o.scale = size;
            if (o.scale == 0) return cli::refuse(given.refusal());
        } else {
            (given.is("--about") ? o.about : o.sizeMenu) = true;
        }
    }
    if (parsed.operands.empty()) return cli::refuse("editor-shot needs the PNG file to write");
    if (parsed.operands.size() > 1) return cli::refuse("editor-shot writes one picture");
    o.output = parsed.operands[0];
    return 0;
}

// The program and parameters asked for; 0 or a refusal.
int applySettings(const ShotOptions& o, TolvaneEngine& engine) {
    if (!o.program.empty()) {
        int32_t program;
        std::string error;
        if (!cli::findProgram(o.program, engine, program, error)) return cli::refuse(error);
        engine.setProgram(program);
    }
    for (const cli::ParameterValue& set : o.sets) engine.setParameter(set.index, set.value);
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
    return written ? 0 : cli::fail("cannot write " + o.output);
}
