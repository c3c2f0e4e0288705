// qmsp_block, qmsp_smoother: the base of every signal block, and a one-pole
// (exponential) glide toward a target value.
//
// Every block has the same life cycle. It is usable straight after
// construction, at 44100 Hz with its documented defaults; then
//   setSampleRate(hz) -> setters -> process() (or its own per-sample call) -> reset().
// setSampleRate keeps every time and frequency setting and recomputes what
// derives from it; reset touches only the running state (each block says how).
// The meter's qmsp_follower is a plain record beside this tree with the same
// life cycle but no rate of its own: its owner passes one wherever a
// coefficient is derived.
//
// Numbers: fields are float32. Each formula is evaluated in double precision and
// rounded to float32 exactly once, where a value is named, stored or returned.
// The transcendental functions are the double-precision ones (exp, not expf),
// so every build and platform computes the same bits.
#pragma once

#include <cstdint>

class qmsp_block {
public:
    qmsp_block();
    virtual ~qmsp_block();

    // Puts the running state back to its starting value. Empty here.
    virtual void reset();
    // Hz, > 0. Stores sampleRate, samplePeriod = 1/hz and samplesPerMs = hz * 0.001f.
    virtual void setSampleRate(float hz);
    // One sample in, one out. The base passes x through.
    virtual float process(float x);

    float getSampleRate() const { return sampleRate; }

protected:
    // settings
    float sampleRate;    // Hz
    float samplePeriod;  // seconds, 1 / sampleRate
    float samplesPerMs;  // sampleRate * 0.001 (the float32 0.001)
};

// One-pole smoother. `current` and `target` both carry a tiny offset (the float
// nearest 1e-12): a glide toward 0 then ends near 1e-12 instead of decaying into
// denormal numbers, so no explicit flush is needed. Outputs subtract the offset.
class qmsp_smoother : public qmsp_block {
public:
    qmsp_smoother();

    void setSampleRate(float hz) override;  // keeps the time in seconds; value and target untouched
    // Ends any glide: the output jumps to the target.
    void reset() override;
    float process(float x) override;  // setTarget(x) and tick() in one call

    // Seconds, >= 0. 0 makes the output jump to the target on the next tick.
    virtual void setTime(float seconds);
    // Time constants that fit in `time`, >= 1: the output covers 1 - e^-n of a step in `time`.
    virtual void setTimeConstants(int32_t count);
    // Value to glide toward; the glide starts from wherever the output is now.
    virtual void setTarget(float value);
    // Jumps to the value with no glide.
    virtual void setValue(float value);
    // Advances one sample toward the target and returns the new value.
    virtual float tick();
    // coefficient = exp(-1 / ((time / timeConstants) * sampleRate)).
    virtual void updateCoefficient();

    // Whether the glide has ended for good: the next tick would leave the
    // value where it is, and so would every tick after it. tick() then
    // returns value() and changes nothing.
    bool isSettled() const {
        return static_cast<float>((static_cast<double>(current) - target) * coefficient + target) == current;
    }
    float value() const {
        return static_cast<float>(static_cast<double>(current) - static_cast<double>(denormalOffset));
    }

    // Read-only views for the meter and tests.
    float getCoefficient() const { return coefficient; }
    float getTime() const { return time; }
    float getCurrent() const { return current; }  // includes denormalOffset

    static constexpr float denormalOffset = 1e-12f;

private:
    // settings
    float time;             // seconds, 0.005 after construction
    int32_t timeConstants;  // 1 after construction
    // derived coefficient
    float coefficient;  // 0..1; 0.99547511 for 5 ms at 44100 Hz
    // running state (both include denormalOffset)
    float current;
    float target;
};

// Defined here so that the audio path inlines it.
inline float qmsp_smoother::tick() {
    // Rounding `current` to float32 on every step decides where a glide settles:
    // from 0 toward 1 it stops at 0.99999344, where (1 - current) * coefficient
    // rounds back to itself.
    current = static_cast<float>((static_cast<double>(current) - target) * coefficient + target);
    return static_cast<float>(static_cast<double>(current) - static_cast<double>(denormalOffset));
}
