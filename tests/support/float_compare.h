// Comparisons in units in the last place, for results specified down to float32 rounding.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

// The same bits: tells -0 from +0 and one NaN from another, as == cannot.
inline bool sameFloat(float a, float b) {
    uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

// Distance between two finite floats in representable steps (0 when equal, also for +0/-0).
inline int64_t ulpDistance(float a, float b) {
    auto ordered = [](float f) {
        int32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        return bits < 0 ? int64_t(INT32_MIN) - bits : int64_t(bits);
    };
    const int64_t d = ordered(a) - ordered(b);
    return d < 0 ? -d : d;
}

inline ::testing::AssertionResult withinUlps(float actual, float expected, int64_t ulps) {
    const int64_t d = ulpDistance(actual, expected);
    if (d <= ulps) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << std::hexfloat << actual << " (" << std::defaultfloat << actual
                                         << "), expected " << expected << ": " << d << " ulps apart";
}

// The float nearest to a decimal written with the given number of significant
// digits matches `expected` when it rounds to the same digits.
inline ::testing::AssertionResult matchesDigits(float actual, double expected, int significantDigits) {
    const double scale = std::pow(10.0, significantDigits - 1 - std::floor(std::log10(std::fabs(expected))));
    if (std::round(actual * scale) == std::round(expected * scale)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << actual << ", expected " << expected << " to " << significantDigits
                                         << " digits";
}
