// The standard MIDI file reader behind `tolvane render --midi`.
#include "MidiFile.h"
#include "support/midi_writer.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::vector<MidiMessage> parse(const std::vector<uint8_t>& bytes, std::string* error = nullptr) {
    std::vector<MidiMessage> messages;
    std::string e;
    const bool ok = parseMidiFile(bytes, messages, e);
    if (error) *error = ok ? "" : e;
    return messages;
}

TEST(MidiFile, TimesFollowTheTempo) {
    MidiTrackBuilder track;
    track.at(0, {0xB0, 7, 100})
        .at(480, {0xB1, 7, 50})  // one quarter at the default 120 bpm: 0.5 s
        .tempo(0, 1000000)       // 60 bpm from here
        .at(480, {0xB0, 10, 1})  // one more quarter: 1 s later
        .end();
    const auto m = parse(midiFile(0, 480, {track}));
    ASSERT_EQ(m.size(), 3u);
    EXPECT_DOUBLE_EQ(m[0].seconds, 0.0);
    EXPECT_DOUBLE_EQ(m[1].seconds, 0.5);
    EXPECT_EQ(m[1].status, 0xB1);
    EXPECT_DOUBLE_EQ(m[2].seconds, 1.5);
    EXPECT_EQ(m[2].data1, 10);
}

TEST(MidiFile, RunningStatusAndOneByteMessages) {
    MidiTrackBuilder track;
    track.at(0, {0xB0, 7, 1}).at(0, {7, 2}).at(0, {0xC0, 5}).at(0, {0xB0, 1, 3}).end();
    const auto m = parse(midiFile(0, 96, {track}));
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[1].status, 0xB0);
    EXPECT_EQ(m[1].data2, 2);
    EXPECT_EQ(m[2].status, 0xC0);
    EXPECT_EQ(m[2].data1, 5);
    EXPECT_EQ(m[3].data2, 3) << "a program change does not swallow the next status byte";
}

TEST(MidiFile, TracksMergeAndTempoAppliesToAll) {
    MidiTrackBuilder conductor, a, b;
    conductor.tempo(0, 250000).end();  // 240 bpm
    a.at(96, {0xB0, 1, 1}).end();
    b.at(0, {0xF0, 0x02, 0x7E, 0xF7}).at(48, {0xB0, 2, 2}).at(0, {0xFF, 0x01, 0x02, 'h', 'i'}).end();
    const auto m = parse(midiFile(1, 96, {conductor, a, b}));
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].data1, 2);
    EXPECT_DOUBLE_EQ(m[0].seconds, 0.125);
    EXPECT_DOUBLE_EQ(m[1].seconds, 0.25);
}

TEST(MidiFile, SmpteDivision) {
    MidiTrackBuilder track;
    track.at(250, {0xB0, 7, 0}).end();
    const auto m = parse(midiFile(0, static_cast<uint16_t>((0x100 - 25) << 8 | 40), {track}));  // 25 fps, 40 ticks
    ASSERT_EQ(m.size(), 1u);
    EXPECT_DOUBLE_EQ(m[0].seconds, 0.25);
}

TEST(MidiFile, BrokenFilesAreRefusedWithAReason) {
    std::string error;
    parse({'R', 'I', 'F', 'F', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, &error);
    EXPECT_EQ(error, "not a standard MIDI file");
    MidiTrackBuilder track;
    track.at(0, {0xB0, 7, 1}).end();
    auto bytes = midiFile(0, 96, {track});
    bytes.resize(bytes.size() - 3);
    parse(bytes, &error);
    EXPECT_EQ(error, "the file is truncated");
    MidiTrackBuilder noStatus;
    noStatus.at(0, {7, 1}).end();
    parse(midiFile(0, 96, {noStatus}), &error);
    EXPECT_EQ(error, "a message without a status byte");
    parse(midiFile(0, 0, {track}), &error);
    EXPECT_EQ(error, "bad time division");
}

// Damaged files never crash (ASan in CI), and each is either refused with a
// reason or read whole: messages in time order, only channel messages.
TEST(MidiFile, RandomBytesAreRefusedWithAReasonOrReadSoundly) {
    std::mt19937 random(99);
    MidiTrackBuilder track;
    track.at(0, {0xB0, 7, 1}).at(10, {0xC0, 1}).tempo(5, 400000).at(3, {0xF0, 0x01, 0xF7}).end();
    const auto good = midiFile(1, 96, {track, track});
    for (int round = 0; round < 5000; ++round) {
        auto bytes = good;
        for (int k = 0; k < 4; ++k) bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
        if (random() % 4 == 0) bytes.resize(random() % bytes.size());
        std::vector<MidiMessage> m;
        std::string error;
        if (!parseMidiFile(bytes, m, error)) {
            ASSERT_FALSE(error.empty()) << round;
            continue;
        }
        for (size_t i = 0; i < m.size(); ++i) {
            ASSERT_TRUE(m[i].status >= 0x80 && m[i].status <= 0xEF) << round;
            ASSERT_TRUE(i == 0 || m[i - 1].seconds <= m[i].seconds) << round;
        }
    }
}

}  // namespace
