// A fresh folder under /tmp for one test, removed afterwards, and helpers to
// point the plug-in's settings folder at it.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/tolvane-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        path_ = made ? made : "/tmp";
    }
    ~TempFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

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
