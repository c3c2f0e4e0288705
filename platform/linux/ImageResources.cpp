#include "ImageResources.h"

namespace platform {

ResourceBytes findPngResource(int id) {
    for (size_t i = 0; i < embeddedPngCount; ++i)
        if (embeddedPngs[i].id == id) return {embeddedPngs[i].data, embeddedPngs[i].size};
    return {};
}

void setResourceModule(void*) {}

}  // namespace platform
