// The VST3 component's state record as any bytes, through a stream that hands
// them over a few at a time: a record read is one that writes back as the
// same bytes (a first-version one as the current version's), and one refused
// leaves the state as it was.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "Vst3State.h"

namespace {

class Stream : public vst3::IBStream {
public:
    Stream(const uint8_t* data, size_t size, size_t chunk) : data(data), size(size), chunk(chunk) {}
    vst3::tresult VST3_API queryInterface(const char*, void**) override { return vst3::kNoInterface; }
    uint32_t VST3_API addRef() override { return 1; }
    uint32_t VST3_API release() override { return 1; }
    vst3::tresult VST3_API read(void* buffer, int32_t bytes, int32_t* done) override {
        const size_t n = std::min({size_t(std::max(bytes, 0)), size - at, chunk});
        std::memcpy(buffer, data + at, n);
        at += n;
        if (done) *done = int32_t(n);
        return vst3::kResultOk;
    }
    vst3::tresult VST3_API write(void*, int32_t, int32_t*) override { return vst3::kResultFalse; }
    vst3::tresult VST3_API seek(int64_t, int32_t, int64_t*) override { return vst3::kResultFalse; }
    vst3::tresult VST3_API tell(int64_t*) override { return vst3::kResultFalse; }

private:
    const uint8_t* data;
    size_t size, chunk, at = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvane::vst3state;
    if (size < 1) return 0;
    // The first byte says how many bytes each read delivers.
    Stream stream(data + 1, size - 1, data[0] % 16 + 1);
    ComponentState state, untouched;
    state.program = 3;
    std::memcpy(&untouched, &state, sizeof state);
    if (!read(&stream, state)) {
        if (std::memcmp(&state, &untouched, sizeof state) != 0) std::abort();
        return 0;
    }
    // A first-version record writes back as the current version with Key at Internal.
    uint8_t written[kComponentStateSize], expected[kComponentStateSize] = {};
    encode(state, written);
    const bool first = data[1 + 4] == 1;
    std::memcpy(expected, data + 1, first ? kFirstComponentStateSize : kComponentStateSize);
    if (first) expected[4] = 2;
    if (std::memcmp(written, expected, kComponentStateSize) != 0) std::abort();
    return 0;
}
