// DIB sections: bitmaps whose pixels the program addresses directly, in the formats the
// display layer and the game library use (RGB565 bit fields, 5-5-5, 24 and 32 bits).
#include "platform/gdi/dib_section.h"

#include "platform/gdi/dib_pixels.h"
#include "platform/gdi/gdi_state.h"

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset) {
  if (bits != nullptr) *bits = nullptr;
  if (info == nullptr || bits == nullptr || section != nullptr || offset != 0 || usage != DIB_RGB_COLORS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const BITMAPINFOHEADER& header = info->bmiHeader;
  bool depth_ok = header.biBitCount == 16 || header.biBitCount == 24 || header.biBitCount == 32;
  bool compression_ok = header.biCompression == BI_RGB || (header.biCompression == BI_BITFIELDS && header.biBitCount != 24);
  if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 || !depth_ok || !compression_ok ||
      header.biWidth <= 0 || header.biHeight == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // 16-bit pixels are 5-5-5 unless bit fields give the green mask of 5-6-5.
  bool rgb555 = header.biBitCount == 16;
  if (header.biCompression == BI_BITFIELDS && header.biBitCount == 16) {
    const auto* masks = reinterpret_cast<const DWORD*>(info->bmiColors);
    rgb555 = masks[1] == 0x03E0;
  }
  HBITMAP bitmap = platform::gdi::new_bitmap(header.biWidth, header.biHeight, header.biBitCount, rgb555);
  if (bitmap) *bits = bitmap->bits;
  return bitmap;
}

namespace platform {

bool bitmap_pixels(HGDIOBJ bitmap, DibPixels* out) {
  std::lock_guard hold(gdi::gdi_lock());
  if (!gdi::live_object(bitmap) || bitmap->stock || bitmap->type != OBJ_BITMAP || !bitmap->bits) return false;
  out->bits = bitmap->bits;
  out->width = bitmap->width;
  out->height = bitmap->height < 0 ? -bitmap->height : bitmap->height;
  out->top_down = bitmap->height < 0;
  out->bit_count = bitmap->bit_count;
  out->pitch = ((uint32_t(bitmap->width) * bitmap->bit_count + 31) / 32) * 4;
  return true;
}

bool dc_pixels(HDC dc, DibPixels* out) {
  std::lock_guard hold(gdi::gdi_lock());
  if (!gdi::live_context(dc) || dc->kind != gdi::ContextKind::Memory) return false;
  return bitmap_pixels(dc->state.bitmap, out);
}

}  // namespace platform
