// Resources of modules: blocks of bytes found by type and name (a text or a number), such
// as the "PTMOD" modules and "WAVE" samples a program carries. The table is filled through
// platform::register_resource; how a program's resources get there is the loader's choice.
#pragma once

#include <cstdint>

#include "platform/kernel/types.h"

struct HRSRC__;
using HRSRC = HRSRC__*;
using HGLOBAL = HANDLE;

constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// A resource number in the place of a name or type text, and the test for one.
inline LPWSTR MAKEINTRESOURCEW(WORD number) { return reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(number)); }
inline bool IS_INTRESOURCE(LPCWSTR name) { return (reinterpret_cast<uintptr_t>(name) >> 16) == 0; }

// Finds the resource of type and name in module (null: the running program). Texts match
// without regard to case; "#123" stands for the number 123. Null when there is none, with
// ERROR_RESOURCE_TYPE_NOT_FOUND or ERROR_RESOURCE_NAME_NOT_FOUND.
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);

// The resource's bytes (LoadResource gives a handle that LockResource turns into their
// address) and their count. They stay valid for the rest of the process. Null or 0, with
// ERROR_INVALID_HANDLE, for a value FindResourceW did not give.
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL loaded);
DWORD SizeofResource(HMODULE module, HRSRC resource);

namespace platform {

// Adds a copy of size bytes as the resource of type and name (texts or MAKEINTRESOURCEW
// numbers) of module (null: the running program). A later one of the same type and name
// is found in place of the earlier, whose bytes stay valid.
void register_resource(HMODULE module, LPCWSTR type, LPCWSTR name, const void* data, uint32_t size);

}  // namespace platform
