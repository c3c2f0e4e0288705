#include "TolvaneAudioPath.h"

#include <algorithm>
#include <cstring>

#include "qmsp_fastmath.h"

// The helpers below hand vectors wider than an SSE register back by value;
// they are all inlined, so no call with the ABI the compiler warns about is
// ever made.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

constexpr int32_t kGroup = qmsp_compressor::kGroup;
// Each stage's results are kept for the stages after it in a ring of groups.
constexpr int32_t kSlots = 8;
static_assert((kSlots & (kSlots - 1)) == 0, "a power of two: slots are group indices masked");

// W lanes to a vector: 4 for SSE2, 8 for AVX2.
template <size_t W>
struct AudioPath {
    using K = qmsp_fastmath::Kernels<W>;
    using vd = typename K::vd;
    using vf = typename K::vf;
    using vi = typename K::vi;
    __attribute__((always_inline)) static bool anyLane(const vi& mask) { return K::anyLane(mask); }

    // Whether a group that needs the gain computer gets its own copy for
    // release-only detection too. Measured: on AVX2 it pays; on the baseline
    // path the fourth copy of the unrolled group costs more than it saves.
    static constexpr bool kReleasingWhileLoud = W == 8;

    // A group's frames as vectors: one, or two halves.
    static constexpr int32_t kLanes = static_cast<int32_t>(W);
    static constexpr int32_t kHalves = kGroup / kLanes;
    static_assert(kHalves * kLanes == kGroup);

    template <class To, class From>
    __attribute__((always_inline)) static To convert(const From& from) {
        return __builtin_convertvector(from, To);
    }

    // A group's frames from memory, the lanes past `count` set to 1; and back.
    struct Lanes {
        vf half[kHalves];

        __attribute__((always_inline)) void load(const float* from, int32_t count) {
            if (count == kGroup) {
                for (int32_t h = 0; h < kHalves; ++h) K::load(from + h * kLanes, half[h]);
                return;
            }
            for (vf& h : half) h = vf{} + 1.0f;
            for (int32_t j = 0; j < count; ++j) half[j / kLanes][j % kLanes] = from[j];
        }
        __attribute__((always_inline)) void store(float* to, int32_t count) const {
            if (count == kGroup) {
                for (int32_t h = 0; h < kHalves; ++h) K::store(to + h * kLanes, half[h]);
                return;
            }
            for (int32_t j = 0; j < count; ++j) to[j] = half[j / kLanes][j % kLanes];
        }
        // Lane by lane.
        __attribute__((always_inline)) void set(int32_t j, float value) { half[j / kLanes][j % kLanes] = value; }
        __attribute__((always_inline)) float operator[](int32_t j) const { return half[j / kLanes][j % kLanes]; }
    };

    __attribute__((always_inline)) static vf magnitude(const vf& v) {
        return reinterpret_cast<vf>(reinterpret_cast<vi>(v) & 0x7FFFFFFF);
    }
    // To +-1; a NaN passes (the filter and the detector recover from it on their own).
    __attribute__((always_inline)) static vf clipToFullScale(const vf& y) {
        const vf low = y < -1.0f ? vf{} - 1.0f : y;
        return low > 1.0f ? vf{} + 1.0f : low;
    }
    // Lanes that the low-pass's flush would change: zeros other than +0, denormal
    // numbers, infinities and NaN.
    __attribute__((always_inline)) static vi unfitLanes(const vf& v) {
        const vi bits = reinterpret_cast<vi>(v);
        const vi exponent = bits & 0x7F800000;
        return ((exponent == 0) | (exponent == 0x7F800000)) & (bits != 0);
    }

    // The low-pass's feed-forward part for a group, y b0 + (the input before) b1,
    // where the input before the group's first is `previous`, which then becomes
    // the group's last.
    struct FeedForward {
        vd b0, b1;

        __attribute__((always_inline)) void apply(const Lanes& y, int32_t count, float& previous, double* out) const {
            vf before[kHalves];
            if constexpr (kHalves == 1) {
                before[0] = __builtin_shufflevector(y.half[0], vf{} + previous, 8, 0, 1, 2, 3, 4, 5, 6);
            } else {
                before[0] = __builtin_shufflevector(y.half[0], vf{} + previous, 4, 0, 1, 2);
                before[1] = __builtin_shufflevector(y.half[1], y.half[0], 7, 0, 1, 2);
            }
            previous = y[count - 1];
            for (int32_t h = 0; h < kHalves; ++h) {
                const vd forward = convert<vd>(y.half[h]) * b0 + convert<vd>(before[h]) * b1;
                std::memcpy(out + h * kLanes, &forward, sizeof forward);
            }
        }
    };

    // A block's settings spread across vector lanes once, outside the loop.
    // Where the design rounds one double operation on two floats to float (the
    // input gain, the meter's input, 1 - mix), the code uses the float
    // operation: it gives the same bits, as a double has more than twice a
    // float's precision plus two bits.
    struct BlockSettings {
        vf inputGain;
        vd outputGain;
        FeedForward left, right;
        double meterAttack, meterRelease;

        explicit BlockSettings(const TolvaneSignalBlocks& b)
            : inputGain(vf{} + b.compressor.getInputGain()),
              outputGain(vd{} + static_cast<double>(b.compressor.getOutputGain())),
              left{vd{} + b.lowPassLeft.getB0(), vd{} + b.lowPassLeft.getB1()},
              right{vd{} + b.lowPassRight.getB0(), vd{} + b.lowPassRight.getB1()},
              meterAttack(b.meter.attackCoefficient),
              meterRelease(b.meter.releaseCoefficient) {}
    };

    // The output stage's recursions, copied out of the blocks for a block of
    // frames so that the compiler keeps their state in registers rather than in
    // memory that an output store might (for all it knows) overwrite.
    struct OutputRecursions {
        qmsp_smoother mix;
        qmsp_follower meter;
        qmsp_filter_butterworth_first_order_low_pass lowPassLeft, lowPassRight;
    };

    // One channel layout's frames, a group at a time: the detector's peaks, then
    // the output stage in three parts. prepare() does everything that depends on
    // no recursion, as vectors; the recursions (fade, low-pass, meter) run frame
    // by frame; finish() blends and writes the group. A group may be short
    // (count < kGroup) at the end of a block.
    //
    // The recursions come in two forms: frame(), for any group, flushes the
    // low-pass as it goes; settledFrame(), for a whole group while the fade is
    // settled, takes the fade's value as given and leaves the flush to check().
    struct Stereo {
        const float* left;
        const float* right;
        float* leftOut;
        float* rightOut;
        bool unityInput;
        BlockSettings settings;

        // The group's peaks (the lanes past `count` are 1).
        __attribute__((always_inline)) void peaks(int32_t first, int32_t count, Lanes& peak) const {
            Lanes l, r;
            l.load(left + first, count);
            r.load(right + first, count);
            for (int32_t h = 0; h < kHalves; ++h) {
                vf pl = l.half[h], pr = r.half[h];
                if (!unityInput) {  // x * 1.0 is x (a NaN's payload aside, which no comparison sees)
                    pl *= settings.inputGain;
                    pr *= settings.inputGain;
                }
                pl = magnitude(pl);
                pr = magnitude(pr);
                peak.half[h] = pl < pr ? pr : pl;
            }
        }

        struct Group {
            Lanes xL, xR, yL, yR;
            double forwardL[kGroup], forwardR[kGroup];
            Lanes wetL, wetR, mix;
            float startL, startR;
            bool unchecked;
        };
        struct History {  // the low-passes' input before the next group
            float left, right;
        };
        static History historyOf(const OutputRecursions& r) {
            return {r.lowPassLeft.getPreviousInput(), r.lowPassRight.getPreviousInput()};
        }
        static void keepHistory(OutputRecursions& r, const History& h) {
            r.lowPassLeft.setPreviousInput(h.left);
            r.lowPassRight.setPreviousInput(h.right);
        }
        __attribute__((always_inline)) void prepare(int32_t first, int32_t count, const float* gains, History& history,
                                                    Group& g) const {
            g.xL.load(left + first, count);
            g.xR.load(right + first, count);
            Lanes gain;
            gain.load(gains, kGroup);
            for (int32_t h = 0; h < kHalves; ++h) {
                const vd gd = convert<vd>(gain.half[h]);
                const vf aL = g.xL.half[h] * settings.inputGain;
                const vf aR = g.xR.half[h] * settings.inputGain;
                g.yL.half[h] = clipToFullScale(convert<vf>(gd * convert<vd>(aL) * settings.outputGain));
                g.yR.half[h] = clipToFullScale(convert<vf>(gd * convert<vd>(aR) * settings.outputGain));
            }
            settings.left.apply(g.yL, count, history.left, g.forwardL);
            settings.right.apply(g.yR, count, history.right, g.forwardR);
        }
        __attribute__((always_inline)) void frame(OutputRecursions& r, Group& g, int32_t j, float reduction) const {
            const float m = r.mix.tick();
            g.mix.set(j, m);
            g.wetL.set(j, r.lowPassLeft.feedBack(g.forwardL[j]));
            g.wetR.set(j, r.lowPassRight.feedBack(g.forwardR[j]));
            r.meter.step(reduction * m);
        }

        // A whole group's recursions run the low-passes without their flush:
        // begin() keeps their outputs from before, and check() (no sooner than
        // the next iteration, when the results have reached the cache) redoes
        // the group with the flush if any output is one the flush would change.
        __attribute__((always_inline)) void begin(const OutputRecursions& r, Group& g) const {
            g.startL = r.lowPassLeft.getPreviousOutput();
            g.startR = r.lowPassRight.getPreviousOutput();
            g.unchecked = true;
            for (vf& h : g.mix.half) h = vf{} + r.mix.value();
        }
        __attribute__((always_inline)) void settledFrame(OutputRecursions& r, Group& g, int32_t j) const {
            g.wetL.set(j, r.lowPassLeft.feedBackUnflushed(g.forwardL[j]));
            g.wetR.set(j, r.lowPassRight.feedBackUnflushed(g.forwardR[j]));
        }
        __attribute__((always_inline)) void check(OutputRecursions& r, Group& g) const {
            if (!g.unchecked) return;
            g.unchecked = false;
            vi unfit = vi{};
            for (int32_t h = 0; h < kHalves; ++h) unfit |= unfitLanes(g.wetL.half[h]) | unfitLanes(g.wetR.half[h]);
            if (!anyLane(unfit)) return;
            r.lowPassLeft.setPreviousOutput(g.startL);
            r.lowPassRight.setPreviousOutput(g.startR);
            for (int32_t j = 0; j < kGroup; ++j) {
                g.wetL.set(j, r.lowPassLeft.feedBack(g.forwardL[j]));
                g.wetR.set(j, r.lowPassRight.feedBack(g.forwardR[j]));
            }
        }

        __attribute__((always_inline)) void finish(int32_t first, int32_t count, const Group& g) const {
            Lanes outL, outR;
            for (int32_t h = 0; h < kHalves; ++h) {
                const vd m = convert<vd>(g.mix.half[h]);
                const vd d = convert<vd>(1.0f - g.mix.half[h]);
                outL.half[h] = convert<vf>(convert<vd>(g.wetL.half[h]) * m + convert<vd>(g.xL.half[h]) * d);
                outR.half[h] = convert<vf>(convert<vd>(g.wetR.half[h]) * m + convert<vd>(g.xR.half[h]) * d);
            }
            outL.store(leftOut + first, count);
            outR.store(rightOut + first, count);
        }
    };

    struct Mono {
        const float* input;
        float* output;
        BlockSettings settings;

        __attribute__((always_inline)) void peaks(int32_t first, int32_t count, Lanes& peak) const {
            Lanes x;
            x.load(input + first, count);
            for (int32_t h = 0; h < kHalves; ++h) peak.half[h] = magnitude(settings.inputGain * x.half[h]);
        }

        struct Group {
            Lanes x, y;
            double forward[kGroup];
            Lanes wet, mix;
            float start;
            bool unchecked;
        };
        struct History {
            float left;
        };
        static History historyOf(const OutputRecursions& r) { return {r.lowPassLeft.getPreviousInput()}; }
        static void keepHistory(OutputRecursions& r, const History& h) { r.lowPassLeft.setPreviousInput(h.left); }
        __attribute__((always_inline)) void prepare(int32_t first, int32_t count, const float* gains, History& history,
                                                    Group& g) const {
            g.x.load(input + first, count);
            Lanes gain;
            gain.load(gains, kGroup);
            for (int32_t h = 0; h < kHalves; ++h) {
                const vf a = settings.inputGain * g.x.half[h];
                g.y.half[h] =
                    clipToFullScale(convert<vf>(convert<vd>(gain.half[h]) * (settings.outputGain * convert<vd>(a))));
            }
            settings.left.apply(g.y, count, history.left, g.forward);
        }
        __attribute__((always_inline)) void frame(OutputRecursions& r, Group& g, int32_t j, float reduction) const {
            const double m = r.mix.tick();
            g.mix.set(j, static_cast<float>(m));
            g.wet.set(j, r.lowPassLeft.feedBack(g.forward[j]));
            r.meter.step(reduction * static_cast<float>(m));
        }

        __attribute__((always_inline)) void begin(const OutputRecursions& r, Group& g) const {
            g.start = r.lowPassLeft.getPreviousOutput();
            g.unchecked = true;
            for (vf& h : g.mix.half) h = vf{} + r.mix.value();
        }
        __attribute__((always_inline)) void settledFrame(OutputRecursions& r, Group& g, int32_t j) const {
            g.wet.set(j, r.lowPassLeft.feedBackUnflushed(g.forward[j]));
        }
        __attribute__((always_inline)) void check(OutputRecursions& r, Group& g) const {
            if (!g.unchecked) return;
            g.unchecked = false;
            vi unfit = vi{};
            for (const vf& h : g.wet.half) unfit |= unfitLanes(h);
            if (!anyLane(unfit)) return;
            r.lowPassLeft.setPreviousOutput(g.start);
            for (int32_t j = 0; j < kGroup; ++j) g.wet.set(j, r.lowPassLeft.feedBack(g.forward[j]));
        }

        __attribute__((always_inline)) void finish(int32_t first, int32_t count, const Group& g) const {
            Lanes out;
            for (int32_t h = 0; h < kHalves; ++h) {
                const vd m = convert<vd>(g.mix.half[h]);
                out.half[h] = convert<vf>(convert<vd>(g.wet.half[h]) * m + (1.0 - m) * convert<vd>(g.x.half[h]));
            }
            out.store(output + first, count);
        }
    };

    // The meter's inputs for a whole group with a settled fade, the reductions
    // times the fade's value, widened as follower::stepWidened takes them.
    __attribute__((always_inline)) static void widenedMeterInputs(const float* reductions, float mix, double* out) {
        Lanes reduction;
        reduction.load(reductions, kGroup);
        for (int32_t h = 0; h < kHalves; ++h) {
            const vd in = convert<vd>(reduction.half[h] * mix);
            std::memcpy(out + h * kLanes, &in, sizeof in);
        }
    }

    // What the detector needs to know of a group's peaks ahead: whether all
    // are finite, and the largest (a NaN, which never attacks, counts as 0).
    __attribute__((always_inline)) static void summarize(const Lanes& peak, bool& finite, float& largest) {
        vi infinite = vi{};
        vf most = vf{};
        for (const vf& h : peak.half) {
            infinite |= h > 3.4028235e38f;
            most = most < h ? h : most;
        }
        finite = !anyLane(infinite);
        vf other;
        if constexpr (kLanes == 8) {
            other = __builtin_shufflevector(most, most, 4, 5, 6, 7, 0, 1, 2, 3);
            most = most < other ? other : most;
            other = __builtin_shufflevector(most, most, 2, 3, 0, 1, 6, 7, 4, 5);
            most = most < other ? other : most;
            other = __builtin_shufflevector(most, most, 1, 0, 3, 2, 5, 4, 7, 6);
        } else {
            other = __builtin_shufflevector(most, most, 2, 3, 0, 1);
            most = most < other ? other : most;
            other = __builtin_shufflevector(most, most, 1, 0, 3, 2);
        }
        largest = (most < other ? other : most)[0];
    }

    // The ring of groups in flight, by group index modulo kSlots.
    template <class Frames>
    struct InFlight {
        alignas(64) float peaks[kSlots][kGroup];
        float largestPeak[kSlots];
        float startEnvelope[kSlots];  // the detector's envelope before the group
        alignas(64) float levels[kSlots][kGroup];
        alignas(64) float gains[kSlots][kGroup];
        alignas(64) float reductions[kSlots][kGroup];
        bool finitePeaks[kSlots];
        int32_t count[kSlots];
        typename Frames::Group output[kSlots];
    };

    // Where the detector and the output stage's recursions both have a whole
    // group, the detector's short step holds and the fade is settled, each frame
    // takes one detector step (the release alone where releasesOnly() allows),
    // one step of the gain computer (unless no level reaches the threshold) and
    // the recursions' step, unrolled; the vector stages come between frames
    // (afterFrame<j>), where the processor can run them beside the detector's
    // recursion instead of after it.
    template <bool gainComputer, bool releasing, int j = 0, class Frames, class Stages>
    __attribute__((always_inline)) static void wholeGroup(qmsp_compressor& compressor, OutputRecursions& recursions,
                                                          const Frames& io, typename K::HardKneeSteps& computer,
                                                          const float* peaks, float* levels,
                                                          typename Frames::Group& output, const double* meterInputs,
                                                          const Stages& afterFrame) {
        if constexpr (j < kGroup) {
            if constexpr (releasing)
                levels[j] = compressor.advanceEnvelopeReleasing();
            else
                levels[j] = compressor.advanceEnvelopeShort(peaks[j]);
            if constexpr (gainComputer && j < K::HardKneeSteps::kSteps) computer.template step<j>();
            io.settledFrame(recursions, output, j);
            recursions.meter.stepWidened(meterInputs[j], io.settings.meterAttack, io.settings.meterRelease);
            afterFrame.template operator()<j>();
            wholeGroup<gainComputer, releasing, j + 1>(compressor, recursions, io, computer, peaks, levels, output,
                                                       meterInputs, afterFrame);
        }
    }

    // The pipeline; see the header. Iteration i works on six groups at once:
    //   the peaks of group i + 1            (vectors)
    //   the detector for group i            (a recursion, frame by frame)
    //   the gain computer for group i - 1   (vectors, in steps)
    //   prepare() for group i - 2           (vectors)
    //   the output recursions for group i - 3
    //   finish() for group i - 4            (vectors, then the output is written)
    // so every result crosses an iteration before it is used (a load straight
    // after the stores that make its value would wait for them to reach the
    // cache), and the processor overlaps the recursions of the detector and the
    // output stage. Each group's input is read before any output of it is written.
    template <class Frames>
    __attribute__((always_inline)) static void runPipeline(TolvaneSignalBlocks& blocks, const Frames& io,
                                                           int32_t frames) {
        qmsp_compressor compressor = blocks.compressor;
        OutputRecursions recursions{blocks.mix, blocks.meter, blocks.lowPassLeft, blocks.lowPassRight};
        InFlight<Frames> ring;
        for (auto& group : ring.output) group.unchecked = false;
        auto computer = compressor.template gainComputerSteps<W>(compressor.getSlope());
        typename Frames::History history = Frames::historyOf(recursions);
        const int32_t groups = (frames + kGroup - 1) / kGroup;
        auto slot = [](int32_t group) { return group & (kSlots - 1); };
        // Each group's frame count, in its slot from its first stage on: 0 for
        // the groups before and after the block.
        std::fill_n(ring.count, kSlots, 0);
        std::fill_n(ring.startEnvelope, kSlots, 0.0f);
        auto countOf = [&](int32_t group) { return ring.count[slot(group)]; };

        for (int32_t i = -1; i < groups + 4; ++i) {
            ring.count[slot(i + 1)] = i + 1 < groups ? std::min(kGroup, frames - (i + 1) * kGroup) : 0;
            const int32_t detected = countOf(i), computed = countOf(i - 1), recurred = countOf(i - 3);
            const float* peaks = ring.peaks[slot(i)];
            float* levels = ring.levels[slot(i)];
            float* computedLevels = ring.levels[slot(i - 1)];
            float* computedGains = ring.gains[slot(i - 1)];
            float* computedReductions = ring.reductions[slot(i - 1)];
            const float* reductions = ring.reductions[slot(i - 3)];
            typename Frames::Group& output = ring.output[slot(i - 3)];
            if (countOf(i - 4) > 0) io.check(recursions, ring.output[slot(i - 4)]);
            auto peaksStage = [&]() __attribute__((always_inline)) {
                if (const int32_t count = countOf(i + 1); count > 0) {
                    Lanes peak;
                    io.peaks((i + 1) * kGroup, count, peak);
                    peak.store(ring.peaks[slot(i + 1)], kGroup);
                    summarize(peak, ring.finitePeaks[slot(i + 1)], ring.largestPeak[slot(i + 1)]);
                }
            };
            auto prepareStage = [&]() __attribute__((always_inline)) {
                if (const int32_t count = countOf(i - 2); count > 0)
                    io.prepare((i - 2) * kGroup, count, ring.gains[slot(i - 2)], history, ring.output[slot(i - 2)]);
            };
            auto finishStage = [&]() __attribute__((always_inline)) {
                if (const int32_t count = countOf(i - 4); count > 0)
                    io.finish((i - 4) * kGroup, count, ring.output[slot(i - 4)]);
            };
            auto afterFrame = [&]<int j>() __attribute__((always_inline)) {
                if constexpr (j == 1) peaksStage();
                if constexpr (j == 3) prepareStage();
                if constexpr (j == 5) finishStage();
            };
            const bool releasing = compressor.releasesOnly(ring.largestPeak[slot(i)], ring.startEnvelope[slot(i - 1)]);
            ring.startEnvelope[slot(i)] = compressor.getEnvelope();
            if (detected == kGroup && recurred == kGroup && ring.finitePeaks[slot(i)] && compressor.shortStepsHold() &&
                recursions.mix.isSettled()) {
                alignas(64) double meterInputs[kGroup];
                widenedMeterInputs(reductions, recursions.mix.value(), meterInputs);
                io.begin(recursions, output);
                const bool loud = compressor.anyReachesThreshold(computedLevels);
                if (loud) computer.begin(computedLevels, kGroup, computedGains, computedReductions);
                else {
                    std::fill_n(computedGains, kGroup, 1.0f);
                    std::fill_n(computedReductions, kGroup, 0.0f);
                }
                if (loud && releasing && kReleasingWhileLoud)
                    wholeGroup<true, true>(compressor, recursions, io, computer, peaks, levels, output, meterInputs,
                                           afterFrame);
                else if (loud)
                    wholeGroup<true, false>(compressor, recursions, io, computer, peaks, levels, output, meterInputs,
                                            afterFrame);
                else if (releasing)
                    wholeGroup<false, true>(compressor, recursions, io, computer, peaks, levels, output, meterInputs,
                                            afterFrame);
                else
                    wholeGroup<false, false>(compressor, recursions, io, computer, peaks, levels, output, meterInputs,
                                             afterFrame);
            } else {
                for (int32_t j = 0; j < detected; ++j) levels[j] = compressor.advanceEnvelopeFromPeak(peaks[j]);
                if (computed > 0)
                    compressor.gainsForGroup(computedLevels, computed, computer, computedGains, computedReductions);
                for (int32_t j = 0; j < recurred; ++j) io.frame(recursions, output, j, reductions[j]);
                peaksStage();
                prepareStage();
                finishStage();
            }
        }
        compressor.setLastGainReduction(ring.reductions[slot(groups - 1)][countOf(groups - 1) - 1]);
        Frames::keepHistory(recursions, history);
        blocks.compressor = compressor;
        blocks.mix = recursions.mix;
        blocks.meter = recursions.meter;
        blocks.lowPassLeft = recursions.lowPassLeft;
        blocks.lowPassRight = recursions.lowPassRight;
    }

    __attribute__((always_inline)) static void stereo(TolvaneSignalBlocks& blocks, const float* left,
                                                      const float* right, float* leftOut, float* rightOut,
                                                      int32_t frames) {
        const Stereo io{
            left, right, leftOut, rightOut, blocks.compressor.getInputGain() == 1.0f, BlockSettings(blocks)};
        runPipeline(blocks, io, frames);
    }
    __attribute__((always_inline)) static void mono(TolvaneSignalBlocks& blocks, const float* input, float* output,
                                                    int32_t frames) {
        const Mono io{input, output, BlockSettings(blocks)};
        runPipeline(blocks, io, frames);
    }
};

void stereoBaseline(TolvaneSignalBlocks& blocks, const float* left, const float* right, float* leftOut, float* rightOut,
                    int32_t frames) {
    AudioPath<4>::stereo(blocks, left, right, leftOut, rightOut, frames);
}
void monoBaseline(TolvaneSignalBlocks& blocks, const float* input, float* output, int32_t frames) {
    AudioPath<4>::mono(blocks, input, output, frames);
}

#if defined(__x86_64__) || defined(__i386__)
// The same code for processors with AVX2: the same operations on vectors
// twice as wide, and the same bits.
__attribute__((target("avx2"))) void stereoAvx2(TolvaneSignalBlocks& blocks, const float* left, const float* right,
                                                float* leftOut, float* rightOut, int32_t frames) {
    AudioPath<8>::stereo(blocks, left, right, leftOut, rightOut, frames);
}
__attribute__((target("avx2"))) void monoAvx2(TolvaneSignalBlocks& blocks, const float* input, float* output,
                                              int32_t frames) {
    AudioPath<8>::mono(blocks, input, output, frames);
}
#endif

}  // namespace

void tolvaneRunStereo(TolvaneSignalBlocks& blocks, const float* left, const float* right, float* leftOut,
                      float* rightOut, int32_t frames) {
    if (frames <= 0) return;  // the pipeline reads the last frame's reduction
#if defined(__x86_64__) || defined(__i386__)
    if (qmsp_fastmath::usesAvx2()) return stereoAvx2(blocks, left, right, leftOut, rightOut, frames);
#endif
    stereoBaseline(blocks, left, right, leftOut, rightOut, frames);
}

void tolvaneRunMono(TolvaneSignalBlocks& blocks, const float* input, float* output, int32_t frames) {
    if (frames <= 0) return;
#if defined(__x86_64__) || defined(__i386__)
    if (qmsp_fastmath::usesAvx2()) return monoAvx2(blocks, input, output, frames);
#endif
    monoBaseline(blocks, input, output, frames);
}
