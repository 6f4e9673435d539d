// Modules: libraries loaded by name (shared objects found beside the program, beside zrk
// or by the system), the device's own system libraries answered by this layer, and the
// running program's module.
#pragma once

#include <string>

#include "platform/kernel/types.h"

// Loads a library and returns its module; loading it again returns the same module and
// counts one more use. A name without a folder is looked for in the program's folder
// (that of GetModuleFileNameW(null)), the folder of the zrk executable, then by the
// system; in each place the file is tried as named, with its extension replaced by
// ".so", then as "lib<stem>.so", matching names without regard to case. A "\" path is
// a device path. The system libraries coredll, aygshell, commctrl, ole32 and oleaut32
// (with or without ".dll") are answered by this layer. Null with ERROR_MOD_NOT_FOUND
// when nothing loads.
HMODULE LoadLibraryW(LPCWSTR name);

// The address of a function of a module, or null with ERROR_PROC_NOT_FOUND (names are
// case-sensitive). A name below 64 KiB is an ordinal: the system libraries this layer
// answers for know the ordinals of their functions, libraries on disk none. A null
// module means the program's own.
void* GetProcAddress(HMODULE module, LPCSTR name);
void* GetProcAddressW(HMODULE module, LPCWSTR name);

// Drops one use of a module; the library is unloaded after its last use. The system
// libraries and the program's module stay. FALSE with ERROR_INVALID_HANDLE for a value
// that is not a module.
BOOL FreeLibrary(HMODULE module);

// The module of a library that is already loaded (by the names LoadLibraryW accepts,
// or its file name), the program's own module for null; never loads. Null with
// ERROR_MOD_NOT_FOUND otherwise.
HMODULE GetModuleHandleW(LPCWSTR name);

// Copies the full path of a module (null: the running program) into buffer, cut to
// chars - 1 units and always terminated. Returns the units copied without the
// terminator; when cut, returns chars with ERROR_INSUFFICIENT_BUFFER. 0 on error.
// The program's path is ZRK_PROGRAM when set (a device path such as
// "\Program Files\ZRK\ZRK.EXE", or a host path), else the real executable. A path
// inside the device root is given as a device path, any other as a host path.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD chars);

namespace platform {

// Adds a function to a system library answered by this layer, creating the library
// when it is new (so an area can add a whole simulated DLL). Names of libraries match
// without regard to case and with or without ".dll"; a later entry of the same
// function replaces the earlier one. An ordinal is registered as the name "#N".
void register_builtin_module_function(const char* module_name, const char* function_name, void* address);

// Makes a system library answered by this layer exist only while present() says so
// (a simulated vendor library that only some device profiles carry).
void register_builtin_module_presence(const char* module_name, bool (*present)());

// What the system said when the last LoadLibraryW of this thread found a file but
// could not load it (empty when it found none).
std::string module_load_error();

}  // namespace platform
