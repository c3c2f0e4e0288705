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
    EXPECT_EQ(parsed("0 1\n3 -1\n5 7\n"), (Table{{1, 0}, {7, 5}}));
    EXPECT_EQ(parsed("2 74"), (Table{{74, 2}})) << "no final line end needed";
    EXPECT_EQ(parsed("1 2 3"), (Table{{2, 1}})) << "a final lone number is ignored";
    EXPECT_EQ(parsed("\r\n 4\t\t9 \r\n"), (Table{{9, 4}})) << "line ends are white space like blanks";
}

TEST(AssignmentsFile, OrderedBySignedControllerThenByArrival) {
    EXPECT_EQ(parsed("1 7\n2 3\n3 7\n4 144\n"), (Table{{-112, 4}, {3, 2}, {7, 1}, {7, 3}}))
        << "controller 144 keeps its low 8 bits, -112 as a signed byte";
    EXPECT_EQ(parsed("1 7\n1 7\n"), (Table{{7, 1}, {7, 1}})) << "the file is taken as it is";
    EXPECT_EQ(parsed("-9 300\n99999 0\n"), (Table{{0, 99999}, {44, -9}})) << "any values are accepted";
}

TEST(AssignmentsFile, TextThatIsNoIntegerIsSkipped) {
    EXPECT_EQ(parsed("0 1\nfoo\n2 3\n"), (Table{{1, 0}, {3, 2}}));
    EXPECT_EQ(parsed("12abc 1 4 x 5"), (Table{{4, 1}})) << "then a lone 5";
    EXPECT_EQ(parsed("99999999999 1 2 3"), (Table{{2, 1}})) << "a number beyond 32 bits is no integer here";
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
    // A multi-megabyte file fills the table and stops there.
    std::string huge;
    for (int i = 0; huge.size() < 4u << 20; ++i) huge += std::to_string(i % 6) + " " + std::to_string(i % 128) + "\n";
    EXPECT_EQ(parsed(huge).size(), qm_controllerAssignments::kCapacity);
    TempFolder folder;
    writeText(folder / "big.txt", huge);
    auto table = std::make_unique<qm_controllerAssignments::Table>();
    EXPECT_TRUE(qm_controllerAssignments::readFile(folder / "big.txt", *table));
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
            int64_t sum = 0;
            while (!done.load()) {
                table.bind(static_cast<int8_t>(random() % 16), static_cast<int32_t>(random() % 6));
                table.forEachParameterOf(static_cast<int8_t>(random() % 16), [&](int32_t p) { sum += p; });
            }
            EXPECT_GE(sum, 0);
        });
        std::mt19937 random(2);
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
        while (std::chrono::steady_clock::now() < end) {
            table.removeParameter(static_cast<int32_t>(random() % 6));
            const Table now = table.entries();
            for (size_t i = 1; i < now.size(); ++i) ASSERT_LE(now[i - 1].controller, now[i].controller);
        }
        done.store(true);
        audio.join();
        table.flush();
        EXPECT_EQ(readText(file), textLines(qm_controllerAssignments::format(
                                      table.entries().data(), static_cast<uint32_t>(table.entries().size()))));
    }
}

}  // namespace
