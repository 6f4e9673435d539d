// DIB sections and memory device contexts: the pixel memory GDI shares with the display
// layer, and the contexts a bitmap is selected into.
#include "platform/gdi/dib_section.h"
#include "platform/gdi/dib_pixels.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_set>

struct HDC__ {
  bool screen = false;
  HGDIOBJ selected = nullptr;
};

struct HGDIOBJ__ {
  bool stock = false;
  void* bits = nullptr;
  LONG width = 0;
  LONG height = 0;  // as given: negative for top-down rows
  WORD bit_count = 0;
  HDC selected_into = nullptr;
};

namespace {

std::mutex gdi_lock;
// Every live context and bitmap, so a stale or foreign handle is refused, not followed.
std::unordered_set<HDC> live_contexts;
std::unordered_set<HGDIOBJ> live_bitmaps;

HDC__ screen_context{true, nullptr};
// The 1x1 bitmap every new memory context starts with; shared, never deleted.
HGDIOBJ__ placeholder_bitmap{true};

}  // namespace

namespace platform {
size_t gdi_object_count() {
  std::lock_guard<std::mutex> hold(gdi_lock);
  return live_contexts.size() + live_bitmaps.size();
}
}  // namespace platform

HDC GetDC(HWND window) {
  if (window != nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &screen_context;
}

int ReleaseDC(HWND window, HDC dc) { return window == nullptr && dc == &screen_context ? 1 : 0; }

HDC CreateCompatibleDC(HDC dc) {
  HDC context = new (std::nothrow) HDC__{false, &placeholder_bitmap};
  if (context == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> hold(gdi_lock);
  live_contexts.insert(context);
  return context;
}

BOOL DeleteDC(HDC dc) {
  std::lock_guard<std::mutex> hold(gdi_lock);
  if (live_contexts.erase(dc) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (dc->selected != nullptr && !dc->selected->stock) dc->selected->selected_into = nullptr;
  delete dc;
  return TRUE;
}

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset) {
  if (bits != nullptr) *bits = nullptr;
  if (info == nullptr || bits == nullptr || section != nullptr || offset != 0 ||
      usage != DIB_RGB_COLORS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const BITMAPINFOHEADER& header = info->bmiHeader;
  bool depth_ok = header.biBitCount == 16 || header.biBitCount == 24 || header.biBitCount == 32;
  bool compression_ok = header.biCompression == BI_RGB ||
                        (header.biCompression == BI_BITFIELDS && header.biBitCount != 24);
  if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 || !depth_ok ||
      !compression_ok || header.biWidth <= 0 || header.biHeight == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  uint64_t rows = header.biHeight < 0 ? -int64_t(header.biHeight) : int64_t(header.biHeight);
  uint64_t stride = (uint64_t(header.biWidth) * header.biBitCount + 31) / 32 * 4;
  uint64_t bytes = stride * rows;
  // A section larger than half the address space cannot be real; refusing it also keeps
  // every offset inside the block representable as a signed 32-bit value.
  if (bytes > 0x7FFFFFFFu) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* memory = std::calloc(1, size_t(bytes));
  HGDIOBJ bitmap = memory ? new (std::nothrow) HGDIOBJ__{} : nullptr;
  if (bitmap == nullptr) {
    std::free(memory);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  bitmap->bits = memory;
  bitmap->width = header.biWidth;
  bitmap->height = header.biHeight;
  bitmap->bit_count = header.biBitCount;
  {
    std::lock_guard<std::mutex> hold(gdi_lock);
    live_bitmaps.insert(bitmap);
  }
  *bits = memory;
  return bitmap;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  std::lock_guard<std::mutex> hold(gdi_lock);
  if (live_contexts.count(dc) == 0 || object == nullptr ||
      (object != &placeholder_bitmap && live_bitmaps.count(object) == 0)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!object->stock && object->selected_into != nullptr && object->selected_into != dc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HGDIOBJ previous = dc->selected;
  if (previous != nullptr && !previous->stock) previous->selected_into = nullptr;
  dc->selected = object;
  if (!object->stock) object->selected_into = dc;
  return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
  std::lock_guard<std::mutex> hold(gdi_lock);
  if (live_bitmaps.count(object) == 0 || object->selected_into != nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  live_bitmaps.erase(object);
  std::free(object->bits);
  delete object;
  return TRUE;
}

namespace platform {

bool bitmap_pixels(HGDIOBJ bitmap, DibPixels* out) {
  std::lock_guard<std::mutex> hold(gdi_lock);
  if (bitmap == nullptr || live_bitmaps.count(bitmap) == 0 || bitmap->bits == nullptr) return false;
  out->bits = static_cast<uint8_t*>(bitmap->bits);
  out->width = bitmap->width;
  out->height = bitmap->height < 0 ? -bitmap->height : bitmap->height;
  out->top_down = bitmap->height < 0;
  out->bit_count = bitmap->bit_count;
  out->pitch = ((uint32_t(bitmap->width) * bitmap->bit_count + 31) / 32) * 4;
  return true;
}

bool dc_pixels(HDC dc, DibPixels* out) {
  HGDIOBJ selected;
  {
    std::lock_guard<std::mutex> hold(gdi_lock);
    if (dc == nullptr || live_contexts.count(dc) == 0) return false;
    selected = dc->selected;
  }
  return bitmap_pixels(selected, out);
}

}  // namespace platform
