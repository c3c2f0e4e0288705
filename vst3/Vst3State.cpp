#include "Vst3State.h"

#include <cmath>
#include <cstring>

namespace tolvane::vst3state {

namespace {

constexpr uint8_t kComponentTag[4] = {'T', 'l', 'v', 'C'};
constexpr uint8_t kControllerTag[4] = {'T', 'l', 'v', 'E'};
constexpr uint32_t kVersion = 1;

void put32(uint8_t*& at, uint32_t value) {
    for (int i = 0; i < 4; ++i) *at++ = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get32(const uint8_t*& at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(*at++) << (8 * i);
    return value;
}

bool readExactly(vst3::IBStream* stream, uint8_t* bytes, int32_t size) {
    if (!stream) return false;
    // A stream may deliver less than asked; one that delivers nothing has ended.
    for (int32_t done = 0; done < size;) {
        int32_t got = 0;
        if (stream->read(bytes + done, size - done, &got) != vst3::kResultOk || got <= 0 || got > size - done)
            return false;
        done += got;
    }
    return true;
}

bool writeAll(vst3::IBStream* stream, uint8_t* bytes, int32_t size) {
    if (!stream) return false;
    for (int32_t done = 0; done < size;) {
        int32_t wrote = 0;
        if (stream->write(bytes + done, size - done, &wrote) != vst3::kResultOk || wrote <= 0 || wrote > size - done)
            return false;
        done += wrote;
    }
    return true;
}

}  // namespace

void encode(const ComponentState& state, uint8_t (&bytes)[kComponentStateSize]) {
    uint8_t* at = bytes;
    std::memcpy(at, kComponentTag, 4);
    at += 4;
    put32(at, kVersion);
    put32(at, static_cast<uint32_t>(state.program));
    for (float value : state.values) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        put32(at, bits);
    }
    put32(at, state.bypass ? 1 : 0);
    for (const auto& name : state.names) {
        const size_t length = strnlen(name, sizeof name - 1);
        std::memset(at, 0, sizeof name);
        std::memcpy(at, name, length);
        at += sizeof name;
    }
}

bool decode(const uint8_t* bytes, size_t size, ComponentState& state) {
    if (!bytes || size < kComponentStateSize || std::memcmp(bytes, kComponentTag, 4) != 0) return false;
    const uint8_t* at = bytes + 4;
    ComponentState read;
    if (get32(at) != kVersion) return false;
    read.program = static_cast<int32_t>(get32(at));
    if (read.program < 0 || read.program >= kTolvaneProgramCount) return false;
    for (float& value : read.values) {
        const uint32_t bits = get32(at);
        std::memcpy(&value, &bits, sizeof value);
        if (!(value >= 0.0f && value <= 1.0f)) return false;  // also no NaN
    }
    const uint32_t bypass = get32(at);
    if (bypass > 1) return false;
    read.bypass = bypass == 1;
    for (auto& name : read.names) {
        const auto* end = static_cast<const uint8_t*>(std::memchr(at, 0, sizeof name));
        if (!end) return false;
        for (const uint8_t* rest = end; rest < at + sizeof name; ++rest)
            if (*rest != 0) return false;
        std::memcpy(name, at, sizeof name);
        at += sizeof name;
    }
    state = read;
    return true;
}

bool read(vst3::IBStream* stream, ComponentState& state) {
    uint8_t bytes[kComponentStateSize];
    return readExactly(stream, bytes, sizeof bytes) && decode(bytes, sizeof bytes, state);
}

bool write(vst3::IBStream* stream, const ComponentState& state) {
    uint8_t bytes[kComponentStateSize];
    encode(state, bytes);
    return writeAll(stream, bytes, sizeof bytes);
}

bool readController(vst3::IBStream* stream) {
    uint8_t bytes[kControllerStateSize];
    if (!readExactly(stream, bytes, sizeof bytes) || std::memcmp(bytes, kControllerTag, 4) != 0) return false;
    const uint8_t* at = bytes + 4;
    return get32(at) == kVersion;
}

bool writeController(vst3::IBStream* stream) {
    uint8_t bytes[kControllerStateSize];
    std::memcpy(bytes, kControllerTag, 4);
    uint8_t* at = bytes + 4;
    put32(at, kVersion);
    return writeAll(stream, bytes, sizeof bytes);
}

}  // namespace tolvane::vst3state
