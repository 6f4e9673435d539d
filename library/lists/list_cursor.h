// What the list built-ins share: moving a list variable's cursor so the variable shows
// the element, building a new chain for a list, and taking the arguments of a variadic
// list built-in.
#pragma once

#include <cstdint>

#include "foundation/variable.h"

struct ValueCell;

// Puts the cursor on element and loads the variable from it. The bits that describe the
// shown value (text width, ownership, structure, packed list, object) come from the
// element alone, so a narrow text never shows as UTF-16 after a wide one. A null element
// leaves an empty list whose variable shows nothing (no pointer into freed elements).
void list_show_element(Variable* variable, ListElement* element);

// Appends after last (alone for null) an element owning a zero-terminated copy of the
// first count characters at units (UTF-16 ones, flagged so, when wide). Null without memory.
ListElement* list_append_copy(ListElement* last, const void* units, uint32_t count, bool wide);
// The same for a whole text: up to its zero, never past its block size when it has one.
ListElement* list_append_text(ListElement* last, const void* text, bool wide);
// Appends after last (alone for null) a plain number element. Null without memory.
ListElement* list_append_number(ListElement* last, double number);
// The number an element stands for: its text read as a number (UTF-16 text through
// 8-bit text), else its number.
double list_element_number(const ListElement* element);
// Empties the variable and makes it the list of chain (any element of it, null for an
// empty list), its cursor on the first element.
void list_take_chain(Variable* variable, ListElement* chain);

// Whether the variable is a list (a null variable is not).
inline bool is_list_variable(const Variable* variable) {
  return variable && (variable->flags & kVariableList);
}

// Arguments of a variadic call, first to last: every cell above the innermost stack
// mark, popped. The cells stay valid until the next push.
constexpr int32_t kMaxListArguments = 256;
struct ListArguments {
  ValueCell* cells[kMaxListArguments];
  int32_t count;
};
// False (after a run-time error naming the built-in) without a mark or with more than
// kMaxListArguments arguments; the arguments are popped in either case.
bool take_list_arguments(const char* builtin, ListArguments* arguments);

struct PackedItem;
struct ValueCell;

// The packed list a cell holds, or null.
const PackedItem* cell_packed_list(const ValueCell* cell);

// A packed list made for this call (a literal or another built-in's result) owns its
// texts through the cell's reference chain; a built-in that only reads it frees them
// once it is done (before it pushes, while the cell is still valid).
void release_temporary_list(ValueCell* cell);

