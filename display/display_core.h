// The display library's core: which video drivers the device supports (detected once),
// the display modes they allow, and the display bound to a window that opens, copies and
// shows one frame at a time.
#pragma once

#include <cstdint>

#include "display/display.h"
#include "display/video_driver.h"

namespace display {

struct VideoMode {
    int32_t width;
    int32_t height;
    int32_t orientation;
};

// What detection found: the screen as the last driver that recognised it described it,
// the modes, the driver ids in the order found, and each driver's own detection record
// (so that a fallback never starts from another driver's geometry).
struct VideoDetect {
    VideoDescriptor screen;
    int32_t mode_count;
    VideoMode modes[4];
    int32_t driver_count;
    int32_t drivers[5];
    VideoDescriptor records[9];
};

// Built on first use.
const VideoDetect& video_detect();

int32_t display_mode_count();
// False when index is out of range or mode is null.
bool display_mode(int32_t index, VideoMode* mode);

class DisplayDevice {
 public:
    explicit DisplayDevice(HWND window) : window(window) {}
    DisplayDevice(const DisplayDevice&) = delete;
    DisplayDevice& operator=(const DisplayDevice&) = delete;

    virtual void Resume(int32_t arg);
    virtual void Suspend(int32_t arg);
    virtual void Invalidate(int32_t a, int32_t b);
    virtual ~DisplayDevice();
    // Picks a driver (turned when the orientation asks for it) and settles parameters.
    virtual bool Init(const DisplayParameters* requested);
    virtual VideoDriver* InitializeDriver(const DisplayParameters* requested) = 0;

    bool BeginScene();
    PixelBuffer* GetBackBuffer() const;
    void Update(const Rect* rect);
    bool Swap(uint32_t flags);

    HWND window;
    DisplayParameters parameters{0, 0, 0, 1};
    VideoDriver* driver = nullptr;
    PixelBuffer* back_buffer = nullptr;
    // The driver writes the panel itself (not through a window): the screen is shown it.
    bool on_panel = false;
    PixelBuffer* frame = nullptr;
    Rect update_rect{0, 0, 0, 0};
    uint8_t full_rows = 0;
    uint8_t active = 1;
    void* further = nullptr;
};

class WindowDisplay final : public DisplayDevice {
 public:
    explicit WindowDisplay(HWND window) : DisplayDevice(window) {}
    ~WindowDisplay() override;
    void Resume(int32_t arg) override;
    void Suspend(int32_t arg) override;
    bool Init(const DisplayParameters* requested) override;
    VideoDriver* InitializeDriver(const DisplayParameters* requested) override;
};

// The library's Display::Create: null when no driver serves the window or the
// orientation cannot be had; parameters then hold what the display settled on.
Display* create_window_display(HWND window, DisplayParameters* parameters);

// Test hook: detection runs again at the next use, with every probe and holder forgotten.
void reset_video_detect();

}  // namespace display
