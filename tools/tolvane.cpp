// tolvane: a command-line host for the Tolvane plug-in. It loads the plug-in
// library exactly as a workstation does and uses only the VST 2.4 interface;
// parameters are named as in Tolvane's parameter table, whose short names are
// the ones the plug-in gives its host.
//
//   tolvane info                      identity, programs and parameters
//   tolvane render IN OUT [options]   process an audio file
//   tolvane demo [DIR]                render a drum loop through every program
//   tolvane edit [options]            the editor in a window of its own, idled like a host
//   tolvane editor-shot OUT.png ...   a picture of the editor (built in, not loaded)
//   tolvane live [options]            Tolvane on a JACK server, with its editor (built in, not loaded)
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "CommandLine.h"
#include "DrumLoop.h"
#include "EditorShot.h"
#include "LiveCommand.h"
#include "MidiFile.h"
#include "PluginHost.h"
#include "RenderFiles.h"
#include "TolvaneEngine.h"
#include "TopLevelWindow.h"
#include "qm_controllerAssignments.h"

namespace {

const char* const usage =
    "usage: tolvane [--plugin PATH] info\n"
    "       tolvane [--plugin PATH] render IN OUT [--program N|NAME] [--set NAME=VALUE ...] [--block N]\n"
    "                                     [--midi FILE] [--pre-roll SECONDS] [--key FILE]\n"
    "       tolvane [--plugin PATH] demo [DIR]\n"
    "       tolvane [--plugin PATH] edit [--program N|NAME] [--play IN] [--seconds S]\n"
    "       tolvane editor-shot OUT.png [--program N|NAME] [--set NAME=VALUE ...] [--meter V]\n"
    "                                   [--highlight TAG] [--about] [--size-menu] [--scale 1|1.5|2]\n"
    "       tolvane live [--program N|NAME] [--set NAME=VALUE ...] [--connect [PORT,...]] [--no-editor]\n"
    "       tolvane --help | --version\n"
    "Parameters go by either name 'tolvane info' shows, in any case; values are host-normalised, 0 to 1.\n";

// The options before the command.
const cli::Option kProgramOptions[] = {
    {"--plugin", cli::Takes::kValue, "the path of a plug-in"},
    {"--version", cli::Takes::kNothing, ""},
    {"--help", cli::Takes::kNothing, ""},
    {"-h", cli::Takes::kNothing, ""},
};

// What --help adds to the usage; the manual page is made from both.
const char* const helpDetails =
    "Tolvane's command-line host: loads the Tolvane VST 2.4 plug-in as a workstation does.\n"
    "\n"
    "  info           the plug-in's identity, programs, parameters and MIDI bindings\n"
    "  render         process a WAV, AIFF or FLAC file (mono or stereo) into OUT, same format;\n"
    "                 --pre-roll runs that much silence (0 to 60 s) through the effect first,\n"
    "                 as a workstation's export does, so the file starts as a running instance would;\n"
    "                 --key FILE (mono or stereo, the input's rate and length) drives the detector\n"
    "                 instead of the input: it loads TolvaneSC.so from beside the plug-in (unless the\n"
    "                 plug-in has a key input itself) with Key set to External\n"
    "  demo           render a drum loop through every program into DIR (default: demo)\n"
    "  edit           the editor in an X window of its own, idled as a host does\n"
    "  editor-shot    a PNG picture of the editor, built in rather than loaded\n"
    "  live           Tolvane on a JACK server, with its editor in a window of its own\n"
    "  --plugin PATH  the plug-in to load; by default the Tolvane.so beside this program,\n"
    "                 else ../lib/vst/Tolvane.so from it (the installed layout)\n";

// The usage in the form help2man reads ("Usage:" and one "  or:" line per further
// form), the details, then the usage's notes.
std::string helpText() {
    const std::string forms(usage);
    std::string text, notes;
    size_t start = 0;
    for (size_t end; (end = forms.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = forms.substr(start, end - start);
        const size_t first = line.find_first_not_of(' ');
        if (start == 0) text = "Usage:" + line.substr(6);
        else if (line.compare(first, 8, "tolvane ") == 0) text += "\n  or:  " + line.substr(first);
        else if (first > 0) text += " " + line.substr(first);  // the form goes on
        else notes += "\n" + line;
    }
    return text + "\n\n" + helpDetails + notes + "\n";
}

using cli::fail;
using cli::refuse;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// This program's own file, symbolic links resolved: from /proc where it is
// mounted, else from how it was started (a path, or a name found on PATH),
// as in a fresh chroot.
std::string ownPath(const char* argv0) {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) return std::string(self, static_cast<size_t>(n));
    std::string started = argv0 ? argv0 : "";
    if (!started.empty() && started.find('/') == std::string::npos) {
        const char* path = std::getenv("PATH");
        const std::string folders = path ? path : "";
        std::string found;
        for (size_t start = 0; found.empty() && start <= folders.size();) {
            const size_t end = std::min(folders.find(':', start), folders.size());
            const std::string folder = end > start ? folders.substr(start, end - start) : ".";
            const std::string candidate = folder + "/" + started;
            struct stat file;
            if (stat(candidate.c_str(), &file) == 0 && S_ISREG(file.st_mode) && access(candidate.c_str(), X_OK) == 0)
                found = candidate;
            start = end + 1;
        }
        started = found;
    }
    char resolved[4096];
    return !started.empty() && realpath(started.c_str(), resolved) ? std::string(resolved) : started;
}

// The Tolvane.so next to this program (a build, an archive), else the one in the
// VST folder of the tree this program is installed in (bin/ beside lib/vst/).
std::string defaultPluginPath(const char* argv0) {
    const std::string path = ownPath(argv0);
    if (path.empty()) return "Tolvane.so";
    const std::string folder = path.substr(0, path.find_last_of('/') + 1);
    const std::string installed = folder + "../lib/vst/Tolvane.so";
    if (access((folder + "Tolvane.so").c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0) return installed;
    return folder + "Tolvane.so";
}

struct Level {
    double peak = 0.0, sumOfSquares = 0.0;
    size_t samples = 0;
    void add(float x) {
        peak = std::max(peak, static_cast<double>(std::fabs(x)));
        sumOfSquares += static_cast<double>(x) * x;
        ++samples;
    }
    double peakDb() const { return peak > 0.0 ? 20.0 * std::log10(peak) : -INFINITY; }
    double rmsDb() const {
        return sumOfSquares > 0.0 ? 10.0 * std::log10(sumOfSquares / static_cast<double>(samples)) : -INFINITY;
    }
};

struct RenderSettings {
    int32_t program = -1;  // -1 keeps program 0
    std::vector<cli::ParameterValue> sets;
    long block = 512;
    double preRoll = 0.0;           // seconds of silence through the effect before the file
    bool progress = false;          // on a terminal: shown for a file long enough to wait for
    std::vector<MidiMessage> midi;  // played to the plug-in at their times
    std::string keyPath;            // a key file for inputs 3-4, or empty
    SNDFILE* key = nullptr;         // the key opened, read beside the input
    int keyChannels = 0;
};

// The side-chain plug-in's Key parameter, and its value for External.
constexpr VstInt32 kKeyParameter = 6;
constexpr float kKeyExternal = 1.0f;

// A VstEvents list with room for a batch of MIDI messages.
struct MidiBatch {
    static constexpr int kSize = 64;
    VstInt32 numEvents = 0;
    VstIntPtr reserved = 0;
    VstEvent* events[kSize] = {};
    VstMidiEvent storage[kSize] = {};
};

std::vector<std::string> programNames(PluginInstance& plugin) {
    std::vector<std::string> names;
    for (VstInt32 p = 0; p < plugin.effect()->numPrograms; ++p) {
        char name[kVstMaxProgNameLen + 1] = {};
        plugin.dispatch(effGetProgramNameIndexed, p, 0, name);
        names.push_back(name);
    }
    return names;
}

bool showsProgress(const RenderSettings& settings, const SF_INFO& info) {
    return settings.progress && info.frames > 30 * static_cast<sf_count_t>(info.samplerate);
}

void showProgress(sf_count_t done, sf_count_t total) {
    const int width = 40;
    const int filled = static_cast<int>(width * done / std::max<sf_count_t>(total, 1));
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################", width - filled, "",
                 static_cast<int>(100 * done / std::max<sf_count_t>(total, 1)));
    if (done >= total) std::fputc('\n', stderr);
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// A new instance for the input's channels and rate, the settings applied, switched on.
std::unique_ptr<PluginInstance> startRenderInstance(PluginLibrary& library, const SF_INFO& info,
                                                    const RenderSettings& settings, std::string& error) {
    auto plugin = library.createInstance();
    if (!plugin) {
        error = library.error();
        return nullptr;
    }
    plugin->connectedInputs = plugin->connectedOutputs = info.channels;
    // The key on pins 3-4, pin 4 unconnected for a mono key; a mono input
    // then goes to both main pins, and the mono output takes the first.
    if (settings.key) plugin->connectedInputs = settings.keyChannels == 2 ? 4 : 3;
    plugin->dispatch(effOpen);
    plugin->dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(info.samplerate));
    plugin->dispatch(effSetBlockSize, 0, settings.block);
    if (settings.program >= 0) plugin->dispatch(effSetProgram, 0, settings.program);
    for (const cli::ParameterValue& set : settings.sets) plugin->setParameter(set.index, set.value);
    if (settings.key) plugin->setParameter(kKeyParameter, kKeyExternal);
    plugin->dispatch(effMainsChanged, 0, 1);
    return plugin;
}

// Plays MIDI messages to an instance at their frames. Messages due at the same
// point go in one list of up to MidiBatch::kSize.
class MidiPlayer {
public:
    MidiPlayer(PluginInstance& plugin, const std::vector<MidiMessage>& messages, int sampleRate)
        : plugin(plugin),
          messages(messages),
          sampleRate(sampleRate) {}

    // Sends every message due by `frame`.
    void deliverDueBy(sf_count_t frame) {
        while (next < messages.size() && frameOf(next) <= frame) {
            const MidiMessage& m = messages[next++];
            VstMidiEvent& e = batch->storage[batch->numEvents];
            e.type = kVstMidiType;
            e.byteSize = sizeof e;
            e.midiData[0] = static_cast<char>(m.status);
            e.midiData[1] = static_cast<char>(m.data1);
            e.midiData[2] = static_cast<char>(m.data2);
            batch->events[batch->numEvents++] = reinterpret_cast<VstEvent*>(&e);
            if (batch->numEvents == MidiBatch::kSize || next == messages.size() || frameOf(next) > frame) {
                plugin.dispatch(effProcessEvents, 0, 0, batch.get());
                batch->numEvents = 0;
            }
        }
    }
    bool pending() const { return next < messages.size(); }
    // The frame of the next message to send; only while one is pending.
    sf_count_t nextFrame() const { return frameOf(next); }

private:
    sf_count_t frameOf(size_t i) const {
        return static_cast<sf_count_t>(std::llround(messages[i].seconds * sampleRate));
    }

    PluginInstance& plugin;
    const std::vector<MidiMessage>& messages;
    const int sampleRate;
    size_t next = 0;
    std::unique_ptr<MidiBatch> batch = std::make_unique<MidiBatch>();
};

// Processes `frames` frames that start at frame `done` of the stream, split
// where MIDI messages fall, so each takes effect at its own frame.
void processSplitAtMidi(PluginInstance& plugin, MidiPlayer& midi, float* const inputs[4], float* const outputs[2],
                        sf_count_t done, sf_count_t frames) {
    for (sf_count_t start = 0; start < frames;) {
        midi.deliverDueBy(done + start);
        sf_count_t end = frames;
        if (midi.pending()) end = std::min(end, std::max(start + 1, midi.nextFrame() - done));
        float* ins[4] = {inputs[0] + start, inputs[1] + start, inputs[2] + start, inputs[3] + start};
        float* outs[2] = {outputs[0] + start, outputs[1] + start};
        plugin.process(ins, outs, static_cast<VstInt32>(end - start));
        start = end;
    }
}

// Runs the whole input through the instance into the output, block by block,
// measuring the levels asked for. The frames read; -1 when the output refuses a block.
sf_count_t streamThrough(PluginInstance& plugin, SNDFILE* in, SNDFILE* out, const SF_INFO& info,
                         const RenderSettings& settings, Level* inLevel, Level* outLevel) {
    const size_t block = static_cast<size_t>(settings.block);
    const int channels = info.channels;
    // Four inputs, whichever plug-in: the key's pins get silence when there is no key.
    std::vector<float> interleaved(block * channels), inputs(block * 4), outputs(block * 2), key(block * 2);
    float* inputPointers[4] = {inputs.data(), inputs.data() + block, inputs.data() + 2 * block,
                               inputs.data() + 3 * block};
    float* outputPointers[2] = {outputs.data(), outputs.data() + block};
    MidiPlayer midi(plugin, settings.midi, info.samplerate);
    const bool progress = showsProgress(settings, info);
    sf_count_t done = 0;
    for (;;) {
        const sf_count_t got = sf_readf_float(in, interleaved.data(), static_cast<sf_count_t>(block));
        if (got <= 0) return done;
        for (sf_count_t t = 0; t < got; ++t)
            for (int c = 0; c < channels; ++c) {
                inputPointers[c][t] = interleaved[t * channels + c];
                if (inLevel) inLevel->add(inputPointers[c][t]);
            }
        if (settings.key) {
            // The key is as long as the input: it gives its frames, whatever they are.
            const sf_count_t keyed = sf_readf_float(settings.key, key.data(), got);
            for (sf_count_t t = 0; t < got; ++t)
                for (int c = 0; c < 2; ++c)
                    inputPointers[2 + c][t] =
                        t < keyed ? key[static_cast<size_t>(t * settings.keyChannels + c % settings.keyChannels)]
                                  : 0.0f;
            if (channels == 1) std::copy_n(inputPointers[0], got, inputPointers[1]);
        }
        processSplitAtMidi(plugin, midi, inputPointers, outputPointers, done, got);
        for (sf_count_t t = 0; t < got; ++t)
            for (int c = 0; c < channels; ++c) {
                interleaved[t * channels + c] = outputPointers[c][t];
                if (outLevel) outLevel->add(outputPointers[c][t]);
            }
        if (sf_writef_float(out, interleaved.data(), got) != got) return -1;
        done += got;
        if (progress) showProgress(done, info.frames);
    }
}

// Runs `frames` frames of silence through the instance, its output dropped.
void preRoll(PluginInstance& plugin, sf_count_t frames, long block) {
    std::vector<float> silence(static_cast<size_t>(block)), dropped(static_cast<size_t>(block) * 2);
    float* inputs[4] = {silence.data(), silence.data(), silence.data(), silence.data()};
    float* outputs[2] = {dropped.data(), dropped.data() + block};
    for (sf_count_t n; frames > 0; frames -= n) {
        n = std::min<sf_count_t>(frames, block);
        plugin.process(inputs, outputs, static_cast<VstInt32>(n));
    }
}

using cli::warn;

bool openKey(const std::string& keyPath, const SF_INFO& input, RenderInput& key, std::string& error);

// Renders IN into OUT through a new instance; OUT gets the output only when
// everything succeeded. `unfit` is set for a key that does not fit the input.
bool render(PluginLibrary& library, const std::string& inPath, const std::string& outPath, const RenderSettings& given,
            Level* inLevel, Level* outLevel, std::string& error, bool* unfit = nullptr) {
    if (sameFile(inPath, outPath)) {
        error = "the output " + outPath + " is the input file; choose another name";
        return false;
    }
    RenderInput in;
    std::string warning;
    if (!in.open(inPath, error, warning)) return false;
    if (!warning.empty()) warn(warning);
    const SF_INFO& info = in.info();
    RenderSettings settings = given;
    RenderInput key;
    if (!settings.keyPath.empty()) {
        if (!openKey(settings.keyPath, info, key, error)) {
            if (unfit) *unfit = true;
            return false;
        }
        settings.key = key.file();
        settings.keyChannels = key.info().channels;
    }
    auto plugin = startRenderInstance(library, info, settings, error);
    if (!plugin) return false;
    RenderOutput out;
    if (!out.open(outPath, info, error)) return false;
    sf_command(out.file(), SFC_SET_CLIPPING, nullptr, SF_TRUE);

    preRoll(*plugin, std::llround(settings.preRoll * info.samplerate), settings.block);
    const sf_count_t frames = streamThrough(*plugin, in.file(), out.file(), info, settings, inLevel, outLevel);
    plugin->dispatch(effMainsChanged, 0, 0);
    if (frames < 0) {
        error = "cannot write " + outPath + ": " + sf_strerror(out.file());
        return false;
    }
    // A file cut short keeps what it held, as a cut WAV file does in libsndfile.
    const std::string shortfall = in.shortfall(frames);
    if (shortfall.empty() && sf_error(in.file()) != SF_ERR_NO_ERROR) {
        error = "cannot read " + inPath + ": " + sf_strerror(in.file());
        return false;
    }
    if (!out.finish(error)) return false;
    if (!shortfall.empty()) warn((showsProgress(settings, info) ? "\n" : "") + shortfall);  // the bar stopped short
    return true;
}

int info(PluginLibrary& library) {
    auto plugin = library.createInstance();
    if (!plugin) return fail(library.error());
    plugin->dispatch(effOpen);
    AEffect* e = plugin->effect();
    const VstInt32 id = e->uniqueID;
    const char idText[5] = {static_cast<char>(id >> 24), static_cast<char>(id >> 16), static_cast<char>(id >> 8),
                            static_cast<char>(id), 0};
    std::printf("%s by %s\n", plugin->text(effGetEffectName).c_str(), plugin->text(effGetVendorString).c_str());
    std::printf("  product        %s\n", plugin->text(effGetProductString).c_str());
    std::printf("  vendor version %ld\n", static_cast<long>(plugin->dispatch(effGetVendorVersion)));
    std::printf("  VST version    %ld\n", static_cast<long>(plugin->dispatch(effGetVstVersion)));
    std::printf("  unique ID      '%s' (0x%08X)\n", idText, static_cast<unsigned>(id));
    std::printf("  category       %s\n", plugin->dispatch(effGetPlugCategory) == 1 ? "effect" : "other");
    std::printf("  I/O            %d in, %d out; mono and one-in/two-out also supported\n", e->numInputs,
                e->numOutputs);
    std::printf("  editor         %s\n", (e->flags & effFlagsHasEditor) ? "yes" : "no");
    std::printf("\nPrograms\n");
    for (VstInt32 p = 0; p < e->numPrograms; ++p) {
        char name[kVstMaxProgNameLen + 1] = {};
        plugin->dispatch(effGetProgramNameIndexed, p, 0, name);
        std::printf("  %d  %s\n", p, name);
    }
    std::printf("\nParameters (program %ld, \"%s\")\n", static_cast<long>(plugin->dispatch(effGetProgram)),
                plugin->text(effGetProgramName).c_str());
    // The name hosts show, then the full one (as `live` writes it in its settings file).
    for (VstInt32 i = 0; i < e->numParams; ++i) {
        const std::string name = plugin->text(effGetParamName, i);
        const std::string fullName = tolvane::isParameter(i) ? std::string(tolvane::kParameters[i].name) : name;
        std::printf("  %d  %-8s %-12s %8s %-3s (%.6g)\n", i, name.c_str(), fullName.c_str(),
                    plugin->text(effGetParamDisplay, i).c_str(), plugin->text(effGetParamLabel, i).c_str(),
                    static_cast<double>(plugin->getParameter(i)));
    }

    // The bindings every new instance reads, from the plug-in's settings file.
    const std::string file = TolvaneEngine::defaultAssignmentsFile();
    auto table = std::make_unique<qm_controllerAssignments::Table>();
    std::printf("\nMIDI controller bindings");
    if (file.empty() || !qm_controllerAssignments::readFile(file, *table)) {
        std::printf(": none (no %s)\n", file.empty() ? "settings folder" : file.c_str());
        return 0;
    }
    std::printf(" (%s)\n", file.c_str());
    if (table->count == 0) std::printf("  none\n");
    for (uint32_t k = 0; k < table->count; ++k) {
        const qm_controllerAssignment& a = table->entries[k];
        const bool known = a.parameter >= 0 && a.parameter < e->numParams;
        std::printf("  CC %3d -> %s\n", static_cast<int>(a.controller),
                    known ? plugin->text(effGetParamName, a.parameter).c_str()
                          : ("parameter " + std::to_string(a.parameter) + " (none such)").c_str());
    }
    return 0;
}

const cli::Option kRenderOptions[] = {
    {"--program", cli::Takes::kValue, "a number or a name"},
    {"--set", cli::Takes::kValue, "NAME=VALUE"},
    {"--block", cli::Takes::kValue, "a number of frames from 1 to 65536"},
    {"--midi", cli::Takes::kValue, "a standard MIDI file"},
    {"--pre-roll", cli::Takes::kValue, "a number of seconds from 0 to 60"},
    {"--key", cli::Takes::kValue, "a mono or stereo audio file"},
};

// The plug-in that takes a key: the one given, when it has a key input, else
// TolvaneSC.so beside it. Null, with `error` set, when there is none.
PluginLibrary* keyedLibrary(PluginLibrary& library, const std::string& pluginPath,
                            std::unique_ptr<PluginLibrary>& loaded, std::string& error) {
    if (auto probe = library.createInstance(); probe && probe->effect()->numInputs >= 4) return &library;
    const std::string path = pluginPath.substr(0, pluginPath.find_last_of('/') + 1) + "TolvaneSC.so";
    loaded = std::make_unique<PluginLibrary>(path);
    if (auto probe = loaded->createInstance(); probe && probe->effect()->numInputs >= 4) return loaded.get();
    error = "--key needs the side-chain plug-in " + path +
            (loaded->loaded() ? ", which has no key input" : ": " + loaded->error());
    return nullptr;
}

// Opens the key and checks it against the input: the same rate and length
// (where the input's header gives one: a pipe's may not), one or two channels.
bool openKey(const std::string& keyPath, const SF_INFO& i, RenderInput& key, std::string& error) {
    std::string warning;
    if (!key.open(keyPath, error, warning)) return false;
    if (!warning.empty()) warn(warning);
    const SF_INFO& k = key.info();
    if (k.channels < 1 || k.channels > 2) {
        error = "the key " + keyPath + " has " + std::to_string(k.channels) + " channels; it must be mono or stereo";
    } else if (k.samplerate != i.samplerate) {
        error = "the key " + keyPath + " runs at " + std::to_string(k.samplerate) + " Hz, the input at " +
                std::to_string(i.samplerate) + " Hz; they must match";
    } else if (k.frames != i.frames && i.frames > 0 && i.frames < SF_COUNT_MAX) {
        error = "the key " + keyPath + " has " + std::to_string(k.frames) + " frames, the input " +
                std::to_string(i.frames) + "; they must be as long";
    } else {
        return true;
    }
    return false;
}

int renderCommand(PluginLibrary& mainLibrary, const std::string& pluginPath, const std::vector<std::string>& args) {
    cli::Arguments parsed;
    RenderSettings settings;
    std::string error, program, keyPath;
    if (!cli::parse(args, kRenderOptions, parsed, error)) return refuse(error);
    for (const cli::Given& given : parsed.options) {
        long block;
        if (given.is("--program")) {
            program = given.value;
        } else if (given.is("--set")) {
            if (!cli::parseParameterValue(given.value, settings.sets.emplace_back(), error)) return refuse(error);
        } else if (given.is("--block")) {
            if (!cli::parseWhole(given.value, block) || block < 1 || block > 65536) return refuse(given.refusal());
            settings.block = block;
        } else if (given.is("--midi")) {
            if (!readMidiFile(given.value, settings.midi, error)) return fail(error);
        } else if (given.is("--pre-roll")) {
            if (!cli::parseNumber(given.value, settings.preRoll) || settings.preRoll < 0.0 || settings.preRoll > 60.0)
                return refuse(given.refusal());
        } else if (given.is("--key")) {
            keyPath = given.value;
        }
    }
    if (parsed.operands.size() != 2) return refuse("render needs an input and an output file (see 'tolvane --help')");
    PluginLibrary* chosen = &mainLibrary;
    std::unique_ptr<PluginLibrary> sideChain;
    if (!keyPath.empty()) {
        chosen = keyedLibrary(mainLibrary, pluginPath, sideChain, error);
        if (!chosen) return fail(error);
        settings.keyPath = keyPath;
    }
    PluginLibrary& library = *chosen;
    if (!program.empty()) {
        auto plugin = library.createInstance();
        if (!plugin) return fail(library.error());
        plugin->dispatch(effOpen);
        if (!cli::findProgram(program, programNames(*plugin), settings.program, error)) return refuse(error);
    }
    settings.progress = isatty(2);
    bool unfit = false;
    if (!render(library, parsed.operands[0], parsed.operands[1], settings, nullptr, nullptr, error, &unfit))
        return unfit ? refuse(error) : fail(error);
    return 0;
}

bool writeWav(const std::string& path, const StereoSignal& s, std::string& error) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(s.sampleRate);
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    std::vector<float> interleaved(s.frames() * 2);
    for (size_t n = 0; n < s.frames(); ++n) interleaved[2 * n] = s.left[n], interleaved[2 * n + 1] = s.right[n];
    const bool ok = sf_writef_float(f, interleaved.data(), static_cast<sf_count_t>(s.frames())) ==
                    static_cast<sf_count_t>(s.frames());
    sf_close(f);
    if (!ok) error = "cannot write " + path;
    return ok;
}

int demo(PluginLibrary& library, const std::string& directory) {
    mkdir(directory.c_str(), 0777);
    const std::string inPath = directory + "/drum-loop.wav";
    std::string error;
    if (!writeWav(inPath, makeDrumLoop(), error)) return fail(error);

    auto plugin = library.createInstance();
    if (!plugin) return fail(library.error());
    std::printf("Input: %s\n\n", inPath.c_str());
    std::printf("%-2s %-20s %9s %9s %9s %9s %7s %7s  %s\n", "#", "program", "in peak", "in RMS", "out peak", "out RMS",
                "crest", "crest", "file");
    std::printf("%-2s %-20s %9s %9s %9s %9s %7s %7s\n", "", "", "dBFS", "dBFS", "dBFS", "dBFS", "in dB", "out dB");
    for (VstInt32 p = 0; p < plugin->effect()->numPrograms; ++p) {
        char name[kVstMaxProgNameLen + 1] = {};
        plugin->dispatch(effGetProgramNameIndexed, p, 0, name);
        std::string slug = lower(name);
        std::replace(slug.begin(), slug.end(), ' ', '-');
        const std::string outPath = directory + "/" + std::to_string(p) + "-" + slug + ".wav";
        RenderSettings settings;
        settings.program = p;
        Level in, out;
        if (!render(library, inPath, outPath, settings, &in, &out, error)) return fail(error);
        std::printf("%-2d %-20s %9.2f %9.2f %9.2f %9.2f %7.2f %7.2f  %s\n", p, name, in.peakDb(), in.rmsDb(),
                    out.peakDb(), out.rmsDb(), in.peakDb() - in.rmsDb(), out.peakDb() - out.rmsDb(), outPath.c_str());
    }
    return 0;
}

// The options of `edit`.
struct EditOptions {
    std::string program, playPath;
    double seconds = 0.0;  // 0: until the window is closed
};

const cli::Option kEditOptions[] = {
    {"--program", cli::Takes::kValue, "a number or a name"},
    {"--play", cli::Takes::kValue, "a mono or stereo audio file"},
    {"--seconds", cli::Takes::kValue, "a number of seconds above 0"},
};

// False, with the refusal in `error`, on an argument edit does not take.
bool parseEditOptions(const std::vector<std::string>& args, EditOptions& options, std::string& error) {
    cli::Arguments parsed;
    if (!cli::parse(args, kEditOptions, parsed, error)) return false;
    if (!parsed.operands.empty()) {
        error = "edit takes no argument '" + parsed.operands[0] + "' (see 'tolvane --help')";
        return false;
    }
    for (const cli::Given& given : parsed.options) {
        if (given.is("--program")) options.program = given.value;
        if (given.is("--play")) options.playPath = given.value;
        if (given.is("--seconds") && (!cli::parseNumber(given.value, options.seconds) || options.seconds <= 0)) {
            error = given.refusal();
            return false;
        }
    }
    return true;
}

// What `edit --play` plays in a loop: a mono or stereo file, each channel on
// its own (a mono file's on both), in real time.
struct LoopedAudio {
    std::vector<float> left, right;
    double rate = 44100.0;
    size_t played = 0;  // frames played, over every turn of the loop
    std::vector<float> outLeft = std::vector<float>(512), outRight = std::vector<float>(512);

    bool read(const std::string& path, std::string& error) {
        SF_INFO info{};
        SNDFILE* in = sf_open(path.c_str(), SFM_READ, &info);
        if (!in) {
            error = "cannot read " + path + ": " + sf_strerror(nullptr);
            return false;
        }
        if (info.channels < 1 || info.channels > 2 || info.frames <= 0) {
            sf_close(in);
            error = path + " must be mono or stereo audio";
            return false;
        }
        std::vector<float> frames(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
        sf_readf_float(in, frames.data(), info.frames);
        sf_close(in);
        for (sf_count_t n = 0; n < info.frames; ++n) {
            left.push_back(frames[static_cast<size_t>(n * info.channels)]);
            right.push_back(frames[static_cast<size_t>(n * info.channels + info.channels - 1)]);
        }
        rate = info.samplerate;
        return true;
    }

    // Plays what real time has reached after `elapsed` seconds, in blocks of up to 512.
    void playUntil(PluginInstance& plugin, double elapsed) {
        while (!left.empty() && static_cast<double>(played) < elapsed * rate) {
            const size_t at = played % left.size();
            const size_t n = std::min<size_t>(512, left.size() - at);
            // The input is its own key, should the plug-in have one.
            float* inputs[4] = {left.data() + at, right.data() + at, left.data() + at, right.data() + at};
            float* outputs[2] = {outLeft.data(), outRight.data()};
            plugin.process(inputs, outputs, static_cast<VstInt32>(n));
            played += n;
        }
    }
};

// A top-level window of the editor's size, with the editor open in it; it
// takes the size the editor asks for (a new scale), as a host's does. Null
// when there is no display.
std::unique_ptr<platform::TopLevelWindow> openEditorWindow(PluginInstance& plugin) {
    ERect* size = nullptr;
    plugin.dispatch(effEditGetRect, 0, 0, &size);
    const int32_t width = size ? size->right - size->left : 750;
    const int32_t height = size ? size->bottom - size->top : 200;
    auto window = platform::createTopLevelWindow("Tolvane", width, height);
    if (!window) return nullptr;
    plugin.resizeEditorWindow = [window = window.get()](int32_t w, int32_t h) {
        window->resize(w, h);
        return true;
    };
    plugin.dispatch(effEditOpen, 0, 0, window->handle());
    return window;
}

// Prints what the host heard since the last call (`reported` calls ago): the
// begin and end of each edit and every automated change with its text.
void reportHostCalls(PluginInstance& plugin, size_t& reported) {
    for (; reported < plugin.calls.size(); ++reported) {
        const HostCall& c = plugin.calls[reported];
        const std::string name = plugin.text(effGetParamName, c.index);
        if (c.opcode == audioMasterBeginEdit) std::printf("begin edit   %s\n", name.c_str());
        if (c.opcode == audioMasterEndEdit) std::printf("end edit     %s\n", name.c_str());
        if (c.opcode == audioMasterAutomate)
            std::printf("automate     %-8s %.6f  (%s %s)\n", name.c_str(), static_cast<double>(c.opt),
                        plugin.text(effGetParamDisplay, c.index).c_str(),
                        plugin.text(effGetParamLabel, c.index).c_str());
    }
    if (plugin.calls.size() > 10000) {
        plugin.calls.clear();
        reported = 0;
    }
}

// The MIDI bindings file, watched through its modification time.
class BindingsWatch {
public:
    BindingsWatch() : path(TolvaneEngine::defaultAssignmentsFile()) { stat(path.c_str(), &seen); }

    // Prints the bindings when the file changed since the last look.
    void report(PluginInstance& plugin) {
        struct stat now {};
        if (stat(path.c_str(), &now) != 0 || now.st_mtim.tv_nsec + now.st_mtim.tv_sec * 1000000000L ==
                                                 seen.st_mtim.tv_nsec + seen.st_mtim.tv_sec * 1000000000L)
            return;
        seen = now;
        std::printf("learn        the MIDI bindings changed:\n");
        auto table = std::make_unique<qm_controllerAssignments::Table>();
        if (qm_controllerAssignments::readFile(path, *table))
            for (uint32_t k = 0; k < table->count; ++k)
                std::printf("             CC %d -> %s\n", static_cast<int>(table->entries[k].controller),
                            plugin.text(effGetParamName, table->entries[k].parameter).c_str());
    }

private:
    const std::string path;
    struct stat seen {};
};

// Idles the editor about 60 times a second as a host does, plays the loop as
// real time passes and prints what the host hears, until the window is closed
// or, when `seconds` is above 0, that time has passed.
void idleEditor(platform::TopLevelWindow& window, PluginInstance& plugin, LoopedAudio& audio, double seconds) {
    BindingsWatch bindings;
    const auto start = std::chrono::steady_clock::now();
    size_t reported = plugin.calls.size();
    for (bool running = true; running;) {
        if (window.closeRequested()) running = false;
        plugin.dispatch(effEditIdle);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds > 0 && elapsed >= seconds) running = false;
        audio.playUntil(plugin, elapsed);
        reportHostCalls(plugin, reported);
        bindings.report(plugin);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
}

// The editor in a top-level window of our own, idled about 60 times a second
// as a host does; with --play, the file runs through the effect in real time,
// in a loop, so the meter moves. Prints what the host hears.
int editCommand(PluginLibrary& library, const std::vector<std::string>& args) {
    EditOptions options;
    std::string error;
    if (!parseEditOptions(args, options, error)) return refuse(error);
    auto plugin = library.createInstance();
    if (!plugin) return fail(library.error());
    plugin->dispatch(effOpen);
    int32_t program;
    if (!options.program.empty()) {
        if (!cli::findProgram(options.program, programNames(*plugin), program, error)) return refuse(error);
        plugin->dispatch(effSetProgram, 0, program);
    }
    LoopedAudio audio;
    if (!options.playPath.empty()) {
        if (!audio.read(options.playPath, error)) return fail(error);
        plugin->dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(audio.rate));
    }
    plugin->dispatch(effMainsChanged, 0, 1);

    const std::unique_ptr<platform::TopLevelWindow> window = openEditorWindow(*plugin);
    if (!window) return fail("no X display to open the editor on (is DISPLAY set?)");
    std::printf("Editing; close the window (or Ctrl+C) to end.%s\n",
                options.playPath.empty() ? "" : " Playing in a loop.");
    idleEditor(*window, *plugin, audio, options.seconds);
    plugin->dispatch(effEditClose);
    plugin.reset();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    cli::Arguments parsed;
    std::string error, pluginPath = defaultPluginPath(argv[0]);
    if (!cli::parse({argv + 1, argv + argc}, kProgramOptions, parsed, error, "tolvane --help", true))
        return refuse(error);
    for (const cli::Given& given : parsed.options) {
        if (given.is("--plugin")) {
            pluginPath = given.value;
        } else if (given.is("--version")) {
            std::printf("tolvane (Tolvane) %s\n", TOLVANE_VERSION);
            return 0;
        } else {
            std::fputs(helpText().c_str(), stdout);
            return 0;
        }
    }
    if (parsed.operands.empty()) {
        std::fputs(usage, stderr);
        return 2;
    }
    const std::string command = parsed.operands[0];
    const std::vector<std::string> args(parsed.operands.begin() + 1, parsed.operands.end());
    if (command == "editor-shot") return editorShotCommand(args);
    if (command == "live") return liveCommand(args);
    if (command != "info" && command != "render" && command != "demo" && command != "edit")
        return refuse("unknown command '" + command + "' (see 'tolvane --help')");

    PluginLibrary library(pluginPath);
    if (!library.loaded()) return fail(library.error());
    if (command == "info") return args.empty() ? info(library) : refuse("info takes no arguments");
    if (command == "render") return renderCommand(library, pluginPath, args);
    if (command == "edit") return editCommand(library, args);
    if (!cli::parse(args, {}, parsed, error)) return refuse(error);
    if (parsed.operands.size() > 1) return refuse("demo takes at most one directory");
    return demo(library, parsed.operands.empty() ? "demo" : parsed.operands[0]);
}
