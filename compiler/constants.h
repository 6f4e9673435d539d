// Compile-time constants (definitions, predefined symbols, imported names) and the test
// for words that open a block.
#pragma once

#include <cstdint>

struct CompileConstant {
  uint32_t name_hash;  // hash_name of the upper-cased name
  char* value;         // crt::malloc'd, owned
  uint8_t owner;       // 0: this compilation only; nonzero: kept across compilations
};

constexpr int32_t kCompileConstantSlots = 16384;

// Slots below the count may be empty (null).
extern CompileConstant* CompileConstantTable[kCompileConstantSlots];
extern int32_t compile_constant_count;
// The owner given to new constants: 0 by default and after #LOCALS, nonzero after #GLOBALS.
extern uint8_t compile_constant_scope;

// Upper-cases name in place and stores value (ownership passes in) under its hash: an
// equal existing value is kept as it is, a different one replaced with the current scope
// as owner, a new name takes the lowest empty slot. Returns the slot; -1 when the table
// is full (the value is then freed).
int32_t define_compile_constant(char* name, char* value);
// The highest slot whose hash is hash; -1 when none.
int32_t find_compile_constant(uint32_t hash);
// Frees the constant in slot and empties it (lowering the count when it was the last).
void remove_compile_constant(int32_t slot);
// Drops every constant of the owner.
void drop_compile_constants(uint8_t owner);
// The lowest empty slot below the count; -1 when none.
int32_t lowest_empty_constant_slot();
// True for the hashes of IF, WHILE, REPEAT, FOREACH, FOREACHREV, FOR, CASE and EXCEPT.
bool is_block_opening_word(uint32_t hash);
