// Assignment: "=" with its store dispatch over the kinds of value and target, the fused
// assignments, multiple assignment "M=", "__set_push" and "validint".
#include "vm/assignment.h"
#include "vm/push_instructions.h"

#include "foundation/packed_list.h"

#include <cstring>

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"
#include "vm/instruction_list.h"

uint8_t push_after_assign = 0;
namespace {
void store_item_value(void* item, void* text, double number, ReferenceNode** references) {
  packed_item_set_value(static_cast<PackedItem*>(item), static_cast<const char*>(text), number, references);
}
void store_item_list(void* item, void* list, ReferenceNode** references) {
  packed_item_set_list(static_cast<PackedItem*>(item), static_cast<const PackedItem*>(list), references);
}
}  // namespace

PackedItemStore packed_item_store{store_item_value, store_item_list};

namespace {

// "M=" keeps at most this many values.
constexpr int32_t kMultipleSlots = 255;
// An alias chain longer than this is taken to loop and is not followed further.
// The visible variable of that name, declared in the current scope when missing.
Variable* variable_by_name(const char* name) {
  if (!name || !*name) return nullptr;
  Variable* variable = find_variable(name);
  return variable ? variable : get_variable(current_scope, name);
}

// The variable a target cell stores into: its own (whose binding the store ends), else
// the variable its text names.
Variable* target_variable(ValueCell* target) {
  if (target->variable) {
    target->variable->alias = nullptr;
    return target->variable;
  }
  if (!target->text || (target->flags & (kCellWideText | kCellList))) return nullptr;
  return variable_by_name(static_cast<const char*>(target->text));
}

// The byte size of a value's text: its block's size, or (for a text that is no heap
// block) its length with the terminator, so a copy never reads past the text.
int32_t text_block_size(const void* text, bool wide) {
  uint32_t size = alloc_block_size(text);
  if (size) return static_cast<int32_t>(size);
  if (wide) return static_cast<int32_t>((crt::wcslen(static_cast<const WCHAR*>(text)) + 1) * sizeof(WCHAR));
  return static_cast<int32_t>(std::strlen(static_cast<const char*>(text)) + 1);
}

bool is_array(const Variable* variable) { return variable->element_count != 0; }
void* address(uint32_t word) { return platform::pointer_from(word); }

// The value's reference chain becomes the variable's.
void take_chain(Variable* variable, ValueCell* value) {
  if (!value->references) return;
  variable_free_references(variable);
  variable->references = value->references;
  value->references = nullptr;
}

void free_chain(ValueCell* value) {
  if (!value->references) return;
  reference_list_free(value->references);
  value->references = nullptr;
}

// A plain variable shows its text as UTF-16 exactly while it holds UTF-16 text; typed
// slots, structures, arrays and lists keep their own width.
void mark_text_width(Variable* variable, const ValueCell* value, uint32_t typed_data) {
  if (value->text && (value->flags & kCellWideText)) {
    variable->flags |= kVariableWideText;
    return;
  }
  if (typed_data || variable->type_code || is_array(variable) ||
      (variable->flags & (kVariableStructure | kVariablePackedList | kVariableObject))) {
    return;
  }
  variable->flags &= ~kVariableWideText;
}

// Storing through a by-reference target: the value replaces what the variable holds.
void replace_value(Variable* variable, ValueCell* value, Variable* source, int32_t size) {
  void* pointer = value->text;
  if (!pointer) {
    pointer = address(static_cast<uint32_t>(truncate_to_int(value->number)));
    size = -1;
  }
  if (variable->flags & kVariableStructure) {
    variable_set_data(variable, pointer, size, false);
    take_chain(variable, value);
  } else if (is_array(variable)) {
    variable_set_string(variable, pointer, size, false);
    take_chain(variable, value);
  } else if (!(variable->flags & (kVariablePackedList | kVariableObject))) {
    if (!value->text || !source || value->text != source->data) {
      set_variable(variable, value->text, value->number, nullptr, size);
      return;
    }
    // The same block as the source's: the variable shares it and owns nothing.
    variable_free_data(current_program, variable);
    variable->data = source->data;
    variable->type_code = source->type_code;
    variable_free_references(variable);
    variable->flags &= ~kVariableOwnsData;
  } else if (variable->flags & kVariableObject) {
    variable_set_int(variable, truncate_to_int(value->number));
  } else {
    variable_set_packed_list(variable, pointer, size, false);
    take_chain(variable, value);
  }
}

void store_to_element(Variable* variable) {
  if ((variable->flags & kVariableList) && variable->cursor) variable_store_to_element(variable);
}

void construct_object(Variable* destination, Variable* source) {
  if (ownership_services.object_construct) ownership_services.object_construct(destination, source, 0, false);
}

void store_packed_list(Variable* variable, void* list) {
  if (ownership_services.store_packed_list) ownership_services.store_packed_list(variable, list);
}

// A join result that nothing else holds becomes the plain variable's value as it is:
// kCellSoleText says no other cell or variable shows the block, and only the newest
// allocation of the depth can be taken off its records without a walk (an earlier store
// of a multiple assignment may have kept a snapshot since the join: a newer block).
bool take_sole_text(Variable* variable, ValueCell* value, void* typed) {
  ProgramContext* context = current_program;
  if (!(value->flags & kCellSoleText) || typed || value->references || !context ||
      !context_newest_allocation_is(context, value->text)) {
    return false;
  }
  // The record goes first: the store may own blocks of its own (a snapshot of the old
  // value that a waiting cell still shows) and they would become the newest.
  const uint32_t depth = context->owned->depth;
  context_take_newest_allocation(context);
  if (variable_adopt_text(variable, value->text, value->number)) return true;
  context_own_allocation(context, value->text, depth, kOwnedMemory);
  return false;
}

// A number into a variable that holds nothing but a number: what the dispatch would do
// comes down to writing the number (the counting loops' case).
inline bool plain_number_store(const Variable* variable, const ValueCell* value) {
  if (value->text || value->flags || value->data || value->references) return false;
  if (const Variable* source = value->variable) {
    if (source->element_count || (source->flags & (kVariableStructure | kVariableObject | kVariablePackedList))) {
      return false;
    }
  }
  return variable_takes_plain_number(variable);
}

// The store dispatch; plain_fused is the plain target of "=2", which tests the source's
// kinds in its own order and never marks an array as receiving an object.
void dispatch(ValueCell* target, ValueCell* value, bool plain_fused) {
  Variable* variable = target_variable(target);
  if (!variable) return;
  int32_t size = value->text ? text_block_size(value->text, value->flags & kCellWideText)
                             : (target->variable ? target->variable->type_code : -1);
  void* typed = address(target->data);
  Variable* source = value->variable;
  bool target_reference = target->flags & kCellByReference;
  bool value_reference = value->flags & kCellByReference;
  if (source) {
    if (!plain_fused && is_array(variable) && (source->flags & kVariableObject)) {
      variable->flags |= kVariableArrayFromObject;
      set_variable(variable, nullptr, value->number, typed, size);
      push_assigned_value(variable);
      return;
    }
    if (!target_reference && !value_reference) {
      if (value->data) {
        set_variable(variable, value->text, value->number, typed, size);
      } else if (plain_fused) {
        if (is_array(source) && !(source->flags & kVariableStructure)) variable_copy_array(variable, source, 0, false);
        else if (source->flags & kVariableStructure) variable_copy_struct(variable, source, 0, false);
        else if (source->flags & kVariableObject) construct_object(variable, source);
        else if (source->flags & kVariablePackedList) variable_copy_packed_list(variable, source, 0, false);
        else set_variable(variable, value->text, value->number, typed, size);
      } else if (source->flags & kVariableStructure) {
        variable_copy_struct(variable, source, 0, false);
      } else if (is_array(source)) {
        variable_copy_array(variable, source, 0, false);
      } else if (source->flags & kVariablePackedList) {
        variable_copy_packed_list(variable, source, 0, false);
      } else if (is_array(variable) || !(source->flags & kVariableObject)) {
        set_variable(variable, value->text, value->number, typed, size);
      } else {
        construct_object(variable, source);
      }
    } else if (!target_reference || target->data) {
      set_variable(variable, value->text, value->number, typed, size);
    } else {
      if (value_reference && !value->data) variable->alias = source;
      else if (!value_reference) replace_value(variable, value, source, size);
      store_to_element(variable);
    }
  } else if (!target_reference || target->data) {
    if ((value->flags & kCellList) && value->text) {
      if (target->data && !(variable->flags & kVariablePackedList)) {
        // Only an item of a packed list has room for a list; a typed field or an array
        // element holds a number or a text's address.
        runtime_error("A list cannot be stored in a field of [%s]", variable->name ? variable->name : "");
        free_chain(value);
      } else if (target->data) {
        if (packed_item_store.set_list) packed_item_store.set_list(typed, value->text, &variable->references);
      } else {
        store_packed_list(variable, value->text);
      }
      free_chain(value);
    } else if (target->data && (variable->flags & kVariablePackedList)) {
      if (packed_item_store.set_value) packed_item_store.set_value(typed, value->text, value->number, &variable->references);
    } else if (!take_sole_text(variable, value, typed)) {
      set_variable(variable, value->text, value->number, typed, size);
      if (value->references) {
        copy_references_to_variable(value->references, value->text, variable);
        free_chain(value);
      }
    }
  } else if (!value_reference) {
    replace_value(variable, value, nullptr, size);
    store_to_element(variable);
  } else {
    store_to_element(variable);
  }
  mark_text_width(variable, value, target->data);
  push_assigned_value(variable);
}

}  // namespace

Variable* instruction_variable() {
  InstructionNode* node = current_instruction;
  if (!node || !node->text) return nullptr;
  // The push cache, which also checks that the cached record still carries the name.
  Variable* variable = instruction_variable(node);
  if (!alias_follow_suppressed) return follow_alias(variable);
  alias_follow_suppressed = 0;
  return variable;
}

void* variable_typed_address(const Variable* variable) {
  if (!variable) return nullptr;
  if (variable->type_code || variable->owner || (variable->flags & (kVariablePackedList | kVariableAdopted))) {
    return variable->data;
  }
  return nullptr;
}

void push_assigned_value(Variable* variable) {
  if (!push_after_assign) return;
  push_after_assign = 0;
  stack_push_variable_value(variable);
}

void assign_cell(ValueCell* target, ValueCell* value) { dispatch(target, value, false); }

void op_assign() {
  ValueCell* value = stack_pop(current_program);
  ValueCell* target = stack_pop(current_program);
  dispatch(target, value, false);
}

void op_assign2() {
  ValueCell* value = stack_pop(current_program);
  Variable* variable = instruction_variable();
  if (!variable) return;
  if (current_instruction->operand == 0 && plain_number_store(variable, value)) {
    variable->number = value->number;
    variable->flags &= ~kVariableWideText;
    push_assigned_value(variable);
    return;
  }
  ValueCell target{};
  target.variable = variable;
  bool by_reference = current_instruction->operand != 0;
  if (by_reference) {
    target.flags = kCellByReference;
  } else if (!(variable->flags & kVariablePackedList)) {
    // A packed-list variable takes a new list whole, not into its first item.
    target.data = platform::address_of(variable_typed_address(variable));
  }
  dispatch(&target, value, !by_reference);
}

void op_assign3() {
  Variable* variable = instruction_variable();
  if (!variable) return;
  set_variable(variable, nullptr, current_instruction->operand, nullptr, variable->type_code);
  push_assigned_value(variable);
}

void op_assign4() {
  Variable* variable = instruction_variable();
  if (!variable) return;
  void* text = address(static_cast<uint32_t>(truncate_to_int(current_instruction->operand)));
  if (text) {
    set_variable(variable, text, 0, nullptr, text_block_size(text, false));
    ValueCell narrow{};
    narrow.text = text;
    mark_text_width(variable, &narrow, 0);
  } else {
    set_variable(variable, nullptr, 0, nullptr, 0);
  }
  push_assigned_value(variable);
}

void op_assign5() {
  ValueCell* target = stack_pop(current_program);
  Variable* variable = target_variable(target);
  if (!variable) return;
  ValueCell constant{};
  int32_t size = -1;
  if (current_instruction->text) {
    constant.text = current_instruction->text;
    size = text_block_size(constant.text, false);
  } else {
    constant.number = current_instruction->operand;
  }
  void* typed = address(target->data);
  if (target->data) {
    if (variable->flags & kVariablePackedList) {
      if (packed_item_store.set_value) {
        packed_item_store.set_value(typed, constant.text, constant.number, &variable->references);
      }
    } else {
      set_variable(variable, constant.text, constant.number, typed, size);
    }
  } else if (target->flags & kCellByReference) {
    replace_value(variable, &constant, nullptr, size);
    store_to_element(variable);
  } else {
    set_variable(variable, constant.text, constant.number, nullptr, size);
    mark_text_width(variable, &constant, 0);
  }
}

void op_massign() {
  ProgramContext* context = current_program;
  ValueCell* count_cell = stack_pop(context);
  double count_value = count_cell->text && !(count_cell->flags & (kCellWideText | kCellList))
                           ? text_to_number(static_cast<const char*>(count_cell->text))
                           : count_cell->number;
  int32_t count = truncate_to_int(count_value);
  ValueCell* mark;
  if (!stack_take_mark(context, &mark)) {
    push_after_assign = 0;
    return;
  }
  int32_t values = 0;
  for (ValueCell* cell = context->stack_top; cell && cell != mark; cell = cell->below) ++values;
  if (count > kMultipleSlots) {
    runtime_error("Multiple assignment to %d targets: at most %d are possible", count, kMultipleSlots);
    context->stack_top = mark;
    for (int32_t index = 0; index < count && context->stack_top; ++index) stack_pop(context);
    push_after_assign = 0;
    return;
  }
  // Values beyond the targets' count are dropped, so they are never taken as targets;
  // the targets receive the first values.
  while (values > count && values > 0) {
    ValueCell* surplus = stack_pop(context);
    if (surplus->references) reference_list_free(surplus->references);
    surplus->references = nullptr;
    --values;
  }
  for (; values < count; ++values) stack_push_number(context, 0);
  if (count < 1) {
    push_after_assign = 0;
    return;
  }
  // The values and targets are copied out before any store: a store that pushes its
  // result reuses the cells the stack gave back.
  ValueCell value_table[kMultipleSlots];
  ValueCell target_table[kMultipleSlots];
  for (int32_t index = 0; index < count; ++index) {
    ValueCell* cell = stack_pop(context);
    value_table[index] = *cell;
    cell->references = nullptr;
  }
  for (int32_t index = 0; index < count; ++index) {
    ValueCell* cell = stack_pop(context);
    target_table[index] = *cell;
    cell->references = nullptr;
  }
  uint8_t push = push_after_assign;
  for (int32_t index = 0; index < count; ++index) {
    push_after_assign = push;
    dispatch(&target_table[index], &value_table[index], false);
    free_chain(&value_table[index]);
  }
  push_after_assign = 0;
}

void op_set_push() { push_after_assign = 1; }

void op_validint() {
  ProgramContext* context = current_program;
  ValueCell* mark;
  if (!stack_take_mark(context, &mark)) {
    stack_push_number(context, 0);
    return;
  }
  int32_t count = 0;
  bool passed = true;
  while (context->stack_top && context->stack_top != mark) {
    ValueCell* cell = stack_pop(context);
    ++count;
    if (!passed) continue;
    if (!cell->text) {
      passed = is_numeric_text(cell_text(cell)) != 0;
    } else if (cell->flags & kCellWideText) {
      char* narrow = to_narrow(static_cast<const char16_t*>(cell->text));
      passed = narrow && is_numeric_text(narrow);
      crt::free(narrow);
    } else {
      passed = (cell->flags & kCellList) ? false : is_numeric_text(static_cast<const char*>(cell->text)) != 0;
    }
  }
  if (context->stack_top != mark) runtime_error("Argument list without a stack mark");
  stack_push_number(context, count > 0 && passed ? 1 : 0);
}

void register_assignment_handlers() {
  builtin_register("=", op_assign);
  builtin_register("M=", op_massign);
  builtin_register("__set_push", op_set_push);
  builtin_register_variadic_ex("validint", op_validint, 1, 1, 1);
  instruction_handler_owns_second_text(op_assign4);
}
