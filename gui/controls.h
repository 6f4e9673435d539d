// Controls: child windows of any class made by newcontrol inside a form, dialog or
// control, each subclassed so that its script procedure sees every message before the
// class does; and the built-ins scripts use on controls and windows.
#pragma once

#include "platform/platform.h"

// Registers the control built-ins (newcontrol, the edit, list and combo built-ins, fonts,
// user values, window procedures, packing and the device built-ins).
void register_control_builtins();

// The procedure every control is subclassed with: the script and the bindings first;
// what they leave (result 1) goes to the class's own procedure. WM_DESTROY always reaches
// the class, and from then on the class's procedure takes the window's messages itself.
LRESULT control_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The built-ins on a window's record (the rest live in control_builtins.cpp).
void builtin_newcontrol();
void builtin_newfont();
void builtin_setfont();
void builtin_getfont();
void builtin_setuserdata();
void builtin_getuserdata();
void builtin_setwndproc();
void builtin_inherited();
