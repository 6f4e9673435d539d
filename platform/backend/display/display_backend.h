// The display backends: what shows the device screen and where the device's input comes
// from. "headless" keeps the screen in memory; "x11" shows it in a desktop window and
// takes the mouse as the stylus and the keyboard as the device's keys. ZRK_DISPLAY
// chooses ("headless", "x11" or "x11:SCALE"); unset, it is x11 when DISPLAY is set.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::display {

enum class InputKind {
  StylusDown,    // x, y
  StylusMove,    // x, y
  StylusUp,      // x, y
  KeyDown,       // key (a virtual key)
  KeyUp,         // key
  Text,          // text: each character typed
  Menu,          // key: the id of a menu-bar command
  CaptionOk,     // the OK button of the active window's caption
  CaptionClose,  // the close button of the active window's caption
  Screenshot,    // path: the screen saved as BMP
  End,           // the run ends
  WindowClosed,  // the desktop window was closed: the run ends
};

struct InputEvent {
  InputKind kind = InputKind::End;
  int x = 0;
  int y = 0;
  int key = 0;
  std::u16string text;
  std::string path;
};

class DisplayBackend {
 public:
  virtual ~DisplayBackend() = default;
  // Shows a frame of RGB565 pixels (rows top-down).
  virtual void present(const uint16_t* pixels, int width, int height) = 0;
  // Adds the input that has arrived, without waiting.
  virtual void poll(std::vector<InputEvent>& events) = 0;
  // Waits up to milliseconds (real time) for input; a backend without input returns.
  virtual void wait(int milliseconds) = 0;
  // Whether input can come by itself (a person at a desktop).
  virtual bool interactive() const = 0;
  // What the display really shows, read back as RGB565 at the device's size; false when
  // the backend has nothing of its own (headless: the screen is the frame).
  virtual bool capture(std::vector<uint16_t>& pixels, int& width, int& height) {
    (void)pixels, (void)width, (void)height;
    return false;
  }
};

std::unique_ptr<DisplayBackend> open_headless_display();
// Null, with error set, when no X server answers.
std::unique_ptr<DisplayBackend> open_x11_display(int width, int height, int scale, std::string& error);

// The backend ZRK_DISPLAY asks for, for a screen of width x height. An explicit "x11"
// that cannot open is an error (null); the default falls back to headless quietly.
std::unique_ptr<DisplayBackend> open_configured_display(int width, int height, std::string& error);

}  // namespace platform::display
