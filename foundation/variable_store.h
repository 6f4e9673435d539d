// Storing values into variables and reading them back: plain values, typed slots of
// every type code, getters and setters, and the mirror between a list variable and
// its current element.
#pragma once

#include <cstdint>

#include "foundation/variable.h"

// Stores a text or data pointer (null: none) and a number. size is the byte count to
// copy, -1 to adopt the pointer. typed_address, when given, is the slot to write with the
// variable's type code. A read-only variable is left alone; a setter decides the value.
void set_variable(Variable* variable, void* text, double number, void* typed_address, int32_t size);
// A structure member shows a field of its owner's record only while the owner holds that
// record: a structure whose data, at the member's offset, is where the member points, with
// the field inside the record. A variable of no owner, or one that holds a block or list
// of its own, passes.
bool member_is_attached(const Variable* member);
// The same, reporting a run-time error for a member whose structure was replaced.
bool member_check_attached(const Variable* member);

// True for a variable that set_variable would give a number (with no text and no typed
// address) by writing its number field alone: no setter, type, data, list, structure,
// object, array or owner, and not read-only. The run loop's counters take this path.
[[gnu::always_inline]] inline bool variable_takes_plain_number(const Variable* variable) {
  constexpr uint32_t kNotPlain = kVariableOwnsData | kVariableObject | kVariableList | kVariablePackedList |
                                 kVariableStructure | kVariableAdopted;
  return !(variable->flags & kNotPlain) && !variable->data && !variable->setter && !variable->type_code &&
         !variable->owner && !variable->element_count && !variable->read_only;
}

// True for a variable whose typed slots (an array's elements) hold plain numbers: a
// numeric type code, no getter or setter, no owned blocks (its own or an owner's
// references), and not a list, packed list, structure or adopted block. Such a slot is read
// and written as the bare number, which is what the full paths do for it.
inline bool variable_slots_hold_numbers(const Variable* variable) {
  constexpr uint32_t kNotPlain = kVariableList | kVariablePackedList | kVariableStructure | kVariableAdopted;
  const int32_t code = variable->type_code;
  return code >= -9 && code <= -1 && code != -7 && code != -6 && !variable->getter && !variable->setter &&
         !variable->references && !variable->owner && !(variable->flags & kNotPlain);
}

// ---- Texts kept for waiting cells ----

// A cell pushed from a variable shows the variable's text block by pointer. A store that
// replaces that text while such a cell still waits on a value stack (a call further right
// in the expression stored into the variable, in this program or in another one: '%'
// names are shared) keeps the old block here instead of freeing it. Non-null while any is
// kept; the hooks below are called only then.
struct KeptText;
extern KeptText* kept_texts;

struct ProgramContext;
// At a loop pass or a call's end in program: frees the blocks no cell of its stack can show
// any more (the cell that showed one is above the top, or shows something else now).
void kept_texts_release(ProgramContext* program);
// The cells of program's stack are going (its end, clearstack): its kept blocks go too.
void kept_texts_drop(ProgramContext* program);

// set_variable on the visible variable of that name, declared when missing. Null (and
// nothing stored) for a name without a type character.
Variable* set_variable_by_name(const char* name, void* text, double number, void* typed_address, int32_t size);

// A plain variable (no setter, type, list, structure, object or array) takes block, an
// exact-size text nothing else holds, as its value without a copy. False, taking
// nothing, for any other variable: the caller keeps the block.
bool variable_adopt_text(Variable* variable, void* block, double number);

// Reads the value: *text the text or block (null for a number), *number the number.
void get_variable_value(Variable* variable, void** text, double* number, void* typed_address);
// get_variable_value of the visible variable of that name; a missing one is declared and
// reads as nothing. Null for a name without a type character.
Variable* get_value_by_name(const char* name, void** text, double* number, void* typed_address);

// Writes a value into the typed slot at address by the variable's type code (see the
// table of codes); texts stored into pointer slots become owned blocks of the variable.
void store_value_at(void* address, Variable* variable, void* text, double number, int32_t size);
// Writes the number (or, for fixed-length slots, the bytes of copy, which it frees)
// at address with the type code.
void store_typed_value(Variable* variable, void* address, int32_t type_code, void* copy, double number);
// Reads the slot at address with the type code; fixed-length slots give a copy owned
// by the current program (or the address itself for adopted data).
void load_typed_value(Variable* variable, void* address, int32_t type_code, void** text, double* number);

// The list variable shows its cursor element / the element takes the variable's value.
void variable_load_from_element(Variable* variable);
void variable_store_to_element(Variable* variable);
// The checksum of an element with its info records, 31 bits.
uint32_t list_element_checksum(const ListElement* element);

// Points every member of the structure at its slot in the structure's data, recursively.
void relink_struct_members(Variable* structure);

// Sets the number to value when it differs, dropping the owns-data mark.
void variable_set_int(Variable* variable, int32_t value);
// Replace the data: adopt (size -1 or copy false) or take a copy of size bytes.
void variable_set_data(Variable* variable, void* pointer, int32_t size, bool copy);
void variable_set_string(Variable* variable, void* pointer, int32_t size, bool copy);
void variable_set_packed_list(Variable* variable, void* pointer, int32_t size, bool copy);

// Records a block the variable layer made in the memory report while tracking is on.
void track_variable_block(void* block);
