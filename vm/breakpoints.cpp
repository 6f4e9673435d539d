// The breakpoint table: toggled and cleared by the debugger's commands, read by the
// line markers.
#include "vm/breakpoints.h"

#include <cstring>
#include <string>

#include "foundation/conversion.h"
#include "foundation/numbers.h"

#include "platform/platform.h"

BreakpointTable breakpoint_table;

namespace {

void free_slot(BreakpointEntry& entry) {
  crt::free(entry.file);
  entry.file = nullptr;
  entry.line = 0;
  entry.flag = 0;
}

}  // namespace

bool breakpoint_toggle(const char* file, uint32_t line, uint8_t flag) {
  if (!file) return false;
  BreakpointTable& table = breakpoint_table;
  if (flag == 0) {
    for (int32_t index = 0; index < table.count; ++index) {
      BreakpointEntry& entry = table.entries[index];
      if (entry.file && entry.line == line && std::strcmp(entry.file, file) == 0) {
        free_slot(entry);
        return true;
      }
    }
  }
  BreakpointEntry* slot = nullptr;
  for (int32_t index = 0; index < table.count && !slot; ++index) {
    if (!table.entries[index].file) slot = &table.entries[index];
  }
  if (!slot) {
    // A full table keeps what it has: the debugger's add is simply not taken.
    if (table.count >= kBreakpointSlots) return false;
    slot = &table.entries[table.count++];
  }
  char* copy = crt::_strdup(file);
  if (!copy) return false;
  *slot = BreakpointEntry{copy, line, flag};
  return true;
}

void breakpoints_remove_flagged(const char* file) {
  if (!file) return;
  BreakpointTable& table = breakpoint_table;
  for (int32_t index = 0; index < table.count; ++index) {
    BreakpointEntry& entry = table.entries[index];
    if (!entry.file || !entry.flag || std::strcmp(entry.file, file) != 0) continue;
    free_slot(entry);
    if (index == table.count - 1) --table.count;
  }
}

void breakpoints_clear() {
  // Every slot: a list handed over with a trailing file keeps it past the count.
  for (BreakpointEntry& entry : breakpoint_table.entries) {
    if (entry.file) free_slot(entry);
  }
  breakpoint_table.count = 0;
}

int32_t breakpoints_from_text(const char* text) {
  breakpoints_clear();
  if (text == nullptr) return 0;
  BreakpointTable& table = breakpoint_table;
  // Tokens as strtok gives them: empty ones between two '|' do not count.
  std::string copy(text);
  bool want_file = true;
  for (char* token = std::strtok(copy.data(), "|"); token; token = std::strtok(nullptr, "|")) {
    if (table.count >= kBreakpointSlots) break;
    BreakpointEntry& entry = table.entries[table.count];
    if (want_file) {
      crt::free(entry.file);
      entry.file = crt::_strlwr(crt::_strdup(token));
    } else {
      entry.line = static_cast<uint32_t>(truncate_to_int(text_to_number(token)));
      entry.flag = 0;
      ++table.count;
      if (table.count < kBreakpointSlots) free_slot(table.entries[table.count]);
    }
    want_file = !want_file;
  }
  return table.count;
}

BreakpointEntry* breakpoint_find(const char* file, uint32_t line) {
  if (!file) return nullptr;
  BreakpointTable& table = breakpoint_table;
  for (int32_t index = table.count - 1; index >= 0; --index) {
    BreakpointEntry& entry = table.entries[index];
    if (entry.file && entry.line == line && std::strcmp(entry.file, file) == 0) return &entry;
  }
  return nullptr;
}
