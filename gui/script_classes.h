// Script window classes: a script registers a class whose window procedure is one of its
// procedures; windows of the class (made by newcontrol) run it in the program that owns
// their record.
#pragma once

#include "platform/platform.h"

// Registers the class with script_class_window_proc; the block is kept for the run. A
// class that exists keeps its first registration.
WNDCLASSW* register_script_class(const char16_t* class_name);
LRESULT script_class_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

void builtin_registerclass();
void builtin_unregisterclass();
