// Full-screen options, the shell's activation and setting-change handling, and the
// input panel.
#include "platform/shell/shell_windows.h"

#include "platform/kernel/system_info.h"
#include "platform/shell/menu_bar.h"
#include "platform/user/input.h"
#include "platform/user/window_state.h"

namespace {

HWND find_input_panel() { return FindWindowW(kInputPanelClassName, nullptr); }

// The visible menu bar a window owns, or null.
HWND menu_bar_of(HWND window) {
  for (HWND candidate = FindWindowW(kMenuBarClassName, nullptr); candidate;
       candidate = GetWindow(candidate, GW_HWNDNEXT)) {
    WCHAR name[32];
    GetClassNameW(candidate, name, 32);
    if (GetWindow(candidate, GW_OWNER) == window && IsWindowVisible(candidate) &&
        std::u16string_view(name) == kMenuBarClassName) {
      return candidate;
    }
  }
  return nullptr;
}

}  // namespace

BOOL SHFullScreen(HWND window, DWORD options) {
  if (!IsWindow(window)) return FALSE;
  HWND task_bar = FindWindowW(kTaskBarClassName, nullptr);
  if (options & SHFS_HIDETASKBAR) ShowWindow(task_bar, SW_HIDE);
  if (options & SHFS_SHOWTASKBAR) ShowWindow(task_bar, SW_SHOWNA);
  return TRUE;
}

BOOL SHHandleWMActivate(HWND window, WPARAM wparam, LPARAM, SHACTIVATEINFO* info, DWORD) {
  if (!IsWindow(window) || !info || info->cbSize != sizeof(SHACTIVATEINFO)) return FALSE;
  if (LOWORD(DWORD(wparam)) == WA_INACTIVE) {
    HWND focus = GetFocus();
    info->hwndLastFocus = (focus == window || IsChild(window, focus)) ? focus : nullptr;
  } else if (info->hwndLastFocus && IsChild(window, info->hwndLastFocus)) {
    SetFocus(info->hwndLastFocus);
  }
  return TRUE;
}

BOOL SHHandleWMSettingChange(HWND window, WPARAM wparam, LPARAM, SHACTIVATEINFO*) {
  if (!IsWindow(window)) return FALSE;
  constexpr WPARAM kInputPanelChanged = 224;  // SPI_SETSIPINFO
  if (wparam != 0 && wparam != kInputPanelChanged) return FALSE;
  LONG style = GetWindowLongW(window, GWL_STYLE);
  if ((style & LONG(WS_CHILD)) || (DWORD(style) & WS_CAPTION) == WS_CAPTION) return FALSE;
  // A program's main window fills the screen between the task bar and the menu bar or
  // the input panel.
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  int bottom = work.bottom;
  if (HWND bar = menu_bar_of(window)) {
    RECT rect;
    GetWindowRect(bar, &rect);
    bottom = rect.top;
  }
  HWND panel = find_input_panel();
  if (panel && IsWindowVisible(panel)) {
    RECT rect;
    GetWindowRect(panel, &rect);
    if (rect.top < bottom) bottom = rect.top;
  }
  MoveWindow(window, work.left, work.top, work.right - work.left, bottom - work.top, TRUE);
  return TRUE;
}

BOOL SHSipPreference(HWND window, int state) {
  if (!IsWindow(window)) return FALSE;
  HWND panel = find_input_panel();
  if (!panel) return FALSE;
  if (state == SIP_UP) ShowWindow(panel, SW_SHOWNA);
  else if (state == SIP_DOWN || state == SIP_FORCEDOWN) ShowWindow(panel, SW_HIDE);
  return TRUE;
}
