#include "SettingsFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>

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

static std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void removeStaleTemporaries(const std::string& path) {
    const std::string folder = folderOf(path);
    const size_t slash = path.rfind('/');
    const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp.";
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = readdir(dir)) {
        if (std::string_view(entry->d_name).starts_with(prefix)) unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
}

bool syncFile(std::FILE* file) { return fsync(fileno(file)) == 0; }

ReadResult readRegularFile(const std::string& path, size_t limit, std::string& text) {
    text.clear();
    // Looked at before opening, so no device is ever opened; checked again on
    // the open file, which may have been swapped meanwhile. Opening a FIFO
    // without O_NONBLOCK would wait for a writer.
    struct stat s;
    if (stat(path.c_str(), &s) != 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
    if (!S_ISREG(s.st_mode)) return ReadResult::kFailed;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
    bool ok = fstat(fd, &s) == 0 && S_ISREG(s.st_mode);
    text.resize(limit);
    size_t got = 0;
    while (ok && got < limit) {
        const ssize_t n = read(fd, text.data() + got, limit - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        got += static_cast<size_t>(n);
    }
    close(fd);
    text.resize(ok ? got : 0);
    return ok ? ReadResult::kRead : ReadResult::kFailed;
}

SettingsLock::SettingsLock(const std::string& path, std::chrono::milliseconds wait) {
    // flock on the folder: the file itself is replaced by renames, so a lock on
    // it would guard an inode that is about to go. Never a blocking flock: the
    // holder may be a stopped process.
    const int fd = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            handle = fd;
            return;
        }
        const int error = errno;
        if (error == EINTR) continue;
        if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            heldElsewhere = error == EWOULDBLOCK;
            close(fd);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

SettingsLock::~SettingsLock() {
    if (handle != invalid) close(static_cast<int>(handle));  // closing releases the lock
}

}  // namespace platform
