// createthread and the thread routine: a new thread runs a script procedure through the
// common call entry, holding the script lock while script code runs.
#include "vm/script_threads.h"

#include <mutex>
#include <vector>

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/script_lock.h"
#include "foundation/value_stack.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"
#include "vm/machine.h"

namespace {

// The handles createthread gave out, by program, closed when their program ends.
struct CreatedThread {
  ProgramContext* program;
  HANDLE handle;
};
std::mutex created_mutex;
std::vector<CreatedThread> created_threads;

double cell_number(const ValueCell* cell) {
  if (cell->text && !(cell->flags & kCellList)) return text_to_number(cell_text(cell));
  return cell->number;
}

int32_t pop_integer(ProgramContext* program) { return truncate_to_int(cell_number(stack_pop(program))); }

// Ends the ThreadStart on every way out of the thread, HALT's ExitThread included.
struct ThreadStartRelease {
  ThreadStart* start;
  ~ThreadStartRelease() { crt::free(start); }
};

}  // namespace

bool is_program_procedure(const ProgramContext* program, const InstructionNode* node) {
  if (!program || !node) return false;
  uint32_t count = program->procedure_count;
  if (count > static_cast<uint32_t>(kProcedureSlots)) count = kProcedureSlots;
  for (uint32_t index = 0; index < count; ++index) {
    const ProcedureTableEntry* entry = program->procedures[index];
    if (entry && entry->procedure == node) return true;
  }
  return false;
}

DWORD script_thread_entry(LPVOID parameter) {
  auto* start = static_cast<ThreadStart*>(parameter);
  ThreadStartRelease release{start};
  if (!start || !start->procedure) return 1;
  ScriptLockHold script_lock_held;
  ProgramContext* program = start->program;
  // The stack is the creator's too: a procedure that returns nothing leaves its top as it
  // was, and popping there would take one of the creator's values.
  const ValueCell* creator_top = program->stack_top;
  stack_push_number(program, static_cast<double>(start->argument));
  call_program = program;
  call_procedure = start->procedure;
  call_scope = nullptr;
  call_object = nullptr;
  entry_skip = 0;
  vm_call_procedure();
  if (program->stack_top == creator_top) return 0;
  const ValueCell* result = stack_pop(program);
  // The exit code is the result as an unsigned integer: -1 gives 0xFFFFFFFF.
  return static_cast<DWORD>(truncate_to_int(cell_number(result)));
}

void builtin_createthread() {
  ProgramContext* program = current_program;
  stack_pop(program);  // the spare argument
  DWORD flags = static_cast<DWORD>(pop_integer(program)) & 0xFFFFu;
  int32_t argument = pop_integer(program);
  auto* procedure = platform::pointer_from<InstructionNode>(static_cast<uint32_t>(pop_integer(program)));
  DWORD stack_size = static_cast<DWORD>(pop_integer(program));
  // Any other address would have the thread run whatever lies there.
  if (procedure && !is_program_procedure(program, procedure)) {
    runtime_error("createthread: the procedure is not a procedure of this program");
    stack_push_number(program, 0);
    return;
  }
  auto* start = static_cast<ThreadStart*>(crt::calloc(1, sizeof(ThreadStart)));
  if (!start) {
    stack_push_number(program, 0);
    return;
  }
  *start = ThreadStart{procedure, argument, program, 0};
  DWORD thread_id = 0;
  HANDLE thread = CreateThread(nullptr, stack_size, script_thread_entry, start, flags, &thread_id);
  if (!thread) {
    crt::free(start);
    stack_push_number(program, 0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(created_mutex);
    created_threads.push_back({program, thread});
  }
  stack_push_number(program, static_cast<double>(platform::address_of(thread)));
}

void close_program_threads(ProgramContext* program) {
  std::vector<HANDLE> closing;
  {
    std::lock_guard<std::mutex> lock(created_mutex);
    for (auto it = created_threads.begin(); it != created_threads.end();) {
      if (it->program == program) {
        closing.push_back(it->handle);
        it = created_threads.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (HANDLE handle : closing) CloseHandle(handle);
}

void register_script_thread_builtins() { builtin_register("createthread", builtin_createthread); }
