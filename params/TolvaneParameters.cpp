#include "TolvaneParameters.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace tolvane {

namespace {

// 9/109 and 100/109: 12100^n scaled so that n = 0, 0.5, 1 give 1, 10, 1000.
constexpr double kRatioScale = 0.0825688073394494;
constexpr double kRatioOffset = 0.9174311926605536;

// strncpy into a buffer of `length` characters and a terminator.
void copyPadded(char* text, std::string_view source, int32_t length) {
    if (length < 0) return;
    int32_t i = 0;
    for (; i < length && i < static_cast<int32_t>(source.size()); ++i) text[i] = source[i];
    for (; i <= length; ++i) text[i] = '\0';
}

// trunc(v) for "%d", held inside the int32 range (NaN gives 0).
int32_t truncateToInt(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(v);
}

}  // namespace

float normalizedToPlain(int32_t index, float n) {
    if (!isRow(index)) return 0.0f;
    const ParameterInfo& p = kParameters[index];
    if (p.curve == Curve::kRatio) {
        const float power = static_cast<float>(std::pow(12100.0, static_cast<double>(n)));
        const float scaled = static_cast<float>(power * kRatioScale);
        return static_cast<float>(scaled + kRatioOffset);
    }
    const double min = p.min, max = p.max;
    return static_cast<float>(min + (max - min) * n);
}

float plainToNormalized(int32_t index, float plain) {
    if (!isRow(index)) return 0.0f;
    const ParameterInfo& p = kParameters[index];
    if (p.curve == Curve::kRatio) {
        // 1 / ln 12100, held as a float32. Rounding the quotient first makes a
        // ratio of 1 come back as exactly 0.
        const float logScale = static_cast<float>(1.0 / std::log(12100.0));
        const float quotient = static_cast<float>((plain - kRatioOffset) / kRatioScale);
        const float logarithm = static_cast<float>(std::log(static_cast<double>(quotient)));
        return static_cast<float>(static_cast<double>(logarithm) * logScale);
    }
    const double min = p.min, max = p.max;
    const float n = static_cast<float>((plain - min) / (max - min));
    return n > 1.0f ? 1.0f : n < 0.0f ? 0.0f : n;
}

void writeName(int32_t index, char* text, int32_t length) {
    const std::string_view name = !isRow(index) ? ""
                                  : length <= 8 ? kParameters[index].shortName
                                                : kParameters[index].name;
    copyPadded(text, name, length);
}

void writeUnit(int32_t index, char* text, int32_t length) {
    copyPadded(text, isRow(index) ? kParameters[index].unit : "", length);
}

void writeDisplay(int32_t index, float normalized, char* text, int32_t length) {
    if (length < 1) return;
    if (!isRow(index)) {
        text[0] = '\0';
        return;
    }
    const double n = normalized;
    const auto size = static_cast<size_t>(length);
    const Display display = kParameters[index].display;
    if (display == Display::kKey) {
        // VST 2.4's buffers hold seven characters: the short form there.
        const bool fits = length > 8;
        std::snprintf(text, size, "%s", n < 0.5 ? (fits ? "Internal" : "Int") : (fits ? "External" : "Ext"));
    } else if (display == Display::kScale) {
        std::snprintf(text, size, "%2.1f", n * 9.0 + 1.0);
    } else if (display == Display::kPercent) {
        // In double: 0.29 as a float is just below 0.29, so it shows 28%.
        std::snprintf(text, size, "%d%%", truncateToInt(n * 100.0));
    } else {
        // Cut at the length and padded with zeros, as strncpy does.
        char number[60] = {};
        std::snprintf(number, sizeof number, "%4.0f", static_cast<double>(normalizedToPlain(index, normalized)));
        std::strncpy(text, number, size);
        text[length - 1] = '\0';
        if (display == Display::kRatio && static_cast<int32_t>(std::strlen(text)) < length - 2) std::strcat(text, ":1");
    }
}

}  // namespace tolvane
