// Calls of declared library functions: marshalling of the script's arguments into 32-bit
// native words, the call with the C convention, and the 68 call handlers.
#pragma once

#include <cstdint>

#include "foundation/instruction_node.h"

constexpr int32_t kExternalArgumentSlots = 16;

// Native arguments of the call being made; slot 1 holds the first argument (slot 0 unused).
extern int32_t external_argument_slots[kExternalArgumentSlots + 1];
// UTF-16 copies made for the call being made, with their count.
extern void* marshal_temporaries[kExternalArgumentSlots];
extern int32_t marshal_temporary_count;

// Pops count cells (the last argument first) into slots count down to 1: numbers
// truncated to 32 bits, texts by address or, with wide set, as recorded UTF-16 copies.
void marshal_external_arguments(int32_t count, uint8_t wide);
// Frees every recorded UTF-16 copy, last recorded first, and nulls its entry.
void free_marshal_temporaries();

// The handler of an external-call opcode (109 to 176), or null outside that range.
BuiltinHandler external_call_handler(uint32_t opcode);
// The handler family and argument count in opcode order: procedures then functions of
// the #DECLARE forms, then of the C forms, each for 0 to 16 arguments.
constexpr uint32_t kFirstExternalCallOpcode = 109;
constexpr uint32_t kLastExternalCallOpcode = 176;

// Makes the 68 handlers known to the instruction list: their node's text is the
// registry's name, not the node's own.
void register_external_call_handlers();

// The handlers, by family and argument count.
#define ZRK_EXTERNAL_CALL_DECLARE(N) \
  void op_scallp##N();               \
  void op_scallf##N();               \
  void op_callp##N();                \
  void op_callf##N();
ZRK_EXTERNAL_CALL_DECLARE(0)
ZRK_EXTERNAL_CALL_DECLARE(1)
ZRK_EXTERNAL_CALL_DECLARE(2)
ZRK_EXTERNAL_CALL_DECLARE(3)
ZRK_EXTERNAL_CALL_DECLARE(4)
ZRK_EXTERNAL_CALL_DECLARE(5)
ZRK_EXTERNAL_CALL_DECLARE(6)
ZRK_EXTERNAL_CALL_DECLARE(7)
ZRK_EXTERNAL_CALL_DECLARE(8)
ZRK_EXTERNAL_CALL_DECLARE(9)
ZRK_EXTERNAL_CALL_DECLARE(10)
ZRK_EXTERNAL_CALL_DECLARE(11)
ZRK_EXTERNAL_CALL_DECLARE(12)
ZRK_EXTERNAL_CALL_DECLARE(13)
ZRK_EXTERNAL_CALL_DECLARE(14)
ZRK_EXTERNAL_CALL_DECLARE(15)
ZRK_EXTERNAL_CALL_DECLARE(16)
#undef ZRK_EXTERNAL_CALL_DECLARE
