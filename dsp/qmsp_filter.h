// qmsp_filter_butterworth_first_order_low_pass: the first-order Butterworth
// low-pass H(s) = w / (s + w), designed by the bilinear transform with
// frequency prewarping and run as a direct-form-I difference equation.
//
// With t = tan(pi f / fs) it is b0 = b1 = t / (1 + t), a1 = (t - 1) / (t + 1):
// unity at 0 Hz, -3.01 dB at f, a null at fs / 2.
//
// Numbers: coefficients are doubles; samples and history are float32. The
// difference equation runs in double from the float samples and is rounded to
// float32 once, before it is stored and returned.
#pragma once

#include "qmsp_block.h"
#include "qmsp_vector.h"

class qmsp_filter_butterworth_first_order_low_pass : public qmsp_block {
public:
    // A low-pass at `hz` (Hz) and 44100 Hz, its coefficients computed, its history 0.
    explicit qmsp_filter_butterworth_first_order_low_pass(float hz);

    // Stores the rate and designs anew. History is kept.
    void setSampleRate(float hz);
    // Hz. Designs anew only when the value changed (a NaN counts as a change).
    // History is kept.
    void setFrequency(float hz);
    // Clears the history: the next output depends on the next input only.
    void reset() { y1 = x1 = 0.0f; }
    // y = x b0 + x1 b1 - y1 a1. The stored y1 is flushed to +0 when it is zero
    // or denormal, and when it is infinite or NaN (a host's bad sample must not
    // poison the history for good); the returned sample is not.
    float process(float x);

    // The same equation in two parts, for callers that take many frames at
    // once: the feed-forward part x b0 + x1 b1 (a double, computable for every
    // frame ahead of time), then the recursion for one frame at a time. Such
    // callers keep x1 themselves and put back the last input when they stop.
    float getPreviousInput() const { return x1; }
    void setPreviousInput(float x) { x1 = x; }
    float feedBack(double feedForward);
    // The recursion without the flush, for callers that check the outputs
    // afterwards: while every output is a normal number or +0 the flush
    // changes nothing. Otherwise they put back the output from before
    // (setPreviousOutput) and run feedBack() instead.
    float feedBackUnflushed(double feedForward);
    float getPreviousOutput() const { return y1; }
    void setPreviousOutput(float y) { y1 = y; }

    // Read-only views for the audio path and tests.
    double getB0() const { return b0; }
    double getB1() const { return b1; }
    double getA1() const { return a1; }

private:
    // Derives the coefficients from frequency and sampleRate.
    void design();

    // settings
    float frequency;  // Hz
    // derived coefficients
    double b0 = 0.0, b1 = 0.0, a1 = 0.0;
    // running state
    float y1 = 0.0f, x1 = 0.0f;
};

// Defined here so that the audio path inlines them.
inline float qmsp_filter_butterworth_first_order_low_pass::feedBack(double feedForward) {
    const float y = static_cast<float>(feedForward - y1 * a1);
    y1 = qmsp_flushUnfit(y);
    return y;
}

inline float qmsp_filter_butterworth_first_order_low_pass::feedBackUnflushed(double feedForward) {
    const float y = static_cast<float>(feedForward - y1 * a1);
    y1 = y;
    return y;
}

inline float qmsp_filter_butterworth_first_order_low_pass::process(float x) {
    const float y = static_cast<float>(x * b0 + x1 * b1 - y1 * a1);
    // Flushing the fed-back output keeps the recursion out of denormal
    // arithmetic when the input falls silent. A non-finite output (only a
    // non-finite input makes one) is dropped too, so the filter recovers one
    // sample after the input is finite again.
    y1 = qmsp_flushUnfit(y);
    x1 = x;
    return y;
}
