// Switches and entry points the comparison and increment operators share with the
// assignment and element-wise units, which are built beside them.
#pragma once

#include <cstdint>

#include "foundation/value_cell.h"
#include "foundation/variable.h"

// One-shot: the next assignment-like operation pushes the assigned variable's value
// ("__set_push" sets it); every operation that honours it clears it.
extern uint8_t push_after_assign;

// Element-wise operation of two cells when either holds a packed list: 1 when it pushed
// the resulting list, 0 when both are scalars. Null until the element-wise unit is linked
// in; packed lists then compare like other texts.
extern int (*elementwise_operator_hook)(char code, ValueCell* left, ValueCell* right);
// The packed list of the cell combined with one number, pushed as a list cell.
extern int (*elementwise_push_scalar_hook)(char code, ValueCell* list, double number);
// Replaces the packed list held by variable with each element combined with number.
extern void (*packed_list_variable_step_hook)(Variable* variable, char code, double number);
