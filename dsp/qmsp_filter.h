// qmsp_filter family: Butterworth filters designed by the bilinear transform
// with frequency prewarping, run as direct-form-I difference equations.
//
//   qmsp_filter                                   frequency and q, their setters
//   qmsp_filter_butterworth                       coefficients, omega/warp, second-order equation
//   qmsp_filter_butterworth_first_order           first-order equation with denormal flush
//   qmsp_filter_butterworth_first_order_low_pass  H(s) = w / (s + w)
//
// With t = tan(pi f / fs) the first-order low-pass is b0 = b1 = t / (1 + t),
// a1 = (t - 1) / (t + 1): unity at 0 Hz, -3.01 dB at f, a null at fs / 2.
//
// Numbers: coefficients and omega/warp are doubles; samples and history are
// float32. Each difference equation runs in double from the float samples and
// is rounded to float32 once, before it is stored and returned.
#pragma once

#include <cstring>

#include "qmsp_block.h"
#include "qmsp_vector.h"

class qmsp_filter : public qmsp_block {
public:
    // Hz. Recomputes the coefficients only when the value changed (a NaN counts as a change).
    virtual void setFrequency(float hz);
    // Dimensionless. Same rule as setFrequency; first-order filters do not read it.
    virtual void setQ(float value);
    // Another name for setQ.
    virtual void setResonance(float value);
    // Derives every coefficient from frequency and sampleRate.
    virtual void updateCoefficients() = 0;

    float getFrequency() const { return frequency; }

protected:
    explicit qmsp_filter(float hz);

    // settings
    float frequency;  // Hz
    float q;          // watched for changes only
};

// A base: it designs no response of its own (its coefficients stay 0, and
// process returns 0). The low-pass below designs its own from construction on.
class qmsp_filter_butterworth : public qmsp_filter {
public:
    explicit qmsp_filter_butterworth(float hz);

    // Stores the rate, then updateCoefficients(). History is kept.
    void setSampleRate(float hz) override;
    // Clears the history: the next output depends on the next input only.
    void reset() override;
    // Second-order direct form I.
    float process(float x) override;
    // Computes omega and warp only.
    void updateCoefficients() override;

    // Read-only views for tests and plots.
    double getB0() const { return b0; }
    double getB1() const { return b1; }
    double getA1() const { return a1; }
    float getPreviousOutput() const { return y1; }

protected:
    // The frequency the design uses: the set frequency, held just below half the
    // rate so that a host running at 18400 Hz or less still gets a stable filter.
    double designFrequency() const;
    void updatePrewarp();

    // derived coefficients
    double b0, b1, b2;
    double a1, a2;
    double omega;  // 2 pi f, rad/s
    double warp;   // omega / tan(pi f / fs)
    // running state
    float y1, y2;
    float x1, x2;
};

class qmsp_filter_butterworth_first_order : public qmsp_filter_butterworth {
public:
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
    void setPreviousOutput(float y) { y1 = y; }
    // y = x b0 + x1 b1 - y1 a1. The stored y1 is flushed to +0 when it is zero
    // or denormal, and when it is infinite or NaN (a host's bad sample must not
    // poison the history for good); the returned sample is not.
    float process(float x) override;

protected:
    using qmsp_filter_butterworth::qmsp_filter_butterworth;
};

// Defined here so that the audio path inlines it.
inline float qmsp_filter_butterworth_first_order::feedBack(double feedForward) {
    const float y = static_cast<float>(feedForward - y1 * a1);
    y1 = qmsp_flushUnfit(y);
    return y;
}

inline float qmsp_filter_butterworth_first_order::feedBackUnflushed(double feedForward) {
    const float y = static_cast<float>(feedForward - y1 * a1);
    y1 = y;
    return y;
}

inline float qmsp_filter_butterworth_first_order::process(float x) {
    const float y = static_cast<float>(x * b0 + x1 * b1 - y1 * a1);
    // Flushing the fed-back output keeps the recursion out of denormal
    // arithmetic when the input falls silent. A non-finite output (only a
    // non-finite input makes one) is dropped too, so the filter recovers one
    // sample after the input is finite again.
    y1 = qmsp_flushUnfit(y);
    x1 = x;
    return y;
}

class qmsp_filter_butterworth_first_order_low_pass : public qmsp_filter_butterworth_first_order {
public:
    // A low-pass at `hz` (Hz) and 44100 Hz, its coefficients computed.
    explicit qmsp_filter_butterworth_first_order_low_pass(float hz);

    void updateCoefficients() override;
};
