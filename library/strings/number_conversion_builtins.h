// Number conversion built-ins: a value as a number (int, ToFloat), truncated to 32 bits
// (ToInt), and 64-bit integers read from and written to memory (LargeInt, ToLargeInt).
#pragma once

// Registers int, ToFloat, ToInt, LargeInt and ToLargeInt.
void register_number_conversion_builtins();
