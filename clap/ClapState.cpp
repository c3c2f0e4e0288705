#include "ClapState.h"

#include <cstring>

namespace tolvane_clap {

namespace {

constexpr uint8_t kMagic[4] = {'T', 'L', 'V', 'S'};
constexpr size_t kHeaderSize = 12;
constexpr size_t kNameLength = TolvaneProgram::kNameLength;
// The payload's size with `values` values: version 1 had no Key.
constexpr uint32_t payloadSize(int32_t values) { return 4 + 4 * values + kTolvaneProgramCount * kNameLength; }
constexpr uint32_t kPayloadSize = payloadSize(tolvane::kSideChainParameterCount);
static_assert(kHeaderSize + kPayloadSize + 4 == kStateSize);
static_assert(kHeaderSize + payloadSize(tolvane::kParameterCount) + 4 == kStateSizeBeforeKey);

// zlib's CRC-32, bit by bit: a state is small and written rarely.
uint32_t crc32(const uint8_t* bytes, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t get(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

}  // namespace

std::array<uint8_t, kStateSize> writeState(const State& state) {
    std::array<uint8_t, kStateSize> bytes{};
    uint8_t* at = bytes.data();
    std::memcpy(at, kMagic, sizeof kMagic);
    put(at + 4, kStateVersion);
    put(at + 8, kPayloadSize);
    at += kHeaderSize;
    put(at, static_cast<uint32_t>(state.program));
    at += 4;
    for (float value : state.values) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        put(at, bits);
        at += 4;
    }
    for (const auto& name : state.names) {
        // Nothing after the terminator, whatever the caller's array held there.
        std::memcpy(at, name, strnlen(name, kNameLength - 1));
        at += kNameLength;
    }
    put(at, crc32(bytes.data(), kStateSize - 4));
    return bytes;
}

std::optional<State> readState(const uint8_t* bytes, size_t size) {
    if (!bytes || (size != kStateSize && size != kStateSizeBeforeKey)) return std::nullopt;
    const uint32_t version = size == kStateSize ? kStateVersion : 1;
    const int32_t valueCount = version == 1 ? tolvane::kParameterCount : tolvane::kSideChainParameterCount;
    if (std::memcmp(bytes, kMagic, sizeof kMagic) != 0 || get(bytes + 4) != version ||
        get(bytes + 8) != payloadSize(valueCount) || get(bytes + size - 4) != crc32(bytes, size - 4))
        return std::nullopt;
    State state;
    const uint8_t* at = bytes + kHeaderSize;
    const uint32_t program = get(at);
    if (program >= static_cast<uint32_t>(kTolvaneProgramCount)) return std::nullopt;
    state.program = static_cast<int32_t>(program);
    at += 4;
    for (int32_t i = 0; i < valueCount; ++i) {
        const uint32_t bits = get(at);
        std::memcpy(&state.values[i], &bits, sizeof bits);
        if (!(state.values[i] >= 0.0f && state.values[i] <= 1.0f)) return std::nullopt;  // also refuses NaN
        at += 4;
    }
    for (auto& name : state.names) {
        const size_t length = strnlen(reinterpret_cast<const char*>(at), kNameLength);
        if (length == kNameLength) return std::nullopt;
        for (size_t i = length; i < kNameLength; ++i)
            if (at[i] != 0) return std::nullopt;
        std::memcpy(name, at, kNameLength);
        at += kNameLength;
    }
    return state;
}

}  // namespace tolvane_clap
