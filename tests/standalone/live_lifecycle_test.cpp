// Ending `tolvane live`: SIGINT (Ctrl+C) and SIGTERM end it cleanly with its
// settings saved, and the next start takes them back; when the JACK server
// goes away, shut down or killed, it says so in one line, saves and fails; a
// stopped server holds the end for a few seconds at most, after the save; what
// cannot be saved is told once, and no save is claimed that failed.
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

TEST(LiveLifecycle, NamingItsOwnPortSaysSo) {
    TempFolder folder;
    Child live(liveArguments({"--no-editor", "--connect", "Tolvane:in_1"}), folder / "live");
    EXPECT_EQ(live.waitExit(), 1);
    EXPECT_NE(live.errors().find("'Tolvane:in_1' is Tolvane's own port"), std::string::npos) << live.errors();
}

// A server of the test's own, under a fixed name: JACK keeps a machine-wide
// table of eight server names, and a killed server's entry stays until a
// server of the same name starts again (and goes with it when that one ends).
const std::string kOwnServer = TOLVANE_TEST_JACK_SERVER "-gone";

std::unique_ptr<Child> startServer(const std::string& output) {
    auto jackd =
        std::make_unique<Child>(std::vector<std::string>{"jackd", "--no-realtime", "--silent", "--name", kOwnServer,
                                                         "-d", "dummy", "-r", "48000", "-p", "1024"},
                                output);
    waitFor([&] { return Probe("tolvane-test-probe", kOwnServer.c_str()).ok() || !jackd->running(); });
    return jackd;
}

// `tolvane live` on that server, started and ready; `noFolder` leaves it
// without HOME and XDG_CONFIG_HOME.
std::unique_ptr<Child> startLiveOnOwnServer(const std::vector<std::string>& options, const std::string& output,
                                            bool noFolder = false) {
    auto variable = [](const char* name) { return std::string(getenv(name) ? getenv(name) : ""); };
    const std::string home = variable("HOME"), config = variable("XDG_CONFIG_HOME");
    setenv("JACK_DEFAULT_SERVER", kOwnServer.c_str(), 1);
    if (noFolder) unsetenv("HOME"), unsetenv("XDG_CONFIG_HOME");
    auto live = std::make_unique<Child>(liveArguments(options), output);
    setenv("JACK_DEFAULT_SERVER", TOLVANE_TEST_JACK_SERVER, 1);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    EXPECT_TRUE(says(*live, "Ctrl+C ends it")) << live->errors();
    return live;
}

class LiveServerGone : public ::testing::TestWithParam<int> {};

TEST_P(LiveServerGone, SaysSoInOneLineSavesAndFails) {
    TempFolder folder;
    useSettingsRoot(folder.path());
    const std::string server = kOwnServer;
    {
        const std::unique_ptr<Child> jackd = startServer(folder / "jackd");
        ASSERT_TRUE(jackd->running()) << jackd->errors();
        const std::unique_ptr<Child> live =
            startLiveOnOwnServer({"--no-editor", "--set", "Attack=0.25"}, folder / "live");

        jackd->signal(GetParam());
        EXPECT_NE(jackd->waitExit(), -1);
        EXPECT_EQ(live->waitExit(), 1) << live->errors();
        const std::string errors = live->errors();
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_NE(errors.find("the JACK server went away"), std::string::npos) << errors;
        EXPECT_NE(errors.find("settings saved"), std::string::npos) << errors;
    }
    EXPECT_EQ(parseLiveSettings(readText(liveSettingsPath())).values[tolvane::kAttack], 0.25f);
    if (GetParam() == SIGKILL) {
        // Frees the killed server's entry in JACK's table of servers.
        const std::unique_ptr<Child> again = startServer(folder / "again");
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

TEST(LiveLifecycle, AStoppedServerHoldsTheEndAFewSecondsAtMostAfterTheSave) {
    TempFolder folder;
    useSettingsRoot(folder.path());
    const std::unique_ptr<Child> jackd = startServer(folder / "jackd");
    ASSERT_TRUE(jackd->running()) << jackd->errors();
    {
        const std::unique_ptr<Child> live =
            startLiveOnOwnServer({"--no-editor", "--set", "Attack=0.25"}, folder / "live");
        jackd->signal(SIGSTOP);
        live->signal(SIGINT);
        EXPECT_EQ(live->waitExit(8s), 1);
        EXPECT_NE(live->errors().find("the JACK server does not answer"), std::string::npos) << live->errors();
        jackd->signal(SIGCONT);
    }
    EXPECT_EQ(parseLiveSettings(readText(liveSettingsPath())).values[tolvane::kAttack], 0.25f);
    // The server waits out its timeouts for the client that left without a word.
    jackd->signal(SIGTERM);
    EXPECT_EQ(jackd->waitExit(15s), 0) << jackd->errors();
}

// Without a settings folder, or with the settings file's place taken (a
// folder there: a read-only folder refuses root nothing), the user hears it
// once; a lost server then claims no save.
TEST(LiveLifecycle, WhatCannotBeSavedIsToldOnceAndNoSaveIsClaimed) {
    const struct {
        const char* name;
        bool noFolder;
        bool serverGoes;  // else Ctrl+C ends it
        const char* told;
        int status;
    } cases[] = {
        {"no folder, Ctrl+C", true, false, "no settings folder", 0},
        {"no folder, the server goes", true, true, "no settings folder", 1},
        {"the file cannot be written, Ctrl+C", false, false, "cannot save the settings in ", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::string settings = useSettingsRoot(folder.path());
        std::filesystem::create_directories(settings + "/Tolvane Live Settings.txt");
        const std::unique_ptr<Child> jackd = startServer(folder / "jackd");
        ASSERT_TRUE(jackd->running()) << jackd->errors();
        const std::unique_ptr<Child> live = startLiveOnOwnServer({"--no-editor"}, folder / "live", c.noFolder);
        if (c.serverGoes) jackd->signal(SIGTERM);
        else live->signal(SIGINT);
        EXPECT_EQ(live->waitExit(), c.status);
        const std::string errors = live->errors();
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), c.serverGoes ? 2 : 1) << errors;
        const size_t told = errors.find(std::string("tolvane: ") + c.told);
        EXPECT_NE(told, std::string::npos) << errors;
        if (!c.noFolder) {
            EXPECT_NE(errors.find(liveSettingsPath(), told), std::string::npos) << errors;
        }
        EXPECT_EQ(errors.find("settings saved"), std::string::npos) << errors;
        if (jackd->running()) jackd->signal(SIGTERM);
        EXPECT_NE(jackd->waitExit(), -1);
    }
}

}  // namespace
