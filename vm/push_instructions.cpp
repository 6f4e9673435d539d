// The push instructions: constants and texts carried by the instruction, and variable
// references resolved once per scope and cached in the instruction's extension.
#include "vm/push_instructions.h"

#include <cstring>
#include <initializer_list>

#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/kernel/types.h"
#include "vm/instruction_list.h"
#include "vm/machine.h"

namespace {

inline void push_text(void* text) {
  ProgramContext* program = current_program;
  ValueCell* cell = stack_push_cell(program, false);
  if (cell) cell_hold_plain(cell, 0, text);
}

inline void push_number(double number) { stack_push_number(current_program, number); }

// A variable that a lookup found at position (1 + its index) of a local scope, looked for
// there in the current scope: with no object running, locals come first and the first
// record of the current scope with the hash and the scope key is the one a lookup finds.
// Each level of a recursion has a scope of its own, built alike, so the variable sits
// there again. key is the scope key of the node the pair belongs to: its own handler looks
// the name up with it, also when a fused group reads the node's variable from its head.
// Both must match: in a procedure inside a namespace every local has the key, and the
// hash is what tells the name. The pair takes what is found; null when it is not within
// that position.
[[gnu::always_inline]] inline Variable* relocated_local(uint8_t position, uint32_t hash, uint32_t key,
                                                       Variable** cached_variable, uint32_t* cached_scope) {
  if (!position || !hash || current_object) return nullptr;
  Variable* record = current_scope;
  for (uint32_t index = 0; record && index < position; ++index, record = record->next) {
    if (record->hash != hash || record->scope_key != key) continue;
    if (!record->name) return nullptr;
    *cached_variable = record;
    *cached_scope = platform::address_of(record->scope);
    return record;
  }
  return nullptr;
}

// first_variable when the first cache pair does not hold.
[[gnu::noinline]] Variable* first_variable_miss(InstructionNode* node) {
  InstructionExtension* extension = node->extension;
  if (!extension) {
    // The compiler gives every variable push an extension; without one nothing is cached.
    Variable* scratch = nullptr;
    uint32_t scope = 0;
    return resolve_cached_variable(node->text, 0, &scratch, &scope);
  }
  // A scope the cache did not see (a recursive call's): the variable is looked for where
  // it was in the last one, then the instruction's hash finds it without hashing the name
  // again; a miss (no such variable yet, or a name whose hash differs from the
  // instruction's) takes the full path.
  if (Variable* found = relocated_first_variable(node)) return found;
  if (node->text_hash) {
    Variable* found = find_variable(node->text, node->text_hash);
    if (found && found->hash == node->text_hash) {
      extension->cached_variable = found;
      extension->cached_scope = platform::address_of(found->scope);
      extension->local_position = local_position_of(found, node->text_hash);
      return found;
    }
  }
  extension->local_position = 0;
  return resolve_cached_variable(node->text, 0, &extension->cached_variable, &extension->cached_scope);
}

// The variable of the instruction's text through the first cache pair.
inline Variable* first_variable(InstructionNode* node) {
  if (Variable* variable = cached_first_variable(node)) return variable;
  return first_variable_miss(node);
}

// second_variable when the second cache pair does not hold.
[[gnu::noinline]] Variable* second_variable_miss(InstructionNode* node) {
  const char* name = instruction_second_text(node);
  InstructionExtension* extension = node->extension;
  if (!extension) {
    Variable* scratch = nullptr;
    uint32_t scope = 0;
    return resolve_cached_variable(name, 0, &scratch, &scope);
  }
  if (Variable* found = relocated_second_variable(node)) return found;
  const uint32_t hash = name ? variable_name_hash(name) : 0;
  Variable* variable = resolve_cached_variable(name, hash, &extension->cached_variable2, &extension->cached_scope2);
  extension->flags = hash;
  extension->local_position2 = local_position_of(variable, hash);
  return variable;
}

// The variable of the owned second text through the second cache pair. The extension's
// flags word, which nothing else uses on a push, keeps the second name's hash.
inline Variable* second_variable(InstructionNode* node) {
  if (Variable* variable = cached_second_variable(node)) return variable;
  return second_variable_miss(node);
}

// The pushes of a variable reference, with or without the alias walk.
inline void push_first(InstructionNode* node, bool follow) {
  Variable* variable = first_variable(node);
  if (!follow) alias_follow_suppressed = 1;
  push_variable_reference(variable);
}
inline void push_second(InstructionNode* node, bool follow) {
  Variable* variable = second_variable(node);
  if (!follow) alias_follow_suppressed = 1;
  push_variable_reference(variable);
}

}  // namespace

char* instruction_second_text(const InstructionNode* node) {
  return platform::pointer_from<char>(static_cast<uint32_t>(truncate_to_int(node->operand)));
}

Variable* resolve_cached_variable(const char* name, uint32_t hash, Variable** cached_variable,
                                  uint32_t* cached_scope) {
  if (!name) return nullptr;
  if (!hash) hash = variable_name_hash(name);
  Variable* variable = find_variable(name, hash);
  if (!variable) variable = get_variable(current_scope, name);
  if (!variable) return nullptr;
  // The scope that holds the record, even while a method runs: keyed on the running
  // object, a local of a procedure the method calls would stay cached for every deeper
  // level of a recursion, which would then read the first level's record.
  *cached_variable = variable;
  *cached_scope = platform::address_of(variable->scope);
  return variable;
}

[[gnu::noinline]] Variable* relocated_first_variable(const InstructionNode* node) {
  InstructionExtension* extension = node->extension;
  if (!extension) return nullptr;
  return relocated_local(extension->local_position, node->text_hash, extension->scope_key,
                         &extension->cached_variable, &extension->cached_scope);
}

[[gnu::noinline]] Variable* relocated_second_variable(const InstructionNode* node) {
  InstructionExtension* extension = node->extension;
  if (!extension) return nullptr;
  return relocated_local(extension->local_position2, extension->flags, extension->scope_key,
                         &extension->cached_variable2, &extension->cached_scope2);
}

uint8_t local_position_of(const Variable* variable, uint32_t hash) {
  if (!variable || current_object || !hash || variable->hash != hash) return 0;
  // Only a scope of its own: the globals and the '%' list are cached by their address.
  const Variable* scope = current_scope;
  if (!scope || variable->scope != scope || scope == percent_variables ||
      (current_program && scope == current_program->globals)) {
    return 0;
  }
  const Variable* record = scope;
  for (uint8_t position = 1; record && position < UINT8_MAX; ++position, record = record->next) {
    if (record == variable) return position;
  }
  return 0;
}

Variable* instruction_variable(InstructionNode* node) { return first_variable(node); }

void push_variable_reference(Variable* variable) { stack_push_variable_value(variable); }

void op_pushstr() { push_text(current_instruction->text); }

void op_pushint() { push_number(current_instruction->operand); }

void op_pushprocaddr() { push_number(current_instruction->operand); }

void op_pushintstr() {
  InstructionNode* node = current_instruction;
  push_number(node->operand);
  push_text(node->text);
}

void op_pushstrint() {
  InstructionNode* node = current_instruction;
  push_text(node->text);
  push_number(node->operand);
}

void op_pushintint() {
  InstructionNode* node = current_instruction;
  double first = 0;
  if (node->text) std::memcpy(&first, node->text, sizeof first);
  push_number(first);
  push_number(node->operand);
}

void op_pushstrstr() {
  InstructionNode* node = current_instruction;
  push_text(instruction_second_text(node));
  push_text(node->text);
}

void op_pushvar() { push_first(current_instruction, true); }

void op_ngpushvar() { push_first(current_instruction, false); }

void op_pushintvar() {
  InstructionNode* node = current_instruction;
  push_number(node->operand);
  push_first(node, true);
}

void op_pushvarint() {
  InstructionNode* node = current_instruction;
  push_first(node, true);
  push_number(node->operand);
}

void op_pushngvarint() {
  InstructionNode* node = current_instruction;
  push_first(node, false);
  push_number(node->operand);
}

void op_pushvarstr() {
  InstructionNode* node = current_instruction;
  push_second(node, true);
  push_text(node->text);
}

void op_pushngvarstr() {
  InstructionNode* node = current_instruction;
  push_second(node, false);
  push_text(node->text);
}

void op_pushstrvar() {
  InstructionNode* node = current_instruction;
  push_text(instruction_second_text(node));
  push_first(node, true);
}

void op_pushvarvar() {
  InstructionNode* node = current_instruction;
  push_second(node, true);
  push_first(node, true);
}

void op_ngpushvarvar() {
  InstructionNode* node = current_instruction;
  push_second(node, false);
  push_first(node, false);
}

void register_push_handlers() {
  for (BuiltinHandler handler : {op_pushvarstr, op_pushngvarstr, op_pushvarvar, op_pushstrstr, op_pushstrvar,
                                 op_ngpushvarvar}) {
    instruction_handler_owns_second_text(handler);
  }
}
