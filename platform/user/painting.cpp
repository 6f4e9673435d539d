// Update regions (kept as bounding rectangles) and BeginPaint/EndPaint.
#include "platform/user/painting.h"

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_state.h"
#include "platform/user/window_state.h"

using namespace platform::user;

namespace {

void validate(Window* window, const RECT* rect) {
  ++window->paint_count;
  if (!window->has_update) return;
  RECT remaining = window->update;
  if (rect) {
    // Rectangles cannot hold a hole: only a cut that removes whole sides shrinks the region.
    RECT cut;
    if (!IntersectRect(&cut, rect, &remaining)) return;
    if (cut.left <= remaining.left && cut.right >= remaining.right) {
      if (cut.top <= remaining.top) remaining.top = cut.bottom;
      else if (cut.bottom >= remaining.bottom) remaining.bottom = cut.top;
    } else if (cut.top <= remaining.top && cut.bottom >= remaining.bottom) {
      if (cut.left <= remaining.left) remaining.left = cut.right;
      else if (cut.right >= remaining.right) remaining.right = cut.left;
    }
    if (!IsRectEmpty(&remaining)) {
      window->update = remaining;
      return;
    }
  }
  window->has_update = false;
  window->erase_pending = false;
}

}  // namespace

BOOL InvalidateRect(HWND handle, LPCRECT rect, BOOL erase) {
  std::lock_guard hold(window_lock());
  if (!handle) {
    for (Window* window : top_level_windows()) {
      window->frame_dirty = true;
      invalidate(window, nullptr, erase);
    }
    screen_changed();
    return TRUE;
  }
  Window* window = find_window(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  invalidate(window, rect, erase);
  return TRUE;
}

BOOL ValidateRect(HWND handle, LPCRECT rect) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  if (!window) return FALSE;
  validate(window, rect);
  return TRUE;
}

BOOL GetUpdateRect(HWND handle, LPRECT rect, BOOL erase) {
  bool send_erase = false;
  RECT update{};
  {
    std::lock_guard hold(window_lock());
    Window* window = find_window(handle);
    if (!window) return FALSE;
    if (!window->has_update) {
      if (rect) SetRectEmpty(rect);
      return FALSE;
    }
    update = window->update;
    send_erase = erase && window->erase_pending;
  }
  if (rect) *rect = update;
  if (send_erase) {
    HDC dc = GetDC(handle);
    if (SendMessageW(handle, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0)) {
      std::lock_guard hold(window_lock());
      if (Window* window = find_window(handle)) window->erase_pending = false;
    }
    ReleaseDC(handle, dc);
  }
  return TRUE;
}

BOOL UpdateWindow(HWND handle) {
  std::vector<HWND> to_paint;
  {
    std::lock_guard hold(window_lock());
    Window* window = find_window(handle);
    if (!window) return FALSE;
    std::vector<Window*> pending{window};
    while (!pending.empty()) {
      Window* next = pending.back();
      pending.pop_back();
      if (!(next->style & WS_VISIBLE)) continue;
      if (next->frame_dirty) {
        next->frame_dirty = false;
        draw_frame(next);
      }
      if (next->has_update) to_paint.push_back(handle_of(next));
      for (auto it = next->children.rbegin(); it != next->children.rend(); ++it) pending.push_back(*it);
    }
  }
  for (HWND window : to_paint) {
    MSG paint{window, WM_PAINT, 0, 0, 0, {}};
    bool still_needed;
    {
      std::lock_guard hold(window_lock());
      Window* record = find_window(window);
      still_needed = record && record->has_update;
    }
    if (still_needed) DispatchMessageW(&paint);
  }
  return TRUE;
}

BOOL RedrawWindow(HWND handle, LPCRECT rect, HRGN, UINT flags) {
  if (flags & RDW_INVALIDATE) InvalidateRect(handle, rect, (flags & RDW_ERASE) ? TRUE : FALSE);
  if (flags & RDW_VALIDATE) ValidateRect(handle, rect);
  if (flags & (RDW_UPDATENOW | RDW_ERASENOW)) UpdateWindow(handle);
  return TRUE;
}

HDC BeginPaint(HWND handle, LPPAINTSTRUCT paint) {
  if (!paint) return nullptr;
  RECT update{};
  bool erase = false;
  {
    std::lock_guard hold(window_lock());
    Window* window = find_window(handle);
    if (!window) return nullptr;
    if (window->frame_dirty) {
      window->frame_dirty = false;
      draw_frame(window);
    }
    if (window->has_update) update = window->update;
    erase = window->has_update && window->erase_pending;
    validate(window, nullptr);
  }
  HDC dc = platform::gdi::window_context(handle, false, true);
  if (!dc) return nullptr;
  {
    std::lock_guard hold(window_lock());
    dc->state.has_clip = true;
    dc->state.clip = update;
  }
  *paint = PAINTSTRUCT{};
  paint->hdc = dc;
  paint->rcPaint = update;
  paint->fErase = FALSE;
  if (erase && !SendMessageW(handle, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0)) paint->fErase = TRUE;
  return dc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* paint) {
  if (!paint) return FALSE;
  platform::gdi::release_window_context(paint->hdc);
  return TRUE;
}
