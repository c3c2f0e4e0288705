// The editor's images are PNG files stored inside the plug-in and found by an
// integer id: on Windows as resources of the custom type "PNG" in the DLL, on
// Linux as byte arrays embedded in the shared object at build time.
#pragma once

#include <cstddef>

namespace platform {

struct ResourceBytes {
    const unsigned char* data = nullptr;  // null when there is no such image
    size_t size = 0;
};

// The PNG bytes stored under `id`; they live as long as the library.
ResourceBytes findPngResource(int id);

// Windows: the module whose resources are searched, recorded by the library's
// load notification. Until it is set, the program's own module is searched.
// Linux ignores it.
void setResourceModule(void* module);

// Linux: the embedded images, a table generated at build time from resources/.
struct EmbeddedPng {
    int id;
    const unsigned char* data;
    size_t size;
};
extern const EmbeddedPng embeddedPngs[];
extern const size_t embeddedPngCount;

}  // namespace platform
