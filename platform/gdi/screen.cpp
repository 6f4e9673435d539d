// The device screen's frame and BMP files of it.
#include "platform/gdi/screen.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/gdi/gdi_state.h"
#include "platform/kernel/system_info.h"

namespace platform {
namespace user {
void compose_screen_if_changed();
}

namespace {

struct ScreenBuffer {
  std::vector<uint16_t> pixels;
  int width = 0;
  int height = 0;
};

// Sized once, from the profile in force at the first use: the screen does not change
// size during a run.
ScreenBuffer& screen_buffer() {
  static ScreenBuffer* buffer = [] {
    auto* made = new ScreenBuffer;
    DeviceProfile profile = device_profile();
    made->width = profile.screen_width;
    made->height = profile.screen_height;
    return made;
  }();
  return *buffer;
}

// The screen with its pixels, white until drawn: made at the first use, as a run that
// never draws nor shows the screen (headless, a message box at most) needs none.
ScreenBuffer& screen_with_pixels() {
  ScreenBuffer& screen = screen_buffer();
  if (screen.pixels.empty()) screen.pixels.assign(size_t(screen.width) * screen.height, 0xFFFF);
  return screen;
}

void put_le(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

}  // namespace

namespace gdi {
Target screen_target() {
  ScreenBuffer& screen = screen_with_pixels();
  Target target;
  target.bits = reinterpret_cast<uint8_t*>(screen.pixels.data());
  target.width = screen.width;
  target.height = screen.height;
  target.stride = screen.width * 2;
  target.bit_count = 16;
  target.clip = {0, 0, screen.width, screen.height};
  return target;
}
}  // namespace gdi

ScreenFrame screen_frame() {
  std::lock_guard hold(gdi::gdi_lock());
  user::compose_screen_if_changed();
  ScreenBuffer& screen = screen_with_pixels();
  return {screen.pixels.data(), screen.width, screen.height};
}

ScreenFrame screen_size() {
  std::lock_guard hold(gdi::gdi_lock());
  ScreenBuffer& screen = screen_buffer();
  return {nullptr, screen.width, screen.height};
}

bool save_bmp_565(const std::string& path, const uint16_t* pixels, int width, int height, std::string* error) {
  int row_bytes = (width * 3 + 3) & ~3;
  std::vector<uint8_t> file;
  file.reserve(54 + size_t(row_bytes) * height);
  file.push_back('B');
  file.push_back('M');
  put_le(file, 54 + uint32_t(row_bytes) * height, 4);
  put_le(file, 0, 4);
  put_le(file, 54, 4);
  put_le(file, 40, 4);
  put_le(file, uint32_t(width), 4);
  put_le(file, uint32_t(height), 4);  // bottom-up rows
  put_le(file, 1, 2);
  put_le(file, 24, 2);
  put_le(file, 0, 4);
  put_le(file, uint32_t(row_bytes) * height, 4);
  put_le(file, 3780, 4);  // 96 dots per inch
  put_le(file, 3780, 4);
  put_le(file, 0, 4);
  put_le(file, 0, 4);
  for (int y = height - 1; y >= 0; --y) {
    const uint16_t* row = pixels + size_t(y) * width;
    for (int x = 0; x < width; ++x) {
      uint32_t colour = rgb888_from_565(row[x]);
      file.push_back(uint8_t(colour));
      file.push_back(uint8_t(colour >> 8));
      file.push_back(uint8_t(colour >> 16));
    }
    for (int pad = width * 3; pad < row_bytes; ++pad) file.push_back(0);
  }
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) {
    if (error) *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  written = std::fclose(out) == 0 && written;
  if (!written && error) *error = "cannot write " + path;
  return written;
}

bool save_screen_bmp(const std::string& path, std::string* error) {
  std::lock_guard hold(gdi::gdi_lock());
  ScreenFrame frame = screen_frame();
  return save_bmp_565(path, frame.pixels, frame.width, frame.height, error);
}

}  // namespace platform
