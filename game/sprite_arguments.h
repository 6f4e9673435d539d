// How the sprite built-ins take their arguments: procedures checked against the program,
// ids as text.
#pragma once

#include <cstdint>

struct InstructionNode;
struct ValueCell;

// Pops a procedure argument: null for 0; a number that is not one of the running program's
// procedures is reported as an error naming the built-in and gives null.
InstructionNode* pop_sprite_procedure(const char* builtin_name);
// An id argument as text: the cell's text, or its number as text; null for no id (the
// number 0 or an empty text).
const char* cell_id_text(const ValueCell* cell);
// Pushes a number result.
void push_sprite_result(double value);
