#include "EditorScale.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "SettingsFolder.h"

namespace editor_scale {

static_assert(edge(65, 150) == 98 && edge(152, 150) == 228 && edge(201, 150) == 302,
              "half pixels round up, edge by edge, as the artwork's do: a knob 87 high is 130 at 150 %");

int32_t nearest(double factor) {
    if (!(factor > 0.0) || !std::isfinite(factor)) return 0;
    // Midway between two sizes goes to the larger: a desktop at 125 % gets 150 %.
    if (factor < 1.25) return 100;
    if (factor < 1.75) return 150;
    return 200;
}

int32_t choose(int32_t userChoice, double hostFactor, double desktopFactor) {
    for (int32_t size : kSizes)
        if (userChoice == size) return size;
    if (const int32_t host = nearest(hostFactor)) return host;
    if (const int32_t desktop = nearest(desktopFactor)) return desktop;
    return 100;
}

std::string userChoiceFile() {
    const std::string folder = platform::settingsFolder();
    return folder.empty() ? "" : folder + "Tolvane Editor Size.txt";
}

int32_t readUserChoice() {
    const std::string path = userChoiceFile();
    std::string text;
    if (path.empty() || platform::readRegularFile(path, 64, text) != platform::ReadResult::kRead) return 0;
    // "150" or "150 %", with any blanks and line end.
    const int32_t percent = std::atoi(text.c_str());
    for (int32_t size : kSizes)
        if (percent == size) return size;
    return 0;
}

bool writeUserChoice(int32_t percent) {
    const std::string path = userChoiceFile();
    if (path.empty()) return false;
    char text[16];
    std::snprintf(text, sizeof text, "%d %%\n", static_cast<int>(percent));
    return platform::writeWholeFile(path, text);
}

}  // namespace editor_scale
