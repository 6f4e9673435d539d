// What the list built-ins share: moving a list variable's cursor so the variable shows
// the element, and taking the arguments of a variadic list built-in.
#pragma once

#include <cstdint>

#include "foundation/variable.h"

struct ValueCell;

// Puts the cursor on element and loads the variable from it. The bits that describe the
// shown value (text width, ownership, structure, packed list, object) come from the
// element alone, so a narrow text never shows as UTF-16 after a wide one. A null element
// leaves an empty list whose variable shows nothing (no pointer into freed elements).
void list_show_element(Variable* variable, ListElement* element);

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
