// Small PNG files made on the spot with libpng's writer: any colour type, bit
// depth, palette, transparency chunk and interlacing, from rows of samples.
#pragma once

#include <png.h>

#include <cstdint>
#include <vector>

struct PngLayout {
    int width = 1, height = 1;
    int colourType = PNG_COLOR_TYPE_RGB;
    int depth = 8;
    bool interlaced = false;
    std::vector<png_color> palette;
    std::vector<uint8_t> transparency;        // alpha per palette entry
    std::vector<uint16_t> transparentColour;  // grey, or red green blue
    std::vector<uint16_t> samples;            // width * height * channels, row by row
};

inline std::vector<unsigned char> writePng(const PngLayout& layout) {
    std::vector<unsigned char> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t n) {
            auto* v = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(p));
            v->insert(v->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, layout.width, layout.height, layout.depth, layout.colourType,
                 layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!layout.palette.empty())
        png_set_PLTE(png, info, layout.palette.data(), static_cast<int>(layout.palette.size()));
    if (!layout.transparency.empty() || !layout.transparentColour.empty()) {
        png_color_16 colour{};
        if (layout.transparentColour.size() == 1) colour.gray = layout.transparentColour[0];
        if (layout.transparentColour.size() == 3) {
            colour.red = layout.transparentColour[0];
            colour.green = layout.transparentColour[1];
            colour.blue = layout.transparentColour[2];
        }
        png_set_tRNS(png, info, layout.transparency.empty() ? nullptr : layout.transparency.data(),
                     static_cast<int>(layout.transparency.size()), &colour);
    }
    png_write_info(png, info);
    // Pack each row as the depth asks: sub-byte samples high bits first, 16-bit big-endian.
    const int channels = png_get_channels(png, info);
    std::vector<std::vector<png_byte>> rows(static_cast<size_t>(layout.height));
    std::vector<png_bytep> pointers;
    for (int y = 0; y < layout.height; ++y) {
        auto& row = rows[static_cast<size_t>(y)];
        row.assign(png_get_rowbytes(png, info), 0);
        for (int i = 0; i < layout.width * channels; ++i) {
            const uint16_t v = layout.samples[static_cast<size_t>(y * layout.width * channels + i)];
            if (layout.depth == 16) {
                row[static_cast<size_t>(2 * i)] = static_cast<png_byte>(v >> 8);
                row[static_cast<size_t>(2 * i + 1)] = static_cast<png_byte>(v);
            } else if (layout.depth == 8) {
                row[static_cast<size_t>(i)] = static_cast<png_byte>(v);
            } else {
                const int bit = i * layout.depth;
                row[static_cast<size_t>(bit / 8)] |= static_cast<png_byte>(v << (8 - layout.depth - bit % 8));
            }
        }
        pointers.push_back(row.data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}
