// The one table of every name a script calls that is not a script procedure: built-ins
// registered at start-up and library functions declared by scripts. Names are told
// apart by their hash_name alone; an entry's index never changes while the runtime runs.
#pragma once

#include <vector>

#include <cstdint>

#include "foundation/instruction_node.h"
#include "platform/kernel/types.h"

using NativeEntry = void*;

struct BuiltinEntry {
  char* name;               // owned upper-case copy
  uint32_t name_hash;       // hash_name of the upper-case name
  BuiltinHandler handler;   // 0 for a declared library function
  char* library;            // owned library name of a declared function
  char* function;           // owned function name in the library ("W" appended when bound so)
  alignas(4) uint8_t param_count;
  alignas(4) uint8_t returns_value;
  NativeEntry native_proc;  // bound entry when returns_value is 0
  NativeEntry native_func;  // bound entry when returns_value is 1
  uint8_t wide_api;         // texts travel as UTF-16; the "W" name is tried first
  uint8_t variadic;         // no parameter-count test at compile time
  uint8_t save_sp;          // the compiler saves a stack mark before each call
  uint8_t declare_form;     // 1 for the #DECLARE forms, 0 for the C forms
};
static_assert(sizeof(BuiltinEntry) == 40, "built-in entry layout");

constexpr int32_t kBuiltinSlots = 8092;

struct BuiltinRegistry {
  BuiltinEntry* entries[kBuiltinSlots];  // in registration order; null slots are skipped
  int32_t count;
};
extern BuiltinRegistry builtin_registry;

// Set while declarations are to be bound as they are made (compiled-file reader, code
// generator).
extern uint8_t link_declarations_now;

// Registers name with handler: an entry of the same hash is cleared and reused (same
// index, every count and flag back to 0), else a new one is appended. The index, or -1
// after a run-time error when the table is full.
int32_t builtin_register(const char* name, BuiltinHandler handler);
int32_t builtin_register_variadic(const char* name, BuiltinHandler handler, uint8_t variadic, uint8_t save_sp);
int32_t builtin_register_variadic_ex(const char* name, BuiltinHandler handler, uint8_t variadic, uint8_t save_sp,
                                     uint8_t returns_value);
int32_t builtin_register_arity(const char* name, BuiltinHandler handler, uint8_t param_count, uint8_t returns_value);

// The first index whose entry has this hash, -1 when none.
int32_t find_builtin_by_hash(uint32_t name_hash);
// The hash the registry keys a name by: that of its upper-case form.
uint32_t builtin_name_hash(const char* name);
// The entry at index, or null for an index outside the table or an empty slot.
BuiltinEntry* builtin_entry(int32_t index);
// Frees the entry's texts and zeroes it; it keeps its slot.
void builtin_entry_clear(int32_t index);
// Frees every entry and empties the table.
void builtin_registry_clear();
// Hands every entry to the caller in registration order (null slots included) and leaves
// the table empty without freeing anything: start-up arranges what the units registered
// instead of copying it.
std::vector<BuiltinEntry*> builtin_registry_take_entries();
// Places an entry made outside the table (crt::calloc'd, with a crt::malloc'd upper-case
// name and its name_hash) as builtin_register places one: an entry of the same hash is
// freed and this one takes its index, else it is appended. The index, or -1 after a
// run-time error when the table is full (the entry is freed).
int32_t builtin_registry_adopt(BuiltinEntry* entry);
// Frees an entry that is in no table, with its texts.
void builtin_entry_free(BuiltinEntry* entry);

// Declares a library function under script_name (reusing a built-in's entry of the same
// hash) and binds it at once while link_declarations_now is set. The index, or -1.
int32_t external_function_declare(const char* script_name, const char* function_name, const char* library_name,
                                  uint8_t param_count, uint8_t returns_value, uint8_t wide_api,
                                  uint8_t declare_form);
// Loads the entry's library and binds its function ("W" name first for the wide forms).
// A failure is logged and leaves both native entries null; a later link may succeed.
void external_function_link(int32_t index);
// Binds function_name of module to the entry: 1 when its native entry is now set.
int32_t external_function_bind(HMODULE module, int32_t index, const char* function_name);

// The entry a call of a declared function goes through: null, after a run-time error
// naming the function, when the index names no declaration or it is not bound.
BuiltinEntry* external_function_for_call(int32_t index);

// Frees each record's first word (an owned pointer) and the record, nulls every slot and
// sets *count to 0.
void free_record_array(void** records, int32_t* count);
