// The tolvane command-line host end to end: what it prints, what it renders,
// and how it refuses bad requests.
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/midi_writer.h"
#include "support/plugin_fixture.h"

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

    CliResult run(const std::string& arguments) {
        const std::string out = dir + "/stdout.txt", err = dir + "/stderr.txt";
        // Each test keeps its own settings folder (and so its own MIDI bindings).
        const std::string command = "XDG_CONFIG_HOME='" + dir + "/config' " + TOLVANE_CLI_PATH + " " + arguments +
                                    " >'" + out + "' 2>'" + err + "'";
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
    for (const char* expected :
         {"Tolvane by Quenmark, Inc.", "'QMtv' (0x514D7476)", "vendor version 1000", "2 in, 2 out",
          "0  Drum Buss Squisher", "4  NY Compression", "Ratio", "12:1", "Sense", " -35 dB", "Makeup", "100%"})
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
    expectRefused(run("render " + in + " " + out + " --program 9"), "no program 9", out);
    expectRefused(run("render " + in + " " + out + " --program Loud"), "no program named 'Loud'", out);
    expectRefused(run("render " + in + " " + out + " --set Volume=0.5"), "no parameter named 'Volume'", out);
    expectRefused(run("render " + in + " " + out + " --set Ratio=2"), "from 0 to 1", out);
    expectRefused(run("render " + in + " " + out + " --set Ratio"), "NAME=VALUE", out);
    expectRefused(run("render " + in + " " + out + " --block 0"), "--block", out);
    expectRefused(run("render " + in + " " + out + " --fast"), "unknown option --fast", out);
    expectRefused(run("render " + in), "an input and an output", out);
    expectRefused(run("render " + in + " " + path("no/such/dir/out.wav")), "cannot write");
    expectRefused(run("frobnicate"), "unknown command");
    expectRefused(run("--plugin " + path("nothing.so") + " info"), "nothing.so");

    SF_INFO before;
    const std::vector<float> original = readAll(in, before);
    expectRefused(run("render " + in + " " + in), "is the input file");
    SF_INFO after;
    EXPECT_EQ(readAll(in, after), original) << "the input is never overwritten";
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
