// Arguments and results shared by the file and package built-ins: paths and other texts
// taken as 8-bit text whatever kind the script passed, and the "no text" result.
#pragma once

#include <cstdint>

struct ValueCell;

// The cell's text as 8-bit text: its own, a converted copy of UTF-16 text, or its
// number's text; copies belong to the running program. A list or block gives "". Never
// null.
const char* cell_narrow_text(const ValueCell* cell);
// Pops a text argument as cell_narrow_text gives it.
const char* pop_narrow_text();
// Pushes a string cell without text: the result of a failed read or lookup.
void push_no_text();
// Pushes a crt::malloc block as the program's text (UTF-16 when wide), or no text for null.
void push_owned_text_or_none(void* text, bool wide);
