// Code blocks of the inline assembler: output with the end check, the branch and
// constant fix-ups, block strings, the listing, and the assembly driver.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "compiler/asm/assembler.h"
#include "compiler/asm/assembler_state.h"
#include "compiler/asm/source_reader.h"
#include "foundation/code_list.h"
#include "compiler/constants.h"
#include "foundation/compile_messages.h"
#include "platform/kernel/memory.h"

uint8_t assembler_listing_enabled = 0;
uint8_t assembler_debugger_mode = 0;
uint8_t assembler_profiler_mode = 0;
void (*code_cache_flush_hook)(int32_t flags) = nullptr;

AssemblerState assembler;

namespace {

// Offsets of the fixed words of the block entry.
constexpr int32_t kTableBaseWords = 24;
constexpr int32_t kMainJump = 40;

struct BlockString {
  char* text;
  uint8_t* owner;
};
// Shared by every block; a block's entries go when it is freed.
std::vector<BlockString> block_strings;

// Blocks made and not yet freed: a script hands addresses back as plain numbers, and
// only these may be released.
std::vector<uint8_t*> live_blocks;
std::mutex live_blocks_lock;

bool take_live_block(uint8_t* block) {
  std::lock_guard<std::mutex> lock(live_blocks_lock);
  auto found = std::find(live_blocks.begin(), live_blocks.end(), block);
  if (found == live_blocks.end()) return false;
  live_blocks.erase(found);
  return true;
}

void write_word_at(uint8_t* address, uint32_t word) {
  if (!address || address + 4 > assembler.end) return;
  std::memcpy(address, &word, 4);
}

bool room_for(int32_t bytes) {
  if (assembler.position + bytes >= assembler.end) {
    report_compile_message(nullptr, "Buffer size too small!", assembler.statement, -1, false);
    return false;
  }
  return true;
}

void resolve_branches() {
  for (const BranchReference& branch : assembler.branches) {
    uint8_t* target = find_label(branch.target);
    if (!target) {
      char message[300];
      std::snprintf(message, sizeof message, "Label (%s) not found!", branch.target.c_str());
      report_compile_message(nullptr, message, nullptr, -1, false);
      continue;
    }
    int32_t offset = static_cast<int32_t>((target - branch.address) / 4 - 2);
    write_word_at(branch.address, branch.condition + (static_cast<uint32_t>(offset) & 0x00FFFFFF));
  }
  assembler.branches.clear();
  assembler.labels.clear();
}

void resolve_constant_table() {
  uint8_t* table = assembler.position;
  uint32_t base = platform::address_of(table);
  uint8_t* words = assembler.block + kTableBaseWords;
  write_word_at(words, 0xE3A0B400 + (base >> 24));
  write_word_at(words + 4, 0xE38BB800 + ((base >> 16) & 0xFF));
  write_word_at(words + 8, 0xE38BBC00 + ((base >> 8) & 0xFF));
  write_word_at(words + 12, 0xE38BB000 + (base & 0xFF));
  std::unordered_map<uint32_t, uint8_t*> placed;
  bool too_many = false;
  for (auto it = assembler.constants.rbegin(); it != assembler.constants.rend(); ++it) {
    auto found = placed.find(it->value);
    if (found != placed.end()) {
      it->slot = found->second;
    } else {
      if (static_cast<int32_t>(placed.size()) >= kAssemblerMaxConstants) {
        // The slot offset lives in the 12-bit field of an LDR.
        if (!too_many) {
          report_compile_message(nullptr, "Too many constant values in assembly code!", nullptr, -1, false);
        }
        too_many = true;
        continue;
      }
      it->slot = assembler.position;
      emit_word(it->value);
      placed.emplace(it->value, it->slot);
    }
    write_word_at(it->address, it->instruction + static_cast<uint32_t>(it->slot - table));
  }
  assembler.constants.clear();
}

}  // namespace

void assembler_error(const char* message) {
  report_compile_message(nullptr, message, assembler.statement, -1, false);
  assembler.statement_failed = true;
}

void emit_word(uint32_t word, const char* listing) {
  if (assembler.statement_failed) return;
  if (listing) listing_line(listing);
  if (!room_for(4)) return;
  std::memcpy(assembler.position, &word, 4);
  assembler.position += 4;
}

void emit_halfword(uint16_t value) {
  if (!room_for(2)) return;
  std::memcpy(assembler.position, &value, 2);
  assembler.position += 2;
}

void emit_byte(uint8_t value) {
  if (!room_for(1)) return;
  *assembler.position++ = value;
}

void add_constant_reference(uint8_t* address, uint32_t instruction, uint32_t value) {
  if (static_cast<int32_t>(assembler.constants.size()) >= kAssemblerMaxReferences) {
    if (!assembler.constants_overflow_reported) {
      report_compile_message(nullptr, "Too many reference values in assembly code!", assembler.statement, -1,
                             false);
    }
    assembler.constants_overflow_reported = true;
    return;
  }
  assembler.constants.push_back({value, instruction, address, nullptr});
}

void emit_constant_load(uint32_t instruction, uint32_t value, const char* listing) {
  if (assembler.statement_failed) return;
  uint8_t* address = assembler.position;
  bool fits = assembler.position + 4 < assembler.end;
  emit_word(instruction, listing);
  if (fits) add_constant_reference(address, instruction, value);
}

void add_branch_reference(uint32_t condition, uint8_t* address, const std::string& target) {
  assembler.branches.push_back({condition, address, target});
}

void add_label(const std::string& name, uint8_t* address) { assembler.labels.push_back({name, address}); }

uint8_t* find_label(const std::string& name) {
  for (const LabelRecord& label : assembler.labels) {
    if (label.name == name) return label.address;
  }
  return nullptr;
}

void register_symbol(const std::string& name, int32_t value) {
  for (const auto& symbol : assembler.symbols) {
    if (symbol.first == name) return;
  }
  assembler.symbols.emplace_back(name, value);
}

char* track_block_string(const char* text) {
  size_t length = std::strlen(text);
  auto* copy = static_cast<char*>(crt::malloc(length + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, text, length + 1);
  block_strings.push_back({copy, assembler.block});
  return copy;
}

char* find_block_string(const char* text) {
  for (const BlockString& entry : block_strings) {
    if (entry.owner == assembler.block && std::strcmp(entry.text, text) == 0) return entry.text;
  }
  return nullptr;
}

void release_block_string(char* text) {
  for (size_t index = 0; index < block_strings.size(); ++index) {
    if (block_strings[index].text != text) continue;
    crt::free(text);
    block_strings.erase(block_strings.begin() + static_cast<std::ptrdiff_t>(index));
    return;
  }
}

// Frees every text the block owns.
static void release_block_strings(uint8_t* block) {
  size_t kept = 0;
  for (BlockString& entry : block_strings) {
    if (entry.owner == block) {
      crt::free(entry.text);
    } else {
      block_strings[kept++] = entry;
    }
  }
  block_strings.resize(kept);
}

void listing_line(const char* text) {
  if (!assembler_listing_enabled) return;
  std::string line;
  if (text[0] == ':' || text[0] == '!') {
    line = text;
  } else if (const char* split = std::strchr(text, ';')) {
    char buffer[400];
    std::string mnemonic(text, split - text);
    std::snprintf(buffer, sizeof buffer, "   %-10s %s", mnemonic.c_str(), split + 1);
    line = buffer;
  } else {
    line = "   " + std::string(text);
  }
  log_line(line.c_str());
}

std::string format_hex(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02Xh", value);
  return buffer;
}

static const char* symbol_for(int32_t value) {
  for (const auto& symbol : assembler.symbols) {
    if (symbol.second == value) return symbol.first.c_str();
  }
  return nullptr;
}

std::string format_operand(const AsmOperand& operand) {
  static const char* const kNames[] = {"r0", "r1", "r2", "r3", "r8", "r9", "r10", "sp", "r12"};
  uint32_t bits = operand.kind & kRegisterMask;
  bool memory = operand.kind & kOperandMemory;
  std::string displacement;
  if (memory && operand.displacement > 0) displacement = " + #" + format_hex(operand.displacement);
  if (memory && operand.displacement < 0) displacement = " - #" + format_hex(-operand.displacement);
  if (bits) {
    int32_t index = 0;
    while (!(bits & (1u << index))) ++index;
    std::string name = kNames[index];
    if (!memory) return name;
    std::string annotation;
    if ((bits & kRegisterSf) && operand.displacement != 0) {
      if (const char* symbol = symbol_for(operand.displacement)) annotation = "(" + std::string(symbol) + ")";
    }
    return "[" + name + displacement + "]" + annotation;
  }
  std::string value = format_hex(static_cast<uint32_t>(operand.value));
  const char* symbol = symbol_for(operand.value);
  if (symbol) value += "(" + std::string(symbol) + ")";
  if (memory) return "[" + value + displacement + "]";
  return symbol ? value : "#" + value;
}

uint8_t* assemble_inline_code(int32_t* size, CodeListNode* first) {
  if (assembler_debugger_mode) *size *= 16;
  if (assembler_profiler_mode) *size *= 16;
  assembler.constants.clear();
  assembler.constants_overflow_reported = false;
  assembler.branches.clear();
  assembler.labels.clear();
  assembler.symbols.clear();
  auto* block = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, static_cast<SIZE_T>(*size > 0 ? *size : 0), MEM_COMMIT | MEM_RESERVE,
                   PAGE_READWRITE | PAGE_NOCACHE));
  if (!block) {
    report_compile_message(nullptr, "Buffer size too small!", first, -1, false);
    assembler_listing_enabled = 0;
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(live_blocks_lock);
    live_blocks.push_back(block);
  }
  assembler.block = block;
  assembler.position = block;
  assembler.end = block + *size;
  assembler.statement = first;
  assembler.statement_failed = false;

  listing_line("");
  emit_prologue_block();
  read_assembler_source(first);
  assembler.statement_failed = false;
  // The main code's frame record goes when it ends.
  if (assembler.main_seen && !assembler.in_function) emit_missing_section_entry();
  emit_frame_release();
  emit_epilogue_block();

  if (assembler_listing_enabled) {
    listing_line("");
    char total[64];
    std::snprintf(total, sizeof total, ":Total bytes generated: %d", static_cast<int32_t>(assembler.position - block));
    listing_line(total);
    listing_line("");
  }
  assembler_listing_enabled = 0;
  assembler.code_end = assembler.position;
  resolve_branches();
  if (assembler.main_seen) {
    add_constant_reference(block + kMainJump, 0xE59BF000, platform::address_of(assembler.main_address));
  } else {
    report_compile_message(nullptr, "No main entry point defined!", nullptr, -1, false);
  }
  finish_section_locals(assembler.top_section);
  resolve_constant_table();
  finish_assembler_source();

  DWORD old_protect = 0;
  VirtualProtect(block, static_cast<SIZE_T>(*size), PAGE_EXECUTE_READ | PAGE_NOCACHE, &old_protect);
  drop_compile_constants(0);
  assembler.symbols.clear();
  assembler.function_name.clear();
  // The memory may have held other code that ran before (and was not freed as a block).
  if (code_cache_flush_hook) code_cache_flush_hook(1);
  return block;
}

void free_code_block(uint8_t* block) {
  if (!block || !take_live_block(block)) return;
  release_block_strings(block);
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(block, &info, sizeof info)) VirtualFree(block, info.RegionSize, MEM_DECOMMIT);
  VirtualFree(block, 0, MEM_RELEASE);
  if (code_cache_flush_hook) code_cache_flush_hook(1);
}
