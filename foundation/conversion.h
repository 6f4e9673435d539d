// Numbers to text and text to numbers, and 8-bit <-> UTF-16 text, by the runtime's rules.
// The decimal character is always '.', whatever the locale.
#pragma once

#include <cstdint>

#include "platform/kernel/types.h"

// Set by text_to_number when its text is not numeric, cleared when it is; the comparison
// operators read it right after converting an operand.
extern uint8_t not_a_number_flag;

// 1 when the text reads as a number by the runtime's loose rules: digits and '.' anywhere,
// '-' first only, 'x' anywhere (after a leading '0' it allows hex letters), 'e'/'E' only
// with a sign after it. Null counts as numeric, the empty text does not.
int is_numeric_text(const char* text);

// The number a text stands for: decimal (atof), else 64-bit integer (read as unsigned
// when its top bit is set), else "0x" hex. Not numeric gives 0 with not_a_number_flag set;
// a null text gives 0 with the flag clear.
double text_to_number(const char* text);

// x formatted with "%f", trailing zeros (and a bare '.') removed; a new heap text from
// crt::malloc that the caller frees or registers as an owned allocation.
char* number_to_text(double value);

// The 8-bit text (Windows-1252) as a new zero-filled UTF-16 text of length + 1 units from
// crt::malloc; null gives an empty text. The caller frees it with crt::free.
char16_t* to_wide(const char* text);
// The UTF-16 text as a new zero-filled 8-bit text of length + 1 bytes from crt::malloc;
// characters the code page lacks become '?', a combining mark joins its letter or is
// dropped. Null gives an empty text. The caller frees it with crt::free.
char* to_narrow(const char16_t* text);

// 1 when the text does not come back byte for byte from UTF-16, compared over the whole
// allocated block (so bytes after an inner zero count); 0 otherwise and for null.
int text_changes_in_wide_conversion(const char* text);
