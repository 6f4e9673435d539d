// The display a window Canvas shows its frames through: a back buffer per frame, then
// the changed part sent to the screen.
#pragma once

#include <cstdint>

#include "display/geometry.h"
#include "display/pixel_buffer.h"

namespace display {

// Orientation 0-3 quarter turns from the panel's own (4: any); swap effect 1 discards
// the back buffer at each swap, 2 keeps it.
struct DisplayParameters {
    int32_t width;
    int32_t height;
    int32_t orientation;
    int32_t swap_effect;
};
static_assert(sizeof(DisplayParameters) == 16, "DisplayParameters is a 16-byte record");

class Display {
 public:
    // A display for window, with parameters updated to what it settled on; null when no
    // video driver serves the window.
    static Display* Create(HWND window, DisplayParameters* parameters);

    Display() = default;
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;
    virtual ~Display() = default;

    // True when a frame is open and drawing may begin.
    virtual bool BeginScene() = 0;
    // The frame's pixels; null outside a frame.
    virtual PixelBuffer* GetBackBuffer() = 0;
    virtual DisplayParameters GetParameters() = 0;
    // The part of the screen the next swap sends; null for all of it.
    virtual void Update(const Rect* rect) = 0;
    // Shows the frame and closes it; false when none was open.
    virtual bool Swap(uint32_t flags) = 0;
};

// How Display::Create makes displays: the display library's own unless replaced (tests);
// null puts it back.
using DisplayFactory = Display* (*)(HWND window, DisplayParameters* parameters);
void set_display_factory(DisplayFactory factory);

}  // namespace display
