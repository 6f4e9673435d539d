// Device services the display layer and the game engine share: the millisecond clock,
// the screen's rotation, the hardware key map, the two escapes that describe a built-in
// frame buffer, and the optional entry points of gx.dll and coredll.dll.
#pragma once

#include <cstdint>

#include "platform/device/display_hardware.h"

namespace display {

// Milliseconds from the performance counter (GetTickCount when there is none or it is
// slower than 1 kHz). Only differences between readings mean anything.
uint32_t timer_now_ms();

// The screen's rotation in quarter turns (0-3), counted against the direction of DMDO.
int32_t screen_rotation();
// The rotation when the runtime started: key maps turn relative to it.
int32_t startup_rotation();

// Indices into a key map of 16 virtual-key codes.
enum KeyMapEntry { key_up, key_down, key_left, key_right, key_start, key_a, key_b, key_c, key_further };
constexpr int key_map_size = 16;
// Fills map for a rotation (4 or more counts as 0) from the registered buttons and the
// device's default keys. Always 1.
int build_key_map(uint16_t* map, int32_t rotation);

// A library loaded by name, freed when this object goes.
class DynamicLibrary {
 public:
    explicit DynamicLibrary(const char16_t* name);
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    virtual ~DynamicLibrary();

    bool loaded() const { return module_ != nullptr; }
    // The entry point, or null when the library or the name is missing.
    void* lookup(const char* name) const;

 protected:
    HMODULE module_;
};

// gx.dll; each entry is null when the device's library lacks it.
struct GxEntryPoints : DynamicLibrary {
    GxEntryPoints();
    GxOpenDisplayFn open_display;
    GxIntFn close_display;
    GxBeginDrawFn begin_draw;
    GxIntFn end_draw;
    GxIntFn open_input;
    GxIntFn close_input;
    GxGetDisplayPropertiesFn get_display_properties;
    GxGetDefaultKeysFn get_default_keys;
    GxIntFn suspend;
    GxIntFn resume;
    GxSetViewportFn set_viewport;
    GxIntFn is_display_dram_buffer;
};

using ChangeDisplaySettingsFn = LONG (*)(LPCWSTR device, DEVMODEW* mode, HWND window, DWORD flags, void* parameter);
using BoolSwitchFn = BOOL (*)(BOOL on);

// coredll.dll: AllKeys and ChangeDisplaySettingsEx always hold something (a stand-in when
// the device lacks them); set_kmode may be null.
struct CoreDllEntryPoints : DynamicLibrary {
    CoreDllEntryPoints();
    BoolSwitchFn all_keys;
    BoolSwitchFn set_kmode;
    ChangeDisplaySettingsFn change_display_settings_ex;
};

// The one holder of each, made on first use, gone at exit.
GxEntryPoints* gx_entry_points();
CoreDllEntryPoints* core_dll_entry_points();

// GETGXINFO: true when the display driver supports it; landscape records come back with
// width and height swapped.
bool gx_device_info_query(GXDeviceInfo* info);
// GETRAWFRAMEBUFFER: true when supported with a non-empty RGB565 frame.
bool raw_frame_buffer_query(RawFrameBufferInfo* info);

// The screen as GDI reports it: HORZRES, VERTRES and BITSPIXEL.
struct ScreenCaps {
    int32_t width;
    int32_t height;
    int32_t bits_per_pixel;
};
bool screen_caps(ScreenCaps* caps);

// The display library's log: its messages are discarded.
void display_log(const char* format, ...);

// Test hook: forgets the clock, the rotation read at start and the entry-point holders,
// so that the next use reads the device (profile) again.
void reset_device_services();

}  // namespace display
