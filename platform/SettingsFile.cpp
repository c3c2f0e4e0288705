// The one-step file replacement every settings file uses, on each operating
// system's own primitives.
#include <cstdio>

#include "SettingsFolder.h"

namespace platform {

bool writeWholeFile(const std::string& path, std::string_view text) {
    const std::string temporary = temporaryNameFor(path);
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fflush(f) == 0 && ok;
    ok = ok && syncFile(f);
    ok = std::fclose(f) == 0 && ok;
    ok = ok && replaceFile(temporary, path);
    if (!ok) std::remove(temporary.c_str());
    return ok;
}

}  // namespace platform
