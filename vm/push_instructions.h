// Push instructions: constants, texts and variable references onto the value stack,
// with the resolved variable cached in the instruction.
#pragma once

#include <cstdint>

#include "foundation/instruction_node.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/variable.h"
#include "platform/kernel/types.h"

// A cache pair is valid while its scope is one the running code sees without a lookup
// and the record still holds the name it was found by (a released record has none; a
// reused one another hash).
inline bool variable_cache_valid(const Variable* variable, uint32_t scope, uint32_t hash) {
  if (!variable || !variable->name || variable->hash != hash) return false;
  if (scope == platform::address_of(current_scope)) return true;
  if (current_program && scope == platform::address_of(current_program->globals)) return true;
  if (scope == platform::address_of(percent_variables)) return true;
  return current_object && scope == platform::address_of(current_object);
}

// A variable that a lookup found at position (1 + its index) of a local scope, looked for
// there in the current scope: with no object running, locals come first and the first
// record of the current scope with the hash and the scope key is the one a lookup finds.
// Each level of a recursion has a scope of its own, built alike, so the variable sits
// there again. Null when it is not within that position (or position is 0).
[[gnu::always_inline]] inline Variable* relocated_local(uint8_t position, uint32_t hash, uint32_t key) {
  if (!position || current_object) return nullptr;
  Variable* record = current_scope;
  for (uint32_t index = 0; record && index < position; ++index, record = record->next) {
    if (record->hash == hash && record->scope_key == key) return record->name ? record : nullptr;
  }
  return nullptr;
}

// The cache check past the current scope: the pair when it holds for another scope it may
// name (the globals, the '%' list, the running object), else null.
Variable* recheck_cached_variable(Variable* variable, uint32_t scope, uint32_t hash);

// The variable of a cache pair, its hash and local position, when the pair holds or the
// position finds the variable again (the pair then takes it), else null. Nothing is
// searched past that position and nothing can fault. The position is set only with a
// pair of a local scope, so the two never compete. key is the scope key of the node the
// pair belongs to: its own handler looks the name up with it, also when a fused group
// reads the node's variable from the group's head.
[[gnu::always_inline]] inline Variable* cached_variable_of(Variable** cached_variable, uint32_t* cached_scope,
                                                           uint32_t hash, uint8_t position, uint32_t key) {
  Variable* variable = *cached_variable;
  if (variable && variable->name && variable->hash == hash && *cached_scope == platform::address_of(current_scope)) {
    return variable;
  }
  if (Variable* found = relocated_local(position, hash, key)) {
    *cached_variable = found;
    *cached_scope = platform::address_of(found->scope);
    return found;
  }
  return recheck_cached_variable(variable, *cached_scope, hash);
}

// The variable of the instruction's text through its first cache pair, or null.
[[gnu::always_inline]] inline Variable* cached_first_variable(const InstructionNode* node) {
  InstructionExtension* extension = node->extension;
  if (!extension) return nullptr;
  return cached_variable_of(&extension->cached_variable, &extension->cached_scope, node->text_hash,
                            extension->local_position, extension->scope_key);
}

// The same for the owned second text of a two-variable push (its hash is in flags).
[[gnu::always_inline]] inline Variable* cached_second_variable(const InstructionNode* node) {
  InstructionExtension* extension = node->extension;
  if (!extension || !extension->flags) return nullptr;
  return cached_variable_of(&extension->cached_variable2, &extension->cached_scope2, extension->flags,
                            extension->local_position2, extension->scope_key);
}

// The position relocated_local looks at for a variable that a full lookup by hash
// found: 1 + its index in the current scope, 0 when it is not there (or an object runs).
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
