// Focus, activation, capture and key states.
#include "platform/user/input.h"

#include "platform/user/window_state.h"

using namespace platform::user;

namespace {

// One GUI per device: focus, active window and capture are the device's.
struct InputState {
  uint32_t focus = 0;
  uint32_t active = 0;
  uint32_t capture = 0;
  POINT cursor{};
  uint8_t keys[256] = {};  // bit 7: down, bit 0: toggled
};

InputState& state() {
  static auto* instance = new InputState;
  return *instance;
}

HWND as_handle(uint32_t value) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(value)); }

uint32_t as_value(HWND handle) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)); }

}  // namespace

namespace platform::user {

void forget_window_in_input(Window* window) {
  if (!window) return;
  InputState& input = state();
  if (input.focus == window->handle) input.focus = 0;
  if (input.active == window->handle) input.active = 0;
  if (input.capture == window->handle) input.capture = 0;
}

POINT cursor_position() { return state().cursor; }

void set_cursor_position(POINT point) { state().cursor = point; }

void set_key_state(int key, bool down) {
  uint8_t& entry = state().keys[key & 0xFF];
  if (down && !(entry & 0x80)) entry ^= 1;
  entry = uint8_t((entry & 1) | (down ? 0x80 : 0));
}

}  // namespace platform::user

HWND SetFocus(HWND window) {
  HWND previous;
  HWND top = nullptr;
  {
    std::lock_guard hold(window_lock());
    Window* record = window ? find_window(window) : nullptr;
    if (window && (!record || (record->style & WS_DISABLED))) return nullptr;
    previous = as_handle(state().focus);
    if (previous == window) return previous;
    state().focus = as_value(window);
    if (record) top = handle_of(top_level_of(record));
  }
  if (top && GetActiveWindow() != top) SetActiveWindow(top);
  if (previous && IsWindow(previous)) SendMessageW(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(window), 0);
  if (window && IsWindow(window)) SendMessageW(window, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
  return previous;
}

HWND GetFocus() {
  std::lock_guard hold(window_lock());
  return as_handle(state().focus);
}

HWND SetActiveWindow(HWND window) {
  HWND previous;
  {
    std::lock_guard hold(window_lock());
    Window* record = window ? find_window(window) : nullptr;
    if (window && !record) return nullptr;
    if (record) record = top_level_of(record);
    window = handle_of(record);
    previous = as_handle(state().active);
    if (previous == window) return previous;
    state().active = as_value(window);
    if (Window* bar = task_bar_window()) invalidate(bar, nullptr, true);
    screen_changed();
  }
  // The active window comes to the top of its band.
  if (window) SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (previous && IsWindow(previous)) {
    SendMessageW(previous, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), reinterpret_cast<LPARAM>(window));
  }
  if (window && IsWindow(window)) {
    SendMessageW(window, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), reinterpret_cast<LPARAM>(previous));
  } else if (!window) {
    SetFocus(nullptr);
  }
  return previous;
}

HWND GetActiveWindow() {
  std::lock_guard hold(window_lock());
  return as_handle(state().active);
}

BOOL SetForegroundWindow(HWND window) {
  if (!IsWindow(window)) return FALSE;
  SetActiveWindow(window);
  return TRUE;
}

HWND GetForegroundWindow() { return GetActiveWindow(); }

HWND SetCapture(HWND window) {
  HWND previous;
  {
    std::lock_guard hold(window_lock());
    if (window && !find_window(window)) return nullptr;
    previous = as_handle(state().capture);
    state().capture = as_value(window);
  }
  if (previous && previous != window && IsWindow(previous)) {
    SendMessageW(previous, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(window));
  }
  return previous;
}

BOOL ReleaseCapture() {
  HWND previous;
  {
    std::lock_guard hold(window_lock());
    previous = as_handle(state().capture);
    state().capture = 0;
  }
  if (previous && IsWindow(previous)) SendMessageW(previous, WM_CAPTURECHANGED, 0, 0);
  return TRUE;
}

HWND GetCapture() {
  std::lock_guard hold(window_lock());
  return as_handle(state().capture);
}

SHORT GetKeyState(int key) {
  std::lock_guard hold(window_lock());
  uint8_t entry = state().keys[key & 0xFF];
  return SHORT(((entry & 0x80) ? 0x8000 : 0) | (entry & 1));
}

SHORT GetAsyncKeyState(int key) {
  std::lock_guard hold(window_lock());
  return SHORT((state().keys[key & 0xFF] & 0x80) ? 0x8000 : 0);
}

void keybd_event(BYTE key, BYTE scan, DWORD flags, DWORD) {
  std::lock_guard hold(window_lock());
  bool up = flags & KEYEVENTF_KEYUP;
  set_key_state(key, !up);
  HWND target = as_handle(state().focus ? state().focus : state().active);
  if (!target) return;
  LPARAM data = LPARAM(1 | (DWORD(scan) << 16) | (up ? 0xC0000000u : 0));
  queue_input(target, up ? WM_KEYUP : WM_KEYDOWN, key, data);
}

BOOL GetCursorPos(LPPOINT point) {
  if (!point) return FALSE;
  std::lock_guard hold(window_lock());
  *point = state().cursor;
  return TRUE;
}
