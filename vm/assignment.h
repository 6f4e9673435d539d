// Assignment: "=" with its store dispatch over the kinds of value and target, the fused
// assignments, multiple assignment "M=", "__set_push" and "validint".
#pragma once

#include <cstdint>

#include "foundation/value_cell.h"
#include "foundation/variable.h"

// One-shot: the next assignment pushes the assigned variable's value, then clears it.
extern uint8_t push_after_assign;

// Hooks of the packed-list layer for stores into one item of a packed list; while they
// are null such a store keeps the item's old content.
struct PackedItemStore {
  // Frees the item's old content and stores a registered copy of text, or the number.
  void (*set_value)(void* item, void* text, double number, ReferenceNode** references);
  // Frees the item's old content and stores a registered deep copy of list.
  void (*set_list)(void* item, void* list, ReferenceNode** references);
};
extern PackedItemStore packed_item_store;

// The variable the current instruction's text names, resolved as a variable push
// resolves it: cached in the instruction's extension, found or declared on a miss, and
// its alias chain followed unless alias_follow_suppressed is set (which it clears).
Variable* instruction_variable();
// Where a fused instruction reads or writes its variable: the data block of a typed,
// owned, packed-list or adopted-data variable, else null.
void* variable_typed_address(const Variable* variable);

// Stores value into the target cell's variable by the kinds of both (the dispatch of "=").
void assign_cell(ValueCell* target, ValueCell* value);
// When push_after_assign is set: pushes the variable's value (the end of its alias chain
// unless alias_follow_suppressed is set) as a variable cell and clears the switch.
void push_assigned_value(Variable* variable);

// "=": pops the value, then the target, and stores.
void op_assign();
// "=2": pops the value and stores it into the instruction's variable; a non-zero operand
// makes the target by-reference.
void op_assign2();
// "=3": stores the instruction's number into its variable.
void op_assign3();
// "=4": stores the text whose address the instruction's number holds.
void op_assign4();
// "=5": pops a target and stores the instruction's constant (its text, else its number);
// never pushes.
void op_assign5();
// "M=": pops the count, the values above the innermost mark and as many targets; the
// first target receives the first value, missing values are the number 0.
void op_massign();
// "__set_push": the next assignment yields its value.
void op_set_push();
// "validint": 1 when every argument reads as a number (and there is one), else 0.
void op_validint();

// Registers "=", "M=", "__set_push" and "validint" by name and marks "=4" as owning the
// text its operand addresses.
void register_assignment_handlers();
