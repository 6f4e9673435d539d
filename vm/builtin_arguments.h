// How built-ins take their arguments and give their results: arguments are popped from
// the running program's value stack, last first; a new text or block a built-in returns
// belongs to the program (released when the call depth that made it ends).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/kernel/system_info.h"

struct ValueCell;
struct Variable;

// The number a cell stands for: its text read as a number (non-numeric text is 0), else
// its number.
double cell_number(const ValueCell* cell);

// A number argument.
double pop_number();
// An integer argument: the number truncated toward zero to 32 bits.
int32_t pop_integer();
// A rectangle given as four integer arguments (left, top, right, bottom), popped last first.
RECT pop_rect();
// An address or handle argument: the number when non-zero, else the cell's data word,
// else the address of its text.
uint32_t pop_address();
// A variable argument: the variable the cell refers to, else the one its text (or the
// text of its number) names, found or made in the current scope. Null when neither.
Variable* cell_variable(const ValueCell* cell);
Variable* pop_variable();

// The cell's text as 8-bit text: its own, a converted copy of UTF-16 text, or its
// number's text; copies belong to the running program. A list or block gives "". Never
// null.
const char* cell_narrow_text(const ValueCell* cell);
// Pops a text argument as cell_narrow_text gives it.
const char* pop_narrow_text();

// Registers the new crt::malloc text as the program's and pushes it (8-bit, or UTF-16
// for the wide form). A null text pushes an empty text.
void push_owned_text(char* text);
void push_owned_wide_text(char16_t* text);

// Clears the variable and makes it a list of copies of the texts, its cursor on the
// first element (loaded into the variable). The number of elements.
int32_t fill_text_list(Variable* variable, const std::vector<std::string>& texts);
