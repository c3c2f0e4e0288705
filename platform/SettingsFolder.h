// Where Tolvane keeps its one settings file, and how a file is replaced in one
// step. Each operating system has its own implementation beside this header.
#pragma once

#include <string>

namespace platform {

// The settings folder, ending in a path separator, created (with any missing
// levels) when it does not exist. Empty when there is none to be had.
//   Linux:   $XDG_CONFIG_HOME/Quenmark/, or $HOME/.config/Quenmark/
//   Windows: %ALLUSERSPROFILE%\Application Data\Quenmark\ (expanded, within 260 characters)
std::string settingsFolder();

// Moves `from` over `to`, replacing it. Readers see either the old file or the
// new one, never a mixture. False (and `to` untouched) on failure.
bool replaceFile(const std::string& from, const std::string& to);

// A name for a temporary file next to `path`, unique within the machine for now.
std::string temporaryNameFor(const std::string& path);

}  // namespace platform
