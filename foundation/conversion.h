// Numbers to text and text to numbers, and 8-bit <-> UTF-16 text, by the runtime's rules.
#pragma once

// x formatted with "%f", trailing zeros (and a bare '.') removed; a new heap text from
// crt::malloc that the caller frees or registers as an owned allocation.
char* number_to_text(double value);
