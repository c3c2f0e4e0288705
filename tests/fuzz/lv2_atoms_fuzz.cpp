// Any bytes as the LV2 plug-in's control port (a sequence of events) and as
// an atom the editor's notify port brings, each in a buffer that ends where the
// bytes do: AddressSanitizer stops at any read beyond them, and every message
// read must lie within them and name a row of the parameter table.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "TolvaneLv2Messages.h"

using namespace tolvane::lv2;

static void check(const Message& message, const uint8_t* begin, const uint8_t* end) {
    if (message.kind == Message::kMidi && (message.midi < begin || message.midiSize > end - message.midi)) std::abort();
    const bool named = message.kind == Message::kToggleLearn || message.kind == Message::kParameterValue ||
                       message.kind == Message::kLearn;
    if (named && !tolvane::isRow(message.parameter)) std::abort();  // the side-chain form's Key included
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    // Small numbers, so that inputs name them: 1 to 14 in the fields' order.
    static const MessageUris uris{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    constexpr uint32_t kSequence = 15;

    // The control port: a sequence header, then the bytes as its body.
    const size_t total = sizeof(LV2_Atom) + size;
    std::unique_ptr<uint8_t[]> sequence(new uint8_t[total]);
    const LV2_Atom header{static_cast<uint32_t>(size), kSequence};
    std::memcpy(sequence.get(), &header, sizeof header);
    if (size) std::memcpy(sequence.get() + sizeof header, data, size);
    forEachMessage(*reinterpret_cast<const LV2_Atom_Sequence*>(sequence.get()), uris,
                   [&](int64_t, const Message& message) { check(message, sequence.get(), sequence.get() + total); });

    // The notify port: the bytes as one atom.
    std::unique_ptr<uint8_t[]> atom(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(atom.get(), data, size);
    check(readMessage(reinterpret_cast<const LV2_Atom*>(atom.get()), static_cast<uint32_t>(size), uris), atom.get(),
          atom.get() + size);
    return 0;
}
