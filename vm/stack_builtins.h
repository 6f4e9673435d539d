// Stack marks and the built-ins that use the value stack directly: the mark savers the
// compiler plants before variadic calls, and push, pull, countstack, dupstack, dropstack and
// clearstack.
#pragma once

#include <cstdint>

// Saves one stack mark (more than the mark table holds are refused with a run-time
// error), then runs the instruction's inner handler.
void builtin_savesp();
// Saves the same top as two marks, then runs the inner handler; both or neither.
void builtin_savesp2();
// push(a, b, ...): takes the mark only, so the arguments stay, the first lowest.
void builtin_push();
// pull(a, b, ...): assigns the values below the mark to the arguments, the first argument
// the value pushed last; arguments beyond the values left get nothing. More than
// kPullArgumentSlots arguments are refused with a run-time error.
constexpr int32_t kPullArgumentSlots = 1024;
void builtin_pull();
// countstack(v): v becomes the number of cells on the stack below its own argument.
// An argument that names no variable (and cannot declare one) changes nothing.
void builtin_countstack();
// dupstack(): pushes a copy of the top cell's value with flags 0.
void builtin_dupstack();
// dropstack(): runs the inner handler, then removes the top cell and frees its list of
// temporary references.
void stack_drop();
// clearstack(): frees every cell of the stack.
void builtin_clearstack();

// Registers the built-ins above by their script names.
void register_stack_builtins();
