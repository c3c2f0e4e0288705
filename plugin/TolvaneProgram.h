// A program: a name and the six normalised parameter values. Five of them,
// filled from the factory presets, each keeping its own edits.
#pragma once

#include "vst2.h"

struct TolvaneProgram {
    static constexpr int kParameterCount = 6;

    char name[kVstMaxProgNameLen];  // at most 23 characters and the terminator
    float values[kParameterCount];  // Ratio, Attack, Release, Sensitivity, Make-Up Gain, Active

    TolvaneProgram();  // named "init"; values not set
};

struct TolvanePreset {
    const char* name;
    float values[TolvaneProgram::kParameterCount];
};

constexpr int kTolvaneProgramCount = 5;
extern const TolvanePreset tolvaneFactoryPresets[kTolvaneProgramCount];
