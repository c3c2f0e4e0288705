// Writes a picture of opaque 32-bit pixels (blue, green, red, alpha) as an
// 8-bit RGB PNG: screenshots of the editor, golden pictures for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::vector<unsigned char> encodePng(const uint32_t* pixels, int32_t width, int32_t height);
bool writePngFile(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height);
