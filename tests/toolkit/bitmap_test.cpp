// The editor's images: found by id, decoded with libpng into premultiplied
// pixels, drawn in film-strip frames that sit seamlessly on the panel, and
// hostile PNG data that must neither crash nor leak.
#include "CBitmap.h"
#include "png_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>

#include "ImageResources.h"

namespace {

// A bitmap released when the test is done with it.
struct Bitmap {
    CBitmap* b;
    explicit Bitmap(int32_t id) : b(new CBitmap(id)) {}
    Bitmap(const std::vector<unsigned char>& png) : b(new CBitmap(png.data(), png.size())) {}
    ~Bitmap() { b->forget(); }
    CBitmap* operator->() const { return b; }
    uint32_t at(int32_t x, int32_t y) const { return b->getPixels()[static_cast<size_t>(y) * b->getWidth() + x]; }
};

struct Strip {
    int32_t id;
    CRect rect;  // in the editor
    int32_t frames, frameHeight;
};
// The size menu opens wherever it is asked for, over the panel: its rectangle is its own.
constexpr int32_t kSizeMenu = 10009;
const Strip strips[] = {
    {10001, {14, 65, 109, 152}, 33, 87},  {10002, {109, 65, 204, 152}, 33, 87}, {10003, {201, 65, 296, 152}, 33, 87},
    {10004, {475, 65, 570, 152}, 33, 87}, {10005, {568, 65, 663, 152}, 33, 87}, {10006, {316, 39, 434, 160}, 33, 121},
    {10007, {668, 54, 750, 143}, 2, 89},  {kSizeMenu, {0, 0, 128, 94}, 3, 94},  {10010, {190, 166, 300, 198}, 2, 32},
};

// Each image is also drawn at 150 % (id + 100) and 200 % (id + 200). Scaling
// rounds every edge half up on its own, so a frame is as tall as its scaled
// rectangle: 87 rows become 130 at 150 % (65..152 is 98..228).
struct Scale {
    int32_t idOffset, num, den;
    int32_t operator()(int32_t v) const { return (v * num + den / 2) / den; }
};
const Scale scales[] = {{0, 1, 1}, {100, 3, 2}, {200, 2, 1}};

TEST(Images, EveryImageHasItsSizeAtEveryScaleAndNoOtherIdExists) {
    for (const Scale& scale : scales) {
        for (const Strip& s : strips) {
            Bitmap b(s.id + scale.idOffset);
            const int32_t frameHeight = scale(s.rect.bottom) - scale(s.rect.top);
            EXPECT_EQ(b->getWidth(), scale(s.rect.right) - scale(s.rect.left)) << s.id << " at " << scale.num;
            EXPECT_EQ(b->getHeight(), s.frames * frameHeight) << s.id << " at " << scale.num;
            if (scale.idOffset == 0) {
                EXPECT_EQ(frameHeight, s.frameHeight) << s.id;
            }
        }
        for (int32_t id : {10000, 10008}) {
            Bitmap b(id + scale.idOffset);
            EXPECT_EQ(b->getWidth(), scale(750)) << id << " at " << scale.num;
            EXPECT_EQ(b->getHeight(), scale(200)) << id << " at " << scale.num;
        }
        Bitmap missing(10011 + scale.idOffset);
        EXPECT_FALSE(missing->isLoaded());
    }
    Bitmap missing(10011);
    EXPECT_EQ(missing->getWidth(), 0);
    EXPECT_EQ(missing->getHeight(), 0);
    EXPECT_FALSE(missing->isLoaded());
    CDrawContext context(10, 10);
    missing->draw(&context, {0, 0, 10, 10});
    for (int32_t i = 0; i < 100; ++i) ASSERT_EQ(context.getPixels()[i], 0u);
}

TEST(Images, AnOffsetOfWholeFramesShowsThatFrame) {
    for (const Strip& s : strips) {
        Bitmap b(s.id);
        for (int32_t k : {0, 1, s.frames / 2, s.frames - 1}) {
            CDrawContext context(s.rect.width(), s.rect.height());
            b->draw(&context, {0, 0, s.rect.width(), s.rect.height()}, {0, s.frameHeight * k});
            for (int32_t y = 0; y < s.frameHeight; ++y)
                for (int32_t x = 0; x < s.rect.width(); ++x)
                    ASSERT_EQ(context.pixelAt(x, y), b.at(x, s.frameHeight * k + y)) << s.id << " frame " << k;
        }
    }
}

// Drawing any frame over the panel leaves no seam: the outermost ring of
// every frame is the panel's own, and so is all of a knob's strip that a
// neighbour overlaps.
TEST(Images, EveryFrameSitsOnThePanelWithoutASeam) {
    Bitmap panel(10000);
    for (const Strip& s : strips) {
        if (s.id == kSizeMenu) continue;
        Bitmap b(s.id);
        for (int32_t k = 0; k < s.frames; ++k) {
            for (int32_t y = 0; y < s.frameHeight; ++y) {
                for (int32_t x = 0; x < s.rect.width(); ++x) {
                    const bool ring = x == 0 || y == 0 || x == s.rect.width() - 1 || y == s.frameHeight - 1;
                    const int32_t px = s.rect.left + x;
                    const bool overlapped = (px >= 201 && px < 204) || (px >= 568 && px < 570);
                    if (!ring && !(s.frameHeight == 87 && overlapped)) continue;
                    ASSERT_EQ(b.at(x, k * s.frameHeight + y), panel.at(px, s.rect.top + y))
                        << s.id << " frame " << k << " at " << x << "," << y;
                }
            }
        }
    }
}

// FNV-1a over the decoded pixels of all eleven images: the same on Linux and in
// both DLLs. Redrawn artwork changes these; the failure prints the new values.
TEST(Images, DecodedPixelsAreTheSameOnEveryPlatform) {
    const uint64_t expected[11] = {
#include "image_checksums.inc"
    };
    for (int32_t i = 0; i < 11; ++i) {
        Bitmap b(10000 + i);
        uint64_t hash = 1469598103934665603ull;
        for (int32_t n = 0; n < b->getWidth() * b->getHeight(); ++n) {
            hash = (hash ^ b->getPixels()[n]) * 1099511628211ull;
        }
        EXPECT_EQ(hash, expected[i]) << "image " << 10000 + i << ": 0x" << std::hex << hash << "ull,";
    }
}

// --- decoding ---------------------------------------------------------------

uint32_t bgra(uint32_t r, uint32_t g, uint32_t b, uint32_t a = 255) {
    return (a << 24) | (((r * a) >> 8) << 16) | (((g * a) >> 8) << 8) | ((b * a) >> 8);
}

TEST(PngDecoding, EveryColourTypeAndDepthBecomesPremultipliedBgra) {
    struct Case {
        const char* name;
        PngLayout layout;
        std::vector<uint32_t> expected;
    };
    const png_color palette[] = {{255, 0, 0}, {0, 128, 255}, {255, 255, 255}};
    const Case cases[] = {
        // Two cases spell their pixels out, so a fault bgra() shared with the decoder
        // would still show: opaque white is 254, and 200 at alpha 128 is 100.
        {"grey 1", {2, 1, PNG_COLOR_TYPE_GRAY, 1, false, {}, {}, {}, {0, 1}}, {0xFF000000u, 0xFFFEFEFEu}},
        {"grey 2",
         {4, 1, PNG_COLOR_TYPE_GRAY, 2, false, {}, {}, {}, {0, 1, 2, 3}},
         {bgra(0, 0, 0), bgra(85, 85, 85), bgra(170, 170, 170), bgra(255, 255, 255)}},
        {"grey 4", {2, 1, PNG_COLOR_TYPE_GRAY, 4, false, {}, {}, {}, {5, 15}}, {bgra(85, 85, 85), bgra(255, 255, 255)}},
        {"grey 8", {1, 1, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, {}, {200}}, {bgra(200, 200, 200)}},
        {"grey 16", {1, 1, PNG_COLOR_TYPE_GRAY, 16, false, {}, {}, {}, {0xABFF}}, {bgra(0xAB, 0xAB, 0xAB)}},
        {"grey with alpha", {1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, {}, {}, {}, {200, 128}}, {0x80646464u}},
        {"grey with a transparent level",
         {2, 1, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, {7}, {7, 8}},
         {0u, bgra(8, 8, 8)}},
        {"palette",
         {3, 1, PNG_COLOR_TYPE_PALETTE, 8, false, {palette, palette + 3}, {}, {}, {0, 1, 2}},
         {bgra(255, 0, 0), bgra(0, 128, 255), bgra(255, 255, 255)}},
        {"palette 2 bits with transparency",
         {2, 1, PNG_COLOR_TYPE_PALETTE, 2, false, {palette, palette + 3}, {64, 0}, {}, {0, 1}},
         {bgra(255, 0, 0, 64), 0u}},
        {"RGB 16",
         {1, 1, PNG_COLOR_TYPE_RGB, 16, false, {}, {}, {}, {0x1234, 0x5678, 0x9ABC}},
         {bgra(0x12, 0x56, 0x9A)}},
        {"RGB with a transparent colour",
         {2, 1, PNG_COLOR_TYPE_RGB, 8, false, {}, {}, {1, 2, 3}, {1, 2, 3, 1, 2, 4}},
         {0u, bgra(1, 2, 4)}},
        {"RGBA",
         {2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, {}, {}, {}, {255, 255, 255, 255, 9, 99, 199, 0}},
         {bgra(255, 255, 255), 0u}},
        {"interlaced",
         {3, 3, PNG_COLOR_TYPE_GRAY, 8, true, {}, {}, {}, {0, 10, 20, 30, 40, 50, 60, 70, 80}},
         {bgra(0, 0, 0), bgra(10, 10, 10), bgra(20, 20, 20), bgra(30, 30, 30), bgra(40, 40, 40), bgra(50, 50, 50),
          bgra(60, 60, 60), bgra(70, 70, 70), bgra(80, 80, 80)}},
    };
    for (const Case& c : cases) {
        const std::vector<unsigned char> png = writePng(c.layout);
        ASSERT_FALSE(png.empty()) << c.name;
        const DecodedImage image = decodePng(png.data(), png.size());
        ASSERT_EQ(image.width, c.layout.width) << c.name;
        ASSERT_EQ(image.height, c.layout.height) << c.name;
        EXPECT_EQ(image.pixels, c.expected) << c.name;
    }
}

TEST(PngDecoding, BadDataGivesNothingOrTheRowsDecodedSoFar) {
    const platform::ResourceBytes panel = platform::findPngResource(10000);
    ASSERT_NE(panel.data, nullptr);
    const std::vector<unsigned char> good(panel.data, panel.data + panel.size);
    const DecodedImage whole = decodePng(good.data(), good.size());
    ASSERT_EQ(whole.width, 750);

    for (size_t cut : {size_t{0}, size_t{7}, size_t{8}, size_t{20}, size_t{32}, size_t{33}, size_t{100},
                       good.size() / 2, good.size() - 13}) {
        const DecodedImage part = decodePng(good.data(), cut);
        // Cut well inside the image data, it keeps its size and the rows before the cut.
        const bool rowsBeforeTheCut = cut >= good.size() / 2;
        if (part.width == 0 && !rowsBeforeTheCut) continue;
        ASSERT_EQ(part.width, 750) << cut;
        ASSERT_EQ(part.height, 200) << cut;
        // Decoded rows are the image's; the rest is transparent black.
        size_t row = 0;
        while (row < 200 && std::equal(part.pixels.begin() + row * 750, part.pixels.begin() + (row + 1) * 750,
                                       whole.pixels.begin() + row * 750))
            ++row;
        if (rowsBeforeTheCut) {
            EXPECT_GT(row, 0u) << cut;
        }
        for (size_t n = row * 750 + 750; n < part.pixels.size(); ++n) ASSERT_EQ(part.pixels[n], 0u) << cut;
    }
    // Flipped bytes anywhere: whatever libpng makes of it, never a crash (ASan in CI).
    uint32_t state = 99;
    for (int round = 0; round < 200; ++round) {
        std::vector<unsigned char> bad = good;
        for (int flips = 0; flips < 4; ++flips) {
            state = state * 1664525u + 1013904223u;
            bad[(state >> 8) % bad.size()] ^= static_cast<unsigned char>(1u << (state >> 29));
        }
        const DecodedImage image = decodePng(bad.data(), bad.size());
        ASSERT_EQ(image.pixels.size(), static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
        // The header's checksum guards the size: the image's, or nothing.
        ASSERT_TRUE((image.width == 750 && image.height == 200) || (image.width == 0 && image.height == 0))
            << image.width << " x " << image.height;
    }
    // A header claiming 60000 x 60000 pixels is refused before anything is allocated.
    PngLayout tiny;
    tiny.samples = {1, 2, 3};
    std::vector<unsigned char> huge = writePng(tiny);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) huge[at + static_cast<size_t>(i)] = static_cast<unsigned char>(v >> (24 - 8 * i));
    };
    put32(16, 60000);
    put32(20, 60000);
    put32(29, static_cast<uint32_t>(crc32(crc32(0, nullptr, 0), huge.data() + 12, 17)));
    EXPECT_EQ(decodePng(huge.data(), huge.size()).width, 0);
    EXPECT_EQ(decodePng(nullptr, 0).width, 0);
}

// --- drawing ----------------------------------------------------------------

TEST(DrawContext, DrawsShiftedClippedAndBlended) {
    const uint32_t opaque = 0xFF102030u, half = 0x80402010u;
    const uint32_t source[4] = {opaque, half, opaque, 0u};  // 2 x 2
    CDrawContext context(4, 4);
    std::fill_n(context.getPixels(), 16, 0xFF000000u | 0x00FEFEFEu);
    context.setOffset({1, 1});
    context.setClipRect({0, 0, 4, 2});
    context.drawPixels(source, 2, 2, {0, 0, 2, 2}, {0, 0});
    EXPECT_EQ(context.pixelAt(1, 1), opaque) << "offset applied, opaque copies";
    EXPECT_EQ(context.pixelAt(2, 1), 0xFFBF9F8Fu) << "half covers: 0x40 + 0xFE * 127 / 255 ...";
    EXPECT_EQ(context.pixelAt(1, 2), 0xFFFEFEFEu) << "outside the clip rectangle";
    context.resetClipRect();
    context.setOffset({});
    context.drawPixels(source, 2, 2, {2, 2, 6, 6}, {0, 0}, 0x80);
    EXPECT_EQ(context.pixelAt(2, 2), 0xFF878F97u) << "opacity 128 over white";
    EXPECT_EQ(context.pixelAt(3, 3), 0xFFFEFEFEu) << "a transparent source pixel changes nothing";
    context.drawPixels(source, 2, 2, {0, 0, 1, 1}, {5, 5});
    EXPECT_EQ(context.pixelAt(0, 0), 0xFFFEFEFEu) << "outside the source draws nothing";
}

TEST(Images, ReferencesAndTheDrawingRuntimeBalance) {
    const int32_t before = CDrawingRuntime::getUsers();
    auto* b = new CBitmap(10007);
    EXPECT_EQ(CDrawingRuntime::getUsers(), before + 1);
    b->remember();
    EXPECT_EQ(b->getNbReference(), 2);
    b->forget();
    b->forget();
    EXPECT_EQ(CDrawingRuntime::getUsers(), before);
}

}  // namespace
