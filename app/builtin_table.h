// The language's vocabulary: every built-in name in registration order with its
// parameter settings, and the one start-up routine that registers them all.
#pragma once

#include <cstdint>

#include "foundation/instruction_node.h"
#include "vm/opcode_handler_table.h"

// How a built-in's arguments are counted by the compiler.
enum BuiltinArity : uint8_t {
  kFixed,          // exactly param_count arguments
  kVariadic,       // any number, no stack mark
  kVariadicSaved,  // any number; the compiler saves a stack mark before the call
};

struct BuiltinTableRow {
  const char* name;
  BuiltinArity arity;
  uint8_t param_count;
  uint8_t returns_value;
  bool keyword;  // recognised by the statement compiler; no handler of its own
};

constexpr int32_t kBuiltinTableSize = 828;

// The row at index (0 .. kBuiltinTableSize - 1); the registry index of each name.
const BuiltinTableRow& builtin_table_row(int32_t index);

// Empties the registry and registers every name of the table in order, so a name's
// registry index is its row. A name gets the handler its unit registers (found by name
// hash), a keyword without one gets 0, any other name a placeholder that reports
// "<name> is not available". Names the units register beyond the table follow the table.
void register_all_builtins();

// True for a placeholder handler of a built-in whose subsystem is not built yet.
bool builtin_is_placeholder(BuiltinHandler handler);
// How many registry entries still carry a placeholder.
int32_t builtin_placeholders_remaining();
