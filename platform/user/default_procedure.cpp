// The default window procedure: what a window does with a message its own procedure
// passes on.
#include <string>

#include "platform/gdi/gdi.h"
#include "platform/user/input.h"
#include "platform/user/painting.h"
#include "platform/user/window_state.h"

using namespace platform::user;

namespace {

// The class background: a brush, or a system colour index + 1.
HBRUSH class_brush(HWND handle) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  if (!window) return nullptr;
  HBRUSH brush = window->window_class->record.hbrBackground;
  uintptr_t value = reinterpret_cast<uintptr_t>(brush);
  if (value > 0 && value <= 32) return GetSysColorBrush(int(value - 1));
  return brush;
}

}  // namespace

LRESULT DefWindowProcW(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CLOSE: DestroyWindow(handle); return 0;
    case WM_ERASEBKGND: {
      HBRUSH brush = class_brush(handle);
      if (!brush) return 0;
      RECT client;
      GetClientRect(handle, &client);
      FillRect(reinterpret_cast<HDC>(wparam), &client, brush);
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      if (BeginPaint(handle, &paint)) EndPaint(handle, &paint);
      return 0;
    }
    case WM_SETTEXT: {
      // The text is read, and below written, outside the lock: a bad address faults out
      // of here and must leave the lock free.
      std::u16string text = message_text(lparam);
      std::lock_guard hold(window_lock());
      Window* window = find_window(handle);
      if (!window) return FALSE;
      window->text = std::move(text);
      window->frame_dirty = true;
      invalidate(window, nullptr, false);
      // The task bar shows the active window's title.
      if (Window* bar = task_bar_window()) invalidate(bar, nullptr, true);
      return TRUE;
    }
    case WM_GETTEXT: {
      std::u16string text;
      {
        std::lock_guard hold(window_lock());
        Window* window = find_window(handle);
        if (!window) return 0;
        text = window->text;
      }
      return put_message_text(lparam, int(wparam), text);
    }
    case WM_GETTEXTLENGTH: {
      std::lock_guard hold(window_lock());
      Window* window = find_window(handle);
      return window ? LRESULT(window->text.size()) : 0;
    }
    case WM_SETFONT: {
      std::lock_guard hold(window_lock());
      if (Window* window = find_window(handle)) window->font = reinterpret_cast<HFONT>(wparam);
      if (lparam) InvalidateRect(handle, nullptr, TRUE);
      return 0;
    }
    case WM_GETFONT: {
      std::lock_guard hold(window_lock());
      Window* window = find_window(handle);
      return window ? LRESULT(reinterpret_cast<uintptr_t>(window->font)) : 0;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wparam);
      bool window_colour = message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX;
      int background = window_colour ? COLOR_WINDOW : COLOR_STATIC;
      SetTextColor(dc, GetSysColor(window_colour ? COLOR_WINDOWTEXT : COLOR_STATICTEXT));
      SetBkColor(dc, GetSysColor(background));
      return LRESULT(reinterpret_cast<uintptr_t>(GetSysColorBrush(background)));
    }
    case WM_ACTIVATE:
      // An activated window takes the focus unless it is already inside it.
      if (LOWORD(DWORD(wparam)) != WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != handle && !IsChild(handle, focus)) SetFocus(handle);
      }
      return 0;
    default: return 0;
  }
}
