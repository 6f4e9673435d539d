// Ending a program: everything it owns is released and it leaves the list of programs.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct FormRecord;
struct ProgramContext;

// Ends the program (a kept program, run mode -4, is left alone): its forms, its variables
// and value stack when they are its own, its class list unless another live program
// shares it, its instructions, pool and procedure table, its owned allocations and heap.
// The pointer is invalid afterwards.
void app_instance_end(ProgramContext* program);

// Destroys the window when a program owns a form with it; the result of destroying it, or
// 0 when no program owns such a form.
int32_t destroy_app_windows(HWND window);

// The parts of a program's end that belong to the window system, the GUI library and the
// game engine. Each is null until its subsystem installs it; a null hook is skipped
// (destroy_window then counts as done).
struct ProgramEndHooks {
  BOOL (*destroy_window)(HWND window);
  // Destroys the form's bar window and frees its caller-data and owned blocks.
  void (*release_form_extras)(FormRecord* form);
  void (*remove_window_events)(HWND window);
  void (*remove_program_events)(ProgramContext* program);
  // Whether the program opened the game display, and forgetting that it did.
  bool (*owns_game_display)(ProgramContext* program);
  void (*clear_game_display_owner)();
};
extern ProgramEndHooks program_end_hooks;
