// GDI objects: the table of live objects, stock objects, brushes, pens and bitmaps,
// selection into contexts and deletion.
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>

#include "platform/gdi/gdi_state.h"
#include "platform/user/window_state.h"

namespace platform::gdi {
namespace {

// Every live object, so a stale or foreign handle is refused, not followed.
std::unordered_set<HGDIOBJ>& live_objects() {
  static auto* objects = new std::unordered_set<HGDIOBJ>;
  return *objects;
}

HGDIOBJ make_stock(DWORD type) {
  auto* object = new HGDIOBJ__;
  object->type = type;
  object->stock = true;
  register_stock_object(object);
  return object;
}

HGDIOBJ stock_brush(COLORREF colour, bool hollow) {
  HGDIOBJ brush = make_stock(OBJ_BRUSH);
  brush->colour = colour;
  brush->hollow = hollow;
  return brush;
}

HGDIOBJ stock_pen(COLORREF colour, bool hollow) {
  HGDIOBJ pen = make_stock(OBJ_PEN);
  pen->colour = colour;
  pen->hollow = hollow;
  pen->pen_style = hollow ? PS_NULL : PS_SOLID;
  return pen;
}

struct StockObjects {
  HGDIOBJ objects[SYSTEM_FONT + 1] = {};
  HGDIOBJ placeholder = nullptr;
  StockObjects() {
    objects[WHITE_BRUSH] = stock_brush(RGB(255, 255, 255), false);
    objects[LTGRAY_BRUSH] = stock_brush(RGB(192, 192, 192), false);
    objects[GRAY_BRUSH] = stock_brush(RGB(128, 128, 128), false);
    objects[DKGRAY_BRUSH] = stock_brush(RGB(64, 64, 64), false);
    objects[BLACK_BRUSH] = stock_brush(RGB(0, 0, 0), false);
    objects[NULL_BRUSH] = stock_brush(0, true);
    objects[WHITE_PEN] = stock_pen(RGB(255, 255, 255), false);
    objects[BLACK_PEN] = stock_pen(RGB(0, 0, 0), false);
    objects[NULL_PEN] = stock_pen(0, true);
    LOGFONTW system{};
    system.lfHeight = -12;
    system.lfWeight = FW_BOLD;
    HGDIOBJ font = make_stock(OBJ_FONT);
    font->logfont = system;
    font->font = make_font(system);
    objects[SYSTEM_FONT] = font;
    placeholder = make_stock(OBJ_BITMAP);
    static uint16_t one_pixel[2] = {0xFFFF, 0};
    placeholder->bits = reinterpret_cast<uint8_t*>(one_pixel);
    placeholder->owns_bits = false;
    placeholder->width = 1;
    placeholder->height = -1;
    placeholder->bit_count = 16;
  }
};

StockObjects& stock() {
  static auto* objects = new StockObjects;
  return *objects;
}

void free_object(HGDIOBJ object) {
  live_objects().erase(object);
  if (object->type == OBJ_BITMAP && object->owns_bits) std::free(object->bits);
  delete object;
}

HGDIOBJ add_object(HGDIOBJ object) {
  live_objects().insert(object);
  return object;
}

}  // namespace

std::recursive_mutex& gdi_lock() { return platform::user::window_lock(); }

// Stock objects live for the whole run; a handle is only looked at once it is known, so
// a number that names no object is refused rather than read.
std::unordered_set<HGDIOBJ>& stock_objects() {
  static auto* objects = new std::unordered_set<HGDIOBJ>;
  return *objects;
}

void register_stock_object(HGDIOBJ object) {
  std::lock_guard hold(gdi_lock());
  stock_objects().insert(object);
}

bool live_object(HGDIOBJ object) {
  return object != nullptr && (live_objects().count(object) != 0 || stock_objects().count(object) != 0);
}

HGDIOBJ placeholder_bitmap() { return stock().placeholder; }
HGDIOBJ default_font() { return stock().objects[SYSTEM_FONT]; }

void hold_object(HGDIOBJ object) {
  if (object && !object->stock) ++object->selections;
}

void release_object(HGDIOBJ object) {
  if (!object || object->stock) return;
  if (--object->selections <= 0 && object->delete_pending) free_object(object);
}

// Used by CreateDIBSection and CreateBitmap.
HGDIOBJ new_bitmap(LONG width, LONG height, WORD bit_count, bool rgb555) {
  if (width <= 0 || height == 0 || (bit_count != 1 && bit_count != 16 && bit_count != 24 && bit_count != 32)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  uint64_t rows = height < 0 ? -int64_t(height) : int64_t(height);
  uint64_t stride = (uint64_t(width) * bit_count + 31) / 32 * 4;
  // A bitmap larger than half the address space cannot be real; refusing it also keeps
  // every offset inside the block representable as a signed 32-bit value.
  if (stride * rows > 0x7FFFFFFFu) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* memory = std::calloc(1, size_t(stride * rows));
  HGDIOBJ bitmap = memory ? new (std::nothrow) HGDIOBJ__ : nullptr;
  if (bitmap == nullptr) {
    std::free(memory);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  bitmap->type = OBJ_BITMAP;
  bitmap->bits = static_cast<uint8_t*>(memory);
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bit_count = bit_count;
  bitmap->rgb555 = rgb555;
  std::lock_guard hold(gdi_lock());
  return add_object(bitmap);
}

size_t live_object_count() { return live_objects().size(); }

HGDIOBJ register_object(HGDIOBJ object) { return add_object(object); }

}  // namespace platform::gdi

using namespace platform::gdi;

HGDIOBJ GetStockObject(int index) {
  if (index < 0 || index > SYSTEM_FONT) return nullptr;
  return stock().objects[index];
}

HBRUSH CreateSolidBrush(COLORREF colour) {
  auto* brush = new (std::nothrow) HGDIOBJ__;
  if (!brush) return nullptr;
  brush->type = OBJ_BRUSH;
  brush->colour = colour & 0xFFFFFF;
  std::lock_guard hold(gdi_lock());
  return add_object(brush);
}

HPEN CreatePen(int style, int width, COLORREF colour) {
  auto* pen = new (std::nothrow) HGDIOBJ__;
  if (!pen) return nullptr;
  pen->type = OBJ_PEN;
  pen->pen_style = (style == PS_DASH || style == PS_NULL) ? style : PS_SOLID;
  pen->hollow = style == PS_NULL;
  pen->pen_width = width < 1 ? 1 : width;
  pen->colour = colour & 0xFFFFFF;
  std::lock_guard hold(gdi_lock());
  return add_object(pen);
}

HPEN CreatePenIndirect(const LOGPEN* pen) {
  if (!pen) return nullptr;
  return CreatePen(int(pen->lopnStyle), pen->lopnWidth.x, pen->lopnColor);
}

HBITMAP CreateCompatibleBitmap(HDC, int width, int height) {
  return platform::gdi::new_bitmap(width, -height, 16, false);
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bits_per_pixel, const void* bits) {
  if (planes != 1) return nullptr;
  HBITMAP bitmap = platform::gdi::new_bitmap(width, -height, WORD(bits_per_pixel), false);
  if (bitmap && bits) {
    // The caller's rows are padded to 2 bytes, ours to 4.
    size_t source_stride = (size_t(width) * bits_per_pixel + 15) / 16 * 2;
    size_t stride = (size_t(width) * bits_per_pixel + 31) / 32 * 4;
    for (int row = 0; row < height; ++row) {
      std::memcpy(bitmap->bits + row * stride, static_cast<const uint8_t*>(bits) + row * source_stride, source_stride);
    }
  }
  return bitmap;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc) || !live_object(object)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  ContextState& state = dc->state;
  HGDIOBJ* slot = nullptr;
  switch (object->type) {
    case OBJ_BITMAP:
      if (dc->kind != ContextKind::Memory) return nullptr;
      if (!object->stock && object->selected_into != nullptr && object->selected_into != dc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
      }
      slot = &state.bitmap;
      break;
    case OBJ_BRUSH: slot = &state.brush; break;
    case OBJ_PEN: slot = &state.pen; break;
    case OBJ_FONT: slot = &state.font; break;
    case OBJ_REGION: {
      // A region selected is a copy of it as the clip (device coordinates).
      state.has_clip = true;
      state.clip = object->region;
      return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(IsRectEmpty(&object->region) ? NULLREGION : SIMPLEREGION));
    }
    default: return nullptr;
  }
  HGDIOBJ previous = *slot;
  if (previous == object) return previous;
  if (object->type == OBJ_BITMAP) {
    if (previous && !previous->stock) previous->selected_into = nullptr;
    if (!object->stock) object->selected_into = dc;
  }
  hold_object(object);
  *slot = object;
  release_object(previous);
  return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
  std::lock_guard hold(gdi_lock());
  if (!live_object(object)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (object->stock) return TRUE;
  if (object->type == OBJ_BITMAP && object->selected_into != nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (object->delete_pending) return TRUE;
  if (object->selections > 0) {
    object->delete_pending = true;
    return TRUE;
  }
  free_object(object);
  return TRUE;
}

int GetObjectW(HGDIOBJ object, int size, LPVOID buffer) {
  std::lock_guard hold(gdi_lock());
  if (!live_object(object) || object->delete_pending) return 0;
  auto give = [&](const void* record, int bytes) {
    if (!buffer) return bytes;
    if (size < bytes) return 0;
    std::memcpy(buffer, record, size_t(bytes));
    return bytes;
  };
  switch (object->type) {
    case OBJ_BITMAP: {
      BITMAP record{};
      record.bmWidth = object->width;
      record.bmHeight = object->height < 0 ? -object->height : object->height;
      record.bmWidthBytes = (object->width * object->bit_count + 31) / 32 * 4;
      record.bmPlanes = 1;
      record.bmBitsPixel = object->bit_count;
      record.bmBits = object->stock ? nullptr : object->bits;
      return give(&record, sizeof record);
    }
    case OBJ_BRUSH: {
      LOGBRUSH record{object->hollow ? BS_NULL : BS_SOLID, object->colour, 0};
      return give(&record, sizeof record);
    }
    case OBJ_PEN: {
      LOGPEN record{UINT(object->pen_style), {object->pen_width, 0}, object->colour};
      return give(&record, sizeof record);
    }
    case OBJ_FONT: return give(&object->logfont, sizeof object->logfont);
    default: return 0;
  }
}

DWORD GetObjectType(HGDIOBJ object) {
  std::lock_guard hold(gdi_lock());
  if (live_context(reinterpret_cast<HDC>(object))) {
    return reinterpret_cast<HDC>(object)->kind == ContextKind::Memory ? OBJ_MEMDC : OBJ_DC;
  }
  return live_object(object) ? object->type : 0;
}

HGDIOBJ GetCurrentObject(HDC dc, UINT type) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc)) return nullptr;
  switch (type) {
    case OBJ_BITMAP: return dc->state.bitmap;
    case OBJ_BRUSH: return dc->state.brush;
    case OBJ_PEN: return dc->state.pen;
    case OBJ_FONT: return dc->state.font;
    default: return nullptr;
  }
}
