// Reading, writing and deleting the debugger link's registry values.
#include "vm/debugger_values.h"

#include <vector>

#include "foundation/conversion.h"
#include "foundation/runtime_error.h"
#include "foundation/script_lock.h"
#include "platform/platform.h"

namespace {

// A registry name as UTF-16 (the registry's names are plain ASCII here).
std::u16string wide_name(const char* text) {
  char16_t* wide = to_wide(text);
  std::u16string result = wide ? wide : u"";
  crt::free(wide);
  return result;
}

bool key_opens(const char* key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, wide_name(key).c_str(), 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(handle);
  return true;
}

}  // namespace

bool debugger_key_exists(const char* key) {
  // Ten waits of 100 ms: Sleep moves a virtual clock too, so this ends under either clock.
  for (int attempt = 0; attempt <= 10; ++attempt) {
    if (key_opens(key)) return true;
    if (attempt < 10) {
      // Another script thread may run while this one waits for the debugger.
      ScriptLockYield waiting;
      Sleep(100);
    }
  }
  return false;
}

void debugger_set_value(const char* name, const char* text) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, wide_name(kDebuggerKey).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &handle, nullptr) != ERROR_SUCCESS) {
    return;
  }
  char16_t* wide = to_wide(text);
  size_t units = 0;
  while (wide && wide[units]) ++units;
  RegSetValueExW(handle, wide_name(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wide),
                 static_cast<DWORD>((units + 1) * sizeof(char16_t)));
  crt::free(wide);
  RegCloseKey(handle);
}

void debugger_delete_value(const char* key, const char* name) { debugger_delete_values(key, {name}); }

void debugger_delete_values(const char* key, std::initializer_list<const char*> names) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, wide_name(key).c_str(), 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) return;
  for (const char* name : names) RegDeleteValueW(handle, wide_name(name).c_str());
  RegCloseKey(handle);
}

char* debugger_read_value(const char* key, const char* name) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, wide_name(key).c_str(), 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) {
    return nullptr;
  }
  std::u16string value_name = wide_name(name);
  // The byte count passed is the buffer's size in bytes; a longer value asks for more and
  // is read again into a buffer of that size, so no breakpoint list is cut short.
  std::vector<char16_t> buffer(1024);
  DWORD type = 0;
  LONG result = ERROR_MORE_DATA;
  for (int attempt = 0; attempt < 4 && result == ERROR_MORE_DATA; ++attempt) {
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(char16_t));
    result = RegQueryValueExW(handle, value_name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                              &bytes);
    if (result == ERROR_MORE_DATA) buffer.assign(bytes / sizeof(char16_t) + 2, u'\0');
  }
  RegCloseKey(handle);
  if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return nullptr;
  buffer.push_back(u'\0');  // a value stored without its terminator still ends
  return to_narrow(buffer.data());
}
