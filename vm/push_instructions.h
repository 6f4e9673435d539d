// Push instructions: constants, texts and variable references onto the value stack,
// with the resolved variable cached in the instruction.
#pragma once

#include <cstdint>

#include "foundation/instruction_node.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/variable.h"
#include "platform/kernel/types.h"

// A cache pair stands for a lookup while the record still carries the name's hash (a
// released record has none; a reused one another hash) and the scope that holds it is one
// the running code reads directly: its own, the globals, the '%' list or the running object.
[[gnu::always_inline]] inline bool variable_cache_valid(const Variable* variable, uint32_t scope, uint32_t hash) {
  if (!variable || !variable->name || variable->hash != hash) return false;
  if (scope == platform::address_of(current_scope)) return true;
  if (current_program && scope == platform::address_of(current_program->globals)) return true;
  if (scope == platform::address_of(percent_variables)) return true;
  return current_object && scope == platform::address_of(current_object);
}

// The variable of the instruction's text when its first cache pair holds, else null
// (no lookup is made).
[[gnu::always_inline]] inline Variable* cached_first_variable(const InstructionNode* node) {
  const InstructionExtension* extension = node->extension;
  if (extension && variable_cache_valid(extension->cached_variable, extension->cached_scope, node->text_hash)) {
    return extension->cached_variable;
  }
  return nullptr;
}

// The same for the owned second text of a two-variable push (its hash is in flags).
[[gnu::always_inline]] inline Variable* cached_second_variable(const InstructionNode* node) {
  const InstructionExtension* extension = node->extension;
  if (extension && extension->flags &&
      variable_cache_valid(extension->cached_variable2, extension->cached_scope2, extension->flags)) {
    return extension->cached_variable2;
  }
  return nullptr;
}

// When a cache pair does not hold: the variable found again at the position the pair
// keeps (local_position) in the current scope, which the pair then takes; else null.
// Each level of a recursion has a local scope of its own, built alike, so a local sits
// there again; what is taken is what a lookup would give. Nothing else is searched and
// nothing can fault. Out of line, so that the pair's own check stays small.
Variable* relocated_first_variable(const InstructionNode* node);
// The same for the second pair of a two-variable push.
Variable* relocated_second_variable(const InstructionNode* node);

// The variable of a cache pair, or the one found again at its local position.
[[gnu::always_inline]] inline Variable* held_first_variable(const InstructionNode* node) {
  if (Variable* variable = cached_first_variable(node)) return variable;
  return relocated_first_variable(node);
}
[[gnu::always_inline]] inline Variable* held_second_variable(const InstructionNode* node) {
  if (Variable* variable = cached_second_variable(node)) return variable;
  return relocated_second_variable(node);
}

// The position a cache pair keeps for a variable that a full lookup by hash found: 1 + its
// index in the current scope, 0 when it is not there (or an object runs).
uint8_t local_position_of(const Variable* variable, uint32_t hash);

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
