#include <algorithm>
#include <atomic>

#include "EditorWindow.h"

namespace platform {

static std::atomic<bool> headless{false};

static std::atomic<double> fakeDesktopScale{0.0};

void useHeadlessWindows(bool on) { headless.store(on); }
bool headlessWindowsInUse() { return headless.load(); }
void setHeadlessDesktopScale(double factor) { fakeDesktopScale.store(factor); }
double headlessDesktopScale() { return fakeDesktopScale.load(); }

HeadlessWindow::HeadlessWindow(int32_t w, int32_t h, WindowClient* c)
    : width(w),
      height(h),
      client(c),
      shown(static_cast<size_t>(w) * static_cast<size_t>(h), 0u) {
    invalidate({0, 0, width, height});
}

void HeadlessWindow::invalidate(const CRect& area) {
    const CRect clipped = area.intersect({0, 0, width, height});
    if (!clipped.isEmpty()) invalid.push_back(clipped);
}

void HeadlessWindow::repaint() {
    std::vector<CRect> areas;
    areas.swap(invalid);
    for (const CRect& r : areas) {
        client->paint(r);
        const uint32_t* picture = client->picture();
        for (int32_t y = r.top; y < r.bottom; ++y)
            std::copy(picture + static_cast<size_t>(y) * width + r.left,
                      picture + static_cast<size_t>(y) * width + r.right,
                      shown.begin() + static_cast<ptrdiff_t>(static_cast<size_t>(y) * width + r.left));
        paintedPixels += static_cast<uint64_t>(r.width()) * static_cast<uint64_t>(r.height());
    }
}

}  // namespace platform
