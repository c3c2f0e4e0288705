// The gain-reduction meter as one terminal line, redrawn in place when the
// program runs without its editor:
//
//   Tolvane — NY Compression  [#######.............]   7.1 dB reduction   48000 Hz, 64 frames
//
// One '#' per decibel of reduction, up to the meter's 20 dB.
#pragma once

#include <cstdint>
#include <string>

// `meter` is the engine's 0..1 (0 dB to 20 dB of reduction).
std::string meterLine(const char* programName, float meter, uint32_t sampleRate, uint32_t bufferFrames);
