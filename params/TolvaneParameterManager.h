// TolvaneParameterManager: Tolvane's parameters (TolvaneParameters.h) on
// qm_paramManager, with the curves and texts of their own:
//
//   index  name (short)         unit  range          normalised -> plain
//   0      Ratio                " "   1 .. 1000      ratio curve: 12100^n * 9/109 + 100/109
//   1      Attack               ""    0.01 .. 100    ms, linear
//   2      Release              ""    10 .. 300      ms, linear
//   3      Sensitivity (Sense)  "dB"  0 .. -60       dB, linear (min above max)
//   4      Make-Up Gain (Makeup)"dB"  0 .. 30        dB, linear
//   5      Active               " "   0 .. 1         the wet share
//
// The ratio curve puts 10:1 at the middle of the knob; its inverse is not
// limited to 0..1. Each step of the curve is rounded to float32.
#pragma once

#include "TolvaneParameters.h"
#include "qm_paramManager.h"

class TolvaneParameterManager : public qm_paramManager {
public:
    TolvaneParameterManager();
    ~TolvaneParameterManager() override;

    float getProcessingValue(int32_t index) override;
    // Ratio "%4.0f" with ":1" when it fits; Attack and Release on a 1.0 .. 10.0
    // scale; Active in percent; Sensitivity and Make-Up Gain as the base shows them.
    // Never writes more than `length` bytes (terminator included).
    void getDisplay(int32_t index, char* text, int32_t length) override;
    float plainToNormalized(int32_t index, float plain) override;
    float normalizedToPlain(int32_t index, float normalized) override;
};
