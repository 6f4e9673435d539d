// Type libraries: the file format, its reader and writer, and ITypeLib/ITypeInfo over
// what was read.
//
// File format (all numbers little-endian):
//   "ZTLB", u16 version (1), u16 flags (0)
//   library: GUID, u16 major version, u16 minor version, u32 locale, string name
//   u32 type count, then each type:
//     u8 kind (TYPEKIND), string name, GUID, type (the aliased type; VT_EMPTY if none)
//     u16 function count, each: i32 member id, string name, u8 invoke kind, type result,
//         u16 parameter count, each: string name, u16 parameter flags, type
//     u16 variable count, each: i32 member id, string name, u8 variable kind, type,
//         and for VAR_CONST a value: u16 VARTYPE, then i32 (I2, I4, UI1, BOOL, ERROR,
//         INT), f64 (R4, R8, DATE), i64 (CY, the scaled integer) or string (BSTR)
//     u16 implemented-type count, each: u32 reference (a type index), i32 flags
//   and nothing after the last type.
//   GUID: u32, u16, u16, 8 bytes.  string: u16 unit count, then UTF-16 units.
//   type: u8 depth (1..8), depth VARTYPEs where all but the last are VT_PTR or
//         VT_SAFEARRAY and the last is neither; a last VT_USERDEFINED is followed by its
//         u32 reference (a type index).
// A reference handle (HREFTYPE) is the index of the referenced type in its library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ole/ole_types.h"

namespace platform::ole {

struct TypeSpec {
  std::vector<VARTYPE> chain;  // outermost first, e.g. {VT_PTR, VT_USERDEFINED}
  HREFTYPE reference = 0;      // for a last VT_USERDEFINED
};

struct ConstantValue {
  VARTYPE type = VT_EMPTY;
  int64_t whole = 0;
  double real = 0;
  std::u16string text;
};

struct ParameterSpec {
  std::u16string name;
  USHORT flags = PARAMFLAG_FIN;
  TypeSpec type;
};

struct FunctionSpec {
  MEMBERID id = 0;
  std::u16string name;
  INVOKEKIND kind = INVOKE_FUNC;
  TypeSpec result;
  std::vector<ParameterSpec> parameters;
};

struct VariableSpec {
  MEMBERID id = 0;
  std::u16string name;
  VARKIND kind = VAR_DISPATCH;
  TypeSpec type;
  ConstantValue value;  // VAR_CONST only
};

struct ImplementedSpec {
  HREFTYPE reference = 0;
  INT flags = 0;
};

struct TypeEntrySpec {
  TYPEKIND kind = TKIND_DISPATCH;
  std::u16string name;
  GUID guid{};
  TypeSpec alias;
  std::vector<FunctionSpec> functions;
  std::vector<VariableSpec> variables;
  std::vector<ImplementedSpec> implemented;
};

struct TypeLibrarySpec {
  GUID guid{};
  WORD major = 1;
  WORD minor = 0;
  LCID locale = 0;
  std::u16string name;
  std::vector<TypeEntrySpec> types;
};

// The bytes of a library in the file format.
std::vector<uint8_t> write_type_library(const TypeLibrarySpec& library);
// Writes them to a host file; false when it cannot be written.
bool save_type_library(const TypeLibrarySpec& library, const std::string& host_file);
// Reads the file format; TYPE_E_UNSUPFORMAT for other data, TYPE_E_INVDATAREAD for a
// file that ends early, has bytes after its end, or whose references or types are bad.
HRESULT read_type_library(const uint8_t* bytes, size_t size, TypeLibrarySpec* library);
// An ITypeLib over a library held in memory.
HRESULT create_type_library(const TypeLibrarySpec& library, ITypeLib** result);

}  // namespace platform::ole

// Loads a type-library file: the path as given (a "\" path is a device path); a bare
// file name is also looked for in the program's folder and beside zrk.
// TYPE_E_CANTLOADLIBRARY when no such file can be read.
HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** library);
// Loads the library registered under HKEY_CLASSES_ROOT\TypeLib\{guid}\major.minor\0\win32.
HRESULT LoadRegTypeLib(REFGUID guid, WORD major, WORD minor, LCID locale, ITypeLib** library);
// Registers a loaded library's file under that key.
HRESULT RegisterTypeLib(ITypeLib* library, LPCOLESTR full_path, LPCOLESTR help_folder);
