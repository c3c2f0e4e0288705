// qmsp_block, qmsp_smoother: the sample rate every signal block runs at, and
// a one-pole (exponential) glide toward a target value.
//
// Every block has the same life cycle. It is usable straight after
// construction, at 44100 Hz with its documented defaults; then
//   setSampleRate(hz) -> setters -> its per-sample call -> reset().
// setSampleRate keeps every time and frequency setting and recomputes what
// derives from it; reset touches only the running state (each block says how).
// Blocks are plain members of the audio path, never used through a base
// pointer, so nothing here is virtual. The meter's qmsp_follower is a plain
// record beside them with the same life cycle but no rate of its own: its
// owner passes one wherever a coefficient is derived.
//
// Numbers: fields are float32. Each formula is evaluated in double precision and
// rounded to float32 exactly once, where a value is named, stored or returned.
// The transcendental functions are the double-precision ones (exp, not expf),
// so every build and platform computes the same bits.
#pragma once

class qmsp_block {
public:
    float getSampleRate() const { return sampleRate; }

protected:
    float sampleRate = 44100.0f;  // Hz, > 0; each block's setSampleRate stores it
};

// One-pole smoother. `current` and `target` both carry a tiny offset (the float
// nearest 1e-12): a glide toward 0 then ends near 1e-12 instead of decaying into
// denormal numbers, so no explicit flush is needed. Outputs subtract the offset.
class qmsp_smoother : public qmsp_block {
public:
    // 5 ms at 44100 Hz, output 0.
    qmsp_smoother();

    // Hz, > 0. Keeps the time in seconds; value and target untouched.
    void setSampleRate(float hz);
    // Ends any glide: the output jumps to the target.
    void reset() { current = target; }

    // Seconds, >= 0. 0 makes the output jump to the target on the next tick.
    void setTime(float seconds);
    // Value to glide toward; the glide starts from wherever the output is now.
    void setTarget(float value);
    // Advances one sample toward the target and returns the new value.
    float tick();

    // Whether the glide has ended for good: the next tick would leave the
    // value where it is, and so would every tick after it. tick() then
    // returns value() and changes nothing.
    bool isSettled() const {
        return static_cast<float>((static_cast<double>(current) - target) * coefficient + target) == current;
    }
    float value() const {
        return static_cast<float>(static_cast<double>(current) - static_cast<double>(denormalOffset));
    }

    // Read-only views for the audio path and tests.
    float getCoefficient() const { return coefficient; }
    float getCurrent() const { return current; }  // includes denormalOffset

    static constexpr float denormalOffset = 1e-12f;

private:
    // coefficient = exp(-1 / (time * sampleRate)): the time is one time constant.
    void updateCoefficient();

    // settings
    float time;  // seconds, 0.005 after construction
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
