#include "PngEncoder.h"

#include <png.h>

#include <cstdio>

namespace {

void appendToVector(png_structp png, png_bytep data, png_size_t count) {
    auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + count);
}

void noFlush(png_structp) {}

// C style between setjmp and libpng's longjmp: only the caller's vector, which
// outlives it, and raw rows.
bool encodeRaw(const uint32_t* pixels, int32_t width, int32_t height, std::vector<unsigned char>* out,
               unsigned char* row) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return false;
    }
    png_set_write_fn(png, out, appendToVector, noFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int32_t y = 0; y < height; ++y) {
        const uint32_t* from = pixels + static_cast<size_t>(y) * width;
        for (int32_t x = 0; x < width; ++x) {
            row[3 * x] = static_cast<unsigned char>(from[x] >> 16);
            row[3 * x + 1] = static_cast<unsigned char>(from[x] >> 8);
            row[3 * x + 2] = static_cast<unsigned char>(from[x]);
        }
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::vector<unsigned char> encodePng(const uint32_t* pixels, int32_t width, int32_t height) {
    std::vector<unsigned char> out;
    if (!pixels || width <= 0 || height <= 0) return out;
    std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
    if (!encodeRaw(pixels, width, height, &out, row.data())) out.clear();
    return out;
}

bool writePngFile(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height) {
    const std::vector<unsigned char> png = encodePng(pixels, width, height);
    if (png.empty()) return false;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    ok = std::fclose(f) == 0 && ok;
    return ok;
}
