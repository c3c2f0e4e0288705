// `tolvane live` in a JACK graph sounds exactly as `tolvane render` does: what
// the recorder takes from its outputs is bit-identical to a render of the same
// input, at 64 and at 1024 frames a period, with a MIDI control change to a
// bound parameter on the way, and across a change of the period while it plays.
//
// How the frames line up:
// - The player starts its stream in one cycle and the recorder records from
//   that same cycle (it checks the cycle's frame time), so recording[i] is
//   Tolvane's output for stream frame i: Tolvane sits between them and adds no
//   delay.
// - Before the stream, Tolvane has processed silence for as long as the test
//   took to start it, and its state depends on how long: the compressor's
//   envelope starts at full scale and decays in silence. So the stream opens
//   with a second of silence, more than the envelope needs to reach zero with
//   the release the tests set (10 ms: flushed to zero after about 0.7 s), while
//   the filters hold zeros; after it nothing depends on how long Tolvane was
//   silent. The render is of the same stream. SilenceLeavesNoTrace checks that
//   claim on its own.
// - The stream plays with the server freewheeling: each cycle starts when the
//   last one ended and waits for every client, so a busy machine cannot make
//   the dummy backend's timer skip a client's cycle. A change of the period
//   while freewheeling would restart jackd's timer beside it, so that test
//   leaves freewheel for the change and goes back: those cycles run in real
//   time, and the player's and the recorder's logs of cycles must agree.
#include <sndfile.h>

#include <cstring>
#include <fstream>

#include "DrumLoop.h"
#include "LiveSettings.h"
#include "live_support.h"
#include "support/midi_writer.h"

namespace {

using namespace live;

constexpr int kRate = 48000;
constexpr size_t kSilence = 48000;          // frames before the drums
constexpr size_t kControlChangeAt = 72050;  // a multiple of 50 frames, one MIDI file tick at 120 bpm and 480 ticks
constexpr uint8_t kController = 21;         // bound to Ratio
constexpr uint8_t kControllerValue = 100;

struct Stream {
    std::vector<float> left, right;
    size_t frames() const { return left.size(); }
};

Stream drumsAfterSilence(size_t silence) {
    const StereoSignal drums = makeDrumLoop(static_cast<float>(kRate), 1, 240.0);  // one second
    Stream s;
    s.left.assign(silence, 0.0f);
    s.right.assign(silence, 0.0f);
    s.left.insert(s.left.end(), drums.left.begin(), drums.left.end());
    s.right.insert(s.right.end(), drums.right.begin(), drums.right.end());
    return s;
}

void writeWav(const std::string& path, const Stream& s) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::vector<float> frames;
    for (size_t n = 0; n < s.frames(); ++n) frames.insert(frames.end(), {s.left[n], s.right[n]});
    sf_writef_float(f, frames.data(), static_cast<sf_count_t>(s.frames()));
    sf_close(f);
}

Stream readWav(const std::string& path) {
    SF_INFO info{};
    Stream s;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return s;
    std::vector<float> frames(static_cast<size_t>(info.frames) * 2);
    sf_readf_float(f, frames.data(), info.frames);
    sf_close(f);
    for (size_t n = 0; n < frames.size(); n += 2) {
        s.left.push_back(frames[n]);
        s.right.push_back(frames[n + 1]);
    }
    return s;
}

// Both channels, frame by frame; the first frame that differs, or -1.
long firstDifference(const Stream& a, const std::vector<float>& left, const std::vector<float>& right, size_t from) {
    for (size_t n = 0; n < left.size(); ++n)
        if (std::memcmp(&a.left[from + n], &left[n], sizeof(float)) != 0 ||
            std::memcmp(&a.right[from + n], &right[n], sizeof(float)) != 0)
            return static_cast<long>(n);
    return -1;
}

class LiveAudio : public ::testing::Test {
protected:
    void SetUp() override {
        settings = useSettingsRoot(folder.path());
        std::filesystem::create_directories(settings);
        writeText(settings + "/Tolvane MIDI Assignments.txt", "0 " + std::to_string(kController) + "\n");
    }

    // `tolvane render` of `stream` with the tests' program, and the control change when asked.
    Stream render(const Stream& stream, size_t controlChangeAt) {
        const std::string in = folder / "in.wav", out = folder / "out.wav", midi = folder / "cc.mid";
        writeWav(in, stream);
        std::vector<std::string> args = {cliPath(),   "render",         in,      out,
                                         "--program", "NY Compression", "--set", "Release=0"};
        if (controlChangeAt) {
            const auto bytes =
                midiFile(0, 480,
                         {MidiTrackBuilder()
                              .at(static_cast<uint32_t>(controlChangeAt / 50), {0xB0, kController, kControllerValue})
                              .end()});
            std::ofstream(midi, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            args.insert(args.end(), {"--midi", midi});
        }
        Child renderer(args, folder / "render");
        EXPECT_EQ(renderer.waitExit(30s), 0) << renderer.errors();
        return readWav(out);
    }

    // Plays `stream` through `tolvane live` at `period` frames (changed to
    // `changeTo` two thirds in, when given) and returns what it recorded.
    void playThroughLive(const Stream& stream, jack_nframes_t period, jack_nframes_t changeTo, Recorder*& result);

    TempFolder folder;
    std::string settings;
    bool playerIsTheKey = false;  // the player feeds key_1 and key_2 too
    std::unique_ptr<Player> player;
    std::unique_ptr<Recorder> recorder;
};

void LiveAudio::playThroughLive(const Stream& stream, jack_nframes_t period, jack_nframes_t changeTo,
                                Recorder*& result) {
    result = nullptr;
    player = std::make_unique<Player>(
        "tolvane-test-player", stream.left, stream.right,
        std::vector<Player::Message>{{kControlChangeAt, {0xB0, kController, kControllerValue}, 3}});
    recorder = std::make_unique<Recorder>("tolvane-test-recorder", *player, stream.frames());
    ASSERT_TRUE(player->ok() && recorder->ok()) << "no JACK server named by JACK_DEFAULT_SERVER";
    ASSERT_TRUE(player->activate() && recorder->activate());
    ASSERT_TRUE(player->setBufferSize(period));

    std::vector<std::string> ports = player->ports();
    for (const std::string& p : recorder->ports()) ports.push_back(p);
    std::string connect = joined(ports);
    if (playerIsTheKey) connect += ",key:" + player->port("out_1") + ",key:" + player->port("out_2");
    Child live(
        liveArguments({"--no-editor", "--program", "NY Compression", "--set", "Release=0", "--connect", connect}),
        folder / "live");
    ASSERT_TRUE(waitFor([&] { return allConnected(*player, ports) || !live.running(); })) << live.errors();
    ASSERT_TRUE(live.running()) << live.errors();

    // Paced until the period changed, so that the change falls inside the stream.
    if (changeTo) player->pace(std::chrono::milliseconds(2));
    jack_set_freewheel(player->handle(), 1);
    player->play();
    if (changeTo) {
        EXPECT_TRUE(waitFor([&] { return player->position() >= stream.frames() / 3; }));
        jack_set_freewheel(player->handle(), 0);
        EXPECT_TRUE(player->setBufferSize(changeTo));
        player->pace(std::chrono::microseconds(0));
        jack_set_freewheel(player->handle(), 1);
    }
    const bool full = waitFor([&] { return recorder->full(); }, 30s);
    jack_set_freewheel(player->handle(), 0);
    ASSERT_TRUE(full) << "recorded " << recorder->recorded() << " of " << stream.frames() << " frames";
    live.signal(SIGINT);
    EXPECT_EQ(live.waitExit(), 0) << live.errors();
    player->close();
    recorder->close();
    EXPECT_FALSE(recorder->missedStart());
    // Every cycle that carried recorded frames ran for both.
    const auto& played = player->cycles;
    const auto& heard = recorder->cycles;
    ASSERT_GE(played.size(), heard.size());
    const size_t common = heard.size();
    const size_t differ = std::mismatch(played.begin(), played.begin() + common, heard.begin()).first - played.begin();
    EXPECT_EQ(differ, common) << "the player and the recorder did not run in the same cycles: cycle " << differ
                              << " at " << (differ < common ? played[differ].first : 0) << " and "
                              << (differ < common ? heard[differ].first : 0);
    result = recorder.get();
}

TEST(LiveRender, SilenceLeavesNoTrace) {
    TempFolder folder;
    useSettingsRoot(folder.path());
    // What the other tests rely on: after the stream's second of silence,
    // Tolvane's state no longer depends on how long it was silent.
    auto renderOf = [&](size_t silence) {
        writeWav(folder / "in.wav", drumsAfterSilence(silence));
        Child renderer({cliPath(), "render", folder / "in.wav", folder / "out.wav", "--program", "NY Compression",
                        "--set", "Release=0"},
                       folder / "render");
        EXPECT_EQ(renderer.waitExit(30s), 0) << renderer.errors();
        return readWav(folder / "out.wav");
    };
    const Stream once = renderOf(kSilence), twice = renderOf(2 * kSilence);
    ASSERT_EQ(twice.frames(), once.frames() + kSilence);
    const std::vector<float> left(once.left.begin() + kSilence, once.left.end());
    const std::vector<float> right(once.right.begin() + kSilence, once.right.end());
    EXPECT_EQ(firstDifference(twice, left, right, 2 * kSilence), -1);
}

class LiveAudioPeriods : public LiveAudio, public ::testing::WithParamInterface<jack_nframes_t> {};

TEST_P(LiveAudioPeriods, MatchesRenderBitForBitWithAControlChange) {
    const Stream stream = drumsAfterSilence(kSilence);
    const Stream expected = render(stream, kControlChangeAt);
    ASSERT_EQ(expected.frames(), stream.frames());
    Recorder* recorded = nullptr;
    playThroughLive(stream, GetParam(), 0, recorded);
    ASSERT_NE(recorded, nullptr);
    EXPECT_EQ(firstDifference(expected, recorded->left, recorded->right, 0), -1);

    // The control change moved the bound parameter, and the settings kept it.
    LiveSettings saved;
    ASSERT_TRUE(readLiveSettings(liveSettingsPath(), saved));
    EXPECT_EQ(saved.program, 4);
    EXPECT_EQ(saved.values[tolvane::kRatio], static_cast<float>(kControllerValue * static_cast<double>(0.007874016f)));
    EXPECT_EQ(saved.values[tolvane::kRelease], 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Period, LiveAudioPeriods, ::testing::Values(64u, 1024u));

// The input as its own key, through key_1 and key_2, sounds as no key.
TEST_F(LiveAudio, AKeyEqualToTheInputMatchesRender) {
    const Stream stream = drumsAfterSilence(kSilence);
    const Stream expected = render(stream, kControlChangeAt);
    playerIsTheKey = true;
    Recorder* recorded = nullptr;
    playThroughLive(stream, 256, 0, recorded);
    ASSERT_NE(recorded, nullptr);
    EXPECT_EQ(firstDifference(expected, recorded->left, recorded->right, 0), -1);
}

TEST_F(LiveAudio, StaysContinuousAcrossAChangeOfPeriod) {
    const Stream stream = drumsAfterSilence(kSilence);
    const Stream expected = render(stream, kControlChangeAt);
    Recorder* recorded = nullptr;
    playThroughLive(stream, 1024, 256, recorded);
    ASSERT_NE(recorded, nullptr);
    EXPECT_EQ(firstDifference(expected, recorded->left, recorded->right, 0), -1);
    bool before = false, after = false;
    for (const auto& [time, frames] : recorded->cycles) (frames == 1024 ? before : after) = true;
    EXPECT_TRUE(before && after) << "the period did not change while the stream played";
}

}  // namespace
