// The breakpoint table the outside debugger fills: source positions where the line
// markers of a running program stop. One-shot entries are the targets of "run to".
#pragma once

#include <cstdint>

constexpr int32_t kBreakpointSlots = 1024;

struct BreakpointEntry {
  char* file;    // owned lower-case copy; null marks a free slot
  uint32_t line;
  uint8_t flag;  // 1: one-shot, cleared by breakpoints_remove_flagged
};
static_assert(sizeof(BreakpointEntry) == 12, "breakpoint entry layout");

struct BreakpointTable {
  BreakpointEntry entries[kBreakpointSlots];
  int32_t count;  // slots in use lie below it; free ones may too
};
extern BreakpointTable breakpoint_table;

// Flag 0: removes a permanent breakpoint at file/line when there is one, else adds it.
// Flag 1: adds a one-shot breakpoint. An add reuses the first free slot below the count.
// False when the table is full and nothing was added.
bool breakpoint_toggle(const char* file, uint32_t line, uint8_t flag);

// Frees every one-shot entry of the file.
void breakpoints_remove_flagged(const char* file);

// Frees every entry's name; the table is empty.
void breakpoints_clear();

// Replaces the table with the breakpoints of a "file|line|file|line..." text: each file
// name is stored lower-cased, each line read as a number and truncated. A trailing file
// without its line is left in the slot after the last counted entry; pairs past the
// table's size are dropped. Returns the new count.
int32_t breakpoints_from_text(const char* text);

// The entry whose line and file match, searched from the last to the first; null if none.
BreakpointEntry* breakpoint_find(const char* file, uint32_t line);
