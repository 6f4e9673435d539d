// The runtime's main message loop, the translate-and-dispatch step with accelerators and
// the end-of-program message, the built-ins that pump messages, the default GUI font and
// the colour replies of forms and controls.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct ProgramContext;

// Posted to the thread (window 0) or to a program's first form with the ProgramContext in
// lParam: ends that program wherever it is taken.
constexpr uint32_t kEndProgramMessage = 0x8001;

// Set once the program list became empty in the main loop or a modal loop.
extern uint8_t quit_flag;

// Runs until the last program has ended; returns at once when none is loaded.
void run_message_loop();
// One message through the accelerators of its window's record, translation and dispatch;
// an end-of-program message then ends its program.
void translate_and_dispatch(MSG* message);
// Ends the program an end-of-program message names (lParam); nothing for one that is not
// loaded. A program that is running ends once its outermost call has returned.
void end_program_of_message(LPARAM program);
// Takes one pending message and dispatches it: 1, or 0 when the queue was empty.
int32_t pump_one_message();
// Posts the end-of-program message for program to window (0: to the thread).
void post_end_of_program(HANDLE window, ProgramContext* program);

// The default GUI font, already given to the window (WM_SETFONT).
HFONT create_default_font(HWND window);

// The text and back colour of the window's record (0 and 0 without one).
struct WindowColours {
  COLORREF text;
  COLORREF back;
};
WindowColours find_window_colours(HWND window);
// The reply to WM_CTLCOLOR* (307-312) at window: the colours of the child in lParam.
LRESULT colour_reply(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Deletes the brush the colour replies keep for the window.
void forget_colour_brush(HWND window);

void builtin_processmessages();
void builtin_handlemessage();
void builtin_controltoclipboard();
