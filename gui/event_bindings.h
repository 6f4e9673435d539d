// Event bindings: a script binds a window message, a command notification or a control
// notification to one of its procedures (ADDEVENT); the window procedures offer each
// message to the bindings after the window's own procedure declined it.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct ProgramContext;
struct InstructionNode;

struct EventBinding {
  ProgramContext* program;  // current when the binding was added; the handler runs there
  HWND window;              // command bindings: the control; notify bindings: the notifier
  int32_t code;             // message, or the command's notification code, or NMHDR code
  int32_t id;               // control id, 0 = any
  InstructionNode* handler;
  EventBinding* next;
};
static_assert(sizeof(EventBinding) == 24, "a binding is 24 bytes");

// The global list, newest first.
extern EventBinding* event_bindings;

// Adds a binding at the head of the list; null when memory runs out.
EventBinding* add_event_binding(ProgramContext* program, HWND window, int32_t code, int32_t id,
                                InstructionNode* handler);
// The first matching binding's result, or 1 when none matches.
int32_t dispatch_window_event(HWND window, uint32_t message, WPARAM wparam, LPARAM lparam);
// Frees every binding of the window; 0 frees all.
void remove_events_of_window(HWND window);
// Frees every binding of the program; null frees all.
void remove_events_of_program(ProgramContext* program);

// The result of a window's own procedure offered to the bindings: a result that is not 0
// (not handled) is replaced by the bindings' when any exist.
inline int32_t offer_to_bindings(int32_t result, HWND window, uint32_t message, WPARAM wparam, LPARAM lparam) {
  if (result != 0 && event_bindings) return dispatch_window_event(window, message, wparam, lparam);
  return result;
}

void builtin_addevent();
void builtin_clearevents();
