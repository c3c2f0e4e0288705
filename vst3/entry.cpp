// The module's entry points, as each platform's hosts look them up by name:
// GetPluginFactory everywhere, ModuleEntry and ModuleExit on Linux, InitDll
// and ExitDll on Windows. Nothing needs setting up or tearing down, so the
// entry and exit calls only answer yes.
#include "ImageResources.h"
#include "TolvaneVst3.h"

#if defined(_WIN32)
#include <windows.h>

// The editor finds its images through the module's handle, known once Windows loads it.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD, LPVOID) {
    platform::setResourceModule(module);
    return TRUE;
}

// Exported undecorated through Tolvane.def.
#define TOLVANE_EXPORT extern "C"
#else
#define TOLVANE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TOLVANE_EXPORT vst3::IPluginFactory* VST3_API GetPluginFactory() { return tolvaneVst3Factory(); }

#if defined(_WIN32)
TOLVANE_EXPORT bool VST3_API InitDll() { return true; }
TOLVANE_EXPORT bool VST3_API ExitDll() { return true; }
#else
TOLVANE_EXPORT bool ModuleEntry(void*) { return true; }
TOLVANE_EXPORT bool ModuleExit() { return true; }
#endif
