// vst3_parity_render BINARY INPUT OUTPUT_PREFIX: renders raw stereo float32
// (parity_render --make-input's drum loop) through the five programs of a
// VST3 binary, in blocks of 512, into OUTPUT_PREFIX<N>.raw, and again with
// the side-chain keyed by the loop a beat later and Key at External into
// OUTPUT_PREFIXsc-<N>.raw, so that the Linux and Windows binaries can be
// compared sample for sample.
#include <algorithm>
#include <cstdio>

#include "vst3_host.h"

int main(int argc, char** argv) {
    using namespace vst3host;
    if (argc != 4) {
        std::fprintf(stderr, "usage: vst3_parity_render BINARY INPUT OUTPUT_PREFIX\n");
        return 2;
    }
    std::vector<float> samples;
    if (std::FILE* f = std::fopen(argv[2], "rb")) {
        float buffer[4096];
        for (size_t got; (got = std::fread(buffer, sizeof(float), 4096, f)) > 0;)
            samples.insert(samples.end(), buffer, buffer + got);
        std::fclose(f);
    }
    Module module(argv[1]);
    if (samples.empty() || samples.size() % 2 || !module.factory) {
        std::fprintf(stderr, "vst3_parity_render: cannot read %s or load %s\n", argv[2], argv[1]);
        return 1;
    }
    const Signal in{2, samples};
    Signal key{2, std::vector<float>(samples.size())};
    std::copy(samples.begin(), samples.end() - 2 * 11025, key.samples.begin() + 2 * 11025);
    for (int program = 0; program < 10; ++program) {
        const bool keyed = program >= 5;
        Instance plugin(module);
        if (keyed && !plugin.activateKey(2)) return 1;
        const Signal out = render(
            plugin, in, 512,
            [&](size_t start) {
                if (start != 0) return;
                plugin.changes.add(101, 0, program % 5 / 4.0);
                if (keyed) plugin.changes.add(6, 0, 1.0);
            },
            keyed ? &key : nullptr);
        const std::string path = argv[3] + std::string(keyed ? "sc-" : "") + std::to_string(program % 5) + ".raw";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(out.samples.data(), sizeof(float), out.samples.size(), f) != out.samples.size()) return 1;
        std::fclose(f);
    }
    return 0;
}
