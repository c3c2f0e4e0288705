#include "SettingsFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace platform {

static bool makeFolders(const std::string& path) {
    // Every level from the root down; existing ones are fine.
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string level = path.substr(0, slash);
        if (mkdir(level.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat s;
    return stat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
}

std::string settingsFolder() {
    std::string base;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (config && *config == '/') base = config;
    else if (home && *home == '/') base = std::string(home) + "/.config";
    else return "";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const std::string folder = base + "/Quenmark/";
    return makeFolders(folder) ? folder : "";
}

bool replaceFile(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

std::string temporaryNameFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(counter.fetch_add(1));
}

}  // namespace platform
