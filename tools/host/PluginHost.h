// A minimal VST 2.4 host: loads a plug-in library, creates instances through
// its entry point and talks to them only through the effect record, as a
// workstation does. Used by the command-line host and the host-level tests.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vst2.h"

// One call the plug-in made to the host.
struct HostCall {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    float opt;
};

class PluginInstance {
public:
    ~PluginInstance();  // sends effClose unless already closed
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    AEffect* effect() const { return effect_; }
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f);
    // A text opcode into a buffer of `size` bytes.
    std::string text(VstInt32 opcode, VstInt32 index = 0, size_t size = 256);
    void process(float** inputs, float** outputs, VstInt32 frames);
    void setParameter(VstInt32 index, float value);
    float getParameter(VstInt32 index);
    // Sends effClose; the record is gone afterwards.
    VstIntPtr close();

    // What the host answers to audioMasterPinConnected: pins below these counts are connected.
    int connectedInputs = 2;
    int connectedOutputs = 2;
    // Every call the plug-in made, in order.
    std::vector<HostCall> calls;
    // What the host does when the editor asks for a new size (width, height):
    // true when its window took it. Unset: the host refuses.
    std::function<bool(int32_t, int32_t)> resizeEditorWindow;

private:
    friend class PluginLibrary;
    PluginInstance() = default;
    static VstIntPtr VSTCALLBACK hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                              void* ptr, float opt);
    AEffect* effect_ = nullptr;
};

class PluginLibrary {
public:
    // Loads the library and finds VSTPluginMain (or main). On failure the
    // library is not loaded and error() says why.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    bool loaded() const { return entry_ != nullptr; }
    const std::string& error() const { return error_; }
    // A new instance, or null when the entry point refuses (error() says so).
    std::unique_ptr<PluginInstance> createInstance();
    // Calls the entry point with a callback of the caller's own.
    AEffect* callEntryPoint(audioMasterCallback host) { return entry_ ? entry_(host) : nullptr; }
    // Looks up an exported symbol (for tests of the exports).
    void* symbol(const char* name) const;

private:
    using EntryPoint = AEffect*(VSTCALLBACK*)(audioMasterCallback);
    void* handle_ = nullptr;
    EntryPoint entry_ = nullptr;
    std::string error_;
};
