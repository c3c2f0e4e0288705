// The settings layer: where the settings folder is, and files replaced in one
// step or not at all.
#include "SettingsFolder.h"
#include "support/temp_folder.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <csignal>
#include <filesystem>

namespace {

// Whatever fails, the old file stays as it was and no temporary file is left beside it.
TEST(SettingsFile, AWholeFileIsReplacedInOneStepOrNotAtAll) {
    enum Obstacle { kNone, kFolderAtThePath, kFullDisk };
    struct Case {
        const char* what;
        const char* name;  // in a fresh folder
        bool oldFile;
        Obstacle obstacle;
        bool written;
    };
    const Case cases[] = {
        {"a new file", "new.txt", false, kNone, true},
        {"an old file replaced", "old.txt", true, kNone, true},
        {"a missing folder", "missing/x.txt", false, kNone, false},
        {"a folder at the path", "folder.txt", false, kFolderAtThePath, false},
#if !defined(_WIN32)
        {"a full disk", "full.txt", true, kFullDisk, false},
#endif
    };
    const std::string text = std::string(100, '7') + "\n";
    for (const Case& c : cases) {
        TempFolder folder;
        const std::string path = folder / c.name;
        if (c.oldFile) writeText(path, "old\n");
        if (c.obstacle == kFolderAtThePath) std::filesystem::create_directory(path);
        bool written;
#if !defined(_WIN32)
        if (c.obstacle == kFullDisk) {
            // A full disk, as far as this process can tell: no file may grow beyond 16 bytes.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit saved;
            getrlimit(RLIMIT_FSIZE, &saved);
            rlimit tiny = saved;
            tiny.rlim_cur = 16;
            setrlimit(RLIMIT_FSIZE, &tiny);
            written = platform::writeWholeFile(path, text);
            setrlimit(RLIMIT_FSIZE, &saved);
        } else
#endif
            written = platform::writeWholeFile(path, text);
        EXPECT_EQ(written, c.written) << c.what;
        if (c.obstacle == kFolderAtThePath) {
            EXPECT_TRUE(std::filesystem::is_directory(path)) << c.what;
        } else {
            EXPECT_EQ(readText(path), c.written ? text : c.oldFile ? "old\n" : "") << c.what;
        }
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos) << c.what << ": left behind";
    }
}

#if !defined(_WIN32)
// XDG_CONFIG_HOME when it is an absolute path, else HOME's .config; every
// missing level is made, and with nothing usable there is no folder.
TEST(SettingsFolder, FollowsXdgConfigHomeThenHomeAndMakesEveryLevel) {
    TempFolder root;
    writeText(root / "file", "");
    struct Case {
        const char* what;
        std::string xdg, home, folder;
    };
    const Case cases[] = {
        {"XDG_CONFIG_HOME, levels made", root / "a/b", "", root / "a/b/Quenmark/"},
        {"its trailing slashes dropped", root.path() + "/c//", "", root / "c/Quenmark/"},
        {"a relative one ignored", "relative", root / "home", root / "home/.config/Quenmark/"},
        {"HOME when XDG_CONFIG_HOME is empty", "", root / "home2", root / "home2/.config/Quenmark/"},
        {"neither", "", "relative", ""},
        {"a file in the way", root / "file", "", ""},
    };
    const std::string savedXdg = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    for (const Case& c : cases) {
        setEnvironment("XDG_CONFIG_HOME", c.xdg);
        setEnvironment("HOME", c.home);
        const std::string folder = platform::settingsFolder();
        EXPECT_EQ(folder, c.folder) << c.what;
        EXPECT_TRUE(folder.empty() || std::filesystem::is_directory(folder)) << c.what;
    }
    setEnvironment("XDG_CONFIG_HOME", savedXdg);
    setEnvironment("HOME", savedHome);
}
#endif

}  // namespace
