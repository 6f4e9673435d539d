// Arrays and typed variables: raw types, clearing, row- or column-major order, dim, sdim,
// tdim and redim, and the element reads that indexed expressions compile to.
#pragma once

#include <cstdint>

struct Variable;

// Makes the variable a one-dimensional array of count zeroed numbers (its list binding and,
// for a member, its structure links are kept). False, after a run-time error, when the
// memory cannot be had.
bool dim_numeric(Variable* variable, uint32_t count);

// A zeroed block of count x size bytes; when memory is short the shell is asked once to
// free the bytes and the allocation is tried again. Null when it still fails or the size
// does not fit in 32 bits.
void* allocate_zeroed_block(uint32_t count, uint32_t size);

// Registers type, clear, columnmajor, rowmajor, dim, sdim, tdim, redim, __offset,
// __offset1 and __offsetvar, and the compiled element reads __offset2, __offset2_1 and
// __offset2_2.
void register_array_builtins();
