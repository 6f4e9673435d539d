// sort, split, lcopy, lcopyex and copy over the element chains of list variables.
#include "library/lists/list_sort_builtins.h"

#include <cstring>

#include "foundation/list_elements.h"
#include "foundation/list_sort.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "library/lists/list_cursor.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

// The name of the member variable of owner for member: owner's name without its type
// character, then the member's name from its first '.' (a '.' put in when it has none).
char* member_variable_name(const Variable* owner, const Variable* member) {
  const char* base = owner->name ? owner->name : "";
  size_t base_length = std::strlen(base);
  if (base_length) --base_length;
  const char* member_name = member->name ? member->name : "";
  const char* tail = std::strchr(member_name, '.');
  bool add_dot = !tail;
  if (!tail) tail = member_name;
  size_t tail_length = std::strlen(tail);
  auto* name = static_cast<char*>(crt::malloc(base_length + tail_length + 2));
  if (!name) return nullptr;
  std::memcpy(name, base, base_length);
  size_t at = base_length;
  if (add_dot) name[at++] = '.';
  std::memcpy(name + at, tail, tail_length + 1);
  return name;
}

// The member variable of owner standing for a member node, created or reused in the
// owner's scope with the node's type, offset and element count.
Variable* make_member_variable(Variable* owner, const MemberNode* node) {
  if (!node->member) return nullptr;
  char* name = member_variable_name(owner, node->member);
  if (!name) return nullptr;
  Variable* scope = owner->scope ? owner->scope : variable_list_first(owner);
  Variable* member = create_variable(scope, name, true);
  crt::free(name);
  if (!member) return nullptr;
  member->type_code = node->type_code;
  member->member_offset = node->offset;
  member->element_count = node->element_count;
  member->owner = owner;
  return member;
}

// The target's members for the structure elements split off to it: named after the
// target, pointing into the element it shows.
void create_split_members(Variable* target, bool public_members) {
  for (ListElement* element = list_element_first(target->cursor); element; element = element->next) {
    if (!element->struct_info) continue;
    for (MemberNode* node = element->struct_info->members; node; node = node->next) {
      Variable* member = make_member_variable(target, node);
      if (!member) continue;
      if (public_members) member->flags |= kVariablePublic;
      member->data = target->data ? static_cast<uint8_t*>(target->data) + node->offset : nullptr;
    }
  }
}

void copy_element(ListElement* source, ListElement* target, Variable* target_list) {
  void* old_data = target->data;
  bool owned_old = (target->flags & kVariableOwnsData) && old_data;
  target->flags = source->flags;
  target->number = source->number;
  target->type_code = source->type_code;
  element_info_free(target);
  struct_info_free(target);
  if (source->info) {
    target->info = static_cast<ElementInfo*>(crt::calloc(1, sizeof(ElementInfo)));
    if (target->info) {
      target->info->element_count = source->info->element_count;
      std::memcpy(target->info->dims, source->info->dims, sizeof target->info->dims);
      target->info->dim_count = source->info->dim_count;
      target->info->reserved1 = source->info->reserved1;
    }
  }
  target->data = nullptr;
  if (source->data) {
    if (source->flags & kVariableOwnsData) {
      target->data = duplicate_block(source->data);
      if (!target->data) target->flags &= ~kVariableOwnsData;
    } else {
      target->data = source->data;
    }
  }
  if (StructInfo* info = source->struct_info) {
    target->struct_info = static_cast<StructInfo*>(crt::calloc(1, sizeof(StructInfo)));
    if (target->struct_info) {
      target->struct_info->owner = info->owner;
      target->struct_info->member_offset = info->member_offset;
      // Blocks the structure refers to are the element's own: the copy gets copies.
      if (target->data && target->data != source->data) copy_element_references(source, target, target->data);
      if (source->flags & kVariableStructure) {
        MemberNode** tail = &target->struct_info->members;
        MemberNode* previous = nullptr;
        for (MemberNode* node = info->members; node; node = node->next) {
          Variable* member = make_member_variable(target_list, node);
          if (!member) continue;
          auto* created = static_cast<MemberNode*>(crt::calloc(1, sizeof(MemberNode)));
          if (!created) continue;
          *created = {member, node->type_code, node->offset, node->element_count, previous, nullptr};
          *tail = created;
          tail = &created->next;
          previous = created;
        }
      }
    }
  }
  if (owned_old && old_data != target->data) {
    if (memory_tracking) untrack_allocation(old_data);
    crt::free(old_data);
  }
  target->checksum = list_element_checksum(target);
}

}  // namespace

void builtin_sort() {
  int32_t case_sensitive = pop_integer();
  int32_t order = pop_integer();
  Variable* list = pop_variable();
  if (!is_list_variable(list) || !list->cursor) return;
  list_element_chain_sort(list->cursor, order, case_sensitive);
  list_show_element(list, list->cursor);
}

void builtin_split() {
  Variable* target = pop_variable();
  int32_t index = pop_integer();
  Variable* source = pop_variable();
  ListElement* tail = nullptr;
  bool public_members = false;
  if (is_list_variable(source) && source->cursor) {
    ListElement* chain = source->cursor;
    tail = list_element_split(&chain, index);
    list_show_element(source, chain);
    public_members = source->flags & kVariablePublic;
  }
  int32_t count = 0;
  if (target) {
    variable_clear_value(current_program, target, false, false);
    target->flags |= kVariableList;
    list_show_element(target, tail);
    create_split_members(target, public_members);
    count = static_cast<int32_t>(list_element_count(tail));
  } else {
    // No variable to take the tail: it goes.
    list_element_chain_free(tail, true);
  }
  stack_push_number(current_program, count);
}

namespace {

void copy_list_range(Variable* source, Variable* target, int32_t from, int32_t to) {
  if (!source || !target) return;
  variable_copy_list(target, source, 0, false, from, to);
}

}  // namespace

void builtin_lcopy() {
  Variable* target = pop_variable();
  Variable* source = pop_variable();
  copy_list_range(source, target, -1, -1);
}

void builtin_lcopyex() {
  int32_t to = pop_integer();
  int32_t from = pop_integer();
  Variable* target = pop_variable();
  Variable* source = pop_variable();
  copy_list_range(source, target, from, to);
}

void builtin_copy() {
  Variable* target = pop_variable();
  Variable* source = pop_variable();
  if (!is_list_variable(source) || !source->cursor || !target) return;
  if (!is_list_variable(target)) {
    variable_clear_value(current_program, target, false, false);
    target->cursor = nullptr;
    target->flags |= kVariableList;
  }
  if (!target->cursor) {
    ListElement* element = list_element_append(nullptr);
    if (!element) return;
    target->cursor = element;
  }
  if (target->cursor == source->cursor) return;
  copy_element(source->cursor, target->cursor, target);
  // The variable showed the old value, whose blocks may be gone.
  list_show_element(target, target->cursor);
}

void register_list_sort_builtins() {
  builtin_register("sort", builtin_sort);
  builtin_register("split", builtin_split);
  builtin_register("lcopy", builtin_lcopy);
  builtin_register("lcopyex", builtin_lcopyex);
  builtin_register("copy", builtin_copy);
}
