#include "TolvaneAudioPath.h"

#include <algorithm>
#include <cstring>

#include "qmsp_dynamics_steps.h"
#include "qmsp_fastmath.h"
#include "qmsp_fastmath_kernels.h"
#include "qmsp_vector.h"

// The helpers below hand vectors wider than an SSE register back by value;
// they are all inlined, so no call with the ABI the compiler warns about is
// ever made.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

constexpr int32_t kGroup = qmsp_compressor::Steps::kGroup;

// The pipeline's stages, by the group each works on in iteration i, whose
// detector steps through group i: that many groups ahead of the detector, or
// behind it.
constexpr int32_t kPeaksAhead = 1;        // the peaks of group i + 1
constexpr int32_t kComputerBehind = 1;    // the gain computer for group i - 1
constexpr int32_t kPrepareBehind = 2;     // prepare() for group i - 2
constexpr int32_t kRecursionsBehind = 3;  // the output recursions for group i - 3
constexpr int32_t kFinishBehind = 4;      // check() and finish() for group i - 4

// Each stage's results wait for the stages after it in a ring of slots, one
// per group. A group holds its slot from the iteration before its detector,
// which writes its frame count and its peaks, to the one that finishes it,
// which reads the count last: so the groups from i + kPeaksAhead back to
// i - kFinishBehind, six, are all in flight in iteration i, each in a slot of
// its own. A smaller ring compiles but hands a group the frame count of a
// later one: with four slots, the groups before the block take the counts of
// its first groups, and finish() writes them before the start of the output.
constexpr int32_t kGroupsInFlight = kPeaksAhead + kFinishBehind + 1;
constexpr int32_t kSlots = 8;
static_assert(kSlots >= kGroupsInFlight, "every group in flight needs a slot of its own");
static_assert((kSlots & (kSlots - 1)) == 0, "a power of two: slots are group indices masked");
constexpr int32_t slot(int32_t group) { return group & (kSlots - 1); }

// W lanes to a vector: 4 for SSE2, 8 for AVX2.
template <size_t W>
struct AudioPath {
    using K = qmsp_fastmath::Kernels<W>;
    using vd = typename K::vd;
    using vf = typename K::vf;
    using vi = typename K::vi;

    // Whether a group that needs the gain computer gets its own copy for
    // release-only detection too. Measured: on AVX2 it pays; on the baseline
    // path the fourth copy of the unrolled group costs more than it saves.
    static constexpr bool kReleasingWhileLoud = W == 8;

    // A group's frames as vectors: one, or two halves.
    static constexpr int32_t kLanes = static_cast<int32_t>(W);
    static constexpr int32_t kHalves = kGroup / kLanes;
    static_assert(kHalves * kLanes == kGroup);

    template <class To, class From>
    QMSP_ALWAYS_INLINE static To convert(const From& from) {
        return __builtin_convertvector(from, To);
    }

    // A group's frames from memory, the lanes past `count` set to 1; and back.
    struct Lanes {
        vf half[kHalves];

        QMSP_ALWAYS_INLINE void load(const float* from, int32_t count) {
            if (count == kGroup) {
                for (int32_t h = 0; h < kHalves; ++h) qmsp_load(from + h * kLanes, half[h]);
                return;
            }
            for (vf& h : half) h = vf{} + 1.0f;
            for (int32_t j = 0; j < count; ++j) half[j / kLanes][j % kLanes] = from[j];
        }
        QMSP_ALWAYS_INLINE void store(float* to, int32_t count) const {
            if (count == kGroup) {
                for (int32_t h = 0; h < kHalves; ++h) qmsp_store(to + h * kLanes, half[h]);
                return;
            }
            for (int32_t j = 0; j < count; ++j) to[j] = half[j / kLanes][j % kLanes];
        }
        // Lane by lane.
        QMSP_ALWAYS_INLINE void set(int32_t j, float value) { half[j / kLanes][j % kLanes] = value; }
        QMSP_ALWAYS_INLINE float operator[](int32_t j) const { return half[j / kLanes][j % kLanes]; }
    };

    QMSP_ALWAYS_INLINE static vf magnitude(const vf& v) {
        return reinterpret_cast<vf>(reinterpret_cast<vi>(v) & 0x7FFFFFFF);
    }
    // To +-1; a NaN passes (the filter and the detector recover from it on their own).
    QMSP_ALWAYS_INLINE static vf clipToFullScale(const vf& y) {
        const vf low = y < -1.0f ? vf{} - 1.0f : y;
        return low > 1.0f ? vf{} + 1.0f : low;
    }
    // Lanes that the low-pass's flush would change: zeros other than +0, denormal
    // numbers, infinities and NaN.
    QMSP_ALWAYS_INLINE static vi unfitLanes(const vf& v) {
        vi unfit;
        qmsp_unfitLanes(v, unfit);
        return unfit & (reinterpret_cast<vi>(v) != 0);
    }

    // The low-pass's feed-forward part for a group, y b0 + (the input before) b1,
    // where the input before the group's first is `previous`, which then becomes
    // the group's last.
    struct FeedForward {
        vd b0, b1;

        QMSP_ALWAYS_INLINE void apply(const Lanes& y, int32_t count, float& previous, double* out) const {
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

        BlockSettings(const TolvaneSignalBlocks& b, const qmsp_compressor::Steps& compressor)
            : inputGain(vf{} + compressor.getInputGain()),
              outputGain(vd{} + static_cast<double>(compressor.getOutputGain())),
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
        const float* keyLeft;  // what the detector reads: the input, or a key
        const float* keyRight;
        bool unityInput;
        BlockSettings settings;

        // The group's peaks (the lanes past `count` are 1).
        QMSP_ALWAYS_INLINE void peaks(int32_t first, int32_t count, Lanes& peak) const {
            Lanes l, r;
            l.load(keyLeft + first, count);
            r.load(keyRight + first, count);
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
        QMSP_ALWAYS_INLINE void prepare(int32_t first, int32_t count, const float* gains, History& history,
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
        QMSP_ALWAYS_INLINE void frame(OutputRecursions& r, Group& g, int32_t j, float reduction) const {
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
        QMSP_ALWAYS_INLINE void begin(const OutputRecursions& r, Group& g) const {
            g.startL = r.lowPassLeft.getPreviousOutput();
            g.startR = r.lowPassRight.getPreviousOutput();
            g.unchecked = true;
            for (vf& h : g.mix.half) h = vf{} + r.mix.value();
        }
        QMSP_ALWAYS_INLINE void settledFrame(OutputRecursions& r, Group& g, int32_t j) const {
            g.wetL.set(j, r.lowPassLeft.feedBackUnflushed(g.forwardL[j]));
            g.wetR.set(j, r.lowPassRight.feedBackUnflushed(g.forwardR[j]));
        }
        QMSP_ALWAYS_INLINE void check(OutputRecursions& r, Group& g) const {
            if (!g.unchecked) return;
            g.unchecked = false;
            vi unfit = vi{};
            for (int32_t h = 0; h < kHalves; ++h) unfit |= unfitLanes(g.wetL.half[h]) | unfitLanes(g.wetR.half[h]);
            if (!qmsp_anyLane(unfit)) return;
            r.lowPassLeft.setPreviousOutput(g.startL);
            r.lowPassRight.setPreviousOutput(g.startR);
            for (int32_t j = 0; j < kGroup; ++j) {
                g.wetL.set(j, r.lowPassLeft.feedBack(g.forwardL[j]));
                g.wetR.set(j, r.lowPassRight.feedBack(g.forwardR[j]));
            }
        }

        QMSP_ALWAYS_INLINE void finish(int32_t first, int32_t count, const Group& g) const {
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
        const float* keyLeft;   // what the detector reads: the input, or a key
        const float* keyRight;  // a stereo key's second channel, linked as stereo input is; else null
        BlockSettings settings;

        QMSP_ALWAYS_INLINE void peaks(int32_t first, int32_t count, Lanes& peak) const {
            Lanes x;
            x.load(keyLeft + first, count);
            for (int32_t h = 0; h < kHalves; ++h) peak.half[h] = magnitude(settings.inputGain * x.half[h]);
            if (!keyRight) return;
            Lanes r;
            r.load(keyRight + first, count);
            for (int32_t h = 0; h < kHalves; ++h) {
                const vf pr = magnitude(settings.inputGain * r.half[h]);
                peak.half[h] = peak.half[h] < pr ? pr : peak.half[h];
            }
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
        QMSP_ALWAYS_INLINE void prepare(int32_t first, int32_t count, const float* gains, History& history,
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
        QMSP_ALWAYS_INLINE void frame(OutputRecursions& r, Group& g, int32_t j, float reduction) const {
            const double m = r.mix.tick();
            g.mix.set(j, static_cast<float>(m));
            g.wet.set(j, r.lowPassLeft.feedBack(g.forward[j]));
            r.meter.step(reduction * static_cast<float>(m));
        }

        QMSP_ALWAYS_INLINE void begin(const OutputRecursions& r, Group& g) const {
            g.start = r.lowPassLeft.getPreviousOutput();
            g.unchecked = true;
            for (vf& h : g.mix.half) h = vf{} + r.mix.value();
        }
        QMSP_ALWAYS_INLINE void settledFrame(OutputRecursions& r, Group& g, int32_t j) const {
            g.wet.set(j, r.lowPassLeft.feedBackUnflushed(g.forward[j]));
        }
        QMSP_ALWAYS_INLINE void check(OutputRecursions& r, Group& g) const {
            if (!g.unchecked) return;
            g.unchecked = false;
            vi unfit = vi{};
            for (const vf& h : g.wet.half) unfit |= unfitLanes(h);
            if (!qmsp_anyLane(unfit)) return;
            r.lowPassLeft.setPreviousOutput(g.start);
            for (int32_t j = 0; j < kGroup; ++j) g.wet.set(j, r.lowPassLeft.feedBack(g.forward[j]));
        }

        // Mono keeps 1 - m a double where stereo rounds it to a float: the
        // effect's stereo loop names d = 1 - m once for both channels, and every
        // named value is a float, while its mono loop writes the blend as one
        // expression, f m + (1 - m) x. The two agree wherever 1 - m is a float:
        // for m = 0 and for every m from 0.5 to 1 (the difference of two floats
        // within a factor of two of each other is exact). They part in the last
        // bit only while a fade passes below one half.
        QMSP_ALWAYS_INLINE void finish(int32_t first, int32_t count, const Group& g) const {
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
    QMSP_ALWAYS_INLINE static void widenedMeterInputs(const float* reductions, float mix, double* out) {
        Lanes reduction;
        reduction.load(reductions, kGroup);
        for (int32_t h = 0; h < kHalves; ++h) {
            const vd in = convert<vd>(reduction.half[h] * mix);
            std::memcpy(out + h * kLanes, &in, sizeof in);
        }
    }

    // What the detector needs to know of a group's peaks ahead: whether all
    // are finite, and the largest (a NaN, which never attacks, counts as 0).
    QMSP_ALWAYS_INLINE static void summarize(const Lanes& peak, bool& finite, float& largest) {
        vi infinite = vi{};
        vf most = vf{};
        for (const vf& h : peak.half) {
            infinite |= h > 3.4028235e38f;
            most = most < h ? h : most;
        }
        finite = !qmsp_anyLane(infinite);
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
        int32_t count[kSlots];  // the group's frames: kGroup, fewer at the block's end, 0 outside the block
        typename Frames::Group output[kSlots];

        InFlight() {
            for (auto& group : output) group.unchecked = false;
            std::fill_n(count, kSlots, 0);
            std::fill_n(startEnvelope, kSlots, 0.0f);
        }
        int32_t countOf(int32_t group) const { return count[slot(group)]; }
    };

    // The vector stages of iteration i, each on a group of its own, none on
    // the groups outside the block (whose count is 0).
    template <class Frames>
    struct VectorStages {
        const Frames& io;
        InFlight<Frames>& ring;
        typename Frames::History& history;
        const int32_t i;

        QMSP_ALWAYS_INLINE void peaks() const {
            const int32_t group = i + kPeaksAhead;
            if (const int32_t count = ring.countOf(group); count > 0) {
                Lanes peak;
                io.peaks(group * kGroup, count, peak);
                peak.store(ring.peaks[slot(group)], kGroup);
                summarize(peak, ring.finitePeaks[slot(group)], ring.largestPeak[slot(group)]);
            }
        }
        QMSP_ALWAYS_INLINE void prepare() const {
            const int32_t group = i - kPrepareBehind;
            if (const int32_t count = ring.countOf(group); count > 0)
                io.prepare(group * kGroup, count, ring.gains[slot(group)], history, ring.output[slot(group)]);
        }
        QMSP_ALWAYS_INLINE void finish() const {
            const int32_t group = i - kFinishBehind;
            if (const int32_t count = ring.countOf(group); count > 0)
                io.finish(group * kGroup, count, ring.output[slot(group)]);
        }

        // In an interleaved group (wholeGroup below), after frames 1, 3 and 5.
        //
        // Why there: the vector stages need nothing that the detector or the
        // recursions compute in this iteration, so the processor can run them
        // while each recursion step waits for the one before it (a chain of
        // dependent operations, several cycles each), as long as they enter
        // its window of instructions in flight beside those steps. Bunched,
        // they crowd the window: all after frame 0 measured a tenth slower,
        // all after frame 7 a twentieth slower in mono. Spread one to every
        // other frame they measured fastest (after 0, 2, 4 or 2, 4, 6 as fast
        // within the noise); frame 0 already carries the group's set-up and
        // the gain computer's first step. The peaks come first because the
        // next iteration reads their summary before anything else; finish()
        // comes last, since nothing reads what it writes.
        template <int j>
        QMSP_ALWAYS_INLINE void afterFrame() const {
            if constexpr (j == 1) peaks();
            if constexpr (j == 3) prepare();
            if constexpr (j == 5) finish();
        }
    };

    // Where the detector and the output stage's recursions both have a whole
    // group, the detector's short step holds and the fade is settled, each
    // frame j takes one detector step (the release alone where releasesOnly()
    // allows), step j of the gain computer (unless no level of its group
    // reaches the threshold) and the recursions' step, unrolled; the vector
    // stages come between frames (stages.afterFrame<j>()).
    template <bool gainComputer, bool releasing, int j = 0, class Frames>
    QMSP_ALWAYS_INLINE static void wholeGroup(qmsp_compressor::Steps& detector, OutputRecursions& recursions,
                                              const Frames& io, typename K::HardKneeSteps& computer, const float* peaks,
                                              float* levels, typename Frames::Group& output, const double* meterInputs,
                                              const VectorStages<Frames>& stages) {
        if constexpr (j < kGroup) {
            if constexpr (releasing) levels[j] = detector.advanceEnvelopeReleasing();
            else levels[j] = detector.advanceEnvelopeShort(peaks[j]);
            if constexpr (gainComputer && j < K::HardKneeSteps::kSteps) computer.template step<j>();
            io.settledFrame(recursions, output, j);
            recursions.meter.stepWidened(meterInputs[j], io.settings.meterAttack, io.settings.meterRelease);
            stages.template afterFrame<j>();
            wholeGroup<gainComputer, releasing, j + 1>(detector, recursions, io, computer, peaks, levels, output,
                                                       meterInputs, stages);
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
    // The iterations run from the one that takes the first group's peaks to the
    // one that finishes the last group.
    template <class Frames>
    QMSP_ALWAYS_INLINE static void runPipeline(TolvaneSignalBlocks& blocks, const Frames& io, int32_t frames) {
        qmsp_compressor compressor = blocks.compressor;
        qmsp_compressor::Steps detector(compressor);
        OutputRecursions recursions{blocks.mix, blocks.meter, blocks.lowPassLeft, blocks.lowPassRight};
        InFlight<Frames> ring;
        auto computer = detector.template gainComputer<W>();
        typename Frames::History history = Frames::historyOf(recursions);
        const int32_t groups = (frames + kGroup - 1) / kGroup;
        for (int32_t i = -kPeaksAhead; i < groups + kFinishBehind; ++i) {
            const int32_t next = i + kPeaksAhead;
            ring.count[slot(next)] = next < groups ? std::min(kGroup, frames - next * kGroup) : 0;
            // The frames each recursion takes in this iteration: `detected` of
            // group i through the detector, `computed` of group i - 1 through
            // the gain computer, `recurred` of group i - 3 through the output
            // recursions; kGroup, fewer for the block's last group, 0 for the
            // groups before and after the block.
            const int32_t detected = ring.countOf(i), computed = ring.countOf(i - kComputerBehind),
                          recurred = ring.countOf(i - kRecursionsBehind);
            const float* peaks = ring.peaks[slot(i)];
            float* levels = ring.levels[slot(i)];
            float* computedLevels = ring.levels[slot(i - kComputerBehind)];
            float* computedGains = ring.gains[slot(i - kComputerBehind)];
            float* computedReductions = ring.reductions[slot(i - kComputerBehind)];
            const float* reductions = ring.reductions[slot(i - kRecursionsBehind)];
            typename Frames::Group& output = ring.output[slot(i - kRecursionsBehind)];
            if (ring.countOf(i - kFinishBehind) > 0) io.check(recursions, ring.output[slot(i - kFinishBehind)]);
            const VectorStages<Frames> stages{io, ring, history, i};
            const bool releasing = detector.releasesOnly(ring.largestPeak[slot(i)], ring.startEnvelope[slot(i - 1)]);
            ring.startEnvelope[slot(i)] = compressor.getEnvelope();
            if (detected == kGroup && recurred == kGroup && ring.finitePeaks[slot(i)] && detector.shortStepsHold() &&
                recursions.mix.isSettled()) {
                alignas(64) double meterInputs[kGroup];
                widenedMeterInputs(reductions, recursions.mix.value(), meterInputs);
                io.begin(recursions, output);
                const bool loud = detector.anyReachesThreshold(computedLevels);
                if (loud) {
                    computer.begin(computedLevels, kGroup, computedGains, computedReductions);
                } else {
                    std::fill_n(computedGains, kGroup, 1.0f);
                    std::fill_n(computedReductions, kGroup, 0.0f);
                }
                if (loud && releasing && kReleasingWhileLoud)
                    wholeGroup<true, true>(detector, recursions, io, computer, peaks, levels, output, meterInputs,
                                           stages);
                else if (loud)
                    wholeGroup<true, false>(detector, recursions, io, computer, peaks, levels, output, meterInputs,
                                            stages);
                else if (releasing)
                    wholeGroup<false, true>(detector, recursions, io, computer, peaks, levels, output, meterInputs,
                                            stages);
                else
                    wholeGroup<false, false>(detector, recursions, io, computer, peaks, levels, output, meterInputs,
                                             stages);
            } else {
                for (int32_t j = 0; j < detected; ++j) levels[j] = detector.advanceEnvelopeFromPeak(peaks[j]);
                if (computed > 0)
                    detector.gainsForGroup(computedLevels, computed, computer, computedGains, computedReductions);
                for (int32_t j = 0; j < recurred; ++j) io.frame(recursions, output, j, reductions[j]);
                stages.peaks();
                stages.prepare();
                stages.finish();
            }
        }
        detector.setLastGainReduction(ring.reductions[slot(groups - 1)][ring.countOf(groups - 1) - 1]);
        Frames::keepHistory(recursions, history);
        blocks.compressor = compressor;
        blocks.mix = recursions.mix;
        blocks.meter = recursions.meter;
        blocks.lowPassLeft = recursions.lowPassLeft;
        blocks.lowPassRight = recursions.lowPassRight;
    }

    QMSP_ALWAYS_INLINE static void stereo(TolvaneSignalBlocks& blocks, const TolvaneStereoFrames& f, int32_t frames) {
        const qmsp_compressor::Steps compressor(blocks.compressor);
        const bool unityInput = compressor.getInputGain() == 1.0f;
        const Stereo io{f.left,
                        f.right,
                        f.leftOut,
                        f.rightOut,
                        f.keyLeft ? f.keyLeft : f.left,
                        f.keyLeft ? (f.keyRight ? f.keyRight : f.keyLeft) : f.right,
                        unityInput,
                        BlockSettings(blocks, compressor)};
        runPipeline(blocks, io, frames);
    }
    QMSP_ALWAYS_INLINE static void mono(TolvaneSignalBlocks& blocks, const TolvaneMonoFrames& f, int32_t frames) {
        const Mono io{f.input, f.output, f.keyLeft ? f.keyLeft : f.input, f.keyLeft ? f.keyRight : nullptr,
                      BlockSettings(blocks, qmsp_compressor::Steps(blocks.compressor))};
        runPipeline(blocks, io, frames);
    }
};

void stereoBaseline(TolvaneSignalBlocks& blocks, const TolvaneStereoFrames& f, int32_t frames) {
    AudioPath<4>::stereo(blocks, f, frames);
}
void monoBaseline(TolvaneSignalBlocks& blocks, const TolvaneMonoFrames& f, int32_t frames) {
    AudioPath<4>::mono(blocks, f, frames);
}

#if defined(__x86_64__) || defined(__i386__)
// The same code for processors with AVX2: the same operations on vectors
// twice as wide, and the same bits.
__attribute__((target("avx2"))) void stereoAvx2(TolvaneSignalBlocks& blocks, const TolvaneStereoFrames& f,
                                                int32_t frames) {
    AudioPath<8>::stereo(blocks, f, frames);
}
__attribute__((target("avx2"))) void monoAvx2(TolvaneSignalBlocks& blocks, const TolvaneMonoFrames& f, int32_t frames) {
    AudioPath<8>::mono(blocks, f, frames);
}
#endif

}  // namespace

void tolvaneRunStereo(TolvaneSignalBlocks& blocks, const TolvaneStereoFrames& f, int32_t frames) {
    if (frames <= 0) return;  // the pipeline reads the last frame's reduction
#if defined(__x86_64__) || defined(__i386__)
    if (qmsp_fastmath::usesAvx2()) return stereoAvx2(blocks, f, frames);
#endif
    stereoBaseline(blocks, f, frames);
}

void tolvaneRunMono(TolvaneSignalBlocks& blocks, const TolvaneMonoFrames& f, int32_t frames) {
    if (frames <= 0) return;
#if defined(__x86_64__) || defined(__i386__)
    if (qmsp_fastmath::usesAvx2()) return monoAvx2(blocks, f, frames);
#endif
    monoBaseline(blocks, f, frames);
}

void tolvaneRunStereo(TolvaneSignalBlocks& blocks, const float* left, const float* right, float* leftOut,
                      float* rightOut, int32_t frames) {
    tolvaneRunStereo(blocks, TolvaneStereoFrames{left, right, leftOut, rightOut}, frames);
}

void tolvaneRunMono(TolvaneSignalBlocks& blocks, const float* input, float* output, int32_t frames) {
    tolvaneRunMono(blocks, TolvaneMonoFrames{input, output}, frames);
}
