// Per-frame cost of the audio path's blocks, as a baseline for later work.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "qmsp_dynamics.h"
#include "qmsp_filter.h"

namespace {

// A drum-like test signal: loud bursts and quiet tails, so the detector both
// compresses and releases.
std::vector<float> testSignal(size_t frames) {
    std::mt19937 random(1);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> signal(frames);
    for (size_t n = 0; n < frames; ++n) signal[n] = noise(random) * ((n % 11025) < 2000 ? 0.9f : 0.02f);
    return signal;
}

qmsp_compressor drumBusCompressor() {
    qmsp_compressor c;
    c.setRatio(12.28f);
    c.setThreshold(-35.1f);
    c.setAttack(0.04898f);
    c.setRelease(0.09055f);
    c.setOutputGain(14.26f);
    return c;
}

void CompressorStereo(benchmark::State& state) {
    const auto signal = testSignal(4096);
    auto c = drumBusCompressor();
    float left, right;
    for (auto _ : state) {
        for (size_t n = 0; n < signal.size(); ++n) {
            c.processStereo(signal[n], signal[signal.size() - 1 - n], &left, &right);
            benchmark::DoNotOptimize(left);
            benchmark::DoNotOptimize(right);
        }
    }
    state.SetItemsProcessed(state.iterations() * signal.size());
}
BENCHMARK(CompressorStereo);

void CompressorMono(benchmark::State& state) {
    const auto signal = testSignal(4096);
    auto c = drumBusCompressor();
    for (auto _ : state) {
        for (float x : signal) benchmark::DoNotOptimize(c.process(x));
    }
    state.SetItemsProcessed(state.iterations() * signal.size());
}
BENCHMARK(CompressorMono);

void LowPass(benchmark::State& state) {
    const auto signal = testSignal(4096);
    qmsp_filter_butterworth_first_order_low_pass filter(1000.0f);
    filter.setSampleRate(44100.0f);
    filter.setFrequency(9200.0f);
    for (auto _ : state) {
        for (float x : signal) benchmark::DoNotOptimize(filter.process(x));
    }
    state.SetItemsProcessed(state.iterations() * signal.size());
}
BENCHMARK(LowPass);

}  // namespace
