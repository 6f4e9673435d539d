// The driver factory, the probes the drivers share (device model, processor, physical
// memory) and the driver of the game API (gx.dll).
#include "display/video_driver.h"

#include <cstring>
#include <new>

#include "display/window_system.h"
#include "display/video_geometry.h"
#include "platform/gdi/gdi.h"
#include "platform/kernel/fault_guard.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/system_info.h"
#include "platform/kernel/wide_string.h"

namespace display {

namespace {

HWND current_display_window = nullptr;

bool model_read = false;
int32_t model_value = 0;
bool processor_read = false;
int32_t processor_value = 0;

const char16_t* const model_names[] = {u"Compaq iPAQ H3800", u"Compale P6C",  u"Typhoon",
                                       u"Toshiba e310",      u"Toshiba e330", u"Toshiba e740",
                                       u"Toshiba e750",      u"MotoQ",        u"SGH-i607"};

char16_t fold(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; }

bool starts_with_folded(const char16_t* text, const char16_t* prefix) {
    for (; *prefix != 0; ++text, ++prefix)
        if (*text == 0 || fold(*text) != fold(*prefix)) return false;
    return true;
}

uint32_t page_size() {
    static const uint32_t size = [] {
        SYSTEM_INFO info{};
        GetSystemInfo(&info);
        return info.dwPageSize != 0 ? info.dwPageSize : 4096u;
    }();
    return size;
}

// Kernel mode for the calls between; gives the mode to go back to.
BOOL enter_kernel_mode() {
    BoolSwitchFn set_kmode = core_dll_entry_points()->set_kmode;
    return set_kmode != nullptr ? set_kmode(TRUE) : FALSE;
}

void leave_kernel_mode(BOOL previous) {
    BoolSwitchFn set_kmode = core_dll_entry_points()->set_kmode;
    if (set_kmode != nullptr) set_kmode(previous);
}

}  // namespace

HWND display_window() { return current_display_window; }
void set_display_window(HWND window) { current_display_window = window; }

int32_t device_model() {
    if (model_read) return model_value;
    model_read = true;
    model_value = 0;
    char16_t oem[260] = {};
    if (!SystemParametersInfoW(SPI_GETOEMINFO, sizeof(oem), oem, 0)) return model_value;
    oem[259] = 0;
    model_value = device_model_of(oem);
    return model_value;
}

int32_t device_model_of(const char16_t* oem) {
    for (int32_t i = 0; i < 9; ++i) {
        if (!starts_with_folded(oem, model_names[i])) continue;
        // "MotoQ" alone: longer names (MotoQ9h...) are other phones.
        return (i + 1 == 8 && crt::wcslen(oem) > 5) ? 0 : i + 1;
    }
    return 0;
}

int32_t processor_probe() {
    if (processor_read) return processor_value;
    processor_read = true;
    volatile int32_t kind = 0;
    BOOL previous = enter_kernel_mode();
    platform::FaultGuard guard;
    if (FAULT_GUARD_ENTER(guard)) {
        DWORD id = platform::processor_main_id();
        if ((id >> 16) == 0x6901) kind = 1;
        else if ((id >> 12) == 0x69052) kind = 2;
        platform::fault_guard_leave(&guard);
    }
    leave_kernel_mode(previous);
    processor_value = kind;
    return processor_value;
}

uint8_t* map_physical(uint32_t address, uint32_t size, bool cached) {
    BOOL previous = enter_kernel_mode();
    uint32_t offset = address % page_size();
    uint32_t physical_page = address - offset;
    uint8_t* result = nullptr;
    void* reserved = VirtualAlloc(nullptr, offset + size, MEM_RESERVE, PAGE_NOACCESS);
    if (reserved != nullptr) {
        DWORD protect = PAGE_READWRITE | (cached ? 0 : PAGE_NOCACHE);
        uintptr_t source = physical_page;
        if (physical_page >= 0x20000000u) {
            source >>= 8;
            protect |= PAGE_PHYSICAL;
        }
        if (VirtualCopy(reserved, reinterpret_cast<void*>(source), offset + size, protect)) {
            result = static_cast<uint8_t*>(reserved) + offset;
        } else {
            VirtualFree(reserved, 0, MEM_RELEASE);
        }
    }
    leave_kernel_mode(previous);
    return result;
}

void unmap_physical(uint8_t* address) {
    if (address == nullptr) return;
    BOOL previous = enter_kernel_mode();
    uintptr_t page = reinterpret_cast<uintptr_t>(address) & ~uintptr_t(page_size() - 1);
    VirtualFree(reinterpret_cast<void*>(page), 0, MEM_RELEASE);
    leave_kernel_mode(previous);
}

int32_t orientation_from_strides(int32_t x_stride, int32_t y_stride) {
    if (x_stride > 0) return y_stride > 0 ? 0 : 1;
    return y_stride < 0 ? 2 : 3;
}

int32_t frame_offset(int32_t orientation, int32_t bits, int32_t screen_width, int32_t screen_height, int32_t x_stride,
                     int32_t y_stride) {
    switch (orientation) {
        case 1: return (bits + 7) / 8 - (screen_height * bits) / 8;
        case 2: return (screen_width - 1) * x_stride + (screen_height - 1) * y_stride;
        case 3: return (screen_width - 1) * x_stride;
        default: return 0;
    }
}

void describe_turned_frame(VideoDescriptor* d, int32_t orientation, int32_t screen_width, int32_t screen_height,
                           int32_t x_stride, int32_t y_stride) {
    d->orientation = orientation;
    if (orientation == 1 || orientation == 3) {
        d->width = screen_height;
        d->height = screen_width;
        d->pitch = x_stride < 0 ? -x_stride : x_stride;
    } else {
        d->width = screen_width;
        d->height = screen_height;
        d->pitch = y_stride < 0 ? -y_stride : y_stride;
    }
}

VideoDriver* CreateDriver(int32_t id) {
    display_log("CreateDriver( %08X )", id);
    switch (id) {
        case driver_direct: return new (std::nothrow) DriverDirect;
        case driver_gapi: return new (std::nothrow) GapiDriver;
        case driver_strongarm: return new (std::nothrow) StrongARMDriver;
        case driver_xscale: return new (std::nothrow) XScaleDriver;
        case driver_imageon: return new (std::nothrow) Imageon100Driver;
        case driver_mediaq: {
            auto* inner = new (std::nothrow) MediaQDriver;
            if (inner == nullptr) return nullptr;
            auto* wrapper = new (std::nothrow) SlowFB(inner);
            if (wrapper == nullptr) delete inner;
            return wrapper;
        }
        case driver_vga: return new (std::nothrow) DriverVGA;
        case driver_gdi: return new (std::nothrow) GDIDriver;
        default: return nullptr;
    }
}

// ---- GDI ----

bool GDIDriver::Detect(VideoDescriptor* detection) {
    display_log("GDIDriver: Detect()");
    ScreenCaps screen{};
    if (!screen_caps(&screen)) {
        display_log("GDIDriver: unable to get screen's DC");
        return false;
    }
    detection->width = screen.width;
    detection->height = screen.height;
    detection->bits_per_pixel = screen.bits_per_pixel;
    display_log("GDIDriver: Found W:%d, H:%d, D:%d", screen.width, screen.height, screen.bits_per_pixel);
    return true;
}

bool GDIDriver::Initialize(HWND window, const DisplayParameters* parameters, const VideoDescriptor* detection) {
    if (back_buffer_ != nullptr || parameters == nullptr) return false;
    // A size of 0 asks for the screen: the game display opens this way, and this driver
    // must be able to open it when nothing else can.
    int32_t width = parameters->width, height = parameters->height;
    if (width <= 0 || height <= 0) {
        if (detection == nullptr) return false;
        width = detection->width;
        height = detection->height;
    }
    if (width <= 0 || height <= 0) return false;
    back_buffer_ = dib_buffer_create(uint32_t(width), uint32_t(height));
    if (back_buffer_ == nullptr) return false;
    window_ = window;
    window_dc_ = GetDC(window);
    descriptor = VideoDescriptor{int32_t(back_buffer_->width), int32_t(back_buffer_->height), 16,
                                 int32_t(back_buffer_->pitch), 0, 2, nullptr};
    update_ = Rect{0, 0, descriptor.width, descriptor.height};
    return true;
}

GDIDriver::~GDIDriver() {
    if (window_dc_ != nullptr) ReleaseDC(window_, window_dc_);
    delete back_buffer_;
}

PixelBuffer* GDIDriver::BeginDraw() { return back_buffer_; }

void GDIDriver::SetUpdateRect(const Rect& rect) {
    update_ = Rect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void GDIDriver::EndDraw(uint32_t) {
    if (back_buffer_ == nullptr || !window_system().is_window(window_)) return;
    BitBlt(window_dc_, update_.left, update_.top, update_.right, update_.bottom, back_buffer_->memory_dc, update_.left,
           update_.top, SRCCOPY);
}

// ---- GAPI ----

bool GapiDriver::Detect(VideoDescriptor* detection) {
    if (device_model() == 9) return false;
    display_log("GAPI: Loading GX.DLL");
    GxEntryPoints* gx = gx_entry_points();
    if (!gx->loaded()) {
        display_log("GAPI: GX.DLL not found");
        return false;
    }
    if (gx->open_display == nullptr || gx->close_display == nullptr || gx->get_display_properties == nullptr ||
        gx->begin_draw == nullptr || gx->end_draw == nullptr)
        return false;
    display_log("GAPI: Calling GXOpenDisplay( %08X, GX_FULLSCREEN )", display_window());
    if (gx->open_display(display_window(), GX_FULLSCREEN) == 0) return false;
    GXDisplayProperties p = gx->get_display_properties();
    detection->bits_per_pixel = p.cBPP;
    int32_t orientation = orientation_from_strides(p.cbxPitch, p.cbyPitch);
    describe_turned_frame(detection, orientation, int32_t(p.cxWidth), int32_t(p.cyHeight), p.cbxPitch, p.cbyPitch);
    detection->swap_effect =
        gx->is_display_dram_buffer != nullptr && gx->is_display_dram_buffer() != 0 ? 2 : 0;
    int32_t model = device_model();
    if (model == 2 || model == 3) detection->swap_effect = 0;
    if (detection->address == nullptr) {
        const volatile int32_t offset =
            frame_offset(orientation, p.cBPP, int32_t(p.cxWidth), int32_t(p.cyHeight), p.cbxPitch, p.cbyPitch);
        uint8_t* volatile found = nullptr;
        platform::FaultGuard guard;
        if (FAULT_GUARD_ENTER(guard)) {
            auto* rows = static_cast<uint8_t*>(gx->begin_draw());
            if (rows != nullptr) found = rows + offset;
            platform::fault_guard_leave(&guard);
        } else {
            display_log("GAPI: Access Violation in GXBeginDraw()");
            found = nullptr;
        }
        detection->address = found;
        gx->end_draw();
    }
    gx->close_display();
    if (detection->address == nullptr) return false;
    ScreenCaps screen{};
    if (!screen_caps(&screen) ||
        int64_t(detection->width) * detection->height != int64_t(screen.width) * screen.height)
        return false;
    display_log("GAPI: Found W:%d, H:%d, P:%d, O:%d, FB:%08X", detection->width, detection->height,
                detection->pitch, detection->orientation, detection->address);
    return true;
}

GapiDriver::~GapiDriver() {
    if (gx_ != nullptr && gx_->close_display != nullptr) gx_->close_display();
}

bool GapiDriver::Initialize(HWND window, const DisplayParameters*, const VideoDescriptor* detection) {
    if (device_model() == 9 || gx_ != nullptr || !window_system().is_window(window)) return false;
    GxEntryPoints* gx = gx_entry_points();
    if (gx->open_display == nullptr || gx->get_display_properties == nullptr || gx->begin_draw == nullptr ||
        gx->end_draw == nullptr || gx->close_display == nullptr)
        return false;
    if (gx->open_display(window, GX_FULLSCREEN) == 0) {
        display_log("GAPI: GXOpenDisplay() failed");
        return false;
    }
    gx_ = gx;
    GXDisplayProperties p = gx->get_display_properties();
    descriptor = *detection;
    descriptor.swap_effect = gx->is_display_dram_buffer != nullptr && gx->is_display_dram_buffer() != 0 ? 2 : 0;
    int32_t model = device_model();
    direct_ = model == 2 || model == 3;
    if (direct_) descriptor.swap_effect = 0;
    offset_ = frame_offset(descriptor.orientation, p.cBPP, int32_t(p.cxWidth), int32_t(p.cyHeight), p.cbxPitch,
                           p.cbyPitch);
    pixel_buffer_init(&frame_, uint32_t(descriptor.width), uint32_t(descriptor.height), uint32_t(descriptor.pitch),
                      direct_ ? descriptor.address : nullptr, false);
    return true;
}

PixelBuffer* GapiDriver::BeginDraw() {
    if (direct_) return &frame_;
    auto* rows = static_cast<uint8_t*>(gx_->begin_draw());
    if (rows == nullptr) return nullptr;
    frame_.pixels = rows + offset_;
    return &frame_;
}

void GapiDriver::EndDraw(uint32_t) {
    if (!direct_) gx_->end_draw();
}

void GapiDriver::SetUpdateRect(const Rect& rect) {
    if (descriptor.swap_effect == 0 || gx_->set_viewport == nullptr) return;
    switch (descriptor.orientation) {
        case 1: gx_->set_viewport(DWORD(descriptor.width - rect.right), DWORD(rect.right - rect.left), 0, 0); break;
        case 2: gx_->set_viewport(DWORD(descriptor.height - rect.bottom), DWORD(rect.bottom - rect.top), 0, 0); break;
        case 3: gx_->set_viewport(DWORD(rect.left), DWORD(rect.right - rect.left), 0, 0); break;
        default: gx_->set_viewport(DWORD(rect.top), DWORD(rect.bottom - rect.top), 0, 0); break;
    }
}

void GapiDriver::Resume(int32_t) {
    if (gx_ != nullptr && gx_->resume != nullptr) gx_->resume();
}

void GapiDriver::Suspend(int32_t) {
    if (gx_ != nullptr && gx_->suspend != nullptr) gx_->suspend();
}

void reset_video_probes() {
    model_read = false;
    processor_read = false;
}

}  // namespace display
