// Another process that holds the settings folder's lock, as a writer stopped
// mid-write would: a forked child locks the folder and keeps the lock until
// released (at most 3 seconds, so a test that waits for it cannot hang).
#pragma once

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

class LockHolder {
public:
    explicit LockHolder(const std::string& folder) {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) ADD_FAILURE() << "no pipe";
        child = fork();
        if (child == 0) {
            // Only async-signal-safe calls from here on.
            close(ready[0]);
            close(release[1]);
            const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
            const char locked = fd >= 0 && flock(fd, LOCK_EX) == 0;
            if (write(ready[1], &locked, 1) != 1) _exit(1);
            pollfd until{release[0], POLLIN, 0};
            poll(&until, 1, 3000);
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        releaseEnd = release[1];
        char locked = 0;
        if (child < 0 || read(ready[0], &locked, 1) != 1 || !locked) ADD_FAILURE() << "the child holds no lock";
        close(ready[0]);
    }
    ~LockHolder() { release(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    void release() {
        if (releaseEnd < 0) return;
        close(releaseEnd);
        releaseEnd = -1;
        if (child > 0) waitpid(child, nullptr, 0);
    }

private:
    pid_t child = -1;
    int releaseEnd = -1;
};
#endif
