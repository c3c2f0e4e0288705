// Points and rectangles in pixels, for every room that lays out or draws the
// editor: the window layer, the toolkit and the parameter table. A rectangle's
// right and bottom are one past its last pixel, so its width is right - left.
#pragma once

#include <algorithm>
#include <cstdint>

struct CPoint {
    int32_t x = 0, y = 0;
    bool operator==(const CPoint&) const = default;
};

struct CRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;

    constexpr int32_t width() const { return right - left; }
    constexpr int32_t height() const { return bottom - top; }
    constexpr bool isEmpty() const { return right <= left || bottom <= top; }
    // Where a click or a wheel turn lands: inside or on the edges, right and
    // bottom included.
    constexpr bool pointInside(CPoint p) const { return p.x >= left && p.x <= right && p.y >= top && p.y <= bottom; }
    constexpr CRect offset(int32_t dx, int32_t dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    constexpr CRect intersect(const CRect& o) const {
        return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right), std::min(bottom, o.bottom)};
    }
    bool operator==(const CRect&) const = default;
};
