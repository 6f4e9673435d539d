// Formatted text for scripts: printf returns a C-style formatted text, sprintf stores it
// into a variable.
#pragma once

// Registers printf and sprintf by their script names.
void register_printf_builtins();
