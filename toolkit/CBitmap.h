// CBitmap: one of the editor's images, drawn in rectangular pieces (film strips
// hold their frames stacked from the top). A missing or undecodable image is
// 0 x 0 and draws nothing.
//
// An image of the resources is decoded when the first bitmap of its id is
// created and shared by every bitmap of that id in the process, whichever
// thread made it; it is freed with the last of them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "CBaseObject.h"
#include "CDrawContext.h"
#include "PngDecoder.h"

// Everyone who draws (bitmaps, frames, editors) holds a reference on the
// shared drawing runtime while alive. Ours needs no start-up; the count is kept
// so that leaks show. Any thread: hosts create instances on several at once.
class CDrawingRuntime {
public:
    static void acquire() { users.fetch_add(1, std::memory_order_relaxed); }
    static void release() { users.fetch_sub(1, std::memory_order_relaxed); }
    static int32_t getUsers() { return users.load(std::memory_order_relaxed); }

private:
    static inline std::atomic<int32_t> users{0};
};

class CBitmap : public CBaseObject {
public:
    explicit CBitmap(int32_t resourceId);
    // From PNG data in memory (tests, tools); not shared.
    CBitmap(const unsigned char* png, size_t size);

    // How many images of the resources are decoded in the process now.
    static int32_t getSharedImageCount();

    int32_t getWidth() const { return image->width; }
    int32_t getHeight() const { return image->height; }
    bool isLoaded() const { return decoded; }
    const uint32_t* getPixels() const { return image->pixels.data(); }

    // The piece of the image that starts at `source` and has the destination's
    // size, onto the destination rectangle.
    void draw(CDrawContext* context, const CRect& destination, CPoint source = {});
    void drawTransparent(CDrawContext* context, const CRect& destination, CPoint source = {});
    void drawAlphaBlend(CDrawContext* context, const CRect& destination, CPoint source, uint8_t opacity);

protected:
    ~CBitmap() override;

private:
    std::shared_ptr<const DecodedImage> image;  // never null
    bool decoded = false;
};
