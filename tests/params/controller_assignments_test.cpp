// The controller table and its file: order, parsing of hostile files, safe
// replacement, and the audio and control threads changing it at once.
#include "qm_controllerAssignments.h"
#include "support/temp_folder.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <csignal>
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
    EXPECT_EQ(parsed("1 2 3"), (Table{{2, 1}})) << "a final lone number is ignored";
    EXPECT_EQ(parsed("\r\n 4\t\t9 \r\n"), (Table{{9, 4}})) << "line ends are white space like blanks";
}

TEST(AssignmentsFile, OrderedBySignedControllerThenByArrival) {
    EXPECT_EQ(parsed("1 7\n2 3\n3 7\n4 144\n"), (Table{{-112, 4}, {3, 2}, {7, 1}, {7, 3}}))
        << "controller 144 keeps its low 8 bits, -112 as a signed byte";
    EXPECT_EQ(parsed("1 7\n2 7\n1 7\n"), (Table{{7, 1}, {7, 2}})) << "a pair held twice takes one entry";
    EXPECT_EQ(parsed("-9 300\n99999 0\n"), (Table{{0, 99999}, {44, -9}})) << "any values are accepted";
}

TEST(AssignmentsFile, ReadingStopsAtTextThatIsNoInteger) {
    EXPECT_EQ(parsed("0 1\nfoo\n2 3\n"), (Table{{1, 0}}));
    EXPECT_EQ(parsed("4 5 12abc 1 4"), (Table{{5, 4}}));
    EXPECT_EQ(parsed("1 2 99999999999 3"), (Table{{2, 1}})) << "a number beyond 32 bits is no integer here";
    EXPECT_EQ(parsed("-2147483648 +3 2147483647 4"), (Table{{3, INT32_MIN}, {4, INT32_MAX}}));
    EXPECT_EQ(parsed(std::string("1\0 2 3 4", 8)), (Table{{2, 1}, {4, 3}})) << "zero bytes separate";
    EXPECT_TRUE(parsed("").empty());
}

TEST(AssignmentsFile, FormatIsOneLinePerEntry) {
    const Table table{{-112, 4}, {3, 2}, {7, 1}};
    EXPECT_EQ(qm_controllerAssignments::format(table.data(), 3), "4 -112\n2 3\n1 7\n");
    EXPECT_EQ(parsed(qm_controllerAssignments::format(table.data(), 3)), table) << "what is written reads back";
}

#if !defined(_WIN32)
TEST(AssignmentsFile, AFailedWriteLeavesTheOldFile) {
    TempFolder folder;
    const std::string file = folder / "assignments.txt";
    writeText(file, "1 7\n");
    // A full disk, as far as this process can tell: no file may grow beyond 16 bytes.
    Table many(500, qm_controllerAssignment{5, 3});
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit tiny = saved;
    tiny.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &tiny);
    const bool written = qm_controllerAssignments::writeFile(file, many.data(), 500);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(written);
    EXPECT_EQ(readText(file), "1 7\n");
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) files += entry.is_regular_file();
    EXPECT_EQ(files, 1u) << "no temporary file left";
}
#endif

TEST(AssignmentsFile, WritingIntoAMissingFolderFails) {
    TempFolder folder;
    const qm_controllerAssignment one{5, 3};
    EXPECT_FALSE(qm_controllerAssignments::writeFile(folder / "missing/x.txt", &one, 1));
}

TEST(AssignmentsFile, HostileFilesNeitherStallNorOverflow) {
    std::mt19937 random(20261207);
    const char* pieces[] = {"0", "-1", "127", "-2147483648", "2147483647", "2147483648", "+5", "--3", "0x10",
                            "1e3", " ", "\n", "\r\n", "\t", "abc", "\xff\xfe", "\0", "9999999999999999999999"};
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
    for (int i = 0; huge.size() < 4u << 20; ++i) huge += std::to_string(i % 1500) + " " + std::to_string(i % 128) + "\n";
    EXPECT_EQ(parsed(huge).size(), qm_controllerAssignments::kCapacity);
    TempFolder folder;
    writeText(folder / "big.txt", huge);
    auto table = std::make_unique<qm_controllerAssignments::Table>();
    EXPECT_TRUE(qm_controllerAssignments::readFile(folder / "big.txt", *table));
    EXPECT_EQ(table->count, qm_controllerAssignments::kCapacity);
    // Blanks up to the read limit, then a pair: never reached.
    writeText(folder / "blank.txt", std::string(qm_controllerAssignments::kMaxFileBytes - 2, ' ') + "1 2 3 4");
    EXPECT_TRUE(qm_controllerAssignments::readFile(folder / "blank.txt", *table));
    EXPECT_EQ(table->count, 0u) << "a token cut at the limit is not read";
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
        EXPECT_EQ(readText(file), textLines(qm_controllerAssignments::format(
                                      table.entries().data(), static_cast<uint32_t>(table.entries().size()))));
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
    EXPECT_EQ(readText(file), textLines("1 7\n2 8\n5 9\n"));
    second.removeParameter(1);  // cancels only this instance's own change: parameter 1
    EXPECT_EQ(readText(file), textLines("2 8\n5 9\n"));
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

}  // namespace
