// A fresh folder for one test, removed afterwards, and small file and
// environment helpers that work on Linux and on Windows.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

class TempFolder {
public:
    TempFolder() {
        static std::atomic<unsigned> counter{0};
        const auto base = std::filesystem::temp_directory_path();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (;;) {
            path_ = (base / ("tolvane-test-" + std::to_string(stamp) + "-" + std::to_string(counter++))).string();
            if (std::filesystem::create_directory(path_)) break;
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (std::filesystem::path(path_) / name).string(); }

private:
    std::string path_;
};

inline std::string readText(const std::string& file) {
    std::ifstream f(file, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline void writeText(const std::string& file, const std::string& text) {
    std::ofstream f(file, std::ios::binary);
    f << text;
}

inline void setEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

// Points the plug-in's settings folder into `root` and answers where the
// folder then is: root/Quenmark on Linux, root\Application Data\Quenmark on Windows.
inline std::string useSettingsRoot(const std::string& root) {
#if defined(_WIN32)
    setEnvironment("ALLUSERSPROFILE", root);
    return (std::filesystem::path(root) / "Application Data" / "Quenmark").string();
#else
    setEnvironment("XDG_CONFIG_HOME", root);
    return (std::filesystem::path(root) / "Quenmark").string();
#endif
}

// Text files are written in text mode: on Windows with CR LF line ends.
inline std::string textLines(const std::string& text) {
#if defined(_WIN32)
    std::string crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return crlf;
#else
    return text;
#endif
}
