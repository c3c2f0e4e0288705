// What a host keeps of an instance (in its project, or as a preset file): the
// component's record holds the current program, its six values, the bypass,
// the five programs' names and, from version 2 on, Key; the controller's
// record holds only its own tag and version, for later versions to add to.
// Version 1 records (written before Key) read as Key at Internal.
//
// Records are little-endian and of fixed size, and a reader takes exactly
// its record's bytes from the stream (a host may hand over a longer stream).
// A record is whole and valid or it is refused: a tag or version not ours, a
// program that is none, a value that is no number or lies outside 0..1, a
// bypass other than 0 or 1, or a name without its terminator (or with
// anything but zeros after it), and the reader reports failure.
#pragma once

#include <cstddef>
#include <cstdint>

#include "TolvaneParameters.h"
#include "TolvanePrograms.h"
#include "Vst3Interfaces.h"

namespace tolvane::vst3state {

struct ComponentState {
    int32_t program = 0;
    float values[kSideChainParameterCount] = {};
    bool bypass = false;
    char names[kTolvaneProgramCount][TolvaneProgram::kNameLength] = {};
};

// Version 1's record, and the current one: the same with Key appended.
inline constexpr size_t kFirstComponentStateSize = 8 + 4 + 4 * kParameterCount + 4 + kTolvaneProgramCount * 24;
inline constexpr size_t kComponentStateSize = kFirstComponentStateSize + 4;
inline constexpr size_t kControllerStateSize = 8;
static_assert(TolvaneProgram::kNameLength == 24, "the record's names are 24 bytes");

void encode(const ComponentState& state, uint8_t (&bytes)[kComponentStateSize]);
// The record the bytes begin with (of its version's size); false when they
// are fewer, or no valid record.
bool decode(const uint8_t* bytes, size_t size, ComponentState& state);

// Through a host's stream, however it splits its reads and writes.
bool read(vst3::IBStream* stream, ComponentState& state);
bool write(vst3::IBStream* stream, const ComponentState& state);
bool readController(vst3::IBStream* stream);
bool writeController(vst3::IBStream* stream);

}  // namespace tolvane::vst3state
