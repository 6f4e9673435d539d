// Test support for the display library: a stand-in window system with windows that can
// be activated and deactivated, and switching the simulated device between profiles.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/display_core.h"
#include "display/window_system.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/screen.h"
#include "platform/user/messages.h"
#include "platform/user/window_manager.h"
#include "platform/device/display_hardware.h"
#include "platform/kernel/clock.h"

namespace display_test {

// Windows are the addresses of these records; each keeps the procedure installed on it.
struct FakeWindow {
    display::WindowProcedure procedure = nullptr;
    bool alive = true;
    int messages_after = 0;  // messages that reached the window's own procedure
};

inline FakeWindow& window_of(HWND window) { return *reinterpret_cast<FakeWindow*>(window); }
inline HWND handle_of(FakeWindow& window) { return reinterpret_cast<HWND>(&window); }

inline intptr_t own_procedure(HWND window, uint32_t, uintptr_t, intptr_t) {
    ++window_of(window).messages_after;
    return 0;
}

inline void install_fake_window_system() {
    display::WindowSystem system{};
    system.is_window = [](HWND window) { return window != nullptr && window_of(window).alive; };
    system.replace_procedure = [](HWND window, display::WindowProcedure procedure) {
        display::WindowProcedure previous = window_of(window).procedure;
        if (previous == nullptr) previous = own_procedure;
        window_of(window).procedure = procedure;
        return previous;
    };
    system.call_procedure = [](display::WindowProcedure procedure, HWND window, uint32_t message, uintptr_t wparam,
                               intptr_t lparam) { return procedure(window, message, wparam, lparam); };
    system.default_procedure = [](HWND, uint32_t, uintptr_t, intptr_t) { return intptr_t(0); };
    system.find_window = [](const char16_t*) { return HWND(nullptr); };
    system.show_window = [](HWND, int32_t) { return true; };
    display::set_window_system(system);
}

// A message sent to the window as the window system would deliver it.
inline intptr_t send(HWND window, uint32_t message, uintptr_t wparam) {
    display::WindowProcedure procedure = window_of(window).procedure;
    return procedure != nullptr ? procedure(window, message, wparam, 0) : own_procedure(window, message, wparam, 0);
}

// Makes the simulated device the named profile (and screen size, "" for the profile's),
// forgetting everything the display library found on the one before.
inline void use_device(const std::string& profile, const std::string& screen = "") {
    setenv("ZRK_DEVICE", profile.c_str(), 1);
    if (screen.empty()) unsetenv("ZRK_SCREEN");
    else setenv("ZRK_SCREEN", screen.c_str(), 1);
    platform::clock_select_virtual(true);
    display::reset_video_detect();
    platform::display_hardware_reset();
    platform::gxdma_set_busy_polls(3);
    platform::display_set_orientation(0);
}

inline std::vector<std::string> display_profiles() {
    std::vector<std::string> names;
    for (const char* const* name = platform::display_profile_names(); *name != nullptr; ++name) names.push_back(*name);
    return names;
}

// The screen as the panel shows it, row by row; empty when it shows nothing.
inline std::vector<uint16_t> panel_pixels(int32_t* width = nullptr, int32_t* height = nullptr) {
    platform::PanelView view{};
    std::vector<uint16_t> pixels;
    if (!platform::display_panel(&view)) return pixels;
    for (int32_t y = 0; y < view.height; ++y)
        for (int32_t x = 0; x < view.width; ++x) {
            uint16_t value;
            __builtin_memcpy(&value, view.origin + x * view.x_stride + y * view.y_stride, 2);
            pixels.push_back(value);
        }
    if (width) *width = view.width;
    if (height) *height = view.height;
    return pixels;
}

// A borderless window of the platform's window manager over the whole screen of the
// current device, with the shell's task bar hidden as a game does.
inline HWND full_screen_window() {
    static const bool registered = [] {
        WNDCLASSW record{};
        record.lpfnWndProc = DefWindowProcW;
        record.lpszClassName = u"GameWindow";
        return RegisterClassW(&record) != 0;
    }();
    (void)registered;
    HDC screen = GetDC(nullptr);
    int width = GetDeviceCaps(screen, HORZRES), height = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
    if (HWND bar = FindWindowW(u"HHTaskBar", nullptr)) ShowWindow(bar, SW_HIDE);
    return CreateWindowExW(0, u"GameWindow", u"game", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr, nullptr,
                           nullptr, nullptr);
}

// The device screen GDI draws on (the headless screen), row by row.
inline std::vector<uint16_t> screen_pixels(int32_t* width = nullptr, int32_t* height = nullptr) {
    platform::ScreenFrame screen = platform::screen_frame();
    if (width) *width = screen.width;
    if (height) *height = screen.height;
    return std::vector<uint16_t>(screen.pixels, screen.pixels + size_t(screen.width) * screen.height);
}

// A deterministic picture: each pixel differs from its neighbours, so any turn, shift or
// mirror shows.
inline uint16_t pattern_pixel(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t v = (x * 2654435761u) ^ (y * 40503u + seed * 97u);
    v ^= v >> 13;
    return uint16_t(v * 0x9E37u >> 7);
}

}  // namespace display_test
