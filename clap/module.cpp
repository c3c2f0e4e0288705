// The library's one exported symbol, which CLAP hosts look up by name.
#include "ImageResources.h"
#include "TolvaneClap.h"

#if defined(_WIN32)
#include <windows.h>

// The editor finds its images through the library's module handle.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD, LPVOID) {
    platform::setResourceModule(module);
    return TRUE;
}
#define TOLVANE_EXPORT extern "C" __attribute__((dllexport))
#else
#define TOLVANE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TOLVANE_EXPORT const clap::PluginEntry clap_entry{clap::kVersion, tolvane_clap::entryInit, tolvane_clap::entryDeinit,
                                                  tolvane_clap::entryFactory};
