#include "PngDecoder.h"

#include <png.h>

namespace {
constexpr uint32_t kMaxPngSide = 65535;
}  // namespace

DecodedImage decodePng(const unsigned char* data, size_t size) {
    DecodedImage image;
    if (!data) return image;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    // Reads the chunks up to the image data; on failure (as below) libpng has freed its state.
    if (!png_image_begin_read_from_memory(&png, data, size)) return image;
    const uint32_t width = png.width, height = png.height;
    if (width > kMaxPngSide || height > kMaxPngSide || uint64_t{width} * height > kMaxPngPixels) {
        png_image_free(&png);
        return image;
    }
    png.format = PNG_FORMAT_BGRA;
    png.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;  // else 16-bit samples count as linear light
    try {
        image.pixels.assign(static_cast<size_t>(width) * height, 0u);
    } catch (...) {
        png_image_free(&png);
        return image;
    }
    // Rows are written in place as they are decoded, so a failure part-way
    // leaves those before it; finishing frees libpng's state either way.
    png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr);
    image.width = static_cast<int32_t>(width);
    image.height = static_cast<int32_t>(height);
    // Premultiply with a shift, as the images were designed for.
    for (uint32_t& p : image.pixels) {
        const uint32_t a = p >> 24;
        if (a == 0) {
            p = 0;
            continue;
        }
        const uint32_t b = ((p & 0xFF) * a) >> 8, g = (((p >> 8) & 0xFF) * a) >> 8, r = (((p >> 16) & 0xFF) * a) >> 8;
        p = (a << 24) | (r << 16) | (g << 8) | b;
    }
    return image;
}
