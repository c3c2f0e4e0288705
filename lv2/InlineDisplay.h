// Ardour's inline display extension for LV2, declared here from its public
// description (Debian ships no header for it): a host that draws small
// displays in its mixer strip asks the plug-in for a picture of at most a
// given size, off the audio thread, and the plug-in asks for a redraw from
// run() through the host's queue_draw feature.
//
// The picture is ARGB32 as Cairo keeps it: one native-endian 32-bit word per
// pixel, alpha in the top byte, colours premultiplied by alpha. Its memory
// belongs to the plug-in and stays valid from the first render until cleanup.
#pragma once

#include <lv2/core/lv2.h>

#include <cstdint>

#define TOLVANE_INLINEDISPLAY_URI "http://harrisonconsoles.com/lv2/inlinedisplay"
#define TOLVANE_INLINEDISPLAY__interface TOLVANE_INLINEDISPLAY_URI "#interface"
#define TOLVANE_INLINEDISPLAY__queue_draw TOLVANE_INLINEDISPLAY_URI "#queue_draw"

extern "C" {

struct Lv2InlineDisplaySurface {
    unsigned char* data;
    int width;
    int height;
    int stride;  // bytes from one row to the next
};

// The host's feature (queue_draw): safe to call from run().
struct Lv2InlineDisplay {
    void* handle;
    void (*queueDraw)(void* handle);
};

// The plug-in's extension data (interface): `width` and `maxHeight` bound the picture.
struct Lv2InlineDisplayInterface {
    Lv2InlineDisplaySurface* (*render)(LV2_Handle instance, uint32_t width, uint32_t maxHeight);
};

}  // extern "C"
