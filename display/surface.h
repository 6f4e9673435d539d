// Surfaces: the handle through which the runtime holds a pixel buffer, with its colour
// key and the temporary hand-over of its pixels to GDI.
#pragma once

#include <cstdint>

#include "display/geometry.h"
#include "display/pixel_buffer.h"

namespace display {

constexpr int32_t no_colour_key = -1;

// Scripts hold surfaces by this record's address.
struct Surface {
    // The pixels drawn into; owned. Null when its allocation failed.
    PixelBuffer* buffer;
    // -1 for none, else the low 16 bits are the colour blits from here treat as transparent.
    int32_t colour_key;
    // The surface's own buffer while a DibBuffer stands in for it (a DC is out).
    PixelBuffer* saved_buffer;
    // The DC handed out by surface_get_dc, or null.
    HDC dc;
};
static_assert(sizeof(Surface) == 16, "Surface is a 16-byte record");

struct SurfaceLock {
    uint32_t pitch;
    void* address;
};

// A record from the heap, initialised by surface_init and counted live; null when out of
// memory. Free it with surface_delete.
Surface* surface_new(uint32_t width, uint32_t height);
// Whether surface is live: made by surface_new or surface_copy and not yet deleted, or
// entered by surface_enter and not yet left. Scripts hand in any number as a surface:
// one that is not live is never followed.
bool surface_is_live(const Surface* surface);
// Counts a record that lives elsewhere (a canvas's back buffer) live, and no longer.
// surface_enter throws std::bad_alloc when the count cannot grow.
void surface_enter(const Surface* surface);
void surface_leave(const Surface* surface);
// A new buffer of that size (null when it cannot be made), no key, no DC. Returns surface.
Surface* surface_init(Surface* surface, uint32_t width, uint32_t height);
// The same around an existing buffer, which the surface then owns.
Surface* surface_wrap(Surface* surface, PixelBuffer* buffer);
// Takes back an outstanding DC (as surface_release_dc) and destroys the buffer; the
// record itself is left to whoever allocated it.
void surface_release(Surface* surface);
// surface_release, then frees a record made by surface_new or surface_copy (no longer
// live).
void surface_delete(Surface* surface);
// The buffer to draw into from now on; while a DC is out it replaces the saved buffer.
void surface_set_buffer(Surface* surface, PixelBuffer* buffer);
// Pitch and the address of point (or of (0, 0) when point is null). Nothing is locked:
// the address lives as long as the buffer. Returns 1; 0 (and no address) when the
// surface has no buffer.
int surface_lock(Surface* surface, SurfaceLock* out, uint32_t flags, const Point* point);
int surface_unlock(Surface* surface, uint32_t flags);
// A new surface of the same size and pixels, without a key; null when out of memory or
// when the source has no buffer.
Surface* surface_copy(const Surface* surface);
// Moves the pixels into a DIB section and gives its memory DC, through which GDI draws
// on the surface until surface_release_dc. 0 when a DC is already out, the surface has
// no buffer, or the DIB cannot be made. no_copy (low 8 bits) skips copying the pixels in.
HDC surface_get_dc(Surface* surface, uint32_t no_copy);
// Copies the DIB back (DIB pixels equal to the colour key leave the pixels under them
// alone) and returns to the own buffer. 1, or 0 when dc is not the DC that is out.
int surface_release_dc(Surface* surface, HDC dc);

}  // namespace display
