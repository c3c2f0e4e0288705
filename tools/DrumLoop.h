// A short drum-bus loop for demonstrations and tests: kick, snare and hi-hats
// at varied levels, synthesised here so no sample file is needed. The same
// seed always gives the same samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct StereoSignal {
    float sampleRate = 44100.0f;
    std::vector<float> left, right;
    size_t frames() const { return left.size(); }
};

// `bars` bars of 4/4 at `bpm`, peaking near -1 dBFS.
StereoSignal makeDrumLoop(float sampleRate = 44100.0f, int bars = 4, double bpm = 100.0, uint32_t seed = 1);
