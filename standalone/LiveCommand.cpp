#include "LiveCommand.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "CommandLine.h"
#include "EngineEditorLink.h"
#include "LiveJackClient.h"
#include "LiveSettings.h"
#include "TerminalMeter.h"
#include "TolvaneEditor.h"
#include "TolvaneEngine.h"
#include "TopLevelWindow.h"
#include "qm_controllerAssignments.h"

namespace {

const char* const kUsage =
    "usage: tolvane live [--program N|NAME] [--set NAME=VALUE ...] [--connect [PORT,...]] [--no-editor]\n"
    "  --program    start with this program (a number from 0 or a name; `tolvane info` lists them)\n"
    "  --set        set a parameter by name to a value from 0 to 1, after the program\n"
    "  --connect    connect to the system's capture and playback ports (and MIDI sources), or to the\n"
    "               ports given: sources feed in_1 and in_2 (MIDI sources midi_in), destinations take\n"
    "               out_1 and out_2, in the order given; a source written key:PORT feeds the\n"
    "               side-chain key, key_1 then key_2 (the detector then follows the key)\n"
    "  --no-editor  no window: the gain reduction shows as a line in the terminal\n"
    "The last program and settings come back at the next start. Under PipeWire: pw-jack tolvane live\n";

using Clock = std::chrono::steady_clock;

struct LiveOptions {
    std::string program;
    std::vector<cli::ParameterValue> sets;
    bool connect = false;
    std::vector<std::string> ports;  // none: the system's
    bool editor = true;
};

std::atomic<int> stopSignal{0};

void requestStop(int signal) { stopSignal.store(signal); }

// The handler only notes the signal, on whichever thread takes it; the main
// loop sees it within a round. A second one ends the program at once, should
// ending (or a server that does not answer at the start) ever stall.
void takeSignals() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

std::vector<std::string> splitPorts(const std::string& list) {
    std::vector<std::string> ports;
    for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(',', start), list.size());
        if (comma > start) ports.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return ports;
}

const cli::Option kOptions[] = {
    {"--program", cli::Takes::kValue, "a number or a name"},
    {"--set", cli::Takes::kValue, "NAME=VALUE"},
    {"--connect", cli::Takes::kOptionalValue, "a list of ports"},
    {"--no-editor", cli::Takes::kNothing, ""},
    {"--help", cli::Takes::kNothing, ""},
    {"-h", cli::Takes::kNothing, ""},
};

// 0 when the options are sound, -1 for the usage given, else the exit status
// (with the message given).
int parseOptions(const std::vector<std::string>& args, LiveOptions& options, std::string& error) {
    cli::Arguments parsed;
    if (!cli::parse(args, kOptions, parsed, error, "tolvane live --help")) return 2;
    if (!parsed.operands.empty()) {
        error = "live takes no argument '" + parsed.operands[0] + "' (see 'tolvane live --help')";
        return 2;
    }
    for (const cli::Given& given : parsed.options) {
        if (given.is("--help") || given.is("-h")) {
            std::fputs(kUsage, stdout);
            return -1;
        } else if (given.is("--program")) {
            options.program = given.value;
        } else if (given.is("--set")) {
            if (!cli::parseParameterValue(given.value, options.sets.emplace_back(), error)) return 2;
        } else if (given.is("--connect")) {
            // No list: the system's ports.
            options.connect = true;
            for (const std::string& port : splitPorts(given.value)) options.ports.push_back(port);
        } else {
            options.editor = false;
        }
    }
    return 0;
}

bool applyOptions(TolvaneEngine& engine, const LiveOptions& options, std::string& error) {
    if (!options.program.empty()) {
        int32_t program;
        if (!cli::findProgram(options.program, engine, program, error)) return false;
        engine.setProgram(program);
    }
    for (const cli::ParameterValue& set : options.sets) engine.setParameter(set.index, set.value);
    return true;
}

// The engine's observer: the editor's link, and a note for the main loop that
// something worth saving changed. Called on the audio thread too: atomics only.
class LiveLink : public EngineEditorLink {
public:
    using EngineEditorLink::EngineEditorLink;
    void parameterChanged(int32_t index, float value) override {
        EngineEditorLink::parameterChanged(index, value);
        changed.store(true, std::memory_order_relaxed);
    }
    // The window is the editor's own: it takes whatever size the editor chooses.
    bool resizeEditor(int32_t width, int32_t height) override {
        if (window) window->resize(width, height);
        return true;
    }
    // The key follows what feeds key_1 and key_2: no switch for it.
    bool hasKey() override { return false; }
    std::atomic<bool> changed{false};
    platform::TopLevelWindow* window = nullptr;
};

class LiveSession {
public:
    LiveSession() { link.setEditor(&panel); }
    ~LiveSession() {
        closeJack();  // no process call may outlive the engine
        link.setEditor(nullptr);
        panel.close();
    }
    int run(const LiveOptions& options);

private:
    bool start(const LiveOptions& options, std::string& error);
    bool startJack(const LiveOptions& options, std::string& error);
    void tick();
    void showChanges();
    void showMeter();
    void save(bool force);
    bool saveBindings(bool last);
    void closeJack();
    void tell(const std::string& message);
    std::string title();

    TolvaneEngine engine{TolvaneEngine::defaultAssignmentsFile(), TolvaneEngine::Form::kSideChain};
    LiveLink link{engine};
    TolvaneEditor panel{&link};
    std::unique_ptr<platform::TopLevelWindow> window;
    LiveJackClient jack{engine};
    std::string settingsPath = liveSettingsPath();

    bool closed = false;
    bool meterShown = false;
    // Whether the last write of each file succeeded, and whether the user has
    // been told that it cannot be saved (once a run is enough).
    bool settingsSaved = true, settingsTold = false;
    bool bindingsSaved = true, bindingsTold = false;
    Clock::time_point bindingsFailingSince{};
    int32_t shownProgram = -1;
    uint32_t shownRate = 0, shownFrames = 0;
    Clock::time_point lastSave = Clock::now(), lastMeter{};
};

std::string LiveSession::title() {
    char name[TolvaneProgram::kNameLength] = {};
    engine.getProgramName(name);
    return std::string("Tolvane \xE2\x80\x94 ") + name;
}

bool LiveSession::start(const LiveOptions& options, std::string& error) {
    shownProgram = engine.getProgram();
    if (options.editor) {
        window = platform::createTopLevelWindow(title(), panel.getWidth(), panel.getHeight());
        link.window = window.get();
        if (!window) {
            error = "no X display to open the editor on (is DISPLAY set? --no-editor runs without one)";
            return false;
        }
    }
    if (!startJack(options, error)) return false;
    if (window && !panel.open(window->handle())) {
        error = "cannot open the editor in its window";
        return false;
    }
    return true;
}

bool LiveSession::startJack(const LiveOptions& options, std::string& error) {
    if (!jack.open("Tolvane", error)) return false;
    if (options.connect && !jack.planConnections(options.ports, error)) return false;
    if (!jack.activate(error)) return false;
    std::string made;
    if (options.connect && !jack.connect(made, error)) return false;
    char name[TolvaneProgram::kNameLength] = {};
    engine.getProgramName(name);
    shownRate = jack.sampleRate();
    shownFrames = jack.bufferSize();
    std::printf("Tolvane: JACK client '%s' at %u Hz, %u frames; program '%s'. Ctrl+C ends it.\n", jack.name().c_str(),
                shownRate, shownFrames, name);
    if (options.connect && made.empty()) std::printf("Tolvane: the system has no ports to connect to.\n");
    if (!made.empty()) std::printf("Tolvane: connected %s.\n", made.c_str());
    std::fflush(stdout);
    return true;
}

int LiveSession::run(const LiveOptions& options) {
    takeSignals();
    // What the last run left, then what the options ask for on top.
    LiveSettings remembered;
    if (!settingsPath.empty() && readLiveSettings(settingsPath, remembered)) restoreLiveSettings(engine, remembered);
    std::string error;
    if (!applyOptions(engine, options, error)) {
        std::fprintf(stderr, "tolvane: %s\n", error.c_str());
        return 2;
    }
    if (!start(options, error)) {
        std::fprintf(stderr, "tolvane: %s\n", error.c_str());
        return 1;
    }
    if (settingsPath.empty())
        tell(
            "no settings folder ($XDG_CONFIG_HOME/Quenmark or $HOME/.config/Quenmark): settings and MIDI "
            "bindings will not be saved");
    while (!closed && stopSignal.load() == 0 && !jack.serverGone()) {
        tick();
        poll(nullptr, 0, 15);  // returns early for a signal
    }
    if (meterShown) std::fputc('\n', stdout);
    meterShown = false;
    std::fflush(stdout);
    const bool serverGone = jack.serverGone();
    // Saved before the client closes: a server that does not answer ends the
    // program there.
    save(true);
    saveBindings(true);
    closeJack();
    panel.close();
    // What MIDI changed in the client's last moments.
    if (link.changed.load()) save(true);
    saveBindings(true);
    if (!serverGone) return 0;
    const std::string why = jack.shutdownReason();
    tell("the JACK server went away" + (why.empty() ? "" : " (" + why + ")") +
         (settingsSaved && bindingsSaved ? "; settings saved" : ""));
    return 1;
}

void LiveSession::tick() {
    if (window) {
        closed = window->closeRequested();
        panel.idle();
    }
    // Learns completed on the audio thread go to the bindings file here.
    saveBindings(false);
    showChanges();
    if (!window) showMeter();
    save(false);
}

void LiveSession::showChanges() {
    const int32_t program = engine.getProgram();
    if (program != shownProgram) {
        shownProgram = program;
        if (window) window->setTitle(title());
    }
    const uint32_t rate = jack.sampleRate(), frames = jack.bufferSize();
    if (rate == shownRate && frames == shownFrames) return;
    shownRate = rate;
    shownFrames = frames;
    std::printf("%sTolvane: the server now runs at %u Hz, %u frames.\n", meterShown ? "\r\x1b[K" : "", rate, frames);
    std::fflush(stdout);
}

void LiveSession::showMeter() {
    if (!isatty(STDOUT_FILENO) || Clock::now() - lastMeter < std::chrono::milliseconds(100)) return;
    lastMeter = Clock::now();
    char name[TolvaneProgram::kNameLength] = {};
    engine.getProgramName(name);
    const std::string line = meterLine(name, engine.getMeterValue(), shownRate, shownFrames);
    std::printf("\r%s\x1b[K", line.c_str());
    std::fflush(stdout);
    meterShown = true;
}

// At most once a second while things change, and once more at the end.
void LiveSession::save(bool force) {
    if (!force && (!link.changed.load() || Clock::now() - lastSave < std::chrono::seconds(1))) return;
    link.changed.store(false);
    lastSave = Clock::now();
    settingsSaved = writeLiveSettings(settingsPath, engine);  // false without a folder, told at the start
    if (settingsSaved || settingsTold || settingsPath.empty()) return;
    settingsTold = true;
    tell("cannot save the settings in " + settingsPath);
}

// True when no binding waits for the file. Another program holds the file's
// lock for moments only: a write that fails is told once it has kept failing
// for a second, or at the end.
bool LiveSession::saveBindings(bool last) {
    qm_controllerAssignments& bindings = engine.getControllerAssignments();
    bindingsSaved = bindings.writePending();
    if (bindingsSaved) {
        bindingsFailingSince = {};
        return true;
    }
    const Clock::time_point now = Clock::now();
    if (bindingsFailingSince == Clock::time_point{}) bindingsFailingSince = now;
    if (bindingsTold || (!last && now - bindingsFailingSince < std::chrono::seconds(1))) return false;
    bindingsTold = true;
    tell("cannot save the MIDI bindings in " + bindings.filePath() + ": what was learned is lost at exit");
    return false;
}

// jack_client_close waits for the server's answer, which a stopped server
// (SIGSTOP, a debugger) never gives. Everything is saved by then, so after a
// few seconds the program ends without it.
void LiveSession::closeJack() {
    struct sigaction action {};
    action.sa_handler = [](int) {
        static const char message[] = "tolvane: the JACK server does not answer; ending without it\n";
        if (write(STDERR_FILENO, message, sizeof message - 1) < 0) {
        }
        _exit(1);
    };
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
    alarm(3);
    jack.close();
    alarm(0);
}

// A line of its own on stderr, also while the meter line shows.
void LiveSession::tell(const std::string& message) {
    std::fprintf(stderr, "%stolvane: %s\n", meterShown ? "\r\x1b[K" : "", message.c_str());
}

}  // namespace

int liveCommand(const std::vector<std::string>& args) {
    LiveOptions options;
    std::string error;
    const int status = parseOptions(args, options, error);
    if (status != 0) {
        if (status > 0) std::fprintf(stderr, "tolvane: %s\n", error.c_str());
        return status > 0 ? status : 0;
    }
    LiveSession session;
    return session.run(options);
}
