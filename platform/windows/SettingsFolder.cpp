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

static ReadResult failure() {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::kMissing : ReadResult::kFailed;
}

ReadResult readRegularFile(const std::string& path, size_t limit, std::string& text) {
    text.clear();
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failure();
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ReadResult::kFailed;
    // Sharing deletion lets another writer rename a new file over this one
    // while it is being read.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failure();
    // Pipes and character devices (a console, a serial port) could wait.
    bool ok = GetFileType(file) == FILE_TYPE_DISK;
    text.resize(limit);
    size_t got = 0;
    while (ok && got < limit) {
        DWORD n = 0;
        const DWORD want = limit - got > (1u << 20) ? DWORD{1u << 20} : static_cast<DWORD>(limit - got);
        ok = ReadFile(file, text.data() + got, want, &n, nullptr) != 0;
        if (!ok || n == 0) break;
        got += n;
    }
    CloseHandle(file);
    text.resize(ok ? got : 0);
    return ok ? ReadResult::kRead : ReadResult::kFailed;
}

SettingsLock::SettingsLock(const std::string& path, std::chrono::milliseconds wait) {
    const HANDLE file = CreateFileA((path + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    // Never a waiting lock: the holder may be a stopped process.
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        OVERLAPPED whole{};
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
            handle = reinterpret_cast<intptr_t>(file);
            return;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION || std::chrono::steady_clock::now() >= deadline) {
            heldElsewhere = error == ERROR_LOCK_VIOLATION;
            CloseHandle(file);
            return;
        }
        Sleep(2);
    }
}

SettingsLock::~SettingsLock() {
    if (handle == invalid) return;
    const HANDLE file = reinterpret_cast<HANDLE>(handle);
    OVERLAPPED whole{};
    UnlockFileEx(file, 0, 1, 0, &whole);
    CloseHandle(file);
}

}  // namespace platform
