// A test signal as the format tests hand it around: interleaved samples, one
// or two channels, compared bit for bit.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

struct Signal {
    int channels = 2;
    std::vector<float> samples;
    size_t frames() const { return samples.size() / static_cast<size_t>(channels); }
    bool operator==(const Signal& o) const {
        return channels == o.channels && samples.size() == o.samples.size() &&
               std::memcmp(samples.data(), o.samples.data(), samples.size() * sizeof(float)) == 0;
    }
};

// Loud bursts, quiet passages and levels between, the same for every run.
inline Signal testSignal(int channels, size_t frames = 11025) {
    Signal s{channels, std::vector<float>(frames * static_cast<size_t>(channels))};
    uint32_t state = 1;
    for (size_t n = 0; n < frames; ++n) {
        const float level = (n / 2205) % 3 == 0 ? 0.95f : (n / 2205) % 3 == 1 ? 0.05f : 0.3f;
        for (int c = 0; c < channels; ++c) {
            state = state * 1664525u + 1013904223u;
            s.samples[n * static_cast<size_t>(channels) + static_cast<size_t>(c)] =
                static_cast<float>(static_cast<int32_t>(state)) / 2147483648.0f * level * (c ? 0.7f : 1.0f);
        }
    }
    return s;
}
