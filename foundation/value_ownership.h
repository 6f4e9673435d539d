// Value ownership: the reference lists of blocks held inside structure data and packed
// items, the kind codes of values, and the copies and releases of variables.
#pragma once

#include <cstdint>

#include "foundation/value_cell.h"
#include "foundation/variable.h"
#include "foundation/variables.h"

// Services of the packed-list and object layers, which the copies and releases here call.
struct OwnershipServices {
  void (*packed_list_free_items)(void* list, ReferenceNode** references);
  void (*store_packed_list)(Variable* variable, void* list);
  void (*object_destroy)(ProgramContext* context, Variable* variable);
  void (*object_construct)(Variable* destination, Variable* source, int32_t mode, bool keep);
};
extern OwnershipServices ownership_services;
// The services as the foundation provides them, for restoring after a test replaced some.
extern const OwnershipServices foundation_ownership_services;

// Kind of a variable for vartype (4 list, 3 structure, 5 packed list, 6 adopted data,
// 0 number, 1 text, 7 UTF-16 text, 2 array, 8 array of structures, 9 owned pointer field).
int32_t variable_kind(const Variable* variable);
// The same without the list row, for the value a list element shows (ltype).
int32_t variable_value_kind(const Variable* variable);

// The reference list a variable's blocks are kept on: its owner's for a member
// without an element count, else its own.
ReferenceNode** variable_reference_list(Variable* variable);

// A copy of a value's data block that its new owner frees: the exact size of a block we
// allocated, a text with its terminator otherwise; tracked as a variable's block.
void* duplicate_block(const void* block);
// Pushes a node for block on the list; records the block while tracking. False without memory.
bool reference_list_add(ReferenceNode** list, void* block, void* slot, int32_t slot_type);
// Pushes a node on the variable's list; a shown list element is stored back.
bool variable_add_reference(Variable* variable, void* block, void* slot, int32_t slot_type);
bool cell_add_reference(ValueCell* cell, void* block, void* slot, int32_t slot_type);
// Removes the node of block and frees the block; with free_anyway and no node, frees
// block all the same. A block no node holds is otherwise left alone.
void reference_list_drop_block(ReferenceNode** list, void* block, bool free_anyway);
// Takes block's node off the list without freeing the block; false when it has none.
bool reference_list_forget_block(ReferenceNode** list, void* block);
void reference_drop_block(Variable* variable, void* block, void* slot, bool free_anyway);
// The same, matching the node by the slot that holds the block.
void reference_drop_slot(Variable* variable, void* slot, bool free_anyway);
// Frees every node and its block.
void reference_list_free(ReferenceNode* first);
void variable_free_references(Variable* variable);

// Each block of the source list is duplicated and registered on the destination; a
// slotted block's copy is written at the same offset of the destination's data.
void copy_variable_references(Variable* source, Variable* destination);
void copy_references_to_variable(ReferenceNode* source, const void* source_data, Variable* destination);
void copy_element_references(ListElement* source, ListElement* destination, void* destination_data);
void copy_references_to_element(Variable* source, ListElement* destination, void* destination_data);

// Releases what the variable owns (its list, data, object, references; members unless
// keep_members); clears and returns its alias.
Variable* variable_release(ProgramContext* context, Variable* variable, bool keep_list, bool keep_members);
// deep: from the last record to the first, releases values and frees names (records stay
// for reuse). Otherwise clears the value of every record after the head.
void variable_list_release_records(ProgramContext* context, Variable* scope, bool deep);
// The same, with the leading plain numbers (most locals, at the end of every call) cleared
// inline: they free nothing and need no fault guard.
inline void variable_list_release(ProgramContext* context, Variable* scope, bool deep) {
  if (!scope) return;
  if (!deep) {
    while (scope->next && variable_holds_plain_number(scope->next)) {
      scope = scope->next;
      variable_clear_plain_number(scope);
    }
    if (!scope->next) return;
  }
  variable_list_release_records(context, scope, deep);
}
// Destroys the objects the list's variables own, last to first.
void variable_list_destroy_objects(ProgramContext* context, Variable* scope);
// Frees every record of the list (last to first), each where it was allocated.
void variable_list_free(ProgramContext* context, Variable* scope);

// Copies source into destination by value (mode 0) or by reference (mode 1).
void variable_copy_value(Variable* destination, Variable* source, void* typed_address, int32_t mode, bool keep);
void variable_copy_array(Variable* destination, Variable* source, int32_t mode, bool keep);
void variable_copy_list(Variable* destination, Variable* source, int32_t mode, bool keep, int32_t first, int32_t last);
void variable_copy_struct(Variable* destination, Variable* source, int32_t mode, bool keep);
void variable_copy_packed_list(Variable* destination, Variable* source, int32_t mode, bool keep);

// Room for the text of a list: each element's block size, or its number's text + 1.
uint32_t list_text_length(ListElement* first);
