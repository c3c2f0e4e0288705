// What a CLAP host keeps of an instance (its session, a copy of the
// instance): the current program, its values and the five program names.
//
// The bytes, all numbers little-endian:
//   0   "TLVS"                   magic
//   4   uint32 version           2 (1: before the Key parameter)
//   8   uint32 length            of what follows up to the checksum: 152 (1: 148)
//   12  uint32 program           0..4
//   16  7 x float32 values       normalised 0..1, in parameter order (1: six, Key Internal)
//   44  5 x 24 bytes names       each terminated by a zero byte, zero-filled after it
//   164 uint32 checksum          CRC-32 (as in zlib) of the bytes before it
//
// The reader takes a state only when every byte is as written here, so a
// state that is damaged, cut short, from a newer version or from another
// plug-in is refused as a whole. Sessions saved before the Key parameter
// existed load with Key at Internal.
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
    float values[tolvane::kSideChainParameterCount] = {};
    char names[kTolvaneProgramCount][TolvaneProgram::kNameLength] = {};

    bool operator==(const State&) const = default;
};

inline constexpr uint32_t kStateVersion = 2;
inline constexpr size_t kStateSize = 168;
inline constexpr size_t kStateSizeBeforeKey = 164;

std::array<uint8_t, kStateSize> writeState(const State& state);
// The state in `bytes`, or nothing when they are not exactly one valid state.
std::optional<State> readState(const uint8_t* bytes, size_t size);

}  // namespace tolvane_clap
