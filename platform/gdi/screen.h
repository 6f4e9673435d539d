// The device screen: one RGB565 frame of the device profile's size (ZRK_SCREEN), composed
// from the windows and shown by the display backend; tests read it and save it as BMP.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct ScreenFrame {
  const uint16_t* pixels = nullptr;  // rows top-down, width pixels each
  int width = 0;
  int height = 0;
};

// The screen as it looks now: the windows are composed into it first when something
// changed. The pixels stay valid for the process; read them under no other call.
ScreenFrame screen_frame();

// Writes RGB565 pixels (rows top-down) as a 24-bit BMP file (each 5- or 6-bit channel
// widened by repeating its high bits). False, with error set, when the file cannot be
// written.
bool save_bmp_565(const std::string& path, const uint16_t* pixels, int width, int height, std::string* error);
// Saves screen_frame() the same way.
bool save_screen_bmp(const std::string& path, std::string* error);

}  // namespace platform
