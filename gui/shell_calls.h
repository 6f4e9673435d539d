// The shell services forms use: the menu bar, the input panel, full-screen options and
// the shell's handling of activation and setting changes.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The form's menu bar made from the program's menu-bar resource; 0 when none.
HWND create_menu_bar(HWND window);
// Shows or hides a menu bar (0: nothing).
void show_menu_bar(HWND bar, bool show);
// Puts the input panel down when one exists.
void input_panel_down();
// The shell's full-screen options for a window.
void shell_full_screen(HWND window, DWORD flags);
// The shell's handling of WM_ACTIVATE and WM_SETTINGCHANGE for a window, with its
// activation record (made on demand: 12 bytes, first word 12).
void shell_handle_activate(HWND window, WPARAM wparam, LPARAM lparam, uint32_t** activation_record);
void shell_handle_setting_change(HWND window, WPARAM wparam, LPARAM lparam, uint32_t** activation_record);
