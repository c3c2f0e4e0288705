// Decodes PNG data in memory with libpng into 32-bit pixels: bytes blue, green,
// red, alpha, colour premultiplied by alpha with a shift ((c * a) >> 8, so an
// opaque 255 becomes 254), rows top first.
//
// Every colour type and depth is accepted: palettes and grey are expanded to
// RGB, a transparency chunk becomes alpha, images without alpha get 255, 16-bit
// samples keep their high byte, interlaced images are assembled.
//
// Bad data never crashes or leaks: a missing or unreadable header, or an image
// larger than kMaxPngPixels, gives 0 x 0; an error part-way keeps the full size
// with the rows decoded so far (the rest transparent black).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct DecodedImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

// The largest image decoded, in pixels (64 MiB of pixels); each side at most 65535.
constexpr uint64_t kMaxPngPixels = 16u * 1024u * 1024u;

DecodedImage decodePng(const unsigned char* data, size_t size);

// The size the header (IHDR) gives, read without decoding anything: what
// decodePng answers for data that holds the whole image, and 0 x 0 wherever it
// refuses the image from its header alone (no PNG, a damaged header, a size or
// layout it does not take).
struct PngSize {
    int32_t width = 0;
    int32_t height = 0;
};
PngSize readPngSize(const unsigned char* data, size_t size);
