// The table of compile-time constants, looked up by name hash from the newest slot down.
#include "compiler/constants.h"

#include <cstring>
#include <initializer_list>

#include "compiler/keywords.h"
#include "foundation/hashes.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"

CompileConstant* CompileConstantTable[kCompileConstantSlots];
int32_t compile_constant_count = 0;
uint8_t compile_constant_scope = 0;

int32_t find_compile_constant(uint32_t hash) {
  for (int32_t slot = compile_constant_count - 1; slot >= 0; --slot) {
    if (CompileConstantTable[slot] && CompileConstantTable[slot]->name_hash == hash) return slot;
  }
  return -1;
}

int32_t lowest_empty_constant_slot() {
  for (int32_t slot = 0; slot < compile_constant_count; ++slot) {
    if (CompileConstantTable[slot] == nullptr) return slot;
  }
  return -1;
}

int32_t define_compile_constant(char* name, char* value) {
  crt::_strupr(name);
  uint32_t hash = hash_name_text(name);
  int32_t slot = find_compile_constant(hash);
  if (slot >= 0) {
    CompileConstant* constant = CompileConstantTable[slot];
    const char* old_value = constant->value ? constant->value : "";
    if (std::strcmp(old_value, value ? value : "") == 0) {
      crt::free(value);
      return slot;
    }
    crt::free(constant->value);
    constant->name_hash = hash;
    constant->value = value;
    constant->owner = compile_constant_scope;
    return slot;
  }
  slot = lowest_empty_constant_slot();
  if (slot < 0) {
    if (compile_constant_count >= kCompileConstantSlots) {
      crt::free(value);
      return -1;
    }
    slot = compile_constant_count++;
  }
  auto* constant = static_cast<CompileConstant*>(crt::calloc(1, sizeof(CompileConstant)));
  if (constant == nullptr) {
    crt::free(value);
    if (slot == compile_constant_count - 1) --compile_constant_count;
    return -1;
  }
  constant->name_hash = hash;
  constant->value = value;
  constant->owner = compile_constant_scope;
  CompileConstantTable[slot] = constant;
  return slot;
}

void remove_compile_constant(int32_t slot) {
  if (slot < 0 || slot >= compile_constant_count || CompileConstantTable[slot] == nullptr) return;
  crt::free(CompileConstantTable[slot]->value);
  crt::free(CompileConstantTable[slot]);
  CompileConstantTable[slot] = nullptr;
  if (slot == compile_constant_count - 1) --compile_constant_count;
}

void drop_compile_constants(uint8_t owner) {
  for (int32_t slot = compile_constant_count - 1; slot >= 0; --slot) {
    if (CompileConstantTable[slot] && CompileConstantTable[slot]->owner == owner) {
      remove_compile_constant(slot);
    }
  }
}

bool is_block_opening_word(uint32_t hash) {
  for (Keyword word : {Keyword::If, Keyword::While, Keyword::Repeat, Keyword::Foreach,
                       Keyword::ForeachRev, Keyword::For, Keyword::Case, Keyword::Except}) {
    if (hash == keyword_hash(word)) return true;
  }
  return false;
}
