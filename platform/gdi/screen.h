// The device screen: one RGB565 frame of the device profile's size (ZRK_SCREEN), composed
// from the windows and shown by the display backend; tests read it and save it as BMP.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// An RGB565 pixel as 0xRRGGBB, each channel widened by repeating its high bits (so 565
// to 888 and back is exact), and the way back.
constexpr uint32_t rgb888_from_565(uint16_t pixel) {
  uint32_t red = (pixel >> 11) & 31, green = (pixel >> 5) & 63, blue = pixel & 31;
  return (((red << 3) | (red >> 2)) << 16) | (((green << 2) | (green >> 4)) << 8) | ((blue << 3) | (blue >> 2));
}
constexpr uint16_t rgb565_from_888(uint32_t colour) {
  return uint16_t((((colour >> 16) & 0xFF) >> 3) << 11 | (((colour >> 8) & 0xFF) >> 2) << 5 | ((colour & 0xFF) >> 3));
}

struct ScreenFrame {
  const uint16_t* pixels = nullptr;  // rows top-down, width pixels each
  int width = 0;
  int height = 0;
};

// The screen as it looks now: the windows are composed into it first when something
// changed. The pixels stay valid for the process; read them under no other call.
ScreenFrame screen_frame();
// The screen's size alone (pixels null): nothing is composed, and the frame's pixels are
// not made before something draws or shows them.
ScreenFrame screen_size();

// Writes RGB565 pixels (rows top-down) as a 24-bit BMP file (each 5- or 6-bit channel
// widened by repeating its high bits). False, with error set, when the file cannot be
// written.
bool save_bmp_565(const std::string& path, const uint16_t* pixels, int width, int height, std::string* error);
// Saves screen_frame() the same way.
bool save_screen_bmp(const std::string& path, std::string* error);

}  // namespace platform
