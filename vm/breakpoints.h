// The breakpoint table the outside debugger fills: up to 1,024 {file, line, one-shot}
// entries, handed over at start-up in the debugger's "IDE" value and read by the
// line-marker test.
#pragma once

#include <cstdint>

struct BreakpointEntry {
  char* file_name;  // crt::malloc'd, lower case; null marks an empty slot
  uint32_t line;
  uint8_t one_shot;
};

constexpr int32_t kBreakpointSlots = 1024;

extern BreakpointEntry breakpoint_table[kBreakpointSlots];
extern int32_t breakpoint_count;

// Frees every file name and empties the table.
void breakpoints_clear();

// Replaces the table with the breakpoints of a "file|line|file|line..." text: each file
// name is stored lower-cased, each line read as a number and truncated. A trailing file
// without its line is left in the slot after the last counted entry; pairs past the
// table's size are dropped. Returns the new count.
int32_t breakpoints_from_text(const char* text);
