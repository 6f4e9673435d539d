// The printable names of the virtual machine's opcode numbers, shared by the compiler,
// the compiled-file reader and the instruction listing.
#pragma once

#include <cstdint>

constexpr int kOpcodeSlots = 200;

// Heap copies of the opcode names by number; unnamed numbers stay null.
extern char* OpcodeNameTable[kOpcodeSlots];

// Fills the table (names of opcodes 1..186). Called once by the start-up routine.
void opcode_names_fill();
// The name of an opcode; null when the number has none or is out of range.
const char* opcode_name(int opcode);
// Frees every entry and leaves the table empty (teardown).
void opcode_names_free();
