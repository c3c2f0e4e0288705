// Text into a caller's fixed buffer, as hosts and the program table hand them over.
#pragma once

#include <cstddef>
#include <cstring>

namespace tolvane {

// Copies at most size - 1 characters and the terminator, and writes nothing
// after it: a host's buffer may be exactly `size` bytes.
inline void copyText(char* text, const char* source, size_t size) {
    if (size == 0) return;
    const size_t length = strnlen(source, size - 1);
    std::memcpy(text, source, length);
    text[length] = '\0';
}

}  // namespace tolvane
