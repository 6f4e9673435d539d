// The application built-ins, delay, and the name lists of functions and variables.
#include "vm/applications.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "foundation/conversion.h"
#include "foundation/list_elements.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/script_lock.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/platform.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"
#include "vm/machine.h"

void (*pump_pending_messages)() = nullptr;
void (*post_application_end)(HANDLE window, ProgramContext* program) = nullptr;
void (*application_instance_end)(ProgramContext* program) = nullptr;

namespace {

std::mutex deferred_mutex;
std::vector<ProgramContext*> deferred_ends;

// Pops a handle; a non-zero one that names no loaded program is reported and gives null.
ProgramContext* pop_application(bool* given = nullptr) {
  ValueCell* cell = stack_pop(current_program);
  uint32_t address = static_cast<uint32_t>(truncate_to_int(cell_number(cell)));
  if (given) *given = address != 0;
  if (address == 0) return nullptr;
  auto* program = platform::pointer_from<ProgramContext>(address);
  if (!program_is_loaded(program)) {
    runtime_error("Invalid application handle 0x%08X", address);
    return nullptr;
  }
  return program;
}

// Pops a handle and pushes what read gives for it (0 for a bad handle).
template <typename Read>
void push_application_fact(Read read) {
  ProgramContext* program = pop_application();
  stack_push_number(current_program, program ? read(program) : 0.0);
}

}  // namespace

bool program_is_loaded(const ProgramContext* program) {
  if (!program) return false;
  for (const ProgramContext* entry = program_list; entry; entry = entry->next) {
    if (entry == program) return true;
  }
  return false;
}

namespace {

bool chain_runs(const CallFrame* innermost, const ProgramContext* program) {
  for (const CallFrame* frame = innermost; frame; frame = frame->caller) {
    if (frame->program == program || frame->saved_program == program) return true;
  }
  return false;
}

}  // namespace

// The calling thread's own calls only: the current program may be what another thread,
// now waiting, left when this one took the script lock (the message loop's case).
bool program_is_running(const ProgramContext* program) {
  return program && chain_runs(current_frame, program);
}

bool program_runs_on_a_waiting_thread(const ProgramContext* program) {
  for (const ScriptThreadState* state = script_threads_waiting(); state; state = state->next_waiting) {
    if (state->ended_with_its_program) continue;
    if (chain_runs(static_cast<const CallFrame*>(state->machine[0]), program)) return true;
  }
  return false;
}

void end_application(ProgramContext* program) {
  // Its end is under way already (an event or message of that end asks again).
  if (program->ending) return;
  if (!program_is_running(program)) {
    if (application_instance_end) application_instance_end(program);
    return;
  }
  // Freeing it now would free the code the loop is executing: its calls end first.
  {
    std::lock_guard<std::mutex> lock(deferred_mutex);
    for (ProgramContext* pending : deferred_ends) {
      if (pending == program) return;
    }
    deferred_ends.push_back(program);
  }
  exiting_program = program;
  if (program == current_program) stop_flag = 1;
}

bool application_end_pending(const ProgramContext* program) {
  if (!program) return false;
  std::lock_guard<std::mutex> lock(deferred_mutex);
  return std::find(deferred_ends.begin(), deferred_ends.end(), program) != deferred_ends.end();
}

bool application_end_if_deferred(ProgramContext* program) {
  {
    std::lock_guard<std::mutex> lock(deferred_mutex);
    auto found = std::find(deferred_ends.begin(), deferred_ends.end(), program);
    if (found == deferred_ends.end()) return false;
    deferred_ends.erase(found);
  }
  if (!program_is_loaded(program) || !application_instance_end) return false;
  application_instance_end(program);
  return true;
}

void builtin_findapp() {
  ValueCell* cell = stack_pop(current_program);
  // A copy: the argument may be the caller's variable text or an instruction's constant.
  char* name = crt::_strdup(cell_text(cell));
  ProgramContext* found = nullptr;
  if (name) {
    crt::_strupr(name);
    for (ProgramContext* program = program_list; program && !found; program = program->next) {
      if (program->name && std::strcmp(program->name, name) == 0) found = program;
    }
    crt::free(name);
  }
  stack_push_number(current_program, static_cast<double>(platform::address_of(found)));
}

void builtin_killapp() {
  ProgramContext* program = pop_application();
  if (!program) return;
  if (program->forms && post_application_end) {
    post_application_end(program->forms->window, program);
    return;
  }
  end_application(program);
}

void builtin_freeapp() {
  if (ProgramContext* program = pop_application()) end_application(program);
}

void builtin_appname() {
  ProgramContext* program = pop_application();
  if (!program) {
    stack_push_number(current_program, 0);
    return;
  }
  stack_push_value(program->name, 0, nullptr, 0);
}

void builtin_appsize() {
  push_application_fact([](ProgramContext* program) { return static_cast<double>(program->code_size); });
}

void builtin_appuniqueid() {
  push_application_fact([](ProgramContext* program) {
    uint64_t words = static_cast<uint64_t>(program->unique_id[1]) << 32 | program->unique_id[0];
    return static_cast<double>(static_cast<int64_t>(words));
  });
}

void builtin_appbuffer() {
  push_application_fact(
      [](ProgramContext* program) { return static_cast<double>(platform::address_of(program->first_instruction)); });
}

void builtin_appform() {
  push_application_fact([](ProgramContext* program) {
    return program->forms ? static_cast<double>(platform::address_of(program->forms->window)) : 0.0;
  });
}

void builtin_delay() {
  DWORD wait = static_cast<DWORD>(truncate_to_int(cell_number(stack_pop(current_program))));
  DWORD start = GetTickCount();
  // Other script threads run while this one waits.
  ScriptLockYield waiting;
  while (GetTickCount() - start <= wait) {
    if (pump_pending_messages) pump_pending_messages();
    if (GetTickCount() - start > wait) break;
    Sleep(1);
  }
}

void builtin_functions() {
  int32_t mode = truncate_to_int(cell_number(stack_pop(current_program)));
  Variable* variable = pop_variable();
  std::vector<std::string> names;
  for (int32_t index = 0; index < builtin_registry.count; ++index) {
    const BuiltinEntry* entry = builtin_entry(index);
    if (!entry || !entry->name) continue;
    if (mode == 0 && entry->library) continue;
    names.push_back(entry->name);
  }
  stack_push_number(current_program, fill_text_list(variable, names));
}

void builtin_variables() {
  int32_t selector = truncate_to_int(cell_number(stack_pop(current_program)));
  Variable* variable = pop_variable();
  Variable* list = nullptr;
  if (selector == 0) list = current_scope;
  else if (selector == 1) list = current_program ? current_program->globals : nullptr;
  else if (selector == 2) list = percent_variables;
  std::vector<std::string> names;
  for (Variable* record = list; record; record = record->next) {
    // The head record and records freed for reuse carry no name.
    if (record->name) names.push_back(record->name);
  }
  stack_push_number(current_program, fill_text_list(variable, names));
}

void register_application_builtins() {
  struct Row {
    const char* name;
    BuiltinHandler handler;
  };
  static constexpr Row kRows[] = {
      {"findapp", builtin_findapp},         {"killapp", builtin_killapp},     {"freeapp", builtin_freeapp},
      {"appname", builtin_appname},         {"appsize", builtin_appsize},     {"appuniqueid", builtin_appuniqueid},
      {"appbuffer", builtin_appbuffer},     {"appform", builtin_appform},     {"delay", builtin_delay},
      {"functions", builtin_functions},     {"variables", builtin_variables},
  };
  for (const Row& row : kRows) builtin_register(row.name, row.handler);
}
