// The handler of each opcode: the code generator and the compiled-file reader give a node
// of opcode n the entry n.
#pragma once

#include <cstdint>

#include "foundation/instruction_node.h"

// Opcodes whose nodes carry their own handler (built-in calls) or none (data nodes) have 0.
constexpr int32_t kOpcodeHandlerSlots = 200;
extern BuiltinHandler OpcodeHandlerTable[kOpcodeHandlerSlots];

// Fills the table from the machine's instruction handlers and, for the opcodes that share a
// built-in's handler, from the registry: call it after every built-in is registered.
void opcode_handler_table_fill();
