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

bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

SettingsLock::SettingsLock(const std::string& path) {
    // flock on the folder: the file itself is replaced by renames, so a lock on
    // it would guard an inode that is about to go.
    const int fd = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    int result;
    while ((result = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        close(fd);
        return;
    }
    handle = fd;
}

SettingsLock::~SettingsLock() {
    if (handle != invalid) close(static_cast<int>(handle));  // closing releases the lock
}

}  // namespace platform
