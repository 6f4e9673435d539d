// The window manager's records, shared by the user area's units and by GDI (which draws
// into window surfaces). Everything here is guarded by window_lock(); window procedures
// are never called with it held, and a Window pointer is never kept across such a call
// (the window may be gone afterwards: look it up again by handle).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/user/file_dialogs.h"
#include "platform/user/window_manager.h"

namespace platform::user {

using platform::FileDialogKind;

struct WindowClass {
  std::u16string name;
  WNDCLASSW record{};  // lpszClassName points at name
  int live_windows = 0;
};

// The pixels of a top-level window (caption and border included): children draw into
// their top-level window's surface, and the screen is composed from these.
struct Surface {
  std::vector<uint16_t> pixels;  // RGB565, rows top-down; empty until first drawn or shown
  int width = 0;
  int height = 0;
  // The pixels, white when made at the first use: a window that is never drawn nor
  // shown (a headless run's desktop) costs no memory to fill.
  uint16_t* bits() {
    if (pixels.empty()) pixels.assign(size_t(width) * height, 0xFFFF);
    return pixels.data();
  }
};

struct Window {
  uint32_t handle = 0;
  std::shared_ptr<WindowClass> window_class;
  DWORD style = 0;
  DWORD ex_style = 0;
  RECT rect{};          // the parent's client coordinates (the screen's for top-level windows)
  Window* parent = nullptr;  // children only
  Window* owner = nullptr;   // top-level windows only
  std::vector<Window*> children;  // topmost first
  WNDPROC procedure = nullptr;
  HINSTANCE instance = nullptr;
  LONG id = 0;          // a child's id (the menu argument)
  LONG user_data = 0;
  std::vector<uint8_t> extra;  // cbWndExtra bytes
  std::u16string text;
  HFONT font = nullptr;
  DWORD thread_id = 0;
  bool destroying = false;
  // The update region, kept as its bounding rectangle in client coordinates.
  bool has_update = false;
  bool erase_pending = false;
  RECT update{};
  bool frame_dirty = false;  // caption and border need drawing
  bool system = false;       // the shell's own windows: never activated by a tap or a show
  uint32_t paint_count = 0;  // BeginPaint and ValidateRect calls, so a dispatch sees a validation
  std::unique_ptr<Surface> surface;  // top-level windows only
};

std::recursive_mutex& window_lock();

// The live window of a handle, or null. Caller holds window_lock().
Window* find_window(HWND handle);
inline HWND handle_of(const Window* window) {
  return window ? reinterpret_cast<HWND>(static_cast<uintptr_t>(window->handle)) : nullptr;
}
// Top-level windows, topmost first; the desktop is last.
std::vector<Window*>& top_level_windows();
// The top-level window of a window (itself when top-level).
Window* top_level_of(Window* window);
bool is_child(const Window* window);
// Visible with every parent.
bool really_visible(const Window* window);

// Geometry, all under the lock.
// The window's rectangle in screen coordinates.
RECT screen_rect(const Window* window);
// The client area's offset from the window's top-left, and its size.
RECT client_in_window(const Window* window);
// The client rectangle in screen coordinates.
RECT client_screen_rect(const Window* window);

// Invalidation of a rectangle of client coordinates (null: all), children under it too.
void invalidate(Window* window, const RECT* rect, bool erase);
// Marks the screen for composition before the next present.
void screen_changed();
// Marks the screen for the next present only (its pixels were written directly).
void screen_pixels_changed();
// Wakes the threads waiting in GetMessageW (a window needs painting, a message came).
void wake_queues();
// Marks a window as one of the shell's own (never activated).
void mark_system_window(HWND handle);

// The system's windows, made on first use of the window manager.
void ensure_system_windows();
Window* desktop_window();
Window* task_bar_window();

// Window procedure calls, outside the lock.
LRESULT call_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Where GDI draws for a window: the surface of its top-level window, the origin of its
// client area (or of the whole window) in that surface, and the clip (the area inside
// the window and its parents) in surface coordinates. False for a dead window.
struct DrawingArea {
  Surface* surface = nullptr;
  POINT origin{};
  RECT clip{};
};
bool drawing_area(HWND window, bool whole_window, DrawingArea* area);

// Focus and activation bookkeeping when a window goes away.
void forget_window_in_input(Window* window);
// Drops the messages and timers of a destroyed window.
void forget_window_in_queues(uint32_t handle);

// Draws a window's caption and border into its surface (under the lock).
void draw_frame(Window* window);
// Composes the windows into the screen when something changed (under the lock).
void compose_screen_if_changed();

// The device's input (device_input.cpp).
// Delivers the input that is due by now to the queues of its windows' threads.
void deliver_due_input();
// The device time (microseconds) of the next timed input, or UINT64_MAX.
uint64_t next_input_time();
// Whether input can come by itself (a desktop window), not only from the timeline.
bool input_is_interactive();
// Whether no more timed input will come (no timeline, or all of it delivered).
bool input_exhausted();
// Whether the run has an input timeline (ZRK_INPUT).
bool input_had_timeline();
// The device time of the last input delivered (0 before any).
uint64_t last_input_time();
// Waits up to milliseconds of real time for the desktop's input.
void wait_for_desktop_input(int milliseconds);
// Shows the screen through the display backend when it changed.
void present_screen();
// Queues an input message for a window's thread (caller holds the lock).
void queue_input(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Shows a window modally over owner (disabled meanwhile; null: none) and pumps messages
// until *done is not 0, then destroys the window and activates owner again. False when a
// WM_QUIT ended the loop first (it is posted again for the loop outside).
bool run_modal_window(HWND window, HWND owner, const int* done);

// The modal message box window (message_box_window.cpp).
int windowed_message_box(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// The windowed Open and Save As dialogs (file_dialog_window.cpp).
BOOL windowed_file_dialog(FileDialogKind kind, OPENFILENAMEW* record);

// The text a message carries at the address in lParam (null: empty). Scripts hand any
// number there, so the text is copied a unit at a time: an odd address is read as it
// stands, never through a misaligned reference, and an unmapped one faults as any bad
// pointer does.
std::u16string message_text(LPARAM lparam);
// The creation record a WM_CREATE carries at lParam (all zero for null), copied the same
// way: a script may send the message itself with any number there.
CREATESTRUCTW message_create_struct(LPARAM lparam);
// Writes text into the buffer at lParam of room units (the text cut to room - 1, then a
// null), the same way; the units written without the null, 0 when nothing fits.
LRESULT put_message_text(LPARAM lparam, int room, std::u16string_view text);

// The last stylus position on the screen, and the key states the device's input keeps.
POINT cursor_position();
void set_cursor_position(POINT point);
void set_key_state(int key, bool down);

}  // namespace platform::user
