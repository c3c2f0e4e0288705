// LiveJackClient: the engine as a JACK client, with two audio inputs (in_1,
// in_2), two audio outputs (out_1, out_2) and a MIDI input (midi_in). The
// engine follows the server's sample rate, applied between two process calls;
// any buffer size works as it comes. MIDI control changes drive the bound
// parameters (or complete a learn) at their own frames, program changes 0 to
// 4 select a program. With nothing connected to in_2, in_1 feeds both channels,
// so a single microphone comes out on both sides.
//
// Two more inputs, key_1 and key_2, are the side-chain key: while anything
// feeds them, the detector takes its level from them (Key at External; one
// fed key port feeds both sides); with nothing connected, from the input.
// --connect names a key's source with the prefix "key:".
//
// Threads. JACK's process thread runs the process callback: it allocates
// nothing, takes no lock and makes no system call. JACK's other callbacks
// (rate, buffer size, connections, shutdown) only store atomics. Everything
// else belongs to the program's main thread.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "TolvaneEngine.h"

class LiveJackClient {
public:
    // The engine is a side-chain form's (it has the Key).
    explicit LiveJackClient(TolvaneEngine& engine) : engine(engine) {}
    ~LiveJackClient() { close(); }
    LiveJackClient(const LiveJackClient&) = delete;
    LiveJackClient& operator=(const LiveJackClient&) = delete;

    // Opens the client (the server adds a suffix when the name is taken),
    // registers the ports and sets the engine to the server's rate. Never
    // starts a server.
    bool open(const char* name, std::string& error);
    // Checks what --connect asks for, before activation: no port names means
    // the system's (physical) ports; otherwise each named source feeds the next
    // free input (MIDI sources the MIDI input) and each named destination takes
    // the next free output.
    bool planConnections(const std::vector<std::string>& ports, std::string& error);
    bool activate(std::string& error);
    // Makes the planned connections; `made` lists them.
    bool connect(std::string& made, std::string& error);
    // Leaves the server (also after it went away). Safe to call again.
    void close();

    // The name the server gave the client.
    std::string name() const;
    uint32_t sampleRate() const { return serverRate.load(std::memory_order_relaxed); }
    uint32_t bufferSize() const { return serverFrames.load(std::memory_order_relaxed); }
    // True once the server shut down or was lost; the reason as the server gave it.
    bool serverGone() const { return gone.load(std::memory_order_acquire); }
    const char* shutdownReason() const { return reason; }

private:
    static int processCallback(jack_nframes_t frames, void* self);
    static int rateChanged(jack_nframes_t rate, void* self);
    static int framesChanged(jack_nframes_t frames, void* self);
    static void connectionChanged(jack_port_id_t a, jack_port_id_t b, int connected, void* self);
    static void shutDown(jack_status_t status, const char* why, void* self);
    int process(jack_nframes_t frames);
    void planSystemConnections();
    bool planPort(const std::string& port, int& inputs, int& outputs, int& keys, std::string& error);

    TolvaneEngine& engine;
    jack_client_t* client = nullptr;
    jack_port_t* audioIn[2] = {};
    jack_port_t* keyIn[2] = {};
    jack_port_t* audioOut[2] = {};
    jack_port_t* midiIn = nullptr;
    std::vector<std::pair<std::string, std::string>> plan;  // source, destination

    std::atomic<uint32_t> serverRate{0};
    std::atomic<uint32_t> serverFrames{0};
    uint32_t engineRate = 0;  // the process thread's own: the rate the engine runs at
    std::atomic<int32_t> rightSources{0};
    std::atomic<int32_t> keySources[2] = {};
    std::atomic<bool> gone{false};
    char reason[256] = {};
};
