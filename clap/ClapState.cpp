#include "ClapState.h"

#include <cstring>

namespace tolvane_clap {

namespace {

constexpr uint8_t kMagic[4] = {'T', 'L', 'V', 'S'};
constexpr size_t kHeaderSize = 12;
constexpr size_t kNameLength = TolvaneProgram::kNameLength;
constexpr uint32_t kPayloadSize = 4 + 4 * tolvane::kParameterCount + kTolvaneProgramCount * kNameLength;
static_assert(kHeaderSize + kPayloadSize + 4 == kStateSize);

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
    if (!bytes || size != kStateSize) return std::nullopt;
    if (std::memcmp(bytes, kMagic, sizeof kMagic) != 0 || get(bytes + 4) != kStateVersion ||
        get(bytes + 8) != kPayloadSize || get(bytes + kStateSize - 4) != crc32(bytes, kStateSize - 4))
        return std::nullopt;
    State state;
    const uint8_t* at = bytes + kHeaderSize;
    const uint32_t program = get(at);
    if (program >= static_cast<uint32_t>(kTolvaneProgramCount)) return std::nullopt;
    state.program = static_cast<int32_t>(program);
    at += 4;
    for (float& value : state.values) {
        const uint32_t bits = get(at);
        std::memcpy(&value, &bits, sizeof value);
        if (!(value >= 0.0f && value <= 1.0f)) return std::nullopt;  // also refuses NaN
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
