// The calls that code assembled for the debugger or the profiler makes around each
// statement: the register snapshot and breakpoint check before it, the frame records of
// functions and of the main code, and the profile point after it.
#include <cctype>
#include <cstring>
#include <string>

#include "compiler/asm/assembler.h"
#include "compiler/asm/assembler_state.h"
#include "compiler/asm/runtime_routines.h"
#include "foundation/code_list.h"
#include "foundation/file_helpers.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"

const char* assembler_source_file = nullptr;
int32_t assembler_source_line = 0;

namespace {

constexpr uint32_t kLoadR0 = 0xE59B0000;  // ldr r0, [r11, #constant]
constexpr uint32_t kLoadR1 = 0xE59B1000;
constexpr uint32_t kLoadR2 = 0xE59B2000;

// A block string, shared with an equal text the block already owns.
const char* block_string(const std::string& text) {
  if (const char* found = find_block_string(text.c_str())) return found;
  return track_block_string(text.c_str());
}

// The file name the hooks receive: the name part when the file exists, else the whole
// name, in lower case; "<null>" without one.
const char* hook_file_name() {
  std::string name = "<null>";
  if (assembler_source_file && *assembler_source_file) {
    name = assembler_source_file;
    if (file_exists(assembler_source_file)) {
      char* part = path_file_name(assembler_source_file);
      if (part) name = part;
      crt::free(part);
    }
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return block_string(name);
}

// A number up to 24 bits in a register without a constant: every statement has its own
// line, and the constant table is small.
void emit_small_number(int32_t target, uint32_t value) {
  if (value > 0xFFFFFF) {
    emit_constant_load(kLoadR0 | static_cast<uint32_t>(target) << 12, value, "ldr;line");
    return;
  }
  uint32_t rd = static_cast<uint32_t>(target) << 12;
  emit_word(0xE3A00000 | rd | (value & 0xFF), ("mov;" + std::string("r") + std::to_string(target) + ", #line").c_str());
  if (value & 0xFF00) emit_word(0xE3800C00 | rd | rd << 4 | ((value >> 8) & 0xFF));
  if (value & 0xFF0000) emit_word(0xE3800800 | rd | rd << 4 | ((value >> 16) & 0xFF));
}

// The section's locals as the snapshot routine reads them, kept in the code behind a
// branch over them: count, parameter count, then a name and an sf offset per local.
void emit_locals_descriptor(Section& section) {
  size_t count = section.locals.size();
  if (count > static_cast<size_t>(kAssemblerMaxLocals)) count = kAssemblerMaxLocals;
  uint8_t* branch = assembler.position;
  uint8_t* data = branch + 4;
  uint8_t* after = data + 8 + 8 * count;
  emit_word(0xEA000000 | (static_cast<uint32_t>(after - branch - 8) >> 2), "b;over the locals");
  emit_word(static_cast<uint32_t>(count));
  emit_word(static_cast<uint32_t>(section.parameter_count));
  for (size_t index = 0; index < count; ++index) {
    std::string name = section.locals[index].name;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    emit_word(platform::address_of(block_string(name)));
    emit_word(static_cast<uint32_t>(section.locals[index].offset));
  }
  section.descriptor = assembler.position == after ? data : nullptr;
  section.described = section.locals.size();
}

// save_registers must come before: r0 points at what it pushed.
void emit_snapshot(const Section& section) {
  emit_word(0xE1A0000D, "mov;r0, sp");
  emit_constant_load(kLoadR1, platform::address_of(section.descriptor), "ldr;r1, =locals");
  emit_runtime_call(kRoutineDebugSnapshot);
}

void emit_section_entry(Section& section) {
  save_registers(true);
  emit_snapshot(section);
  emit_constant_load(kLoadR0, platform::address_of(block_string(assembler.function_name)), "ldr;r0, =name");
  emit_runtime_call(kRoutineEnterFunction);
  restore_registers(true);
  if (assembler.in_function) {
    section.entered = true;
  } else {
    assembler.main_entered = true;
  }
}

bool needs_entry(const Section& section) {
  return assembler.in_function ? !section.entered : assembler.main_seen && !assembler.main_entered;
}

Section& described_section() {
  Section& section = current_section();
  if (!section.descriptor || section.described != section.locals.size()) emit_locals_descriptor(section);
  return section;
}

}  // namespace

void emit_debugger_statement_entry(uint32_t line) {
  if (!assembler_debugger_mode) return;
  uint8_t* start = assembler.position;
  Section& section = described_section();
  if (needs_entry(section)) {
    emit_section_entry(section);
    // A label on the first statement (a loop head) jumps past the entry: the record is
    // made once per call.
    for (LabelRecord& label : assembler.labels) {
      if (label.address == start) label.address = assembler.position;
    }
  }
  save_registers(true);
  emit_snapshot(section);
  emit_word(0xE3A00000, "mov;r0, #0");
  emit_small_number(1, line);
  emit_constant_load(kLoadR2, platform::address_of(hook_file_name()), "ldr;r2, =file");
  emit_runtime_call(kRoutineBreakCheck);
  restore_registers(true);
}

void emit_profiler_statement_exit(uint32_t line) {
  if (!assembler_profiler_mode) return;
  save_registers(true);
  emit_small_number(0, line);
  emit_constant_load(kLoadR1, platform::address_of(hook_file_name()), "ldr;r1, =file");
  emit_runtime_call(kRoutineProfilePoint);
  restore_registers(true);
}

void emit_missing_section_entry() {
  if (!assembler_debugger_mode) return;
  Section& section = described_section();
  if (needs_entry(section)) emit_section_entry(section);
}

void emit_frame_release() {
  if (!assembler_debugger_mode) return;
  save_registers(true);
  emit_runtime_call(kRoutineLeaveFunction);
  restore_registers(true);
}
