#include "TolvaneParameterManager.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

// 9/109 and 100/109: 12100^n scaled so that n = 0, 0.5, 1 give 1, 10, 1000.
static constexpr double ratioScale = 0.0825688073394494;
static constexpr double ratioOffset = 0.9174311926605536;
// 1 / ln 12100, held as a float32 like every stored value.
static const float ratioLogScale = static_cast<float>(1.0 / std::log(12100.0));

TolvaneParameterManager::TolvaneParameterManager() {
    for (int32_t i = 0; i < tolvane::kParameterCount; ++i) {
        const tolvane::ParameterInfo& p = tolvane::kParameters[i];
        addParameter(i, std::string(p.name).c_str(), std::string(p.shortName).c_str(), std::string(p.unit).c_str(),
                     p.min, p.max, p.defaultPlain, kLinear);
    }
}

TolvaneParameterManager::~TolvaneParameterManager() = default;

float TolvaneParameterManager::getProcessingValue(int32_t index) { return qm_paramManager::getProcessingValue(index); }

float TolvaneParameterManager::normalizedToPlain(int32_t index, float n) {
    if (index != tolvane::kRatio) return qm_paramManager::normalizedToPlain(index, n);
    const float power = static_cast<float>(std::pow(12100.0, static_cast<double>(n)));
    const float scaled = static_cast<float>(power * ratioScale);
    return static_cast<float>(scaled + ratioOffset);
}

float TolvaneParameterManager::plainToNormalized(int32_t index, float p) {
    if (index != tolvane::kRatio) return qm_paramManager::plainToNormalized(index, p);
    // Rounding the quotient first makes a ratio of 1 come back as exactly 0.
    const float quotient = static_cast<float>((p - ratioOffset) / ratioScale);
    const float logarithm = static_cast<float>(std::log(static_cast<double>(quotient)));
    return static_cast<float>(static_cast<double>(logarithm) * ratioLogScale);
}

void TolvaneParameterManager::getDisplay(int32_t index, char* text, int32_t length) {
    if (length < 1) return;
    const double n = getNormalized(index);
    switch (index) {
    case tolvane::kRatio:
        qm_paramManager::getDisplay(index, text, length);
        if (static_cast<int32_t>(std::strlen(text)) < length - 2) std::strcat(text, ":1");
        break;
    case tolvane::kAttack:
    case tolvane::kRelease:
        // A 1.0 .. 10.0 scale, independent of the milliseconds.
        std::snprintf(text, static_cast<size_t>(length), "%2.1f", n * 9.0 + 1.0);
        break;
    case tolvane::kActive:
        // In double: 0.29 as a float is just below 0.29, so it shows 28%.
        std::snprintf(text, static_cast<size_t>(length), "%d%%", truncateToInt(n * 100.0));
        break;
    default: formatValue(index, text, getPlain(index), length); break;
    }
}
