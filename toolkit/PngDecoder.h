// Decodes PNG data in memory into 32-bit pixels: bytes blue, green, red,
// alpha, colour premultiplied by alpha with a shift ((c * a) >> 8, so an
// opaque 255 becomes 254), rows top first.
//
// libpng's simplified reader takes every colour type and depth to 8-bit
// samples: palettes and grey are expanded to RGB, a transparency chunk becomes
// alpha, images without alpha get 255, 16-bit samples are scaled (and taken
// as sRGB when the file names no colour space), interlaced images are
// assembled; a file whose gamma is not sRGB's is converted to sRGB.
//
// Bad data never crashes or leaks: no PNG, an unreadable header, or an image
// larger than kMaxPngPixels or 65535 on a side gives 0 x 0; an error part-way
// keeps the full size with the rows decoded so far (the rest transparent black).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct DecodedImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

// The largest image decoded, in pixels (64 MiB of pixels).
constexpr uint64_t kMaxPngPixels = 16u * 1024u * 1024u;

DecodedImage decodePng(const unsigned char* data, size_t size);
