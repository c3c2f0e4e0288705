#include "SettingsFolder.h"

#include <windows.h>
#include <io.h>

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

void removeStaleTemporaries(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + ".tmp.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        DeleteFileA((folder + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool syncFile(std::FILE* file) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
}

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

SettingsLock::SettingsLock(const std::string& path) {
    const HANDLE file = CreateFileA((path + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    OVERLAPPED whole{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole)) {
        CloseHandle(file);
        return;
    }
    handle = reinterpret_cast<intptr_t>(file);
}

SettingsLock::~SettingsLock() {
    if (handle == invalid) return;
    const HANDLE file = reinterpret_cast<HANDLE>(handle);
    OVERLAPPED whole{};
    UnlockFileEx(file, 0, 1, 0, &whole);
    CloseHandle(file);
}

}  // namespace platform
