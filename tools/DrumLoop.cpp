#include "DrumLoop.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double twoPi = 6.283185307179586;

// A small generator of our own (xorshift32), so the loop is the same with every
// standard library.
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed ? seed : 1) {}
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    double bipolar() { return next() / 2147483648.0 - 1.0; }  // -1 .. 1
    double between(double lo, double hi) { return lo + (hi - lo) * (next() / 4294967296.0); }
};

// A pitch-dropping sine with a fast click: a kick drum.
void addKick(StereoSignal& s, size_t start, float level) {
    const double rate = s.sampleRate;
    double phase = 0.0;
    for (size_t n = 0; n < static_cast<size_t>(0.45 * rate) && start + n < s.frames(); ++n) {
        const double t = n / rate;
        const double frequency = 48.0 + 110.0 * std::exp(-t * 28.0);
        phase += twoPi * frequency / rate;
        const double body = std::sin(phase) * std::exp(-t * 7.0);
        const double click = std::exp(-t * 400.0) * 0.4;
        const float v = static_cast<float>(level * (body + click));
        s.left[start + n] += v;
        s.right[start + n] += v;
    }
}

// Noise over a short tone: a snare, slightly wider than the kick.
void addSnare(StereoSignal& s, size_t start, float level, Noise& noise) {
    const double rate = s.sampleRate;
    for (size_t n = 0; n < static_cast<size_t>(0.3 * rate) && start + n < s.frames(); ++n) {
        const double t = n / rate;
        const double tone = std::sin(twoPi * 185.0 * t) * std::exp(-t * 30.0) * 0.5;
        const double rattle = std::exp(-t * 18.0);
        s.left[start + n] += static_cast<float>(level * (tone + noise.bipolar() * rattle * 0.7));
        s.right[start + n] += static_cast<float>(level * (tone + noise.bipolar() * rattle * 0.7));
    }
}

// Differentiated noise with a very short decay: a closed hi-hat, panned right.
void addHat(StereoSignal& s, size_t start, float level, Noise& noise) {
    const double rate = s.sampleRate;
    double previous = 0.0;
    for (size_t n = 0; n < static_cast<size_t>(0.06 * rate) && start + n < s.frames(); ++n) {
        const double t = n / rate;
        const double white = noise.bipolar();
        const double bright = (white - previous) * 0.5;
        previous = white;
        const double v = level * bright * std::exp(-t * 70.0);
        s.left[start + n] += static_cast<float>(v * 0.6);
        s.right[start + n] += static_cast<float>(v);
    }
}

}  // namespace

StereoSignal makeDrumLoop(float sampleRate, int bars, double bpm, uint32_t seed) {
    StereoSignal s;
    s.sampleRate = sampleRate;
    const double sixteenth = 60.0 / bpm / 4.0 * sampleRate;
    const size_t frames = static_cast<size_t>(std::ceil(sixteenth * 16 * bars + 0.5 * sampleRate));
    s.left.assign(frames, 0.0f);
    s.right.assign(frames, 0.0f);
    Noise noise(seed);
    auto humanise = [&] { return static_cast<float>(noise.between(0.8, 1.0)); };

    // One bar in sixteenths: K kick, S snare, h hat (accented on the beat).
    const char* kicks = "x.....x...x.....";
    const char* snares = "....x.......x..x";
    for (int bar = 0; bar < bars; ++bar) {
        for (int step = 0; step < 16; ++step) {
            const size_t at = static_cast<size_t>((bar * 16 + step) * sixteenth);
            if (kicks[step] == 'x') addKick(s, at, 0.75f * humanise());
            if (snares[step] == 'x') addSnare(s, at, (step == 15 ? 0.25f : 0.55f) * humanise(), noise);
            addHat(s, at, (step % 4 == 0 ? 0.3f : step % 2 == 0 ? 0.18f : 0.09f) * humanise(), noise);
        }
    }

    float peak = 0.0f;
    for (size_t n = 0; n < frames; ++n) peak = std::max({peak, std::fabs(s.left[n]), std::fabs(s.right[n])});
    const float gain = peak > 0.0f ? 0.89f / peak : 1.0f;  // about -1 dBFS
    for (size_t n = 0; n < frames; ++n) s.left[n] *= gain, s.right[n] *= gain;
    return s;
}
