#include "PluginHost.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

VstIntPtr VSTCALLBACK PluginInstance::hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                                   void*, float opt) {
    if (opcode == audioMasterVersion) return 2400;
    auto* self = effect ? static_cast<PluginInstance*>(effect->user) : nullptr;
    if (!self) return 0;
    self->calls.push_back({opcode, index, value, opt});
    if (opcode == audioMasterPinConnected) {
        const int connected = value == 0 ? self->connectedInputs : self->connectedOutputs;
        return index < connected ? 0 : 1;  // 0 means connected
    }
    if (opcode == audioMasterSizeWindow && self->resizeEditorWindow)
        return self->resizeEditorWindow(index, static_cast<int32_t>(value)) ? 1 : 0;
    return 0;
}

PluginInstance::~PluginInstance() { close(); }

VstIntPtr PluginInstance::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

std::string PluginInstance::text(VstInt32 opcode, VstInt32 index, size_t size) {
    std::string buffer(size, '\0');
    dispatch(opcode, index, 0, buffer.data());
    return std::string(buffer.c_str());
}

void PluginInstance::process(float** inputs, float** outputs, VstInt32 frames) {
    effect_->processReplacing(effect_, inputs, outputs, frames);
}

void PluginInstance::setParameter(VstInt32 index, float value) { effect_->setParameter(effect_, index, value); }
float PluginInstance::getParameter(VstInt32 index) { return effect_->getParameter(effect_, index); }

VstIntPtr PluginInstance::close() {
    if (!effect_) return 0;
    const VstIntPtr result = dispatch(effClose);
    effect_ = nullptr;
    return result;
}

PluginLibrary::PluginLibrary(const std::string& path) {
#if defined(_WIN32)
    handle_ = LoadLibraryA(path.c_str());
    if (!handle_) {
        error_ = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return;
    }
#else
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* reason = dlerror();
        error_ = reason ? reason : "cannot load " + path;
        return;
    }
#endif
    entry_ = reinterpret_cast<EntryPoint>(symbol("VSTPluginMain"));
    if (!entry_) entry_ = reinterpret_cast<EntryPoint>(symbol("main"));
    if (!entry_) error_ = path + " has no VSTPluginMain entry point";
}

PluginLibrary::~PluginLibrary() {
    if (!handle_) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
}

void* PluginLibrary::symbol(const char* name) const {
    if (!handle_) return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
}

std::unique_ptr<PluginInstance> PluginLibrary::createInstance() {
    if (!entry_) return nullptr;
    std::unique_ptr<PluginInstance> instance(new PluginInstance);
    instance->effect_ = entry_(PluginInstance::hostCallback);
    if (!instance->effect_) {
        error_ = "the plug-in refused to create an instance";
        return nullptr;
    }
    if (instance->effect_->magic != kEffectMagic) {
        error_ = "the entry point returned something that is not a VST 2 effect";
        instance->effect_ = nullptr;
        return nullptr;
    }
    instance->effect_->user = instance.get();
    return instance;
}
