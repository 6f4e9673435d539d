// The shell's own windows: the desktop under everything, the task bar along the top
// (showing the active window's title and its close or OK button) and the input panel.
#include <atomic>

#include "platform/gdi/gdi.h"
#include "platform/kernel/system_info.h"
#include "platform/shell/shell_windows.h"
#include "platform/user/input.h"
#include "platform/user/painting.h"
#include "platform/user/window_state.h"

namespace platform::user {
namespace {

std::atomic<int> made{0};  // 0: not yet, 1: being made, 2: made
uint32_t desktop_handle = 0;
uint32_t task_bar_handle = 0;

// Height of the input panel at 96 dots per inch.
constexpr int kInputPanelHeight = 80;

LRESULT task_bar_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != WM_PAINT) return DefWindowProcW(window, message, wparam, lparam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT bar;
  GetClientRect(window, &bar);
  FillRect(dc, &bar, GetSysColorBrush(COLOR_ACTIVECAPTION));
  HWND active = GetActiveWindow();
  if (active) {
    WCHAR title[128];
    int length = GetWindowTextW(active, title, 128);
    HGDIOBJ previous = SelectObject(dc, GetStockObject(SYSTEM_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
    int button = bar.bottom - bar.top;
    RECT text{bar.left + 4, bar.top, bar.right - button - 2, bar.bottom};
    DrawTextW(dc, title, length, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    RECT box{bar.right - button, bar.top, bar.right, bar.bottom};
    bool ok = GetWindowLongW(active, GWL_EXSTYLE) & LONG(WS_EX_CAPTIONOKBTN);
    DrawTextW(dc, ok ? u"ok" : u"\u00D7", ok ? 2 : 1, &box, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    SelectObject(dc, previous);
  }
  EndPaint(window, &paint);
  return 0;
}

LRESULT input_panel_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != WM_PAINT) return DefWindowProcW(window, message, wparam, lparam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT panel;
  GetClientRect(window, &panel);
  FillRect(dc, &panel, GetSysColorBrush(COLOR_BTNFACE));
  // The keys, as a grid of frames.
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 12; ++column) {
      RECT key{panel.left + 2 + column * (panel.right - 4) / 12, panel.top + 2 + row * (panel.bottom - 4) / 4,
               panel.left + 2 + (column + 1) * (panel.right - 4) / 12, panel.top + 2 + (row + 1) * (panel.bottom - 4) / 4};
      FrameRect(dc, &key, GetSysColorBrush(COLOR_BTNSHADOW));
    }
  }
  EndPaint(window, &paint);
  return 0;
}

HWND make(const WCHAR* class_name, WNDPROC procedure, int background, const WCHAR* title, DWORD ex_style, int x, int y,
          int width, int height, bool visible) {
  WNDCLASSW record{};
  record.lpfnWndProc = procedure;
  record.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(background + 1));
  record.lpszClassName = class_name;
  RegisterClassW(&record);
  HWND window = CreateWindowExW(ex_style, class_name, title, WS_POPUP, x, y, width, height, nullptr, nullptr,
                                nullptr, nullptr);
  mark_system_window(window);
  if (visible) ShowWindow(window, SW_SHOWNA);
  return window;
}

}  // namespace

void ensure_system_windows() {
  int expected = 0;
  if (!made.compare_exchange_strong(expected, 1)) return;
  DeviceProfile profile = device_profile();
  int width = profile.screen_width, height = profile.screen_height;
  int bar = GetSystemMetrics(SM_CYCAPTION);
  int panel = kInputPanelHeight * profile.dots_per_inch / 96;
  HWND desktop = make(kDesktopClassName, DefWindowProcW, COLOR_BACKGROUND, u"Desktop", 0, 0, 0, width, height, true);
  SetWindowPos(desktop, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  desktop_handle = uint32_t(reinterpret_cast<uintptr_t>(desktop));
  HWND task_bar = make(kTaskBarClassName, task_bar_procedure, COLOR_ACTIVECAPTION, u"", WS_EX_TOPMOST, 0, 0, width,
                       bar, true);
  task_bar_handle = uint32_t(reinterpret_cast<uintptr_t>(task_bar));
  make(kInputPanelClassName, input_panel_procedure, COLOR_BTNFACE, u"", WS_EX_TOPMOST, 0, height - bar - panel, width,
       panel, false);
  made = 2;
}

Window* desktop_window() { return find_window(reinterpret_cast<HWND>(static_cast<uintptr_t>(desktop_handle))); }

Window* task_bar_window() { return find_window(reinterpret_cast<HWND>(static_cast<uintptr_t>(task_bar_handle))); }

}  // namespace platform::user
