#include "ImageResources.h"

#include <windows.h>

#include <atomic>

namespace platform {

static std::atomic<HMODULE> resourceModule{nullptr};

void setResourceModule(void* module) { resourceModule.store(static_cast<HMODULE>(module)); }
void* resourceModuleHandle() { return resourceModule.load(); }

ResourceBytes findPngResource(int id) {
    HMODULE module = resourceModule.load();
    if (!module) module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), "PNG");
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return {};
    return {static_cast<const unsigned char*>(bytes), static_cast<size_t>(SizeofResource(module, found))};
}

}  // namespace platform
