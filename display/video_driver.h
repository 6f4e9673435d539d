// Video drivers: each gives the display one 16-bit frame per frame and shows it. The
// interface, the factory, the drivers of the game API and the built-in frame buffers,
// and the two wrappers (rotation, slow frame buffers).
#pragma once

#include <cstdint>

#include "display/device_services.h"
#include "display/display.h"
#include "display/geometry.h"
#include "display/pixel_buffer.h"

namespace display {

// What a driver (or the detection) found: the frame's shape, orientation 0-3 (4: none
// yet), swap effect (0 none, 1 discard, 2 keep) and the frame-buffer address (null when
// none is known).
struct VideoDescriptor {
    int32_t width;
    int32_t height;
    int32_t bits_per_pixel;
    int32_t pitch;
    int32_t orientation;
    int32_t swap_effect;
    uint8_t* address;
};
static_assert(sizeof(VideoDescriptor) == 28, "a descriptor is seven 32-bit values");

enum DriverId : int32_t {
    driver_gdi = 1,
    driver_direct = 2,
    driver_gapi = 3,
    driver_strongarm = 4,
    driver_xscale = 5,
    driver_imageon = 6,
    driver_mediaq = 7,
    driver_vga = 8,
};

class VideoDriver {
 public:
    VideoDriver() = default;
    VideoDriver(const VideoDriver&) = delete;
    VideoDriver& operator=(const VideoDriver&) = delete;

    virtual void Resume(int32_t) {}
    virtual void Suspend(int32_t) {}
    virtual void Invalidate(int32_t, int32_t) {}
    virtual ~VideoDriver() = default;
    virtual bool Initialize(HWND window, const DisplayParameters* parameters, const VideoDescriptor* detection) = 0;
    // The frame to draw into, or null.
    virtual PixelBuffer* BeginDraw() = 0;
    // Shows the frame; flags bit 0: after waiting for the panel's refresh.
    virtual void EndDraw(uint32_t flags) = 0;
    // The part of the screen the next EndDraw must send.
    virtual void SetUpdateRect(const Rect& rect) = 0;
    virtual void WaitSync() = 0;

    VideoDescriptor descriptor{0, 0, 0, 0, 4, 0, nullptr};
};

// The driver of an id (DriverId), or null for other ids or when out of memory.
VideoDriver* CreateDriver(int32_t id);

// The window the drivers draw for (set by the display before it picks a driver).
HWND display_window();
void set_display_window(HWND window);

// Device model from the OEM string: 1 iPAQ H3800, 2 P6C, 3 Typhoon, 4-7 Toshiba e310,
// e330, e740, e750, 8 MotoQ, 9 SGH-i607; 0 for any other. Read once.
int32_t device_model();
// The same for a given OEM string.
int32_t device_model_of(const char16_t* oem);
// 1 StrongARM, 2 XScale, 0 other: the processor's ID register read in kernel mode. Read once.
int32_t processor_probe();
// Physical memory mapped into the program (null on failure); unmap_physical releases it.
uint8_t* map_physical(uint32_t address, uint32_t size, bool cached);
void unmap_physical(uint8_t* address);

// Draws into a DIB and copies the update rectangle to the window with BitBlt: needs no
// knowledge of the hardware, so it is always there to fall back on.
class GDIDriver final : public VideoDriver {
 public:
    ~GDIDriver() override;
    static bool Detect(VideoDescriptor* detection);
    bool Initialize(HWND window, const DisplayParameters* parameters, const VideoDescriptor* detection) override;
    PixelBuffer* BeginDraw() override;
    void EndDraw(uint32_t flags) override;
    void SetUpdateRect(const Rect& rect) override;
    void WaitSync() override {}

 private:
    HWND window_ = nullptr;
    HDC window_dc_ = nullptr;
    DibBuffer* back_buffer_ = nullptr;
    Rect update_{0, 0, 0, 0};  // x, y, width, height
};

// The frame of a known frame-buffer address: a buffer that does not own its pixels.
class FrameBufferDriver : public VideoDriver {
 public:
    PixelBuffer* BeginDraw() override;
    void EndDraw(uint32_t) override {}
    void SetUpdateRect(const Rect&) override {}
    void WaitSync() override {}

 protected:
    // Descriptor copied from the detection, swap effect 0, frame over its address.
    void take_detection(const VideoDescriptor* detection);
    PixelBuffer frame_;
};

class GapiDriver final : public VideoDriver {
 public:
    ~GapiDriver() override;
    static bool Detect(VideoDescriptor* detection);
    bool Initialize(HWND window, const DisplayParameters* parameters, const VideoDescriptor* detection) override;
    PixelBuffer* BeginDraw() override;
    void EndDraw(uint32_t flags) override;
    void SetUpdateRect(const Rect& rect) override;
    void WaitSync() override {}
    void Resume(int32_t) override;
    void Suspend(int32_t) override;

 private:
    PixelBuffer frame_;
    GxEntryPoints* gx_ = nullptr;
    int32_t offset_ = 0;
    bool direct_ = false;
};

class DriverVGA final : public FrameBufferDriver {
 public:
    static bool Detect(VideoDescriptor* detection);
    bool Initialize(HWND window, const DisplayParameters* parameters, const VideoDescriptor* detection) override;
};

class DriverDirect final : public FrameBufferDriver {
 public:
    DriverDirect();
    static bool Detect(VideoDescriptor* detection);
    bool Initialize(HWND window, const DisplayParameters* parameters, const VideoDescriptor* detection) override;
    PixelBuffer* BeginDraw() override;
    void EndDraw(uint32_t flags) override;
    void SetUpdateRect(const Rect& rect) override;

    // gxdma.dll, loaded once by the first driver made.
    struct Dma;

 private:
    Dma* dma_ = nullptr;
    Rect update_{0, 0, 0, 0};  // x, y, width, height
};

// What an LCD controller probe found: the registers stay mapped while it is usable.
struct LcdProbe {
    uint8_t* registers;
    uint32_t frame_base;
    int32_t width;
    int32_t height;
    bool flag_a;
    bool flag_b;
    int32_t bits_per_pixel;
    int32_t palette_bytes;
    int32_t pitch;
};
// The probe of each controller, run once (null registers: no usable 16-bit LCD).
LcdProbe* strongarm_probe();
LcdProbe* xscale_probe();

class LcdDriver : public FrameBufferDriver {
 public:
    explicit LcdDriver(LcdProbe* probe, bool xscale) : probe_(probe), xscale_(xscale) {}
    // Fills the detection from the probe: the frame mapped, orientation 0.
    static bool Detect(VideoDescriptor* detection, LcdProbe* probe, const char* name);
    bool Initialize(HWND window, const DisplayParameters* parameters, const VideoDescriptor* detection) override;
    void WaitSync() override;

 private:
    LcdProbe* probe_;
    bool xscale_;
};

class StrongARMDriver final : public LcdDriver {
 public:
    StrongARMDriver() : LcdDriver(strongarm_probe(), false) {}
    static bool Detect(VideoDescriptor* detection);
};

class XScaleDriver final : public LcdDriver {
 public:
    XScaleDriver() : LcdDriver(xscale_probe(), true) {}
    static bool Detect(VideoDescriptor* detection);
};

class Imageon100Driver final : public VideoDriver {
 public:
    Imageon100Driver();
    ~Imageon100Driver() override;
    static bool Detect(VideoDescriptor* detection);
    bool Initialize(HWND window, const DisplayParameters* parameters, const VideoDescriptor* detection) override;
    PixelBuffer* BeginDraw() override;
    void EndDraw(uint32_t flags) override;
    void SetUpdateRect(const Rect&) override {}
    void WaitSync() override {}
    void Resume(int32_t) override;
    void Suspend(int32_t) override;

 private:
    struct Library;
    Library* library_;
    PixelBuffer frame_;
    DWORD surface_ = 0;
    DWORD overlay_ = 0;
    bool has_overlay_ = false;
    bool transfer_open_ = false;
};

class MediaQDriver final : public FrameBufferDriver {
 public:
    static bool Detect(VideoDescriptor* detection);
    bool Initialize(HWND window, const DisplayParameters* parameters, const VideoDescriptor* detection) override;
};

// Draws into a back buffer of the requested orientation; each frame the changed part is
// turned in 16x16 tiles into the inner driver's frame. Owns the inner driver.
class RotationDriver final : public VideoDriver {
 public:
    explicit RotationDriver(VideoDriver* inner) : inner_(inner) {}
    ~RotationDriver() override;
    bool Initialize(HWND window, const DisplayParameters* parameters, const VideoDescriptor* inner) override;
    PixelBuffer* BeginDraw() override;
    void EndDraw(uint32_t flags) override;
    void SetUpdateRect(const Rect& rect) override;
    void WaitSync() override;
    void Resume(int32_t arg) override { inner_->Resume(arg); }
    void Suspend(int32_t arg) override { inner_->Suspend(arg); }
    void Invalidate(int32_t a, int32_t b) override { inner_->Invalidate(a, b); }

    int32_t turn() const { return turn_; }
    // The update rectangle in the inner frame, rounded out to whole tiles.
    Rect tile_rect() const { return update_; }

 private:
    using CopyOperation = void (*)(const RotationDriver& driver, PixelBuffer* frame);
    static void copy_rows(const RotationDriver& driver, PixelBuffer* frame);
    static void copy_tiles_by_columns(const RotationDriver& driver, PixelBuffer* frame);
    static void copy_tiles_by_rows(const RotationDriver& driver, PixelBuffer* frame);

    VideoDriver* inner_;
    PixelBuffer* back_buffer_ = nullptr;
    PixelBuffer* inner_frame_ = nullptr;
    int32_t turn_ = 0;
    CopyOperation plain_copy_ = copy_rows;
    CopyOperation synced_copy_ = copy_rows;
    Rect update_{0, 0, 0, 0};
};

// Draws into ordinary memory; each frame only the 32-bit words that changed since the
// frame before are written to the slow frame buffer behind it. Owns the inner driver.
class SlowFB final : public VideoDriver {
 public:
    explicit SlowFB(VideoDriver* inner) : inner_(inner) {}
    ~SlowFB() override;
    bool Initialize(HWND window, const DisplayParameters* parameters, const VideoDescriptor* detection) override;
    PixelBuffer* BeginDraw() override;
    void EndDraw(uint32_t flags) override;
    void SetUpdateRect(const Rect& rect) override;
    void WaitSync() override { inner_->WaitSync(); }
    void Resume(int32_t) override { full_copy_ = true; }
    void Suspend(int32_t) override { full_copy_ = true; }
    void Invalidate(int32_t, int32_t) override { full_copy_ = true; }

    bool buffered() const { return buffered_; }

 private:
    bool buffered_ = false;
    VideoDriver* inner_;
    bool full_copy_ = false;
    PixelBuffer* current_ = nullptr;
    PixelBuffer* buffer_a_ = nullptr;
    PixelBuffer* buffer_b_ = nullptr;
    uint32_t band_blocks_ = 0;
    uint32_t band_offset_ = 0;
};

// Test hook: forgets the device model, the processor probe and the LCD probes.
void reset_driver_probes();

}  // namespace display
