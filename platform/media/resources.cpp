// The resource table: entries by module, type and name, kept for the whole process so that
// the addresses FindResourceW and LockResource give never dangle.
#include "platform/media/resources.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel/modules.h"
#include "platform/kernel/wide_string.h"

namespace {

// A type or name: a number, or a text kept upper-cased (texts match without regard to case).
struct ResourceKey {
  bool is_number = false;
  WORD number = 0;
  std::u16string text;

  bool operator==(const ResourceKey& other) const {
    return is_number == other.is_number && number == other.number && text == other.text;
  }
};

// Reads "#123" as the number 123, as the resource compiler does; false for other texts.
bool number_text(const std::u16string& text, WORD& number) {
  if (text.size() < 2 || text.size() > 6 || text[0] != u'#') return false;
  uint32_t value = 0;
  for (size_t i = 1; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    value = value * 10 + (text[i] - u'0');
  }
  if (value > 0xFFFF) return false;
  number = static_cast<WORD>(value);
  return true;
}

ResourceKey key_of(LPCWSTR name) {
  ResourceKey key;
  if (IS_INTRESOURCE(name)) {
    key.is_number = true;
    key.number = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
    return key;
  }
  for (const WCHAR* unit = name; *unit; ++unit) key.text.push_back(crt::towupper(*unit));
  if (number_text(key.text, key.number)) {
    key.is_number = true;
    key.text.clear();
  }
  return key;
}

struct Resource {
  HMODULE module;
  ResourceKey type;
  ResourceKey name;
  std::vector<uint8_t> bytes;
};

struct Table {
  std::mutex mutex;
  std::deque<Resource> entries;  // a deque keeps entries in place as it grows
};

// Lives for the whole process: resource addresses are used until exit.
Table& table() {
  static Table* instance = new Table;
  return *instance;
}

HMODULE module_or_program(HMODULE module) { return module ? module : GetModuleHandleW(nullptr); }

// The entry behind a handle FindResourceW gave, or null; the caller holds the table's lock.
const Resource* entry_of(Table& shared, HRSRC handle) {
  for (const Resource& entry : shared.entries)
    if (reinterpret_cast<HRSRC>(const_cast<Resource*>(&entry)) == handle) return &entry;
  return nullptr;
}

}  // namespace

namespace platform {

void register_resource(HMODULE module, LPCWSTR type, LPCWSTR name, const void* data, uint32_t size) {
  if (!type || !name || (!data && size)) return;
  Resource entry{module_or_program(module), key_of(type), key_of(name), {}};
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (size) entry.bytes.assign(bytes, bytes + size);
  Table& shared = table();
  std::lock_guard lock(shared.mutex);
  shared.entries.push_back(std::move(entry));
}

}  // namespace platform

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  if (!name || !type) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const HMODULE wanted = module_or_program(module);
  const ResourceKey type_key = key_of(type);
  const ResourceKey name_key = key_of(name);
  Table& shared = table();
  std::lock_guard lock(shared.mutex);
  bool type_seen = false;
  // The newest registration wins.
  for (auto entry = shared.entries.rbegin(); entry != shared.entries.rend(); ++entry) {
    if (entry->module != wanted || !(entry->type == type_key)) continue;
    type_seen = true;
    if (entry->name == name_key) return reinterpret_cast<HRSRC>(&*entry);
  }
  SetLastError(type_seen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  Table& shared = table();
  std::lock_guard lock(shared.mutex);
  const Resource* entry = entry_of(shared, resource);
  if (!entry) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // An empty resource still loads: its address is that of the entry's (empty) store.
  if (entry->bytes.empty()) return const_cast<Resource*>(entry);
  return const_cast<uint8_t*>(entry->bytes.data());
}

LPVOID LockResource(HGLOBAL loaded) { return loaded; }

DWORD SizeofResource(HMODULE, HRSRC resource) {
  Table& shared = table();
  std::lock_guard lock(shared.mutex);
  const Resource* entry = entry_of(shared, resource);
  if (!entry) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return static_cast<DWORD>(entry->bytes.size());
}

namespace {

// Scripts that declare these functions of coredll.dll get the table's own.
const bool registered_in_coredll = [] {
  platform::register_builtin_module_function("coredll", "FindResourceW", reinterpret_cast<void*>(&FindResourceW));
  platform::register_builtin_module_function("coredll", "LoadResource", reinterpret_cast<void*>(&LoadResource));
  platform::register_builtin_module_function("coredll", "LockResource", reinterpret_cast<void*>(&LockResource));
  platform::register_builtin_module_function("coredll", "SizeofResource", reinterpret_cast<void*>(&SizeofResource));
  return true;
}();

}  // namespace
