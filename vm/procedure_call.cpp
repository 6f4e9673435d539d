// The framing of procedure calls, parameter binding, RETURN and the clean-up of the
// value stack after calls, and the event entry with its fast path.
#include "vm/procedure_call.h"

#include <cstring>
#include <initializer_list>
#include <new>

#include "foundation/script_lock.h"
#include "foundation/conversion.h"
#include "foundation/hashes.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/packed_list.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/platform.h"
#include "vm/applications.h"
#include "vm/builtin_registry.h"
#include "vm/control_flow.h"
#include "vm/instruction_list.h"
#include "vm/debugger_link.h"
#include "vm/machine.h"
#include "vm/push_instructions.h"
#include "vm/runtime_globals.h"

namespace {
void* copy_returned_list(const void* list, ReferenceNode** references) {
  return packed_list_copy(static_cast<const PackedItem*>(list), references);
}
}  // namespace

void* (*returned_list_copy)(const void* list, ReferenceNode** references) = copy_returned_list;

namespace {

// The successor count-th after node, or null when the chain ends first.
InstructionNode* successor(InstructionNode* node, int count) {
  while (node && count-- > 0) node = node->next;
  return node;
}

// Calls stop this far above the end of the thread's stack, which leaves room for the
// error report and the unwinding of every call.
constexpr uintptr_t kStackReserve = 256 * 1024;

// The lowest stack address a call may start at on this thread; 0 until first asked, 1
// when the stack's end is unknown (no bound).
thread_local uintptr_t call_stack_floor = 0;

[[gnu::noinline]] uintptr_t find_call_stack_floor() {
  uintptr_t lowest = platform::thread_stack_lowest();
  call_stack_floor = lowest ? lowest + kStackReserve : 1;
  return call_stack_floor;
}

// Runaway recursion ends the program's calls with an error naming the procedure, before
// the stack ends (a stack fault would be caught with locks held).
[[gnu::noinline]] void report_runaway_recursion(ProgramContext* program, const InstructionNode* procedure) {
  const char* name = procedure->text && std::strlen(procedure->text) >= 4 ? procedure->text + 4 : "";
  runtime_error("Stack overflow: too many nested calls of %s", name);
  exiting_program = program;
  stop_flag = 1;
}

// Calls nest at most this deep, whatever room the stack has left: ending a chain of calls
// at once (EXIT, runaway recursion) takes time that grows with the square of its depth.
constexpr uint32_t kMaxNestedCalls = 5500;

// True when the native stack has no room left for another call.
inline bool call_stack_exhausted() {
  uintptr_t floor = call_stack_floor ? call_stack_floor : find_call_stack_floor();
  return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < floor;
}

// True when no call below frame runs in frame's program.
bool outermost_call_of_program(const CallFrame* frame) {
  for (const CallFrame* caller = frame->caller; caller; caller = caller->caller) {
    if (caller->program == frame->program) return false;
  }
  return true;
}

// Programs whose procedures get a scope of their own (others run in their caller's).
bool owns_local_scopes(const ProgramContext* program) {
  return program->run_mode == 0 || program->run_mode == kRunModeKeep;
}

// Free entries move to the front of the cache when their call ends, so the next call of a
// procedure finds its scope at once (recursion and alternating calls included).
void move_to_front(ProgramContext* program, LocalScopeCacheEntry* entry) {
  if (program->scope_cache == entry) return;
  if (entry->previous) entry->previous->next = entry->next;
  if (entry->next) entry->next->previous = entry->previous;
  entry->previous = nullptr;
  entry->next = program->scope_cache;
  if (program->scope_cache) program->scope_cache->previous = entry;
  program->scope_cache = entry;
}

// The first free cached scope of the procedure, marked in use (taken: its entry), else a
// new empty one that joins the cache when its call ends (taken: null). A scope in use
// belongs to a running call: handing it out again would merge two calls' locals.
Variable* take_local_scope(ProgramContext* program, InstructionNode* procedure, LocalScopeCacheEntry** taken) {
  *taken = nullptr;
  for (LocalScopeCacheEntry* entry = program->scope_cache; entry; entry = entry->next) {
    if (entry->procedure == procedure && !entry->in_use && entry->scope) {
      entry->in_use = 1;
      *taken = entry;
      return entry->scope;
    }
  }
  return variable_record_allocate(program, false);
}

Variable* take_local_scope(ProgramContext* program, InstructionNode* procedure) {
  LocalScopeCacheEntry* taken = nullptr;
  return take_local_scope(program, procedure, &taken);
}

// The scope is free again for the next call of the procedure; entry is its cache entry
// when the caller knows it. The scope's entry, null when none could be made.
LocalScopeCacheEntry* return_local_scope(ProgramContext* program, InstructionNode* procedure, Variable* scope,
                                         LocalScopeCacheEntry* entry) {
  if (!entry) {
    for (LocalScopeCacheEntry* candidate = program->scope_cache; candidate; candidate = candidate->next) {
      if (candidate->procedure == procedure && candidate->scope == scope) {
        entry = candidate;
        break;
      }
    }
  }
  if (entry) {
    entry->in_use = 0;
    move_to_front(program, entry);
    return entry;
  }
  entry = static_cast<LocalScopeCacheEntry*>(HeapAlloc(program->heap, HEAP_ZERO_MEMORY, sizeof(LocalScopeCacheEntry)));
  if (!entry) return nullptr;  // the scope is simply not reused
  entry->scope = scope;
  entry->procedure = procedure;
  entry->next = program->scope_cache;
  if (program->scope_cache) program->scope_cache->previous = entry;
  program->scope_cache = entry;
  return entry;
}

Variable* find_percent_variable(uint32_t hash) {
  for (Variable* variable = percent_variables; variable; variable = variable->next) {
    if (variable->name && variable->hash == hash) return variable;
  }
  return nullptr;
}

const uint32_t error_hash = variable_name_hash("ERROR%");

// The last error a script trapped stays readable in LASTERROR% inside called procedures.
[[gnu::noinline]] void carry_last_error_found() {
  // The one start-up made, while it still holds that name; else the search.
  Variable* error = error_variable;
  if (!error || !error->name || error->hash != error_hash) error = find_percent_variable(error_hash);
  if (!error || !error->data || (error->flags & (kVariableObject | kVariablePackedList | kVariableList))) return;
  void* text = nullptr;
  double number = 0;
  get_variable_value(error, &text, &number, nullptr);
  if (!text) return;
  size_t size = (error->flags & kVariableWideText)
                    ? (crt::wcslen(static_cast<const WCHAR*>(text)) + 1) * sizeof(WCHAR)
                    : std::strlen(static_cast<const char*>(text)) + 1;
  Variable* last = set_variable_by_name("LASTERROR%", text, 0, nullptr, static_cast<int32_t>(size));
  if (last && (error->flags & kVariableWideText)) last->flags |= kVariableWideText;
}

// ERROR% as start-up made it and holding a number (no error text yet): nothing to carry.
inline void carry_last_error() {
  const Variable* error = error_variable;
  if (error && error->name && error->hash == error_hash && !error->data) return;
  carry_last_error_found();
}

// SELF$ names the object (with a copy of its class name), OBJECTNAME$ shows the class.
void bind_self(Variable* scope, Variable* object) {
  if (!scope) return;
  const char* class_name = object->name ? object->name : "";
  if (Variable* self = create_variable(scope, "SELF$", true)) {
    self->flags |= kVariableObject;
    self->number = static_cast<double>(platform::address_of(object));
    self->data = crt::_strdup(class_name);
  }
  if (Variable* name = create_variable(scope, "OBJECTNAME$", true)) name->data = const_cast<char*>(class_name);
}

// Spare frames, kept for the next calls (taken and given back under the script lock).
CallFrame* spare_frames = nullptr;

// A spare frame keeps its old fields: the call sets each of them (the scope hint stays).
CallFrame* take_frame() {
  CallFrame* frame = spare_frames;
  if (!frame) return new (std::nothrow) CallFrame{};
  spare_frames = frame->caller;
  return frame;
}

void give_back_frame(CallFrame* frame) {
  frame->caller = spare_frames;
  spare_frames = frame;
}

// Ends a call when the native stack unwinds past it (ExitThread); a call that returns
// disarms it and ends through vm_end_call.
struct CallFrameRelease {
  CallFrame* frame;
  ~CallFrameRelease() {
    if (frame) vm_release_call(frame);
  }
};

// ---- Argument levels ----

// The usual end of a function call: exactly its one result stands above mark.
inline bool lone_cell_above(const ProgramContext* program, const ValueCell* mark) {
  const ValueCell* top = program->stack_top;
  return top && top != mark && top->below == mark;
}

// The same above the innermost argument level's mark, when one is open.
inline bool lone_cell_above_innermost_mark(const ProgramContext* program) {
  const int32_t marks = program->mark_count;
  return marks > 0 && marks <= kStackMarkSlots && lone_cell_above(program, program->stack_marks[marks - 1]);
}

int32_t cells_above(const ProgramContext* program, const ValueCell* mark) {
  int32_t count = 0;
  for (const ValueCell* cell = program->stack_top; cell && cell != mark; cell = cell->below) ++count;
  return count;
}

void pop_releasing_references(ProgramContext* program) {
  ValueCell* cell = stack_pop(program);
  if (cell->references) {
    reference_list_free(cell->references);
    cell->references = nullptr;
  }
}

// ---- Results of RETURN ----

uint32_t text_block_size(const ValueCell* cell) {
  uint32_t size = alloc_block_size(cell->text);
  if (size) return size;
  if (cell->flags & kCellWideText) {
    return static_cast<uint32_t>((crt::wcslen(static_cast<const WCHAR*>(cell->text)) + 1) * sizeof(WCHAR));
  }
  return static_cast<uint32_t>(std::strlen(static_cast<const char*>(cell->text)) + 1);
}

// The blocks a structure value holds are copied for its copy, at the same offsets.
void copy_held_blocks(Variable* source, const void* old_data, char* new_data, uint32_t size, ValueCell* cell) {
  ReferenceNode** list = variable_reference_list(source);
  for (ReferenceNode* node = list ? *list : nullptr; node; node = node->next) {
    uint32_t block_size = alloc_block_size(node->block);
    if (!block_size) continue;
    void* copy = crt::malloc(block_size);
    if (!copy) continue;
    std::memcpy(copy, node->block, block_size);
    void* slot = nullptr;
    uintptr_t base = reinterpret_cast<uintptr_t>(old_data);
    uintptr_t at = reinterpret_cast<uintptr_t>(node->slot);
    if (node->slot && at >= base && at - base + sizeof(void*) <= size) {
      slot = new_data + (at - base);
      std::memcpy(slot, &copy, sizeof copy);
    }
    if (!cell_add_reference(cell, copy, slot, node->slot_type)) crt::free(copy);
  }
}

// Makes one result cell independent of the callee's variables.
void detach_result(ProgramContext* program, ValueCell* cell, uint32_t depth) {
  Variable* source = cell->variable;
  if (source && (source->flags & kVariableObject)) {
    cell->number = source->number;
    cell->text = nullptr;
    cell->data = 0;
    cell->flags = 0;
  } else if (cell->text && (cell->flags & kCellList)) {
    void* copy = nullptr;
    if (returned_list_copy) {
      copy = returned_list_copy(cell->text, &cell->references);
    } else if (uint32_t size = alloc_block_size(cell->text)) {
      copy = crt::malloc(size);
      if (copy) std::memcpy(copy, cell->text, size);
    }
    if (copy && context_own_allocation(program, copy, depth, kOwnedMemory)) cell->text = copy;
    else crt::free(copy);
  } else if (cell->text) {
    uint32_t size = text_block_size(cell);
    char* copy = static_cast<char*>(crt::malloc(size));
    if (copy) {
      std::memcpy(copy, cell->text, size);
      if (context_own_allocation(program, copy, depth, kOwnedMemory)) {
        if (source) copy_held_blocks(source, cell->text, copy, size, cell);
        cell->text = copy;
      } else {
        crt::free(copy);
      }
    }
  }
  cell->variable = nullptr;
}

// ---- Parameters ----

// A parameter's pair holds only while its record is named and lives in the scope being
// bound (or the '%' list): a pair left from another level of a recursion names that
// level's parameter, which this call must not overwrite.
bool parameter_cache_valid(const Variable* variable, uint32_t scope) {
  if (!variable || !variable->name) return false;
  return scope == platform::address_of(current_scope) || scope == platform::address_of(percent_variables);
}

// The parameter named name in the current scope, created there when missing.
Variable* resolve_parameter(const char* name, Variable** cached_variable, uint32_t* cached_scope) {
  if (!name) return nullptr;
  uint32_t hash = variable_name_hash(name);
  Variable* parameter = nullptr;
  for (Variable* record = current_scope; record; record = record->next) {
    if (record->name && record->hash == hash) {
      parameter = record;
      break;
    }
  }
  if (!parameter) parameter = create_variable(current_scope, name, false);
  if (!parameter) return nullptr;
  *cached_variable = parameter;
  *cached_scope = platform::address_of(parameter->scope);
  return parameter;
}

// resolve_parameter kept out of line, so that parameter_miss stays small.
[[gnu::noinline]] Variable* resolve_parameter_cold(const char* name, Variable** cached_variable, uint32_t* cached_scope) {
  return resolve_parameter(name, cached_variable, cached_scope);
}

// A cache pair that missed: the record whose name hashes to hash in the current scope
// (another scope of the same procedure, in recursion, has its own), else the parameter
// resolved by name and created when missing. Either is stored in the pair. The walk is
// inline: in recursion every binding misses.
[[gnu::always_inline]] inline Variable* parameter_miss(const char* name, uint32_t hash, Variable** cached_variable,
                                                       uint32_t* cached_scope) {
  if (hash) {
    for (Variable* record = current_scope; record; record = record->next) {
      if (record->name && record->hash == hash) {
        *cached_variable = record;
        *cached_scope = platform::address_of(record->scope);
        return record;
      }
    }
  }
  return resolve_parameter_cold(name, cached_variable, cached_scope);
}

inline Variable* first_parameter(InstructionNode* node) {
  InstructionExtension* extension = node->extension;
  if (!extension) {
    Variable* scratch = nullptr;
    uint32_t scope = 0;
    return resolve_parameter(node->text, &scratch, &scope);
  }
  Variable* cached = extension->cached_variable;
  if (parameter_cache_valid(cached, extension->cached_scope) && cached->hash == node->text_hash) return cached;
  return parameter_miss(node->text, node->text_hash, &extension->cached_variable, &extension->cached_scope);
}

// The second name's hash lives in the node's work word, which PARMSPUSHVARVAR has no other
// use for: computed at the first miss, then the cache is checked like the first one.
inline Variable* second_parameter(InstructionNode* node) {
  InstructionExtension* extension = node->extension;
  uint32_t hash = node->work;
  if (extension && hash) {
    Variable* cached = extension->cached_variable2;
    if (parameter_cache_valid(cached, extension->cached_scope2) && cached->hash == hash) return cached;
  }
  const char* name = instruction_second_text(node);
  if (!extension || !name) {
    Variable* scratch = nullptr;
    uint32_t scope = 0;
    return resolve_parameter(name, &scratch, &scope);
  }
  if (!hash) node->work = hash = variable_name_hash(name);
  return parameter_miss(name, hash, &extension->cached_variable2, &extension->cached_scope2);
}

// bind_parameter kept out of line, so that the plain path of pop_into stays small.
[[gnu::noinline]] void bind_parameter_fully(Variable* parameter, ValueCell* cell) { bind_parameter(parameter, cell); }

[[gnu::always_inline]] inline void pop_into(Variable* parameter) {
  ProgramContext* program = current_program;
  ValueCell* cell = stack_pop(program);
  if (!parameter) return;
  // A number into a parameter holding a plain number: all bind_parameter would do is
  // store it (the same tests, in the same order). A scope of its own gives a parameter
  // cleared, but a procedure that runs in its caller's scope (text evaluated there) binds
  // to the caller's variable of that name, which may hold a text, a list or an alias.
  if (!(parameter->flags & ~kVariablePublic) && !parameter->data && !parameter->alias) {
    const Variable* source = cell->variable;
    if (!source) {
      if (!cell->text) {
        parameter->number = cell->number;
        return;
      }
    } else if (source != parameter && !(source->flags & (kVariableObject | kVariableList)) &&
               !(cell->flags & (kCellByReference | kCellElementOffset)) && !source->data && !cell->data &&
               !source->element_count) {
      parameter->number = source->number;
      return;
    }
  }
  bind_parameter_fully(parameter, cell);
}

// ---- Event calls ----

// Puts the four arguments straight into the parameters the binding instructions after
// STARTPROC resolved in scope during the last event call. False when the procedure does
// not have that shape or its caches belong to another scope. Relies on the procedure's
// cached_variable naming scope only while no script call of it ran since (such a call
// clears it, see run_framed_call): else the pairs may name another call's parameters.
bool bind_event_arguments(InstructionNode* procedure, Variable* scope, const double (&arguments)[4]) {
  InstructionExtension* extension = procedure->extension;
  if (!extension || extension->cached_variable != scope) return false;
  uint32_t key = platform::address_of(scope);
  Variable* targets[4] = {};
  uint8_t skip;
  InstructionNode* first = procedure->next;
  if (first && first->handler == op_parmspushvarvar) {
    InstructionNode* second = first->next;
    if (!second || second->handler != op_parmspushvarvar || !first->extension || !second->extension) return false;
    for (InstructionExtension* pair : {first->extension, second->extension}) {
      if (pair->cached_scope != key || pair->cached_scope2 != key) return false;
    }
    targets[0] = first->extension->cached_variable2;
    targets[1] = first->extension->cached_variable;
    targets[2] = second->extension->cached_variable2;
    targets[3] = second->extension->cached_variable;
    skip = 2;
  } else {
    InstructionNode* node = first;
    for (Variable*& target : targets) {
      if (!node || node->handler != op_parmspushvar || !node->extension || node->extension->cached_scope != key) {
        return false;
      }
      target = node->extension->cached_variable;
      node = node->next;
    }
    skip = 1;
  }
  for (Variable* target : targets) {
    if (!target || !target->name) return false;
  }
  // targets hold a4, a3, a2, a1: the parameters are bound last first.
  for (int index = 0; index < 4; ++index) {
    Variable* target = targets[index];
    if (target->flags || target->data || target->alias) variable_clear_value(current_program, target, false, false);
    target->number = arguments[3 - index];
  }
  entry_skip = skip;
  return true;
}

}  // namespace

bool leave_argument_level(ProgramContext* program, ValueCell** mark) {
  if (program->mark_count <= 0 || program->mark_count > kStackMarkSlots) return false;
  --program->mark_count;
  *mark = program->stack_marks[program->mark_count];
  return true;
}

// ---- The call ----

namespace {

// entry is the scope entry the last call from frame gave back; the one before stays
// remembered when it belongs to another procedure.
inline void remember_callee_scope(CallFrame* frame, LocalScopeCacheEntry* entry) {
  LocalScopeCacheEntry* last = frame->callee_scope;
  const uint32_t generation = scope_cache_generation;
  const bool current = frame->callee_scope_generation == generation;
  if (last == entry && current) return;
  if (!current) {
    frame->earlier_callee_scope = nullptr;
    frame->callee_scope_generation = generation;
  } else if (last && entry && last->procedure != entry->procedure) {
    frame->earlier_callee_scope = last;
  }
  frame->callee_scope = entry;
}

// A free scope entry of procedure among those frame remembers, or null. The entries are
// only trusted within the generation they were remembered in (a release of the cache
// frees them and raises it) and only while no running call holds them (in_use): a spare
// frame keeps what its last call remembered, and the call it runs now may have taken
// that very scope from the cache.
inline LocalScopeCacheEntry* remembered_scope(const CallFrame* frame, const InstructionNode* procedure) {
  if (!frame || frame->callee_scope_generation != scope_cache_generation) return nullptr;
  LocalScopeCacheEntry* entry = frame->callee_scope;
  if (!entry || entry->procedure != procedure) entry = frame->earlier_callee_scope;
  return entry && entry->procedure == procedure && !entry->in_use && entry->scope ? entry : nullptr;
}

// What every end of a call gives back: TRY blocks the call left open stop catching
// faults, its locals lose their values and the scope is free again, the running state
// comes back and what was owned at its depth is released.
[[gnu::always_inline]] inline void release_call(CallFrame* frame) {
  if (try_depth > frame->try_depth_at_entry) try_depth = frame->try_depth_at_entry;
  ProgramContext* program = frame->program;
  Variable* scope = frame->scope;
  // Values first: a local object's destructor may call the same procedure, which must
  // not be handed this scope while it is being emptied.
  if (scope && frame->releases_scope && scope != program->globals) variable_list_release(program, scope, false);
  if (scope && frame->recycles_scope) {
    LocalScopeCacheEntry* entry = frame->scope_entry;
    // An entry the calling frame handed over goes back to that frame: where it stands in
    // the cache does not matter for it.
    if (frame->scope_from_caller) entry->in_use = 0;
    else entry = return_local_scope(program, frame->procedure, scope, entry);
    if (CallFrame* caller = frame->caller) remember_callee_scope(caller, entry);
  }
  current_instruction = frame->saved_instruction;
  current_program = frame->saved_program;
  current_procedure_name = frame->saved_procedure_name;
  current_scope = frame->saved_scope;
  if (frame->method_call) current_object = frame->saved_object;
  current_frame = frame->caller;
  // Loops that RETURN or EXIT left never reached their ENDLOOP: their levels go too.
  const int32_t depth_at_entry = frame->call_depth_at_entry;
  int32_t depth = program->call_depth;
  do {
    if (program->owned) context_release_depth(program, static_cast<uint32_t>(depth));
    program->call_depth = --depth;
  } while (depth > depth_at_entry);
  if (open_cursors) foreach_leave_levels(program, depth_at_entry);
  if (kept_texts) [[unlikely]] kept_texts_release(program);
  give_back_frame(frame);
}

// After the call's loop stopped: ENDPROC, RETURN, an error or a fault end this call only;
// EXIT ends every call of its program, and a fault unwinding to a caller's TRY ends the
// calls up to that caller. The program whose last running call it was when that call
// ended it.
[[gnu::always_inline]] inline ProgramContext* end_call(CallFrame* frame) {
  if (frame->stepping_over) step_mode = 1;
  ProgramContext* program = frame->program;
  bool exiting = exiting_program == program;
  ProgramContext* ended = nullptr;
  if (exiting && outermost_call_of_program(frame) && !program_runs_on_a_waiting_thread(program)) {
    // The program's last running call is over: its caller (another program's event)
    // goes on, and later faults of a new program at this address are reported again.
    // Calls of it that another thread waits in keep the end for that thread.
    exiting_program = nullptr;
    exiting = false;
    ended = program;
  }
  if (!exiting && !vm_unwind_pending()) stop_flag = 0;
  release_call(frame);
  return ended;
}

// The procedure's name as error reports show it: its STARTPROC text from the fifth
// character.
inline const char* procedure_name_of(const InstructionNode* procedure) {
  const char* text = procedure->text;
  return text && text[0] && text[1] && text[2] && text[3] ? text + 4 : "";
}

// A call that cannot start: the arguments of the next call are cleared.
[[gnu::noinline]] void refuse_call(ProgramContext* program, InstructionNode* procedure, bool runaway) {
  call_object = nullptr;
  entry_skip = 0;
  if (!procedure || !program) runtime_error("Call of a missing procedure");
  else if (runaway) report_runaway_recursion(program, procedure);
  else runtime_error("Out of memory");
}

// The framed call; the program whose last running call it was when that call ended it.
ProgramContext* run_framed_call() {
  ProgramContext* program = call_program;
  InstructionNode* procedure = call_procedure;
  Variable* const handed_scope = call_scope;
  if (handed_scope) call_scope = nullptr;
  bool nested = false;
  if (procedure) {
    call_procedure = nullptr;
  } else {
    // The CALL instruction runs: its link is the procedure, in the running program. A
    // call from script code spoils the scope the event fast path prepared.
    InstructionNode* instruction = current_instruction;
    InstructionExtension* extension = instruction ? instruction->extension : nullptr;
    nested = guarded_loops_here && instruction && instruction->handler == vm_call_procedure;
    procedure = extension ? extension->link : nullptr;
    program = current_program;
    if (procedure && procedure->extension && procedure->extension->cached_variable) {
      procedure->extension->cached_variable = nullptr;
    }
  }
  if (!procedure || !program) [[unlikely]] {
    refuse_call(program, procedure, false);
    return nullptr;
  }
  CallFrame* const caller = current_frame;
  const uint32_t nesting = caller ? caller->nesting + 1 : 1;
  if (nesting > kMaxNestedCalls || call_stack_exhausted()) [[unlikely]] {
    refuse_call(program, procedure, true);
    return nullptr;
  }

  carry_last_error();

  CallFrame* frame = take_frame();
  if (!frame) [[unlikely]] {
    refuse_call(program, procedure, false);
    return nullptr;
  }
  static uint32_t call_serial = 0;
  frame->serial = ++call_serial;
  frame->program = program;
  frame->procedure = procedure;
  frame->caller = caller;
  frame->nesting = nesting;
  frame->try_depth_at_entry = try_depth;
  frame->saved_instruction = current_instruction;
  frame->saved_program = current_program;
  frame->saved_procedure_name = current_procedure_name;
  frame->saved_scope = current_scope;
  Variable* const object = call_object;
  frame->saved_object = current_object;
  frame->method_call = object != nullptr;
  frame->call_depth_at_entry = program->call_depth;
  // Read by error reports from here on.
  frame->procedure_name = procedure_name_of(procedure);
  frame->object = nullptr;
  frame->stepping_over = false;

  // A procedure of a program that keeps no local scopes runs in its caller's scope,
  // whose values are the caller's to release.
  const bool own_scopes = owns_local_scopes(program);
  frame->scope_entry = nullptr;
  frame->scope_from_caller = false;
  if (handed_scope) {
    frame->scope = handed_scope;
  } else if (!own_scopes) {
    frame->scope = current_scope;
  } else {
    // The scope the caller's last call of this procedure gave back, when still free.
    if (LocalScopeCacheEntry* hint = remembered_scope(caller, procedure)) {
      hint->in_use = 1;
      frame->scope_entry = hint;
      frame->scope_from_caller = true;
      frame->scope = hint->scope;
    } else {
      frame->scope = take_local_scope(program, procedure, &frame->scope_entry);
    }
  }
  frame->recycles_scope = frame->scope && own_scopes;
  frame->releases_scope = handed_scope || own_scopes;
  CallFrameRelease release{frame};

  current_frame = frame;
  current_scope = frame->scope;
  current_program = program;
  ++program->call_depth;

  if (object) {
    bind_self(frame->scope, object);
    current_object = object;
    call_object = nullptr;
  }
  frame->object = current_object;

  current_procedure_name = frame->procedure_name;

  const uint8_t skip = entry_skip;
  InstructionNode* first = skip ? successor(procedure, skip == 1 ? 5 : skip == 2 ? 3 : 1) : procedure->next;
  entry_skip = 0;
  // Stepping over a line runs the calls it makes without stopping inside them.
  if (step_mode == 1) [[unlikely]] {
    frame->stepping_over = true;
    step_mode = 0;
  }
  if (first) {
    // A CALL instruction of a running loop: that loop's guard covers the call.
    if (nested && !object && !handed_scope) vm_run_nested_loop(first);
    else vm_run_loop(first);
  }
  release.frame = nullptr;
  return end_call(frame);
}

}  // namespace


void vm_call_procedure() {
  // The frame is set up and taken down under the script lock as well: the machine's
  // registers are shared, and another script thread may take the lock between calls.
  ScriptLockHold script_lock_held;
  // An end the program asked for while it ran (freeapp of itself) waits for the frame's release.
  if (ProgramContext* ended = run_framed_call()) [[unlikely]] application_end_if_deferred(ended);
}

void vm_release_call(CallFrame* frame) { release_call(frame); }

// CALL runs the procedure in its link.
[[maybe_unused]] static const bool call_link_kept = (instruction_handler_uses_link(vm_call_procedure), true);

void vm_end_call(CallFrame* frame) {
  if (ProgramContext* ended = end_call(frame)) application_end_if_deferred(ended);
}

// ---- Ending a procedure ----

void op_endproc() { stop_flag = 1; }

namespace {

// The usual RETURN: one result above the innermost mark, held in the cell itself (a number,
// not a text, list or object), so that detaching it only forgets its variable.
inline bool return_lone_number(ProgramContext* program) {
  if (!lone_cell_above_innermost_mark(program)) return false;
  ValueCell* top = program->stack_top;
  if (top->text) return false;
  const Variable* source = top->variable;
  if (source && (source->flags & kVariableObject)) return false;
  top->variable = nullptr;
  --program->mark_count;
  return true;
}

// Every other RETURN: each result above the innermost mark is made independent.
[[gnu::noinline]] void return_results(ProgramContext* program) {
  ValueCell* mark = nullptr;
  // Without an open level every cell is treated as a result: copies are harmless.
  leave_argument_level(program, &mark);
  // Results belong to the caller's level, however many loops the RETURN leaves.
  CallFrame* frame = current_frame;
  int32_t depth = frame && frame->program == program ? frame->call_depth_at_entry : program->call_depth - 1;
  uint32_t owner_depth = depth > 0 ? static_cast<uint32_t>(depth) : kReturnedToNativeDepth;
  for (ValueCell* cell = program->stack_top; cell && cell != mark; cell = cell->below) {
    detach_result(program, cell, owner_depth);
  }
}

}  // namespace

void op_return() {
  stop_flag = 1;
  ProgramContext* program = current_program;
  if (!return_lone_number(program)) return_results(program);
}

// ---- Parameters ----

void bind_parameter(Variable* parameter, ValueCell* cell) {
  Variable* source = cell->variable;
  // A parameter bound to itself (a shared scope passing it on) keeps its value.
  if (source == parameter) return;
  // An old value (a scope shared with the caller) must not show through the new one.
  if (parameter->flags & ~kVariablePublic || parameter->data || parameter->alias) {
    variable_clear_value(current_program, parameter, false, false);
  }
  void* typed_address = platform::pointer_from(cell->data);
  if (source && (source->flags & kVariableObject)) {
    char* class_name = crt::_strdup(source->data ? static_cast<const char*>(source->data) : "");
    if (class_name) crt::_strupr(class_name);
    parameter->data = class_name;
    parameter->number = source->number;
    parameter->class_hash = class_name ? hash_name_text(class_name) : 0;
    parameter->flags = (parameter->flags | kVariableObject) & ~kVariableOwnsData;
  } else if (source && (cell->flags & kCellByReference)) {
    variable_copy_value(parameter, source, typed_address, 1, true);
  } else if (source && (cell->flags & kCellElementOffset)) {
    source->data = cell->text;
    source->number = cell->number;
    cell->flags &= ~kCellElementOffset;
    list_copy_suppressed = 1;
    variable_copy_value(parameter, source, typed_address, 0, true);
    list_copy_suppressed = 0;
  } else if (source && !source->data && !cell->data && !(source->flags & kVariableList) && !source->element_count) {
    // A plain number; a list or an array whose current value is a number goes whole.
    parameter->number = source->number;
  } else if (source) {
    variable_copy_value(parameter, source, typed_address, 0, true);
  } else if (cell->text) {
    set_variable(parameter, cell->text, cell->number, typed_address, static_cast<int32_t>(text_block_size(cell)));
    if (cell->flags & kCellList) parameter->flags |= kVariablePackedList;
    if (cell->flags & kCellWideText) parameter->flags |= kVariableWideText;
  } else {
    parameter->number = cell->number;
  }
}

void op_parmspushvar() { pop_into(first_parameter(current_instruction)); }

void op_parmspushvarvar() {
  InstructionNode* node = current_instruction;
  pop_into(second_parameter(node));
  pop_into(first_parameter(node));
}

// ---- After a call ----

void drop_function_stack(int32_t keep) {
  ProgramContext* program = current_program;
  ValueCell* mark = nullptr;
  if (!leave_argument_level(program, &mark)) return;
  if (keep == 1 && lone_cell_above(program, mark)) return;
  int32_t count = cells_above(program, mark);
  if (keep < 0) keep = 0;
  if (count == 0 && keep != 0) {
    stack_push_number(program, 0);
    return;
  }
  for (; count > keep; --count) pop_releasing_references(program);
}

void op_dropfctstack() {
  ProgramContext* program = current_program;
  const double keep = current_instruction->operand;
  // The usual end of a function call, checked before any conversion or call.
  if (keep == 1 && lone_cell_above_innermost_mark(program)) {
    --program->mark_count;
    return;
  }
  drop_function_stack(truncate_to_int(keep));
}

void op_dropallfctstack() {
  ProgramContext* program = current_program;
  int32_t count = truncate_to_int(current_instruction->operand);
  ValueCell* mark = nullptr;
  if (!leave_argument_level(program, &mark)) return;
  if (count < 1 || count > cells_above(program, mark)) return;
  while (count-- > 0) pop_releasing_references(program);
}

// ---- Events ----

int32_t call_script_handler(ProgramContext* program, InstructionNode* procedure, double a1, double a2, double a3,
                            double a4) {
  if (!program || !procedure) return 0;
  // The machine's registers and the program's stack are shared with script threads: the
  // scope, the arguments, the call, the reading of its result and a deferred end all
  // happen under the lock.
  ScriptLockHold script_lock_held;
  Variable* scope = take_local_scope(program, procedure);
  if (!scope) return 0;
  const HeldStackTop top_before = stack_hold_top(program);
  const double arguments[4] = {a1, a2, a3, a4};
  if (!bind_event_arguments(procedure, scope, arguments)) {
    instruction_extension_for(procedure, emit_pool);
    if (procedure->extension) procedure->extension->cached_variable = scope;
    for (double argument : arguments) stack_push_number(program, argument);
  }
  call_program = program;
  call_procedure = procedure;
  call_scope = scope;
  // The call may end the program (its last form closed, freeapp of itself): its context
  // is freed only after the result has been read from its stack below.
  ProgramContext* const ended = run_framed_call();

  int32_t result = 0;
  // A procedure that returned nothing leaves the stack as it found it (or freed).
  if (program->stack_top && stack_top_moved(program, top_before)) {
    ValueCell* cell = program->stack_top;
    result = cell->text && !(cell->flags & (kCellWideText | kCellList))
                 ? truncate_to_int(text_to_number(static_cast<const char*>(cell->text)))
                 : truncate_to_int(cell->number);
    pop_releasing_references(program);
  }
  // Results returned to native code are not needed once read.
  if (program->call_depth == 0) context_release_depth(program, kReturnedToNativeDepth);
  if (ended) [[unlikely]] application_end_if_deferred(ended);
  return result;
}

void release_local_scopes(ProgramContext* program) {
  if (!program) return;
  ++scope_cache_generation;
  LocalScopeCacheEntry* entry = program->scope_cache;
  program->scope_cache = nullptr;
  while (entry) {
    LocalScopeCacheEntry* next = entry->next;
    if (entry->scope) {
      variable_list_release(program, entry->scope, true);
      variable_list_free(program, entry->scope);
    }
    HeapFree(program->heap, 0, entry);
    entry = next;
  }
}

void register_procedure_call_handlers() {
  builtin_register("__dropfctstack", op_dropfctstack);
  builtin_register("__dropallfctstack", op_dropallfctstack);
  instruction_handler_owns_second_text(op_parmspushvarvar);
}
