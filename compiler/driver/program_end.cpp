// Program end: windows, variables, value stack, class list, instructions, procedure
// table, event bindings and owned allocations of one program are released in a fixed
// order, and the program leaves the list of programs.
#include "compiler/driver/program_end.h"

#include <string>

#include "foundation/script_lock.h"
#include "foundation/compile_messages.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/string_helpers.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/time.h"
#include "vm/builtin_registry.h"
#include "vm/game_hooks.h"
#include "vm/instruction_list.h"
#include "vm/procedure_call.h"
#include "vm/script_threads.h"

ProgramEndHooks program_end_hooks = {};

namespace {

// Another live program still reads this class list (a program run in its caller's
// scope starts from the caller's list): it is not this program's to free.
bool class_list_shared(const ProgramContext* program) {
  if (!program->classes) return false;
  for (const ProgramContext* other = program_list; other; other = other->next) {
    if (other != program && other->classes == program->classes) return true;
  }
  return false;
}

void close_forms(ProgramContext* program) {
  program->closing_forms = 1;
  FormRecord* form = program->forms;
  while (form) {
    if (form->keep_open) {
      form = form->next;
      continue;
    }
    HANDLE window = form->window;
    ProgramContext* caller = current_program;
    current_program = program;
    destroy_app_windows(static_cast<HWND>(window));
    current_program = caller;
    // Each pass removes one record; the walk starts over at the head.
    if (find_form_record(window) == form) remove_form_record(window);
    form = program->forms;
  }
  program->closing_forms = 0;
}

// Mode 0 releases the program's own globals, cached scopes and stack; mode -3 only its
// cached scopes; other modes share their caller's. Whether the scope that was current
// went with them.
bool release_variables(ProgramContext* program, Variable* current) {
  bool current_released = false;
  if (program->run_mode != 0 && program->run_mode != -3) return false;
  for (LocalScopeCacheEntry* entry = program->scope_cache; entry; entry = entry->next) {
    if (entry->scope == current) current_released = true;
  }
  if (program->run_mode == 0) {
    if (program->globals == current) current_released = true;
    variable_list_release(program, program->globals, true);
    variable_list_free(program, program->globals);
    program->globals = nullptr;
  }
  release_local_scopes(program);
  if (program->run_mode == 0) stack_free_all(program);
  return current_released;
}

void free_instructions(ProgramContext* program) {
  InstructionNode* last = program->code;
  if (!last) {
    last = program->first_instruction;
    while (last && last->next) last = last->next;
  }
  if (last && program->pool) free_instruction_list(program, last);
  program->code = nullptr;
  program->first_instruction = nullptr;
}

void log_end(const ProgramContext* program, DWORD start_ticks, DWORD end_ticks) {
  DWORD elapsed = end_ticks >= start_ticks ? end_ticks - start_ticks : start_ticks - end_ticks;
  char* milliseconds = number_to_grouped_text(static_cast<double>(elapsed));
  std::string line = std::string(program->name ? program->name : "") + " ended (" +
                     (milliseconds ? milliseconds : "0") + " ms)";
  crt::free(milliseconds);
  log_line(line.c_str());
  MEMORYSTATUS status{};
  status.dwLength = sizeof status;
  GlobalMemoryStatus(&status);
  char* available = number_to_grouped_text(static_cast<double>(status.dwAvailPhys));
  line = std::string("Available memory ") + (available ? available : "0") + " bytes";
  crt::free(available);
  log_line(line.c_str());
}

}  // namespace

void app_instance_end(ProgramContext* program) {
  if (!program || program->run_mode == kRunModeKeep || program->ending) return;
  program->ending = 1;
  // Its threads may be running: they stop at the lock until the end lets them see it.
  ScriptLockHold script_lock_held;
  Variable* saved_scope = current_scope;
  DWORD now = GetTickCount();

  const ProgramEndHooks& hooks = program_end_hooks;
  if (hooks.owns_game_display && hooks.owns_game_display(program)) {
    shut_game_display();
    if (hooks.clear_game_display_owner) hooks.clear_game_display_owner();
  }
  close_forms(program);
  // Its threads run its code: their handles go with it.
  close_program_threads(program);
  bool scope_released = release_variables(program, saved_scope);

  // The foundation frees the class list only when the parent shares none of it; a parent
  // may be gone already, so the decision is made here against the live programs.
  if (class_list_shared(program)) program->classes = nullptr;
  else name_nodes_free(&program->classes);
  program->parent = nullptr;

  free_instructions(program);
  auto count = static_cast<int32_t>(program->procedure_count);
  free_record_array(reinterpret_cast<void**>(program->procedures), &count);
  program->procedure_count = 0;

  if (hooks.remove_program_events) hooks.remove_program_events(program);
  if (!program->quiet_end && program->run_mode == 0) log_end(program, program->start_ticks, now);
  // Pool, list unlinking, heap (mode 0), owned allocations, names and the record.
  program_context_release(program);
  current_scope = scope_released ? nullptr : saved_scope;
}

int32_t destroy_app_windows(HWND window) {
  FormRecord* form = find_form_record(window);
  if (!form) return 0;
  const ProgramEndHooks& hooks = program_end_hooks;
  if (hooks.release_form_extras) hooks.release_form_extras(form);
  BOOL destroyed = hooks.destroy_window ? hooks.destroy_window(window) : TRUE;
  remove_form_record(window);
  if (hooks.remove_window_events) hooks.remove_window_events(window);
  return destroyed;
}
