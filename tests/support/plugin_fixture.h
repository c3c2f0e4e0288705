// Loads the built Tolvane.so once per test program and creates instances of it
// through the entry point, as a host does.
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "PluginHost.h"

inline PluginLibrary& tolvaneLibrary() {
    static PluginLibrary library(TOLVANE_PLUGIN_PATH);
    return library;
}

inline std::unique_ptr<PluginInstance> newTolvane() {
    auto instance = tolvaneLibrary().createInstance();
    EXPECT_TRUE(instance) << tolvaneLibrary().error();
    return instance;
}

struct StereoBuffer {
    std::vector<float> left, right;
    explicit StereoBuffer(size_t frames = 0, float fill = 0.0f) : left(frames, fill), right(frames, fill) {}
    size_t frames() const { return left.size(); }
    bool operator==(const StereoBuffer& o) const {
        return left.size() == o.left.size() &&
               std::memcmp(left.data(), o.left.data(), left.size() * sizeof(float)) == 0 &&
               std::memcmp(right.data(), o.right.data(), right.size() * sizeof(float)) == 0;
    }
};

// Processes `in` through the instance in blocks of `block` frames.
inline StereoBuffer processInBlocks(PluginInstance& plugin, const StereoBuffer& in, size_t block = 512) {
    StereoBuffer out(in.frames());
    for (size_t start = 0; start < in.frames(); start += block) {
        const size_t n = std::min(block, in.frames() - start);
        float* inputs[2] = {const_cast<float*>(in.left.data() + start), const_cast<float*>(in.right.data() + start)};
        float* outputs[2] = {out.left.data() + start, out.right.data() + start};
        plugin.process(inputs, outputs, static_cast<VstInt32>(n));
    }
    return out;
}

// A deterministic test signal with loud bursts and quiet passages.
inline StereoBuffer burstSignal(size_t frames, uint32_t seed = 1) {
    StereoBuffer s(frames);
    uint32_t state = seed;
    auto noise = [&] {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<int32_t>(state)) / 2147483648.0f;
    };
    for (size_t n = 0; n < frames; ++n) {
        const float level = (n / 2205) % 3 == 0 ? 0.95f : (n / 2205) % 3 == 1 ? 0.05f : 0.3f;
        s.left[n] = noise() * level;
        s.right[n] = noise() * level * 0.7f;
    }
    return s;
}
