// The screen composed from the top-level windows' surfaces, and the frames (caption and
// border) of windows.
#include <algorithm>
#include <cstring>

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_state.h"
#include "platform/gdi/screen.h"
#include "platform/user/input.h"
#include "platform/user/window_state.h"

namespace platform::user {
namespace {

bool composition_dirty = true;

}  // namespace

void compose_screen_if_changed() {
  if (!composition_dirty) return;
  composition_dirty = false;
  gdi::Target screen = gdi::screen_target();
  std::fill_n(reinterpret_cast<uint16_t*>(screen.bits), size_t(screen.width) * screen.height, uint16_t(0));
  auto& windows = top_level_windows();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    Window* window = *it;
    if (!(window->style & WS_VISIBLE) || !window->surface) continue;
    Surface& surface = *window->surface;
    RECT rect = window->rect;
    RECT visible;
    RECT bounds{0, 0, screen.width, screen.height};
    RECT on_screen{rect.left, rect.top, rect.left + surface.width, rect.top + surface.height};
    if (!IntersectRect(&visible, &on_screen, &bounds)) continue;
    int width = visible.right - visible.left;
    for (int y = visible.top; y < visible.bottom; ++y) {
      const uint16_t* from = surface.bits() + size_t(y - rect.top) * surface.width + (visible.left - rect.left);
      uint16_t* to = reinterpret_cast<uint16_t*>(screen.bits + ptrdiff_t(y) * screen.stride) + visible.left;
      std::memcpy(to, from, size_t(width) * 2);
    }
  }
}

void mark_composition_dirty() { composition_dirty = true; }

void draw_frame(Window* window) {
  RECT outer{0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
  RECT client = client_in_window(window);
  if (EqualRect(&outer, &client)) return;
  HDC dc = gdi::window_context(handle_of(window), true, false);
  if (!dc) return;
  bool has_border = window->style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME);
  int border = has_border ? 1 : 0;
  if (has_border) FrameRect(dc, &outer, GetSysColorBrush(COLOR_WINDOWFRAME));
  if (window->ex_style & WS_EX_CLIENTEDGE) {
    RECT edge = client;
    InflateRect(&edge, 2, 2);
    DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT);
  }
  if ((window->style & WS_CAPTION) == WS_CAPTION) {
    bool active = handle_of(window) == GetActiveWindow() || window->parent;
    RECT caption{border, border, outer.right - border, client.top - ((window->ex_style & WS_EX_CLIENTEDGE) ? 2 : 0)};
    FillRect(dc, &caption, GetSysColorBrush(active ? COLOR_ACTIVECAPTION : COLOR_INACTIVECAPTION));
    HGDIOBJ previous = SelectObject(dc, GetStockObject(SYSTEM_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
    int button = caption.bottom - caption.top;
    RECT title{caption.left + 4, caption.top, caption.right - button - 2, caption.bottom};
    DrawTextW(dc, window->text.c_str(), int(window->text.size()), &title, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    RECT box{caption.right - button, caption.top, caption.right, caption.bottom};
    if (window->ex_style & WS_EX_CAPTIONOKBTN) {
      DrawTextW(dc, u"ok", 2, &box, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    } else if (window->style & WS_SYSMENU) {
      DrawTextW(dc, u"\u00D7", 1, &box, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    }
    SelectObject(dc, previous);
  }
  gdi::release_window_context(dc);
  composition_dirty = true;
}

}  // namespace platform::user
