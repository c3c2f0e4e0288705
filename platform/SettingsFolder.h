// Where Tolvane keeps its settings files (the MIDI bindings, the editor's
// size, the live program's settings), how such a file is read without ever
// waiting, how it is replaced in one step, and the lock that every instance and
// process takes around a change of it. Each operating system has its own
// implementation beside this header.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

// The settings folder, ending in a path separator, created (with any missing
// levels) when it does not exist. Empty when there is none to be had.
//   Linux:   $XDG_CONFIG_HOME/Quenmark/, or $HOME/.config/Quenmark/
//   Windows: %ALLUSERSPROFILE%\Application Data\Quenmark\ (expanded, within 260 characters)
std::string settingsFolder();

enum class ReadResult { kRead, kMissing, kFailed };
// Reads at most `limit` bytes of the file at `path` into `text`, as they are
// (no line-end translation). Only a regular file is read: a FIFO, a device or a
// folder there is never opened for a read that could wait, and counts as
// kFailed, as does any error; kMissing when nothing is there.
ReadResult readRegularFile(const std::string& path, size_t limit, std::string& text);

// Moves `from` over `to`, replacing it. Readers see either the old file or the
// new one, never a mixture, so they need no lock. False (and `to` untouched)
// on failure.
bool replaceFile(const std::string& from, const std::string& to);

// A name for a temporary file next to `path`, unique within the machine for now.
std::string temporaryNameFor(const std::string& path);

// Removes temporary files of `path` that a killed process left behind. Only
// call it holding the SettingsLock of `path`: every live writer holds it while
// its temporary file exists.
void removeStaleTemporaries(const std::string& path);

// Writes `text` as the whole file at `path`, in one step: a temporary file
// beside it, synced, then renamed over it. False (and the old file untouched)
// on any failure. Bytes are written as they are (no line-end translation).
bool writeWholeFile(const std::string& path, std::string_view text);

// Forces a written file's data to the disk, so a rename never publishes an
// empty file after a power cut. The stream must have been flushed.
bool syncFile(std::FILE* file);

// An exclusive lock on the settings file at `path`, held by this object's
// lifetime, between threads and processes alike. It waits at most `wait` for
// another holder (a stopped process may hold it for ever); busy() then tells
// that the lock was not had for that reason. Where no lock can be had at all
// (neither held nor busy) the holder may go on without one.
// Linux locks the folder itself; Windows a companion file named path + ".lock".
class SettingsLock {
public:
    SettingsLock(const std::string& path, std::chrono::milliseconds wait);
    ~SettingsLock();
    SettingsLock(const SettingsLock&) = delete;
    SettingsLock& operator=(const SettingsLock&) = delete;
    bool held() const { return handle != invalid; }
    bool busy() const { return heldElsewhere; }

private:
    static constexpr intptr_t invalid = -1;
    intptr_t handle = invalid;
    bool heldElsewhere = false;
};

}  // namespace platform
