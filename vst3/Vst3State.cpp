#include "Vst3State.h"

#include <cmath>
#include <cstring>

namespace tolvane::vst3state {

namespace {

constexpr uint8_t kComponentTag[4] = {'T', 'l', 'v', 'C'};
constexpr uint8_t kControllerTag[4] = {'T', 'l', 'v', 'E'};
// Version 2 appended Key to the component's record; the controller's is still version 1.
constexpr uint32_t kVersion = 2, kFirstVersion = 1;
constexpr uint32_t kControllerVersion = 1;
constexpr size_t kHeaderSize = 8;

size_t sizeOf(uint32_t version) {
    return version == kVersion ? kComponentStateSize : version == kFirstVersion ? kFirstComponentStateSize : 0;
}

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
    auto putFloat = [&at](float value) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        put32(at, bits);
    };
    for (int32_t i = 0; i < kParameterCount; ++i) putFloat(state.values[i]);
    put32(at, state.bypass ? 1 : 0);
    for (const auto& name : state.names) {
        const size_t length = strnlen(name, sizeof name - 1);
        std::memset(at, 0, sizeof name);
        std::memcpy(at, name, length);
        at += sizeof name;
    }
    putFloat(state.values[kKey]);
}

bool decode(const uint8_t* bytes, size_t size, ComponentState& state) {
    if (!bytes || size < kHeaderSize || std::memcmp(bytes, kComponentTag, 4) != 0) return false;
    const uint8_t* at = bytes + 4;
    const uint32_t version = get32(at);
    if (sizeOf(version) == 0 || size < sizeOf(version)) return false;
    ComponentState read;
    read.program = static_cast<int32_t>(get32(at));
    if (read.program < 0 || read.program >= kTolvaneProgramCount) return false;
    auto getValue = [&at](float& value) {
        const uint32_t bits = get32(at);
        std::memcpy(&value, &bits, sizeof value);
        return value >= 0.0f && value <= 1.0f;  // also no NaN
    };
    for (int32_t i = 0; i < kParameterCount; ++i)
        if (!getValue(read.values[i])) return false;
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
    // Before Key there was only the input to listen to: Internal.
    if (version != kFirstVersion && !getValue(read.values[kKey])) return false;
    state = read;
    return true;
}

bool read(vst3::IBStream* stream, ComponentState& state) {
    // The header says how many bytes the record has: no more are taken.
    uint8_t bytes[kComponentStateSize];
    if (!readExactly(stream, bytes, kHeaderSize)) return false;
    const uint8_t* at = bytes + 4;
    const size_t size = sizeOf(get32(at));
    return size != 0 && readExactly(stream, bytes + kHeaderSize, static_cast<int32_t>(size - kHeaderSize)) &&
           decode(bytes, size, state);
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
    return get32(at) == kControllerVersion;
}

bool writeController(vst3::IBStream* stream) {
    uint8_t bytes[kControllerStateSize];
    std::memcpy(bytes, kControllerTag, 4);
    uint8_t* at = bytes + 4;
    put32(at, kControllerVersion);
    return writeAll(stream, bytes, sizeof bytes);
}

}  // namespace tolvane::vst3state
