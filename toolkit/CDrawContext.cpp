#include "CDrawContext.h"

namespace {

// x / 255 rounded, exact for 0 <= x <= 255 * 255, in integers on every platform.
inline uint32_t divide255(uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

inline uint32_t over(uint32_t source, uint32_t destination, uint32_t opacity) {
    if (opacity != 255) {
        uint32_t scaled = 0;
        for (int shift = 0; shift < 32; shift += 8) scaled |= divide255(((source >> shift) & 0xFF) * opacity) << shift;
        source = scaled;
    }
    const uint32_t alpha = source >> 24;
    if (alpha == 255) return source;
    if (alpha == 0 && source == 0) return destination;
    uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t s = (source >> shift) & 0xFF, d = (destination >> shift) & 0xFF;
        const uint32_t c = s + divide255(d * (255 - alpha));
        result |= (c > 255 ? 255 : c) << shift;
    }
    return result;
}

}  // namespace

CDrawContext::CDrawContext(int32_t w, int32_t h)
    : width(w > 0 ? w : 0),
      height(h > 0 ? h : 0),
      pixels(std::make_unique<uint32_t[]>(static_cast<size_t>(width) * height)) {
    clip = bounds();
}

void CDrawContext::fillRect(const CRect& r, CColor c) {
    const uint32_t pixel = c.toPixel();
    const CRect area = r.offset(offset.x, offset.y).intersect(clip);
    for (int32_t y = area.top; y < area.bottom; ++y)
        for (int32_t x = area.left; x < area.right; ++x) {
            uint32_t& to = pixels[static_cast<size_t>(y) * width + x];
            to = over(pixel, to, 255);
        }
}

void CDrawContext::drawRectOutline(const CRect& r) {
    const int32_t w = lineWidth > 0 ? lineWidth : 1;
    fillRect({r.left, r.top, r.right, r.top + w}, frameColor);
    fillRect({r.left, r.bottom - w, r.right, r.bottom}, frameColor);
    fillRect({r.left, r.top + w, r.left + w, r.bottom - w}, frameColor);
    fillRect({r.right - w, r.top + w, r.right, r.bottom - w}, frameColor);
}

void CDrawContext::drawPixels(const uint32_t* sourcePixels, int32_t sourceWidth, int32_t sourceHeight,
                              const CRect& destination, CPoint source, uint8_t opacity) {
    if (!sourcePixels || opacity == 0) return;
    const CRect placed = destination.offset(offset.x, offset.y);
    // The source image, placed where its pixel `source` meets the destination's corner.
    const CRect image = CRect{0, 0, sourceWidth, sourceHeight}.offset(placed.left - source.x, placed.top - source.y);
    const CRect area = placed.intersect(clip).intersect(image);
    if (area.isEmpty()) return;
    for (int32_t y = area.top; y < area.bottom; ++y) {
        const uint32_t* from =
            sourcePixels + static_cast<size_t>(y - image.top) * sourceWidth + (area.left - image.left);
        uint32_t* to = pixels.get() + static_cast<size_t>(y) * width + area.left;
        for (int32_t x = 0; x < area.width(); ++x) to[x] = over(from[x], to[x], opacity);
    }
}
