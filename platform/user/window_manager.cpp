// The window manager: classes, the table of windows by handle, creation and destruction,
// geometry, z-order, visibility, window data and text.
#include "platform/user/window_manager.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/gdi/gdi.h"
#include "platform/kernel/system_info.h"
#include "platform/kernel/threads.h"
#include "platform/kernel/wide_string.h"
#include "platform/user/input.h"
#include "platform/user/painting.h"
#include "platform/user/window_enumeration.h"
#include "platform/user/window_state.h"

namespace platform::user {
namespace {

struct Registry {
  std::recursive_mutex lock;
  std::vector<std::shared_ptr<WindowClass>> classes;
  std::unordered_map<uint32_t, std::unique_ptr<Window>> windows;
  std::vector<Window*> top_levels;  // topmost first
  // Handles grow by 4 from 64 KiB up and are never given out twice.
  uint32_t next_handle = 0x10000;
};

Registry& registry() {
  static auto* instance = new Registry;
  return *instance;
}

bool same_name(const std::u16string& a, const WCHAR* b) { return crt::_wcsicmp(a.c_str(), b) == 0; }

std::shared_ptr<WindowClass> find_class(const WCHAR* name) {
  if (!name) return nullptr;
  // A class atom (a number below 64 KiB) is the class's index + 1.
  uintptr_t value = reinterpret_cast<uintptr_t>(name);
  auto& classes = registry().classes;
  if (value < 0x10000) {
    for (auto& entry : classes) {
      if (ATOM(reinterpret_cast<uintptr_t>(entry.get()) & 0xFFFF) == value) return entry;
    }
    return nullptr;
  }
  for (auto& entry : classes) {
    if (same_name(entry->name, name)) return entry;
  }
  return nullptr;
}

int inset_border(const Window* window) {
  return (window->style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME)) ? GetSystemMetrics(SM_CXBORDER) : 0;
}

int inset_caption(DWORD style) { return (style & WS_CAPTION) == WS_CAPTION ? GetSystemMetrics(SM_CYCAPTION) : 0; }

int inset_edge(DWORD ex_style) { return (ex_style & WS_EX_CLIENTEDGE) ? GetSystemMetrics(SM_CXEDGE) : 0; }

void resize_surface(Window* window) {
  if (window->parent) return;
  int width = std::clamp(int(window->rect.right - window->rect.left), 0, 4096);
  int height = std::clamp(int(window->rect.bottom - window->rect.top), 0, 4096);
  if (!window->surface) window->surface = std::make_unique<Surface>();
  Surface& surface = *window->surface;
  if (surface.width == width && surface.height == height) return;
  surface.width = width;
  surface.height = height;
  surface.pixels.clear();  // white again when next used
}

std::vector<Window*>& siblings_of(Window* window) {
  return window->parent ? window->parent->children : registry().top_levels;
}

// Places a top-level window at the top of its band: topmost windows stay above the rest,
// the desktop below everything.
void place_top(Window* window) {
  auto& list = siblings_of(window);
  list.erase(std::remove(list.begin(), list.end(), window), list.end());
  size_t at = 0;
  if (!window->parent && !(window->ex_style & WS_EX_TOPMOST)) {
    while (at < list.size() && (list[at]->ex_style & WS_EX_TOPMOST)) ++at;
  }
  list.insert(list.begin() + ptrdiff_t(at), window);
}

void place_bottom(Window* window) {
  auto& list = siblings_of(window);
  list.erase(std::remove(list.begin(), list.end(), window), list.end());
  size_t at = list.size();
  if (!window->parent && at > 0 && list[at - 1] == desktop_window() && window != desktop_window()) --at;
  list.insert(list.begin() + ptrdiff_t(at), window);
}

void place_after(Window* window, Window* above) {
  auto& list = siblings_of(window);
  list.erase(std::remove(list.begin(), list.end(), window), list.end());
  auto found = std::find(list.begin(), list.end(), above);
  list.insert(found == list.end() ? list.end() : found + 1, window);
}

void collect_owned(Window* owner, std::vector<uint32_t>& handles) {
  for (Window* window : registry().top_levels) {
    if (window->owner == owner) handles.push_back(window->handle);
  }
}

void collect_tree(Window* window, std::vector<uint32_t>& handles) {
  handles.push_back(window->handle);
  for (Window* child : window->children) collect_tree(child, handles);
}

// Removes a window's record (its children are removed first by the caller).
void remove_window(Window* window) {
  auto& list = siblings_of(window);
  list.erase(std::remove(list.begin(), list.end(), window), list.end());
  for (Window* other : registry().top_levels) {
    if (other->owner == window) other->owner = nullptr;
  }
  window->window_class->live_windows--;
  registry().windows.erase(window->handle);
}

bool visit_top_levels(bool (*visit)(HWND window, void* state), void* state) {
  std::vector<HWND> handles;
  {
    std::lock_guard hold(window_lock());
    for (Window* window : registry().top_levels) handles.push_back(handle_of(window));
  }
  for (HWND window : handles) {
    if (!visit(window, state)) return false;
  }
  return true;
}

void walk_top_levels(bool (*visit)(HWND window, void* state), void* state) { visit_top_levels(visit, state); }

struct WalkerInstaller {
  WalkerInstaller() { platform::top_level_window_walker = walk_top_levels; }
} installer;

}  // namespace

std::recursive_mutex& window_lock() { return registry().lock; }

Window* find_window(HWND handle) {
  uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value < 0x10000 || value > 0xFFFFFFFFu) return nullptr;
  auto& windows = registry().windows;
  auto found = windows.find(uint32_t(value));
  return found == windows.end() ? nullptr : found->second.get();
}

std::vector<Window*>& top_level_windows() { return registry().top_levels; }

Window* top_level_of(Window* window) {
  while (window && window->parent) window = window->parent;
  return window;
}

bool is_child(const Window* window) { return window->parent != nullptr; }

bool really_visible(const Window* window) {
  for (; window; window = window->parent) {
    if (!(window->style & WS_VISIBLE)) return false;
  }
  return true;
}

RECT client_in_window(const Window* window) {
  int border = inset_border(window) + inset_edge(window->ex_style);
  int caption = inset_caption(window->style);
  RECT client{border, border + caption, window->rect.right - window->rect.left - border,
              window->rect.bottom - window->rect.top - border};
  if (client.right < client.left) client.right = client.left;
  if (client.bottom < client.top) client.bottom = client.top;
  return client;
}

RECT screen_rect(const Window* window) {
  RECT rect = window->rect;
  if (window->parent) {
    RECT parent = client_screen_rect(window->parent);
    OffsetRect(&rect, parent.left, parent.top);
  }
  return rect;
}

RECT client_screen_rect(const Window* window) {
  RECT outer = screen_rect(window);
  RECT client = client_in_window(window);
  OffsetRect(&client, outer.left, outer.top);
  return client;
}

bool drawing_area(HWND handle, bool whole_window, DrawingArea* area) {
  Window* window = find_window(handle);
  if (!window) return false;
  Window* top = top_level_of(window);
  resize_surface(top);
  RECT top_rect = screen_rect(top);
  RECT own = whole_window ? screen_rect(window) : client_screen_rect(window);
  RECT clip = own;
  for (Window* parent = window->parent; parent; parent = parent->parent) {
    RECT parent_client = client_screen_rect(parent);
    IntersectRect(&clip, &clip, &parent_client);
  }
  IntersectRect(&clip, &clip, &top_rect);
  OffsetRect(&clip, -top_rect.left, -top_rect.top);
  area->surface = top->surface.get();
  area->origin = {own.left - top_rect.left, own.top - top_rect.top};
  area->clip = clip;
  return true;
}

void invalidate(Window* window, const RECT* rect, bool erase) {
  RECT client = client_in_window(window);
  OffsetRect(&client, -client.left, -client.top);
  RECT area = client;
  if (rect && !IntersectRect(&area, rect, &client)) return;
  if (IsRectEmpty(&area)) return;
  if (window->has_update) UnionRect(&window->update, &window->update, &area);
  else window->update = area;
  window->has_update = true;
  window->erase_pending = window->erase_pending || erase;
  for (Window* child : window->children) {
    if (!(child->style & WS_VISIBLE)) continue;
    RECT overlap;
    if (!IntersectRect(&overlap, &area, &child->rect)) continue;
    RECT child_client = client_in_window(child);
    OffsetRect(&child_client, child->rect.left, child->rect.top);
    RECT inner;
    if (!IntersectRect(&inner, &overlap, &child_client) || !EqualRect(&inner, &overlap)) child->frame_dirty = true;
    OffsetRect(&overlap, -child_client.left, -child_client.top);
    invalidate(child, &overlap, erase);
  }
  wake_queues();
}

LRESULT call_procedure(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
  WNDPROC procedure = nullptr;
  {
    std::lock_guard hold(window_lock());
    Window* window = find_window(handle);
    if (!window) return 0;
    procedure = window->procedure;
  }
  return procedure ? procedure(handle, message, wparam, lparam) : 0;
}


// Used by the system windows and menu bars: a window that is never activated.
void mark_system_window(HWND handle) {
  std::lock_guard hold(window_lock());
  if (Window* window = find_window(handle)) window->system = true;
}

}  // namespace platform::user

using namespace platform::user;

namespace {

// Window positions and sizes are kept within this many pixels, so that an edge, a width
// or a difference of edges stays a 32-bit number whatever a program asks for.
constexpr int kCoordinateLimit = 1 << 29;

int bounded_position(int value) { return std::clamp(value, -kCoordinateLimit, kCoordinateLimit); }
int bounded_size(int value) { return std::clamp(value, 0, kCoordinateLimit); }

void send(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
  call_procedure(window, message, wparam, lparam);
}

// Sends WM_WINDOWPOSCHANGED, then WM_MOVE and WM_SIZE when they changed.
void announce_position(HWND handle, HWND insert_after, UINT flags, bool moved, bool sized) {
  WINDOWPOS position{};
  RECT client{};
  {
    std::lock_guard hold(window_lock());
    Window* window = find_window(handle);
    if (!window) return;
    position = {handle, insert_after, window->rect.left, window->rect.top, window->rect.right - window->rect.left,
                window->rect.bottom - window->rect.top, flags};
    client = client_in_window(window);
  }
  send(handle, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&position));
  if (moved) send(handle, WM_MOVE, 0, MAKELPARAM(WORD(position.x + client.left), WORD(position.y + client.top)));
  if (sized) {
    send(handle, WM_SIZE, SIZE_RESTORED,
         MAKELPARAM(WORD(client.right - client.left), WORD(client.bottom - client.top)));
  }
}

// The work area: the screen below the task bar.
RECT work_area() {
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

// After a window went away or was hidden: the next window to activate, or null.
HWND next_to_activate(Window* leaving) {
  if (leaving->owner && really_visible(leaving->owner) && !(leaving->owner->style & WS_DISABLED)) {
    return handle_of(leaving->owner);
  }
  for (Window* window : top_level_windows()) {
    if (window != leaving && !window->system && really_visible(window) && !(window->style & WS_DISABLED)) {
      return handle_of(window);
    }
  }
  return nullptr;
}

}  // namespace

ATOM RegisterClassW(const WNDCLASSW* record) {
  if (!record || !record->lpfnWndProc || !record->lpszClassName ||
      reinterpret_cast<uintptr_t>(record->lpszClassName) < 0x10000 || record->cbWndExtra < 0 ||
      record->cbWndExtra > 1024) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard hold(window_lock());
  if (find_class(record->lpszClassName)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  auto entry = std::make_shared<WindowClass>();
  entry->name = record->lpszClassName;
  entry->record = *record;
  entry->record.lpszClassName = entry->name.c_str();
  registry().classes.push_back(entry);
  ATOM atom = ATOM(reinterpret_cast<uintptr_t>(entry.get()) & 0xFFFF);
  return atom ? atom : 1;
}

BOOL UnregisterClassW(LPCWSTR class_name, HINSTANCE) {
  std::lock_guard hold(window_lock());
  auto entry = find_class(class_name);
  if (!entry) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  if (entry->live_windows > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
  }
  auto& classes = registry().classes;
  classes.erase(std::remove(classes.begin(), classes.end(), entry), classes.end());
  return TRUE;
}

BOOL GetClassInfoW(HINSTANCE, LPCWSTR class_name, WNDCLASSW* record) {
  std::lock_guard hold(window_lock());
  auto entry = find_class(class_name);
  if (!entry || !record) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  *record = entry->record;
  return TRUE;
}

int GetClassNameW(HWND handle, LPWSTR name, int count) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  if (!window || !name || count <= 0) return 0;
  int copied = std::min(int(window->window_class->name.size()), count - 1);
  std::copy_n(window->window_class->name.data(), copied, name);
  name[copied] = 0;
  return copied;
}

HWND CreateWindowExW(DWORD ex_style, LPCWSTR class_name, LPCWSTR window_name, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID parameter) {
  ensure_system_windows();
  HWND handle = nullptr;
  CREATESTRUCTW create{};
  {
    std::lock_guard hold(window_lock());
    auto window_class = find_class(class_name);
    if (!window_class) {
      SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
      return nullptr;
    }
    Window* parent_window = nullptr;
    if (parent) {
      parent_window = find_window(parent);
      if (!parent_window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
    }
    if ((style & WS_CHILD) && !parent_window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    auto window = std::make_unique<Window>();
    window->handle = registry().next_handle += 4;
    window->window_class = window_class;
    window->style = style & ~WS_VISIBLE;
    window->ex_style = ex_style;
    window->procedure = window_class->record.lpfnWndProc;
    window->instance = instance;
    window->extra.assign(size_t(window_class->record.cbWndExtra), 0);
    window->text = window_name ? std::u16string(window_name) : std::u16string();
    window->thread_id = GetCurrentThreadId();
    if (style & WS_CHILD) {
      window->parent = parent_window;
      window->id = LONG(reinterpret_cast<uintptr_t>(menu));
      if (x == CW_USEDEFAULT) x = y = 0;
      if (width == CW_USEDEFAULT) width = height = 0;
    } else {
      window->owner = top_level_of(parent_window);
      RECT work = work_area();
      if (x == CW_USEDEFAULT) {
        x = work.left;
        y = work.top;
      }
      if (width == CW_USEDEFAULT) {
        width = work.right - work.left;
        height = work.bottom - work.top;
      }
    }
    x = bounded_position(x);
    y = bounded_position(y);
    window->rect = {x, y, x + bounded_size(width), y + bounded_size(height)};
    window->frame_dirty = true;
    Window* made = window.get();
    registry().windows[made->handle] = std::move(window);
    window_class->live_windows++;
    if (made->parent) {
      made->parent->children.push_back(made);  // new children go to the bottom: creation order is tab order
    } else {
      place_top(made);
      resize_surface(made);
    }
    handle = handle_of(made);
    create = {parameter, instance, menu, parent, height, width, y, x, LONG(style), window_name, class_name, ex_style};
  }
  if (call_procedure(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyWindow(handle);
    return nullptr;
  }
  if (!IsWindow(handle)) return nullptr;
  announce_position(handle, nullptr, SWP_NOZORDER, true, true);
  if (style & WS_VISIBLE) ShowWindow(handle, SW_SHOW);
  return IsWindow(handle) ? handle : nullptr;
}

BOOL DestroyWindow(HWND handle) {
  std::vector<uint32_t> owned, tree;
  HWND activate = nullptr;
  bool was_active = false;
  {
    std::lock_guard hold(window_lock());
    Window* window = find_window(handle);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (window->destroying) return TRUE;
    collect_tree(window, tree);
    for (uint32_t id : tree) find_window(reinterpret_cast<HWND>(uintptr_t(id)))->destroying = true;
    if (!window->parent) collect_owned(window, owned);
  }
  for (uint32_t id : owned) DestroyWindow(reinterpret_cast<HWND>(uintptr_t(id)));
  {
    std::lock_guard hold(window_lock());
    Window* window = find_window(handle);
    if (!window) return TRUE;
    bool visible = really_visible(window);
    window->style &= ~WS_VISIBLE;
    if (visible) {
      if (window->parent) {
        RECT area = window->rect;
        invalidate(window->parent, &area, true);
      }
      screen_changed();
    }
    was_active = GetActiveWindow() == handle;
    if (was_active) activate = next_to_activate(window);
    for (uint32_t id : tree) forget_window_in_input(find_window(reinterpret_cast<HWND>(uintptr_t(id))));
  }
  // WM_DESTROY goes to the window, then to its children, parents first.
  for (uint32_t id : tree) send(reinterpret_cast<HWND>(uintptr_t(id)), WM_DESTROY);
  {
    std::lock_guard hold(window_lock());
    for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
      Window* window = find_window(reinterpret_cast<HWND>(uintptr_t(*it)));
      if (!window) continue;
      forget_window_in_queues(*it);
      remove_window(window);
    }
  }
  if (was_active && activate) SetActiveWindow(activate);
  return TRUE;
}

BOOL IsWindow(HWND handle) {
  std::lock_guard hold(window_lock());
  return find_window(handle) != nullptr;
}

BOOL ShowWindow(HWND handle, int command) {
  bool show = command != SW_HIDE && command != SW_MINIMIZE;
  bool was_visible, top_level, system;
  HWND activate = nullptr;
  bool was_active = false, focus_inside = false;
  {
    std::lock_guard hold(window_lock());
    Window* window = find_window(handle);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    was_visible = window->style & WS_VISIBLE;
    top_level = !window->parent;
    system = window->system;
  }
  bool activating = show && top_level && !system && command != SW_SHOWNA && command != SW_SHOWNOACTIVATE;
  if (show != was_visible) {
    send(handle, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    std::lock_guard hold(window_lock());
    Window* window = find_window(handle);
    if (!window) return was_visible;
    if (show) {
      window->style |= WS_VISIBLE;
      window->frame_dirty = true;
      invalidate(window, nullptr, true);
    } else {
      window->style &= ~WS_VISIBLE;
      if (window->parent) {
        RECT area = window->rect;
        invalidate(window->parent, &area, true);
      }
      HWND focus = GetFocus();
      focus_inside = focus == handle || IsChild(handle, focus);
      was_active = GetActiveWindow() == handle;
      if (was_active) activate = next_to_activate(window);
    }
    screen_changed();
  }
  if (focus_inside) SetFocus(nullptr);
  if (activating) SetActiveWindow(handle);
  else if (was_active) SetActiveWindow(activate);
  return was_visible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND handle) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  return window && really_visible(window);
}

BOOL EnableWindow(HWND handle, BOOL enable) {
  bool was_disabled;
  {
    std::lock_guard hold(window_lock());
    Window* window = find_window(handle);
    if (!window) return FALSE;
    was_disabled = window->style & WS_DISABLED;
    if (was_disabled == !enable) return was_disabled;
    if (enable) window->style &= ~WS_DISABLED;
    else window->style |= WS_DISABLED;
  }
  if (!enable && GetFocus() == handle) SetFocus(nullptr);
  send(handle, WM_ENABLE, enable ? TRUE : FALSE, 0);
  return was_disabled;
}

BOOL IsWindowEnabled(HWND handle) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  return window && !(window->style & WS_DISABLED);
}

BOOL GetWindowRect(HWND handle, LPRECT rect) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  if (!window || !rect) return FALSE;
  *rect = screen_rect(window);
  return TRUE;
}

BOOL GetClientRect(HWND handle, LPRECT rect) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  if (!window || !rect) return FALSE;
  RECT client = client_in_window(window);
  *rect = {0, 0, client.right - client.left, client.bottom - client.top};
  return TRUE;
}

BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL, DWORD ex_style) {
  if (!rect) return FALSE;
  int border = ((style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME)) ? GetSystemMetrics(SM_CXBORDER) : 0) +
               inset_edge(ex_style);
  rect->left -= border;
  rect->right += border;
  rect->top -= border + inset_caption(style);
  rect->bottom += border;
  return TRUE;
}

BOOL ClientToScreen(HWND handle, LPPOINT point) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  if (!window || !point) return FALSE;
  RECT client = client_screen_rect(window);
  point->x += client.left;
  point->y += client.top;
  return TRUE;
}

BOOL ScreenToClient(HWND handle, LPPOINT point) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  if (!window || !point) return FALSE;
  RECT client = client_screen_rect(window);
  point->x -= client.left;
  point->y -= client.top;
  return TRUE;
}

int MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count) {
  std::lock_guard hold(window_lock());
  POINT from_origin{0, 0}, to_origin{0, 0};
  if (from) {
    Window* window = find_window(from);
    if (!window) return 0;
    RECT client = client_screen_rect(window);
    from_origin = {client.left, client.top};
  }
  if (to) {
    Window* window = find_window(to);
    if (!window) return 0;
    RECT client = client_screen_rect(window);
    to_origin = {client.left, client.top};
  }
  int dx = from_origin.x - to_origin.x, dy = from_origin.y - to_origin.y;
  for (UINT i = 0; points && i < count; ++i) {
    points[i].x += dx;
    points[i].y += dy;
  }
  return int(MAKELONG(WORD(int16_t(dx)), WORD(int16_t(dy))));
}

BOOL MoveWindow(HWND handle, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(handle, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL SetWindowPos(HWND handle, HWND insert_after, int x, int y, int width, int height, UINT flags) {
  bool moved = false, sized = false, activate = false, reordered = false;
  {
    std::lock_guard hold(window_lock());
    Window* window = find_window(handle);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    RECT old_rect = window->rect;
    RECT rect = old_rect;
    if (!(flags & SWP_NOMOVE)) {
      OffsetRect(&rect, bounded_position(x) - rect.left, bounded_position(y) - rect.top);
    }
    if (!(flags & SWP_NOSIZE)) {
      rect.right = rect.left + bounded_size(width);
      rect.bottom = rect.top + bounded_size(height);
    }
    moved = rect.left != old_rect.left || rect.top != old_rect.top;
    sized = (rect.right - rect.left) != (old_rect.right - old_rect.left) ||
            (rect.bottom - rect.top) != (old_rect.bottom - old_rect.top);
    if (moved || sized) {
      bool visible = really_visible(window);
      if (visible && window->parent) invalidate(window->parent, &old_rect, true);
      window->rect = rect;
      resize_surface(window);
      if (visible && !(flags & SWP_NOREDRAW)) {
        window->frame_dirty = true;
        invalidate(window, nullptr, true);
      } else if (visible && sized) {
        window->frame_dirty = true;
        invalidate(window, nullptr, true);
      }
      screen_changed();
    }
    if (!(flags & SWP_NOZORDER)) {
      reordered = true;
      if (insert_after == HWND_TOPMOST) {
        window->ex_style |= WS_EX_TOPMOST;
        place_top(window);
      } else if (insert_after == HWND_NOTOPMOST) {
        window->ex_style &= ~WS_EX_TOPMOST;
        place_top(window);
      } else if (insert_after == HWND_TOP) {
        place_top(window);
      } else if (insert_after == HWND_BOTTOM) {
        place_bottom(window);
      } else if (Window* above = find_window(insert_after); above && above != window) {
        place_after(window, above);
      }
      screen_changed();
    }
    activate = !(flags & SWP_NOACTIVATE) && !window->parent && !window->system;
  }
  if (flags & SWP_SHOWWINDOW) ShowWindow(handle, (flags & SWP_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
  if (flags & SWP_HIDEWINDOW) ShowWindow(handle, SW_HIDE);
  announce_position(handle, reordered ? insert_after : nullptr, flags, moved, sized);
  if (activate && IsWindowVisible(handle)) SetActiveWindow(handle);
  return TRUE;
}

BOOL BringWindowToTop(HWND handle) { return SetWindowPos(handle, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }

HWND GetParent(HWND handle) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  if (!window) return nullptr;
  return handle_of(window->parent ? window->parent : window->owner);
}

HWND SetParent(HWND handle, HWND parent) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  Window* new_parent = parent ? find_window(parent) : nullptr;
  if (!window || (parent && !new_parent)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  for (Window* up = new_parent; up; up = up->parent) {
    if (up == window) return nullptr;  // a window cannot go inside itself
  }
  HWND previous = handle_of(window->parent ? window->parent : window->owner);
  bool child = window->style & WS_CHILD;
  if (!child) {
    // A top-level window keeps its place and gets an owner, as on the device.
    if (new_parent != window) window->owner = top_level_of(new_parent);
    return previous;
  }
  RECT on_screen = screen_rect(window);
  auto& old_list = siblings_of(window);
  old_list.erase(std::remove(old_list.begin(), old_list.end(), window), old_list.end());
  window->parent = new_parent;
  if (new_parent) {
    RECT client = client_screen_rect(new_parent);
    OffsetRect(&on_screen, -client.left, -client.top);
    new_parent->children.push_back(window);
  } else {
    window->style &= ~WS_CHILD;
    place_top(window);
  }
  window->rect = on_screen;
  resize_surface(window);
  invalidate(window, nullptr, true);
  screen_changed();
  return previous;
}

HWND GetWindow(HWND handle, UINT relation) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  if (!window) return nullptr;
  auto& list = siblings_of(window);
  auto at = std::find(list.begin(), list.end(), window);
  switch (relation) {
    case GW_HWNDFIRST: return handle_of(list.front());
    case GW_HWNDLAST: return handle_of(list.back());
    case GW_HWNDNEXT: return at + 1 < list.end() ? handle_of(*(at + 1)) : nullptr;
    case GW_HWNDPREV: return at > list.begin() ? handle_of(*(at - 1)) : nullptr;
    case GW_OWNER: return handle_of(window->owner);
    case GW_CHILD: return window->children.empty() ? nullptr : handle_of(window->children.front());
    default: return nullptr;
  }
}

BOOL IsChild(HWND parent, HWND handle) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  Window* ancestor = find_window(parent);
  if (!window || !ancestor) return FALSE;
  for (Window* up = window->parent; up; up = up->parent) {
    if (up == ancestor) return TRUE;
  }
  return FALSE;
}

HWND GetDlgItem(HWND dialog, int id) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(dialog);
  if (!window) return nullptr;
  for (Window* child : window->children) {
    if (child->id == id) return handle_of(child);
  }
  return nullptr;
}

int GetDlgCtrlID(HWND handle) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  return window && window->parent ? int(window->id) : 0;
}

HWND GetDesktopWindow() {
  ensure_system_windows();
  std::lock_guard hold(window_lock());
  return handle_of(desktop_window());
}

HWND FindWindowW(LPCWSTR class_name, LPCWSTR window_name) {
  ensure_system_windows();
  std::lock_guard hold(window_lock());
  for (Window* window : top_level_windows()) {
    if (class_name && !same_name(window->window_class->name, class_name)) continue;
    if (window_name && window->text != window_name) continue;
    return handle_of(window);
  }
  return nullptr;
}

namespace {
Window* deepest_child_at(Window* window, POINT point) {
  for (Window* child : window->children) {
    if (!(child->style & WS_VISIBLE)) continue;
    RECT rect = screen_rect(child);
    if (PtInRect(&rect, point)) return deepest_child_at(child, point);
  }
  return window;
}
}  // namespace

HWND WindowFromPoint(POINT point) {
  std::lock_guard hold(window_lock());
  for (Window* window : top_level_windows()) {
    if (!(window->style & WS_VISIBLE)) continue;
    RECT rect = screen_rect(window);
    if (PtInRect(&rect, point)) return handle_of(deepest_child_at(window, point));
  }
  return nullptr;
}

HWND ChildWindowFromPoint(HWND parent, POINT point) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(parent);
  if (!window) return nullptr;
  RECT client = client_screen_rect(window);
  POINT on_screen{point.x + client.left, point.y + client.top};
  RECT whole = screen_rect(window);
  if (!PtInRect(&whole, on_screen)) return nullptr;
  for (Window* child : window->children) {
    RECT rect = screen_rect(child);
    if (PtInRect(&rect, on_screen)) return handle_of(child);
  }
  return parent;
}

DWORD GetWindowThreadProcessId(HWND handle, LPDWORD process) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  if (!window) return 0;
  if (process) *process = GetCurrentProcessId();
  return window->thread_id;
}

LONG GetWindowLongW(HWND handle, int index) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (index) {
    case GWL_WNDPROC: return LONG(reinterpret_cast<uintptr_t>(window->procedure));
    case GWL_HINSTANCE: return LONG(reinterpret_cast<uintptr_t>(window->instance));
    case GWL_HWNDPARENT: return LONG(reinterpret_cast<uintptr_t>(handle_of(window->parent ? window->parent : window->owner)));
    case GWL_STYLE: return LONG(window->style);
    case GWL_EXSTYLE: return LONG(window->ex_style);
    case GWL_USERDATA: return window->user_data;
    case GWL_ID: return window->id;
    default: break;
  }
  if (index < 0 || size_t(index) + 4 > window->extra.size()) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  LONG value;
  std::memcpy(&value, &window->extra[size_t(index)], 4);
  return value;
}

LONG SetWindowLongW(HWND handle, int index, LONG value) {
  std::lock_guard hold(window_lock());
  Window* window = find_window(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  LONG previous;
  switch (index) {
    case GWL_WNDPROC:
      if (value == 0) return 0;  // a window without a procedure could never answer
      previous = LONG(reinterpret_cast<uintptr_t>(window->procedure));
      window->procedure = reinterpret_cast<WNDPROC>(static_cast<uintptr_t>(uint32_t(value)));
      return previous;
    case GWL_STYLE:
      previous = LONG(window->style);
      window->style = (DWORD(value) & ~WS_VISIBLE) | (window->style & WS_VISIBLE);
      window->frame_dirty = true;
      return previous;
    case GWL_EXSTYLE:
      previous = LONG(window->ex_style);
      window->ex_style = DWORD(value);
      window->frame_dirty = true;
      return previous;
    case GWL_USERDATA:
      previous = window->user_data;
      window->user_data = value;
      return previous;
    case GWL_ID:
      previous = window->id;
      window->id = value;
      return previous;
    case GWL_HWNDPARENT:
      previous = LONG(reinterpret_cast<uintptr_t>(handle_of(window->owner)));
      if (!window->parent) window->owner = top_level_of(find_window(reinterpret_cast<HWND>(uintptr_t(uint32_t(value)))));
      return previous;
    case GWL_HINSTANCE:
      previous = LONG(reinterpret_cast<uintptr_t>(window->instance));
      window->instance = reinterpret_cast<HINSTANCE>(uintptr_t(uint32_t(value)));
      return previous;
    default: break;
  }
  if (index < 0 || size_t(index) + 4 > window->extra.size()) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  std::memcpy(&previous, &window->extra[size_t(index)], 4);
  std::memcpy(&window->extra[size_t(index)], &value, 4);
  return previous;
}

BOOL SetWindowTextW(HWND handle, LPCWSTR text) {
  if (!IsWindow(handle)) return FALSE;
  return SendMessageW(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int GetWindowTextW(HWND handle, LPWSTR text, int count) {
  if (!text || count <= 0 || !IsWindow(handle)) return 0;
  text[0] = 0;
  return int(SendMessageW(handle, WM_GETTEXT, WPARAM(count), reinterpret_cast<LPARAM>(text)));
}

int GetWindowTextLengthW(HWND handle) { return int(SendMessageW(handle, WM_GETTEXTLENGTH, 0, 0)); }

BOOL EnumChildWindows(HWND parent, WNDENUMPROC callback, LPARAM parameter) {
  if (!callback) return FALSE;
  std::vector<uint32_t> handles;
  {
    std::lock_guard hold(window_lock());
    Window* window = find_window(parent);
    if (!window) return FALSE;
    for (Window* child : window->children) collect_tree(child, handles);
  }
  for (uint32_t id : handles) {
    HWND child = reinterpret_cast<HWND>(uintptr_t(id));
    if (IsWindow(child) && !callback(child, parameter)) return FALSE;
  }
  return TRUE;
}

namespace platform {

size_t live_window_count() {
  std::lock_guard hold(window_lock());
  size_t count = 0;
  for (auto& entry : platform::user::registry().windows) count += entry.second->system ? 0 : 1;
  return count;
}

void destroy_all_windows() {
  std::vector<HWND> handles;
  {
    std::lock_guard hold(window_lock());
    for (Window* window : top_level_windows()) {
      if (!window->system) handles.push_back(handle_of(window));
    }
  }
  for (HWND handle : handles) DestroyWindow(handle);
}

}  // namespace platform
