// Builds standard MIDI files in memory for tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

struct MidiTrackBuilder {
    std::vector<uint8_t> bytes;
    MidiTrackBuilder& delta(uint32_t ticks) {
        uint8_t groups[4];
        int n = 0;
        do {
            groups[n++] = ticks & 0x7F;
            ticks >>= 7;
        } while (ticks && n < 4);
        while (n > 1) bytes.push_back(static_cast<uint8_t>(groups[--n] | 0x80));
        bytes.push_back(groups[0]);
        return *this;
    }
    MidiTrackBuilder& raw(std::initializer_list<uint8_t> b) {
        bytes.insert(bytes.end(), b);
        return *this;
    }
    MidiTrackBuilder& at(uint32_t ticks, std::initializer_list<uint8_t> b) { return delta(ticks).raw(b); }
    MidiTrackBuilder& tempo(uint32_t ticks, uint32_t microsecondsPerQuarter) {
        return at(ticks,
                  {0xFF, 0x51, 0x03, static_cast<uint8_t>(microsecondsPerQuarter >> 16),
                   static_cast<uint8_t>(microsecondsPerQuarter >> 8), static_cast<uint8_t>(microsecondsPerQuarter)});
    }
    MidiTrackBuilder& end() { return at(0, {0xFF, 0x2F, 0x00}); }
};

inline void putBig(std::vector<uint8_t>& out, uint32_t v, int count) {
    for (int i = count - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline std::vector<uint8_t> midiFile(uint16_t format, uint16_t division, const std::vector<MidiTrackBuilder>& tracks) {
    std::vector<uint8_t> out = {'M', 'T', 'h', 'd'};
    putBig(out, 6, 4);
    putBig(out, format, 2);
    putBig(out, static_cast<uint32_t>(tracks.size()), 2);
    putBig(out, division, 2);
    for (const auto& t : tracks) {
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        putBig(out, static_cast<uint32_t>(t.bytes.size()), 4);
        out.insert(out.end(), t.bytes.begin(), t.bytes.end());
    }
    return out;
}
