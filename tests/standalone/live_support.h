// What the standalone program's tests share: `tolvane live` as a child
// process, and two JACK clients of the test's own around it, a player (two
// audio outputs and a MIDI output) and a recorder (two audio inputs). Two
// clients and not one: JACK orders clients by their connections, so
// player -> Tolvane -> recorder runs in that order within every cycle, and
// what the recorder takes in a cycle is what Tolvane made of the player's
// frames of that same cycle, with no period of delay between them. A single
// client that both played and recorded would form a loop with Tolvane, which
// JACK breaks with a period's delay.
//
// The tests, and the programs they start, use the JACK server and the X
// display that the ctest fixtures start (jackd's dummy backend under a name of
// its own, and Xvfb), never a user's.
#pragma once

#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_folder.h"

extern char** environ;

namespace live {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Waits up to `limit` for `done`, checking every few milliseconds.
template <class Done>
bool waitFor(Done done, std::chrono::milliseconds limit = 10s) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A child process with its output in files; killed if the test leaves it running.
class Child {
public:
    Child(const std::vector<std::string>& args, const std::string& outputs)
        : out(outputs + ".out"),
          err(outputs + ".err") {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (running()) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    bool running() {
        if (pid <= 0 || exited) return false;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) != pid) return true;
        exited = true;
        code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    void signal(int number) { kill(pid, number); }
    // The exit status, or -1 when it did not end within the limit.
    int waitExit(std::chrono::milliseconds limit = 5s) {
        return waitFor([&] { return !running(); }, limit) ? code : -1;
    }
    std::string output() const { return readText(out); }
    std::string errors() const { return readText(err); }

private:
    pid_t pid = -1;
    bool exited = false;
    int code = -1;
    std::string out, err;
};

// Set before any test runs; children inherit them.
inline const bool testEnvironment = [] {
    setenv("JACK_DEFAULT_SERVER", TOLVANE_TEST_JACK_SERVER, 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    setenv("DISPLAY", TOLVANE_TEST_DISPLAY, 1);
    // libjack's own complaints (a probe that finds no server yet) would fill the log.
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    return true;
}();

inline std::string cliPath() {
    (void)testEnvironment;
    return TOLVANE_CLI_PATH;
}

// `tolvane live` with these options.
inline std::vector<std::string> liveArguments(std::vector<std::string> options) {
    options.insert(options.begin(), {cliPath(), "live"});
    return options;
}

// A JACK client of the test; the player and the recorder build on it.
class TestClient {
public:
    explicit TestClient(const std::string& name, const char* server = nullptr) {
        jack_status_t status{};
        client =
            server ? jack_client_open(name.c_str(), jack_options_t(JackNoStartServer | JackServerName), &status, server)
                   : jack_client_open(name.c_str(), JackNoStartServer, &status);
    }
    virtual ~TestClient() { close(); }
    void close() {
        if (client) jack_client_close(client);
        client = nullptr;
    }
    bool ok() const { return client != nullptr; }
    jack_client_t* handle() const { return client; }
    std::string port(const char* shortName) const {
        return std::string(jack_get_client_name(client)) + ":" + shortName;
    }
    bool activate() {
        jack_set_process_callback(
            client, [](jack_nframes_t n, void* self) { return static_cast<TestClient*>(self)->process(n), 0; }, this);
        return jack_activate(client) == 0;
    }
    // Sets the server's period and waits until this client runs with it.
    bool setBufferSize(jack_nframes_t frames) {
        return jack_set_buffer_size(client, frames) == 0 &&
               waitFor([&] { return jack_get_buffer_size(client) == frames; });
    }

protected:
    virtual void process(jack_nframes_t frames) = 0;
    jack_client_t* client = nullptr;
};

// Plays a stereo stream once `play()` is called, silence before and after;
// MIDI messages go out at their frames of the stream, or at once when queued
// with `send`. Logs each cycle's frame time and size from the start.
class Player : public TestClient {
public:
    struct Message {
        size_t frame;  // in the stream; for `send`, ignored
        std::array<uint8_t, 3> bytes;
        size_t size;
    };

    Player(const std::string& name, std::vector<float> left, std::vector<float> right, std::vector<Message> cued = {})
        : TestClient(name),
          left(std::move(left)),
          right(std::move(right)),
          cued(std::move(cued)) {
        cycles.reserve(1 << 16);
        if (!client) return;
        out[0] = jack_port_register(client, "out_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        out[1] = jack_port_register(client, "out_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        midi = jack_port_register(client, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    }
    ~Player() override { close(); }  // before the members the process callback reads go
    std::vector<std::string> ports() const { return {port("out_1"), port("out_2"), port("midi_out")}; }
    void play() { playing.store(true); }
    // Makes each cycle of the stream take at least this long (freewheeling runs
    // them as fast as it can), so the test can act while the stream plays.
    void pace(std::chrono::microseconds perCycle) { pacing.store(perCycle.count()); }
    // A message for the next cycle; one at a time.
    void send(std::array<uint8_t, 3> bytes, size_t size = 3) {
        const size_t n = queuedCount.load();
        // A slot is free again once the process thread has sent what it held.
        while (n - queuedSent.load(std::memory_order_acquire) >= queued.size())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        queued[n % queued.size()] = {0, bytes, size};
        queuedCount.fetch_add(1);
    }
    bool started() const { return startTime.load() != kNotYet; }
    size_t position() const { return played.load(); }
    jack_nframes_t streamStart() const { return startTime.load(); }

    static constexpr jack_nframes_t kNotYet = 0xFFFFFFFF;
    std::vector<std::pair<jack_nframes_t, jack_nframes_t>> cycles;  // frame time, frames; from the start

protected:
    void process(jack_nframes_t frames) override {
        auto* l = static_cast<float*>(jack_port_get_buffer(out[0], frames));
        auto* r = static_cast<float*>(jack_port_get_buffer(out[1], frames));
        void* m = jack_port_get_buffer(midi, frames);
        jack_midi_clear_buffer(m);
        for (size_t sent = queuedSent.load(std::memory_order_relaxed); sent < queuedCount.load(); ++sent) {
            const Message& q = queued[sent % queued.size()];
            jack_midi_event_write(m, 0, q.bytes.data(), q.size);
            queuedSent.store(sent + 1, std::memory_order_release);
        }
        const size_t at = played.load(std::memory_order_relaxed);
        if (!playing.load()) {
            std::fill(l, l + frames, 0.0f);
            std::fill(r, r + frames, 0.0f);
            return;
        }
        if (at == 0) startTime.store(jack_last_frame_time(client));
        if (const auto pause = pacing.load()) std::this_thread::sleep_for(std::chrono::microseconds(pause));
        if (cycles.size() < cycles.capacity()) cycles.emplace_back(jack_last_frame_time(client), frames);
        for (jack_nframes_t i = 0; i < frames; ++i) {
            l[i] = at + i < left.size() ? left[at + i] : 0.0f;
            r[i] = at + i < right.size() ? right[at + i] : 0.0f;
        }
        for (const Message& c : cued)
            if (c.frame >= at && c.frame < at + frames)
                jack_midi_event_write(m, static_cast<jack_nframes_t>(c.frame - at), c.bytes.data(), c.size);
        played.store(at + frames);
    }

private:
    std::vector<float> left, right;
    std::vector<Message> cued;
    jack_port_t* out[2] = {};
    jack_port_t* midi = nullptr;
    std::atomic<bool> playing{false};
    std::atomic<int64_t> pacing{0};  // microseconds
    std::atomic<size_t> played{0};
    std::atomic<jack_nframes_t> startTime{kNotYet};
    std::array<Message, 16> queued{};
    std::atomic<size_t> queuedCount{0};
    std::atomic<size_t> queuedSent{0};
};

// Records `capacity` frames of both inputs from the cycle in which the player
// starts its stream, and keeps the largest magnitude of in_1 since `resetPeak`.
class Recorder : public TestClient {
public:
    Recorder(const std::string& name, const Player& player, size_t capacity)
        : TestClient(name),
          left(capacity),
          right(capacity),
          player(player) {
        cycles.reserve(1 << 16);
        if (!client) return;
        in[0] = jack_port_register(client, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        in[1] = jack_port_register(client, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    }
    ~Recorder() override { close(); }
    std::vector<std::string> ports() const { return {port("in_1"), port("in_2")}; }
    size_t recorded() const { return count.load(); }
    bool full() const { return count.load() == left.size(); }
    // The recorder saw the player's start in a later cycle than the player's own.
    bool missedStart() const { return missed.load(); }
    void resetPeak() { peak.store(0.0f); }
    float peakLevel() const { return peak.load(); }

    std::vector<float> left, right;
    std::vector<std::pair<jack_nframes_t, jack_nframes_t>> cycles;  // as the player logs them, until full

protected:
    void process(jack_nframes_t frames) override {
        const auto* l = static_cast<const float*>(jack_port_get_buffer(in[0], frames));
        const auto* r = static_cast<const float*>(jack_port_get_buffer(in[1], frames));
        float largest = peak.load(std::memory_order_relaxed);
        for (jack_nframes_t i = 0; i < frames; ++i) largest = std::max(largest, std::fabs(l[i]));
        peak.store(largest, std::memory_order_relaxed);
        if (!recording) {
            if (!player.started()) return;
            recording = true;
            missed.store(player.streamStart() != jack_last_frame_time(client));
        }
        const size_t at = count.load(std::memory_order_relaxed);
        if (at == left.size()) return;
        if (cycles.size() < cycles.capacity()) cycles.emplace_back(jack_last_frame_time(client), frames);
        const size_t n = std::min<size_t>(frames, left.size() - at);
        std::copy(l, l + n, left.begin() + static_cast<long>(at));
        std::copy(r, r + n, right.begin() + static_cast<long>(at));
        count.store(at + n);
    }

private:
    const Player& player;
    jack_port_t* in[2] = {};
    bool recording = false;
    std::atomic<bool> missed{false};
    std::atomic<size_t> count{0};
    std::atomic<float> peak{0.0f};
};

// True once Tolvane's ports are joined to all of these (each has one connection at least).
inline bool allConnected(const TestClient& client, const std::vector<std::string>& ports) {
    for (const std::string& name : ports) {
        jack_port_t* p = jack_port_by_name(client.handle(), name.c_str());
        if (!p || jack_port_connected(p) == 0) return false;
    }
    return true;
}

inline std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : ",") + p;
    return out;
}

}  // namespace live
