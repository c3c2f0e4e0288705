// Ending `tolvane live`: SIGINT (Ctrl+C) and SIGTERM end it cleanly with its
// settings saved, and the next start takes them back; when the JACK server
// goes away, shut down or killed, it says so in one line, saves and fails.
#include <filesystem>

#include "LiveSettings.h"
#include "live_support.h"

namespace {

using namespace live;

// A client that only looks at the graph.
struct Probe : TestClient {
    using TestClient::TestClient;
    void process(jack_nframes_t) override {}
    bool connected(const std::string& ours, const std::string& theirs) const {
        jack_port_t* port = jack_port_by_name(client, ours.c_str());
        return port && jack_port_connected_to(port, theirs.c_str());
    }
};

bool says(Child& child, const char* text) {
    return waitFor([&] { return child.output().find(text) != std::string::npos || !child.running(); }) &&
           child.output().find(text) != std::string::npos;
}

TEST(LiveLifecycle, SignalsEndItCleanlyAndTheNextStartRestoresTheSettings) {
    TempFolder folder;
    useSettingsRoot(folder.path());
    Probe probe("tolvane-test-probe");
    ASSERT_TRUE(probe.ok());
    {
        Child live(liveArguments({"--no-editor", "--connect", "--program", "4", "--set", "attack=0.25"}),
                   folder / "first");
        ASSERT_TRUE(says(live, "Ctrl+C ends it")) << live.errors();
        // --connect alone: the system's capture and playback ports.
        EXPECT_TRUE(probe.connected("Tolvane:in_1", "system:capture_1"));
        EXPECT_TRUE(probe.connected("Tolvane:in_2", "system:capture_2"));
        EXPECT_TRUE(probe.connected("Tolvane:out_1", "system:playback_1"));
        EXPECT_TRUE(probe.connected("Tolvane:out_2", "system:playback_2"));
        live.signal(SIGINT);
        EXPECT_EQ(live.waitExit(), 0) << live.errors();
        EXPECT_EQ(live.errors(), "");
    }
    const std::string saved = readText(liveSettingsPath());
    const LiveSettings first = parseLiveSettings(saved);
    EXPECT_EQ(first.program, 4);
    EXPECT_EQ(first.values[tolvane::kAttack], 0.25f);
    EXPECT_EQ(first.values[tolvane::kRatio], 0.248857f);  // the program's own

    // No options: the same program and settings come back, and go out again unchanged.
    Child live(liveArguments({"--no-editor"}), folder / "second");
    EXPECT_TRUE(says(live, "program 'NY Compression'")) << live.output() << live.errors();
    live.signal(SIGTERM);
    EXPECT_EQ(live.waitExit(), 0) << live.errors();
    EXPECT_EQ(readText(liveSettingsPath()), saved);
}

// A server of the test's own, under a fixed name: JACK keeps a machine-wide
// table of eight server names, and a killed server's entry stays until a
// server of the same name starts again (and goes with it when that one ends).
class LiveServerGone : public ::testing::TestWithParam<int> {
protected:
    static std::unique_ptr<Child> startServer(const std::string& name, const std::string& output) {
        auto jackd = std::make_unique<Child>(std::vector<std::string>{"jackd", "--no-realtime", "--silent", "--name",
                                                                      name, "-d", "dummy", "-r", "48000", "-p", "1024"},
                                             output);
        waitFor([&] { return Probe("tolvane-test-probe", name.c_str()).ok() || !jackd->running(); });
        return jackd;
    }
};

TEST_P(LiveServerGone, SaysSoInOneLineSavesAndFails) {
    TempFolder folder;
    useSettingsRoot(folder.path());
    const std::string server = TOLVANE_TEST_JACK_SERVER "-gone";
    {
        const std::unique_ptr<Child> jackd = startServer(server, folder / "jackd");
        ASSERT_TRUE(jackd->running()) << jackd->errors();
        setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
        Child live(liveArguments({"--no-editor", "--set", "Attack=0.25"}), folder / "live");
        setenv("JACK_DEFAULT_SERVER", TOLVANE_TEST_JACK_SERVER, 1);
        ASSERT_TRUE(says(live, "Ctrl+C ends it")) << live.errors();

        jackd->signal(GetParam());
        EXPECT_NE(jackd->waitExit(), -1);
        EXPECT_EQ(live.waitExit(), 1) << live.errors();
        const std::string errors = live.errors();
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_NE(errors.find("the JACK server went away"), std::string::npos) << errors;
        EXPECT_NE(errors.find("settings saved"), std::string::npos) << errors;
    }
    EXPECT_EQ(parseLiveSettings(readText(liveSettingsPath())).values[tolvane::kAttack], 0.25f);
    if (GetParam() == SIGKILL) {
        // Frees the killed server's entry in JACK's table of servers.
        const std::unique_ptr<Child> again = startServer(server, folder / "again");
        again->signal(SIGTERM);
        EXPECT_EQ(again->waitExit(), 0) << again->errors();
        // And the semaphores its clients left behind.
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm"))
            if (entry.path().filename().string().find(server + "_") != std::string::npos)
                std::filesystem::remove(entry.path());
    }
}

INSTANTIATE_TEST_SUITE_P(Signal, LiveServerGone, ::testing::Values(SIGTERM, SIGKILL),
                         [](const auto& info) { return std::string(info.param == SIGTERM ? "ShutDown" : "Killed"); });

}  // namespace
