// createthread and the thread routine: a new thread runs a script procedure through the
// common call entry, holding the script lock while script code runs.
#include "vm/script_threads.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
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

// Set when the thread's program ends: the thread runs no more of its code.
using EndRequest = std::shared_ptr<std::atomic<bool>>;

// The handles createthread gave out, by program, closed when their program ends.
struct CreatedThread {
  ProgramContext* program;
  HANDLE handle;
  DWORD thread_id;
  EndRequest end_requested;
};
std::mutex created_mutex;
std::vector<CreatedThread> created_threads;
// End requests of created threads that have not started yet, by thread id.
std::unordered_map<DWORD, EndRequest> unclaimed_end_requests;

// The calling script thread's end request (null on threads createthread did not make).
thread_local std::atomic<bool>* this_thread_end_request = nullptr;

// How long a program's end waits for one of its threads to stop at a blocking point; a
// thread suspended or blocked for longer is left, and runs none of the program's code.
constexpr DWORD kThreadEndWaitMilliseconds = 5000;

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
  EndRequest end_request;
  {
    std::lock_guard<std::mutex> lock(created_mutex);
    auto found = unclaimed_end_requests.find(GetCurrentThreadId());
    if (found != unclaimed_end_requests.end()) {
      end_request = found->second;
      unclaimed_end_requests.erase(found);
    }
  }
  this_thread_end_request = end_request.get();
  ScriptLockHold script_lock_held;
  // The program ended before this thread got to run: its code is gone or going.
  if (end_request && end_request->load()) return 0;
  ProgramContext* program = start->program;
  // The stack is the creator's too: a procedure that returns nothing leaves its top as it
  // was, and popping there would take one of the creator's values.
  const HeldStackTop creator_top = stack_hold_top(program);
  stack_push_number(program, static_cast<double>(start->argument));
  call_program = program;
  call_procedure = start->procedure;
  call_scope = nullptr;
  call_object = nullptr;
  entry_skip = 0;
  vm_call_procedure();
  // Its call ended the program (freeapp of its own handle), or the program's end stopped
  // it: the program's stack is gone or going.
  if (script_thread_end_requested()) return 0;
  if (!program->stack_top || !stack_top_moved(program, creator_top)) return 0;
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
  // The new thread looks itself up in the table before it runs: it is filled first.
  std::unique_lock<std::mutex> lock(created_mutex);
  HANDLE thread = CreateThread(nullptr, stack_size, script_thread_entry, start, flags, &thread_id);
  if (!thread) {
    lock.unlock();
    crt::free(start);
    stack_push_number(program, 0);
    return;
  }
  auto end_request = std::make_shared<std::atomic<bool>>(false);
  created_threads.push_back({program, thread, thread_id, end_request});
  unclaimed_end_requests[thread_id] = end_request;
  lock.unlock();
  stack_push_number(program, static_cast<double>(platform::address_of(thread)));
}

bool script_thread_end_requested() { return this_thread_end_request && this_thread_end_request->load(); }

bool running_on_created_thread() { return this_thread_end_request != nullptr; }

void close_program_threads(ProgramContext* program) {
  std::vector<CreatedThread> closing;
  {
    std::lock_guard<std::mutex> lock(created_mutex);
    for (auto it = created_threads.begin(); it != created_threads.end();) {
      if (it->program == program) {
        it->end_requested->store(true);
        closing.push_back(*it);
        it = created_threads.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Each thread stops before the program's code and variables go: one that has not run
  // yet returns at once, one waiting at a blocking point ends its calls when it wakes.
  for (const CreatedThread& thread : closing) {
    if (thread.thread_id != GetCurrentThreadId()) {
      ScriptLockYield waiting;
      WaitForSingleObject(thread.handle, kThreadEndWaitMilliseconds);
    }
    CloseHandle(thread.handle);
  }
}

void register_script_thread_builtins() { builtin_register("createthread", builtin_createthread); }
