// TolvaneEngine: one instance of the compressor, whatever plug-in format or
// program carries it. It owns the parameter values, the five programs, the
// signal blocks, the meter and the MIDI bindings, turns parameter changes into
// block settings and runs the audio path:
//
//   input -> compressor (linked stereo) -> clip to +-1 -> 9200 Hz low-pass -> wet
//   output = wet * m + input * (1 - m),  m = the Active value smoothed over 5 ms
//
// The gain reduction, weighted by m, drives a meter follower (rises with 0.09 s,
// falls with 0.2 s) that an editor reads.
//
// A format adapter (the VST 2.4 effect, the LV2 plug-in, the standalone
// program) owns an engine and translates its host's calls into these; the
// engine knows no format.
//
// A format runs a block with its events through run() (or a Block): the engine
// splits the block at each event's frame, so an event takes effect at its own
// frame, and it computes under the default floating-point environment whatever
// the host left set, so every format gives the same bits.
//
// Threads. run(), Block and the process* shorthands belong to the audio thread:
// they allocate nothing and take no lock. setParameter and setProgram may come
// from any thread; the value as given is what getParameter answers at once, and
// the audio thread applies the derived setting at the start of its next block
// or at the event's frame. setSampleRate comes between blocks, from any thread
// that does not run concurrently with the audio thread (the audio thread itself
// included). The texts may come from any thread, at once: they keep no state.
// Everything else (learning's toggle, the file) belongs to threads other than
// the audio thread.
#pragma once

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FloatingPointEnvironment.h"
#include "TolvaneAudioPath.h"
#include "TolvaneParameters.h"
#include "TolvanePrograms.h"

class qm_controllerAssignments;

class TolvaneEngine {
public:
    // What the engine tells its owner, on the thread that made the change.
    class Observer {
    public:
        virtual ~Observer() = default;
        // After every parameter change, whatever its source (host, editor,
        // program, MIDI); also on the audio thread.
        virtual void parameterChanged(int32_t index, float value) = 0;
        // Learning armed (on) for a parameter, or disarmed, completed or
        // cancelled (off); also on the audio thread.
        virtual void learnChanged(int32_t parameter, bool on) = 0;
    };

    // The forms without a key input have six parameters, the side-chain forms seven.
    static constexpr int32_t kParameterCount = tolvane::kParameterCount;
    static constexpr int32_t kSideChainParameterCount = tolvane::kSideChainParameterCount;
    static constexpr int32_t kProgramCount = kTolvaneProgramCount;
    enum class Form { kMain, kSideChain };

    // At 44100 Hz, the first program applied, the bindings read from the
    // settings folder's file (none when there is no folder).
    TolvaneEngine();
    // The same, with the bindings kept in `assignmentsFile` (empty: nowhere);
    // a side-chain form has the Key parameter too.
    explicit TolvaneEngine(const std::string& assignmentsFile, Form form = Form::kMain);
    // kParameterCount or kSideChainParameterCount: the indexes this engine has.
    int32_t parameterCount() const { return count; }
    // The bindings file every instance reads and writes unless told otherwise,
    // in the settings folder; empty when there is no folder.
    static std::string defaultAssignmentsFile();
    ~TolvaneEngine();
    TolvaneEngine(const TolvaneEngine&) = delete;
    TolvaneEngine& operator=(const TolvaneEngine&) = delete;

    // Null for none. The observer must outlive the engine or be removed first.
    void setObserver(Observer* observer) { this->observer.store(observer); }

    // --- parameters (any thread) -------------------------------------------
    // Normalised 0..1. Values outside are kept as given (hosts read them
    // back, texts show them); the signal path takes them limited to the range.
    // A value that is no number, or an index that is no parameter, is refused.
    void setParameter(int32_t index, float value);
    // The same from a plain value (ratio, milliseconds, decibels, wet share),
    // limited to the parameter's range: the signal path takes the plain value
    // itself, so it gets exactly the setting of any normalised value whose
    // plain value this is; getParameter answers plainToNormalized of it.
    // Formats whose controls carry plain values use it.
    void setParameterPlain(int32_t index, float plain);
    float getParameter(int32_t index) const;

    // --- texts (any thread) ---------------------------------------------------
    // As the parameter table writes them (buffer sizes in TolvaneParameters.h);
    // the display of the current value.
    void getParameterName(int32_t index, char* text, int32_t length) const;
    void getParameterLabel(int32_t index, char* text, int32_t length) const;
    void getParameterDisplay(int32_t index, char* text, int32_t length) const;
    // The display of any normalised value, as a host asks for its lanes.
    void getParameterDisplay(int32_t index, float normalized, char* text, int32_t length) const;
    // The normalised value whose display text the user typed: a number in the
    // display's own terms (a ratio, the 1 to 10 scale of the times, decibels,
    // a percentage), units and spaces around it allowed, limited to the range.
    // False for no parameter or no number.
    bool normalizedFromText(int32_t index, const char* text, float& normalized);

    // --- programs ------------------------------------------------------------
    // Makes the program current and applies its values; a number that is no
    // program is ignored.
    void setProgram(int32_t program);
    int32_t getProgram() const { return currentProgram.load(); }
    // The current program's name ("init 3" for a program 2 named "init"),
    // at most 23 characters and the terminator.
    void getProgramName(char* text) const;
    // Program `index`'s name as stored; false for no such program.
    bool getProgramNameIndexed(int32_t index, char* text) const;
    // Renames the current program; longer names keep their first 23 characters.
    void setProgramName(const char* name);
    // The same for program `index`, current or not; false for no such program.
    bool setProgramNameIndexed(int32_t index, const char* name);

    // --- audio ------------------------------------------------------------------
    // Hz, > 0 and finite; anything else is ignored. Between blocks (see Threads).
    void setSampleRate(float rate);
    // Clears the filters' and the detector's memory (a pause in the stream).
    void suspend();

    // Where a block's audio is: one channel, with the compressor's mono
    // formulas, or linked stereo, whose right input may be its left (one input
    // feeding both). Input and output may share buffers. A missing buffer
    // leaves the audio alone; the events still apply. The key (side-chain
    // forms): with Key at External the detector reads it instead of the input,
    // its two channels linked as the input's are; keyRight null or keyLeft is
    // a mono key feeding both. No key, or Key at Internal: the input.
    struct Audio {
        bool mono;
        const float* left;
        const float* right;  // stereo only
        float* leftOut;
        float* rightOut;  // stereo only
        const float* keyLeft = nullptr;
        const float* keyRight = nullptr;
    };
    // Something that happens at a frame of a block: a MIDI message (control
    // changes on any channel drive the bound parameters or complete a learn;
    // program changes only where enabled; the rest is ignored), a parameter's
    // normalised or plain value (as setParameter and setParameterPlain), or a
    // program (as setProgram).
    struct Event {
        enum class Kind : uint8_t { kMidi, kParameter, kPlainParameter, kProgram };
        uint32_t frame;
        Kind kind;
        uint8_t size;  // of a MIDI message's bytes; longer messages keep their first three
        uint8_t bytes[3];
        int32_t index;  // the parameter or program
        float value;

        static Event midi(uint32_t frame, const uint8_t* bytes, size_t size);
        static Event parameter(uint32_t frame, int32_t index, float normalized);
        static Event plainParameter(uint32_t frame, int32_t index, float plain);
        static Event program(uint32_t frame, int32_t program);
    };
    // Runs `frames` frames of audio with their events, in frame order: the
    // audio up to each event's frame, then the event. An event before the
    // previous one's frame applies where the block has got to; one past the
    // block applies at its end. No frames apply the events at once.
    void run(const Audio& audio, uint32_t frames, const Event* events, size_t count);
    class Block;
    // A block without events, linked stereo or mono.
    void processStereo(const float* left, const float* right, float* leftOut, float* rightOut, int32_t frames);
    void processMono(const float* input, float* output, int32_t frames);
    // MIDI program changes 0..4 select a program, for a program of our own
    // whose controller is its only switch; plug-in hosts select programs themselves.
    void setMidiProgramChanges(bool on) { midiProgramChanges = on; }

    // 0..1: the smoothed gain reduction on the meter's scale, meterValueOf(getGainReduction()).
    float getMeterValue() const { return meterValueOf(getGainReduction()); }
    // The same smoothed gain reduction in decibels, 0 or more.
    float getGainReduction() const;
    // The meter's scale, for every view of it: a reduction in decibels (either
    // sign) as 0..1, 0 dB -> 0, kMeterFullScale or more -> 1. Inline, so that an
    // editor with only the reduction needs no engine.
    static constexpr float kMeterFullScale = 20.0f;
    static float meterValueOf(float gainReduction) {
        const float level = std::fabs(gainReduction);
        return static_cast<float>((level < kMeterFullScale ? level : kMeterFullScale) / kMeterFullScale);
    }

    // --- MIDI learn (not the audio thread) ----------------------------------
    // Arms learning for a parameter, moves it to another one, or (on the armed
    // parameter) cancels it and forgets all of that parameter's bindings.
    // While learning, the same controller twice in a row binds it (a 14-bit
    // controller's fine number between its coarse ones does not count); while
    // idle, a controller sets every parameter bound to it.
    void toggleLearn(int32_t parameter);
    bool isLearning() const { return learn.load().state != 0; }
    int32_t getLearnParameter() const { return learn.load().parameter; }
    // Writes the bindings that a learn on the audio thread completed. Call it
    // from any thread but the audio thread, as often as convenient.
    void writePendingAssignments();
    // Reads the file again (a new instance does so by itself).
    void readAssignments();
    qm_controllerAssignments& getControllerAssignments() { return *controllerAssignments; }

private:
    TolvaneEngine(const std::string& assignmentsFile, Form form, const ScopedFloatingPointEnvironment&);
    void runAudio(const Audio& audio, uint32_t from, uint32_t to);
    void apply(const Event& event);
    void handleMidi(const uint8_t* bytes, size_t size);
    void handleController(uint8_t controller, uint8_t value);
    // The audio thread's side of parameter changes, at the start of each block.
    void applyChangedSettings();
    void applySetting(int32_t index, float setting);
    // Stores the normalised value and hands the setting of its plain value to the audio thread.
    void storeParameter(int32_t index, float value, float plain);
    void notifyLearn(int32_t parameter, bool on);

    const int32_t count;
    TolvaneProgram programs[kProgramCount];
    std::atomic<int32_t> currentProgram{0};
    TolvaneSignalBlocks path;
    std::atomic<Observer*> observer{nullptr};
    bool midiProgramChanges = false;
    bool externalKey = false;  // the audio thread's Key setting
    // The follower's level as of the last processed block, for other threads.
    std::atomic<float> meterLevel{0.0f};

    // A set bit in changedSettings marks a setting not yet applied.
    std::atomic<float> parameterValues[kSideChainParameterCount] = {};
    std::atomic<float> blockSettings[kSideChainParameterCount] = {};
    std::atomic<uint32_t> changedSettings{0};

    // Learning: state 0 idle or 1 learning, and the parameter being learned,
    // changed together so the audio and control threads never see half a change.
    struct alignas(8) LearnState {
        int32_t state;
        int32_t parameter;
    };
    std::unique_ptr<qm_controllerAssignments> controllerAssignments;
    std::atomic<LearnState> learn{LearnState{0, 0}};
    static_assert(std::atomic<LearnState>::is_always_lock_free, "the audio thread must never take a lock");
};

// The last controller seen while learning, shared by every instance in the
// process; kNoController means none.
inline constexpr uint8_t kNoController = 255;
std::atomic<uint8_t>& tolvaneLastController();

// A block whose events come one at a time, as a host's event list is read:
// add() runs the audio up to the event's frame and applies the event, and the
// rest of the block runs when the Block goes. It holds the default
// floating-point environment meanwhile. Audio thread only.
class TolvaneEngine::Block {
public:
    Block(TolvaneEngine& engine, const Audio& audio, uint32_t frames) : engine(engine), audio(audio), frames(frames) {}
    ~Block() { runTo(frames); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

    void add(const Event& event) {
        runTo(event.frame < frames ? event.frame : frames);
        engine.apply(event);
    }

private:
    void runTo(uint32_t frame) {
        if (frame <= done) return;
        engine.runAudio(audio, done, frame);
        done = frame;
    }

    ScopedFloatingPointEnvironment defaultFloatingPoint;
    TolvaneEngine& engine;
    const Audio audio;
    const uint32_t frames;
    uint32_t done = 0;
};
