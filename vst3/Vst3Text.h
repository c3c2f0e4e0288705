// Texts between the engine's UTF-8 and VST3's UTF-16 strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Vst3Interfaces.h"

namespace tolvane::vst3text {

// Writes `text` (UTF-8; a byte that starts no valid sequence stands for
// itself, as Latin-1) into `out` of `capacity` units, cut to fit, terminated.
inline void toUtf16(const char* text, vst3::char16* out, size_t capacity) {
    const auto* s = reinterpret_cast<const uint8_t*>(text);
    size_t n = 0;
    auto put = [&](uint32_t unit) { out[n++] = static_cast<vst3::char16>(unit); };
    while (*s && n + 1 < capacity) {
        uint32_t code = *s;
        int length = 1;
        if (code >= 0xC2 && code <= 0xF4) {
            const int more = code >= 0xF0 ? 3 : code >= 0xE0 ? 2 : 1;
            uint32_t value = code & (0x3F >> more);
            int i = 1;
            for (; i <= more && (s[i] & 0xC0) == 0x80; ++i) value = (value << 6) | (s[i] & 0x3F);
            const uint32_t smallest = more == 1 ? 0x80 : more == 2 ? 0x800 : 0x10000;
            if (i == more + 1 && value >= smallest && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
                code = value;
                length = more + 1;
            }
        }
        if (code >= 0x10000) {
            if (n + 2 >= capacity) break;
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
        s += length;
    }
    out[n] = 0;
}

// At most `capacity` units of `text`, up to its terminator, as UTF-8.
inline std::string toUtf8(const vst3::char16* text, size_t capacity) {
    std::string out;
    for (size_t i = 0; text && i < capacity && text[i]; ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < capacity && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

// Copies at most capacity - 1 bytes and the terminator.
inline void copyAscii(char* out, const char* text, size_t capacity) {
    size_t n = 0;
    for (; text[n] && n + 1 < capacity; ++n) out[n] = text[n];
    out[n] = '\0';
}

}  // namespace tolvane::vst3text
