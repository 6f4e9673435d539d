// Drivers of frames the program writes directly: the raw frame buffer escape, the GAPI
// device escape with its DMA library, the StrongARM and XScale LCD controllers, the
// Imageon overlay and the MediaQ chip.
#include <cstring>

#include "display/video_driver.h"
#include "display/video_geometry.h"
#include "display/window_system.h"
#include "platform/kernel/fault_guard.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/threads.h"

namespace display {

namespace {

// Polls before a wait on hardware gives up, and the time it may take at most.
constexpr uint32_t wait_poll_limit = 20000;
constexpr uint32_t wait_time_limit_ms = 100;

uint32_t read32(const uint8_t* block, uint32_t offset) {
    uint32_t value;
    std::memcpy(&value, block + offset, 4);
    return value;
}

}  // namespace

bool wait_until(bool (*ready)(const void* context), const void* context) {
    uint32_t start = timer_now_ms();
    for (uint32_t polls = 0; polls < wait_poll_limit; ++polls) {
        if (ready(context)) return true;
        Sleep(0);
        if (timer_now_ms() - start > wait_time_limit_ms) break;
    }
    return ready(context);
}

PixelBuffer* FrameBufferDriver::BeginDraw() { return &frame_; }

void FrameBufferDriver::take_detection(const VideoDescriptor* detection) {
    descriptor = *detection;
    descriptor.swap_effect = 0;
    pixel_buffer_init(&frame_, uint32_t(descriptor.width), uint32_t(descriptor.height), uint32_t(descriptor.pitch),
                      descriptor.address, false);
}

// ---- DriverVGA: the raw frame buffer ----

bool DriverVGA::Detect(VideoDescriptor* detection) {
    RawFrameBufferInfo info;
    std::memset(&info, 0, sizeof(info));
    ScreenCaps screen{};
    if (!raw_frame_buffer_query(&info)) {
        display_log("DriverVGA: GETRAWFRAMEBUFFER failed");
        return false;
    }
    if (!screen_caps(&screen) || int64_t(info.cxPixels) * info.cyPixels != int64_t(screen.width) * screen.height)
        return false;
    detection->bits_per_pixel = info.wBPP;
    int32_t orientation = orientation_from_strides(info.cxStride, info.cyStride);
    describe_turned_frame(detection, orientation, info.cxPixels, info.cyPixels, info.cxStride, info.cyStride);
    detection->swap_effect = 0;
    detection->address = static_cast<uint8_t*>(info.pFramePointer) +
                         frame_offset(orientation, info.wBPP, info.cxPixels, info.cyPixels, info.cxStride,
                                      info.cyStride);
    if (device_model() == 8) {
        display_log("DriverVGA: Motorola Q detected, overriding orientation to ORIENTATION_ROTATE90CW");
        detection->orientation = 3;
    }
    return true;
}

bool DriverVGA::Initialize(HWND, const DisplayParameters*, const VideoDescriptor* detection) {
    take_detection(detection);
    return true;
}

// ---- DriverDirect: GETGXINFO, with gxdma.dll when the device has it ----

struct DriverDirect::Dma : DynamicLibrary {
    Dma()
        : DynamicLibrary(u"gxdma.dll"),
          vram_to_dram(reinterpret_cast<DmaCopyFn>(lookup("DmaVRAMtoDRAM"))),
          dram_to_vram(reinterpret_cast<DmaCopyFn>(lookup("DmaDRAMtoVRAM"))),
          is_ready(reinterpret_cast<IsDmaReadyFn>(lookup("IsDMAReady"))) {
        if (is_ready == nullptr) is_ready = [] { return BOOL(TRUE); };
    }
    DmaCopyFn vram_to_dram;
    DmaCopyFn dram_to_vram;
    IsDmaReadyFn is_ready;
};

namespace {
DriverDirect::Dma* loaded_dma = nullptr;
bool dma_tried = false;
}  // namespace

DriverDirect::DriverDirect() {
    int32_t model = device_model();
    if (model == 2 || model == 3) return;
    if (!dma_tried) {
        dma_tried = true;
        auto* dma = new (std::nothrow) Dma;
        if (dma != nullptr && dma->loaded() && dma->dram_to_vram != nullptr) {
            loaded_dma = dma;
            std::atexit([] { delete loaded_dma; loaded_dma = nullptr; });
        } else {
            delete dma;
        }
    }
    dma_ = loaded_dma;
}

bool DriverDirect::Detect(VideoDescriptor* detection) {
    GXDeviceInfo info;
    std::memset(&info, 0, sizeof(info));
    if (!gx_device_info_query(&info) || info.pvFrameBuffer == nullptr) {
        display_log("DriverDirect: not supported");
        return false;
    }
    detection->width = int32_t(info.cxWidth);
    detection->height = int32_t(info.cyHeight);
    detection->bits_per_pixel = int32_t(info.cBPP);
    detection->pitch = int32_t(info.cbStride);
    detection->orientation = (info.ffFormat & kfLandscape) ? 1 : 0;
    detection->address = static_cast<uint8_t*>(info.pvFrameBuffer);
    return true;
}

bool DriverDirect::Initialize(HWND window, const DisplayParameters*, const VideoDescriptor* detection) {
    if (!window_system().is_window(window) || detection->address == nullptr) return false;
    take_detection(detection);
    descriptor.swap_effect = dma_ != nullptr ? 2 : 0;
    return true;
}

PixelBuffer* DriverDirect::BeginDraw() {
    // A transfer still running would be overwritten; one that never ends is given up on.
    if (dma_ != nullptr) wait_until([](const void* dma) { return static_cast<const Dma*>(dma)->is_ready() != FALSE; }, dma_);
    return &frame_;
}

void DriverDirect::SetUpdateRect(const Rect& rect) {
    int32_t x = rect.left & ~3;
    int32_t width = (rect.right - x + 3) & ~3;
    // Whole groups of four pixels, but none beyond the frame's right edge.
    if (width > descriptor.width - x) width = descriptor.width - x;
    update_ = Rect{x, rect.top, width, rect.bottom - rect.top};
}

void DriverDirect::EndDraw(uint32_t) {
    if (dma_ == nullptr || update_.right <= 0 || update_.bottom <= 0) return;
    dma_->dram_to_vram(DWORD(update_.left), DWORD(update_.top), DWORD(update_.right), DWORD(update_.bottom));
}

// ---- LCD controllers ----

namespace {

LcdProbe strongarm_record{};
LcdProbe xscale_record{};
bool strongarm_probed = false;
bool xscale_probed = false;
uint8_t* strongarm_frame = nullptr;
uint8_t* xscale_frame = nullptr;

void release_probe(LcdProbe* probe, const char* message) {
    unmap_physical(probe->registers);
    probe->registers = nullptr;
    display_log(message);
}

void run_strongarm_probe(LcdProbe* p) {
    p->registers = map_physical(0xB0100000u, 44, false);
    if (p->registers == nullptr) return;
    uint32_t control = read32(p->registers, 0);
    if ((control & 1) == 0) return release_probe(p, "StrongARM: no LCD detected");
    p->frame_base = read32(p->registers, 0x10);
    p->width = int32_t(read32(p->registers, 4) & 0x3FF) + 16;
    p->height = int32_t(read32(p->registers, 8) & 0x3FF) + 1;
    p->flag_a = (control & 2) != 0;
    p->flag_b = (control & 0x80) == 0;
    uint8_t* palette = map_physical(p->frame_base, 2, false);
    if (palette == nullptr) return release_probe(p, "StrongARM: no LCD detected");
    uint16_t first;
    std::memcpy(&first, palette, 2);
    unmap_physical(palette);
    switch (first & 0x3000) {
        case 0x0000: p->bits_per_pixel = 4, p->palette_bytes = 32; break;
        case 0x1000: p->bits_per_pixel = 8, p->palette_bytes = 512; break;
        case 0x2000: p->bits_per_pixel = 16, p->palette_bytes = 32; break;
        default: p->bits_per_pixel = 0, p->palette_bytes = 0; break;
    }
    p->pitch = ((p->width + 15) & ~15) * p->bits_per_pixel / 8;
    if (p->bits_per_pixel != 16 || (control & 0x80) == 0) release_probe(p, "StrongARM: no LCD detected");
}

void run_xscale_probe(LcdProbe* p) {
    p->registers = map_physical(0x44000000u, 544, false);
    if (p->registers == nullptr) return;
    uint32_t control = read32(p->registers, 0);
    if ((control & 1) == 0) return release_probe(p, "XScale: no LCD detected");
    p->width = int32_t(read32(p->registers, 4) & 0x3FF) + 1;
    p->height = int32_t(read32(p->registers, 8) & 0x3FF) + 1;
    p->flag_a = (control & 2) != 0;
    p->flag_b = (control & 0x80) == 0;
    static const int32_t depths[8] = {1, 2, 4, 8, 16, 0, 0, 0};
    p->bits_per_pixel = depths[(read32(p->registers, 0x0C) >> 24) & 7];
    p->palette_bytes = 0;
    // The frame's source address of the first DMA channel.
    p->frame_base = read32(p->registers, 0x204);
    int32_t align = 4;
    if ((control & 0x202) == 0x202 || ((control & 0x80) && (p->bits_per_pixel == 8 || p->bits_per_pixel == 16)))
        align = 8;
    p->pitch = ((p->width + align - 1) / align * align) * p->bits_per_pixel / 8;
    if (p->bits_per_pixel != 16) release_probe(p, "XScale: no LCD detected");
}

// A probe under a guard: a controller that faults has no LCD.
LcdProbe* probe_once(LcdProbe* record, bool* probed, void (*run)(LcdProbe*)) {
    if (*probed) return record;
    *probed = true;
    platform::FaultGuard guard;
    if (FAULT_GUARD_ENTER(guard)) {
        run(record);
        platform::fault_guard_leave(&guard);
    } else {
        record->registers = nullptr;
    }
    return record;
}

}  // namespace

LcdProbe* strongarm_probe() { return probe_once(&strongarm_record, &strongarm_probed, run_strongarm_probe); }
LcdProbe* xscale_probe() { return probe_once(&xscale_record, &xscale_probed, run_xscale_probe); }

void reset_lcd_probes() {
    for (LcdProbe* probe : {&strongarm_record, &xscale_record}) {
        unmap_physical(probe->registers);
        *probe = LcdProbe{};
    }
    unmap_physical(strongarm_frame);
    unmap_physical(xscale_frame);
    strongarm_frame = xscale_frame = nullptr;
    strongarm_probed = xscale_probed = false;
}

bool LcdDriver::Detect(VideoDescriptor* detection, LcdProbe* probe, const char* name) {
    if (probe->registers == nullptr) return false;
    uint8_t*& frame = probe == &strongarm_record ? strongarm_frame : xscale_frame;
    if (frame == nullptr)
        frame = map_physical(probe->frame_base + uint32_t(probe->palette_bytes),
                             uint32_t(probe->pitch) * uint32_t(probe->height), false);
    if (frame == nullptr) return false;
    detection->width = probe->width;
    detection->height = probe->height;
    detection->bits_per_pixel = probe->bits_per_pixel;
    detection->pitch = probe->pitch;
    detection->orientation = 0;
    detection->swap_effect = 0;
    detection->address = frame;
    display_log("%s: found framebuffer", name);
    return true;
}

bool StrongARMDriver::Detect(VideoDescriptor* detection) { return LcdDriver::Detect(detection, strongarm_probe(), "StrongARM"); }
bool XScaleDriver::Detect(VideoDescriptor* detection) { return LcdDriver::Detect(detection, xscale_probe(), "XScale"); }

bool LcdDriver::Initialize(HWND window, const DisplayParameters*, const VideoDescriptor* detection) {
    display_log(xscale_ ? "XScale: Initialize()" : "StrongARM: Initialize()");
    if (!window_system().is_window(window) || detection->address == nullptr || probe_->registers == nullptr)
        return false;
    take_detection(detection);
    if (!xscale_ && device_model() == 1) {
        descriptor.orientation = 3;
        descriptor.address = reinterpret_cast<uint8_t*>(uintptr_t(0xAC050020u));
    }
    uintptr_t address = reinterpret_cast<uintptr_t>(descriptor.address);
    if (address & 0x20000000u) {
        auto* cleared = reinterpret_cast<uint8_t*>(address & ~uintptr_t(0x20000000u));
        // The same memory without the uncached bit: the cached view is faster to write.
        // Only a view that exists is compared (an address of this process may have the bit).
        size_t bytes = size_t(descriptor.pitch) * size_t(descriptor.height);
        if (!IsBadReadPtr(cleared, UINT_PTR(bytes)) && std::memcmp(descriptor.address, cleared, bytes) == 0)
            descriptor.address = cleared;
    }
    frame_.pixels = descriptor.address;
    return true;
}

namespace {
struct SyncWindow {
    const uint8_t* registers;
    uint32_t low;
    uint32_t high;
};
}  // namespace

void LcdDriver::WaitSync() {
    Sleep(0);
    // The refresh is near the bottom rows: 20 to 34 rows from the end.
    uint32_t pitch = uint32_t(probe_->pitch);
    if (xscale_) {
        SyncWindow window{probe_->registers, 20 * pitch, 34 * pitch};
        wait_until(
            [](const void* context) {
                auto* w = static_cast<const SyncWindow*>(context);
                uint32_t command = read32(w->registers, 0x20C);
                uint32_t left = command & 0x1FFFFF;
                return (command & (1u << 26)) == 0 && left >= w->low && left <= w->high;
            },
            &window);
    } else {
        uint32_t rows = probe_->frame_base + uint32_t(probe_->palette_bytes);
        uint32_t height = uint32_t(probe_->height);
        SyncWindow window{probe_->registers, rows + (height - 34) * pitch, rows + (height - 20) * pitch};
        wait_until(
            [](const void* context) {
                auto* w = static_cast<const SyncWindow*>(context);
                uint32_t current = read32(w->registers, 0x14);
                return current >= w->low && current <= w->high;
            },
            &window);
    }
}

// ---- Imageon100: an overlay surface of the ATI chip ----

struct Imageon100Driver::Library : DynamicLibrary {
    Library()
        : DynamicLibrary(u"CoreLinkLib.dll"),
          process_attach(reinterpret_cast<AtiSimpleFn>(lookup("AtiCore_ProcessAttach"))),
          process_detach(reinterpret_cast<AtiSimpleFn>(lookup("AtiCore_ProcessDetach"))),
          alloc_overlay(reinterpret_cast<AtiAllocOverlayFn>(lookup("AtiCore_AllocOverlay"))),
          set_overlay_on_off(reinterpret_cast<AtiSetOverlayOnOffFn>(lookup("AtiCore_SetOverlayOnOff"))),
          setup_overlay(reinterpret_cast<AtiSetupOverlayFn>(lookup("AtiCore_SetupOverlay"))),
          set_overlay_pos(reinterpret_cast<AtiSetOverlayPosFn>(lookup("AtiCore_SetOverlayPos"))),
          release_overlay(reinterpret_cast<AtiReleaseOverlayFn>(lookup("AtiCore_ReleaseOverlay"))),
          allocate_surface(reinterpret_cast<AtiAllocateSurfaceFn>(lookup("AtiCore_AllocateSurface"))),
          destroy_surface(reinterpret_cast<AtiDestroySurfaceFn>(lookup("AtiCore_DestroySurface"))),
          setup_memory_transfer(reinterpret_cast<AtiSetupMemoryTransferFn>(lookup("AtiCore_SetupMemoryTransfer"))),
          terminate_memory_transfer(
              reinterpret_cast<AtiTerminateMemoryTransferFn>(lookup("AtiCore_TerminateMemoryTransfer"))),
          wait_complete(reinterpret_cast<AtiSimpleFn>(lookup("AtiCore_WaitComplete"))) {}

    // Every entry the driver calls is there.
    bool complete() const {
        return process_attach && process_detach && alloc_overlay && set_overlay_on_off && setup_overlay &&
               set_overlay_pos && release_overlay && allocate_surface && destroy_surface && setup_memory_transfer &&
               terminate_memory_transfer && wait_complete;
    }

    AtiSimpleFn process_attach;
    AtiSimpleFn process_detach;
    AtiAllocOverlayFn alloc_overlay;
    AtiSetOverlayOnOffFn set_overlay_on_off;
    AtiSetupOverlayFn setup_overlay;
    AtiSetOverlayPosFn set_overlay_pos;
    AtiReleaseOverlayFn release_overlay;
    AtiAllocateSurfaceFn allocate_surface;
    AtiDestroySurfaceFn destroy_surface;
    AtiSetupMemoryTransferFn setup_memory_transfer;
    AtiTerminateMemoryTransferFn terminate_memory_transfer;
    AtiSimpleFn wait_complete;
};

Imageon100Driver::Imageon100Driver() : library_(new (std::nothrow) Library) {}

Imageon100Driver::~Imageon100Driver() {
    if (library_ != nullptr && has_overlay_) {
        library_->set_overlay_on_off(overlay_, FALSE);
        library_->release_overlay(overlay_);
        library_->destroy_surface(surface_);
        library_->process_detach();
    }
    delete library_;
}

bool Imageon100Driver::Detect(VideoDescriptor*) {
    int32_t model = device_model();
    if (model != 6 && model != 7) {
        display_log("Imageon100: Not an Imageon100");
        return false;
    }
    volatile bool found = false;
    Library* volatile library = new (std::nothrow) Library;
    if (library == nullptr) return false;
    platform::FaultGuard guard;
    if (FAULT_GUARD_ENTER(guard)) {
        if (library->loaded() && library->complete()) {
            library->process_attach();
            library->process_detach();
            found = true;
            display_log("Imageon100: Detected");
        }
        platform::fault_guard_leave(&guard);
    }
    delete library;
    return found;
}

bool Imageon100Driver::Initialize(HWND window, const DisplayParameters* parameters, const VideoDescriptor* detection) {
    if (library_ == nullptr || !library_->complete() || has_overlay_ || !window_system().is_window(window))
        return false;
    // A size left to the display (0) is the screen's.
    int32_t width = parameters->width > 0 ? parameters->width : detection->width;
    int32_t height = parameters->height > 0 ? parameters->height : detection->height;
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096) return false;
    descriptor.width = width;
    descriptor.height = height;
    descriptor.bits_per_pixel = 16;
    descriptor.pitch = 2 * width;
    descriptor.orientation = 0;
    descriptor.swap_effect = 0;
    library_->process_attach();
    void* address = nullptr;
    if (!library_->allocate_surface(&surface_, &address, DWORD(width * height), 0)) {
        library_->process_detach();
        return false;
    }
    if (!library_->alloc_overlay(&overlay_)) {
        library_->destroy_surface(surface_);
        library_->process_detach();
        return false;
    }
    has_overlay_ = true;
    AtiOverlaySetup setup{surface_, DWORD(width), DWORD(height), DWORD(width), DWORD(height), 8};
    library_->setup_overlay(overlay_, &setup);
    library_->set_overlay_pos(overlay_, 0, 0);
    library_->set_overlay_on_off(overlay_, TRUE);
    descriptor.address = static_cast<uint8_t*>(address);
    pixel_buffer_init(&frame_, uint32_t(width), uint32_t(height), uint32_t(descriptor.pitch), address, false);
    return true;
}

PixelBuffer* Imageon100Driver::BeginDraw() {
    for (int i = 0; i < 32 && !library_->wait_complete(); ++i) {
    }
    void* address = nullptr;
    if (!library_->setup_memory_transfer(surface_, &address) || address == nullptr) return nullptr;
    frame_.pixels = static_cast<uint8_t*>(address);
    transfer_open_ = true;
    return &frame_;
}

void Imageon100Driver::EndDraw(uint32_t) {
    if (!transfer_open_) return;
    library_->terminate_memory_transfer(surface_);
    transfer_open_ = false;
}

void Imageon100Driver::Resume(int32_t) {
    if (has_overlay_) library_->set_overlay_on_off(overlay_, TRUE);
}

void Imageon100Driver::Suspend(int32_t) {
    EndDraw(0);
    if (has_overlay_) library_->set_overlay_on_off(overlay_, FALSE);
}

// ---- MediaQ: a frame buffer found by another driver, slow to write ----

bool MediaQDriver::Detect(VideoDescriptor* detection) {
    uintptr_t address = reinterpret_cast<uintptr_t>(detection->address);
    uint64_t bytes = uint64_t(uint32_t(detection->pitch)) * uint32_t(detection->height);
    if (address == 0 || address % 0x80000 < 0x42000 || bytes > 0x40000) {
        display_log("MediaQ: not a MediaQ [1]");
        return false;
    }
    // Wait for a fresh millisecond, so the measurement starts on its edge.
    uint32_t before = timer_now_ms();
    wait_until([](const void* start) { return timer_now_ms() != *static_cast<const uint32_t*>(start); }, &before);
    uint32_t start = timer_now_ms();
    std::memset(detection->address, 0, size_t(bytes));
    uint32_t elapsed = timer_now_ms() - start;
    display_log("MediaQ: benchmarked %d ms", elapsed);
    if (elapsed < 14) {
        display_log("MediaQ: not a MediaQ [3]");
        return false;
    }
    display_log("MediaQ: detected MQ1100 or above");
    return true;
}

bool MediaQDriver::Initialize(HWND window, const DisplayParameters*, const VideoDescriptor* detection) {
    if (!window_system().is_window(window)) return false;
    take_detection(detection);
    return true;
}

void reset_driver_probes() {
    reset_video_probes();
    reset_lcd_probes();
}

}  // namespace display
