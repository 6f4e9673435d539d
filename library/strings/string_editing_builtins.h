// String editing built-ins that change a variable's text (delete, insert, replace,
// change, strip) and the case built-ins that return a changed copy (upper, lower,
// capitalize, swapcase, reverse).
#pragma once

// Registers the editing and case built-ins by their script names.
void register_string_editing_builtins();
