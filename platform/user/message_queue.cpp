// Message queues, one per thread: posted and input messages, WM_QUIT, the WM_PAINT and
// WM_TIMER messages made when the queue is idle, and the wait for more. Sending and
// dispatching run window procedures.
#include "platform/user/messages.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <unordered_map>

#include "platform/kernel/clock.h"
#include "platform/kernel/threads.h"
#include "platform/kernel/time.h"
#include "platform/user/input.h"
#include "platform/user/painting.h"
#include "platform/user/window_state.h"

namespace platform::user {
namespace {

struct Timer {
  uint32_t window = 0;
  UINT_PTR id = 0;
  UINT interval = 0;
  uint64_t due = 0;  // device microseconds
  TIMERPROC callback = nullptr;
  DWORD thread = 0;
};

struct Queue {
  std::deque<MSG> posted;
  std::deque<MSG> input;
  bool quit = false;
  int quit_code = 0;
  MSG last{};
};

struct Queues {
  std::unordered_map<DWORD, Queue> by_thread;
  std::vector<Timer> timers;
  std::condition_variable_any wake;
  UINT_PTR next_thread_timer = 1;
};

Queues& queues() {
  static auto* instance = new Queues;
  return *instance;
}

// Headless, once no more input can come, timers may keep a run going this long (device
// time) after the last input; then the run ends rather than spinning forever.
constexpr uint64_t kIdleLimitMicroseconds = 60'000'000;

bool matches(const MSG& message, HWND filter, UINT first, UINT last) {
  if (filter == reinterpret_cast<HWND>(-1)) {
    if (message.hwnd) return false;
  } else if (filter && message.hwnd != filter) {
    return false;
  }
  if (first == 0 && last == 0) return true;
  return message.message >= first && message.message <= last;
}

bool in_range(UINT message, UINT first, UINT last) {
  return (first == 0 && last == 0) || (message >= first && message <= last);
}

bool take_from(std::deque<MSG>& list, HWND filter, UINT first, UINT last, bool remove, MSG* out) {
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (!matches(*it, filter, first, last)) continue;
    *out = *it;
    if (remove) list.erase(it);
    return true;
  }
  return false;
}

// The first window of the thread needing paint, parents before children, bottom-most
// top-level window first; frames that need drawing are drawn on the way.
Window* needs_paint(Window* window, DWORD thread, HWND filter) {
  if (!(window->style & WS_VISIBLE)) return nullptr;
  if (window->frame_dirty) {
    window->frame_dirty = false;
    draw_frame(window);
  }
  if (window->has_update && window->thread_id == thread && (!filter || handle_of(window) == filter)) return window;
  for (auto it = window->children.rbegin(); it != window->children.rend(); ++it) {
    if (Window* found = needs_paint(*it, thread, filter)) return found;
  }
  return nullptr;
}

Window* window_to_paint(DWORD thread, HWND filter) {
  auto& list = top_level_windows();
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    if (Window* found = needs_paint(*it, thread, filter)) return found;
  }
  return nullptr;
}

uint64_t next_timer_due(DWORD thread) {
  uint64_t next = UINT64_MAX;
  for (const Timer& timer : queues().timers) {
    if (timer.thread == thread) next = std::min(next, timer.due);
  }
  return next;
}

void stamp(MSG* message) {
  message->time = GetTickCount();
  message->pt = cursor_position();
}

// One message for the calling thread in the device's order, or false.
bool take_message(DWORD thread, HWND filter, UINT first, UINT last, bool remove, MSG* out) {
  Queue& queue = queues().by_thread[thread];
  if (take_from(queue.posted, filter, first, last, remove, out) ||
      take_from(queue.input, filter, first, last, remove, out)) {
    return true;
  }
  if (queue.quit) {
    *out = MSG{nullptr, WM_QUIT, WPARAM(queue.quit_code), 0, 0, {}};
    if (remove) queue.quit = false;
    stamp(out);
    return true;
  }
  if (in_range(WM_PAINT, first, last) && filter != reinterpret_cast<HWND>(-1)) {
    if (Window* window = window_to_paint(thread, filter)) {
      *out = MSG{handle_of(window), WM_PAINT, 0, 0, 0, {}};
      stamp(out);
      return true;
    }
  }
  if (in_range(WM_TIMER, first, last)) {
    uint64_t now = platform::clock_now_microseconds();
    for (Timer& timer : queues().timers) {
      HWND window = reinterpret_cast<HWND>(uintptr_t(timer.window));
      if (timer.thread != thread || timer.due > now) continue;
      if (filter == reinterpret_cast<HWND>(-1) ? window != nullptr : (filter && window != filter)) continue;
      *out = MSG{window, WM_TIMER, timer.id, LPARAM(reinterpret_cast<uintptr_t>(timer.callback)), 0, {}};
      if (remove) timer.due = now + uint64_t(timer.interval) * 1000;
      stamp(out);
      return true;
    }
  }
  return false;
}

[[noreturn]] void end_idle_run(bool had_timeline) {
  platform::end_run(had_timeline ? "zrk: the input timeline is exhausted and nothing else is pending; ending the run"
                                 : "zrk: no input can come (headless display) and nothing is pending; ending the run",
                    0);
}

// Waits for something to arrive for the calling thread: the device's input, a timer,
// another thread's message. Headless under the virtual clock this moves the clock to the
// next timed event instead of sleeping.
void idle_wait(DWORD thread) {
  present_screen();
  std::unique_lock hold(window_lock());
  uint64_t now = platform::clock_now_microseconds();
  uint64_t next = std::min(next_timer_due(thread), next_input_time());
  bool virtual_clock = platform::clock_is_virtual();
  if (input_is_interactive()) {
    uint64_t wait_us = next == UINT64_MAX ? 10000 : (next > now ? std::min<uint64_t>(next - now, 10000) : 0);
    hold.unlock();
    wait_for_desktop_input(int((wait_us + 999) / 1000));
    if (virtual_clock && wait_us > 0) platform::clock_advance_microseconds(wait_us);
    return;
  }
  bool exhausted = input_exhausted();
  if (exhausted && next != UINT64_MAX && next > last_input_time() + kIdleLimitMicroseconds) {
    hold.unlock();
    platform::end_run("zrk: no input for 60 s of device time after the input timeline ended; ending the run", 0);
  }
  if (next != UINT64_MAX) {
    if (next <= now) return;
    if (virtual_clock) {
      platform::clock_advance_microseconds(next - now);
      return;
    }
    queues().wake.wait_for(hold, std::chrono::microseconds(next - now));
    return;
  }
  // Nothing timed can come: give other threads a moment to post, then end the run.
  Queue& queue = queues().by_thread[thread];
  auto arrived = [&] { return !queue.posted.empty() || !queue.input.empty() || queue.quit || window_to_paint(thread, nullptr); };
  if (queues().wake.wait_for(hold, std::chrono::milliseconds(100), arrived)) return;
  hold.unlock();
  end_idle_run(input_had_timeline());
}

}  // namespace

void wake_queues() { queues().wake.notify_all(); }

void forget_window_in_queues(uint32_t handle) {
  HWND window = reinterpret_cast<HWND>(uintptr_t(handle));
  for (auto& entry : queues().by_thread) {
    for (auto* list : {&entry.second.posted, &entry.second.input}) {
      list->erase(std::remove_if(list->begin(), list->end(), [&](const MSG& m) { return m.hwnd == window; }),
                  list->end());
    }
  }
  auto& timers = queues().timers;
  timers.erase(std::remove_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == handle; }),
               timers.end());
}

std::u16string message_text(LPARAM lparam) {
  std::u16string text;
  const auto* at = reinterpret_cast<const unsigned char*>(lparam);
  if (!at) return text;
  for (char16_t unit;; at += sizeof unit) {
    std::memcpy(&unit, at, sizeof unit);
    if (unit == 0) return text;
    text += unit;
  }
}

CREATESTRUCTW message_create_struct(LPARAM lparam) {
  CREATESTRUCTW create{};
  if (lparam) std::memcpy(&create, reinterpret_cast<const void*>(lparam), sizeof create);
  return create;
}

LRESULT put_message_text(LPARAM lparam, int room, std::u16string_view text) {
  auto* at = reinterpret_cast<unsigned char*>(lparam);
  if (!at || room <= 0) return 0;
  size_t count = std::min(size_t(room - 1), text.size());
  std::memcpy(at, text.data(), count * sizeof(char16_t));
  char16_t end = 0;
  std::memcpy(at + count * sizeof(char16_t), &end, sizeof end);
  return LRESULT(count);
}

void queue_input(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Window* record = find_window(window);
  if (!record) return;
  MSG entry{window, message, wparam, lparam, 0, {}};
  stamp(&entry);
  queues().by_thread[record->thread_id].input.push_back(entry);
  wake_queues();
}

}  // namespace platform::user

using namespace platform::user;

namespace platform {
namespace {
std::atomic<RunEndHandler> run_end_handler{nullptr};
}

void set_run_end_handler(RunEndHandler handler) { run_end_handler.store(handler); }

void end_run(const char* why, int exit_status) {
  std::fprintf(stderr, "%s\n", why);
  std::fflush(stderr);
  if (RunEndHandler handler = run_end_handler.load()) handler(why, exit_status);
  std::fflush(nullptr);
  std::_Exit(exit_status);
}
}  // namespace platform

LRESULT SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return call_procedure(window, message, wparam, lparam);
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!window) return PostThreadMessageW(GetCurrentThreadId(), message, wparam, lparam);
  std::lock_guard hold(window_lock());
  Window* record = find_window(window);
  if (!record) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  MSG entry{window, message, wparam, lparam, 0, {}};
  stamp(&entry);
  queues().by_thread[record->thread_id].posted.push_back(entry);
  wake_queues();
  return TRUE;
}

BOOL PostThreadMessageW(DWORD thread_id, UINT message, WPARAM wparam, LPARAM lparam) {
  if (thread_id == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard hold(window_lock());
  MSG entry{nullptr, message, wparam, lparam, 0, {}};
  stamp(&entry);
  queues().by_thread[thread_id].posted.push_back(entry);
  wake_queues();
  return TRUE;
}

void PostQuitMessage(int exit_code) {
  std::lock_guard hold(window_lock());
  Queue& queue = queues().by_thread[GetCurrentThreadId()];
  queue.quit = true;
  queue.quit_code = exit_code;
  wake_queues();
}

BOOL GetMessageW(LPMSG msg, HWND window, UINT first, UINT last) {
  if (!msg) return -1;
  if (window && window != reinterpret_cast<HWND>(-1) && !IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  DWORD thread = GetCurrentThreadId();
  for (;;) {
    deliver_due_input();
    {
      std::lock_guard hold(window_lock());
      if (take_message(thread, window, first, last, true, msg)) {
        queues().by_thread[thread].last = *msg;
        return msg->message == WM_QUIT ? 0 : 1;
      }
    }
    idle_wait(thread);
  }
}

BOOL PeekMessageW(LPMSG msg, HWND window, UINT first, UINT last, UINT remove) {
  if (!msg) return FALSE;
  DWORD thread = GetCurrentThreadId();
  deliver_due_input();
  {
    std::lock_guard hold(window_lock());
    if (take_message(thread, window, first, last, remove & PM_REMOVE, msg)) {
      if (remove & PM_REMOVE) queues().by_thread[thread].last = *msg;
      return TRUE;
    }
  }
  // A loop that peeks until something comes must see time pass: under the virtual clock
  // an empty peek is a millisecond of waiting.
  present_screen();
  if (platform::clock_is_virtual()) {
    platform::clock_advance_microseconds(1000);
    if (!input_is_interactive() && input_exhausted() &&
        platform::clock_now_microseconds() > last_input_time() + kIdleLimitMicroseconds) {
      platform::end_run("zrk: no input for 60 s of device time after the input timeline ended; ending the run", 0);
    }
  }
  if (input_is_interactive()) wait_for_desktop_input(0);
  return FALSE;
}

BOOL WaitMessage() {
  DWORD thread = GetCurrentThreadId();
  for (;;) {
    deliver_due_input();
    {
      std::lock_guard hold(window_lock());
      MSG ignored;
      if (take_message(thread, nullptr, 0, 0, false, &ignored)) return TRUE;
    }
    idle_wait(thread);
  }
}

BOOL TranslateMessage(const MSG* msg) {
  if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)) return FALSE;
  // The device's keys type: letters (upper case with SHIFT), digits, space, enter,
  // backspace, escape and tab.
  int key = int(msg->wParam);
  char16_t character = 0;
  bool shift = GetKeyState(0x10) < 0;
  if (key >= 'A' && key <= 'Z') character = char16_t(shift ? key : key + 32);
  else if (key >= '0' && key <= '9') character = char16_t(key);
  else if (key == 0x20 || key == 0x0D || key == 0x08 || key == 0x1B || key == 0x09) character = char16_t(key);
  if (!character) return FALSE;
  std::lock_guard hold(window_lock());
  Window* window = find_window(msg->hwnd);
  if (!window) return FALSE;
  MSG typed{msg->hwnd, msg->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR, character, msg->lParam, 0, {}};
  stamp(&typed);
  queues().by_thread[window->thread_id].posted.push_front(typed);
  return TRUE;
}

LRESULT DispatchMessageW(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    auto callback = reinterpret_cast<TIMERPROC>(static_cast<uintptr_t>(msg->lParam));
    if (msg->hwnd && !IsWindow(msg->hwnd)) return 0;
    callback(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
    return 0;
  }
  if (!msg->hwnd) return 0;
  if (msg->message != WM_PAINT) return call_procedure(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  uint32_t paints = 0;
  {
    std::lock_guard hold(window_lock());
    Window* window = find_window(msg->hwnd);
    if (!window) return 0;
    paints = window->paint_count;
  }
  LRESULT result = call_procedure(msg->hwnd, WM_PAINT, msg->wParam, msg->lParam);
  // A procedure that neither painted nor validated would get WM_PAINT for ever and hang
  // every loop that pumps until the queue is empty; its update region is dropped.
  std::lock_guard hold(window_lock());
  Window* window = find_window(msg->hwnd);
  if (window && window->paint_count == paints) {
    window->has_update = false;
    window->erase_pending = false;
  }
  return result;
}

LONG GetMessageTime() {
  std::lock_guard hold(window_lock());
  return LONG(queues().by_thread[GetCurrentThreadId()].last.time);
}

DWORD GetMessagePos() {
  std::lock_guard hold(window_lock());
  POINT point = queues().by_thread[GetCurrentThreadId()].last.pt;
  return MAKELONG(WORD(point.x), WORD(point.y));
}

DWORD GetQueueStatus(UINT flags) {
  std::lock_guard hold(window_lock());
  DWORD thread = GetCurrentThreadId();
  Queue& queue = queues().by_thread[thread];
  DWORD status = 0;
  for (const MSG& message : queue.input) {
    if (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST) status |= QS_KEY;
    else if (message.message == WM_MOUSEMOVE) status |= QS_MOUSEMOVE;
    else status |= QS_MOUSEBUTTON;
  }
  if (!queue.posted.empty() || queue.quit) status |= QS_POSTMESSAGE;
  if (next_timer_due(thread) <= platform::clock_now_microseconds()) status |= QS_TIMER;
  if (window_to_paint(thread, nullptr)) status |= QS_PAINT;
  status &= flags;
  return (status << 16) | status;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT interval, TIMERPROC callback) {
  std::lock_guard hold(window_lock());
  Window* record = nullptr;
  if (window) {
    record = find_window(window);
    if (!record) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
  }
  // Timers fire no faster than every 10 ms, as on the device.
  UINT period = std::max<UINT>(interval, 10);
  uint64_t due = platform::clock_now_microseconds() + uint64_t(period) * 1000;
  uint32_t handle = record ? record->handle : 0;
  auto& timers = queues().timers;
  if (record) {
    for (Timer& timer : timers) {
      if (timer.window == handle && timer.id == id) {
        timer.interval = period;
        timer.due = due;
        timer.callback = callback;
        return id ? id : 1;
      }
    }
  } else {
    id = queues().next_thread_timer++;
  }
  timers.push_back(Timer{handle, id, period, due, callback, record ? record->thread_id : GetCurrentThreadId()});
  wake_queues();
  return id ? id : 1;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  std::lock_guard hold(window_lock());
  Window* record = window ? find_window(window) : nullptr;
  if (window && !record) return FALSE;
  uint32_t handle = record ? record->handle : 0;
  auto& timers = queues().timers;
  auto found = std::find_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == handle && t.id == id; });
  if (found == timers.end()) return FALSE;
  timers.erase(found);
  // A WM_TIMER already queued for it is not: timers are made when taken.
  return TRUE;
}

LRESULT CallWindowProcW(WNDPROC procedure, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return procedure ? procedure(window, message, wparam, lparam) : 0;
}
