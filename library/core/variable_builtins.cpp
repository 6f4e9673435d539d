// Variables and procedures by name or address: addresses of values, values by name,
// procedure handles and calls into this or another loaded program.
#include "library/core/variable_builtins.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/conversion.h"
#include "foundation/hashes.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/objects.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "library/core/marked_arguments.h"
#include "platform/platform.h"
#include "vm/applications.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"
#include "vm/instruction_list.h"
#include "vm/machine.h"
#include "vm/push_instructions.h"
#include "vm/script_threads.h"

namespace {

// The name a cell spells, upper-cased: its 8-bit or UTF-16 text, or its number as text.
std::string cell_name(const ValueCell* cell) {
  std::string name;
  if (cell->text && (cell->flags & kCellList)) return name;
  if (cell->text && (cell->flags & kCellWideText)) {
    char* narrow = to_narrow(static_cast<const char16_t*>(cell->text));
    if (narrow) name = narrow;
    crt::free(narrow);
  } else if (cell->text) {
    name = static_cast<const char*>(cell->text);
  } else {
    char* text = number_to_text(cell->number);
    if (text) name = text;
    crt::free(text);
  }
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

bool names_variable(const std::string& name) {
  return !name.empty() && (name.back() == '%' || name.back() == '$');
}

// The byte size of a value's text: its block's size, or its length with the terminator
// when the text is no heap block (a literal of the program), so a copy never reads past it.
int32_t text_size(const ValueCell* cell) {
  if (uint32_t size = alloc_block_size(cell->text)) return static_cast<int32_t>(size);
  if (cell->flags & kCellWideText) {
    return static_cast<int32_t>((crt::wcslen(static_cast<const WCHAR*>(cell->text)) + 1) * sizeof(WCHAR));
  }
  return static_cast<int32_t>(std::strlen(static_cast<const char*>(cell->text)) + 1);
}

// A program handle: 0 is the running program; anything that is no loaded program (one
// that ended, another kind of handle) is reported and is none.
ProgramContext* program_of(uint32_t handle) {
  if (!handle) return current_program;
  for (ProgramContext* program = program_list; program; program = program->next) {
    if (platform::address_of(program) == handle) return program;
  }
  runtime_error("Invalid application handle 0x%08X", handle);
  return nullptr;
}

// The address a variable stands for, pushed by reference with the variable: an object's
// address, its data block, or its number field.
void push_variable_address(Variable* variable) {
  uint32_t address;
  if (variable->flags & kVariableObject) {
    address = static_cast<uint32_t>(truncate_to_int(variable->number));
  } else if (variable->data) {
    address = platform::address_of(variable->data);
  } else {
    address = platform::address_of(&variable->number);
  }
  stack_push_value(nullptr, address, variable, 0);
  current_program->stack_top->flags |= kCellByReference;
}

void builtin_addr() {
  ValueCell* cell = stack_pop(current_program);
  if (cell->variable) {
    push_variable_address(cell->variable);
    return;
  }
  // The popped cell stays allocated as the spare above the top: its number field is
  // the cell the result is pushed into.
  uint32_t address = cell->text ? platform::address_of(cell->text) : platform::address_of(&cell->number);
  stack_push_uint(address);
}

void builtin_addr2() {
  Variable* variable = instruction_target_variable(current_instruction);
  if (!variable) {
    stack_push_number(current_program, 0);
    return;
  }
  push_variable_address(variable);
}

void builtin_getvar() {
  std::string name = cell_name(stack_pop(current_program));
  if (!names_variable(name)) {
    stack_push_number(current_program, 0);
    return;
  }
  stack_push_variable(name.c_str());
}

// An unknown name is declared as on first use (so explicit declarations report it)
// rather than dropping the value without a word.
void builtin_setvar() {
  ValueCell* value = stack_pop(current_program);
  std::string name = cell_name(stack_pop(current_program));
  if (!names_variable(name)) return;
  Variable* variable = find_variable(name.c_str());
  if (!variable) variable = get_variable(current_scope, name.c_str());
  if (!variable) return;
  const bool text = value->text != nullptr;
  // The value's data word is no address of this variable: the store goes to the variable.
  set_variable(variable, value->text, value->number, nullptr, text ? text_size(value) : -1);
  if (!variable->type_code && !variable->element_count &&
      !(variable->flags & (kVariableStructure | kVariablePackedList | kVariableObject))) {
    if (text && (value->flags & kCellWideText)) variable->flags |= kVariableWideText;
    else variable->flags &= ~kVariableWideText;
  }
}

void builtin_varexists() {
  std::string name = cell_name(stack_pop(current_program));
  stack_push_number(current_program, !name.empty() && find_variable(name.c_str()) ? 1 : 0);
}

void builtin_isvalidvar() {
  ValueCell* cell = stack_pop(current_program);
  // A number is made text first and never ends in a type character.
  stack_push_number(current_program, cell->text && names_variable(cell_name(cell)) ? 1 : 0);
}

void builtin_curproc() {
  const char* name = current_procedure_name ? current_procedure_name : "";
  size_t length = std::strcspn(name, "(");
  auto* copy = static_cast<char*>(crt::malloc(length + 1));
  if (copy) {
    std::memcpy(copy, name, length);
    copy[length] = 0;
  }
  push_owned_text(copy);
}

// ---- Procedure handles, cached in the calling instruction ----

// The built-in call node keeps the last search: the procedure in its extension's link,
// the name's hash, the argument key in its work word and the program's identifier in its
// operand. Only a plain call node of this built-in (no text of its own) carries the cache.
// The program is named by its serial, which no later program takes (its identifier may
// come again once it has ended): the procedure found lies in that program's table, alive
// while the program is. A node whose handler is not the built-in's own (a branch folded
// into it by an older compiler keeps its target in the link) caches nothing.
struct ProcedureCache {
  InstructionNode* node = nullptr;

  ProcedureCache(BuiltinHandler handler) {
    InstructionNode* instruction = current_instruction;
    if (!instruction || instruction->handler != handler || instruction->text) return;
    if (!instruction_extension_for(instruction, emit_pool)) return;
    node = instruction;
  }

  bool find(ProgramContext* program, uint32_t hash, uint32_t key, InstructionNode** procedure) const {
    if (!node || node->text_hash != hash || node->work != key) return false;
    uint64_t identifier;
    std::memcpy(&identifier, &node->operand, sizeof identifier);
    if (identifier != program->serial) return false;
    *procedure = node->extension->link;
    return true;
  }

  void store(ProgramContext* program, uint32_t hash, uint32_t key, InstructionNode* procedure) const {
    if (!node) return;
    uint64_t identifier = program->serial;
    std::memcpy(&node->operand, &identifier, sizeof identifier);
    node->text_hash = hash;
    node->work = key;
    node->extension->link = procedure;
  }
};

std::string cut_at_parenthesis(std::string name) {
  size_t open = name.find('(');
  if (open != std::string::npos) name.resize(open);
  return name;
}

void builtin_getproc() {
  std::string key = cut_at_parenthesis(cell_name(stack_pop(current_program)));
  ProgramContext* program = program_of(pop_address());
  if (!program || key.empty()) {
    stack_push_number(current_program, 0);
    return;
  }
  const uint32_t hash = hash_name_text(key.c_str());
  ProcedureCache cache(builtin_getproc);
  InstructionNode* procedure;
  if (!cache.find(program, hash, 0, &procedure)) {
    procedure = find_procedure(program, key.c_str());
    cache.store(program, hash, 0, procedure);
  }
  stack_push_uint(platform::address_of(procedure));
}

void builtin_getprocex() {
  const int32_t kind = static_cast<int16_t>(pop_integer());
  const int32_t count = static_cast<int16_t>(pop_integer());
  std::string name = cell_name(stack_pop(current_program));
  ProgramContext* program = program_of(pop_address());
  if (!program || name.empty()) {
    stack_push_number(current_program, 0);
    return;
  }
  const uint32_t hash = hash_name_text(name.c_str());
  const uint32_t key = (static_cast<uint32_t>(count) & 0xFFFF) | (static_cast<uint32_t>(kind) << 16);
  ProcedureCache cache(builtin_getprocex);
  InstructionNode* procedure;
  if (!cache.find(program, hash, key, &procedure)) {
    char signature[64];
    std::snprintf(signature, sizeof signature, "(%d,%d)", count, kind);
    procedure = find_procedure(program, (name + signature).c_str());
    cache.store(program, hash, key, procedure);
  }
  stack_push_uint(platform::address_of(procedure));
}

void builtin_call();

// A procedure named by text with count arguments: a function of that name first, then a
// procedure.
InstructionNode* find_callable(ProgramContext* program, const ValueCell* cell, int32_t count) {
  std::string name = cell_name(cell);
  const uint32_t hash = hash_name_text(name.c_str());
  const uint32_t key = static_cast<uint32_t>(count);
  ProcedureCache cache(builtin_call);
  InstructionNode* procedure;
  if (cache.find(program, hash, key, &procedure)) return procedure;
  char signature[32];
  std::snprintf(signature, sizeof signature, "(%d,1)", count);
  procedure = find_procedure(program, (name + signature).c_str());
  if (!procedure) {
    std::snprintf(signature, sizeof signature, "(%d,0)", count);
    procedure = find_procedure(program, (name + signature).c_str());
  }
  cache.store(program, hash, key, procedure);
  return procedure;
}

// Pushes a copy of every field of value but those of the cell's place in the chain.
void push_copy(ProgramContext* program, const ValueCell& value) {
  if (ValueCell* cell = stack_push_cell(program, false)) cell_take_value(cell, value);
}

// The procedure a number names in program, or null after a run-time error: a number that
// is no procedure of that program would otherwise be run as code. The check walks the
// procedure table, so a call site remembers the last handle it passed for its program:
// a program's procedure table is fixed from its load to its end, and a program loaded
// later gets another serial.
InstructionNode* procedure_of_handle(ProgramContext* program, uint32_t handle, BuiltinHandler site,
                                     const char* builtin_name) {
  constexpr uint32_t kHandleKey = 0xFFFFFFFFu;  // no argument count of a name is this
  ProcedureCache cache(site);
  InstructionNode* procedure;
  if (cache.find(program, handle, kHandleKey, &procedure) && procedure) return procedure;
  procedure = platform::pointer_from<InstructionNode>(handle);
  if (!is_program_procedure(program, procedure)) {
    runtime_error("%s: %u is not a procedure of the program", builtin_name, handle);
    return nullptr;
  }
  cache.store(program, handle, kHandleKey, procedure);
  return procedure;
}

bool is_private_procedure(const InstructionNode* procedure) {
  return procedure->extension && procedure->extension->method_flag;
}

void builtin_call() {
  ProgramContext* program = current_program;
  std::vector<ValueCell*> cells;
  if (!take_marked_arguments(cells)) return;
  if (cells.size() < 2) {
    stack_push_number(program, 0);
    return;
  }
  const int32_t count = static_cast<int32_t>(cells.size()) - 2;
  ValueCell* mark = program->stack_top;
  ProgramContext* target = program_of(static_cast<uint32_t>(cell_to_int(cells[0])));
  const ValueCell* named = cells[1];
  InstructionNode* procedure = nullptr;
  if (target) {
    if (named->text && !(named->flags & kCellList)) procedure = find_callable(target, named, count);
    else procedure = procedure_of_handle(target, static_cast<uint32_t>(cell_to_int(named)), builtin_call, "call");
  }
  ValueCell result{};
  bool has_result = false;
  // The procedure may free the stack (clearstack): the cells taken before it ran are
  // trusted afterwards only while stack_held_cell_live says so.
  const HeldStackTop held_mark = stack_hold_top(program);
  if (target && target != program) {
    if (procedure && is_private_procedure(procedure)) procedure = nullptr;
    // Without a procedure to take them, the arguments are not handed to the other program.
    if (procedure) {
      const HeldStackTop before = stack_hold_top(target);
      for (int32_t index = 0; index < count; ++index) push_copy(target, *cells[2 + index]);
      target->call_depth = program->call_depth;
      call_program = target;
      call_procedure = procedure;
      vm_call_procedure();
      // The call may have ended the other program, its stack and its result with it.
      if (program_is_loaded(target) && stack_top_moved(target, before) && target->stack_top) {
        result = *stack_pop(target);
        has_result = true;
      }
    }
  } else if (procedure) {
    // The arguments stay where they are for the procedure to take.
    ValueCell* procedure_cell = cells[1];
    program->stack_top = cells.back();
    call_program = program;
    call_procedure = procedure;
    vm_call_procedure();
    if (!stack_held_cell_live(program, held_mark)) {
      // The stack was freed under the call: whatever it holds now is the result.
      if (program->stack_top) {
        result = *program->stack_top;
        has_result = true;
      }
    } else if (program->stack_top && program->stack_top != procedure_cell && program->stack_top != mark) {
      result = *program->stack_top;
      has_result = true;
    }
  }
  stack_return_to(program, held_mark);
  if (has_result) push_copy(program, result);
  else stack_push_number(program, 0);
}

void builtin_objcall() {
  std::vector<ValueCell*> cells;
  if (!take_marked_arguments(cells)) return;
  if (cells.size() < 2) return;
  Variable* object = cell_variable(cells[0]);
  if (!object) return;
  ProgramContext* program = current_program;
  InstructionNode* procedure =
      procedure_of_handle(program, static_cast<uint32_t>(cell_to_int(cells[1])), builtin_objcall, "objcall");
  if (!procedure) return;
  // The arguments are copied aside: pushing them back reuses the cells they sit in.
  std::vector<ValueCell> arguments;
  for (size_t index = 2; index < cells.size(); ++index) arguments.push_back(*cells[index]);
  for (const ValueCell& argument : arguments) push_copy(program, argument);
  Variable* outer_object = call_object;
  call_object = object_record(object);
  call_program = program;
  call_procedure = procedure;
  vm_call_procedure();
  call_object = outer_object;
}

void builtin_objaddr() {
  Variable* variable = pop_variable();
  stack_push_number(current_program, variable && (variable->flags & kVariableObject) ? variable->number : 0);
}

void builtin_assign() {
  int32_t value = pop_integer();
  Variable* variable = pop_variable();
  if (!variable) return;
  variable->flags |= kVariableObject;
  variable_set_int(variable, value);
}

void builtin_vmax() {
  Variable* variable = pop_variable();
  double size;
  if (!variable) {
    size = 0;
  } else if (variable->element_count) {
    double product = 1;
    for (uint32_t index = 0; index < variable->dim_count && index < 8; ++index) product *= variable->dims[index];
    size = product;
  } else if (variable->flags & kVariableStructure) {
    uint32_t members = 0;
    for (MemberNode* node = variable->members; node; node = node->next) ++members;
    size = members;
  } else if (variable->data) {
    size = alloc_block_size(variable->data);
  } else {
    const uint64_t bits = 0x7FEE42D130773B76ULL;  // 1.7e308: no size limit
    std::memcpy(&size, &bits, sizeof size);
  }
  stack_push_number(current_program, size);
}

}  // namespace

Variable* instruction_target_variable(InstructionNode* node) {
  if (!node) return nullptr;
  Variable* variable = instruction_variable(node);
  const bool follow = !alias_follow_suppressed && !node->work;
  alias_follow_suppressed = 0;
  return variable && follow ? follow_alias(variable) : variable;
}

void register_variable_builtins() {
  const struct {
    const char* name;
    BuiltinHandler handler;
  } kBuiltins[] = {
      {"addr", builtin_addr},         {"__addr2", builtin_addr2},       {"getvar", builtin_getvar},
      {"setvar", builtin_setvar},     {"varexists", builtin_varexists}, {"isvalidvar", builtin_isvalidvar},
      {"curproc", builtin_curproc},   {"getproc", builtin_getproc},     {"getprocex", builtin_getprocex},
      {"call", builtin_call},         {"objcall", builtin_objcall},     {"objaddr", builtin_objaddr},
      {"assign", builtin_assign},     {"vmax", builtin_vmax},
  };
  for (const auto& builtin : kBuiltins) builtin_register(builtin.name, builtin.handler);
  // Their call nodes keep the procedure they found in the link.
  for (BuiltinHandler handler : {builtin_getproc, builtin_getprocex, builtin_call, builtin_objcall}) {
    instruction_handler_uses_link(handler);
  }
}
