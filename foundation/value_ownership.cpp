// Value ownership: reference lists, kind codes, and the copies and releases of
// variables, lists, structures and arrays, each block freed exactly once.
#include "foundation/value_ownership.h"

#include <cstring>

#include "foundation/conversion.h"
#include "foundation/list_elements.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/objects.h"
#include "foundation/packed_list.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/kernel/fault_guard.h"
#include "platform/kernel/memory.h"

constexpr OwnershipServices foundation_ownership_services = {packed_list_free_items, variable_store_packed_list,
                                                              object_destroy, object_construct};
OwnershipServices ownership_services = foundation_ownership_services;

namespace {

void free_block(void* block) {
  if (!block) return;
  note_block_released(block);
  if (memory_tracking) untrack_allocation(block);
  crt::free(block);
}

void store_back(Variable* variable) {
  if ((variable->flags & kVariableList) && variable->cursor && !variable->alias) variable_store_to_element(variable);
}

// Writes a copied block's address into the destination slot by the slot's type.
void write_slot(void* slot, int32_t slot_type, void* block) {
  uint32_t address = platform::address_of(block);
  switch (slot_type) {
    case -3: case -4: case -5:
      std::memcpy(slot, &address, 4);
      break;
    case -8: {
      double value = address;
      std::memcpy(slot, &value, 8);
      break;
    }
    case -9: {
      int64_t value = static_cast<int32_t>(address);
      std::memcpy(slot, &value, 8);
      break;
    }
    default:
      break;
  }
}

void copy_reference_list(ReferenceNode* source, const void* source_data, ReferenceNode** destination,
                         void* destination_data) {
  for (ReferenceNode* node = source; node; node = node->next) {
    void* copy = duplicate_block(node->block);
    if (!copy) continue;
    void* slot = nullptr;
    if (node->slot && source_data && destination_data) {
      uint32_t offset = platform::address_of(node->slot) - platform::address_of(source_data);
      slot = static_cast<uint8_t*>(destination_data) + offset;
      write_slot(slot, node->slot_type, copy);
    }
    if (!reference_list_add(destination, copy, slot, node->slot_type)) free_block(copy);
  }
}

ReferenceNode* unlink_node(ReferenceNode** list, ReferenceNode* node) {
  if (node->prev) node->prev->next = node->next;
  else *list = node->next;
  if (node->next) node->next->prev = node->prev;
  return node;
}

// The name of a copied member: the destination's name without its type character,
// then the member's name after its first '.'.
char* member_name(const Variable* destination, const Variable* member) {
  const char* base = destination->name ? destination->name : "";
  size_t base_length = std::strlen(base);
  if (base_length) --base_length;
  const char* dot = member->name ? std::strchr(member->name, '.') : nullptr;
  const char* tail = dot ? dot + 1 : (member->name ? member->name : "");
  size_t tail_length = std::strlen(tail);
  auto* name = static_cast<char*>(crt::malloc(base_length + tail_length + 2));
  if (!name) return nullptr;
  std::memcpy(name, base, base_length);
  name[base_length] = '.';
  std::memcpy(name + base_length + 1, tail, tail_length + 1);
  return name;
}

Variable* scope_of(Variable* variable) { return variable->scope ? variable->scope : variable_list_first(variable); }

// Creates the destination's members after the source's member nodes; nested
// structures get their own members, nested lists a copy of their chain.
void create_struct_members(Variable* destination, MemberNode* source_members, MemberNode** members) {
  for (MemberNode* node = source_members; node; node = node->next) {
    Variable* source = node->member;
    if (!source) continue;
    char* name = member_name(destination, source);
    // A list's range copied onto the list itself names the source's own members: they
    // stay as they are (made again, they would lose the nested members being copied).
    const bool same = name && source->name && std::strcmp(name, source->name) == 0 &&
                      scope_of(destination) == scope_of(source);
    Variable* member = same ? source : name ? create_variable(scope_of(destination), name, true) : nullptr;
    crt::free(name);
    if (!member) continue;
    member->flags |= source->flags & (kVariablePublic | kVariableStructure | kVariableWideText);
    member->type_code = node->type_code;
    member->member_offset = node->offset;
    member->element_count = node->element_count;
    member->owner = destination;
    auto* created = static_cast<MemberNode*>(crt::calloc(1, sizeof(MemberNode)));
    if (!created) continue;
    *created = *node;
    created->member = member;
    created->previous = created->next = nullptr;
    MemberNode** tail = members;
    while (*tail) {
      created->previous = *tail;
      tail = &(*tail)->next;
    }
    *tail = created;
    if (same) continue;
    if (source->flags & kVariableStructure) create_struct_members(member, source->members, &member->members);
    else if (source->flags & kVariableList) variable_copy_list(member, source, 0, false, -1, -1);
  }
}

void copy_struct_from(Variable* destination, Variable* source, const void* data, int32_t mode, bool keep) {
  if (mode == 1 && keep) {
    destination->alias = source;
    return;
  }
  if (!keep) variable_clear_value(current_program, destination, true, false);
  uint32_t size = alloc_block_size(source->data);
  if (data != source->data || !size) size = type_size(source->type_code) ? type_size(source->type_code) : size;
  if (mode == 0) {
    void* copy = crt::malloc(size ? size : 1);
    if (copy && data) std::memcpy(copy, data, size);
    track_variable_block(copy);
    destination->data = copy;
    destination->flags |= kVariableStructure | (copy ? kVariableOwnsData : 0);
    copy_reference_list(source->references, data, &destination->references, copy);
  } else {
    destination->data = const_cast<void*>(data);
    destination->flags = (destination->flags & ~kVariableOwnsData) | kVariableStructure | kVariableAdopted;
  }
  destination->type_code = source->type_code;
  create_struct_members(destination, source->members, &destination->members);
  relink_struct_members(destination);
}

}  // namespace

void* duplicate_block(const void* block) {
  uint32_t size = 0;
  // A block we did not allocate holds a text: copy it with its terminator.
  if (!alloc_block_known(block, &size)) size = static_cast<uint32_t>(std::strlen(static_cast<const char*>(block)) + 1);
  void* copy = crt::malloc(size);
  if (!copy) return nullptr;
  std::memcpy(copy, block, size);
  track_variable_block(copy);
  return copy;
}

// ---- Kinds ----

int32_t variable_value_kind(const Variable* variable) {
  uint32_t flags = variable->flags;
  if (!variable->owner) {
    if (!variable->element_count) {
      if (flags & kVariableStructure) return 3;
      if (flags & kVariablePackedList) return 5;
      if (flags & kVariableAdopted) return 6;
      if (!variable->data) return 0;
      return (flags & kVariableWideText) ? 7 : 1;
    }
    return (flags & kVariableStructure) ? 8 : 2;
  }
  if (variable->type_code >= 0) return 1;
  void* text;
  double number;
  load_typed_value(nullptr, variable->data, variable->type_code, &text, &number);
  uint32_t value = static_cast<uint32_t>(truncate_to_int(number));
  for (ReferenceNode* node = variable->owner->references; value && node; node = node->next) {
    if (platform::address_of(node->block) == value) return 9;
  }
  return 0;
}

int32_t variable_kind(const Variable* variable) {
  if (variable->flags & kVariableList) return 4;
  return variable_value_kind(variable);
}

// ---- Reference lists ----

ReferenceNode** variable_reference_list(Variable* variable) {
  if (variable->owner && !variable->element_count) return &variable->owner->references;
  return &variable->references;
}

bool reference_list_add(ReferenceNode** list, void* block, void* slot, int32_t slot_type) {
  auto* node = static_cast<ReferenceNode*>(crt::calloc(1, sizeof(ReferenceNode)));
  if (!node) return false;
  node->block = block;
  node->slot = slot;
  node->slot_type = slot_type;
  node->next = *list;
  if (*list) (*list)->prev = node;
  *list = node;
  if (memory_tracking) track_variable_block(block);
  return true;
}

bool variable_add_reference(Variable* variable, void* block, void* slot, int32_t slot_type) {
  bool added = reference_list_add(variable_reference_list(variable), block, slot, slot_type);
  store_back(variable);
  return added;
}

bool cell_add_reference(ValueCell* cell, void* block, void* slot, int32_t slot_type) {
  return reference_list_add(&cell->references, block, slot, slot_type);
}

bool reference_list_forget_block(ReferenceNode** list, void* block) {
  for (ReferenceNode* node = *list; node; node = node->next) {
    if (node->block != block) continue;
    crt::free(unlink_node(list, node));
    return true;
  }
  return false;
}

void reference_list_drop_block(ReferenceNode** list, void* block, bool free_anyway) {
  if (reference_list_forget_block(list, block) || free_anyway) free_block(block);
}

void reference_drop_block(Variable* variable, void* block, void* slot, bool free_anyway) {
  ReferenceNode** list = variable_reference_list(variable);
  ReferenceNode* found = nullptr;
  for (ReferenceNode* node = *list; node; node = node->next) {
    if (node->block == block && node->slot == slot) {
      found = node;
      break;
    }
  }
  if (found) {
    crt::free(unlink_node(list, found));
    free_block(block);
  } else if (free_anyway) {
    free_block(block);
  }
  store_back(variable);
}

void reference_drop_slot(Variable* variable, void* slot, bool free_anyway) {
  ReferenceNode** list = variable_reference_list(variable);
  for (ReferenceNode* node = *list; node; node = node->next) {
    if (node->slot != slot) continue;
    void* block = node->block;
    crt::free(unlink_node(list, node));
    free_block(block);
    store_back(variable);
    return;
  }
  (void)free_anyway;  // without a node there is no block to free
  store_back(variable);
}

namespace {

[[gnu::noinline]] void free_reference_nodes(ReferenceNode* node) {
  while (node) {
    ReferenceNode* next = node->next;
    free_block(node->block);
    crt::free(node);
    node = next;
  }
}

}  // namespace

void reference_list_free(ReferenceNode* first) {
  platform::FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    free_reference_nodes(first);
    platform::fault_guard_leave(&guard);
  } else {
    runtime_fault(guard);
  }
}

void variable_free_references(Variable* variable) {
  reference_list_free(variable->references);
  variable->references = nullptr;
}

void copy_variable_references(Variable* source, Variable* destination) {
  copy_reference_list(source->references, source->data, &destination->references, destination->data);
}

void copy_references_to_variable(ReferenceNode* source, const void* source_data, Variable* destination) {
  copy_reference_list(source, source_data, &destination->references, destination->data);
}

void copy_element_references(ListElement* source, ListElement* destination, void* destination_data) {
  if (!source->struct_info || !source->struct_info->references) return;
  if (!destination->struct_info) {
    destination->struct_info = static_cast<StructInfo*>(crt::calloc(1, sizeof(StructInfo)));
    if (!destination->struct_info) return;
  }
  copy_reference_list(source->struct_info->references, source->data, &destination->struct_info->references,
                      destination_data);
}

void copy_references_to_element(Variable* source, ListElement* destination, void* destination_data) {
  if (!source->references) return;
  if (!destination->struct_info) {
    destination->struct_info = static_cast<StructInfo*>(crt::calloc(1, sizeof(StructInfo)));
    if (!destination->struct_info) return;
  }
  copy_reference_list(source->references, source->data, &destination->struct_info->references, destination_data);
}

// ---- Releases ----

namespace {

// The shape of an array describes its block: with the block gone, index access must find
// no elements, not the old count over memory that is freed or no longer an array.
void forget_array_shape(Variable* variable) {
  variable->element_count = 0;
  variable->dim_count = 0;
  variable->column_major = 0;
}

}  // namespace

Variable* variable_release(ProgramContext* context, Variable* variable, bool keep_list, bool keep_members) {
  Variable* alias = variable->alias;
  variable->alias = nullptr;
  bool is_list = variable->flags & kVariableList;
  if (is_list && !keep_list) {
    // The chain owns every element's data and records, the shown ones included.
    list_element_chain_free(variable->cursor, true);
    variable->cursor = variable->pending_element = nullptr;
    variable->members = nullptr;
    variable->references = nullptr;
    variable->owner = nullptr;
    variable->data = nullptr;
    variable->checksum = 0;
    variable->flags &= ~(kVariableOwnsData | kVariablePackedList);
    forget_array_shape(variable);
  } else if (is_list) {
    // The shown value belongs to the element the list keeps.
  } else if (variable->flags & kVariableOwnsData) {
    bool object = variable->flags & kVariableObject;
    if ((variable->flags & kVariablePackedList) && ownership_services.packed_list_free_items)
      ownership_services.packed_list_free_items(variable->data, &variable->references);
    if (object && ownership_services.object_destroy) ownership_services.object_destroy(context, variable);
    if (!object) {
      free_block(variable->data);
      variable->data = nullptr;
      forget_array_shape(variable);
    }
    // With its list gone the variable holds no packed list: a later value stored into
    // it must not be freed as one.
    variable->flags &= ~(kVariableOwnsData | kVariablePackedList);
    if (variable->references) variable_free_references(variable);
  } else if (variable->flags & kVariableObject) {
    variable_free_data(context, variable);
    variable->data = nullptr;
    variable->flags &= ~kVariableObject;
  }
  if (!keep_members) member_list_free(variable);
  return alias;
}

void variable_list_release_records(ProgramContext* context, Variable* scope, bool deep) {
  if (!scope) return;
  Variable* first = scope->next;
  platform::FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    if (deep) {
      for (Variable* variable = variable_list_last(scope); variable; variable = variable->prev) {
        if ((variable->flags & kVariableObject) && (variable->flags & kVariableOwnsData) &&
            ownership_services.object_destroy) {
          ownership_services.object_destroy(context, variable);
          variable->flags &= ~kVariableOwnsData;
        }
        variable_release(context, variable, false, false);
        crt::free(variable->name);
        variable->name = nullptr;
        variable->hash = 0;
        variable_clear_value(context, variable, false, false);
        if (variable == scope) break;
      }
    } else {
      for (Variable* variable = first; variable; variable = variable->next)
        variable_clear_value(context, variable, false, false);
    }
    platform::fault_guard_leave(&guard);
  } else {
    runtime_fault(guard);
  }
}

void variable_list_destroy_objects(ProgramContext* context, Variable* scope) {
  if (!scope || !ownership_services.object_destroy) return;
  platform::FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    for (Variable* variable = variable_list_last(scope); variable; variable = variable->prev) {
      if ((variable->flags & kVariableObject) && (variable->flags & kVariableOwnsData))
        ownership_services.object_destroy(context, variable);
      if (variable == scope) break;
    }
    platform::fault_guard_leave(&guard);
  } else {
    runtime_fault(guard);
  }
}

namespace {

[[gnu::noinline]] void free_records_backwards(ProgramContext* context, Variable* scope) {
  Variable* variable = variable_list_last(scope);
  while (variable) {
    Variable* previous = variable == scope ? nullptr : variable->prev;
    crt::free(variable->name);
    // Each record goes back where it came from: '%' records to the C allocator,
    // the others to their program's heap.
    if (variable->allocation == kVariableOnCAllocator || context) variable_record_free(context, variable);
    variable = previous;
  }
}

}  // namespace

void variable_list_free(ProgramContext* context, Variable* scope) {
  if (!scope) return;
  if (scope == current_scope) current_scope = nullptr;
  if (scope == percent_variables) percent_variables = nullptr;
  if (scope == current_object) current_object = nullptr;
  platform::FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    free_records_backwards(context ? context : current_program, scope);
    platform::fault_guard_leave(&guard);
  } else {
    runtime_fault(guard);
  }
}

// ---- Copies ----

void variable_copy_value(Variable* destination, Variable* source, void* typed_address, int32_t mode, bool keep) {
  if (!destination || !source || destination == source) return;
  // A plain number; a list whose current element is a number is copied whole.
  if (!source->data && mode == 0 && !typed_address && !(source->flags & kVariableList)) {
    set_variable(destination, nullptr, source->number, nullptr, -1);
  } else if (!typed_address && (source->flags & kVariableList) && !list_copy_suppressed) {
    variable_copy_list(destination, source, mode, keep, -1, -1);
  } else if (!typed_address && (source->flags & kVariableStructure)) {
    variable_copy_struct(destination, source, mode, keep);
  } else if (!typed_address && !source->element_count && (source->flags & kVariablePackedList)) {
    variable_copy_packed_list(destination, source, mode, keep);
  } else if (!typed_address && !source->element_count && (source->flags & kVariableObject) &&
             ownership_services.object_construct) {
    ownership_services.object_construct(destination, source, mode, keep);
  } else if (!typed_address && source->element_count) {
    variable_copy_array(destination, source, mode, keep);
  } else if (typed_address && source->element_count && (source->flags & kVariableStructure)) {
    copy_struct_from(destination, source, typed_address, mode, keep);
  } else if (mode == 0) {
    if (!keep) variable_clear_value(current_program, destination, true, true);
    void* text;
    double number;
    get_variable_value(source, &text, &number, typed_address);
    int32_t size = text ? static_cast<int32_t>(alloc_block_size(text)) : -1;
    if (text && size == 0) size = static_cast<int32_t>(std::strlen(static_cast<const char*>(text)) + 1);
    set_variable(destination, text, number, nullptr, size);
    destination->flags |= source->flags & (kVariableObject | kVariableWideText);
  } else {
    destination->alias = source;
  }
  store_back(destination);
}

// A copy onto the variable it is made from (a% = a%) is that variable already: clearing the
// destination first would lose the value it copies.
void variable_copy_array(Variable* destination, Variable* source, int32_t mode, bool keep) {
  if (destination == source) return;
  if (mode == 1 && keep) {
    destination->alias = source;
    return;
  }
  if (!keep) variable_clear_value(current_program, destination, true, true);
  if (mode == 0) {
    uint32_t size = source->element_count * type_size(source->type_code);
    void* copy = crt::malloc(size ? size : 1);
    if (copy && source->data) std::memcpy(copy, source->data, size);
    track_variable_block(copy);
    destination->data = copy;
    if (copy) destination->flags |= kVariableOwnsData;
    copy_reference_list(source->references, source->data, &destination->references, copy);
  } else {
    destination->data = source->data;
    destination->flags = (destination->flags & ~kVariableOwnsData) | kVariableAdopted;
  }
  destination->type_code = source->type_code;
  destination->element_count = source->element_count;
  std::memcpy(destination->dims, source->dims, sizeof destination->dims);
  destination->dim_count = source->dim_count;
  destination->getter = source->getter;
  destination->setter = source->setter;
  destination->column_major = source->column_major;
  destination->flags |= source->flags & (kVariableStructure | kVariableWideText);
}

void variable_copy_struct(Variable* destination, Variable* source, int32_t mode, bool keep) {
  if (destination == source) return;
  copy_struct_from(destination, source, source->data, mode, keep);
}

void variable_copy_packed_list(Variable* destination, Variable* source, int32_t mode, bool keep) {
  if (destination == source) return;
  if (mode == 1 && keep) {
    destination->alias = source;
    return;
  }
  if (!keep) variable_clear_value(current_program, destination, true, true);
  if (mode == 0) {
    if (ownership_services.store_packed_list) ownership_services.store_packed_list(destination, source->data);
  } else {
    destination->data = source->data;
    destination->flags = (destination->flags & ~kVariableOwnsData) | kVariablePackedList | kVariableAdopted;
  }
}

void variable_copy_list(Variable* destination, Variable* source, int32_t mode, bool keep, int32_t first,
                        int32_t last) {
  if (mode == 1) {
    if (destination == source) return;
    destination->alias = source;
    for (ListElement* element = list_element_first(source->cursor); element; element = element->next) {
      if (!(element->flags & kVariableStructure) || !element->struct_info) continue;
      for (MemberNode* node = element->struct_info->members; node; node = node->next) {
        if (!node->member) continue;
        char* name = member_name(destination, node->member);
        Variable* member = name ? create_variable(scope_of(destination), name, true) : nullptr;
        crt::free(name);
        if (member) member->alias = node->member;
      }
    }
    return;
  }
  // The copy is made before the destination lets go of its chain, which may be the
  // source's (a range of a list copied onto that list).
  ListElement* chain = nullptr;
  int32_t index = 0;
  for (ListElement* element = list_element_first(source->cursor); element; element = element->next, ++index) {
    if (first >= 0 && index < first) continue;
    if (last >= 0 && index > last) break;
    ListElement* copy = list_element_append(chain);
    if (!copy) break;
    chain = copy;
    copy->number = element->number;
    copy->type_code = element->type_code;
    copy->flags = element->flags;
    if ((element->flags & kVariableOwnsData) && element->data) {
      copy->data = duplicate_block(element->data);
      if (!copy->data) copy->flags &= ~kVariableOwnsData;
    } else {
      copy->data = element->data;
    }
    if (element->info) {
      copy->info = static_cast<ElementInfo*>(crt::calloc(1, sizeof(ElementInfo)));
      if (copy->info) {
        *copy->info = *element->info;
        copy->info->iteration = nullptr;
      }
    }
    if (StructInfo* info = element->struct_info) {
      copy->struct_info = static_cast<StructInfo*>(crt::calloc(1, sizeof(StructInfo)));
      if (copy->struct_info) {
        copy->struct_info->owner = info->owner;
        copy->struct_info->member_offset = info->member_offset;
        copy_element_references(element, copy, copy->data);
        if (element->flags & kVariableStructure)
          create_struct_members(destination, info->members, &copy->struct_info->members);
      }
    }
    copy->checksum = list_element_checksum(copy);
  }
  int32_t cursor_index = list_element_count_from(source->cursor);
  if (first > 0) cursor_index -= first;
  if (!keep) variable_clear_value(current_program, destination, false, false);
  destination->flags |= kVariableList;
  destination->cursor = chain ? list_element_at(chain, cursor_index < 0 ? 0 : cursor_index) : nullptr;
  if (destination->cursor) variable_load_from_element(destination);
}

uint32_t list_text_length(ListElement* first) {
  uint32_t total = 0;
  for (ListElement* element = list_element_first(first); element; element = element->next) {
    if (element->data) {
      total += alloc_block_size(element->data);
    } else {
      char* text = number_to_text(element->number);
      if (text) total += static_cast<uint32_t>(std::strlen(text)) + 1;
      crt::free(text);
    }
  }
  return total;
}
