// The library's entry point. A host calls it once per instance with its
// callback and keeps the returned record. The side-chain plug-in is this file
// built with TOLVANE_SIDECHAIN.
#include <new>

#include "ImageResources.h"
#include "Tolvane.h"

#if defined(_WIN32)
#include <windows.h>

// The editor finds its images through the library's module handle, known
// once Windows loads it.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD, LPVOID) {
    platform::setResourceModule(module);
    return TRUE;
}
#endif

#if defined(_WIN32)
// Exported by name through Tolvane.def, undecorated, as VSTPluginMain and main.
#define TOLVANE_EXPORT extern "C"
#else
#define TOLVANE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TOLVANE_EXPORT AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host) {
    // A host that passes no callback cannot be asked its version.
    if (!host) return nullptr;
    if (host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    try {
#if defined(TOLVANE_SIDECHAIN)
        Tolvane* effect = new Tolvane(host, TolvaneEngine::Form::kSideChain);
#else
        Tolvane* effect = new Tolvane(host);
#endif
        return effect->getAeffect();
    } catch (...) {
        // Out of memory while building the instance: no instance.
        return nullptr;
    }
}

#if !defined(_WIN32)
// Older hosts look the entry point up as "main". The same function, under a
// symbol name C++ cannot spell directly.
TOLVANE_EXPORT AEffect* vstMainAlias(audioMasterCallback host) __asm__("main") __attribute__((alias("VSTPluginMain")));
#endif
