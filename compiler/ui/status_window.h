// The compile status window: phase texts and progress while a program compiles, passed on
// to the loader program's UPDATE procedure: a small topmost window in the lower right
// corner with the phase text and a progress bar that advances in tenths.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct ProgramContext;

// What the window shows and how often it was invalidated.
struct StatusDisplay {
  HWND window;              // null when none
  uint8_t open;             // the window exists (opened while the display is enabled)
  uint8_t visible;
  char16_t* text;           // the phase text, owned; null before the first one
  uint8_t text_changed;     // the next paint redraws the whole window with an empty bar
  int32_t position;
  int32_t total;
  int32_t step;             // 0 before any progress, 1 at the start, 11 at the end
  uint32_t full_repaints;   // whole window invalidated (a new text)
  uint32_t bar_repaints;    // only the bar's inner rectangle invalidated
};
const StatusDisplay& status_display();

// The loader program ("LOAD.ZRK") while one is active, else null. It receives
// UPDATE(1, file, 0, 0) from the driver, UPDATE(3, text, position, total) per report and
// UPDATE(2, 0, 0, 0) when the window closes, which also ends it.
extern ProgramContext* loader_program;

// What the window needs of the GUI library, which lies above the compiler; filled at
// start-up. While null the window has the system font and lets no message through.
struct StatusWindowServices {
  HFONT (*create_default_font)(HWND window);
  // Takes at most one pending window message and dispatches it.
  void (*let_one_message_through)();
};
extern StatusWindowServices status_window_services;

void status_window_open();
// text may be null (progress only); position of total.
void status_update(const char* text, int32_t position, int32_t total);
// Closes the window, then tells the loader program and ends it.
void status_window_close();
// The window procedure: paints the text and the bar.
LRESULT status_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Calls the loader program's UPDATE with kind, text (null: the number 0) and two numbers;
// nothing when there is no loader or it has no UPDATE.
void status_loader_update(double kind, const char* text, int32_t position, int32_t total);

// The progress step of position out of total, as the bar counts it: 0 for a total of 0,
// else 1 - trunc(position / total * -10) in single precision.
int32_t status_progress_step(int32_t position, int32_t total);
// Pixels of the bar filled at step for an update rectangle of that width (right - left + 1);
// 0 when total is not positive.
int32_t status_bar_fill_width(int32_t rectangle_width, int32_t step, int32_t total);
