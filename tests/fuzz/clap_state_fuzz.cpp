// The CLAP plug-in's state reader on any bytes: no overflow, and a state it
// takes writes back to exactly the bytes it came from (a state from before
// the Key parameter: to one that reads as the same state). The same bytes
// with their checksum made right (zlib's CRC-32) reach past the checksum, so
// the fields behind it are fuzzed as well.
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "ClapState.h"

using namespace tolvane_clap;

static void readBack(const uint8_t* data, size_t size) {
    const std::optional<State> state = readState(data, size);
    if (!state) return;
    const auto written = writeState(*state);
    if (size == kStateSize ? std::memcmp(written.data(), data, size) != 0
                           : readState(written.data(), written.size()) != state || state->values[tolvane::kKey] != 0)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readBack(data, size);
    if (size == kStateSize || size == kStateSizeBeforeKey) {
        std::vector<uint8_t> fixed(data, data + size);
        const uLong crc = crc32(0, fixed.data(), static_cast<uInt>(size - 4));
        for (int i = 0; i < 4; ++i) fixed[size - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
        readBack(fixed.data(), size);
    }
    return 0;
}
