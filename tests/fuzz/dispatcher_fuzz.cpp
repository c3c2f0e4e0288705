// Sequences of host calls decoded from the fuzzer's bytes: dispatcher opcodes
// with any index, value and float, and buffers as the host interface defines
// them, parameter changes with any value, and audio blocks. The instance must
// neither crash nor produce a non-finite sample from finite input.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "Tolvane.h"

namespace {

VstIntPtr VSTCALLBACK host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

struct Reader {
    const uint8_t* data;
    size_t size;
    template <class T>
    T take() {
        T value{};
        const size_t n = size < sizeof value ? size : sizeof value;
        std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    // Keep the user's own bindings out of it.
    static const bool noSettings = [] { return setenv("XDG_CONFIG_HOME", "/tmp/tolvane-fuzz-settings", 1) == 0; }();
    (void)noSettings;
    // An editor open for the whole session, as in a host showing another
    // instance: the images stay decoded, and a run that opens an editor costs
    // what it costs then, not a decode of every image.
    static Tolvane* const shown = [] {
        auto* effect = new Tolvane(host);
        effect->dispatcher(effEditOpen, 0, 0, nullptr, 0.0f);
        return effect;
    }();
    (void)shown;
    AEffect* effect = (new Tolvane(host))->getAeffect();
    float left[64], right[64], outLeft[64], outRight[64];
    while (in.size > 0) {
        const uint8_t what = in.take<uint8_t>();
        if (what < 200) {
            const VstInt32 opcode = what % 80;
            if (opcode == effClose) continue;  // the end of every sequence
            const VstInt32 index = in.take<int16_t>();
            const VstIntPtr value = in.take<int16_t>();
            const float opt = in.take<float>();
            char text[512] = {};
            const uint8_t length = in.take<uint8_t>();
            for (size_t i = 0; i < length % 64 && in.size > 0; ++i) text[i] = static_cast<char>(in.take<uint8_t>());
            void* ptr = text;
            ERect* rect = nullptr;
            void* chunk = nullptr;
            VstMidiEvent midi{};
            struct {
                VstInt32 numEvents;
                VstIntPtr reserved;
                VstEvent* events[2];
            } events{1, 0, {reinterpret_cast<VstEvent*>(&midi), nullptr}};
            VstIntPtr safeValue = value;
            if (opcode == effEditGetRect) ptr = &rect;
            if (opcode == effGetChunk) ptr = &chunk;
            if (opcode == effGetSpeakerArrangement) safeValue = reinterpret_cast<VstIntPtr>(&chunk), ptr = &chunk;
            if (opcode == effEditOpen) ptr = nullptr;
            if (opcode == effProcessEvents) {
                midi.type = text[0] & 1 ? kVstMidiType : text[0];
                std::memcpy(midi.midiData, text + 1, 3);
                ptr = &events;
            }
            effect->dispatcher(effect, opcode, index, safeValue, ptr, opt);
        } else if (what < 230) {
            const VstInt32 index = in.take<int8_t>();
            effect->setParameter(effect, index, in.take<float>());
            const float answer = effect->getParameter(effect, index);
            (void)answer;
        } else {
            const VstInt32 frames = in.take<uint8_t>() % 65;
            for (VstInt32 i = 0; i < frames; ++i) {
                left[i] = std::sin(static_cast<float>(i)) * (what & 1 ? 1.5f : 0.5f);
                right[i] = -left[i];
            }
            float* inputs[2] = {left, right};
            float* outputs[2] = {outLeft, outRight};
            effect->processReplacing(effect, inputs, outputs, frames);
            for (VstInt32 i = 0; i < frames; ++i)
                if (!std::isfinite(outLeft[i]) || !std::isfinite(outRight[i])) std::abort();
        }
    }
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    return 0;
}
