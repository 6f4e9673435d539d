// Surfaces: creation, copies, locking, and lending the pixels to GDI through a DIB.
#include "display/surface.h"

#include <new>

#include "display/blitter.h"
#include "foundation/address_set.h"

namespace display {

namespace {

// What a Canvas does for a blit of a whole surface at (0, 0): the source rectangle cut to
// the target, the source's key honoured.
void blit_whole(PixelBuffer* target, const PixelBuffer* source, int32_t colour_key) {
    Rect area = intersect(Rect{0, 0, int32_t(source->width), int32_t(source->height)},
                          Rect{0, 0, int32_t(target->width), int32_t(target->height)});
    if (area.empty()) return;
    if (colour_key >= 0) {
        copy_blitter()->blit_keyed(target, Point{0, 0}, source, area, uint16_t(colour_key));
    } else {
        copy_blitter()->blit(target, Point{0, 0}, source, area);
    }
}

// Every live surface record. Surfaces are made and freed on the script's side only
// (built-ins, under the script lock), never by the display's drivers.
AddressSet& live_surfaces() {
    // Never destroyed: surfaces may still be freed during process exit.
    static auto* surfaces = new AddressSet();
    return *surfaces;
}

}  // namespace

Surface* surface_new(uint32_t width, uint32_t height) {
    auto* surface = new (std::nothrow) Surface;
    if (surface == nullptr) return nullptr;
    try {
        live_surfaces().insert(surface);
    } catch (const std::bad_alloc&) {
        delete surface;
        return nullptr;
    }
    return surface_init(surface, width, height);
}

bool surface_is_live(const Surface* surface) { return live_surfaces().contains(surface); }

void surface_enter(const Surface* surface) { live_surfaces().insert(surface); }

void surface_leave(const Surface* surface) { live_surfaces().erase(surface); }

Surface* surface_init(Surface* surface, uint32_t width, uint32_t height) {
    return surface_wrap(surface, pixel_buffer_create(width, height));
}

Surface* surface_wrap(Surface* surface, PixelBuffer* buffer) {
    surface->buffer = buffer;
    surface->colour_key = no_colour_key;
    surface->saved_buffer = nullptr;
    surface->dc = nullptr;
    return surface;
}

void surface_release(Surface* surface) {
    if (surface->dc != nullptr) surface_release_dc(surface, surface->dc);
    delete surface->buffer;
    surface->buffer = nullptr;
}

void surface_delete(Surface* surface) {
    if (surface == nullptr) return;
    live_surfaces().erase(surface);
    surface_release(surface);
    delete surface;
}

void surface_set_buffer(Surface* surface, PixelBuffer* buffer) {
    if (surface->dc != nullptr) {
        surface->saved_buffer = buffer;
    } else {
        surface->buffer = buffer;
    }
}

int surface_lock(Surface* surface, SurfaceLock* out, uint32_t, const Point* point) {
    PixelBuffer* buffer = surface->buffer;
    if (buffer == nullptr) {
        // A surface whose pixels could not be allocated has nothing to hand out.
        out->pitch = 0;
        out->address = nullptr;
        return 0;
    }
    out->pitch = buffer->pitch;
    out->address = point != nullptr ? static_cast<void*>(buffer->at(point->x, point->y)) : buffer->pixels;
    return 1;
}

int surface_unlock(Surface*, uint32_t) { return 1; }

Surface* surface_copy(const Surface* surface) {
    const PixelBuffer* source = surface->buffer;
    if (source == nullptr) return nullptr;
    Surface* copy = surface_new(source->width, source->height);
    if (copy == nullptr || copy->buffer == nullptr) return copy;
    // A keyed blit would leave the new pixels under key-coloured ones uninitialised, and
    // the copy has no key to hide them: copy every pixel, so the copy equals the source.
    blit_whole(copy->buffer, source, no_colour_key);
    return copy;
}

HDC surface_get_dc(Surface* surface, uint32_t no_copy) {
    if (surface->dc != nullptr || surface->buffer == nullptr) return nullptr;
    DibBuffer* dib = dib_buffer_create(surface->buffer->width, surface->buffer->height);
    if (dib == nullptr) return nullptr;
    // Every pixel goes in, key-coloured ones too: the key applies on the way back, where
    // a DIB pixel that was never written must give back the pixel it came from.
    if ((no_copy & 0xFF) == 0) blit_whole(dib, surface->buffer, no_colour_key);
    surface->saved_buffer = surface->buffer;
    surface->buffer = dib;
    surface->dc = dib->memory_dc;
    return surface->dc;
}

int surface_release_dc(Surface* surface, HDC dc) {
    if (dc == nullptr || dc != surface->dc) return 0;
    PixelBuffer* dib = surface->buffer;
    if (surface->saved_buffer != nullptr) blit_whole(surface->saved_buffer, dib, surface->colour_key);
    delete dib;
    surface->buffer = surface->saved_buffer;
    surface->saved_buffer = nullptr;
    surface->dc = nullptr;
    return 1;
}

}  // namespace display
