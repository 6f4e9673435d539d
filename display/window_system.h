// The few window-system calls the display library makes: whether a window exists,
// replacing its window procedure, and showing the shell's task bar. They are the
// platform's window manager unless a test puts windows of its own in their place.
#pragma once

#include <cstdint>

#include "platform/gdi/dib_section.h"

namespace display {

using WindowProcedure = intptr_t (*)(HWND window, uint32_t message, uintptr_t wparam, intptr_t lparam);

struct WindowSystem {
    bool (*is_window)(HWND window);
    // Installs procedure and gives the one it replaced; null when that failed.
    WindowProcedure (*replace_procedure)(HWND window, WindowProcedure procedure);
    intptr_t (*call_procedure)(WindowProcedure procedure, HWND window, uint32_t message, uintptr_t wparam,
                               intptr_t lparam);
    intptr_t (*default_procedure)(HWND window, uint32_t message, uintptr_t wparam, intptr_t lparam);
    // The top-level window of a class (the shell's "HHTaskBar"), or null.
    HWND (*find_window)(const char16_t* class_name);
    // ShowWindow.
    bool (*show_window)(HWND window, int32_t command);
};

void set_window_system(const WindowSystem& system);
// Back to the platform's window manager.
void use_platform_window_system();
const WindowSystem& window_system();

}  // namespace display
