// What the standalone program remembers between runs: the current program and
// its parameter values, in "Tolvane Live Settings.txt" beside the MIDI
// bindings in the settings folder. One line per item, written by the program
// and readable by people:
//
//   # Tolvane Live: the program and its settings at the last exit ...
//   program 4 NY Compression
//   Ratio 0.248857
//   Make-Up Gain 0.575342
//
// A parameter line is its name (as in the parameter table) and its normalised
// value. Reading takes what makes sense and skips the rest (unknown names,
// values that are no number or lie outside 0..1, lines of no known kind), so
// a damaged line costs only itself. The program's name is for people; its
// number counts.
#pragma once

#include <cstdint>
#include <string>

#include "TolvaneEngine.h"

struct LiveSettings {
    int32_t program = -1;  // -1: none given
    float values[TolvaneEngine::kParameterCount] = {};
    bool hasValue[TolvaneEngine::kParameterCount] = {};
};

// The file in the settings folder; empty when there is no folder.
std::string liveSettingsPath();

std::string formatLiveSettings(const LiveSettings& settings, const char* programName);
LiveSettings parseLiveSettings(const std::string& text);

// The engine's current program and values, and back: the program first (its
// stored values), then every value the settings hold.
LiveSettings captureLiveSettings(const TolvaneEngine& engine);
void restoreLiveSettings(TolvaneEngine& engine, const LiveSettings& settings);

// Reads the file; false when it cannot be read (a first run has none).
bool readLiveSettings(const std::string& path, LiveSettings& settings);
// Replaces the file in one step (a temporary file beside it, flushed to disk,
// then renamed); only `tolvane live` writes it, so no lock is taken. False,
// with the old file untouched, on failure.
bool writeLiveSettings(const std::string& path, const TolvaneEngine& engine);
