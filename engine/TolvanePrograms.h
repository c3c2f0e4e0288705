// A program: a name and one normalised value per parameter. Five of them,
// filled from the factory presets, each keeping its own edits.
#pragma once

#include <cstdint>

#include "TolvaneParameters.h"

struct TolvaneProgram {
    static constexpr int32_t kNameLength = 24;  // bytes: at most 23 characters and the terminator

    char name[kNameLength];
    float values[tolvane::kSideChainParameterCount];  // by parameter index; Key only in the side-chain forms

    TolvaneProgram();  // named "init"; values not set
};

// A factory preset names a value for every parameter, or does not compile.
// Key is Internal (0) in every one.
struct TolvanePreset {
    const char* name;
    float values[tolvane::kParameterCount];

    template <class... Values>
    requires(sizeof...(Values) == tolvane::kParameterCount) constexpr TolvanePreset(const char* presetName, Values... v)
        : name(presetName),
          values{v...} {}
};

constexpr int32_t kTolvaneProgramCount = 5;
extern const TolvanePreset tolvaneFactoryPresets[kTolvaneProgramCount];

// A factory preset's value of any parameter of any form: Key is Internal.
inline float tolvaneFactoryValue(int32_t program, int32_t index) {
    return index < tolvane::kParameterCount ? tolvaneFactoryPresets[program].values[index] : 0.0f;
}
