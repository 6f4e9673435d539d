// C-like memory built-ins: variable-owned and free-standing blocks, block operations,
// typed reads and writes at an address and bit-field helpers.
#pragma once

// Registers every memory built-in by its script name.
void register_memory_builtins();
