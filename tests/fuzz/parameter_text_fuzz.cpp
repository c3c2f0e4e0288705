// Text a host hands to a parameter: parsed for each of Tolvane's parameters and
// for every kind of the parameter store, never read past its terminator, and
// the result always inside the parameter's range.
#include <cmath>
#include <cstdlib>
#include <string>

#include "TolvaneParameterManager.h"

namespace {

struct EveryKind : qm_paramManager {
    EveryKind() {
        for (int32_t kind = 0; kind <= 11; ++kind) addParameter(kind, "Name", "Nm", "u", -5.0f, 500.0f, 1.0f, kind);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TolvaneParameterManager tolvane;
    static EveryKind kinds;
    const std::string text(reinterpret_cast<const char*>(data), size);  // terminated, may hold zeros
    for (qm_paramManager* manager : {static_cast<qm_paramManager*>(&tolvane), static_cast<qm_paramManager*>(&kinds)}) {
        for (int32_t index = 0; index < manager->getParameterCount(); ++index) {
            float value = manager->getMin(index);
            manager->textToPlain(index, text.c_str(), &value);
            const float lo = std::fmin(manager->getMin(index), manager->getMax(index));
            const float hi = std::fmax(manager->getMin(index), manager->getMax(index));
            if (!(value >= lo && value <= hi) && manager->getKind(index) != kNoteDivision) std::abort();
            int32_t division = -1;
            if (manager->parseNoteDivision(text.c_str(), &division) && (division < 0 || division > 15)) std::abort();
        }
    }
    return 0;
}
