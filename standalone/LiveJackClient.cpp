#include "LiveJackClient.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// libjack writes its own errors (lost sockets, refused connections) to
// stderr; the program says what matters in its own words instead.
void quiet(const char*) {}

jack_port_t* registerPort(jack_client_t* client, const char* name, const char* type, unsigned long flags) {
    return jack_port_register(client, name, type, flags, 0);
}

}  // namespace

bool LiveJackClient::open(const char* name, std::string& error) {
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    jack_status_t status{};
    client = jack_client_open(name, JackNoStartServer, &status);
    if (!client) {
        if (status & JackServerFailed)
            error = "no JACK server is running (start one, or under PipeWire run `pw-jack tolvane live`)";
        else if (status & JackVersionError)
            error = "the JACK server speaks another protocol version than this program's libjack";
        else error = "the JACK server refused the client (status " + std::to_string(status) + ")";
        return false;
    }
    const char* audio = JACK_DEFAULT_AUDIO_TYPE;
    audioIn[0] = registerPort(client, "in_1", audio, JackPortIsInput);
    audioIn[1] = registerPort(client, "in_2", audio, JackPortIsInput);
    audioOut[0] = registerPort(client, "out_1", audio, JackPortIsOutput);
    audioOut[1] = registerPort(client, "out_2", audio, JackPortIsOutput);
    midiIn = registerPort(client, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
    keyIn[0] = registerPort(client, "key_1", audio, JackPortIsInput);
    keyIn[1] = registerPort(client, "key_2", audio, JackPortIsInput);
    if (!audioIn[0] || !audioIn[1] || !audioOut[0] || !audioOut[1] || !midiIn || !keyIn[0] || !keyIn[1]) {
        error = "the JACK server refused the client's ports";
        return false;
    }
    serverRate.store(jack_get_sample_rate(client));
    serverFrames.store(jack_get_buffer_size(client));
    engineRate = serverRate.load();
    engine.setSampleRate(static_cast<float>(engineRate));
    // With no host around it, a controller's program change is how a player switches.
    engine.setMidiProgramChanges(true);

    jack_set_process_callback(client, processCallback, this);
    jack_set_sample_rate_callback(client, rateChanged, this);
    jack_set_buffer_size_callback(client, framesChanged, this);
    jack_set_port_connect_callback(client, connectionChanged, this);
    // jackd calls the first when both are set; PipeWire's library (0.3)
    // only the second.
    jack_on_info_shutdown(client, shutDown, this);
    jack_on_shutdown(
        client, [](void* self) { shutDown(JackFailure, "", self); }, this);
    return true;
}

bool LiveJackClient::activate(std::string& error) {
    if (jack_activate(client) == 0) return true;
    error = "the JACK server would not start the client";
    return false;
}

void LiveJackClient::close() {
    // After the server went away this still frees the client's side; it
    // returns an error at once rather than waiting for an answer.
    if (client) jack_client_close(client);
    client = nullptr;
}

std::string LiveJackClient::name() const { return client ? jack_get_client_name(client) : ""; }

int LiveJackClient::processCallback(jack_nframes_t frames, void* self) {
    return static_cast<LiveJackClient*>(self)->process(frames);
}

int LiveJackClient::rateChanged(jack_nframes_t rate, void* self) {
    static_cast<LiveJackClient*>(self)->serverRate.store(rate);
    return 0;
}

int LiveJackClient::framesChanged(jack_nframes_t frames, void* self) {
    static_cast<LiveJackClient*>(self)->serverFrames.store(frames);
    return 0;
}

// Counts what feeds in_2 from the notices themselves: asking the graph here
// could still see the state before the change.
void LiveJackClient::connectionChanged(jack_port_id_t a, jack_port_id_t b, int connected, void* arg) {
    auto* self = static_cast<LiveJackClient*>(arg);
    const jack_port_t *first = jack_port_by_id(self->client, a), *second = jack_port_by_id(self->client, b);
    auto count = [&](const jack_port_t* port, std::atomic<int32_t>& sources) {
        if (first == port || second == port) sources.fetch_add(connected ? 1 : -1);
    };
    count(self->audioIn[1], self->rightSources);
    count(self->keyIn[0], self->keySources[0]);
    count(self->keyIn[1], self->keySources[1]);
}

void LiveJackClient::shutDown(jack_status_t, const char* why, void* arg) {
    auto* self = static_cast<LiveJackClient*>(arg);
    // A library that calls both callbacks keeps the first reason; the main
    // thread may already be reading it.
    if (self->gone.load(std::memory_order_acquire)) return;
    std::strncpy(self->reason, why ? why : "", sizeof self->reason - 1);
    self->gone.store(true, std::memory_order_release);
}

int LiveJackClient::process(jack_nframes_t frames) {
    // A new rate between two blocks, never while the engine processes.
    const uint32_t rate = serverRate.load(std::memory_order_relaxed);
    if (rate != engineRate && rate > 0) {
        engine.setSampleRate(static_cast<float>(rate));
        engineRate = rate;
    }
    const auto* left = static_cast<const float*>(jack_port_get_buffer(audioIn[0], frames));
    const auto* right = rightSources.load(std::memory_order_relaxed) > 0
                            ? static_cast<const float*>(jack_port_get_buffer(audioIn[1], frames))
                            : left;
    auto* leftOut = static_cast<float*>(jack_port_get_buffer(audioOut[0], frames));
    auto* rightOut = static_cast<float*>(jack_port_get_buffer(audioOut[1], frames));
    void* midi = jack_port_get_buffer(midiIn, frames);
    // The key's ports that something feeds; one feeds both sides.
    const float* keys[2] = {};
    for (int k = 0; k < 2; ++k)
        if (keySources[k].load(std::memory_order_relaxed) > 0)
            keys[k] = static_cast<const float*>(jack_port_get_buffer(keyIn[k], frames));
    const float* keyLeft = keys[0] ? keys[0] : keys[1];
    const float* keyRight = keys[1] ? keys[1] : keys[0];

    // Each message takes effect at its own frame. Key is External for good
    // (a program change would set it Internal): without a key the input feeds
    // the detector all the same.
    TolvaneEngine::Block block(engine, TolvaneEngine::Audio{false, left, right, leftOut, rightOut, keyLeft, keyRight},
                               frames);
    if (engine.getParameter(tolvane::kKey) != 1.0f) block.add(TolvaneEngine::Event::parameter(0, tolvane::kKey, 1.0f));
    const uint32_t count = jack_midi_get_event_count(midi);
    for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, midi, i) == 0)
            block.add(TolvaneEngine::Event::midi(event.time, event.buffer, event.size));
    }
    return 0;
}

bool LiveJackClient::planConnections(const std::vector<std::string>& ports, std::string& error) {
    plan.clear();
    if (ports.empty()) {
        planSystemConnections();
        return true;
    }
    int inputs = 0, outputs = 0, keys = 0;
    for (const std::string& port : ports)
        if (!planPort(port, inputs, outputs, keys, error)) return false;
    return true;
}

bool LiveJackClient::planPort(const std::string& given, int& inputs, int& outputs, int& keys, std::string& error) {
    // "key:PORT": a source for the key (unless only the whole name is a port: a client named "key").
    const bool key = given.rfind("key:", 0) == 0 && jack_port_by_name(client, given.c_str() + 4);
    const std::string port = key ? given.substr(4) : given;
    const jack_port_t* found = jack_port_by_name(client, port.c_str());
    if (!found) {
        error = "no JACK port '" + port + "' to connect (jack_lsp lists them)";
        return false;
    }
    // Joining Tolvane to itself would only make a loop: the names say what to join it to.
    if (jack_port_is_mine(client, found)) {
        error = "'" + port +
                "' is Tolvane's own port: --connect takes the ports to join Tolvane's to (jack_lsp lists them)";
        return false;
    }
    const bool midi = std::strcmp(jack_port_type(found), JACK_DEFAULT_MIDI_TYPE) == 0;
    const bool source = (jack_port_flags(found) & JackPortIsOutput) != 0;
    if (key) {
        if (midi || !source || keys == 2) {
            error = "'" + given + "': the key takes one or two audio sources";
            return false;
        }
        plan.emplace_back(port, jack_port_name(keyIn[keys++]));
    } else if (midi && source) {
        plan.emplace_back(port, jack_port_name(midiIn));
    } else if (midi) {
        error = "'" + port + "' takes MIDI, and Tolvane sends none";
        return false;
    } else if (source) {
        if (inputs == 2) {
            error = "more than two audio sources to connect ('" + port + "'): Tolvane has two inputs";
            return false;
        }
        plan.emplace_back(port, jack_port_name(audioIn[inputs++]));
    } else {
        if (outputs == 2) {
            error = "more than two audio destinations to connect ('" + port + "'): Tolvane has two outputs";
            return false;
        }
        plan.emplace_back(jack_port_name(audioOut[outputs++]), port);
    }
    return true;
}

void LiveJackClient::planSystemConnections() {
    auto physical = [&](const char* type, unsigned long direction) {
        std::vector<std::string> names;
        if (const char** ports = jack_get_ports(client, nullptr, type, JackPortIsPhysical | direction)) {
            for (const char** p = ports; *p; ++p) names.emplace_back(*p);
            jack_free(ports);
        }
        return names;
    };
    const std::vector<std::string> captures = physical(JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    const std::vector<std::string> playbacks = physical(JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput);
    for (size_t i = 0; i < std::min<size_t>(captures.size(), 2); ++i)
        plan.emplace_back(captures[i], jack_port_name(audioIn[i]));
    for (size_t i = 0; i < std::min<size_t>(playbacks.size(), 2); ++i)
        plan.emplace_back(jack_port_name(audioOut[i]), playbacks[i]);
    // Every controller on the system may drive the bindings.
    for (const std::string& source : physical(JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput))
        plan.emplace_back(source, jack_port_name(midiIn));
}

bool LiveJackClient::connect(std::string& made, std::string& error) {
    made.clear();
    for (const auto& [source, destination] : plan) {
        const int result = jack_connect(client, source.c_str(), destination.c_str());
        if (result != 0 && result != EEXIST) {
            error = "cannot connect " + source + " to " + destination;
            return false;
        }
        made += (made.empty() ? "" : ", ") + source + " -> " + destination;
    }
    return true;
}
