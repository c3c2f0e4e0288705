#include "TerminalMeter.h"

#include <cmath>
#include <cstdio>

#include "TolvaneEngine.h"

std::string meterLine(const char* programName, float meter, uint32_t sampleRate, uint32_t bufferFrames) {
    constexpr int kWidth = static_cast<int>(TolvaneEngine::kMeterFullScale);  // one column per decibel
    const float clamped = std::isfinite(meter) ? (meter < 0.0f ? 0.0f : meter > 1.0f ? 1.0f : meter) : 0.0f;
    const double decibels = static_cast<double>(TolvaneEngine::kMeterFullScale) * clamped;
    const int filled = static_cast<int>(std::lround(decibels));
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';
    char line[160];
    std::snprintf(line, sizeof line, "Tolvane \xE2\x80\x94 %s  [%s] %5.1f dB reduction   %u Hz, %u frames", programName,
                  bar, decibels, static_cast<unsigned>(sampleRate), static_cast<unsigned>(bufferFrames));
    return line;
}
