#include "MidiFile.h"

#include <algorithm>
#include <filesystem>

#include "SettingsFolder.h"

namespace {

struct Reader {
    const uint8_t* p;
    const uint8_t* end;
    bool ok = true;

    size_t left() const { return static_cast<size_t>(end - p); }
    uint8_t byte() {
        if (p >= end) {
            ok = false;
            return 0;
        }
        return *p++;
    }
    uint32_t big(int count) {
        uint32_t v = 0;
        for (int i = 0; i < count; ++i) v = (v << 8) | byte();
        return v;
    }
    // A variable-length quantity: at most four bytes of seven bits.
    uint32_t variable() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t b = byte();
            v = (v << 7) | (b & 0x7F);
            if (!(b & 0x80)) return v;
        }
        ok = false;
        return 0;
    }
    void skip(size_t n) {
        if (n > left()) {
            ok = false;
            p = end;
        } else {
            p += n;
        }
    }
};

struct TimedEvent {
    uint64_t tick;
    int track;
    size_t order;
    bool tempo;
    uint32_t microsecondsPerQuarter;
    MidiMessage message;
};

// How ticks become seconds: a number of ticks per quarter note, which tempo
// changes scale, or (SMPTE) a fixed time per tick.
struct TimeDivision {
    uint32_t ticksPerQuarter = 0;  // 0 for SMPTE time
    double secondsPerTickFixed = 0.0;
};

// The header chunk: format, track count and time division.
bool readHeader(Reader& file, uint32_t& trackCount, TimeDivision& timing, std::string& error) {
    if (file.left() < 14 || file.big(4) != 0x4D546864 /* MThd */) {
        error = "not a standard MIDI file";
        return false;
    }
    const uint32_t headerLength = file.big(4);
    const uint32_t format = file.big(2);
    trackCount = file.big(2);
    const uint32_t division = file.big(2);
    if (!file.ok || headerLength < 6 || format > 2) {
        error = "not a standard MIDI file (bad header)";
        return false;
    }
    file.skip(headerLength - 6);
    // Ticks per quarter note, or SMPTE frames per second times ticks per frame.
    if (division & 0x8000) {
        const int framesPerSecond = -static_cast<int8_t>(division >> 8);
        const int ticksPerFrame = static_cast<int>(division & 0xFF);
        if (framesPerSecond <= 0 || ticksPerFrame == 0) {
            error = "bad time division";
            return false;
        }
        timing.secondsPerTickFixed = 1.0 / (framesPerSecond == 29 ? 29.97 : framesPerSecond) / ticksPerFrame;
    } else {
        timing.ticksPerQuarter = division;
        if (timing.ticksPerQuarter == 0) {
            error = "bad time division";
            return false;
        }
    }
    return true;
}

// The channel messages and tempo changes of one track chunk, with their ticks.
bool readTrack(Reader chunk, uint32_t track, std::vector<TimedEvent>& events, std::string& error) {
    uint64_t tick = 0;
    uint8_t running = 0;
    while (chunk.ok && chunk.left() > 0) {
        tick += chunk.variable();
        uint8_t status = chunk.byte();
        if (status < 0x80) {  // running status: this byte is already data
            if (!running) {
                error = "a message without a status byte";
                return false;
            }
            --chunk.p;
            status = running;
        }
        if (status == 0xFF) {
            const uint8_t type = chunk.byte();
            const uint32_t size = chunk.variable();
            if (type == 0x2F) break;  // end of track
            if (type == 0x51 && size == 3) {
                const uint32_t tempo = chunk.big(3);
                events.push_back({tick, static_cast<int>(track), events.size(), true, tempo, {}});
            } else {
                chunk.skip(size);
            }
            running = 0;
        } else if (status == 0xF0 || status == 0xF7) {
            chunk.skip(chunk.variable());
            running = 0;
        } else if (status >= 0xF1) {
            running = 0;  // system common and real-time bytes carry no data we use
        } else {
            running = status;
            const uint8_t data1 = chunk.byte();
            const bool twoBytes = (status & 0xF0) != 0xC0 && (status & 0xF0) != 0xD0;
            const uint8_t data2 = twoBytes ? chunk.byte() : 0;
            events.push_back({tick,
                              static_cast<int>(track),
                              events.size(),
                              false,
                              0,
                              {0.0, status, static_cast<uint8_t>(data1 & 0x7F), static_cast<uint8_t>(data2 & 0x7F)}});
        }
    }
    if (!chunk.ok) {
        error = "track " + std::to_string(track + 1) + " is truncated";
        return false;
    }
    return true;
}

// Every track chunk after the header; chunks of other kinds are skipped.
bool readTracks(Reader& file, uint32_t trackCount, std::vector<TimedEvent>& events, std::string& error) {
    for (uint32_t track = 0; track < trackCount && file.left() >= 8; ++track) {
        const uint32_t id = file.big(4);
        const uint32_t length = file.big(4);
        if (length > file.left()) {
            error = "the file is truncated";
            return false;
        }
        if (id != 0x4D54726B /* MTrk */) {  // an unknown chunk: skipped, and not counted
            file.skip(length);
            --track;
            continue;
        }
        const Reader chunk{file.p, file.p + length};
        file.skip(length);
        if (!readTrack(chunk, track, events, error)) return false;
    }
    return true;
}

// The messages in time order, their ticks turned into seconds. Tempo changes
// in any track apply to all (format 1 keeps them in the first).
void timeMessages(std::vector<TimedEvent>& events, const TimeDivision& timing, std::vector<MidiMessage>& messages) {
    std::stable_sort(events.begin(), events.end(), [](const TimedEvent& a, const TimedEvent& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        if (a.tempo != b.tempo) return a.tempo;
        return a.order < b.order;
    });
    double seconds = 0.0;
    uint64_t lastTick = 0;
    // Quarter notes at 120 bpm until a tempo change says otherwise.
    double secondsPerTick = timing.ticksPerQuarter ? 0.5 / timing.ticksPerQuarter : timing.secondsPerTickFixed;
    for (TimedEvent& e : events) {
        seconds += static_cast<double>(e.tick - lastTick) * secondsPerTick;
        lastTick = e.tick;
        if (e.tempo) {
            if (timing.ticksPerQuarter && e.microsecondsPerQuarter > 0)
                secondsPerTick = e.microsecondsPerQuarter * 1e-6 / timing.ticksPerQuarter;
            continue;
        }
        e.message.seconds = seconds;
        messages.push_back(e.message);
    }
}

}  // namespace

bool parseMidiFile(const std::vector<uint8_t>& bytes, std::vector<MidiMessage>& messages, std::string& error) {
    messages.clear();
    Reader file{bytes.data(), bytes.data() + bytes.size()};
    uint32_t trackCount = 0;
    TimeDivision timing;
    std::vector<TimedEvent> events;
    if (!readHeader(file, trackCount, timing, error) || !readTracks(file, trackCount, events, error)) return false;
    timeMessages(events, timing, messages);
    return true;
}

bool readMidiFile(const std::string& path, std::vector<MidiMessage>& messages, std::string& error) {
    std::string text;
    const platform::ReadResult got = platform::readRegularFile(path, kMaxMidiFileBytes + 1, text);
    std::error_code ignored;
    const auto found = std::filesystem::status(path, ignored);
    if (got == platform::ReadResult::kFailed && std::filesystem::exists(found) &&
        !std::filesystem::is_regular_file(found)) {
        error = path + " is not a regular file; --midi reads a standard MIDI file";
        return false;
    }
    if (got != platform::ReadResult::kRead) {
        error = "cannot read " + path + (got == platform::ReadResult::kMissing ? ": no such file" : "");
        return false;
    }
    if (text.size() > kMaxMidiFileBytes) {
        error = path + " is larger than any standard MIDI file (over " + std::to_string(kMaxMidiFileBytes >> 20) +
                " MB); not read";
        return false;
    }
    if (!parseMidiFile(std::vector<uint8_t>(text.begin(), text.end()), messages, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}
