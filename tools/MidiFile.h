// A reader of standard MIDI files (formats 0, 1 and 2) for the command-line
// host: channel messages with their times in seconds, tempo changes applied.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MidiMessage {
    double seconds;
    uint8_t status;  // 0x80..0xEF
    uint8_t data1;
    uint8_t data2;  // 0 for messages with one data byte
};

// Parses a whole file in memory. On success the messages are sorted by time
// (messages at the same time keep their file order, track by track). On
// failure, `error` says what is wrong and false is returned.
bool parseMidiFile(const std::vector<uint8_t>& bytes, std::vector<MidiMessage>& messages, std::string& error);

// Far beyond any real performance (a minute of dense controller moves is a few
// hundred kilobytes), yet small enough that parsing stays within memory.
constexpr size_t kMaxMidiFileBytes = 4 * 1024 * 1024;

// Reads and parses the regular file at `path`, of at most kMaxMidiFileBytes;
// a FIFO or device there is never opened, so nothing can keep it waiting.
bool readMidiFile(const std::string& path, std::vector<MidiMessage>& messages, std::string& error);
