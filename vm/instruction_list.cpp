// Instruction chains: appending nodes with their extensions, removing nodes with
// retargeting of the jumps to them, and freeing whole chains.
#include "vm/instruction_list.h"

#include "vm/fusion.h"

#include <cstring>

#include "foundation/hashes.h"
#include "foundation/numbers.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/machine.h"

namespace {

// The 68 external-call handlers, the eight two-text handlers and one FOREACH handler:
// small fixed sets, scanned only when a node is freed.
constexpr int kBorrowingSlots = 80;
constexpr int kSecondTextSlots = 16;
BuiltinHandler borrowing_handlers[kBorrowingSlots];
int borrowing_count = 0;
BuiltinHandler second_text_handlers[kSecondTextSlots];
int second_text_count = 0;
BuiltinHandler loop_chain_handler = nullptr;
constexpr int kLinkUserSlots = 16;
BuiltinHandler link_user_handlers[kLinkUserSlots];
int link_user_count = 0;
void (*loop_chain_release)(uint32_t chain) = nullptr;

bool in_set(const BuiltinHandler* set, int count, BuiltinHandler handler) {
  if (!handler) return false;
  for (int index = 0; index < count; ++index) {
    if (set[index] == handler) return true;
  }
  return false;
}

void add_to_set(BuiltinHandler* set, int* count, int capacity, BuiltinHandler handler) {
  if (!handler || in_set(set, *count, handler) || *count >= capacity) return;
  set[(*count)++] = handler;
}

bool node_matches(const InstructionNode* node, const BuiltinHandler* set, int count) {
  return in_set(set, count, unfused_handler(node->handler)) || in_set(set, count, node->inner_handler);
}

InstructionExtension* ensure_extension(Pool* pool, InstructionNode* node) {
  if (!node->extension) {
    node->extension = static_cast<InstructionExtension*>(pool_alloc(pool, 0, sizeof(InstructionExtension)));
  }
  return node->extension;
}

// The interned lower-case copy of name, leaving the caller's text untouched.
char* interned_copy(const char* name) {
  char* copy = crt::_strdup(name);
  if (!copy) return nullptr;
  char* interned = intern_name(copy);
  crt::free(copy);
  return interned;
}

}  // namespace

void instruction_handler_borrows_text(BuiltinHandler handler) {
  add_to_set(borrowing_handlers, &borrowing_count, kBorrowingSlots, handler);
}

void instruction_handler_owns_second_text(BuiltinHandler handler) {
  add_to_set(second_text_handlers, &second_text_count, kSecondTextSlots, handler);
}

void instruction_handler_owns_loop_chain(BuiltinHandler handler, void (*release)(uint32_t chain)) {
  loop_chain_handler = handler;
  loop_chain_release = release;
}

void emit_instruction_node(InstructionNode** list_tail, BuiltinHandler handler, const char* text, double operand,
                           InstructionNode* link, uint32_t opcode, const char* name_operand, uint32_t flags,
                           uint32_t kind) {
  if (!emit_pool || !list_tail) return;
  auto* node = static_cast<InstructionNode*>(pool_alloc(emit_pool, 0, sizeof(InstructionNode)));
  if (!node) return;
  if (text) {
    node->text = crt::_strdup(text);
    if (node->text) node->text_hash = hash_name(node->text, static_cast<int32_t>(std::strlen(node->text)));
  }
  node->operand = operand;
  node->handler = handler;
  node->opcode = opcode;
  // A node with a text may name a variable or procedure: its extension holds what the
  // name resolves to, so running it again needs no lookup.
  if (link || emit_scope_key || name_operand || flags || kind || text) {
    InstructionExtension* extension = ensure_extension(emit_pool, node);
    if (extension) {
      extension->name_operand = name_operand ? interned_copy(name_operand) : nullptr;
      extension->flags = flags;
      extension->kind = static_cast<uint16_t>(kind);
      if (link) {
        extension->link = link;
        InstructionExtension* target = ensure_extension(emit_pool, link);
        if (target) target->is_jump_target = 1;
      }
      extension->scope_key = emit_scope_key;
    }
  }
  node->previous = *list_tail;
  if (*list_tail) (*list_tail)->next = node;
  *list_tail = node;
}

InstructionNode* free_instruction_node(Pool* pool, InstructionNode** list_tail, InstructionNode* node,
                                       uint8_t retarget) {
  if (!node) return nullptr;
  InstructionNode* previous = node->previous;
  if (previous) previous->next = node->next;
  if (node->next) node->next->previous = previous;
  if (*list_tail == node) *list_tail = previous;

  if (retarget && node->extension && node->extension->is_jump_target) {
    for (InstructionNode* jump = *list_tail; jump; jump = jump->previous) {
      if (!jump->extension || jump->extension->link != node) continue;
      jump->extension->link = previous;
      // Without a predecessor the jump has nowhere to go; its link is cleared.
      if (previous) {
        InstructionExtension* target = ensure_extension(pool, previous);
        if (target) target->is_jump_target = 1;
      }
    }
  }

  if (loop_chain_handler && node->handler == loop_chain_handler && loop_chain_release && node->work) {
    loop_chain_release(node->work);
  }
  if (!node_matches(node, borrowing_handlers, borrowing_count)) crt::free(node->text);
  if (node_matches(node, second_text_handlers, second_text_count)) {
    crt::free(platform::pointer_from<char>(static_cast<uint32_t>(truncate_to_int(node->operand))));
  }
  if (node->extension) pool_free(pool, node->extension);
  pool_free(pool, node);
  return previous;
}

void free_instruction_list(ProgramContext* program, InstructionNode* last) {
  InstructionNode* tail = last;
  while (tail) free_instruction_node(program->pool, &tail, tail, 0);
}

void instruction_handler_uses_link(BuiltinHandler handler) {
  add_to_set(link_user_handlers, &link_user_count, kLinkUserSlots, handler);
}

bool instruction_handler_keeps_link(BuiltinHandler handler) {
  return in_set(link_user_handlers, link_user_count, unfused_handler(handler));
}
