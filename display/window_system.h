// The few window-system calls the display library makes: whether a window exists,
// replacing its window procedure, and showing the shell's task bar. The runtime's window
// system installs them at start-up; until then no window exists for the display.
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
const WindowSystem& window_system();

constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_ACTIVATE = 0x0006;
constexpr uint32_t WM_PAINT = 0x000F;

}  // namespace display
