// The debugger's breakpoint table and the reading of the list it hands over.
#include "vm/breakpoints.h"

#include <cstring>
#include <string>

#include "foundation/conversion.h"
#include "foundation/numbers.h"
#include "platform/platform.h"

BreakpointEntry breakpoint_table[kBreakpointSlots];
int32_t breakpoint_count = 0;

void breakpoints_clear() {
  for (BreakpointEntry& entry : breakpoint_table) {
    crt::free(entry.file_name);
    entry = BreakpointEntry{};
  }
  breakpoint_count = 0;
}

int32_t breakpoints_from_text(const char* text) {
  breakpoints_clear();
  if (text == nullptr) return 0;
  // Tokens as strtok gives them: empty ones between two '|' do not count.
  std::string copy(text);
  bool want_file = true;
  for (char* token = std::strtok(copy.data(), "|"); token; token = std::strtok(nullptr, "|")) {
    if (breakpoint_count >= kBreakpointSlots) break;
    BreakpointEntry& entry = breakpoint_table[breakpoint_count];
    if (want_file) {
      crt::free(entry.file_name);
      entry.file_name = crt::_strlwr(crt::_strdup(token));
    } else {
      entry.line = static_cast<uint32_t>(truncate_to_int(text_to_number(token)));
      entry.one_shot = 0;
      ++breakpoint_count;
      if (breakpoint_count < kBreakpointSlots) {
        crt::free(breakpoint_table[breakpoint_count].file_name);
        breakpoint_table[breakpoint_count].file_name = nullptr;
      }
    }
    want_file = !want_file;
  }
  return breakpoint_count;
}
