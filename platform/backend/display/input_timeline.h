// The input timeline: the device's input for a headless run, read from the file named
// by ZRK_INPUT. One event per line, "TIME COMMAND ARGUMENTS", TIME in milliseconds of
// device time (GetTickCount; 0 at start under ZRK_CLOCK=virtual), never going back.
// Blank lines and lines starting with '#' are skipped. Commands:
//   tap X Y               stylus down and up at the screen point
//   down X Y | move X Y | up X Y
//   drag X1 Y1 X2 Y2 [MS] stylus down, moves in 10 steps, up MS later (default 100)
//   key NAME              a key pressed and released; keydown NAME / keyup NAME
//   text "TEXT"           each character typed (\" and \\ inside the quotes)
//   menu ID               the menu-bar command ID of the active window
//   ok | close            the caption's OK or close button of the active window
//   screenshot PATH       the screen saved as a BMP file
//   end                   the run ends
// A key NAME is a letter or digit, a virtual key number (decimal or 0x hex), or one of
// left right up down enter action escape space backspace tab home end softleft softright
// talk app1..app6 f1..f12.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/backend/display/display_backend.h"

namespace platform::display {

struct TimedEvent {
  uint64_t time_ms = 0;
  InputEvent event;
};

// Parses a timeline's text. False, with error "line N: why", on the first bad line.
bool parse_input_timeline(const std::string& text, std::vector<TimedEvent>& events, std::string& error);

// The virtual key of a key name, or -1.
int key_from_name(const std::string& name);

}  // namespace platform::display
