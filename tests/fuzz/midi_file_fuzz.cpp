// Standard MIDI files as any bytes: refused with a reason or read into
// messages sorted by time, never a crash or a hang.
#include <cmath>
#include <cstdlib>

#include "MidiFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    std::vector<MidiMessage> messages;
    std::string error;
    if (!parseMidiFile(bytes, messages, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    for (size_t i = 0; i < messages.size(); ++i) {
        if (!std::isfinite(messages[i].seconds) || messages[i].status < 0x80 || messages[i].status > 0xEF) std::abort();
        if (i > 0 && messages[i].seconds < messages[i - 1].seconds) std::abort();
    }
    return 0;
}
