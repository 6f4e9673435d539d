// Declaration and option statements over the operands above the innermost stack mark,
// list literals, and the statements that end programs and threads.
#include "vm/declarations.h"

#include <cstring>

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variables.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/threads.h"
#include "platform/kernel/types.h"
#include "vm/builtin_registry.h"
#include "vm/control_flow.h"
#include "vm/game_hooks.h"
#include "vm/machine.h"
#include "vm/script_threads.h"

namespace {

// Applies the statement to each variable named above the innermost mark, top first, and
// leaves the stack at the mark. Declarations push nothing, so the cells stay readable.
template <typename Apply>
void each_operand(Apply apply) {
  ProgramContext* program = current_program;
  ValueCell* mark;
  if (!stack_take_mark(program, &mark)) return;
  ValueCell* top = program->stack_top;
  program->stack_top = mark;
  for (ValueCell* cell = top; cell && cell != mark; cell = cell->below) {
    if (Variable* variable = cell_named_variable(cell)) apply(variable);
  }
}

bool in_globals(const Variable* variable) {
  return current_program->globals && variable->scope == current_program->globals;
}

void move_to_globals(Variable* variable) {
  ProgramContext* program = current_program;
  variable_move_to_scope(program->globals, variable, true);
  // A program without globals yet: the moved variable heads them.
  if (!program->globals) program->globals = variable;
}

// A copy of the cell's block: its allocated size, or the text with its zero when the
// block's size cannot be read.
void* copy_block(const ValueCell* cell) {
  uint32_t size = alloc_block_size(cell->text);
  if (!size) {
    if (cell->flags & kCellWideText) {
      const auto* wide = static_cast<const char16_t*>(cell->text);
      size = 2;
      while (*wide++) size += 2;
    } else {
      size = static_cast<uint32_t>(std::strlen(static_cast<const char*>(cell->text))) + 1;
    }
  }
  void* copy = crt::malloc(size);
  if (copy) std::memcpy(copy, cell->text, size);
  return copy;
}

}  // namespace

Variable* cell_named_variable(const ValueCell* cell) {
  if (cell->variable) return cell->variable;
  char* owned = nullptr;
  const char* name;
  if (cell->text && !(cell->flags & kCellList)) {
    if (cell->flags & kCellWideText) {
      owned = to_narrow(static_cast<const char16_t*>(cell->text));
      name = owned;
    } else {
      name = static_cast<const char*>(cell->text);
    }
  } else {
    owned = number_to_text(cell->number);
    name = owned;
  }
  Variable* variable = nullptr;
  if (name) {
    variable = find_variable(name);
    if (!variable) variable = get_variable(current_scope, name);
  }
  crt::free(owned);
  return variable;
}

void builtin_local() {
  each_operand([](Variable* variable) {
    if (in_globals(variable)) create_variable(current_scope, variable->name, true);
  });
  no_explicit_check = 0;
}

void builtin_global() {
  each_operand([](Variable* variable) {
    if (in_globals(variable) || (current_object && variable->scope == current_object)) return;
    move_to_globals(variable);
    variable->scope_key = 0;
  });
  no_explicit_check = 0;
}

void builtin_nglobal() {
  each_operand([](Variable* variable) {
    if ((percent_variables && variable->scope == percent_variables) ||
        (current_object && variable->scope == current_object)) {
      return;
    }
    move_to_globals(variable);
    if (current_instruction && current_instruction->extension) variable->scope_key = current_scope_key();
  });
  no_explicit_check = 0;
}

void builtin_protect() {
  each_operand([](Variable* variable) { variable->read_only = 1; });
  no_explicit_check = 0;
}

void builtin_unprotect() {
  each_operand([](Variable* variable) { variable->read_only = 0; });
  no_explicit_check = 0;
}

namespace {

// private and public: the variable becomes a member of the running object. Outside a
// method there is no object to hold it and only the mark changes.
void declare_member(Variable* variable, bool is_public) {
  if (current_object && variable->scope != current_object) {
    Variable* member = create_variable(current_object, variable->name, true);
    if (member) variable = member;
  }
  if (is_public) {
    variable->flags |= kVariablePublic;
  } else {
    variable->flags &= ~kVariablePublic;
  }
}

}  // namespace

void builtin_private() {
  each_operand([](Variable* variable) { declare_member(variable, false); });
  no_explicit_check = 0;
}

void builtin_public() {
  each_operand([](Variable* variable) { declare_member(variable, true); });
  no_explicit_check = 0;
}

void builtin_static() {
  each_operand([](Variable* variable) { variable->flags &= ~kVariableOwnsData; });
}

void builtin_makematrix() {
  ProgramContext* program = current_program;
  ValueCell* mark;
  if (!stack_take_mark(program, &mark)) return;
  uint32_t count = 0;
  for (ValueCell* cell = program->stack_top; cell && cell != mark; cell = cell->below) ++count;

  auto* items = static_cast<PackedItem*>(crt::calloc(count + 1, sizeof(PackedItem)));
  ReferenceNode* references = nullptr;
  // The cells stay readable above the mark until the next push; the deepest is item 0.
  uint32_t index = count;
  for (ValueCell* cell = program->stack_top; items && cell && cell != mark; cell = cell->below) {
    PackedItem& item = items[--index];
    if (!cell->text) {
      item.value = cell->number;
      item.kind = kPackedNumber;
      continue;
    }
    void* block;
    if (cell->flags & kCellList) {
      // A nested literal is copied with its strings, so the two never share a block.
      block = packed_list_copy(static_cast<const PackedItem*>(cell->text), &references);
      item.kind = kPackedList;
    } else {
      block = copy_block(cell);
      item.kind = kPackedString;
    }
    item.value = platform::address_of(block);
    if (block) reference_list_add(&references, block, &item, kPackedSlotType);
    // A consumed temporary (a nested literal) leaves no one else to free its blocks.
    if (!cell->variable && cell->references) {
      reference_list_free(cell->references);
      cell->references = nullptr;
    }
  }
  if (items) items[count].kind = kPackedEnd;
  program->stack_top = mark;
  if (!items) {
    runtime_error("Not enough memory for a list of %u items", count);
    stack_push_number(program, 0);
    return;
  }
  context_own_allocation(program, items, 0, kOwnedMemory);

  ValueCell* cell = stack_push_cell(program, false);
  if (!cell) return;
  cell->text = items;
  cell->number = 0;
  cell->variable = nullptr;
  cell->data = 0;
  cell->flags = kCellList;
  cell->variant_type = 0;
  cell->references = references;
}

void builtin_noexplicitcheck() { no_explicit_check = 1; }

void builtin_rangemode() { current_program->range_check ^= 1; }

void builtin_explicitmode() { current_program->explicit_declarations ^= 1; }

void builtin_ptr() {
  ValueCell* cell = current_program->stack_top;
  if (!cell) {
    runtime_error("Value stack is empty");
    return;
  }
  if (!cell->text) cell->text = platform::pointer_from<void>(static_cast<uint32_t>(truncate_to_int(cell->number)));
  cell->number = 0;
  cell->variable = nullptr;
  cell->data = 0;
  cell->flags = 0;
}

void builtin_readwrite() {
  ProgramContext* program = current_program;
  // 0 binds nothing; any other number must be a procedure of the program, or reading or
  // writing the variable would run whatever memory it points at.
  bool refused = false;
  auto procedure = [program, &refused](const ValueCell* cell) -> InstructionNode* {
    const auto number = static_cast<uint32_t>(truncate_to_int(cell_number(cell)));
    auto* node = platform::pointer_from<InstructionNode>(number);
    if (number == 0 || is_program_procedure(program, node)) return node;
    refused = true;
    return nullptr;
  };
  InstructionNode* setter = procedure(stack_pop(program));
  InstructionNode* getter = procedure(stack_pop(program));
  Variable* variable = cell_named_variable(stack_pop(program));
  if (refused) {
    runtime_error("ReadWrite: the getter or setter is not a procedure of the program");
    return;
  }
  if (!variable) return;
  variable->getter = getter;
  variable->setter = setter;
}

void builtin_halt() {
  shut_game_display();
  ExitThread(0);
}

void builtin_exit() {
  exiting_program = current_program;
  stop_flag = 1;
}

void register_declaration_handlers() {
  struct Row {
    const char* name;
    BuiltinHandler handler;
    uint8_t variadic;  // takes the operands above a stack mark
  };
  static const Row rows[] = {
      {"LOCAL", builtin_local, 1},
      {"GLOBAL", builtin_global, 1},
      {"NGLOBAL", builtin_nglobal, 1},
      {"PROTECT", builtin_protect, 1},
      {"UNPROTECT", builtin_unprotect, 1},
      {"private", builtin_private, 1},
      {"public", builtin_public, 1},
      {"STATIC", builtin_static, 1},
      {"__MAKEMATRIX", builtin_makematrix, 1},
      {"__NOEXPLICITCHECK", builtin_noexplicitcheck, 0},
      {"RANGEMODE", builtin_rangemode, 0},
      {"EXPLICITMODE", builtin_explicitmode, 0},
      {"@", builtin_ptr, 0},
      {"ptr", builtin_ptr, 0},
      {"ReadWrite", builtin_readwrite, 0},
      {"HALT", builtin_halt, 0},
      {"EXIT", builtin_exit, 0},
  };
  for (const Row& row : rows) {
    if (row.variadic) {
      builtin_register_variadic(row.name, row.handler, 1, 0);
    } else {
      builtin_register(row.name, row.handler);
    }
  }
}
