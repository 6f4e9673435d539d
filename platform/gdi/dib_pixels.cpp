// The pixels behind a bitmap or a memory context's selected bitmap, read from GDI's records.
#include "platform/gdi/dib_pixels.h"

#include "platform/gdi/gdi_state.h"

namespace platform {

namespace {

bool pixels_of(HGDIOBJ bitmap, DibPixels* out) {
  if (!gdi::live_object(bitmap) || bitmap->type != OBJ_BITMAP || bitmap->stock || bitmap->bits == nullptr)
    return false;
  out->bits = bitmap->bits;
  out->width = bitmap->width;
  out->height = bitmap->height < 0 ? -bitmap->height : bitmap->height;
  out->top_down = bitmap->height < 0;
  out->bit_count = bitmap->bit_count;
  out->pitch = ((uint32_t(bitmap->width) * bitmap->bit_count + 31) / 32) * 4;
  return true;
}

}  // namespace

bool bitmap_pixels(HGDIOBJ bitmap, DibPixels* out) {
  std::lock_guard hold(gdi::gdi_lock());
  return pixels_of(bitmap, out);
}

bool dc_pixels(HDC dc, DibPixels* out) {
  std::lock_guard hold(gdi::gdi_lock());
  if (!gdi::live_context(dc) || dc->kind != gdi::ContextKind::Memory) return false;
  return pixels_of(dc->state.bitmap, out);
}

}  // namespace platform
