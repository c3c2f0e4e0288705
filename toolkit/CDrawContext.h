// CDrawContext: drawing into a picture of our own in memory. Pixels are 32 bits,
// bytes blue, green, red, alpha, colour premultiplied by alpha, rows top first.
// Every platform draws the same pixels; a window layer only shows them.
//
// Coordinates given to the drawing calls are shifted by the offset, then
// limited to the clip rectangle (in picture coordinates) and the picture.
#pragma once

#include <cstdint>
#include <memory>

#include "CGeometry.h"

struct CColor {
    uint8_t red = 0, green = 0, blue = 0, alpha = 255;
    bool operator==(const CColor&) const = default;
    // Premultiplied, as the pixels are.
    uint32_t toPixel() const {
        return (uint32_t{alpha} << 24) | (uint32_t{red} * alpha / 255u << 16) | (uint32_t{green} * alpha / 255u << 8) |
               (uint32_t{blue} * alpha / 255u);
    }
};

class CDrawContext {
public:
    CDrawContext(int32_t width, int32_t height);

    int32_t getWidth() const { return width; }
    int32_t getHeight() const { return height; }
    uint32_t* getPixels() { return pixels.get(); }
    const uint32_t* getPixels() const { return pixels.get(); }
    uint32_t pixelAt(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }

    void setOffset(CPoint o) { offset = o; }
    // The whole picture when the rectangle is empty of meaning (reset).
    void setClipRect(const CRect& r) { clip = r.intersect(bounds()); }
    void resetClipRect() { clip = bounds(); }

    // Puts the source rectangle that starts at `source` and has the size of
    // `destination` over `destination`, 1:1: premultiplied colour over what is
    // beneath, every channel first scaled by opacity / 255. Parts outside the
    // source image draw nothing.
    void drawPixels(const uint32_t* sourcePixels, int32_t sourceWidth, int32_t sourceHeight, const CRect& destination,
                    CPoint source, uint8_t opacity = 255);

    // Lines: the frame colour and a width in whole pixels.
    void setFrameColor(CColor c) { frameColor = c; }
    CColor getFrameColor() const { return frameColor; }
    void setLineWidth(int32_t w) { lineWidth = w; }
    int32_t getLineWidth() const { return lineWidth; }
    // The rectangle's outermost rings of pixels, lineWidth of them.
    void drawRectOutline(const CRect& r);
    void fillRect(const CRect& r, CColor c);

private:
    CRect bounds() const { return {0, 0, width, height}; }

    int32_t width, height;
    // Cleared to 0 (transparent black) at construction, in one memset.
    std::unique_ptr<uint32_t[]> pixels;
    CPoint offset;
    CRect clip;
    CColor frameColor{0, 0, 0, 255};
    int32_t lineWidth = 1;
};
