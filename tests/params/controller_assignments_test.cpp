// The controller table and its file: order, parsing of hostile and hand-edited
// files, safe replacement that keeps what others wrote, another process holding
// the lock, and the audio and control threads changing it at once.
#include "qm_controllerAssignments.h"
#include "support/lock_holder.h"
#include "support/temp_folder.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

namespace {

using Table = std::vector<qm_controllerAssignment>;

Table parsed(const std::string& text) {
    auto table = std::make_unique<qm_controllerAssignments::Table>();
    qm_controllerAssignments::parse(text.data(), text.size(), *table);
    return Table(table->entries, table->entries + table->count);
}

TEST(AssignmentsFile, PairsAreParameterThenController) {
    EXPECT_EQ(parsed("0 1\n3 -1\n5 7\n2 255\n"), (Table{{1, 0}, {7, 5}})) << "-1, also as 255, is skipped";
    EXPECT_EQ(parsed("2 74"), (Table{{74, 2}})) << "no final line end needed";
    EXPECT_EQ(parsed("\xEF\xBB\xBF\r\n 4\t\t9 \r\xEF\xBB\xBF"
                     "1 2"),
              (Table{{2, 1}, {9, 4}}))
        << "byte-order marks (also of files joined together), blanks and tabs; CR LF and CR end lines too";
}

TEST(AssignmentsFile, OrderedBySignedControllerThenByArrival) {
    EXPECT_EQ(parsed("1 7\n2 3\n3 7\n4 144\n"), (Table{{-112, 4}, {3, 2}, {7, 1}, {7, 3}}))
        << "controller 144 keeps its low 8 bits, -112 as a signed byte";
    EXPECT_EQ(parsed("1 7\n2 7\n1 7\n"), (Table{{7, 1}, {7, 2}})) << "a pair held twice takes one entry";
    EXPECT_EQ(parsed("-9 300\n99999 0\n"), (Table{{0, 99999}, {44, -9}})) << "any values are accepted";
}

TEST(AssignmentsFile, LinesThatHoldNoPairAreSkipped) {
    EXPECT_EQ(parsed("0 1\nfoo\n2 3\n"), (Table{{1, 0}, {3, 2}}));
    EXPECT_EQ(parsed("1 2 3\n4\n5\n6 7 # knob\n8 9#\n10 11 x\n"), (Table{{7, 6}, {9, 8}}))
        << "three numbers, a pair split over two lines, text after a pair other than a comment";
    EXPECT_EQ(parsed("4 5abc\n1 99999999999\n2 3"), (Table{{3, 2}})) << "a number beyond 32 bits is no integer";
    EXPECT_EQ(parsed("-2147483648 +3\n2147483647 4"), (Table{{3, INT32_MIN}, {4, INT32_MAX}}));
    EXPECT_EQ(parsed(std::string("1\0 2\n3 4", 8)), (Table{{4, 3}})) << "a zero byte is no blank";
    EXPECT_TRUE(parsed("").empty());
}

TEST(AssignmentsFile, FormatIsOneLinePerEntry) {
    const Table table{{-112, 4}, {3, 2}, {7, 1}};
    EXPECT_EQ(qm_controllerAssignments::format(table.data(), 3), "4 -112\n2 3\n1 7\n");
    EXPECT_EQ(parsed(qm_controllerAssignments::format(table.data(), 3)), table) << "what is written reads back";
}

TEST(AssignmentsFile, HostileFilesNeitherStallNorOverflow) {
    std::mt19937 random(20261207);
    const char* pieces[] = {"0",    "-1",  "127",  "-2147483648", "2147483647", "2147483648",
                            "+5",   "--3", "0x10", "1e3",         " ",          "\n",
                            "\r\n", "\t",  "abc",  "\xff\xfe",    "\0",         "9999999999999999999999"};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int count = static_cast<int>(random() % 200);
        for (int k = 0; k < count; ++k) {
            const char* piece = pieces[random() % std::size(pieces)];
            text += *piece ? std::string(piece) : std::string(1, '\0');
            if (random() % 3 == 0) text += ' ';
        }
        const Table t = parsed(text);
        ASSERT_LE(t.size(), text.size() / 2 + 1);
        for (size_t i = 1; i < t.size(); ++i) ASSERT_LE(t[i - 1].controller, t[i].controller);
    }
    // A multi-megabyte file fills the table and stops there; only its start is read.
    std::string huge;
    for (int i = 0; huge.size() < 4u << 20; ++i)
        huge += std::to_string(i % 1500) + " " + std::to_string(i % 128) + "\n";
    EXPECT_EQ(parsed(huge).size(), qm_controllerAssignments::kCapacity);
    TempFolder folder;
    writeText(folder / "big.txt", huge);
    auto table = std::make_unique<qm_controllerAssignments::Table>();
    EXPECT_TRUE(qm_controllerAssignments::readFile(folder / "big.txt", *table));
    EXPECT_EQ(table->count, qm_controllerAssignments::kCapacity);
    // Empty lines up to the read limit, then a pair the limit cuts.
    writeText(folder / "blank.txt", std::string(qm_controllerAssignments::kMaxFileBytes - 3, '\n') + "1 23\n");
    EXPECT_TRUE(qm_controllerAssignments::readFile(folder / "blank.txt", *table));
    EXPECT_EQ(table->count, 0u) << "a line cut at the limit is not read";
    EXPECT_FALSE(qm_controllerAssignments::readFile(folder / "none.txt", *table));
}

TEST(ControllerTable, BindKeepsOrderAndNoDuplicates) {
    qm_controllerAssignments table("");
    table.bind(7, 1);
    table.bind(3, 2);
    table.bind(7, 2);
    table.bind(7, 1);
    table.bind(-112, 0);
    EXPECT_EQ(table.entries(), (Table{{-112, 0}, {3, 2}, {7, 2}, {7, 1}}));
    std::vector<int32_t> visited;
    table.forEachParameterOf(7, [&](int32_t p) { visited.push_back(p); });
    EXPECT_EQ(visited, (std::vector<int32_t>{2, 1}));
    table.removeParameter(2);
    EXPECT_EQ(table.entries(), (Table{{-112, 0}, {7, 1}}));
}

TEST(ControllerTable, AFullTableRefusesNewPairs) {
    TempFolder folder;
    std::string text;
    for (uint32_t i = 0; i < qm_controllerAssignments::kCapacity; ++i) text += std::to_string(i) + " 5\n";
    writeText(folder / "full.txt", text);
    qm_controllerAssignments table(folder / "full.txt");
    ASSERT_TRUE(table.read());
    EXPECT_FALSE(table.bind(6, 1));
    EXPECT_TRUE(table.bind(5, 0)) << "an existing pair still moves";
    EXPECT_EQ(table.entries().back(), (qm_controllerAssignment{5, 0}));
}

// One thread plays the audio side (binds and reads, as learning and control
// changes do), another the editor (removals). Run under ThreadSanitizer in CI.
TEST(ControllerTable, AudioAndControlThreadsChangeItAtOnce) {
    TempFolder folder;
    const std::string file = folder / "stress.txt";
    {
        qm_controllerAssignments table(file);
        // Something to write even if the audio thread gets no time before the end.
        table.bind(15, 5);
        std::atomic<bool> done{false};
        std::thread audio([&] {
            std::mt19937 random(1);
            bool ordered = true;  // every parameter seen is one that was bound
            while (!done.load()) {
                table.bind(static_cast<int8_t>(random() % 16), static_cast<int32_t>(random() % 6));
                table.forEachParameterOf(static_cast<int8_t>(random() % 16),
                                         [&](int32_t p) { ordered = ordered && p >= 0 && p < 6; });
            }
            EXPECT_TRUE(ordered) << "the audio thread saw a half-built table";
        });
        std::mt19937 random(2);
        for (int round = 0; round < 400; ++round) {
            table.removeParameter(static_cast<int32_t>(random() % 6));
            if (round % 8 == 0) table.writePending();
            const Table now = table.entries();
            for (size_t i = 1; i < now.size(); ++i) ASSERT_LE(now[i - 1].controller, now[i].controller);
        }
        done.store(true);
        audio.join();
        table.writePending();
        auto written = std::make_unique<qm_controllerAssignments::Table>();
        // The removals may have left nothing bound (on a busy machine the audio
        // thread may not have run at all), and then there is no file to write.
        const bool read = qm_controllerAssignments::readFile(file, *written);
        EXPECT_TRUE(read || table.entries().empty());
        EXPECT_EQ(Table(written->entries, written->entries + written->count), table.entries());
    }
}

TEST(ControllerTable, InstancesSharingTheFileKeepEachOthersBindings) {
    TempFolder folder;
    const std::string file = folder / "shared.txt";
    writeText(file, "5 9\n");
    qm_controllerAssignments first(file), second(file);
    first.bind(7, 1);
    second.bind(8, 2);
    first.writePending();
    second.writePending();
    EXPECT_EQ(readText(file), "5 9\n1 7\n2 8\n") << "new pairs are appended";
    second.removeParameter(1);  // cancels only this instance's own change: parameter 1
    EXPECT_EQ(readText(file), "5 9\n2 8\n");
    EXPECT_EQ(first.entries(), (Table{{7, 1}})) << "each table in memory stays its own";
}

TEST(ControllerTable, AFailedWriteStaysPendingAndIsRetried) {
    TempFolder folder;
    const std::string file = folder / "later/assignments.txt";
    qm_controllerAssignments table(file);
    table.bind(3, 4);
    EXPECT_FALSE(table.writePending()) << "the folder is missing";
    EXPECT_TRUE(table.hasPendingWrite());
    std::filesystem::create_directory(folder / "later");
    EXPECT_TRUE(table.writePending());
    EXPECT_FALSE(table.hasPendingWrite());
    EXPECT_EQ(readText(file), textLines("4 3\n"));
}

TEST(ControllerTable, TemporaryFilesOfKilledWritersAreRemoved) {
    TempFolder folder;
    const std::string file = folder / "assignments.txt";
    writeText(file + ".tmp.99999.0", "half a fi");
    writeText(file + ".tmp.4242.7", "");
    qm_controllerAssignments table(file);
    table.bind(1, 0);
    ASSERT_TRUE(table.writePending());
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        files += entry.path().filename().string().find(".tmp.") == std::string::npos ? 0 : 1;
    EXPECT_EQ(files, 0u);
}

TEST(ControllerTable, BindsBeyondTheQueueStillReachTheFile) {
    TempFolder folder;
    const std::string file = folder / "assignments.txt";
    qm_controllerAssignments table(file);
    for (int i = 0; i < 600; ++i) table.bind(static_cast<int8_t>(i % 128), i / 128);
    ASSERT_TRUE(table.writePending());
    auto written = std::make_unique<qm_controllerAssignments::Table>();
    ASSERT_TRUE(qm_controllerAssignments::readFile(file, *written));
    EXPECT_EQ(Table(written->entries, written->entries + written->count), table.entries());
}

// Hand-edited files. Each binds parameters 0, 1 and 2 somehow; the instance
// reads it, learns controller 30 for parameter 4 and cancels parameter 1. Only
// lines holding those pairs may change; the rest stays byte for byte in place.
TEST(ControllerTable, WritesKeepTheLinesTheyDoNotOwn) {
    const std::string mark = "\xEF\xBB\xBF";
    struct Case {
        const char* what;
        std::string before;
        Table read;
        std::string after;
    };
    const Case cases[] = {
        {"byte-order mark", mark + "0 21\n1 22\n2 23\n", {{21, 0}, {22, 1}, {23, 2}}, mark + "0 21\n2 23\n4 30\n"},
        {"mark before a removed pair", mark + "1 22\n0 21", {{21, 0}, {22, 1}}, mark + "0 21\n4 30\n"},
        {"comment line",
         "# my knobs\n0 21\n1 22\n2 23\n",
         {{21, 0}, {22, 1}, {23, 2}},
         "# my knobs\n0 21\n2 23\n4 30\n"},
        {"CR LF", "0 21\r\n1 22\r\n2 23\r\n", {{21, 0}, {22, 1}, {23, 2}}, "0 21\r\n2 23\r\n4 30\r\n"},
        {"blanks and tabs", "\t0\t21 \n  1   22\n2 23\t\n", {{21, 0}, {22, 1}, {23, 2}}, "\t0\t21 \n2 23\t\n4 30\n"},
        {"trailing text", "0 21 # gain\n1 22 x\n2 23\n", {{21, 0}, {23, 2}}, "0 21 # gain\n1 22 x\n2 23\n4 30\n"},
        {"pair split over lines", "0\n21\n1 22\n2 23", {{22, 1}, {23, 2}}, "0\n21\n2 23\n4 30\n"},
        {"garbage between pairs",
         "0 21\nfoo bar\n1 22\n\n3 -1\n2 23\n",
         {{21, 0}, {22, 1}, {23, 2}},
         "0 21\nfoo bar\n\n3 -1\n2 23\n4 30\n"},
        {"learned pair already last of its controller",
         "4 30 # fader\n0 21\n1 22\n",
         {{21, 0}, {22, 1}, {30, 4}},
         "4 30 # fader\n0 21\n"},
        {"learned pair moves behind its controller",
         "4 30 # fader\n0 30\n1 22\n",
         {{22, 1}, {30, 4}, {30, 0}},
         "0 30\n4 30 # fader\n"},
    };
    TempFolder folder;
    const std::string file = folder / "assignments.txt";
    for (const Case& c : cases) {
        writeText(file, c.before);
        qm_controllerAssignments table(file);
        ASSERT_TRUE(table.read()) << c.what;
        EXPECT_EQ(table.entries(), c.read) << c.what;
        table.bind(30, 4);         // learned on the audio thread
        table.removeParameter(1);  // cancelled: writes both
        EXPECT_EQ(readText(file), c.after) << c.what;
    }
}

#if !defined(_WIN32)
TEST(ControllerTable, AnotherProcessHoldingTheLockBlocksNothing) {
    TempFolder folder;
    const std::string file = folder / "assignments.txt";
    writeText(file, "0 21\n");
    qm_controllerAssignments table(file);
    LockHolder holder(folder.path());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(table.read());
    table.bind(30, 4);
    EXPECT_FALSE(table.writePending());
    table.removeParameter(0);  // nor does a cancel wait
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(table.hasPendingWrite());
    EXPECT_EQ(readText(file), "0 21\n");
    {
        qm_controllerAssignments closing(file);
        closing.bind(40, 2);
    }  // no later call to retry at: written without the lock rather than lost
    EXPECT_EQ(readText(file), "0 21\n2 40\n");
    holder.release();
    EXPECT_TRUE(table.writePending());
    EXPECT_EQ(readText(file), "2 40\n4 30\n");
}

// A FIFO, a folder or a device where the file should be: never read, never
// replaced, and neither reading nor writing waits.
TEST(ControllerTable, OnlyARegularFileIsReadOrReplaced) {
    TempFolder folder;
    const std::string fifo = folder / "fifo.txt", directory = folder / "folder.txt", device = folder / "device.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directory(directory);
    std::filesystem::create_symlink("/dev/zero", device);
    for (const std::string& path : {fifo, directory, device}) {
        qm_controllerAssignments table(path);
        std::atomic<bool> done{false};
        bool read = true, written = true;
        std::thread control([&] {
            read = table.read();
            table.bind(1, 0);
            written = table.writePending();
            done.store(true);
        });
        const auto start = std::chrono::steady_clock::now();
        while (!done.load() && std::chrono::steady_clock::now() - start < std::chrono::seconds(1))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(done.load()) << path << " blocked";
        while (!done.load()) {  // release a reader stuck on the FIFO
            const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) close(writer);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        control.join();
        EXPECT_FALSE(read) << path;
        EXPECT_FALSE(written) << path;
        EXPECT_FALSE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path))) << path;
    }
}
#endif

}  // namespace
