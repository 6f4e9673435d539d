// Objects: construction by value and by reference, member copies, destructors and the
// release of an object's member list.
#include "foundation/objects.h"

#include <cstring>

#include "foundation/live_handles.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"

InstructionNode* (*class_method_lookup)(ProgramContext* context, const char* class_name, const char* signature) =
    nullptr;

namespace {

constexpr const char* kConstructor = "__INIT(0,0)";
constexpr const char* kDestructor = "DESTROY(0,0)";

char* copy_name(const void* name, bool tracked) {
  const char* text = name ? static_cast<const char*>(name) : "";
  size_t length = std::strlen(text);
  auto* copy = static_cast<char*>(crt::malloc(length + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, text, length + 1);
  if (tracked) track_variable_block(copy);
  return copy;
}

InstructionNode* find_method(ProgramContext* context, const void* class_name, const char* signature) {
  if (!class_method_lookup || !class_name) return nullptr;
  return class_method_lookup(context, static_cast<const char*>(class_name), signature);
}

// Runs code as a method of object, to its end.
void run_method(ProgramContext* context, InstructionNode* code, Variable* object) {
  if (!code || !procedure_caller) return;
  Variable* outer_object = call_object;
  call_object = object;
  call_program = context;
  call_procedure = code;
  procedure_caller();
  call_object = outer_object;
}

void store_back(Variable* variable) {
  if ((variable->flags & kVariableList) && variable->cursor && !variable->alias) variable_store_to_element(variable);
}

bool holds_object(const Variable* variable) {
  return (variable->flags & kVariableObject) && !(variable->flags & kVariableList) && !variable->element_count;
}

Variable* find_member(Variable* record, uint32_t hash) {
  for (Variable* member = record->next; member; member = member->next) {
    if (member->name && member->hash == hash) return member;
  }
  return nullptr;
}

// The target member takes the source member's value. Values that own blocks or objects
// are copied deeply so that each object frees its own.
void copy_member(Variable* target, Variable* source) {
  constexpr uint32_t kCompound = kVariableList | kVariableStructure | kVariablePackedList;
  if (holds_object(source)) {
    object_construct(target, source, (source->flags & kVariableOwnsData) ? 0 : 1, false);
    target->flags |= source->flags & kVariablePublic;
  } else if ((source->flags & kCompound) || source->element_count) {
    variable_copy_value(target, source, nullptr, 0, false);
    target->flags = (target->flags & ~kVariablePublic) | (source->flags & kVariablePublic);
  } else {
    int32_t size = -1;
    if (source->data) {
      size = static_cast<int32_t>(alloc_block_size(source->data));
      if (!size) size = static_cast<int32_t>(std::strlen(static_cast<const char*>(source->data)) + 1);
    }
    set_variable(target, source->data, source->number, nullptr, size);
    target->flags = (source->flags & ~kVariableOwnsData) | (target->flags & kVariableOwnsData);
  }
  target->getter = source->getter;
  target->setter = source->setter;
}

void construct_by_reference(Variable* destination, Variable* source, bool keep) {
  if (keep) {
    destination->alias = source;
    return;
  }
  char* name = copy_name(source->data, true);
  double handle = source->number;
  uint32_t class_hash = source->class_hash;
  variable_clear_value(current_program, destination, true, false);
  destination->data = name;
  destination->number = handle;
  destination->class_hash = class_hash;
  // Naming the object without owning it: the owner alone destroys it.
  destination->flags = (destination->flags & ~kVariableOwnsData) | kVariableObject;
  store_back(destination);
}

}  // namespace

Variable* object_record(const Variable* variable) {
  return platform::pointer_from<Variable>(static_cast<uint32_t>(truncate_to_int(variable->number)));
}

bool object_record_is_live(const Variable* record) {
  return live_handle_is(LiveHandleKind::ObjectRecord, record);
}

Variable* object_record_new(ProgramContext* context, const char* class_name) {
  Variable* record = context ? variable_record_allocate(context, false) : nullptr;
  char* name = record ? copy_name(class_name, false) : nullptr;
  if (!name) {
    if (record) variable_record_free(context, record);
    return nullptr;
  }
  record->name = name;
  record->flags = kVariableOwnsData;
  record->scope = record;
  live_handle_add(LiveHandleKind::ObjectRecord, record, context->heap);
  return record;
}

void object_construct(Variable* destination, Variable* source, int32_t mode, bool keep) {
  if (!destination || !source) return;
  if (mode == 1) {
    construct_by_reference(destination, source, keep);
    return;
  }
  ProgramContext* context = current_program;
  Variable* source_record = object_record(source);
  uint32_t class_hash = source->class_hash;
  char* class_name = copy_name(source->data, true);
  Variable* record = class_name ? object_record_new(context, class_name) : nullptr;
  if (!record) {
    crt::free(class_name);
    runtime_error("Cannot allocate object of class %s, not enough memory!",
                  source->data ? static_cast<const char*>(source->data) : "");
    return;
  }
  // The new object is complete before the destination lets go of its old value, which
  // may be the very object being copied.
  run_method(context, find_method(context, class_name, kConstructor), record);
  for (Variable* member = source_record ? source_record->next : nullptr; member; member = member->next) {
    if (!member->name) continue;
    if (Variable* target = find_member(record, member->hash)) copy_member(target, member);
  }
  if (!keep) variable_clear_value(context, destination, true, false);
  destination->data = class_name;
  destination->number = static_cast<double>(platform::address_of(record));
  destination->class_hash = class_hash;
  destination->flags |= kVariableOwnsData | kVariableObject;
  store_back(destination);
}

void object_destroy(ProgramContext* context, Variable* variable) {
  if (!variable) return;
  Variable* record = object_record(variable);
  // A released record has lost its name: its object was destroyed already. A number
  // that names no object record is not followed.
  if (object_record_is_live(record) && record->name) {
    run_method(context, find_method(context, variable->data, kDestructor), record);
    variable_list_release(context, record, true);
  }
  variable->flags &= ~(kVariableObject | kVariableOwnsData);
  if (void* name = variable->data) {
    variable->data = nullptr;
    if (memory_tracking) untrack_allocation(name);
    crt::free(name);
  }
  variable->number = 0;
  variable->class_hash = 0;
  store_back(variable);
}

void object_run_destructor(ProgramContext* context, Variable* record) {
  if (!object_record_is_live(record) || !record->name) return;
  if (InstructionNode* code = find_method(context, record->name, kDestructor)) {
    if (Variable* self = current_scope ? create_variable(current_scope, "___SELF$", true) : nullptr) {
      self->data = copy_name(record->name, true);
      self->number = static_cast<double>(platform::address_of(record));
      self->flags |= kVariableObject;
    }
    run_method(context, code, record);
  }
  variable_list_release(context, record, true);
}
