#include "SettingsFolder.h"

#include <windows.h>

#include <atomic>

namespace platform {

// The expanded folder, with "\Quenmark\" appended, must fit this many
// characters with its terminator; a longer one counts as unavailable.
static constexpr DWORD kPathCapacity = 260;

std::string settingsFolder() {
    char expanded[kPathCapacity];
    const DWORD needed = ExpandEnvironmentStringsA("%ALLUSERSPROFILE%\\Application Data", expanded, kPathCapacity);
    if (needed == 0 || needed > kPathCapacity) return "";
    std::string folder = std::string(expanded) + "\\Quenmark\\";
    if (folder.size() + 1 > kPathCapacity || folder.find('%') != std::string::npos) return "";
    // Windows provides "Application Data" under ProgramData as a compatibility
    // link, but a fresh system may lack some levels: create what is missing.
    for (size_t slash = folder.find('\\', 3); slash != std::string::npos; slash = folder.find('\\', slash + 1)) {
        const std::string level = folder.substr(0, slash);
        if (!CreateDirectoryA(level.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return "";
    }
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return "";
    return folder;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::string temporaryNameFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".tmp." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(counter.fetch_add(1));
}

}  // namespace platform
