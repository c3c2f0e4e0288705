#include "LiveSettings.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SettingsFolder.h"
#include "TolvaneParameters.h"

namespace {

const char* const kFileName = "Tolvane Live Settings.txt";
const char* const kHeading =
    "# Tolvane Live: the program and its settings at the last exit, restored at the next start.\n"
    "# Parameter values are normalised, 0 to 1; `tolvane info` shows what they mean.\n";

bool parseValue(const std::string& text, float& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(value >= 0.0 && value <= 1.0)) return false;
    out = static_cast<float>(value);
    return true;
}

// The fewest digits that read back as the same float (nine always do).
std::string shortestText(float value) {
    char text[32];
    for (int digits = 6;; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (digits == 9 || std::strtof(text, nullptr) == value) return text;
    }
}

void parseLine(const std::string& line, LiveSettings& settings) {
    if (line.empty() || line[0] == '#') return;
    if (line.rfind("program ", 0) == 0) {
        char* end = nullptr;
        const long number = std::strtol(line.c_str() + 8, &end, 10);
        if (end != line.c_str() + 8 && (*end == '\0' || *end == ' ') && number >= 0 &&
            number < TolvaneEngine::kProgramCount)
            settings.program = static_cast<int32_t>(number);
        return;
    }
    // The name may hold spaces ("Make-Up Gain"): the value follows the last one.
    const size_t space = line.rfind(' ');
    if (space == std::string::npos) return;
    const std::string name = line.substr(0, space);
    for (int32_t p = 0; p < TolvaneEngine::kParameterCount; ++p) {
        if (tolvane::kParameters[p].name != name) continue;
        float value;
        if (parseValue(line.substr(space + 1), value)) {
            settings.values[p] = value;
            settings.hasValue[p] = true;
        }
    }
}

}  // namespace

std::string liveSettingsPath() {
    const std::string folder = platform::settingsFolder();
    return folder.empty() ? "" : folder + kFileName;
}

std::string formatLiveSettings(const LiveSettings& settings, const char* programName) {
    std::string text = kHeading;
    char line[96];
    if (settings.program >= 0) {
        std::snprintf(line, sizeof line, "program %d %s\n", static_cast<int>(settings.program), programName);
        text += line;
    }
    for (int32_t p = 0; p < TolvaneEngine::kParameterCount; ++p) {
        if (!settings.hasValue[p]) continue;
        text += std::string(tolvane::kParameters[p].name) + " " + shortestText(settings.values[p]) + "\n";
    }
    return text;
}

LiveSettings parseLiveSettings(const std::string& text) {
    LiveSettings settings;
    // Split by hand: the programs we hand out carry their C++ library, and its
    // streams would bring symbols of a newer glibc than they promise.
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        parseLine(line, settings);
    }
    return settings;
}

LiveSettings captureLiveSettings(const TolvaneEngine& engine) {
    LiveSettings settings;
    settings.program = engine.getProgram();
    for (int32_t p = 0; p < TolvaneEngine::kParameterCount; ++p) {
        // Hosts may leave values outside 0..1; the file keeps the range.
        const float value = engine.getParameter(p);
        settings.values[p] = value < 0.0f ? 0.0f : value > 1.0f ? 1.0f : value;
        settings.hasValue[p] = true;
    }
    return settings;
}

void restoreLiveSettings(TolvaneEngine& engine, const LiveSettings& settings) {
    if (settings.program >= 0) engine.setProgram(settings.program);
    for (int32_t p = 0; p < TolvaneEngine::kParameterCount; ++p)
        if (settings.hasValue[p]) engine.setParameter(p, settings.values[p]);
}

bool readLiveSettings(const std::string& path, LiveSettings& settings) {
    // A settings file is a few hundred bytes; a larger one is none of ours.
    std::string text;
    if (platform::readRegularFile(path, 64 * 1024, text) != platform::ReadResult::kRead) return false;
    settings = parseLiveSettings(text);
    return true;
}

bool writeLiveSettings(const std::string& path, const TolvaneEngine& engine) {
    if (path.empty()) return false;
    char programName[TolvaneProgram::kNameLength] = {};
    engine.getProgramName(programName);
    // One program writes this file: no lock, and the file is replaced in one step.
    return platform::writeWholeFile(path, formatLiveSettings(captureLiveSettings(engine), programName));
}
