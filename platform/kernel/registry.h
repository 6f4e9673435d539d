// The device registry: keys and values under three root keys, kept as folders and
// files below the device root so that every process of the device shares them at once.
#pragma once

#include "platform/kernel/types.h"

using REGSAM = DWORD;

// The root keys; they are always open and closing them does nothing.
inline HKEY const HKEY_CLASSES_ROOT = platform::pointer_from<HKEY__>(0x80000000u);
inline HKEY const HKEY_CURRENT_USER = platform::pointer_from<HKEY__>(0x80000001u);
inline HKEY const HKEY_LOCAL_MACHINE = platform::pointer_from<HKEY__>(0x80000002u);

// Value types. The registry stores any type number with its bytes as given.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

// What RegCreateKeyExW found.
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Options and access rights are accepted and not enforced, as on the device.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// An open key whose key was deleted meanwhile (by this or another process).

// Every function returns its error code (ERROR_SUCCESS on success) and leaves
// GetLastError alone. Key and value names are case-insensitive and keep the case
// they were created with; a key path separates its names with "\" (a leading or
// trailing "\" is ignored). A null or empty value name means the key's default value.

// Opens the subkey of key, creating every missing key on the way. *disposition (when
// given) tells whether the last key was created. A null or empty subkey opens key anew.
LONG RegCreateKeyExW(HKEY key, LPCWSTR subkey, DWORD reserved, LPWSTR key_class, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);

// Opens an existing subkey of key: ERROR_FILE_NOT_FOUND when some key on the path is
// missing (*result is then null). A null or empty subkey opens key anew.
LONG RegOpenKeyExW(HKEY key, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY result);

// Reads a value: its type into *type and its bytes into data. *byte_count holds the
// buffer size in bytes and receives the value's size. With null data only the size is
// given; a buffer too small gives ERROR_MORE_DATA and the needed size. A string value
// stored without its terminator gets one after the data when the buffer has room.
LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD byte_count);

// Creates or replaces a value with byte_count bytes of data (a string's count includes
// its terminator). Other processes see the whole new value or the whole old one.
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD byte_count);

// Removes a value: ERROR_FILE_NOT_FOUND when it does not exist.
LONG RegDeleteValueW(HKEY key, LPCWSTR name);

// Removes a subkey of key with its values and all its subkeys.
LONG RegDeleteKeyW(HKEY key, LPCWSTR subkey);

// Names the subkey number index of key, in the order of their names without regard
// to case. *name_chars holds the buffer size in characters and receives the name's
// length without its terminator. ERROR_NO_MORE_ITEMS past the last subkey,
// ERROR_MORE_DATA when the name and its terminator do not fit (*name_chars unchanged).
// A key has no class: key_class receives "" and *class_chars 0. last_write (when given)
// receives the time the subkey last changed.
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_chars, LPDWORD reserved, LPWSTR key_class,
                   LPDWORD class_chars, FILETIME* last_write);

// Closes a key opened by RegCreateKeyExW or RegOpenKeyExW. The root keys stay open.
LONG RegCloseKey(HKEY key);
