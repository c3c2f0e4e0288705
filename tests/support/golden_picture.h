// The editor's recorded pictures (tests/editor/golden/NAME.png), as the
// 32-bit pixels a headless window holds; empty when unreadable.
#pragma once

#include <png.h>

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
