// parity_render: renders one raw signal through the five programs of a plug-in
// build and compares renderings, so that builds for different platforms can be
// held against each other sample for sample.
//
//   parity_render --make-input FILE           the drum loop, raw stereo float32
//   parity_render PLUGIN INPUT OUTPUT_PREFIX  OUTPUT_PREFIX<N>.raw for programs 0..4;
//                                             a side-chain plug-in (four inputs) is keyed,
//                                             Key External, by the input a beat later
//   parity_render --compare A B               the largest difference, in ULPs
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "DrumLoop.h"
#include "PluginHost.h"

namespace {

bool readRaw(const std::string& path, std::vector<float>& samples) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    float buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, sizeof(float), 4096, f)) > 0) samples.insert(samples.end(), buffer, buffer + got);
    std::fclose(f);
    return true;
}

bool writeRaw(const std::string& path, const std::vector<float>& samples) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(samples.data(), sizeof(float), samples.size(), f) == samples.size();
    return std::fclose(f) == 0 && ok;
}

int64_t ulps(float a, float b) {
    auto ordered = [](float f) {
        int32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        return bits < 0 ? int64_t(INT32_MIN) - bits : int64_t(bits);
    };
    return std::llabs(ordered(a) - ordered(b));
}

int render(const std::string& pluginPath, const std::string& inputPath, const std::string& prefix) {
    std::vector<float> input;
    if (!readRaw(inputPath, input) || input.size() % 2) {
        std::fprintf(stderr, "parity_render: cannot read %s\n", inputPath.c_str());
        return 1;
    }
    PluginLibrary library(pluginPath);
    if (!library.loaded()) {
        std::fprintf(stderr, "parity_render: %s\n", library.error().c_str());
        return 1;
    }
    const size_t frames = input.size() / 2, block = 512, keyDelay = 11025;
    std::vector<float> left(frames), right(frames), outLeft(frames), outRight(frames), out(input.size());
    std::vector<float> keyLeft(frames), keyRight(frames);
    for (size_t n = 0; n < frames; ++n) left[n] = input[2 * n], right[n] = input[2 * n + 1];
    for (size_t n = keyDelay; n < frames; ++n) keyLeft[n] = left[n - keyDelay], keyRight[n] = right[n - keyDelay];
    for (VstInt32 program = 0; program < 5; ++program) {
        auto plugin = library.createInstance();
        if (!plugin) return 1;
        plugin->dispatch(effOpen);
        plugin->dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
        plugin->dispatch(effSetProgram, 0, program);
        const bool keyed = plugin->effect()->numInputs == 4;
        if (keyed) plugin->setParameter(6, 1.0f);
        plugin->dispatch(effMainsChanged, 0, 1);
        for (size_t start = 0; start < frames; start += block) {
            const size_t n = std::min(block, frames - start);
            float* ins[4] = {left.data() + start, right.data() + start, keyLeft.data() + start,
                             keyRight.data() + start};
            float* outs[2] = {outLeft.data() + start, outRight.data() + start};
            plugin->process(ins, outs, static_cast<VstInt32>(n));
        }
        for (size_t n = 0; n < frames; ++n) out[2 * n] = outLeft[n], out[2 * n + 1] = outRight[n];
        if (!writeRaw(prefix + std::to_string(program) + ".raw", out)) return 1;
    }
    return 0;
}

int compare(const std::string& a, const std::string& b) {
    std::vector<float> x, y;
    if (!readRaw(a, x) || !readRaw(b, y) || x.size() != y.size()) {
        std::fprintf(stderr, "parity_render: %s and %s cannot be compared\n", a.c_str(), b.c_str());
        return 1;
    }
    int64_t largest = 0;
    size_t at = 0, differing = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const int64_t d = ulps(x[i], y[i]);
        differing += d != 0;
        if (d > largest) largest = d, at = i;
    }
    std::printf("%s vs %s: %zu of %zu samples differ, largest %lld ULP", a.c_str(), b.c_str(), differing, x.size(),
                static_cast<long long>(largest));
    if (largest)
        std::printf(" at sample %zu (%.9g vs %.9g)", at, static_cast<double>(x[at]), static_cast<double>(y[at]));
    std::printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--make-input") == 0) {
        const StereoSignal loop = makeDrumLoop();
        std::vector<float> interleaved(loop.frames() * 2);
        for (size_t n = 0; n < loop.frames(); ++n)
            interleaved[2 * n] = loop.left[n], interleaved[2 * n + 1] = loop.right[n];
        return writeRaw(argv[2], interleaved) ? 0 : 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "--compare") == 0) return compare(argv[2], argv[3]);
    if (argc == 4) return render(argv[1], argv[2], argv[3]);
    std::fprintf(stderr, "usage: parity_render --make-input FILE | PLUGIN INPUT OUTPUT_PREFIX | --compare A B\n");
    return 2;
}
