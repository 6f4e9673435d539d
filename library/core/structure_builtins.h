// Structures: a variable owning one record block, with one member variable per field
// that points at the field's place in the block (struct, restruct).
#pragma once

#include <cstdint>

struct Variable;

// The record size of a structure variable: the sizes of its members' types, a nested
// structure counted by its own members.
uint32_t structure_size(const Variable* structure);

// Registers struct and restruct.
void register_structure_builtins();
