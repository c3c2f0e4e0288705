#include "TolvanePrograms.h"

#include <cstring>

TolvaneProgram::TolvaneProgram() {
    std::memset(name, 0, sizeof name);
    std::strcpy(name, "init");
}

// With the parameter curves these are, in order: ratio, attack, release,
// threshold, make-up gain, wet share.
const TolvanePreset tolvaneFactoryPresets[kTolvaneProgramCount] = {
    // 12.28:1, 48.98 ms, 90.55 ms, -35.1 dB, 14.26 dB, 1
    {"Drum Buss Squisher", 0.523857f, 0.489787f, 0.277769f, 0.585f, 0.47526f, 1.0f},
    // 127.21:1, 18.01 ms, 23.05 ms, -54 dB, 30 dB, 1
    {"Gone Nuclear", 0.78f, 0.18f, 0.045f, 0.9f, 1.0f, 1.0f},
    // 1000:1, 0.01 ms, 10 ms, -47.1 dB, 30 dB, 1
    {"Full Monty", 1.0f, 0.0f, 0.0f, 0.785f, 1.0f, 1.0f},
    // 2.57:1, 16.49 ms, 90.55 ms, -18.9 dB, 2.86 dB, 1
    {"Just a touch", 0.318857f, 0.164787f, 0.277769f, 0.315f, 0.09526f, 1.0f},
    // 1.77:1, 7.51 ms, 76.7 ms, -41.4 dB, 17.26 dB, a parallel blend of 36 % wet
    {"NY Compression", 0.248857f, 0.075f, 0.23f, 0.69f, 0.575342f, 0.356164f},
};
