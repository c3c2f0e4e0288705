#include "CBitmap.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "ImageResources.h"

namespace {

// The decoded images of the resources, by id. The list only watches them: the
// bitmaps own them, so an image goes with its last bitmap. Editors of different
// instances may open on different threads, hence the mutex. Made at first use,
// so nothing runs or is decoded when the library loads.
struct SharedImages {
    std::mutex mutex;
    std::vector<std::pair<int32_t, std::weak_ptr<const DecodedImage>>> images;
};

SharedImages& sharedImages() {
    static SharedImages shared;
    return shared;
}

std::shared_ptr<const DecodedImage> sharedImage(int32_t id) {
    std::lock_guard<std::mutex> lock(sharedImages().mutex);
    auto& images = sharedImages().images;
    std::erase_if(images, [](const auto& entry) { return entry.second.expired(); });
    for (const auto& [key, watched] : images) {
        if (key != id) continue;
        if (std::shared_ptr<const DecodedImage> image = watched.lock()) return image;
    }
    // Decoded under the lock: editors opening at once decode each image once.
    // Not make_shared, whose single block the list's watch would keep allocated.
    const platform::ResourceBytes bytes = platform::findPngResource(id);
    std::shared_ptr<const DecodedImage> image(new DecodedImage(decodePng(bytes.data, bytes.size)));
    std::erase_if(images, [id](const auto& entry) { return entry.first == id; });
    images.emplace_back(id, image);
    return image;
}

}  // namespace

CBitmap::CBitmap(int32_t id) : image(sharedImage(id)) {
    CDrawingRuntime::acquire();
    decoded = !image->pixels.empty();
}

CBitmap::CBitmap(const unsigned char* png, size_t size)
    : image(std::make_shared<const DecodedImage>(decodePng(png, size))) {
    CDrawingRuntime::acquire();
    decoded = !image->pixels.empty();
}

CBitmap::~CBitmap() { CDrawingRuntime::release(); }

int32_t CBitmap::getSharedImageCount() {
    std::lock_guard<std::mutex> lock(sharedImages().mutex);
    const auto& images = sharedImages().images;
    return static_cast<int32_t>(
        std::count_if(images.begin(), images.end(), [](const auto& entry) { return !entry.second.expired(); }));
}

void CBitmap::draw(CDrawContext* context, const CRect& destination, CPoint source) {
    drawAlphaBlend(context, destination, source, 255);
}

void CBitmap::drawTransparent(CDrawContext* context, const CRect& destination, CPoint source) {
    drawAlphaBlend(context, destination, source, 255);
}

void CBitmap::drawAlphaBlend(CDrawContext* context, const CRect& destination, CPoint source, uint8_t opacity) {
    if (!context || image->pixels.empty()) return;
    context->drawPixels(image->pixels.data(), image->width, image->height, destination, source, opacity);
}
