// The shared call of a window's script procedure and the conversions of script numbers
// to procedures.
#include "gui/script_calls.h"

#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "vm/procedure_call.h"
#include "vm/script_threads.h"

int32_t last_window_result = 1;

int32_t run_script_procedure(ProgramContext* program, InstructionNode* procedure, double target, int32_t message,
                             double first, double second) {
  // The machine binds the four values straight into a cached scope when it can.
  return call_script_handler(program, procedure, target, message, first, second);
}

int32_t call_window_script(HWND window, uint32_t message, WPARAM wparam, LPARAM lparam) {
  last_window_result = 1;
  ProgramContext* owner = nullptr;
  FormRecord* form = find_form_record(window, &owner);
  if (!form || !form->procedure) return 1;
  int32_t result = run_script_procedure(owner, form->procedure, window_number(window), static_cast<int32_t>(message),
                                        static_cast<int32_t>(wparam), static_cast<int32_t>(lparam));
  last_window_result = result;
  return result;
}

int32_t notify_window_created(HWND window) { return call_window_script(window, 1, 0, 0) == 0 ? 1 : 0; }

InstructionNode* script_procedure_from_number(ProgramContext* program, uint32_t number, const char* builtin_name) {
  if (number == 0) return nullptr;
  auto* procedure = platform::pointer_from<InstructionNode>(number);
  // Running anything else as a procedure would run arbitrary memory as code.
  if (is_program_procedure(program, procedure)) return procedure;
  runtime_error("%s: the handler is not a procedure of this program", builtin_name);
  return nullptr;
}
