// Menus and their items, and the tracking of an open drop-down menu: each open level is a
// window of its own drawn through GDI, chosen from by stylus or keys in a modal loop.
#include "platform/user/menus.h"

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/kernel/system_info.h"
#include "platform/user/input.h"
#include "platform/user/painting.h"
#include "platform/user/window_state.h"

namespace {

struct MenuItem {
  UINT type = MFT_STRING;  // MFT_STRING or MFT_SEPARATOR
  UINT state = 0;          // MF_GRAYED, MF_DISABLED, MF_CHECKED bits
  UINT id = 0;
  HMENU submenu = nullptr;
  std::u16string text;
};

}  // namespace

struct HMENU__ {
  bool popup = false;
  std::vector<MenuItem> items;
};

namespace {

using platform::user::window_lock;

std::unordered_set<HMENU>& live_menus() {
  static auto* menus = new std::unordered_set<HMENU>;
  return *menus;
}

// Caller holds window_lock().
bool is_menu(HMENU menu) { return menu && live_menus().count(menu); }

HMENU make_menu(bool popup) {
  auto* menu = new HMENU__;
  menu->popup = popup;
  std::lock_guard hold(window_lock());
  live_menus().insert(menu);
  return menu;
}

// Whether target is menu or one of its sub-menus, at any depth.
bool holds_menu(HMENU menu, HMENU target, int depth = 0) {
  if (menu == target) return true;
  if (depth > 64 || !is_menu(menu)) return false;
  for (const MenuItem& item : menu->items) {
    if (item.submenu && holds_menu(item.submenu, target, depth + 1)) return true;
  }
  return false;
}

// Where an item lies: its menu and index there.
struct ItemPlace {
  HMENU menu = nullptr;
  size_t index = 0;
};

// The item with the command id in menu or its sub-menus (sub-menu items themselves are
// found by position only).
bool find_by_command(HMENU menu, UINT id, ItemPlace* place, int depth = 0) {
  if (depth > 64 || !is_menu(menu)) return false;
  for (size_t index = 0; index < menu->items.size(); ++index) {
    const MenuItem& item = menu->items[index];
    if (item.submenu) {
      if (find_by_command(item.submenu, id, place, depth + 1)) return true;
    } else if (item.id == id) {
      *place = {menu, index};
      return true;
    }
  }
  return false;
}

bool find_item(HMENU menu, UINT position, bool by_position, ItemPlace* place) {
  if (!is_menu(menu)) return false;
  if (!by_position) return find_by_command(menu, position, place);
  if (position >= menu->items.size()) return false;
  *place = {menu, position};
  return true;
}

// The item AppendMenuW and its kin describe; false for a sub-menu that does not exist or
// would hold menu itself.
bool make_item(HMENU menu, UINT flags, UINT_PTR item_value, LPCWSTR text, MenuItem* item) {
  item->state = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED);
  if (flags & MF_SEPARATOR) {
    item->type = MFT_SEPARATOR;
    item->id = UINT(item_value);
    return true;
  }
  item->text = text ? std::u16string(text) : std::u16string();
  if (flags & MF_POPUP) {
    HMENU submenu = reinterpret_cast<HMENU>(item_value);
    if (!is_menu(submenu) || holds_menu(submenu, menu)) return false;
    item->submenu = submenu;
    item->id = UINT(item_value);
    return true;
  }
  item->id = UINT(item_value);
  return true;
}

bool fail_invalid() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return false;
}

void destroy_menu(HMENU menu, int depth) {
  if (depth > 64 || !live_menus().erase(menu)) return;
  for (const MenuItem& item : menu->items) {
    if (item.submenu) destroy_menu(item.submenu, depth + 1);
  }
  delete menu;
}

}  // namespace

HMENU CreateMenu() { return make_menu(false); }

HMENU CreatePopupMenu() { return make_menu(true); }

BOOL DestroyMenu(HMENU menu) {
  std::lock_guard hold(window_lock());
  if (!is_menu(menu)) return fail_invalid();
  destroy_menu(menu, 0);
  return TRUE;
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR item_value, LPCWSTR text) {
  std::lock_guard hold(window_lock());
  MenuItem item;
  if (!is_menu(menu) || !make_item(menu, flags, item_value, text, &item)) return fail_invalid();
  menu->items.push_back(std::move(item));
  return TRUE;
}

BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR item_value, LPCWSTR text) {
  std::lock_guard hold(window_lock());
  MenuItem item;
  if (!is_menu(menu) || !make_item(menu, flags, item_value, text, &item)) return fail_invalid();
  if ((flags & MF_BYPOSITION) && position >= menu->items.size()) {
    menu->items.push_back(std::move(item));
    return TRUE;
  }
  ItemPlace place;
  if (!find_item(menu, position, flags & MF_BYPOSITION, &place)) return fail_invalid();
  // A sub-menu placed inside itself through a deeper menu is refused like a direct one.
  if (item.submenu && holds_menu(item.submenu, place.menu)) return fail_invalid();
  place.menu->items.insert(place.menu->items.begin() + std::ptrdiff_t(place.index), std::move(item));
  return TRUE;
}

BOOL ModifyMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR item_value, LPCWSTR text) {
  std::lock_guard hold(window_lock());
  MenuItem item;
  ItemPlace place;
  if (!find_item(menu, position, flags & MF_BYPOSITION, &place) || !make_item(place.menu, flags, item_value, text, &item)) {
    return fail_invalid();
  }
  place.menu->items[place.index] = std::move(item);
  return TRUE;
}

namespace {

// Sets the state bits of mask to those of value for the item (MF_BYPOSITION in flags)
// and gives the bits before, or 0xFFFFFFFF when the item does not exist.
DWORD set_item_state(HMENU menu, UINT position, UINT flags, UINT mask) {
  std::lock_guard hold(window_lock());
  ItemPlace place;
  if (!find_item(menu, position, flags & MF_BYPOSITION, &place)) return 0xFFFFFFFF;
  UINT& state = place.menu->items[place.index].state;
  DWORD before = state & mask;
  state = (state & ~mask) | (flags & mask);
  return before;
}

}  // namespace

DWORD EnableMenuItem(HMENU menu, UINT item, UINT enable) {
  return set_item_state(menu, item, enable, MF_GRAYED | MF_DISABLED);
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT check) { return set_item_state(menu, item, check, MF_CHECKED); }

BOOL GetMenuItemInfoW(HMENU menu, UINT item_position, BOOL by_position, MENUITEMINFOW* info) {
  std::lock_guard hold(window_lock());
  ItemPlace place;
  if (!info || info->cbSize != sizeof(MENUITEMINFOW) || !find_item(menu, item_position, by_position, &place)) {
    return fail_invalid();
  }
  const MenuItem& item = place.menu->items[place.index];
  if (info->fMask & MIIM_STATE) {
    info->fState = ((item.state & (MF_GRAYED | MF_DISABLED)) ? MFS_GRAYED : 0) | (item.state & MFS_CHECKED);
  }
  if (info->fMask & MIIM_ID) info->wID = item.id;
  if (info->fMask & MIIM_SUBMENU) info->hSubMenu = item.submenu;
  if (info->fMask & MIIM_CHECKMARKS) info->hbmpChecked = info->hbmpUnchecked = nullptr;
  if (info->fMask & MIIM_DATA) info->dwItemData = 0;
  if (info->fMask & (MIIM_TYPE | MIIM_STRING)) {
    if (info->fMask & MIIM_TYPE) info->fType = item.type;
    UINT length = UINT(item.text.size());
    if (info->dwTypeData && info->cch > 0) {
      UINT copied = std::min(length, info->cch - 1);
      std::copy_n(item.text.data(), copied, info->dwTypeData);
      info->dwTypeData[copied] = 0;
      length = copied;
    }
    info->cch = length;
  }
  return TRUE;
}

// ---- Tracking an open menu ----

namespace {

constexpr int kVirtualLeft = 0x25;
constexpr int kVirtualUp = 0x26;
constexpr int kVirtualRight = 0x27;
constexpr int kVirtualDown = 0x28;
constexpr int kVirtualReturn = 0x0D;
constexpr int kVirtualEscape = 0x1B;

// One open menu: its window and a copy of its items as they were when it opened.
struct Level {
  HMENU menu = nullptr;
  HWND window = nullptr;
  std::vector<MenuItem> items;
  std::vector<RECT> places;  // client coordinates of each item
  int highlighted = -1;
};

struct Tracking {
  HWND owner = nullptr;
  bool notify = true;
  std::vector<Level> levels;
  bool pressed_inside = false;  // a stylus press began on an item of an open menu
  bool done = false;
  UINT chosen = 0;
};

thread_local Tracking* tracking = nullptr;

bool selectable(const MenuItem& item) {
  return item.type != MFT_SEPARATOR && !(item.state & (MF_GRAYED | MF_DISABLED));
}

Level* level_of(HWND window) {
  if (!tracking) return nullptr;
  for (Level& level : tracking->levels) {
    if (level.window == window) return &level;
  }
  return nullptr;
}

struct Metrics {
  int item_height;
  int separator_height = 7;
  int margin;  // the check mark's column and the sub-menu arrow's
};

Metrics metrics_of(HDC dc) {
  TEXTMETRICW text{};
  GetTextMetricsW(dc, &text);
  return {int(text.tmHeight) + 8, 7, int(text.tmHeight)};
}

// Lays the items out and gives the window's size (one pixel of border all round).
SIZE lay_out(Level& level) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old_font = SelectObject(dc, GetStockObject(SYSTEM_FONT));
  Metrics metrics = metrics_of(dc);
  int width = 0;
  for (const MenuItem& item : level.items) {
    SIZE size{};
    GetTextExtentPoint32W(dc, item.text.c_str(), int(item.text.size()), &size);
    width = std::max<int>(width, size.cx);
  }
  SelectObject(dc, old_font);
  ReleaseDC(nullptr, dc);
  width += 2 * metrics.margin;
  level.places.clear();
  int y = 1;
  for (const MenuItem& item : level.items) {
    int height = item.type == MFT_SEPARATOR ? metrics.separator_height : metrics.item_height;
    level.places.push_back({1, y, 1 + width, y + height});
    y += height;
  }
  return {width + 2, y + 1};
}

void draw_arrow(HDC dc, int x, int middle) {
  for (int column = 0; column < 4; ++column) {
    MoveToEx(dc, x + column, middle - 3 + column, nullptr);
    LineTo(dc, x + column, middle + 4 - column);
  }
}

void draw_check(HDC dc, int x, int middle) {
  for (int thickness = 0; thickness < 2; ++thickness) {
    MoveToEx(dc, x, middle + thickness - 1, nullptr);
    LineTo(dc, x + 3, middle + thickness + 2);
    LineTo(dc, x + 9, middle + thickness - 4);
  }
}

void paint_level(HWND window, const Level& level) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNSHADOW));
  RECT inside{client.left + 1, client.top + 1, client.right - 1, client.bottom - 1};
  FillRect(dc, &inside, GetSysColorBrush(COLOR_MENU));
  HGDIOBJ old_font = SelectObject(dc, GetStockObject(SYSTEM_FONT));
  Metrics metrics = metrics_of(dc);
  SetBkMode(dc, TRANSPARENT);
  for (size_t index = 0; index < level.items.size() && index < level.places.size(); ++index) {
    const MenuItem& item = level.items[index];
    RECT place = level.places[index];
    if (item.type == MFT_SEPARATOR) {
      int middle = (place.top + place.bottom) / 2;
      RECT line{place.left + 2, middle, place.right - 2, middle + 1};
      FillRect(dc, &line, GetSysColorBrush(COLOR_BTNSHADOW));
      continue;
    }
    bool lit = int(index) == level.highlighted;
    if (lit) FillRect(dc, &place, GetSysColorBrush(COLOR_HIGHLIGHT));
    COLORREF colour = GetSysColor(lit ? COLOR_HIGHLIGHTTEXT : (selectable(item) ? COLOR_MENUTEXT : COLOR_GRAYTEXT));
    SetTextColor(dc, colour);
    RECT text_place{place.left + metrics.margin, place.top, place.right - metrics.margin, place.bottom};
    DrawTextW(dc, item.text.c_str(), int(item.text.size()), &text_place, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HGDIOBJ old_pen = SelectObject(dc, pen);
    int middle = (place.top + place.bottom) / 2;
    if (item.state & MF_CHECKED) draw_check(dc, place.left + (metrics.margin - 9) / 2, middle);
    if (item.submenu) draw_arrow(dc, place.right - (metrics.margin + 4) / 2, middle);
    SelectObject(dc, old_pen);
    DeleteObject(pen);
  }
  SelectObject(dc, old_font);
  EndPaint(window, &paint);
}

LRESULT menu_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      if (const Level* level = level_of(window)) {
        paint_level(window, *level);
        return 0;
      }
      break;
    case WM_ERASEBKGND: return 1;
    default: break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void register_menu_window_class() {
  static bool registered = [] {
    WNDCLASSW record{};
    record.lpfnWndProc = menu_window_procedure;
    record.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_MENU + 1));
    record.lpszClassName = kMenuWindowClassName;
    RegisterClassW(&record);
    return true;
  }();
  (void)registered;
}

// Where a menu of size goes for the point x, y and the alignment flags, kept on the screen.
POINT place_on_screen(SIZE size, int x, int y, UINT flags) {
  if (flags & TPM_RIGHTALIGN) x -= size.cx;
  else if (flags & TPM_CENTERALIGN) x -= size.cx / 2;
  if (flags & TPM_BOTTOMALIGN) y -= size.cy;
  else if (flags & TPM_VCENTERALIGN) y -= size.cy / 2;
  int screen_width = GetSystemMetrics(SM_CXSCREEN), screen_height = GetSystemMetrics(SM_CYSCREEN);
  x = std::max(0, std::min<int>(x, screen_width - size.cx));
  y = std::max(0, std::min<int>(y, screen_height - size.cy));
  return {x, y};
}

// Opens menu as a new level at the point; false when it is gone or has no items.
bool open_level(HMENU menu, int x, int y, UINT flags, int position_in_parent) {
  Level level;
  level.menu = menu;
  {
    std::lock_guard hold(window_lock());
    if (!is_menu(menu)) return false;
    level.items = menu->items;
  }
  if (level.items.empty()) return false;
  if (tracking->notify) {
    SendMessageW(tracking->owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), MAKELPARAM(WORD(position_in_parent), 0));
    // The owner may have changed the items.
    std::lock_guard hold(window_lock());
    if (!is_menu(menu)) return false;
    level.items = menu->items;
  }
  SIZE size = lay_out(level);
  POINT at = place_on_screen(size, x, y, flags);
  register_menu_window_class();
  level.window = CreateWindowExW(WS_EX_TOPMOST, kMenuWindowClassName, u"", WS_POPUP, at.x, at.y, size.cx, size.cy,
                                 tracking->owner, nullptr, nullptr, nullptr);
  if (!level.window) return false;
  platform::user::mark_system_window(level.window);
  tracking->levels.push_back(std::move(level));
  ShowWindow(tracking->levels.back().window, SW_SHOWNA);
  return true;
}

void close_levels_after(size_t keep) {
  while (tracking->levels.size() > keep) {
    HWND window = tracking->levels.back().window;
    tracking->levels.pop_back();
    DestroyWindow(window);
  }
}

void highlight(Level& level, int index) {
  if (level.highlighted == index) return;
  level.highlighted = index;
  InvalidateRect(level.window, nullptr, FALSE);
}

// Opens the sub-menu of the level's highlighted item beside it.
void open_submenu(size_t depth, bool highlight_first) {
  close_levels_after(depth + 1);
  Level& level = tracking->levels[depth];
  if (level.highlighted < 0) return;
  const MenuItem& item = level.items[size_t(level.highlighted)];
  if (!item.submenu || !selectable(item)) return;
  RECT window_rect{};
  GetWindowRect(level.window, &window_rect);
  RECT place = level.places[size_t(level.highlighted)];
  HMENU submenu = item.submenu;
  if (!open_level(submenu, window_rect.right - 2, window_rect.top + place.top - 1, TPM_LEFTALIGN, level.highlighted)) {
    return;
  }
  Level& opened = tracking->levels.back();
  // No room on the right: the sub-menu opens over its parent's left side instead.
  RECT opened_rect{};
  GetWindowRect(opened.window, &opened_rect);
  if (opened_rect.left < window_rect.right - 2) {
    int width = opened_rect.right - opened_rect.left;
    int x = std::max<int>(0, window_rect.left - width + 2);
    MoveWindow(opened.window, x, opened_rect.top, width, opened_rect.bottom - opened_rect.top, FALSE);
  }
  if (highlight_first) {
    for (size_t index = 0; index < opened.items.size(); ++index) {
      if (opened.items[index].type != MFT_SEPARATOR) {
        highlight(opened, int(index));
        break;
      }
    }
  }
}

void choose(const Level& level, int index) {
  const MenuItem& item = level.items[size_t(index)];
  if (!selectable(item) || item.submenu) return;
  tracking->chosen = item.id;
  tracking->done = true;
}

// The level and item under a screen point: false when the point lies on no open menu;
// *index is -1 on a menu's border.
bool hit(POINT point, size_t* depth, int* index) {
  for (size_t level_index = tracking->levels.size(); level_index-- > 0;) {
    Level& level = tracking->levels[level_index];
    RECT rect{};
    GetWindowRect(level.window, &rect);
    if (!PtInRect(&rect, point)) continue;
    *depth = level_index;
    *index = -1;
    POINT inside{point.x - rect.left, point.y - rect.top};
    for (size_t item = 0; item < level.places.size(); ++item) {
      if (PtInRect(&level.places[item], inside) && level.items[item].type != MFT_SEPARATOR) *index = int(item);
    }
    return true;
  }
  return false;
}

void on_stylus(const MSG& msg) {
  POINT point{GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
  ClientToScreen(msg.hwnd, &point);
  size_t depth = 0;
  int index = -1;
  bool on_menu = hit(point, &depth, &index);
  switch (msg.message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (!on_menu) {
        tracking->done = true;  // a tap elsewhere dismisses the menu and goes no further
        return;
      }
      tracking->pressed_inside = index >= 0;
      if (index < 0) return;
      close_levels_after(depth + 1);
      highlight(tracking->levels[depth], index);
      open_submenu(depth, false);
      return;
    case WM_MOUSEMOVE:
      if (on_menu && index >= 0) highlight(tracking->levels[depth], index);
      return;
    case WM_LBUTTONUP:
      if (on_menu && index >= 0 && tracking->pressed_inside) choose(tracking->levels[depth], index);
      tracking->pressed_inside = false;
      return;
    default: return;
  }
}

void move_highlight(Level& level, int step) {
  int count = int(level.items.size());
  int index = level.highlighted;
  for (int tries = 0; tries < count; ++tries) {
    index = index < 0 ? (step > 0 ? 0 : count - 1) : (index + step + count) % count;
    if (level.items[size_t(index)].type != MFT_SEPARATOR) {
      highlight(level, index);
      return;
    }
  }
}

void on_key(int key) {
  size_t depth = tracking->levels.size() - 1;
  Level& level = tracking->levels[depth];
  switch (key) {
    case kVirtualUp: move_highlight(level, -1); return;
    case kVirtualDown: move_highlight(level, 1); return;
    case kVirtualRight: open_submenu(depth, true); return;
    case kVirtualLeft:
      if (depth > 0) close_levels_after(depth);
      return;
    case kVirtualEscape:
      if (depth > 0) close_levels_after(depth);
      else tracking->done = true;
      return;
    case kVirtualReturn:
      if (level.highlighted < 0) return;
      if (level.items[size_t(level.highlighted)].submenu) open_submenu(depth, true);
      else choose(level, level.highlighted);
      return;
    default: return;
  }
}

bool is_stylus_message(UINT message) { return message >= WM_MOUSEFIRST && message <= WM_MOUSELAST; }
bool is_key_message(UINT message) { return message >= WM_KEYFIRST && message <= WM_KEYLAST; }

// The modal loop: input goes to the menu, painting and timers go on, anything else that
// is posted ends the menu and is left for the loop outside.
void run_tracking() {
  while (!tracking->done && IsWindow(tracking->owner) && !tracking->levels.empty()) {
    WaitMessage();
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) continue;
    UINT message = msg.message;
    if (is_stylus_message(message) || is_key_message(message)) {
      PeekMessageW(&msg, nullptr, message, message, PM_REMOVE);
      if (is_stylus_message(message)) on_stylus(msg);
      else if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) on_key(int(msg.wParam));
    } else if (message == WM_PAINT || message == WM_TIMER) {
      PeekMessageW(&msg, nullptr, message, message, PM_REMOVE);
      DispatchMessageW(&msg);
    } else {
      break;
    }
  }
}

}  // namespace

BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, TPMPARAMS*) {
  {
    std::lock_guard hold(window_lock());
    if (!is_menu(menu)) return fail_invalid();
  }
  if (!IsWindow(owner) || tracking) return fail_invalid();
  Tracking state;
  state.owner = owner;
  state.notify = !(flags & TPM_NONOTIFY);
  tracking = &state;
  if (open_level(menu, x, y, flags, 0)) run_tracking();
  close_levels_after(0);
  tracking = nullptr;
  if (flags & TPM_RETURNCMD) return BOOL(state.chosen);
  if (!state.chosen) return FALSE;
  PostMessageW(owner, WM_COMMAND, MAKEWPARAM(WORD(state.chosen), 0), 0);
  return TRUE;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
  return TrackPopupMenuEx(menu, flags, x, y, owner, nullptr);
}
