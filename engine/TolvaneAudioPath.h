// Tolvane's audio path over one block, frame for frame the blocks' own
// arithmetic in their own order, so the output is the same to the bit as
// calling each block once per frame:
//
//   a = x * inputGain                       (compressor: detector on the key or the input, gain computer)
//   y = clip(gain * a * outputGain)         (to +-1; a NaN passes; mono: gain * (outputGain * a))
//   m = mix.tick()                          (the Active fade)
//   out = lowPass(y) * m + x * d            (stereo: d = float(1 - m), one for both channels)
//   out = lowPass(y) * m + (1 - m) * x      (mono: 1 - m stays a double)
//   meter.step(gainReduction * m)
//
// It runs as a pipeline over groups of 8 frames, so that the processor
// overlaps what the per-frame order would serialise: while the detector's
// envelope (a chain of dependent steps) runs for one group, the gain computer
// (batched log10 and 10^x, in steps) runs for the group before it and the
// output stage's recursions (low-pass, fade, meter) for an older one, frame
// for frame in the same loop; the rest of the output stage works on whole
// groups as vectors. Each frame's input is read before its output is
// written, so input and output may share buffers.
#pragma once

#include <cstdint>

#include "qmsp_block.h"
#include "qmsp_dynamics.h"
#include "qmsp_filter.h"
#include "qmsp_follower.h"

struct TolvaneSignalBlocks {
    qmsp_compressor compressor;
    qmsp_filter_butterworth_first_order_low_pass lowPassLeft{1000.0f};
    qmsp_filter_butterworth_first_order_low_pass lowPassRight{1000.0f};
    qmsp_smoother mix;
    qmsp_follower meter{};
};

// A block's buffers. The detector reads the key where there is one (keyLeft
// not null; keyRight null or keyLeft for a mono key feeding both), else the
// input; everything after the detector works on the input. Like the input,
// the key may share a buffer with an output: each frame is read before it is written.
struct TolvaneStereoFrames {
    const float* left;
    const float* right;
    float* leftOut;
    float* rightOut;
    const float* keyLeft = nullptr;
    const float* keyRight = nullptr;
};
struct TolvaneMonoFrames {
    const float* input;
    float* output;
    const float* keyLeft = nullptr;
    const float* keyRight = nullptr;  // a stereo key's peak is the louder channel's, as stereo input's
};
void tolvaneRunStereo(TolvaneSignalBlocks& blocks, const TolvaneStereoFrames& frames, int32_t count);
void tolvaneRunMono(TolvaneSignalBlocks& blocks, const TolvaneMonoFrames& frames, int32_t count);

// Linked stereo; `right` may be `left` (one input feeding both channels).
// No frames (or a negative count) change nothing.
void tolvaneRunStereo(TolvaneSignalBlocks& blocks, const float* left, const float* right, float* leftOut,
                      float* rightOut, int32_t frames);
// One channel, with the compressor's mono formulas; the left low-pass.
void tolvaneRunMono(TolvaneSignalBlocks& blocks, const float* input, float* output, int32_t frames);
