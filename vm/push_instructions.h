// Push instructions: constants, texts and variable references onto the value stack,
// with the resolved variable cached in the instruction.
#pragma once

#include <cstdint>

#include "foundation/instruction_node.h"
#include "foundation/variable.h"

// The owned second text of a fused two-text instruction: its operand holds the address.
char* instruction_second_text(const InstructionNode* node);

// The variable named name (hash: its hash_name, 0 to compute it) as seen from the running
// code, taken from the cache pair when it is still valid, else looked up (declared in the
// current scope when missing) and stored in the pair. A cached record is used only while
// it still carries the name it was resolved by, so a variable released or renamed since
// is resolved again. Null for a name that names no variable.
Variable* resolve_cached_variable(const char* name, uint32_t hash, Variable** cached_variable,
                                  uint32_t* cached_scope);

// The variable the instruction's own text names, through its first cache pair: what a
// variable push of that instruction would push, before any alias walk.
Variable* instruction_variable(InstructionNode* node);

// Pushes a reference cell: the variable (after its alias chain unless the one-shot
// alias_follow_suppressed is set, which is then cleared) with a snapshot of its value.
void push_variable_reference(Variable* variable);

void op_pushstr();
void op_pushint();
void op_pushprocaddr();
void op_pushintstr();
void op_pushstrint();
void op_pushintint();
void op_pushstrstr();
void op_pushvar();
void op_ngpushvar();
void op_pushintvar();
void op_pushvarint();
void op_pushngvarint();
void op_pushvarstr();
void op_pushngvarstr();
void op_pushstrvar();
void op_pushvarvar();
void op_ngpushvarvar();

// Marks the fused push handlers whose operand owns a second text, so that releasing
// such a node frees it.
void register_push_handlers();
