// Forms and dialogs: their window classes and window procedures, the form and dialog
// built-ins, the modal loop, and the wait for a key or tap used by games.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct FormRecord;
struct ProgramContext;

// The dialog shown by the innermost showmodal (0 outside) and the result that ends it.
extern HWND modal_dialog;
extern int32_t modal_result;
// Milliseconds waitforinput still waits: 0 = not waiting, 0xFFFFFFFF = without time-out.
extern uint32_t input_wait_ms;

// What the form window procedure needs of the game engine, which lies above this library;
// the engine fills it at start-up. Each entry may be null (no game engine: no game window).
struct FormGameHooks {
  // The game display's window, 0 when none.
  HWND (*game_window)();
  // A mouse message at the game window: the sprite under the pointer and the one it left
  // receive their events.
  void (*sprite_mouse_event)(HWND window, uint32_t message, LPARAM lparam);
  // The game window lost or regained the focus.
  void (*focus_lost)();
  void (*focus_gained)();
  // Sets the game's autodraw mode and gives the one it replaces.
  int32_t (*swap_autodraw_mode)(int32_t mode);
  // The game window was destroyed through destroywindow.
  void (*game_window_destroyed)();
};
extern FormGameHooks form_game_hooks;

// The class style of the classes scripts make: redrawn when sized, and double clicks when
// the script variable CS_DBLCLKS% is 1.
UINT script_window_class_style();

// Registers a form (dialog) class of that name with form_window_proc (dialog_window_proc)
// and gives the class block the record keeps (crt::malloc'd, with its own copy of the
// name). An existing class keeps its first registration.
WNDCLASSW* register_form_class(const char* class_name);
WNDCLASSW* register_dialog_class(const char* class_name);

LRESULT form_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT dialog_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// What goes with a form's window besides its record: the menu bar, the class block with
// its name, the 8-bit class name and the colour brush. Safe to run twice.
void release_form_extras(FormRecord* form);

void builtin_newform();
void builtin_newformex();
void builtin_newdlg();
void builtin_centerform();
void builtin_showmodal();
void builtin_waitforinput();
void builtin_setbackcolor();
void builtin_setfontcolor();
void builtin_destroywindow();
void builtin_showwindow();
