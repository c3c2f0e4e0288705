// The CLAP plug-in's state reader on any bytes: no overflow, and a state it
// takes writes back to exactly the bytes it came from. The same bytes with
// their checksum made right (zlib's CRC-32) reach past the checksum, so the
// fields behind it are fuzzed as well.
#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "ClapState.h"

using namespace tolvane_clap;

static void readBack(const uint8_t* data, size_t size) {
    const std::optional<State> state = readState(data, size);
    if (!state) return;
    if (size != kStateSize || std::memcmp(writeState(*state).data(), data, size) != 0) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readBack(data, size);
    if (size == kStateSize) {
        uint8_t fixed[kStateSize];
        std::memcpy(fixed, data, size);
        const uLong crc = crc32(0, fixed, kStateSize - 4);
        for (int i = 0; i < 4; ++i) fixed[kStateSize - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
        readBack(fixed, size);
    }
    return 0;
}
