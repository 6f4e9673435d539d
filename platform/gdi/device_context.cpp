// Device contexts: the screen's, windows' (resolved to their top-level window's surface
// at each drawing call) and memory contexts; their capabilities, clip and origin.
#include <new>
#include <unordered_set>

#include "platform/gdi/gdi_state.h"
#include "platform/gdi/screen.h"
#include "platform/kernel/system_info.h"
#include "platform/user/window_state.h"

namespace platform::gdi {
namespace {

std::unordered_set<HDC>& live_contexts() {
  static auto* contexts = new std::unordered_set<HDC>;
  return *contexts;
}

HDC new_context(ContextKind kind) {
  HDC dc = new (std::nothrow) HDC__;
  if (!dc) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  dc->kind = kind;
  dc->state.brush = GetStockObject(WHITE_BRUSH);
  dc->state.pen = GetStockObject(BLACK_PEN);
  dc->state.font = default_font();
  if (kind == ContextKind::Memory) dc->state.bitmap = placeholder_bitmap();
  live_contexts().insert(dc);
  return dc;
}

void drop_state(ContextState& state, HDC dc) {
  if (state.bitmap && !state.bitmap->stock && state.bitmap->selected_into == dc) state.bitmap->selected_into = nullptr;
  for (HGDIOBJ object : {state.bitmap, state.brush, state.pen, state.font}) release_object(object);
}

void free_context(HDC dc) {
  for (auto& saved : dc->saved) {
    for (HGDIOBJ object : {saved.bitmap, saved.brush, saved.pen, saved.font}) release_object(object);
  }
  drop_state(dc->state, dc);
  live_contexts().erase(dc);
  delete dc;
}

RECT intersect(const RECT& a, const RECT& b) {
  RECT out{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  if (out.right < out.left) out.right = out.left;
  if (out.bottom < out.top) out.bottom = out.top;
  return out;
}

}  // namespace

bool live_context(HDC dc) { return dc != nullptr && live_contexts().count(dc) != 0; }

size_t live_context_count() { return live_contexts().size(); }

// A window context for BeginPaint (painting.cpp).
HDC window_context(HWND window, bool whole_window, bool from_paint) {
  std::lock_guard hold(gdi_lock());
  HDC dc = new_context(ContextKind::Window);
  if (!dc) return nullptr;
  dc->window = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
  dc->whole_window = whole_window;
  dc->from_paint = from_paint;
  dc->state.background_colour = GetSysColor(COLOR_WINDOW);
  dc->state.text_colour = GetSysColor(COLOR_WINDOWTEXT);
  return dc;
}

void release_window_context(HDC dc) {
  std::lock_guard hold(gdi_lock());
  if (live_context(dc)) free_context(dc);
}

bool resolve_target(HDC dc, Target* target) {
  RECT device{};
  switch (dc->kind) {
    case ContextKind::Screen:
      *target = screen_target();
      device = target->clip;
      break;
    case ContextKind::Window: {
      platform::user::DrawingArea area;
      if (!platform::user::drawing_area(reinterpret_cast<HWND>(static_cast<uintptr_t>(dc->window)), dc->whole_window,
                                        &area)) {
        return false;
      }
      target->bits = reinterpret_cast<uint8_t*>(area.surface->bits());
      target->width = area.surface->width;
      target->height = area.surface->height;
      target->stride = area.surface->width * 2;
      target->bit_count = 16;
      target->rgb555 = false;
      target->origin = area.origin;
      target->clip = area.clip;
      break;
    }
    case ContextKind::Memory: {
      HGDIOBJ bitmap = dc->state.bitmap;
      int rows = bitmap->height < 0 ? -bitmap->height : bitmap->height;
      int stride = (bitmap->width * bitmap->bit_count + 31) / 32 * 4;
      target->width = bitmap->width;
      target->height = rows;
      target->bit_count = bitmap->bit_count;
      target->rgb555 = bitmap->rgb555;
      if (bitmap->height < 0) {
        target->bits = bitmap->bits;
        target->stride = stride;
      } else {
        target->bits = bitmap->bits + size_t(stride) * (rows - 1);
        target->stride = -stride;
      }
      target->origin = {0, 0};
      target->clip = {0, 0, bitmap->width, rows};
      break;
    }
  }
  // The context's own clip is in its device coordinates (client or bitmap).
  if (dc->state.has_clip) {
    RECT clip = dc->state.clip;
    OffsetRect(&clip, target->origin.x, target->origin.y);
    target->clip = intersect(target->clip, clip);
  }
  // Every fill, blit and glyph is cut to this clip alone, so it must lie within the
  // pixels: a window larger than its pixels can be (they stop at 4096 a side) would
  // otherwise give a clip past their end.
  target->clip = intersect(target->clip, RECT{0, 0, target->width, target->height});
  target->origin.x += dc->state.viewport.x;
  target->origin.y += dc->state.viewport.y;
  return true;
}

}  // namespace platform::gdi

using namespace platform::gdi;

namespace platform {
bool is_screen_context(HDC dc) {
  std::lock_guard hold(gdi_lock());
  return live_context(dc) && dc->kind == ContextKind::Screen;
}

size_t gdi_object_count() {
  std::lock_guard hold(gdi_lock());
  return live_context_count() + platform::gdi::live_object_count();
}
}  // namespace platform

HDC GetDC(HWND window) {
  if (window == nullptr) {
    std::lock_guard hold(gdi_lock());
    return new_context(ContextKind::Screen);
  }
  {
    std::lock_guard hold(gdi_lock());
    if (!platform::user::find_window(window)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
  }
  return window_context(window, false, false);
}

HDC GetWindowDC(HWND window) {
  if (window == nullptr) return GetDC(nullptr);
  {
    std::lock_guard hold(gdi_lock());
    if (!platform::user::find_window(window)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
  }
  return window_context(window, true, false);
}

int ReleaseDC(HWND, HDC dc) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc) || dc->kind == ContextKind::Memory || dc->from_paint) return 0;
  free_context(dc);
  return 1;
}

HDC CreateCompatibleDC(HDC) {
  std::lock_guard hold(gdi_lock());
  return new_context(ContextKind::Memory);
}

BOOL DeleteDC(HDC dc) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  free_context(dc);
  return TRUE;
}

int GetDeviceCaps(HDC dc, int index) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc)) return 0;
  platform::DeviceProfile profile = platform::device_profile();
  // Only a memory context answers from its target: the screen's frame is not made (and
  // filled) for a question about the device.
  Target target;
  bool resolved = dc->kind == ContextKind::Memory && resolve_target(dc, &target);
  switch (index) {
    case DRIVERVERSION: return 0x400;
    case TECHNOLOGY: return DT_RASDISPLAY;
    case HORZSIZE: return profile.screen_width * 254 / (profile.dots_per_inch * 10);
    case VERTSIZE: return profile.screen_height * 254 / (profile.dots_per_inch * 10);
    case HORZRES: return dc->kind == ContextKind::Memory && resolved ? target.width : profile.screen_width;
    case VERTRES: return dc->kind == ContextKind::Memory && resolved ? target.height : profile.screen_height;
    case BITSPIXEL: return dc->kind == ContextKind::Memory && resolved ? target.bit_count : 16;
    case PLANES: return 1;
    case NUMCOLORS: return -1;
    case RASTERCAPS: return RC_BITBLT | RC_STRETCHBLT;
    case LOGPIXELSX:
    case LOGPIXELSY: return profile.dots_per_inch;
    default: return 0;
  }
}

HWND WindowFromDC(HDC dc) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc) || dc->kind != ContextKind::Window) return nullptr;
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(dc->window));
}

int GetClipBox(HDC dc, LPRECT rect) {
  std::lock_guard hold(gdi_lock());
  Target target;
  if (!rect || !live_context(dc) || !resolve_target(dc, &target)) return ERROR;
  *rect = target.clip;
  OffsetRect(rect, -target.origin.x, -target.origin.y);
  return IsRectEmpty(rect) ? NULLREGION : SIMPLEREGION;
}

int IntersectClipRect(HDC dc, int left, int top, int right, int bottom) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc)) return ERROR;
  RECT wanted{left + dc->state.viewport.x, top + dc->state.viewport.y, right + dc->state.viewport.x,
              bottom + dc->state.viewport.y};
  dc->state.clip = dc->state.has_clip ? intersect(dc->state.clip, wanted) : wanted;
  dc->state.has_clip = true;
  return IsRectEmpty(&dc->state.clip) ? NULLREGION : SIMPLEREGION;
}

int SaveDC(HDC dc) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc)) return 0;
  for (HGDIOBJ object : {dc->state.bitmap, dc->state.brush, dc->state.pen, dc->state.font}) hold_object(object);
  dc->saved.push_back(dc->state);
  return int(dc->saved.size());
}

BOOL RestoreDC(HDC dc, int saved) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc)) return FALSE;
  int count = int(dc->saved.size());
  int level = saved < 0 ? count + 1 + saved : saved;
  if (level < 1 || level > count) return FALSE;
  while (int(dc->saved.size()) > level) {
    ContextState dropped = dc->saved.back();
    dc->saved.pop_back();
    for (HGDIOBJ object : {dropped.bitmap, dropped.brush, dropped.pen, dropped.font}) release_object(object);
  }
  ContextState restored = dc->saved.back();
  dc->saved.pop_back();
  if (dc->state.bitmap != restored.bitmap) {
    if (dc->state.bitmap && !dc->state.bitmap->stock) dc->state.bitmap->selected_into = nullptr;
    if (restored.bitmap && !restored.bitmap->stock) restored.bitmap->selected_into = dc;
  }
  for (HGDIOBJ object : {dc->state.bitmap, dc->state.brush, dc->state.pen, dc->state.font}) release_object(object);
  dc->state = restored;  // the saved state's holds pass to the live state
  return TRUE;
}

BOOL SetViewportOrgEx(HDC dc, int x, int y, LPPOINT previous) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc)) return FALSE;
  if (previous) *previous = dc->state.viewport;
  dc->state.viewport = {x, y};
  return TRUE;
}

BOOL GetViewportOrgEx(HDC dc, LPPOINT origin) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc) || !origin) return FALSE;
  *origin = dc->state.viewport;
  return TRUE;
}
