// The tolvane command-line host end to end: what it prints, what it renders,
// and how it refuses bad requests.
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "MidiFile.h"
#include "support/midi_writer.h"
#include "support/plugin_fixture.h"
#include "support/temp_folder.h"

namespace {

struct CliResult {
    int status;
    std::string out, err;
};

class TolvaneCli : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tolvane-cli-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    // `feed`, when given, is a pipeline that ends in "|" and feeds the command's input.
    CliResult run(const std::string& arguments, const std::string& feed = "") {
        const std::string out = dir + "/stdout.txt", err = dir + "/stderr.txt";
        // Each test keeps its own settings folder (and so its own MIDI bindings).
        const std::string command = feed + "XDG_CONFIG_HOME='" + dir + "/config' " + TOLVANE_CLI_PATH + " " +
                                    arguments + " >'" + out + "' 2>'" + err + "'";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
    }
    static std::string slurp(const std::string& path) {
        std::ifstream f(path);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }

    // Writes `frames` frames of a burst signal in the given format.
    void writeSignal(const std::string& file, int channels, int format, size_t frames = 9000) {
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = channels;
        info.format = format;
        SNDFILE* f = sf_open(file.c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
        const StereoBuffer s = burstSignal(frames, 5);
        std::vector<float> interleaved;
        for (size_t n = 0; n < frames; ++n)
            for (int c = 0; c < channels; ++c) interleaved.push_back(c == 1 ? s.right[n] : s.left[n]);
        sf_writef_float(f, interleaved.data(), static_cast<sf_count_t>(frames));
        sf_close(f);
    }
    static std::vector<float> readAll(const std::string& file, SF_INFO& info) {
        info = SF_INFO{};
        SNDFILE* f = sf_open(file.c_str(), SFM_READ, &info);
        if (!f) return {};
        std::vector<float> data(static_cast<size_t>(info.frames * info.channels));
        sf_readf_float(f, data.data(), info.frames);
        sf_close(f);
        return data;
    }
    bool exists(const std::string& file) const {
        struct stat s;
        return stat(file.c_str(), &s) == 0;
    }
    // A refusal: exit code, one line on stderr, and no output file left behind.
    void expectRefused(const CliResult& r, const std::string& fragment, const std::string& output = "") {
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(fragment), std::string::npos) << r.err;
        EXPECT_EQ(r.err.rfind("tolvane: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        if (!output.empty()) {
            EXPECT_FALSE(exists(output)) << output;
            EXPECT_FALSE(exists(output + ".part")) << output;
        }
    }

    std::string dir;
};

TEST_F(TolvaneCli, InfoShowsWhatAHostSees) {
    const CliResult r = run("info");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* expected : {"Tolvane by Quenmark, Inc.", "'QMtv' (0x514D7476)", "vendor version 1000",
                                 "2 in, 2 out", "0  Drum Buss Squisher", "4  NY Compression", "Ratio", "12:1",
                                 "Sense    Sensitivity", " -35 dB", "Makeup   Make-Up Gain", "100%"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << " in\n" << r.out;
}

TEST_F(TolvaneCli, RendersStereoFloatExactlyAsTheHostInterfaceDoes) {
    writeSignal(path("in.wav"), 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const CliResult r = run("render " + path("in.wav") + " " + path("out.wav") +
                            " --program 'ny compression' --set RATIO=0.6 --block 100");
    ASSERT_EQ(r.status, 0) << r.err;
    SF_INFO info;
    const std::vector<float> out = readAll(path("out.wav"), info);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT) << "float in, float out";
    EXPECT_EQ(info.samplerate, 48000);
    ASSERT_EQ(info.frames, 9000);

    auto plugin = newTolvane();
    plugin->dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    plugin->dispatch(effSetProgram, 0, 4);
    plugin->setParameter(0, 0.6f);
    plugin->dispatch(effMainsChanged, 0, 1);
    const StereoBuffer expected = processInBlocks(*plugin, burstSignal(9000, 5));
    for (size_t n = 0; n < 9000; ++n) {
        ASSERT_EQ(out[2 * n], expected.left[n]) << "frame " << n;
        ASSERT_EQ(out[2 * n + 1], expected.right[n]) << "frame " << n;
    }
    EXPECT_FALSE(exists(path("out.wav.part")));
}

TEST_F(TolvaneCli, MonoFilesRunInTheMonoConfiguration) {
    writeSignal(path("in.aiff"), 1, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    const CliResult r = run("render " + path("in.aiff") + " " + path("out.aiff") + " --program 2");
    ASSERT_EQ(r.status, 0) << r.err;
    SF_INFO in, out;
    const std::vector<float> source = readAll(path("in.aiff"), in);
    const std::vector<float> rendered = readAll(path("out.aiff"), out);
    EXPECT_EQ(out.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    EXPECT_EQ(out.channels, 1);
    ASSERT_EQ(rendered.size(), source.size());
    EXPECT_NE(rendered, source);
}

// --key runs Tolvane SC with Key External: a key equal to the input gives the
// plain render's file, another key (a silent one) changes it, and a key that
// does not fit the input is refused as a usage error.
TEST_F(TolvaneCli, RenderWithAKey) {
    writeSignal(path("in.wav"), 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    writeSignal(path("short.wav"), 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8999);
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    std::vector<float> zeros(9000, 0.0f);
    SNDFILE* f = sf_open(path("silent.wav").c_str(), SFM_WRITE, &info);
    sf_writef_float(f, zeros.data(), 9000);
    sf_close(f);
    const std::string in = path("in.wav");
    ASSERT_EQ(run("render " + in + " " + path("plain.wav")).status, 0);
    const CliResult r = run("render " + in + " " + path("self.wav") + " --key " + in);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(run("render " + in + " " + path("silent-key.wav") + " --key " + path("silent.wav")).status, 0);
    SF_INFO a, b, c;
    const std::vector<float> plain = readAll(path("plain.wav"), a);
    EXPECT_EQ(readAll(path("self.wav"), b), plain);
    EXPECT_NE(readAll(path("silent-key.wav"), c), plain);
    const CliResult unfit = run("render " + in + " " + path("x.wav") + " --key " + path("short.wav"));
    expectRefused(unfit, "must be as long", path("x.wav"));
    EXPECT_EQ(unfit.status, 2);
}

// Installed, the program sits in bin/ and the plug-in in lib/vst/ of the same tree.
TEST_F(TolvaneCli, FindsThePluginOfTheTreeItIsInstalledIn) {
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "/usr/bin' '" + dir + "/usr/lib/vst' && cp " + TOLVANE_CLI_PATH + " '" +
                           dir + "/usr/bin/' && cp " + TOLVANE_PLUGIN_PATH + " '" + dir + "/usr/lib/vst/'")
                              .c_str()),
              0);
    const std::string command = "'" + dir + "/usr/bin/tolvane' ";
    std::string out;
    for (const char* arguments : {"info", "--version"}) {
        FILE* p = popen((command + arguments).c_str(), "r");
        ASSERT_NE(p, nullptr);
        for (char buffer[256]; std::fgets(buffer, sizeof buffer, p);) out += buffer;
        EXPECT_EQ(pclose(p), 0) << arguments;
    }
    EXPECT_NE(out.find("Tolvane by Quenmark, Inc."), std::string::npos) << out;
    EXPECT_NE(out.find(std::string("tolvane (Tolvane) ") + TOLVANE_VERSION + "\n"), std::string::npos) << out;
}

// Without /proc (a fresh chroot) the program finds itself from how it was
// started: a path, a name on PATH, a link to it. Run in a namespace of its own
// with an empty /proc.
TEST_F(TolvaneCli, FindsItsPluginWithoutProc) {
#ifdef TOLVANE_SANITIZED
    GTEST_SKIP() << "a sanitizer's runtime reads its options from /proc";
#endif
    if (std::system("unshare -rm true 2>/dev/null") != 0) GTEST_SKIP() << "no unshare for a namespace of our own";
    const std::string archive = dir + "/Tolvane", tree = dir + "/usr";
    ASSERT_EQ(std::system(("mkdir -p '" + archive + "' '" + tree + "/bin' '" + tree + "/lib/vst' '" + dir +
                           "/links' && cp " + TOLVANE_CLI_PATH + " " + TOLVANE_PLUGIN_PATH + " '" + archive +
                           "/' && cp " + TOLVANE_CLI_PATH + " '" + tree + "/bin/' && cp " + TOLVANE_PLUGIN_PATH + " '" +
                           tree + "/lib/vst/' && ln -s '" + tree + "/bin/tolvane' '" + dir + "/links/'")
                              .c_str()),
              0);
    struct Case {
        const char *what, *cd, *path, *start;
    };
    const Case cases[] = {
        {"a path from the current folder", "/Tolvane", "/nowhere", "./tolvane"},
        {"a name on PATH", "", "/Tolvane", "tolvane"},
        {"a link on PATH to an installed tree", "", "/links", "tolvane"},
    };
    for (const Case& c : cases) {
        const std::string command = "cd '" + dir + c.cd +
                                    "' && unshare -rm sh -c \"mount -t tmpfs none /proc && PATH='" + dir + c.path +
                                    "' exec " + c.start + " info\" >'" + dir + "/out.txt' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << c.what << ": " << slurp(dir + "/out.txt");
        EXPECT_NE(slurp(dir + "/out.txt").find("Tolvane by Quenmark, Inc."), std::string::npos) << c.what;
    }
}

TEST_F(TolvaneCli, RefusesBadRequestsWithOneClearLine) {
    writeSignal(path("in.wav"), 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    writeSignal(path("quad.wav"), 4, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 100);
    const std::string in = path("in.wav"), out = path("out.wav");
    expectRefused(run("render " + path("missing.wav") + " " + out), "cannot read", out);
    expectRefused(run("render " + path("quad.wav") + " " + out), "has 4 channels", out);
    expectRefused(run("render " + in + " " + out + " --midi /dev/null"), "not a regular file", out);
    // A valid file with more than any real one behind it.
    std::vector<uint8_t> huge = midiFile(0, 480, {MidiTrackBuilder().end()});
    huge.resize(kMaxMidiFileBytes + 1);
    writeText(path("huge.mid"), std::string(huge.begin(), huge.end()));
    expectRefused(run("render " + in + " " + out + " --midi " + path("huge.mid")), "larger than any", out);
    std::string noRate = slurp(in);
    noRate.replace(noRate.find("fmt ") + 12, 4, std::string(4, '\0'));
    writeText(path("no-rate.wav"), noRate);
    expectRefused(run("render " + path("no-rate.wav") + " " + out), "sample rate of 0 Hz", out);
    expectRefused(run("render " + in + " " + path("no/such/dir/out.wav")), "cannot write");
    expectRefused(run("--plugin " + path("nothing.so") + " info"), "nothing.so");

    SF_INFO before;
    const std::vector<float> original = readAll(in, before);
    expectRefused(run("render " + in + " " + in), "is the input file");
    SF_INFO after;
    EXPECT_EQ(readAll(in, after), original) << "the input is never overwritten";
}

// Every command refuses a command line it cannot take in one line, "tolvane: ...",
// with status 2, before it touches a file.
TEST_F(TolvaneCli, EveryCommandRefusesAWrongCommandLineAlike) {
    writeSignal(path("in.wav"), 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 100);
    const std::string render = "render " + path("in.wav") + " " + path("out.wav") + " ";
    const std::string shot = "editor-shot " + path("out.png") + " ";
    const std::string cases[][2] = {
        {"frobnicate", "unknown command 'frobnicate'"},
        {"--frob info", "unknown option --frob (see 'tolvane --help')"},
        {"info extra", "info takes no arguments"},
        {"demo a b", "demo takes at most one directory"},
        {render + "--program 9", "no program 9 (programs are 0 to 4)"},
        {render + "--program Loud", "no program named 'Loud' (see 'tolvane info')"},
        {render + "--set Volume=0.5", "no parameter named 'Volume' (see 'tolvane info')"},
        {render + "--set Ratio=2", "the value of Ratio must be a number from 0 to 1, not '2'"},
        {render + "--set Ratio", "--set needs NAME=VALUE, not 'Ratio'"},
        {render + "--block 0", "--block needs a number of frames from 1 to 65536, not '0'"},
        {render + "--block", "--block needs a number of frames from 1 to 65536"},
        {render + "--pre-roll -1", "--pre-roll needs a number of seconds from 0 to 60"},
        {render + "--pre-roll 61", "--pre-roll needs a number of seconds from 0 to 60"},
        {render + "--pre-roll nan", "--pre-roll needs a number of seconds from 0 to 60"},
        {render + "--fast", "unknown option --fast"},
        {"render " + path("in.wav"), "render needs an input and an output file"},
        {"edit --program Loud", "no program named 'Loud'"},
        {"edit --seconds 0", "--seconds needs a number of seconds above 0"},
        {"edit stray", "edit takes no argument 'stray'"},
        {"editor-shot", "editor-shot needs the PNG file to write"},
        {shot + "--program 9", "no program 9"},
        {shot + "--set Volume=0.5", "no parameter named 'Volume'"},
        {shot + "--meter nan", "--meter needs a value from 0 to 1"},
        {shot + "--about=yes", "--about takes no value"},
        {"live --program Loud", "no program named 'Loud'"},
        {"live --set Makeup=2", "the value of Makeup must be a number from 0 to 1"},
        {"live --program", "--program needs a number or a name"},
        {"live --bogus", "unknown option --bogus (see 'tolvane live --help')"},
        {"live stray", "live takes no argument 'stray'"},
    };
    for (const auto& [arguments, message] : cases) {
        const CliResult r = run(arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.err.rfind("tolvane: " + message, 0), 0u) << arguments << ": " << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    }
    EXPECT_FALSE(exists(path("out.wav")) || exists(path("out.png")));
}

// Whatever the output path names, and whatever lies beside it, no file that
// was there before the render is lost.
TEST_F(TolvaneCli, NoOutputPathCostsAFileThatWasThere) {
    // 4 kB, within a pipe's buffer; 16-bit, so no time stamp (float files' PEAK chunk) tells renders apart.
    writeSignal(path("in.wav"), 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1000);
    const std::string in = slurp(path("in.wav"));
    ASSERT_EQ(run("render " + path("in.wav") + " " + path("plain.wav")).status, 0);
    const std::string rendered = slurp(path("plain.wav"));
    auto render = [&](const std::string& from, const std::string& to) {
        const CliResult r = run("render " + path(from) + " " + path(to));
        EXPECT_EQ(r.status, 0) << to << ": " << r.err;
    };
    auto mode = [&](const std::string& name) {
        struct stat s {};
        lstat(path(name).c_str(), &s);
        return s.st_mode;
    };

    // An input named as a temporary output once was, and such a name beside the output.
    writeText(path("take.wav.part"), in);
    writeText(path("mix.wav.part"), "keep");
    render("take.wav.part", "take.wav");
    render("in.wav", "mix.wav");
    EXPECT_TRUE(slurp(path("take.wav.part")) == in) << "the input, untouched";
    EXPECT_TRUE(slurp(path("take.wav")) == rendered);
    EXPECT_EQ(slurp(path("mix.wav.part")), "keep");

    // A symbolic link is written through; a file keeps its mode, a new one gets the usual one.
    ASSERT_EQ(symlink("real.wav", path("link.wav").c_str()), 0);
    writeText(path("private.wav"), "old");
    chmod(path("private.wav").c_str(), 0600);
    render("in.wav", "link.wav");
    render("in.wav", "private.wav");
    EXPECT_TRUE(S_ISLNK(mode("link.wav")));
    EXPECT_TRUE(slurp(path("real.wav")) == rendered) << "written through the link";
    EXPECT_TRUE(slurp(path("private.wav")) == rendered);
    EXPECT_EQ(mode("private.wav") & 07777, 0600u);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(mode("plain.wav") & 07777, 0666u & ~mask);

    // A FIFO (as /dev/stdout often is) gets the file and stays; so does a device.
    ASSERT_EQ(mkfifo(path("pipe.wav").c_str(), 0644), 0);
    const int reader = open(path("pipe.wav").c_str(), O_RDONLY | O_NONBLOCK);
    render("in.wav", "pipe.wav");
    std::string piped;
    char buffer[4096];
    for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;) piped.append(buffer, static_cast<size_t>(n));
    close(reader);
    EXPECT_TRUE(piped == rendered) << piped.size() << " bytes through the FIFO";
    EXPECT_TRUE(S_ISFIFO(mode("pipe.wav")));
    if (mknod(path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {  // a copy of /dev/null, as root
        render("in.wav", "null");
        EXPECT_TRUE(S_ISCHR(mode("null")));
    }
}

// Ctrl+C or SIGTERM mid-render ends the program as the signal says, and its
// temporary file goes with it.
TEST_F(TolvaneCli, AnInterruptedRenderLeavesNothingBehind) {
    writeSignal(path("in.wav"), 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000);
    const std::string in = slurp(path("in.wav")), out = path("out.wav");
    auto leftBehind = [&] {
        std::string names;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.path().filename() != "in.wav") names += entry.path().filename().string() + " ";
        return names;
    };
    for (int signal : {SIGINT, SIGTERM}) {
        // A part of the file through a pipe that stays open: the render waits mid-file.
        int feed[2];
        ASSERT_EQ(pipe(feed), 0);
        const pid_t child = fork();
        if (child == 0) {
            dup2(feed[0], 0);
            close(feed[1]);
            std::signal(SIGINT, SIG_DFL);  // as a terminal's foreground job has it
            execl(TOLVANE_CLI_PATH, "tolvane", "render", "/dev/stdin", out.c_str(), nullptr);
            _exit(127);
        }
        close(feed[0]);
        EXPECT_EQ(write(feed[1], in.data(), 32768), 32768);
        for (int wait = 0; wait < 1000 && leftBehind().empty(); ++wait) usleep(10000);
        EXPECT_NE(leftBehind(), "") << "the render under way";
        kill(child, signal);
        int status = 0;
        waitpid(child, &status, 0);
        close(feed[1]);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(leftBehind(), "");
    }
}

// A pipe, a file cut short and a recording whose header is not yet written
// render what they hold; the last two say so.
TEST_F(TolvaneCli, RendersWhatAnInputHolds) {
    writeSignal(path("in.wav"), 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    writeSignal(path("in.flac"), 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    const std::string whole = slurp(path("in.wav")), flac = slurp(path("in.flac"));
    const size_t audio = whole.find("data") + 8;
    std::string unfinished = whole;
    unfinished.replace(audio - 4, 4, std::string(4, '\0'));
    writeText(path("unfinished.wav"), unfinished);
    writeText(path("cut.wav"), whole.substr(0, 1000));
    writeText(path("cut.flac"), flac.substr(0, flac.size() / 2));
    const sf_count_t cutFrames = static_cast<sf_count_t>(1000 - audio) / 4;
    struct Case {
        std::string feed, in, out;
        sf_count_t leastFrames, mostFrames;
        const char* warning;
    } cases[] = {
        {"cat '" + path("in.wav") + "' | ", "/dev/stdin", path("piped.wav"), 9000, 9000, nullptr},
        {"", path("unfinished.wav"), path("out.wav"), 9000, 9000, "header gives no audio"},
        {"", path("cut.wav"), path("out.wav"), cutFrames, cutFrames, "shorter than its header says"},
        {"", path("cut.flac"), path("out.flac"), 1, 8999, "ended after"},
    };
    for (const Case& c : cases) {
        const std::string& out = c.out;
        const CliResult r = run("render " + c.in + " " + out, c.feed);
        EXPECT_EQ(r.status, 0) << c.in << ": " << r.err;
        if (c.warning) EXPECT_NE(r.err.find(c.warning), std::string::npos) << c.in << ": " << r.err;
        else EXPECT_EQ(r.err, "") << c.in;
        SF_INFO info;
        readAll(out, info);
        EXPECT_GE(info.frames, c.leastFrames) << c.in;
        EXPECT_LE(info.frames, c.mostFrames) << c.in;
    }
}

// --pre-roll 2 gives exactly the end of a render of two seconds of silence followed by the file.
TEST_F(TolvaneCli, PreRollIsSilenceRunThroughFirst) {
    writeSignal(path("in.wav"), 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    SF_INFO info;
    std::vector<float> longer(2 * 48000 * 2, 0.0f);
    const std::vector<float> in = readAll(path("in.wav"), info);
    longer.insert(longer.end(), in.begin(), in.end());
    SNDFILE* f = sf_open(path("longer.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_writef_float(f, longer.data(), static_cast<sf_count_t>(longer.size() / 2));
    sf_close(f);

    ASSERT_EQ(run("render " + path("in.wav") + " " + path("out.wav") + " --pre-roll 2").status, 0);
    ASSERT_EQ(run("render " + path("longer.wav") + " " + path("longer-out.wav")).status, 0);
    const std::vector<float> out = readAll(path("out.wav"), info), whole = readAll(path("longer-out.wav"), info);
    ASSERT_EQ(out.size(), in.size());
    ASSERT_EQ(whole.size(), longer.size());
    EXPECT_EQ(std::memcmp(out.data(), whole.data() + (whole.size() - out.size()), out.size() * sizeof(float)), 0);
}

TEST_F(TolvaneCli, MidiControllersDriveTheirBoundParameters) {
    std::system(("mkdir -p '" + dir + "/config/Quenmark' && printf '5 7\\n' > '" + dir +
                 "/config/Quenmark/Tolvane MIDI Assignments.txt'")
                    .c_str());
    const CliResult info = run("info");
    EXPECT_NE(info.out.find("CC   7 -> Active"), std::string::npos) << info.out;

    // Controller 7 to 0 at 0.1 s (96 ticks at 480 per quarter and 120 bpm): Active off.
    MidiTrackBuilder track;
    track.at(96, {0xB3, 7, 0}).end();
    const std::vector<uint8_t> bytes = midiFile(0, 480, {track});
    std::FILE* f = std::fopen(path("moves.mid").c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    writeSignal(path("in.wav"), 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 24000);
    const CliResult r = run("render " + path("in.wav") + " " + path("out.wav") + " --midi " + path("moves.mid"));
    ASSERT_EQ(r.status, 0) << r.err;
    SF_INFO info1, info2;
    const std::vector<float> in = readAll(path("in.wav"), info1), out = readAll(path("out.wav"), info2);
    ASSERT_EQ(in.size(), out.size());
    size_t differentBefore = 0;
    for (size_t n = 0; n < 4800; ++n) differentBefore += out[2 * n] != in[2 * n];
    EXPECT_GT(differentBefore, 4000u) << "compressed before the message";
    for (size_t n = 4800 + 240 * 20; n < 24000; ++n)
        ASSERT_NEAR(out[2 * n], in[2 * n], 1e-6f) << "dry after it, frame " << n;

    expectRefused(run("render " + path("in.wav") + " " + path("x.wav") + " --midi " + path("in.wav")),
                  "not a standard MIDI file", path("x.wav"));
}

TEST_F(TolvaneCli, DemoRendersEveryProgram) {
    const CliResult r = run("demo " + path("demo"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(path("demo/drum-loop.wav")));
    for (const char* file : {"0-drum-buss-squisher.wav", "1-gone-nuclear.wav", "2-full-monty.wav", "3-just-a-touch.wav",
                             "4-ny-compression.wav"})
        EXPECT_TRUE(exists(path("demo/") + file)) << file;
    EXPECT_NE(r.out.find("NY Compression"), std::string::npos) << r.out;
}

}  // namespace
