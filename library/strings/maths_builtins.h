// The numeric built-ins: the C library's floating-point functions, rounding, minimum and
// maximum, random numbers, bit rotations, wrap, and the character-class tests.
#pragma once

// Registers every maths, random-number and character-class built-in by its script name.
void register_maths_builtins();
