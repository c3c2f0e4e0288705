#include "EditorScale.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "EditorWindow.h"
#include "SettingsFolder.h"

namespace editor_scale {

namespace {
constexpr int32_t kUnread = -1;
std::atomic<int32_t> keptChoice{kUnread};
std::atomic<double> keptDesktopFactor{0.0};
}  // namespace

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

int32_t userChoice() {
    const int32_t choice = keptChoice.load();
    return choice == kUnread ? 0 : choice;
}

void readUserChoice() {
    const std::string path = userChoiceFile();
    std::string text;
    int32_t choice = 0;
    if (!path.empty() && platform::readRegularFile(path, 64, text) == platform::ReadResult::kRead) {
        // "150" or "150 %", with any blanks and line end.
        const int32_t percent = std::atoi(text.c_str());
        for (int32_t size : kSizes)
            if (percent == size) choice = size;
    }
    keptChoice.store(choice);
}

void readUserChoiceOnce() {
    if (keptChoice.load() == kUnread) readUserChoice();
}

bool writeUserChoice(int32_t percent) {
    const std::string path = userChoiceFile();
    if (path.empty()) return false;
    char text[16];
    std::snprintf(text, sizeof text, "%d %%\n", static_cast<int>(percent));
    if (!platform::writeWholeFile(path, text)) return false;
    keptChoice.store(percent);
    return true;
}

double desktopFactor() { return keptDesktopFactor.load(); }

void readDesktopFactor(void* parent) { keptDesktopFactor.store(platform::desktopScale(parent)); }

}  // namespace editor_scale
