// Shell services for windows: full-screen options, the activation and setting-change
// handling that keeps a window fitted to the screen around the input panel, and the
// input panel itself.
#pragma once

#include "platform/user/window_manager.h"

// SHFullScreen (AYGSHELL ordinal 65) options.
constexpr DWORD SHFS_SHOWTASKBAR = 0x01;
constexpr DWORD SHFS_HIDETASKBAR = 0x02;
constexpr DWORD SHFS_SHOWSIPBUTTON = 0x04;
constexpr DWORD SHFS_HIDESIPBUTTON = 0x08;
constexpr DWORD SHFS_SHOWSTARTICON = 0x10;
constexpr DWORD SHFS_HIDESTARTICON = 0x20;
// Hides or shows the task bar, the input-panel button and the start icon while window
// is the foreground window. FALSE for an unknown window.
BOOL SHFullScreen(HWND window, DWORD options);

// The 12-byte record the shell keeps per window between activations (first word: 12).
struct SHACTIVATEINFO {
  DWORD cbSize;
  HWND hwndLastFocus;
  DWORD flags;  // bit 0: the input panel was up, bit 1: put it down on deactivation
};
static_assert(sizeof(SHACTIVATEINFO) == 12, "SHACTIVATEINFO layout");

// WM_ACTIVATE handling (AYGSHELL ordinal 84): remembers the focus when the window goes
// inactive and gives it back when it is activated again. TRUE when handled.
BOOL SHHandleWMActivate(HWND window, WPARAM wparam, LPARAM lparam, SHACTIVATEINFO* info, DWORD flags);
// WM_SETTINGCHANGE handling (AYGSHELL ordinal 83): a full-screen-wide top-level window is
// fitted between the task bar and the menu bar or the input panel. TRUE when handled.
BOOL SHHandleWMSettingChange(HWND window, WPARAM wparam, LPARAM lparam, SHACTIVATEINFO* info);

// The input panel (class "SipWndClass"): SHSipPreference (AYGSHELL ordinal 21).
constexpr int SIP_UP = 0;
constexpr int SIP_DOWN = 1;
constexpr int SIP_FORCEDOWN = 2;
constexpr int SIP_UNCHANGED = 3;
constexpr int SIP_INPUTDIALOG = 4;
BOOL SHSipPreference(HWND window, int state);

// Class names of the shell's windows that programs look for.
inline constexpr const WCHAR* kTaskBarClassName = u"HHTaskBar";
inline constexpr const WCHAR* kInputPanelClassName = u"SipWndClass";
inline constexpr const WCHAR* kDesktopClassName = u"Desktop";
