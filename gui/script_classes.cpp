// registerclass and unregisterclass, and the window procedure of script classes.
#include "gui/script_classes.h"

#include "foundation/conversion.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "gui/forms.h"
#include "gui/event_bindings.h"
#include "gui/script_calls.h"
#include "vm/builtin_arguments.h"
#include "vm/runtime_globals.h"

WNDCLASSW* register_script_class(const char16_t* class_name) {
  auto* block = static_cast<WNDCLASSW*>(crt::calloc(1, sizeof(WNDCLASSW)));
  if (!block) return nullptr;
  block->style = script_window_class_style();
  block->lpfnWndProc = script_class_window_proc;
  block->hInstance = runtime_instance;
  block->hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  block->lpszClassName = class_name;
  RegisterClassW(block);
  return block;
}

// The record's procedure slot holds a script procedure, run by the control's own window
// procedure; it is never called here as native code.
LRESULT script_class_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  last_window_result = 1;
  int32_t result = 1;
  ProgramContext* owner = nullptr;
  FormRecord* form = find_form_record(window, &owner);
  WindowClassEntry* entry = form && form->class_name ? window_class_find(form->class_name) : nullptr;
  if (entry && entry->value) {
    auto* procedure = platform::pointer_from<InstructionNode>(entry->value);
    result = run_script_procedure(owner, procedure, window_number(window), static_cast<int32_t>(message),
                                  static_cast<int32_t>(wparam), static_cast<int32_t>(lparam));
    last_window_result = result;
  }
  if (result != 0 && event_bindings) {
    result = dispatch_window_event(window, message, wparam, lparam);
    last_window_result = result;
  }
  if (result == 1) return DefWindowProcW(window, message, wparam, lparam);
  return 0;
}

void builtin_registerclass() {
  auto number = static_cast<uint32_t>(pop_integer());
  const char* class_name = pop_narrow_text();
  InstructionNode* procedure = script_procedure_from_number(current_program, number, "registerclass");
  if (number != 0 && !procedure) return;
  // The block and its name live as long as the runtime: the class may outlive the program.
  register_script_class(to_wide(class_name));
  window_class_add(class_name, platform::address_of(procedure));
}

void builtin_unregisterclass() {
  const char* class_name = pop_narrow_text();
  char16_t* wide = to_wide(class_name);
  UnregisterClassW(wide, runtime_instance);
  crt::free(wide);
  window_class_remove(class_name);
}
