#include "CBitmap.h"

#include "ImageResources.h"

CBitmap::CBitmap(int32_t id) : resourceId(id) {
    CDrawingRuntime::acquire();
    const platform::ResourceBytes bytes = platform::findPngResource(id);
    image = decodePng(bytes.data, bytes.size);
    noAlpha = image.pixels.empty();
}

CBitmap::CBitmap(const unsigned char* png, size_t size) : resourceId(-1) {
    CDrawingRuntime::acquire();
    image = decodePng(png, size);
    noAlpha = image.pixels.empty();
}

CBitmap::~CBitmap() { CDrawingRuntime::release(); }

void CBitmap::draw(CDrawContext* context, const CRect& destination, CPoint source) {
    drawAlphaBlend(context, destination, source, 255);
}

void CBitmap::drawTransparent(CDrawContext* context, const CRect& destination, CPoint source) {
    drawAlphaBlend(context, destination, source, 255);
}

void CBitmap::drawAlphaBlend(CDrawContext* context, const CRect& destination, CPoint source, uint8_t opacity) {
    if (!context || image.pixels.empty()) return;
    context->drawPixels(image.pixels.data(), image.width, image.height, destination, source, opacity);
}
