// The built-in registry: registration with replacement by hash, lookup, release, and
// the declaration and binding of library functions.
#include "vm/builtin_registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/hashes.h"
#include "foundation/runtime_error.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"

BuiltinRegistry builtin_registry;
uint8_t link_declarations_now = 0;

namespace {

// Replaces *field with an owned copy of text (null stays null).
void replace_text(char** field, const char* text) {
  crt::free(*field);
  *field = text ? crt::_strdup(text) : nullptr;
}

// Index of the table by name hash, so registration and lookup do not walk every entry.
// Open addressing over a power-of-two array; a slot holds an entry's index + 1, 0 when
// empty, kRemovedSlot after its entry was cleared. Hash 0 (also every cleared entry's) is
// never indexed: a lookup of it walks the table.
static_assert(kBuiltinSlots < 0xFFFF, "an index slot holds an entry's index + 1 in 16 bits");
constexpr uint16_t kRemovedSlot = 0xFFFF;
constexpr uint32_t kFirstIndexSize = 4096;  // twice the built-ins of a run

uint16_t* hash_slots = nullptr;
uint32_t hash_slot_count = 0;  // a power of two, or 0 before the first entry
uint32_t hash_slots_used = 0;  // live and removed slots alike: both lengthen probes

void index_reset() {
  crt::free(hash_slots);
  hash_slots = nullptr;
  hash_slot_count = 0;
  hash_slots_used = 0;
}

uint16_t* index_slot_of(uint32_t hash) {
  if (!hash_slots) return nullptr;
  uint32_t mask = hash_slot_count - 1;
  for (uint32_t at = hash & mask;; at = (at + 1) & mask) {
    uint16_t& slot = hash_slots[at];
    if (slot == 0) return nullptr;
    if (slot != kRemovedSlot && slot <= builtin_registry.count) {
      const BuiltinEntry* entry = builtin_registry.entries[slot - 1];
      if (entry && entry->name_hash == hash) return &slot;
    }
  }
}

void index_place(uint32_t hash, int32_t index) {
  uint32_t mask = hash_slot_count - 1;
  uint32_t at = hash & mask;
  while (hash_slots[at] != 0) at = (at + 1) & mask;
  hash_slots[at] = static_cast<uint16_t>(index + 1);
  ++hash_slots_used;
}

// Rebuilds the index from the table at the given size (removed slots drop out).
bool index_rebuild(uint32_t size) {
  auto* slots = static_cast<uint16_t*>(crt::calloc(size, sizeof(uint16_t)));
  if (!slots) return false;
  crt::free(hash_slots);
  hash_slots = slots;
  hash_slot_count = size;
  hash_slots_used = 0;
  for (int32_t index = 0; index < builtin_registry.count; ++index) {
    const BuiltinEntry* entry = builtin_registry.entries[index];
    if (entry && entry->name_hash != 0 && !index_slot_of(entry->name_hash)) index_place(entry->name_hash, index);
  }
  return true;
}

// Indexes the entry at index, which already holds hash.
void index_add(uint32_t hash, int32_t index) {
  if (hash == 0 || index_slot_of(hash)) return;
  // At most half full, so probes stay short and always end at an empty slot.
  if ((hash_slots_used + 1) * 2 > hash_slot_count) {
    uint32_t size = hash_slot_count ? hash_slot_count : kFirstIndexSize;
    while ((static_cast<uint32_t>(builtin_registry.count) + 1) * 2 > size) size *= 2;
    if (!index_rebuild(size)) {
      index_reset();  // lookups walk the table until a later rebuild succeeds
      return;
    }
    if (index_slot_of(hash)) return;
  }
  index_place(hash, index);
}

// Called before the entry at index loses its hash.
void index_remove(uint32_t hash, int32_t index) {
  uint16_t* slot = hash ? index_slot_of(hash) : nullptr;
  if (slot && *slot == index + 1) *slot = kRemovedSlot;
}

int32_t walk_for_hash(uint32_t name_hash) {
  for (int32_t index = 0; index < builtin_registry.count; ++index) {
    const BuiltinEntry* entry = builtin_registry.entries[index];
    if (entry && entry->name_hash == name_hash) return index;
  }
  return -1;
}

// The count can only grow: a full table is an error, not an overrun.
bool table_full(const char* name) {
  if (builtin_registry.count < kBuiltinSlots) return false;
  runtime_error("Too many built-ins and declared functions (more than %d): %s", kBuiltinSlots, name ? name : "");
  return true;
}

void report_link_failure(const char* format, const char* first, const char* second) {
  char line[1024];
  crt::_snprintf(line, sizeof line - 1, format, first ? first : "", second ? second : "");
  line[sizeof line - 1] = '\0';
  // A compile warning while warnings are on, and always a log line: a call of the
  // function reports it again.
  report_compile_message(nullptr, line, nullptr, -1, true);
  log_line(line);
}

}  // namespace

int32_t builtin_register(const char* name, BuiltinHandler handler) {
  char* upper = crt::_strdup(name ? name : "");
  if (!upper) return -1;
  crt::_strupr(upper);
  uint32_t hash = hash_name_text(upper);
  int32_t index = find_builtin_by_hash(hash);
  if (index >= 0) {
    builtin_entry_clear(index);
  } else {
    if (table_full(upper)) {
      crt::free(upper);
      return -1;
    }
    auto* entry = static_cast<BuiltinEntry*>(crt::calloc(1, sizeof(BuiltinEntry)));
    if (!entry) {
      crt::free(upper);
      return -1;
    }
    index = builtin_registry.count++;
    builtin_registry.entries[index] = entry;
  }
  BuiltinEntry* entry = builtin_registry.entries[index];
  entry->name = upper;
  entry->name_hash = hash;
  entry->handler = handler;
  index_add(hash, index);
  return index;
}

int32_t builtin_register_variadic(const char* name, BuiltinHandler handler, uint8_t variadic, uint8_t save_sp) {
  int32_t index = builtin_register(name, handler);
  if (index < 0) return index;
  builtin_registry.entries[index]->variadic = variadic;
  builtin_registry.entries[index]->save_sp = save_sp;
  return index;
}

int32_t builtin_register_variadic_ex(const char* name, BuiltinHandler handler, uint8_t variadic, uint8_t save_sp,
                                     uint8_t returns_value) {
  int32_t index = builtin_register_variadic(name, handler, variadic, save_sp);
  if (index >= 0) builtin_registry.entries[index]->returns_value = returns_value;
  return index;
}

int32_t builtin_register_arity(const char* name, BuiltinHandler handler, uint8_t param_count, uint8_t returns_value) {
  int32_t index = builtin_register(name, handler);
  if (index < 0) return index;
  builtin_registry.entries[index]->param_count = param_count;
  builtin_registry.entries[index]->returns_value = returns_value;
  return index;
}

uint32_t builtin_name_hash(const char* name) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return hash_name_text(upper.c_str());
}

int32_t find_builtin_by_hash(uint32_t name_hash) {
  if (name_hash == 0 || !hash_slots) return walk_for_hash(name_hash);
  const uint16_t* slot = index_slot_of(name_hash);
  return slot ? *slot - 1 : -1;
}

BuiltinEntry* builtin_entry(int32_t index) {
  if (index < 0 || index >= builtin_registry.count) return nullptr;
  return builtin_registry.entries[index];
}

void builtin_entry_clear(int32_t index) {
  BuiltinEntry* entry = builtin_entry(index);
  if (!entry) return;
  index_remove(entry->name_hash, index);
  crt::free(entry->name);
  crt::free(entry->library);
  crt::free(entry->function);
  std::memset(entry, 0, sizeof *entry);
}

void builtin_registry_clear() {
  for (int32_t index = 0; index < builtin_registry.count; ++index) {
    builtin_entry_clear(index);
    crt::free(builtin_registry.entries[index]);
    builtin_registry.entries[index] = nullptr;
  }
  builtin_registry.count = 0;
  index_reset();
}

std::vector<BuiltinEntry*> builtin_registry_take_entries() {
  std::vector<BuiltinEntry*> taken(builtin_registry.entries, builtin_registry.entries + builtin_registry.count);
  std::fill_n(builtin_registry.entries, builtin_registry.count, nullptr);
  builtin_registry.count = 0;
  index_reset();
  return taken;
}

void builtin_entry_free(BuiltinEntry* entry) {
  if (!entry) return;
  crt::free(entry->name);
  crt::free(entry->library);
  crt::free(entry->function);
  crt::free(entry);
}

int32_t builtin_registry_adopt(BuiltinEntry* entry) {
  if (!entry) return -1;
  int32_t index = find_builtin_by_hash(entry->name_hash);
  if (index >= 0) {
    BuiltinEntry* replaced = builtin_registry.entries[index];
    index_remove(replaced->name_hash, index);
    builtin_entry_free(replaced);
  } else {
    if (table_full(entry->name)) {
      builtin_entry_free(entry);
      return -1;
    }
    index = builtin_registry.count++;
  }
  builtin_registry.entries[index] = entry;
  index_add(entry->name_hash, index);
  return index;
}

int32_t external_function_declare(const char* script_name, const char* function_name, const char* library_name,
                                  uint8_t param_count, uint8_t returns_value, uint8_t wide_api,
                                  uint8_t declare_form) {
  int32_t index = builtin_register(script_name, nullptr);
  if (index < 0) return index;
  BuiltinEntry* entry = builtin_registry.entries[index];
  replace_text(&entry->library, library_name);
  replace_text(&entry->function, function_name);
  entry->param_count = param_count;
  entry->returns_value = returns_value;
  entry->wide_api = wide_api;
  entry->declare_form = declare_form;
  if (link_declarations_now) external_function_link(index);
  return index;
}

int32_t external_function_bind(HMODULE module, int32_t index, const char* function_name) {
  BuiltinEntry* entry = builtin_entry(index);
  if (!entry || !function_name) return 0;
  char16_t* wide = to_wide(function_name);
  NativeEntry address = wide ? GetProcAddressW(module, wide) : nullptr;
  crt::free(wide);
  if (entry->returns_value) {
    entry->native_func = address;
  } else {
    entry->native_proc = address;
  }
  return (entry->native_proc || entry->native_func) ? 1 : 0;
}

void external_function_link(int32_t index) {
  BuiltinEntry* entry = builtin_entry(index);
  if (!entry || !entry->library) return;
  char16_t* wide_library = to_wide(entry->library);
  // The module is never released: the library stays loaded for the rest of the run.
  HMODULE module = wide_library ? LoadLibraryW(wide_library) : nullptr;
  crt::free(wide_library);
  if (!module) {
    report_link_failure("Library %s not found", entry->library, nullptr);
    return;
  }
  bool bound = false;
  if (entry->wide_api && entry->function) {
    char wide_name[1024];
    crt::_snprintf(wide_name, sizeof wide_name - 1, "%sW", entry->function);
    wide_name[sizeof wide_name - 1] = '\0';
    if (external_function_bind(module, index, wide_name)) {
      replace_text(&entry->function, wide_name);
      bound = true;
    }
  }
  if (!bound) bound = external_function_bind(module, index, entry->function) != 0;
  if (!bound) report_link_failure("Error linking function %s from library %s", entry->name, entry->library);
}

BuiltinEntry* external_function_for_call(int32_t index) {
  BuiltinEntry* entry = builtin_entry(index);
  if (!entry) {
    runtime_error("Call of an undeclared function (entry %d)", index);
    return nullptr;
  }
  if (!(entry->returns_value ? entry->native_func : entry->native_proc)) {
    // Skipping the call silently would hand the script a made-up result.
    runtime_error("Error linking function %s from library %s", entry->name ? entry->name : "",
                  entry->library ? entry->library : "");
    return nullptr;
  }
  return entry;
}

void free_record_array(void** records, int32_t* count) {
  for (int32_t index = 0; index < *count; ++index) {
    auto** record = static_cast<void**>(records[index]);
    if (!record) continue;
    crt::free(*record);
    crt::free(record);
    records[index] = nullptr;
  }
  *count = 0;
}
