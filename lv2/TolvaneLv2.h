// The LV2 plug-in's DSP side: one engine behind the LV2 ports (TolvaneLv2Ports.h).
//
// Control ports carry plain values; a port's value applies, at the start of
// a block, whenever it differs from the value the port last had. MIDI control
// changes on the control port apply at their frames in between (the engine
// splits the block there), and leave the engine's value apart from the port's until
// the port changes again; the notify port tells the user interface each such
// value, so its knobs follow MIDI. Learning is armed by the user interface's
// message; the toggle and every write of the bindings file run on the host's
// worker, never in run(). The gain reduction goes to its output port and, in
// Ardour, to a small bar in the mixer strip (the inline display).
#pragma once

#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "InlineDisplay.h"
#include "TolvaneEngine.h"
#include "TolvaneLv2Messages.h"
#include "TolvaneLv2Ports.h"

class TolvaneLv2 : private TolvaneEngine::Observer {
public:
    // Without the host's URID map the atom ports stay unread and unwritten:
    // no MIDI, no messages, the sound alone.
    enum class Layout { kStereo, kMono, kSideChain };
    static TolvaneLv2* create(Layout layout, double sampleRate, const LV2_Feature* const* features);

    void connectPort(uint32_t port, void* data);
    void deactivate() { engine.suspend(); }
    void run(uint32_t frames);

    LV2_Worker_Status work(LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle, uint32_t size,
                           const void* data);
    LV2_Worker_Status workResponse(uint32_t size, const void* data);
    Lv2InlineDisplaySurface* renderInlineDisplay(uint32_t width, uint32_t maxHeight);

private:
    // What run() hands to the worker, and what comes back. The host copies
    // the bytes: they are checked as any input is.
    struct WorkItem {
        enum Kind : uint32_t { kToggleLearn, kWriteBindings } kind;
        int32_t parameter;
        uint8_t written;  // 1: the file was written
    };

    TolvaneLv2(Layout layout, double sampleRate, LV2_URID_Map* map, LV2_Worker_Schedule* schedule,
               const Lv2InlineDisplay* display);

    void parameterChanged(int32_t index, float value) override;
    void learnChanged(int32_t, bool) override {}  // run() compares the state itself

    void applyChangedPorts();
    void handleMessage(TolvaneEngine::Block& block, uint32_t frame, const tolvane::lv2::Message& message);
    TolvaneEngine::Audio audio() const;
    void scheduleBindingsWrite(uint32_t frames);
    void writeNotifications();
    bool writeParameterValue(int32_t index);
    bool writeLearnState(bool armed, int32_t parameter);

    TolvaneEngine engine;
    const bool mono;
    const bool sideChain;
    const float sampleRate;      // the host's, when usable; else the engine's own 44100 Hz
    const uint64_t retryFrames;  // about a second
    tolvane::lv2::MessageUris uris{};
    LV2_Atom_Forge forge{};
    LV2_Worker_Schedule* schedule;
    const Lv2InlineDisplay* display;
    const bool mapped;  // the host gave a URID map: events and messages

    const float* controls[tolvane::kSideChainParameterCount] = {};  // by parameter index
    float* gainReduction = nullptr;
    const LV2_Atom_Sequence* control = nullptr;
    LV2_Atom_Sequence* notify = nullptr;
    const float* inputs[2] = {};
    const float* keys[2] = {};
    float* outputs[2] = {};

    // Audio thread only. The value each control port had when last applied
    // (NaN: never, so the first block applies them all).
    float appliedPorts[tolvane::kSideChainParameterCount];
    bool inMidi = false;
    uint32_t midiChanged = 0;   // bits of parameters MIDI changed, not yet told
    uint32_t midiDiverged = 0;  // bits of parameters MIDI changed since their port last did
    bool stateRequested = false;
    bool learnArmedShown = false;
    int32_t learnParameterShown = 0;
    bool writeScheduled = false;
    uint64_t framesUntilRetry = 0;  // after a failed write
    int32_t meterShown = -1;        // the meter as last queued for drawing, in 1/256

    std::vector<uint32_t> displayPixels;  // the inline display's picture (host's drawing thread)
    Lv2InlineDisplaySurface displaySurface{};
};
