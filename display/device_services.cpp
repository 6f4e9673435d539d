// Device services: the millisecond clock, rotation, key maps, entry-point holders and the
// frame-buffer escapes.
#include "display/device_services.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "platform/gdi/device_context.h"
#include "platform/gdi/display_escape.h"
#include "platform/kernel/fault_guard.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/registry.h"
#include "platform/kernel/system_info.h"
#include "platform/kernel/time.h"
#include "platform/kernel/wide_string.h"

namespace display {

namespace {

struct MillisecondTimer {
    bool built = false;
    bool has_counter = false;
    int64_t ticks_per_ms = 0;
};
MillisecondTimer timer;

bool startup_rotation_read = false;
int32_t startup_rotation_value = 0;

GxEntryPoints* gx_holder = nullptr;
CoreDllEntryPoints* core_holder = nullptr;

// The stand-ins for coredll entry points a device may lack.
BOOL last_all_keys = FALSE;
BOOL all_keys_substitute(BOOL on) {
    BOOL before = last_all_keys;
    last_all_keys = on;
    return before;
}
LONG change_display_settings_substitute(LPCWSTR, DEVMODEW*, HWND, DWORD, void*) { return 0; }

// The set of extra buttons build_key_map collects.
struct KeySet {
    uint32_t count = 0;
    uint16_t codes[key_map_size] = {};

    void add(uint16_t code) {
        for (uint32_t i = 0; i < count; ++i)
            if (codes[i] == code) return;
        if (count < key_map_size) codes[count++] = code;
    }
    void remove(uint16_t code) {
        for (uint32_t i = 0; i < count; ++i) {
            if (codes[i] == code) {
                codes[i] = codes[--count];
                return;
            }
        }
    }
};

void add_registered_buttons(KeySet& keys) {
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Shell\\Keys", 0, 0, &root) != ERROR_SUCCESS) return;
    WCHAR name[261];
    for (DWORD index = 0;; ++index) {
        DWORD chars = 261;
        if (RegEnumKeyExW(root, index, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        long code = crt::wcstol(name, nullptr, 16);
        if ((code & 0xFF) != 0) keys.add(uint16_t(code & 0xFF));
    }
    RegCloseKey(root);
}

// An escape asked through the screen's context, under a guard: a driver that faults in
// it does not support it.
bool guarded_escape(int code, int output_size, void* output, int input_size, const void* input) {
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return false;
    volatile bool done = false;
    platform::FaultGuard guard;
    if (FAULT_GUARD_ENTER(guard)) {
        DWORD asked = DWORD(code);
        if (ExtEscape(screen, QUERYESCSUPPORT, sizeof(asked), reinterpret_cast<LPCSTR>(&asked), 0, nullptr) > 0)
            done = ExtEscape(screen, code, input_size, static_cast<LPCSTR>(input), output_size,
                             static_cast<LPSTR>(output)) > 0;
        platform::fault_guard_leave(&guard);
    }
    ReleaseDC(nullptr, screen);
    return done;
}

}  // namespace

uint32_t timer_now_ms() {
    if (!timer.built) {
        timer.built = true;
        LARGE_INTEGER frequency{};
        timer.has_counter = QueryPerformanceFrequency(&frequency) != FALSE;
        timer.ticks_per_ms = frequency.QuadPart / 1000;
        if (timer.ticks_per_ms == 0) timer.has_counter = false;
    }
    if (timer.has_counter) {
        LARGE_INTEGER count{};
        QueryPerformanceCounter(&count);
        return uint32_t(count.QuadPart / timer.ticks_per_ms);
    }
    return GetTickCount();
}

int32_t screen_rotation() {
    DEVMODEW mode;
    std::memset(&mode, 0, sizeof(mode));
    mode.dmSize = sizeof(mode);
    mode.dmFields = DM_DISPLAYORIENTATION;
    if (core_dll_entry_points()->change_display_settings_ex(nullptr, &mode, nullptr, CDS_TEST, nullptr) != 0) return 0;
    switch (mode.dmDisplayOrientation) {
        case DMDO_90: return 3;
        case DMDO_180: return 2;
        case DMDO_270: return 1;
        default: return 0;
    }
}

int32_t startup_rotation() {
    if (!startup_rotation_read) {
        startup_rotation_read = true;
        startup_rotation_value = screen_rotation();
    }
    return startup_rotation_value;
}

int build_key_map(uint16_t* map, int32_t rotation) {
    std::memset(map, 0, key_map_size * sizeof(uint16_t));
    if (rotation >= 4 || rotation < 0) rotation = 0;
    bool sideways = rotation == 1 || rotation == 3;
    KeySet keys;
    add_registered_buttons(keys);

    GxEntryPoints* gx = gx_entry_points();
    GXDeviceInfo info;
    std::memset(&info, 0, sizeof(info));
    if (gx->loaded() && gx->get_default_keys != nullptr) {
        GXKeyList normal = gx->get_default_keys(GX_NORMALKEYS);
        GXKeyList landscape = gx->get_default_keys(GX_LANDSCAPEKEYS);
        for (short code : {normal.vkStart, landscape.vkStart, normal.vkA, normal.vkB, landscape.vkA, landscape.vkB,
                           normal.vkC, landscape.vkC})
            keys.add(uint16_t(code));
        const GXKeyList& buttons = sideways ? landscape : normal;
        uint16_t values[8] = {uint16_t(normal.vkUp),    uint16_t(normal.vkDown), uint16_t(normal.vkLeft),
                              uint16_t(normal.vkRight), uint16_t(buttons.vkStart), uint16_t(buttons.vkA),
                              uint16_t(buttons.vkB),    uint16_t(buttons.vkC)};
        std::memcpy(map, values, sizeof(values));
    } else if (gx_device_info_query(&info)) {
        for (short code : {info.vkButtonStartPortrait, info.vkButtonStartLandscape, info.vkButtonAPortrait,
                           info.vkButtonBPortrait, info.vkButtonALandscape, info.vkButtonBLandscape,
                           info.vkButtonCPortrait, info.vkButtonCLandscape})
            keys.add(uint16_t(code));
        map[key_up] = uint16_t(info.vkButtonUpPortrait);
        map[key_down] = uint16_t(info.vkButtonDownPortrait);
        map[key_left] = uint16_t(info.vkButtonLeftPortrait);
        map[key_right] = uint16_t(info.vkButtonRightPortrait);
        map[key_start] = uint16_t(sideways ? info.vkButtonStartLandscape : info.vkButtonStartPortrait);
        map[key_a] = uint16_t(sideways ? info.vkButtonALandscape : info.vkButtonAPortrait);
        map[key_b] = uint16_t(sideways ? info.vkButtonBLandscape : info.vkButtonBPortrait);
        map[key_c] = uint16_t(sideways ? info.vkButtonCLandscape : info.vkButtonCPortrait);
    } else {
        const uint16_t defaults[8] = {38, 40, 37, 39, 13, 32, 17, 16};
        std::memcpy(map, defaults, sizeof(defaults));
    }

    uint16_t up = map[key_up], down = map[key_down], left = map[key_left], right = map[key_right];
    switch ((rotation - startup_rotation()) & 3) {
        case 1: map[key_up] = left, map[key_down] = right, map[key_left] = down, map[key_right] = up; break;
        case 2: map[key_up] = down, map[key_down] = up, map[key_left] = right, map[key_right] = left; break;
        case 3: map[key_up] = right, map[key_down] = left, map[key_left] = up, map[key_right] = down; break;
        default: break;
    }
    for (int entry : {key_start, key_a, key_b, key_c}) keys.remove(map[entry]);
    for (uint32_t i = 0; i < keys.count && key_further + i < uint32_t(key_map_size); ++i)
        map[key_further + i] = keys.codes[keys.count - 1 - i];
    return 1;
}

DynamicLibrary::DynamicLibrary(const char16_t* name) : module_(LoadLibraryW(name)) {}

DynamicLibrary::~DynamicLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
}

void* DynamicLibrary::lookup(const char* name) const {
    return module_ != nullptr ? GetProcAddress(module_, name) : nullptr;
}

GxEntryPoints::GxEntryPoints()
    : DynamicLibrary(u"gx.dll"),
      open_display(reinterpret_cast<GxOpenDisplayFn>(lookup("?GXOpenDisplay@@YAHPAUHWND__@@K@Z"))),
      close_display(reinterpret_cast<GxIntFn>(lookup("?GXCloseDisplay@@YAHXZ"))),
      begin_draw(reinterpret_cast<GxBeginDrawFn>(lookup("?GXBeginDraw@@YAPAXXZ"))),
      end_draw(reinterpret_cast<GxIntFn>(lookup("?GXEndDraw@@YAHXZ"))),
      open_input(reinterpret_cast<GxIntFn>(lookup("?GXOpenInput@@YAHXZ"))),
      close_input(reinterpret_cast<GxIntFn>(lookup("?GXCloseInput@@YAHXZ"))),
      get_display_properties(reinterpret_cast<GxGetDisplayPropertiesFn>(
          lookup("?GXGetDisplayProperties@@YA?AUGXDisplayProperties@@XZ"))),
      get_default_keys(reinterpret_cast<GxGetDefaultKeysFn>(lookup("?GXGetDefaultKeys@@YA?AUGXKeyList@@H@Z"))),
      suspend(reinterpret_cast<GxIntFn>(lookup("?GXSuspend@@YAHXZ"))),
      resume(reinterpret_cast<GxIntFn>(lookup("?GXResume@@YAHXZ"))),
      set_viewport(reinterpret_cast<GxSetViewportFn>(lookup("?GXSetViewport@@YAHKKKK@Z"))),
      is_display_dram_buffer(reinterpret_cast<GxIntFn>(lookup("?GXIsDisplayDRAMBuffer@@YAHXZ"))) {}

CoreDllEntryPoints::CoreDllEntryPoints()
    : DynamicLibrary(u"coredll.dll"),
      all_keys(reinterpret_cast<BoolSwitchFn>(lookup("AllKeys"))),
      set_kmode(reinterpret_cast<BoolSwitchFn>(lookup("SetKMode"))),
      change_display_settings_ex(reinterpret_cast<ChangeDisplaySettingsFn>(lookup("ChangeDisplaySettingsEx"))) {
    if (all_keys == nullptr) all_keys = all_keys_substitute;
    if (change_display_settings_ex == nullptr) change_display_settings_ex = change_display_settings_substitute;
}

GxEntryPoints* gx_entry_points() {
    if (gx_holder == nullptr) {
        gx_holder = new GxEntryPoints;
        static const bool freed_at_exit = [] { return std::atexit([] { delete gx_holder; gx_holder = nullptr; }) == 0; }();
        (void)freed_at_exit;
    }
    return gx_holder;
}

CoreDllEntryPoints* core_dll_entry_points() {
    if (core_holder == nullptr) {
        core_holder = new CoreDllEntryPoints;
        static const bool freed_at_exit = [] {
            return std::atexit([] { delete core_holder; core_holder = nullptr; }) == 0;
        }();
        (void)freed_at_exit;
    }
    return core_holder;
}

bool gx_device_info_query(GXDeviceInfo* info) {
    info->Version = 100;
    if (!guarded_escape(GETGXINFO, sizeof(GXDeviceInfo), info, sizeof(GXDeviceInfo), info)) return false;
    if (info->ffFormat & kfLandscape) {
        DWORD width = info->cxWidth;
        info->cxWidth = info->cyHeight;
        info->cyHeight = width;
    }
    return true;
}

bool raw_frame_buffer_query(RawFrameBufferInfo* info) {
    if (!guarded_escape(GETRAWFRAMEBUFFER, sizeof(RawFrameBufferInfo), info, 0, nullptr)) return false;
    return info->cxPixels != 0 && info->cyPixels != 0 && (info->wFormat & 3) == FORMAT_565;
}

bool screen_caps(ScreenCaps* caps) {
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return false;
    caps->width = GetDeviceCaps(screen, HORZRES);
    caps->height = GetDeviceCaps(screen, VERTRES);
    caps->bits_per_pixel = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    return true;
}

void display_log(const char*, ...) {}

void reset_device_services() {
    timer = MillisecondTimer{};
    startup_rotation_read = false;
    delete gx_holder;
    gx_holder = nullptr;
    delete core_holder;
    core_holder = nullptr;
    last_all_keys = FALSE;
}

}  // namespace display
