// tolvane: a command-line host for the Tolvane plug-in. It loads the plug-in
// library exactly as a workstation does and uses only the VST 2.4 interface.
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
#include <chrono>
#include <thread>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DrumLoop.h"
#include "EditorShot.h"
#include "LiveCommand.h"
#include "MidiFile.h"
#include "PluginHost.h"
#include "SettingsFolder.h"
#include "qm_controllerAssignments.h"

// Last: Xlib's macros would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

const char* const usage =
    "usage: tolvane [--plugin PATH] info\n"
    "       tolvane [--plugin PATH] render IN OUT [--program N|NAME] [--set NAME=VALUE ...] [--block N]\n"
    "                                     [--midi FILE]\n"
    "       tolvane [--plugin PATH] demo [DIR]\n"
    "       tolvane [--plugin PATH] edit [--program N|NAME] [--play IN] [--seconds S]\n"
    "       tolvane editor-shot OUT.png [--program N|NAME] [--set NAME=VALUE ...] [--meter V]\n"
    "                                   [--highlight TAG] [--about] [--size-menu] [--scale 1|1.5|2]\n"
    "       tolvane live [--program N|NAME] [--set NAME=VALUE ...] [--connect [PORT,...]] [--no-editor]\n"
    "       tolvane --help | --version\n"
    "Parameter values are host-normalised, 0 to 1, by parameter name (case-insensitive).\n";

// What --help adds to the usage; the manual page is made from both.
const char* const helpDetails =
    "Tolvane's command-line host: loads the Tolvane VST 2.4 plug-in as a workstation does.\n"
    "\n"
    "  info           the plug-in's identity, programs, parameters and MIDI bindings\n"
    "  render         process a WAV, AIFF or FLAC file (mono or stereo) into OUT, same format\n"
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

int fail(const std::string& message, int code = 1) {
    std::fprintf(stderr, "tolvane: %s\n", message.c_str());
    return code;
}

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

bool parseNumber(const std::string& text, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return errno == 0 && end && *end == '\0' && std::isfinite(out);
}

bool parseCount(const std::string& text, long& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0';
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
    std::string program;                                    // number or name; empty keeps program 0
    std::vector<std::pair<std::string, std::string>> sets;  // name, value
    long block = 512;
    bool progress = false;
    std::vector<MidiMessage> midi;  // played to the plug-in at their times
};

// A VstEvents list with room for a batch of MIDI messages.
struct MidiBatch {
    static constexpr int kSize = 64;
    VstInt32 numEvents = 0;
    VstIntPtr reserved = 0;
    VstEvent* events[kSize] = {};
    VstMidiEvent storage[kSize] = {};
};

// Finds a program by number or (case-insensitive) name.
bool selectProgram(PluginInstance& plugin, const std::string& wanted, std::string& error) {
    const VstInt32 count = plugin.effect()->numPrograms;
    long number;
    if (parseCount(wanted, number)) {
        if (number < 0 || number >= count) {
            error = "no program " + wanted + " (programs are 0 to " + std::to_string(count - 1) + ")";
            return false;
        }
        plugin.dispatch(effSetProgram, 0, number);
        return true;
    }
    for (VstInt32 p = 0; p < count; ++p) {
        char name[kVstMaxProgNameLen + 1] = {};
        plugin.dispatch(effGetProgramNameIndexed, p, 0, name);
        if (lower(name) == lower(wanted)) {
            plugin.dispatch(effSetProgram, 0, p);
            return true;
        }
    }
    error = "no program named '" + wanted + "' (see 'tolvane info')";
    return false;
}

bool applySettings(PluginInstance& plugin, const RenderSettings& settings, std::string& error) {
    if (!settings.program.empty() && !selectProgram(plugin, settings.program, error)) return false;
    for (const auto& [name, valueText] : settings.sets) {
        VstInt32 found = -1;
        for (VstInt32 i = 0; i < plugin.effect()->numParams && found < 0; ++i)
            if (lower(plugin.text(effGetParamName, i)) == lower(name)) found = i;
        if (found < 0) {
            error = "no parameter named '" + name + "' (see 'tolvane info')";
            return false;
        }
        double value;
        if (!parseNumber(valueText, value) || value < 0.0 || value > 1.0) {
            error = "the value of " + name + " must be a number from 0 to 1, not '" + valueText + "'";
            return false;
        }
        plugin.setParameter(found, static_cast<float>(value));
    }
    return true;
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

// The input of a render: one or two channels, and not the output file itself.
SNDFILE* openRenderInput(const std::string& inPath, const std::string& outPath, SF_INFO& info, std::string& error) {
    if (sameFile(inPath, outPath)) {
        error = "the output " + outPath + " is the input file; choose another name";
        return nullptr;
    }
    SNDFILE* in = sf_open(inPath.c_str(), SFM_READ, &info);
    if (!in) {
        error = "cannot read " + inPath + ": " + sf_strerror(nullptr);
        return nullptr;
    }
    if (info.channels != 1 && info.channels != 2) {
        sf_close(in);
        error = inPath + " has " + std::to_string(info.channels) + " channels; Tolvane takes mono or stereo files";
        return nullptr;
    }
    return in;
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
    plugin->dispatch(effOpen);
    plugin->dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(info.samplerate));
    plugin->dispatch(effSetBlockSize, 0, settings.block);
    if (!applySettings(*plugin, settings, error)) return nullptr;
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
void processSplitAtMidi(PluginInstance& plugin, MidiPlayer& midi, float* const inputs[2], float* const outputs[2],
                        sf_count_t done, sf_count_t frames) {
    for (sf_count_t start = 0; start < frames;) {
        midi.deliverDueBy(done + start);
        sf_count_t end = frames;
        if (midi.pending()) end = std::min(end, std::max(start + 1, midi.nextFrame() - done));
        float* ins[2] = {inputs[0] + start, inputs[1] + start};
        float* outs[2] = {outputs[0] + start, outputs[1] + start};
        plugin.process(ins, outs, static_cast<VstInt32>(end - start));
        start = end;
    }
}

// Runs the whole input through the instance into the output, block by block,
// measuring the levels asked for. False when the output refuses a block.
bool streamThrough(PluginInstance& plugin, SNDFILE* in, SNDFILE* out, const SF_INFO& info,
                   const RenderSettings& settings, Level* inLevel, Level* outLevel) {
    const size_t block = static_cast<size_t>(settings.block);
    const int channels = info.channels;
    std::vector<float> interleaved(block * channels), inputs(block * 2), outputs(block * 2);
    float* inputPointers[2] = {inputs.data(), inputs.data() + block};
    float* outputPointers[2] = {outputs.data(), outputs.data() + block};
    MidiPlayer midi(plugin, settings.midi, info.samplerate);
    sf_count_t done = 0;
    for (;;) {
        const sf_count_t got = sf_readf_float(in, interleaved.data(), static_cast<sf_count_t>(block));
        if (got <= 0) return true;
        for (sf_count_t t = 0; t < got; ++t)
            for (int c = 0; c < channels; ++c) {
                inputPointers[c][t] = interleaved[t * channels + c];
                if (inLevel) inLevel->add(inputPointers[c][t]);
            }
        processSplitAtMidi(plugin, midi, inputPointers, outputPointers, done, got);
        for (sf_count_t t = 0; t < got; ++t)
            for (int c = 0; c < channels; ++c) {
                interleaved[t * channels + c] = outputPointers[c][t];
                if (outLevel) outLevel->add(outputPointers[c][t]);
            }
        if (sf_writef_float(out, interleaved.data(), got) != got) return false;
        done += got;
        if (settings.progress) showProgress(done, info.frames);
    }
}

// Closes the output written under `tempPath` and, when all went well, gives it
// its name; otherwise removes it.
bool finishOutput(SNDFILE* out, const std::string& tempPath, const std::string& outPath, bool ok, std::string& error) {
    if (sf_close(out) != 0 && ok) {
        error = "cannot finish " + outPath;
        ok = false;
    }
    if (ok && std::rename(tempPath.c_str(), outPath.c_str()) != 0) {
        error = "cannot write " + outPath + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) std::remove(tempPath.c_str());
    return ok;
}

// Renders IN into OUT through a new instance. OUT is written under a temporary
// name and renamed only when everything succeeded.
bool render(PluginLibrary& library, const std::string& inPath, const std::string& outPath,
            const RenderSettings& settings, Level* inLevel, Level* outLevel, std::string& error) {
    SF_INFO info{};
    SNDFILE* in = openRenderInput(inPath, outPath, info, error);
    if (!in) return false;
    auto plugin = startRenderInstance(library, info, settings, error);
    if (!plugin) {
        sf_close(in);
        return false;
    }

    const std::string tempPath = outPath + ".part";
    SF_INFO outInfo = info;
    SNDFILE* out = sf_open(tempPath.c_str(), SFM_WRITE, &outInfo);
    if (!out) {
        sf_close(in);
        error = "cannot write " + outPath + ": " + sf_strerror(nullptr);
        return false;
    }
    sf_command(out, SFC_SET_CLIPPING, nullptr, SF_TRUE);

    bool ok = streamThrough(*plugin, in, out, info, settings, inLevel, outLevel);
    if (!ok) {
        error = "cannot write " + outPath + ": " + sf_strerror(out);
    } else if (sf_error(in) != SF_ERR_NO_ERROR) {
        error = "cannot read " + inPath + ": " + sf_strerror(in);
        ok = false;
    }
    plugin->dispatch(effMainsChanged, 0, 0);
    sf_close(in);
    return finishOutput(out, tempPath, outPath, ok, error);
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
    for (VstInt32 i = 0; i < e->numParams; ++i) {
        std::printf("  %d  %-8s %8s %-3s (%.6g)\n", i, plugin->text(effGetParamName, i).c_str(),
                    plugin->text(effGetParamDisplay, i).c_str(), plugin->text(effGetParamLabel, i).c_str(),
                    static_cast<double>(plugin->getParameter(i)));
    }

    // The bindings every new instance reads, from the plug-in's settings file.
    const std::string folder = platform::settingsFolder();
    const std::string file = folder + "Tolvane MIDI Assignments.txt";
    auto table = std::make_unique<qm_controllerAssignments::Table>();
    std::printf("\nMIDI controller bindings");
    if (folder.empty() || !qm_controllerAssignments::readFile(file, *table)) {
        std::printf(": none (no %s)\n", folder.empty() ? "settings folder" : file.c_str());
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

int renderCommand(PluginLibrary& library, const std::vector<std::string>& args) {
    std::vector<std::string> files;
    RenderSettings settings;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto hasValue = [&] { return i + 1 < args.size(); };
        if (a == "--program") {
            if (!hasValue()) return fail("--program needs a number or a name", 2);
            settings.program = args[++i];
        } else if (a == "--set") {
            if (!hasValue()) return fail("--set needs NAME=VALUE", 2);
            const std::string& s = args[++i];
            const size_t eq = s.find('=');
            if (eq == std::string::npos || eq == 0) return fail("--set needs NAME=VALUE, not '" + s + "'", 2);
            settings.sets.emplace_back(s.substr(0, eq), s.substr(eq + 1));
        } else if (a == "--midi") {
            if (!hasValue()) return fail("--midi needs a standard MIDI file", 2);
            std::string midiError;
            if (!readMidiFile(args[++i], settings.midi, midiError)) return fail(midiError);
        } else if (a == "--block") {
            long block;
            if (!hasValue() || !parseCount(args[++i], block) || block < 1 || block > 65536)
                return fail("--block needs a number of frames from 1 to 65536", 2);
            settings.block = block;
        } else if (a.size() > 1 && a[0] == '-') {
            return fail("unknown option " + a, 2);
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2) return fail("render needs an input and an output file (see 'tolvane --help')", 2);
    SF_INFO probe{};
    if (SNDFILE* f = sf_open(files[0].c_str(), SFM_READ, &probe)) {
        settings.progress = isatty(2) && probe.frames > 30 * static_cast<sf_count_t>(probe.samplerate);
        sf_close(f);
    }
    std::string error;
    if (!render(library, files[0], files[1], settings, nullptr, nullptr, error)) return fail(error);
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
        settings.program = std::to_string(p);
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

// False, with the message in `error`, on an argument edit does not take.
bool parseEditOptions(const std::vector<std::string>& args, EditOptions& options, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--program" && hasValue) options.program = args[++i];
        else if (args[i] == "--play" && hasValue) options.playPath = args[++i];
        else if (args[i] == "--seconds" && hasValue && parseNumber(args[i + 1], options.seconds) && options.seconds > 0)
            ++i;
        else {
            error = "edit takes --program N|NAME, --play FILE and --seconds S, not '" + args[i] + "'";
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
            float* inputs[2] = {left.data() + at, right.data() + at};
            float* outputs[2] = {outLeft.data(), outRight.data()};
            plugin.process(inputs, outputs, static_cast<VstInt32>(n));
            played += n;
        }
    }
};

// A top-level window of the editor's size, mapped, with the editor open in it;
// it takes the size the editor asks for (a new scale), as a host's does.
Window openEditorWindow(Display* display, PluginInstance& plugin, Atom& deleteWindow) {
    ERect* size = nullptr;
    plugin.dispatch(effEditGetRect, 0, 0, &size);
    const unsigned width = size ? static_cast<unsigned>(size->right - size->left) : 750;
    const unsigned height = size ? static_cast<unsigned>(size->bottom - size->top) : 200;
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, width, height, 0, 0, 0);
    XStoreName(display, window, "Tolvane");
    deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);
    XSelectInput(display, window, StructureNotifyMask);
    XMapWindow(display, window);
    for (XEvent e; XNextEvent(display, &e), e.type != MapNotify;) {
    }
    plugin.resizeEditorWindow = [display, window](int32_t w, int32_t h) {
        XResizeWindow(display, window, static_cast<unsigned>(w), static_cast<unsigned>(h));
        XSync(display, False);
        return true;
    };
    plugin.dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(window));
    return window;
}

// Reads the window's events; true when the window manager asked to close it.
bool closeRequested(Display* display, Atom deleteWindow) {
    bool close = false;
    while (XPending(display)) {
        XEvent e;
        XNextEvent(display, &e);
        if (e.type == ClientMessage && static_cast<Atom>(e.xclient.data.l[0]) == deleteWindow) close = true;
    }
    return close;
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
    BindingsWatch() : path(platform::settingsFolder() + "Tolvane MIDI Assignments.txt") { stat(path.c_str(), &seen); }

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
void idleEditor(Display* display, Atom deleteWindow, PluginInstance& plugin, LoopedAudio& audio, double seconds) {
    BindingsWatch bindings;
    const auto start = std::chrono::steady_clock::now();
    size_t reported = plugin.calls.size();
    for (bool running = true; running;) {
        if (closeRequested(display, deleteWindow)) running = false;
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
    if (!parseEditOptions(args, options, error)) return fail(error, 2);
    Display* display = XOpenDisplay(nullptr);
    if (!display) return fail("no X display to open the editor on (is DISPLAY set?)");
    auto plugin = library.createInstance();
    if (!plugin) return fail(library.error());
    plugin->dispatch(effOpen);
    if (!options.program.empty() && !selectProgram(*plugin, options.program, error)) return fail(error, 2);
    LoopedAudio audio;
    if (!options.playPath.empty()) {
        if (!audio.read(options.playPath, error)) return fail(error);
        plugin->dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(audio.rate));
    }
    plugin->dispatch(effMainsChanged, 0, 1);

    Atom deleteWindow;
    const Window window = openEditorWindow(display, *plugin, deleteWindow);
    std::printf("Editing; close the window (or Ctrl+C) to end.%s\n",
                options.playPath.empty() ? "" : " Playing in a loop.");
    idleEditor(display, deleteWindow, *plugin, audio, options.seconds);
    plugin->dispatch(effEditClose);
    plugin.reset();
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string pluginPath = defaultPluginPath(argv[0]);
    if (args.size() >= 2 && args[0] == "--plugin") {
        pluginPath = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("tolvane (Tolvane) %s\n", TOLVANE_VERSION);
        return 0;
    }
    if (args.empty()) {
        std::fputs(usage, stderr);
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        std::fputs(helpText().c_str(), stdout);
        return 0;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "editor-shot") return editorShotCommand(args);
    if (command == "live") return liveCommand(args);
    if (command != "info" && command != "render" && command != "demo" && command != "edit")
        return fail("unknown command '" + command + "' (see 'tolvane --help')", 2);

    PluginLibrary library(pluginPath);
    if (!library.loaded()) return fail(library.error());
    if (command == "info") {
        if (!args.empty()) return fail("info takes no arguments", 2);
        return info(library);
    }
    if (command == "render") return renderCommand(library, args);
    if (command == "edit") return editCommand(library, args);
    if (args.size() > 1) return fail("demo takes at most one directory", 2);
    return demo(library, args.empty() ? "demo" : args[0]);
}
