#include "PngDecoder.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace {

struct MemoryReader {
    const unsigned char* data;
    size_t size;
    size_t position;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t count) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    // A request past the end is an error: libpng must not go on with bytes
    // that were never there.
    if (count > reader->size - reader->position) png_error(png, "truncated");
    std::memcpy(out, reader->data + reader->position, count);
    reader->position += count;
}

constexpr uint32_t kMaxPngSide = 65535;

uint32_t bigEndian32(const unsigned char* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

void silentError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void silentWarning(png_structp, png_const_charp) {}

// The libpng part, in C style: between setjmp and a longjmp from libpng there
// are no objects with destructors, only raw memory this function frees itself.
// On return *pixels holds width * height pixels (std::malloc), or null.
bool decodeRaw(const unsigned char* data, size_t size, uint32_t** pixels, uint32_t* width, uint32_t* height) {
    *pixels = nullptr;
    *width = *height = 0;
    if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, silentError, silentWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    MemoryReader reader{data, size, 0};
    // volatile: changed after setjmp and read after a longjmp.
    uint32_t* volatile buffer = nullptr;
    png_bytep* volatile rows = nullptr;
    volatile uint32_t decodedWidth = 0, decodedHeight = 0;
    if (!info || setjmp(png_jmpbuf(png))) {
        std::free(rows);
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        *pixels = buffer;
        *width = buffer ? decodedWidth : 0;
        *height = buffer ? decodedHeight : 0;
        return buffer != nullptr;
    }
    png_set_user_limits(png, kMaxPngSide, kMaxPngSide);
    png_set_chunk_malloc_max(png, 8u * 1024u * 1024u);
    png_set_read_fn(png, &reader, readFromMemory);
    png_read_info(png, info);
    png_uint_32 w = 0, h = 0;
    int depth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(png, info, &w, &h, &depth, &colourType, &interlace, nullptr, nullptr);
    if (static_cast<uint64_t>(w) * h > kMaxPngPixels) png_error(png, "too large");

    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    else if (!(colourType & PNG_COLOR_MASK_ALPHA)) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    if (depth == 16) png_set_strip_16(png);
    png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(w) * 4) png_error(png, "unexpected layout");

    buffer = static_cast<uint32_t*>(std::calloc(static_cast<size_t>(w) * h, sizeof(uint32_t)));
    rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * (h ? h : 1)));
    if (!buffer || !rows) png_error(png, "out of memory");
    decodedWidth = w;
    decodedHeight = h;
    for (png_uint_32 y = 0; y < h; ++y) rows[y] = reinterpret_cast<png_bytep>(buffer + static_cast<size_t>(y) * w);
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < h; ++y) png_read_row(png, rows[y], nullptr);
    png_read_end(png, nullptr);
    std::free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    *pixels = buffer;
    *width = w;
    *height = h;
    return true;
}

}  // namespace

DecodedImage decodePng(const unsigned char* data, size_t size) {
    uint32_t* raw = nullptr;
    uint32_t width = 0, height = 0;
    DecodedImage image;
    if (!decodeRaw(data, size, &raw, &width, &height)) return image;
    try {
        image.pixels.assign(raw, raw + static_cast<size_t>(width) * height);
        image.width = static_cast<int32_t>(width);
        image.height = static_cast<int32_t>(height);
    } catch (...) {
        image = DecodedImage{};
    }
    std::free(raw);
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

PngSize readPngSize(const unsigned char* data, size_t size) {
    // Signature, then the header chunk: length 13, "IHDR", width, height, depth,
    // colour type, compression, filter, interlace, and its CRC.
    constexpr size_t kHeaderEnd = 8 + 4 + 4 + 13 + 4;
    if (!data || size < kHeaderEnd || png_sig_cmp(data, 0, 8) != 0) return {};
    const unsigned char* chunk = data + 8;
    if (bigEndian32(chunk) != 13 || std::memcmp(chunk + 4, "IHDR", 4) != 0) return {};
    if (bigEndian32(chunk + 21) != crc32(crc32(0, nullptr, 0), chunk + 4, 17)) return {};
    const uint32_t width = bigEndian32(chunk + 8), height = bigEndian32(chunk + 12);
    const int depth = chunk[16], colourType = chunk[17];
    if (width == 0 || height == 0 || width > kMaxPngSide || height > kMaxPngSide) return {};
    if (static_cast<uint64_t>(width) * height > kMaxPngPixels) return {};
    bool layout = false;
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY: layout = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16; break;
    case PNG_COLOR_TYPE_PALETTE: layout = depth == 1 || depth == 2 || depth == 4 || depth == 8; break;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
    case PNG_COLOR_TYPE_RGB_ALPHA: layout = depth == 8 || depth == 16; break;
    }
    if (!layout || chunk[18] != 0 || chunk[19] != 0 || chunk[20] > 1) return {};
    return {static_cast<int32_t>(width), static_cast<int32_t>(height)};
}
