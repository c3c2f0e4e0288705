// What a CLAP host keeps of an instance (its session, a copy of the
// instance): the current program, its six values and the five program names.
//
// The bytes, all numbers little-endian:
//   0   "TLVS"                   magic
//   4   uint32 version           1
//   8   uint32 length            of what follows up to the checksum: 148
//   12  uint32 program           0..4
//   16  6 x float32 values       normalised 0..1, in parameter order
//   40  5 x 24 bytes names       each terminated by a zero byte, zero-filled after it
//   160 uint32 checksum          CRC-32 (as in zlib) of bytes 0..159
//
// The reader takes a state only when every byte is as written here, so a
// state that is damaged, cut short, from a newer version or from another
// plug-in is refused as a whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "TolvaneParameters.h"
#include "TolvanePrograms.h"

namespace tolvane_clap {

struct State {
    int32_t program = 0;
    float values[tolvane::kParameterCount] = {};
    char names[kTolvaneProgramCount][TolvaneProgram::kNameLength] = {};

    bool operator==(const State&) const = default;
};

inline constexpr uint32_t kStateVersion = 1;
inline constexpr size_t kStateSize = 164;

std::array<uint8_t, kStateSize> writeState(const State& state);
// The state in `bytes`, or nothing when they are not exactly one valid state.
std::optional<State> readState(const uint8_t* bytes, size_t size);

}  // namespace tolvane_clap
