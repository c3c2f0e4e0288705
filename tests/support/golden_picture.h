// The editor's recorded pictures (tests/editor/golden/NAME.png), as the
// 32-bit pixels a headless window holds; empty when unreadable.
#pragma once

#include <png.h>

#include "EditorScale.h"
#include "TolvaneParameters.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<uint32_t> readGolden(const std::string& name) {
    std::ifstream f(std::string(TOLVANE_GOLDEN_DIR) + "/" + name + ".png", std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    const std::string bytes = s.str();
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    std::vector<uint32_t> pixels;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return pixels;
    image.format = PNG_FORMAT_BGRA;
    pixels.resize(static_cast<size_t>(image.width) * image.height);
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) pixels.clear();
    return pixels;
}

// The side-chain forms' editor against a recorded picture of the others' at
// `percent`: equal everywhere but inside the Key switch, which must show.
inline bool matchesGoldenBesideKeySwitch(const std::vector<uint32_t>& picture, const std::string& name,
                                         int32_t percent) {
    const std::vector<uint32_t> golden = readGolden(name);
    if (golden.size() != picture.size() || golden.empty()) return false;
    const CRect r = editor_scale::rect(tolvane::kParameters[tolvane::kKey].rect, percent);
    const size_t width = static_cast<size_t>(editor_scale::rect({0, 0, 750, 200}, percent).right);
    size_t inside = 0;
    for (size_t i = 0; i < picture.size(); ++i) {
        const auto x = static_cast<int32_t>(i % width), y = static_cast<int32_t>(i / width);
        const bool inKey = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
        if (picture[i] != golden[i] && !inKey) return false;
        inside += picture[i] != golden[i];
    }
    return inside > 0;
}
