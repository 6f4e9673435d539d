// The display library core: driver detection and modes, the display device's frames, and
// the window binding that follows activation.
#include "display/display_core.h"

#include <cstring>
#include <new>

#include "display/video_geometry.h"
#include "display/window_system.h"
#include "platform/gdi/panel_screen.h"
#include "platform/kernel/fault_forwarding.h"
#include "platform/kernel/fault_guard.h"
#include "platform/user/messages.h"
#include "platform/user/window_manager.h"
#include "platform/kernel/system_info.h"

namespace display {

namespace {

// ---- The window system the runtime installs ----

bool real_is_window(HWND window) { return IsWindow(window) != FALSE; }
WindowProcedure real_replace_procedure(HWND window, WindowProcedure procedure) {
    // Window procedures are 32-bit addresses on this device.
    LONG previous = SetWindowLongW(window, GWL_WNDPROC, LONG(reinterpret_cast<uintptr_t>(procedure)));
    return reinterpret_cast<WindowProcedure>(uintptr_t(uint32_t(previous)));
}
intptr_t real_call_procedure(WindowProcedure procedure, HWND window, uint32_t message, uintptr_t wparam,
                             intptr_t lparam) {
    return CallWindowProcW(procedure, window, message, wparam, lparam);
}
intptr_t real_default_procedure(HWND window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    return DefWindowProcW(window, message, wparam, lparam);
}
HWND real_find_window(const char16_t* class_name) { return FindWindowW(class_name, nullptr); }
bool real_show_window(HWND window, int32_t command) { return ShowWindow(window, command) != FALSE; }

const WindowSystem platform_window_system{real_is_window,        real_replace_procedure, real_call_procedure,
                                          real_default_procedure, real_find_window,       real_show_window};
WindowSystem installed_window_system = platform_window_system;

// ---- Detection ----

VideoDetect detected{};
bool detection_built = false;

using DetectFunction = bool (*)(VideoDescriptor*);

// Runs one driver's detection on a copy of the screen's record; a hit becomes both the
// driver's own record and the screen's.
bool try_detect(VideoDetect& d, int32_t id, DetectFunction detect) {
    VideoDescriptor record = d.screen;
    if (!detect(&record)) return false;
    d.screen = record;
    d.records[id] = record;
    if (d.driver_count < 5) d.drivers[d.driver_count++] = id;
    return true;
}

bool detect_strongarm(VideoDescriptor* record) { return StrongARMDriver::Detect(record); }
bool detect_xscale(VideoDescriptor* record) { return XScaleDriver::Detect(record); }

void detect_drivers(VideoDetect& d) {
    display_log("VideoDetect::DetectDrivers()");
    try_detect(d, driver_gdi, GDIDriver::Detect);
    bool stopped = false;
    if (d.screen.bits_per_pixel == 16) {
        OSVERSIONINFOW version{};
        version.dwOSVersionInfoSize = sizeof(version);
        bool newer = true;
        if (GetVersionExW(&version)) {
            display_log("VideoDetect: OS Version is %d.%d", version.dwMajorVersion, version.dwMinorVersion);
            newer = !(version.dwMajorVersion < 4 || (version.dwMajorVersion == 4 && version.dwMinorVersion <= 20));
        } else {
            display_log("VideoDetect: Couldn't retrive OS version info");
        }
        if (!newer) {
            bool found = try_detect(d, driver_gapi, GapiDriver::Detect);
            if (!found && !gx_entry_points()->loaded()) found = try_detect(d, driver_direct, DriverDirect::Detect);
            if (found && d.screen.swap_effect == 2) stopped = true;
        } else {
            stopped = try_detect(d, driver_vga, DriverVGA::Detect);
        }
    }
    if (!stopped) {
        int32_t processor = processor_probe();
        if (processor == 1) stopped = try_detect(d, driver_strongarm, detect_strongarm);
        else if (processor == 2) stopped = try_detect(d, driver_xscale, detect_xscale);
    }
    if (!stopped) stopped = try_detect(d, driver_imageon, Imageon100Driver::Detect);
    if (!stopped) try_detect(d, driver_mediaq, MediaQDriver::Detect);
    if (d.screen.orientation == 4) d.screen.orientation = 0;
}

void list_modes(VideoDetect& d) {
    int32_t w = d.screen.width, h = d.screen.height, o = d.screen.orientation;
    d.modes[0] = VideoMode{w, h, o};
    d.mode_count = 1;
    if (w % 16 == 0 && h % 16 == 0) {
        d.modes[1] = VideoMode{h, w, (o + 1) & 3};
        d.modes[2] = VideoMode{w, h, (o + 2) & 3};
        d.modes[3] = VideoMode{h, w, (o + 3) & 3};
        d.mode_count = 4;
    } else if (o == 2) {
        d.modes[d.mode_count++] = VideoMode{w, h, 0};
    } else if (o == 1 || o == 3) {
        d.modes[d.mode_count++] = VideoMode{h, w, 0};
    }
}

// ---- Window binding ----

struct BoundWindow {
    HWND window;
    WindowProcedure previous;
    DisplayDevice* device;
};
BoundWindow bound_windows[16];
int32_t bound_count = 0;

BoundWindow* find_bound(HWND window) {
    for (int32_t i = 0; i < bound_count; ++i)
        if (bound_windows[i].window == window) return &bound_windows[i];
    return nullptr;
}

void unbind(BoundWindow* entry) {
    *entry = bound_windows[--bound_count];
}

intptr_t display_window_procedure(HWND window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    BoundWindow* entry = find_bound(window);
    const WindowSystem& windows = window_system();
    if (entry == nullptr) return windows.default_procedure(window, message, wparam, lparam);
    WindowProcedure previous = entry->previous;
    switch (message) {
        case WM_DESTROY:
            windows.replace_procedure(window, previous);
            unbind(entry);
            break;
        case WM_ACTIVATE:
            if ((wparam & 0xFFFF) != 0) entry->device->Resume(0);
            else entry->device->Suspend(0);
            break;
        case WM_PAINT:
            entry->device->Invalidate(0, 0);
            break;
        default:
            break;
    }
    return windows.call_procedure(previous, window, message, wparam, lparam);
}

// A window is subclassed once: a display made on a window that has one takes over its
// binding, since subclassing it again would make this procedure its own previous one.
bool subclass(HWND window, DisplayDevice* device) {
    if (BoundWindow* entry = find_bound(window)) {
        entry->device = device;
        return true;
    }
    if (bound_count >= 16) return false;
    WindowProcedure previous = window_system().replace_procedure(window, display_window_procedure);
    if (previous == nullptr) return false;
    bound_windows[bound_count++] = BoundWindow{window, previous, device};
    return true;
}

// Only the display that holds the binding gives it back: one it was taken from leaves it.
void unsubclass(HWND window, const DisplayDevice* device) {
    BoundWindow* entry = find_bound(window);
    if (entry == nullptr || entry->device != device) return;
    window_system().replace_procedure(window, entry->previous);
    unbind(entry);
}

// ---- The shell's full-screen call ----

using FullScreenFn = BOOL (*)(HWND window, DWORD flags);

BOOL full_screen_substitute(HWND, DWORD flags) {
    HWND task_bar = window_system().find_window(u"HHTaskBar");
    if (task_bar != nullptr) {
        if (flags & 0x1) window_system().show_window(task_bar, 5);  // SW_SHOW
        if (flags & 0x2) window_system().show_window(task_bar, 0);  // SW_HIDE
    }
    return 1;
}

// Looked up once; the library is freed at exit.
FullScreenFn full_screen() {
    static DynamicLibrary shell(u"aygshell.dll");
    static FullScreenFn function = [] {
        auto found = reinterpret_cast<FullScreenFn>(shell.lookup("SHFullScreen"));
        return found != nullptr ? found : full_screen_substitute;
    }();
    return function;
}

// ---- The handle the Canvas holds ----

class DisplayHandle final : public Display {
 public:
    explicit DisplayHandle(WindowDisplay* device) : device_(device) {}
    ~DisplayHandle() override { delete device_; }
    bool BeginScene() override { return device_->BeginScene(); }
    PixelBuffer* GetBackBuffer() override { return device_->GetBackBuffer(); }
    DisplayParameters GetParameters() override { return device_->parameters; }
    void Update(const Rect* rect) override { device_->Update(rect); }
    bool Swap(uint32_t flags) override { return device_->Swap(flags); }

 private:
    WindowDisplay* device_;
};

}  // namespace

void set_window_system(const WindowSystem& system) { installed_window_system = system; }
void use_platform_window_system() { installed_window_system = platform_window_system; }
const WindowSystem& window_system() { return installed_window_system; }

const VideoDetect& video_detect() {
    if (!detection_built) {
        detection_built = true;
        std::memset(&detected, 0, sizeof(detected));
        detected.screen.orientation = 4;
        detect_drivers(detected);
        list_modes(detected);
    }
    return detected;
}

int32_t display_mode_count() { return video_detect().mode_count; }

bool display_mode(int32_t index, VideoMode* mode) {
    const VideoDetect& d = video_detect();
    if (mode == nullptr || index < 0 || index >= d.mode_count) return false;
    *mode = d.modes[index];
    return true;
}

void reset_video_detect() {
    detection_built = false;
    std::memset(&detected, 0, sizeof(detected));
    reset_driver_probes();
    reset_device_services();
}

// ---- DisplayDevice ----

void DisplayDevice::Resume(int32_t arg) {
    active = 1;
    frame = nullptr;
    driver->Resume(arg);
}

void DisplayDevice::Suspend(int32_t arg) {
    driver->Suspend(arg);
    active = 0;
    frame = nullptr;
}

void DisplayDevice::Invalidate(int32_t a, int32_t b) { driver->Invalidate(a, b); }

DisplayDevice::~DisplayDevice() {
    delete back_buffer;
    delete driver;
}

bool DisplayDevice::Init(const DisplayParameters* requested) {
    if (driver != nullptr) return false;
    parameters = *requested;
    driver = InitializeDriver(requested);
    if (driver == nullptr) return false;
    if (requested->orientation < 4 && requested->orientation != driver->descriptor.orientation) {
        VideoDescriptor inner = driver->descriptor;
        auto* turned = new (std::nothrow) RotationDriver(driver);
        if (turned == nullptr) return false;  // the plain driver stays to be destroyed
        driver = turned;
        if (!turned->Initialize(window, requested, &inner)) {
            delete turned;
            driver = nullptr;
            return false;
        }
    }
    parameters.width = driver->descriptor.width;
    parameters.height = driver->descriptor.height;
    parameters.orientation = driver->descriptor.orientation;
    if (driver->descriptor.swap_effect == 0 || (requested->swap_effect == 2 && driver->descriptor.swap_effect != 2)) {
        back_buffer = pixel_buffer_create(uint32_t(parameters.width), uint32_t(parameters.height));
        if (back_buffer == nullptr) return false;
        parameters.swap_effect = 2;
    } else {
        parameters.swap_effect = driver->descriptor.swap_effect;
    }
    frame = nullptr;
    Update(nullptr);
    return true;
}

bool DisplayDevice::BeginScene() {
    if (!active) return false;
    if (frame == nullptr) frame = driver->BeginDraw();
    return frame != nullptr;
}

PixelBuffer* DisplayDevice::GetBackBuffer() const {
    if (frame == nullptr) return nullptr;
    return back_buffer != nullptr ? back_buffer : frame;
}

void DisplayDevice::Update(const Rect* rect) {
    int32_t width = driver->descriptor.width, height = driver->descriptor.height;
    Rect r{0, 0, width, height};
    if (rect != nullptr) {
        r = Rect{rect->left > 0 ? rect->left : 0, rect->top > 0 ? rect->top : 0,
                 rect->right < width ? rect->right : width, rect->bottom < height ? rect->bottom : height};
        if (r.empty()) r = Rect{0, 0, 0, 0};
    }
    driver->SetUpdateRect(r);
    r.left &= ~1;
    r.top &= ~1;
    r.right = (r.right + 1) & ~1;
    r.bottom = (r.bottom + 1) & ~1;
    // Even edges, but on a screen of odd size never past its last pixel.
    if (r.right > width) r.right = width;
    if (r.bottom > height) r.bottom = height;
    update_rect = r;
    full_rows = (r.right - r.left) * 2 == driver->descriptor.pitch ? 1 : 0;
}

bool DisplayDevice::Swap(uint32_t flags) {
    if (frame == nullptr || !active) return false;
    if (back_buffer != nullptr) {
        if (flags & 1) driver->WaitSync();
        const Rect& r = update_rect;
        if (!r.empty()) {
            // One block only when the rows of both buffers lie the same distance apart.
            if (full_rows && back_buffer->pitch == frame->pitch) {
                std::memcpy(frame->row(r.top), back_buffer->row(r.top), size_t(r.bottom - r.top) * frame->pitch);
            } else {
                size_t bytes = size_t(r.right - r.left) * 2;
                for (int32_t y = r.top; y < r.bottom; ++y) std::memcpy(frame->at(r.left, y), back_buffer->at(r.left, y), bytes);
            }
        }
    }
    driver->EndDraw(flags);
    if (on_panel) platform::show_display_panel();
    frame = nullptr;
    return true;
}

// ---- WindowDisplay ----

WindowDisplay::~WindowDisplay() {
    core_dll_entry_points()->all_keys(FALSE);
    if (window_system().is_window(window)) unsubclass(window, this);
}

void WindowDisplay::Resume(int32_t arg) {
    full_screen()(window, 0x2A);
    DisplayDevice::Resume(arg);
}

void WindowDisplay::Suspend(int32_t arg) {
    full_screen()(window, 0x15);
    DisplayDevice::Suspend(arg);
}

bool WindowDisplay::Init(const DisplayParameters* requested) {
    if (!window_system().is_window(window)) return false;
    if (!subclass(window, this)) return false;
    if (!DisplayDevice::Init(requested)) return false;
    core_dll_entry_points()->all_keys(TRUE);
    full_screen()(window, 0x2A);
    return true;
}

VideoDriver* WindowDisplay::InitializeDriver(const DisplayParameters* requested) {
    set_display_window(window);
    const VideoDetect& d = video_detect();
    bool orientation_offered = requested->orientation == 4;
    for (int32_t i = 0; i < d.mode_count; ++i)
        if (d.modes[i].orientation == requested->orientation) orientation_offered = true;
    if (!orientation_offered) return nullptr;
    for (int32_t i = d.driver_count - 1; i >= 0; --i) {
        int32_t id = d.drivers[i];
        VideoDriver* volatile candidate = id >= 1 && id <= 8 ? CreateDriver(id) : nullptr;
        if (candidate == nullptr) continue;
        display_log("Initializing video driver...");
        volatile bool ready = false;
        platform::FaultGuard guard;
        if (FAULT_GUARD_ENTER(guard)) {
            ready = candidate->Initialize(window, requested, &d.records[id]);
            platform::fault_guard_leave(&guard);
        } else {
            display_log("*** CAUGHT EXCEPTION ***");
        }
        if (ready) {
            display_log("Driver initialized!");
            on_panel = id != driver_gdi;
            return candidate;
        }
        display_log(" Failed to initialize driver");
        delete candidate;
    }
    return nullptr;
}

Display* create_window_display(HWND window, DisplayParameters* parameters) {
    display_log("Vantrel (Version 1.0.1)");
    display_log("Display::Create( hwnd = %08X, W:%d, H:%d, O:%d, S:%d )", window, parameters->width,
                parameters->height, parameters->orientation, parameters->swap_effect);
    if (parameters->swap_effect == 0) {
        display_log("Swap effect forced to SWAP_DISCARD");
        parameters->swap_effect = 1;
    }
    auto* device = new (std::nothrow) WindowDisplay(window);
    if (device == nullptr) return nullptr;
    auto* handle = new (std::nothrow) DisplayHandle(device);
    if (handle == nullptr) {
        delete device;
        return nullptr;
    }
    display_log("Initializing display...");
    volatile bool ready = false;
    platform::FaultGuard guard;
    if (FAULT_GUARD_ENTER(guard)) {
        ready = device->Init(parameters);
        platform::fault_guard_leave(&guard);
    } else {
        // A fault half way (a driver probe writing to the hardware, say) must not leave
        // the window bound to a device that has no driver: the window gets its own
        // procedure back before the fault travels on to the caller as its error.
        display_log("*** CAUGHT EXCEPTION ***, destroying internal structures");
        delete handle;
        platform::pass_fault_outward(guard);
    }
    if (!ready) {
        display_log("Failed, destroying internal structures");
        delete handle;
        return nullptr;
    }
    *parameters = device->parameters;
    display_log("Success, returning display params to caller (W:%d, H:%d, O:%d, S:%d)", parameters->width,
                parameters->height, parameters->orientation, parameters->swap_effect);
    return handle;
}

}  // namespace display
