// The device's input and screen output: the display backend and the input timeline,
// opened at first use, and the routing of taps, keys, text, menu and caption presses to
// the windows that receive them.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/backend/display/display_backend.h"
#include "platform/backend/display/input_timeline.h"
#include "platform/gdi/screen.h"
#include "platform/kernel/clock.h"
#include "platform/kernel/config.h"
#include "platform/kernel/time.h"
#include "platform/shell/menu_bar.h"
#include "platform/user/input.h"
#include "platform/user/message_box.h"
#include "platform/user/window_state.h"

namespace platform::user {
namespace {

using display::InputEvent;
using display::InputKind;

struct Device {
  std::once_flag opened;
  std::unique_ptr<display::DisplayBackend> backend;
  std::vector<display::TimedEvent> timeline;
  size_t next = 0;
  bool has_timeline = false;
  uint64_t last_input_us = 0;
  bool screen_dirty = true;
  // The stylus: whether it is down, and the last down for double taps.
  bool stylus_down = false;
  bool caption_pressed = false;  // the stylus went down on a caption button: the rest is the shell's
  uint32_t last_down_window = 0;
  uint64_t last_down_us = 0;
  POINT last_down_point{};
};

Device& device() {
  static auto* instance = new Device;
  return *instance;
}

void open_device() {
  Device& state = device();
  ScreenFrame frame = screen_size();
  std::string error;
  state.backend = display::open_configured_display(frame.width, frame.height, error);
  if (!state.backend) platform::end_run(("zrk: " + error).c_str(), 1);
  std::string path = setting("ZRK_INPUT");
  if (path.empty()) return;
  std::ifstream file(path, std::ios::binary);
  if (!file) platform::end_run(("zrk: cannot read the input timeline " + path).c_str(), 1);
  std::stringstream text;
  text << file.rdbuf();
  if (!display::parse_input_timeline(text.str(), state.timeline, error)) {
    platform::end_run(("zrk: input timeline " + path + ", " + error).c_str(), 1);
  }
  state.has_timeline = true;
}

Device& opened_device() {
  Device& state = device();
  std::call_once(state.opened, open_device);
  return state;
}


bool enabled_chain(const Window* window) {
  for (; window; window = window->parent) {
    if (window->style & WS_DISABLED) return false;
  }
  return true;
}

// The caption's button (OK or close) at the right end of a captioned window or the task bar.
bool in_caption_button(const Window* window, POINT point, bool* is_ok) {
  RECT outer = screen_rect(window);
  RECT client = client_screen_rect(window);
  int caption_height = client.top - outer.top;
  bool bar = window == task_bar_window();
  if (bar) caption_height = outer.bottom - outer.top;
  if (caption_height <= 1) return false;
  RECT button{outer.right - caption_height, outer.top, outer.right, outer.top + caption_height};
  if (!PtInRect(&button, point)) return false;
  HWND active = GetActiveWindow();
  Window* owner = bar ? find_window(active) : const_cast<Window*>(window);
  *is_ok = owner && (owner->ex_style & WS_EX_CAPTIONOKBTN);
  return owner != nullptr;
}

void press_caption(bool ok) {
  HWND active = GetActiveWindow();
  if (!active) return;
  if (ok) {
    PostMessageW(active, WM_COMMAND, MAKEWPARAM(1, 0), 0);
    return;
  }
  bool own_caption;
  {
    std::lock_guard hold(window_lock());
    Window* window = find_window(active);
    if (!window) return;
    own_caption = (window->style & WS_CAPTION) == WS_CAPTION;
  }
  if (own_caption) {
    PostMessageW(active, WM_CLOSE, 0, 0);
    return;
  }
  // The shell's close button does not close a program's window: it sends it behind the
  // desktop, and the program decides (a form closes itself when it sees that).
  SetWindowPos(active, GetDesktopWindow(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  HWND next = nullptr;
  {
    std::lock_guard hold(window_lock());
    for (Window* window : top_level_windows()) {
      if (window->handle != reinterpret_cast<uintptr_t>(active) && !window->system && really_visible(window) &&
          !(window->style & WS_DISABLED) && window != desktop_window()) {
        next = handle_of(window);
        break;
      }
    }
  }
  SetActiveWindow(next);
}

void send_stylus(UINT message, POINT point) {
  Device& state = device();
  HWND target = nullptr;
  bool caption_ok = false, caption_hit = false;
  HWND activate = nullptr;
  {
    std::lock_guard hold(window_lock());
    set_cursor_position(point);
    Window* window = find_window(GetCapture());
    if (!window) {
      window = find_window(WindowFromPoint(point));
      if (!window) return;
      Window* top = top_level_of(window);
      if (message == WM_LBUTTONDOWN && in_caption_button(top, point, &caption_ok)) caption_hit = true;
      if (!enabled_chain(window) || (window->style & WS_DISABLED)) return;
      if (message == WM_LBUTTONDOWN && !top->system && handle_of(top) != GetActiveWindow()) activate = handle_of(top);
    }
    target = handle_of(window);
  }
  if (caption_hit) {
    state.caption_pressed = true;
    press_caption(caption_ok);
    return;
  }
  if (state.caption_pressed) {
    if (message == WM_LBUTTONUP) state.caption_pressed = false;
    return;
  }
  if (activate) SetActiveWindow(activate);
  std::lock_guard hold(window_lock());
  Window* window = find_window(target);
  if (!window) return;
  RECT client = client_screen_rect(window);
  LPARAM position = MAKELPARAM(WORD(int16_t(point.x - client.left)), WORD(int16_t(point.y - client.top)));
  if (message == WM_LBUTTONDOWN) {
    uint64_t now = platform::clock_now_microseconds();
    bool double_tap = (window->window_class->record.style & CS_DBLCLKS) && state.last_down_window == window->handle &&
                      now - state.last_down_us <= 500000 && std::abs(point.x - state.last_down_point.x) <= 4 &&
                      std::abs(point.y - state.last_down_point.y) <= 4;
    state.last_down_window = double_tap ? 0 : window->handle;
    state.last_down_us = now;
    state.last_down_point = point;
    if (double_tap) message = WM_LBUTTONDBLCLK;
  }
  WPARAM keys = (state.stylus_down ? MK_LBUTTON : 0) | (GetKeyState(0x10) < 0 ? MK_SHIFT : 0) |
                (GetKeyState(0x11) < 0 ? MK_CONTROL : 0);
  queue_input(target, message, keys, position);
}

HWND key_target() {
  HWND focus = GetFocus();
  return focus ? focus : GetActiveWindow();
}

void deliver(const InputEvent& event) {
  Device& state = device();
  state.last_input_us = platform::clock_now_microseconds();
  switch (event.kind) {
    case InputKind::StylusDown:
      state.stylus_down = true;
      send_stylus(WM_LBUTTONDOWN, {event.x, event.y});
      break;
    case InputKind::StylusMove: send_stylus(WM_MOUSEMOVE, {event.x, event.y}); break;
    case InputKind::StylusUp:
      state.stylus_down = false;
      send_stylus(WM_LBUTTONUP, {event.x, event.y});
      break;
    case InputKind::KeyDown:
    case InputKind::KeyUp: {
      bool down = event.kind == InputKind::KeyDown;
      std::lock_guard hold(window_lock());
      set_key_state(event.key, down);
      if (HWND target = key_target()) {
        queue_input(target, down ? WM_KEYDOWN : WM_KEYUP, WPARAM(event.key),
                    LPARAM(down ? 1 : 0xC0000001u));
      }
      break;
    }
    case InputKind::Text: {
      std::lock_guard hold(window_lock());
      if (HWND target = key_target()) {
        for (char16_t character : event.text) queue_input(target, WM_CHAR, character, 1);
      }
      break;
    }
    case InputKind::Menu: {
      HWND active = GetActiveWindow();
      if (!active) break;
      HWND bar = nullptr;
      {
        std::lock_guard hold(window_lock());
        for (Window* window : top_level_windows()) {
          if (window->owner && handle_of(window->owner) == active && window->window_class->name == kMenuBarClassName) {
            bar = handle_of(window);
          }
        }
      }
      PostMessageW(active, WM_COMMAND, MAKEWPARAM(WORD(event.key), 0), reinterpret_cast<LPARAM>(bar));
      break;
    }
    case InputKind::CaptionOk: press_caption(true); break;
    case InputKind::CaptionClose: press_caption(false); break;
    case InputKind::Screenshot: {
      // What the display shows when it has its own picture (a desktop window), else the frame.
      present_screen();
      std::vector<uint16_t> shown;
      int width = 0, height = 0;
      std::string error;
      bool saved = state.backend->capture(shown, width, height)
                       ? save_bmp_565(event.path, shown.data(), width, height, &error)
                       : save_screen_bmp(event.path, &error);
      if (!saved) platform::end_run(("zrk: screenshot: " + error).c_str(), 1);
      break;
    }
    case InputKind::End: platform::end_run("zrk: the input timeline ends the run", 0);
    case InputKind::WindowClosed: platform::end_run("zrk: the device window was closed", 0);
  }
}

}  // namespace

void mark_composition_dirty();

void screen_changed() {
  device().screen_dirty = true;
  mark_composition_dirty();
}

void screen_pixels_changed() { device().screen_dirty = true; }

void deliver_due_input() {
  Device& state = opened_device();
  // Game loops peek all the time: the list is kept, not made each call; events are taken
  // out of it first, since a window procedure run by a delivery may peek again.
  thread_local std::vector<InputEvent> polled;
  polled.clear();
  state.backend->poll(polled);
  if (!polled.empty()) {
    std::vector<InputEvent> arrived;
    arrived.swap(polled);
    for (const InputEvent& event : arrived) deliver(event);
  }
  uint64_t now_ms = platform::clock_now_microseconds() / 1000;
  while (state.next < state.timeline.size() && state.timeline[state.next].time_ms <= now_ms) {
    const InputEvent event = state.timeline[state.next++].event;
    deliver(event);
  }
}

uint64_t next_input_time() {
  Device& state = opened_device();
  return state.next < state.timeline.size() ? state.timeline[state.next].time_ms * 1000 : UINT64_MAX;
}

bool input_is_interactive() { return opened_device().backend->interactive(); }

bool input_exhausted() {
  Device& state = opened_device();
  return state.next >= state.timeline.size();
}

uint64_t last_input_time() { return device().last_input_us; }

bool input_had_timeline() { return opened_device().has_timeline; }

void wait_for_desktop_input(int milliseconds) { opened_device().backend->wait(milliseconds); }

void present_screen() {
  Device& state = opened_device();
  std::lock_guard hold(window_lock());
  if (!state.screen_dirty) return;
  ScreenFrame frame = screen_frame();
  state.screen_dirty = false;
  state.backend->present(frame.pixels, frame.width, frame.height);
}

}  // namespace platform::user
