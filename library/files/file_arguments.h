// Results shared by the file and package built-ins: the "no text" result and owned texts
// of either kind. (Texts of either kind are taken as 8-bit by cell_narrow_text.)
#pragma once

#include <cstdint>

#include "vm/builtin_arguments.h"

// Pushes a string cell without text: the result of a failed read or lookup.
void push_no_text();
// Pushes a crt::malloc block as the program's text (UTF-16 when wide), or no text for null.
void push_owned_text_or_none(void* text, bool wide);
