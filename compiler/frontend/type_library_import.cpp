// #IMPORT: the constants a type library gives a script (its own name, enumeration
// members and interface identifiers).
#include "compiler/frontend/type_library_import.h"

#include <cstring>
#include <string>

#include "compiler/constants.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "platform/kernel/memory.h"
#include "platform/ole/automation.h"
#include "platform/ole/com_runtime.h"
#include "platform/ole/type_library.h"

namespace {

char* narrow_copy(const WCHAR* text) { return to_narrow(text ? text : u""); }

// Defines name = value; both are 8-bit texts, value's ownership passes on.
void define(const char* name, char* value) {
  char* name_copy = crt::_strdup(name);
  if (!name_copy) {
    crt::free(value);
    return;
  }
  define_compile_constant(name_copy, value);
  crt::free(name_copy);
}

// "{" + the braced GUID text + "}": the value keeps the GUID's own braces inside.
char* braced_guid(const GUID& guid) {
  LPOLESTR text = nullptr;
  if (FAILED(StringFromCLSID(guid, &text))) return nullptr;
  char* narrow = narrow_copy(text);
  CoTaskMemFree(text);
  if (!narrow) return nullptr;
  std::string value = std::string("{") + narrow + "}";
  crt::free(narrow);
  return crt::_strdup(value.c_str());
}

void report_failure(const char* source, const char* file_name) {
  std::string message = std::string("Error importing \"") + file_name + "\"";
  report_compile_message(source, message.c_str(), nullptr, 0, false);
}

void import_enumeration(ITypeInfo* info, const TYPEATTR* attributes) {
  for (UINT j = 0; j < attributes->cVars; ++j) {
    VARDESC* member = nullptr;
    if (FAILED(info->GetVarDesc(j, &member)) || !member) continue;
    BSTR names[1] = {nullptr};
    UINT count = 0;
    if (SUCCEEDED(info->GetNames(member->memid, names, 1, &count)) && count == 1 && member->lpvarValue &&
        member->varkind == VAR_CONST) {
      VARIANT value;
      VariantInit(&value);
      if (SUCCEEDED(VariantChangeType(&value, member->lpvarValue, 0, VT_BSTR))) {
        char* name = narrow_copy(names[0]);
        char* text = narrow_copy(value.bstrVal);
        if (name && text) {
          define(name, text);
        } else {
          crt::free(text);
        }
        crt::free(name);
      }
      VariantClear(&value);
    }
    if (count == 1) SysFreeString(names[0]);
    info->ReleaseVarDesc(member);
  }
}

}  // namespace

void import_type_library(const char* source, const char* file_name) {
  std::string name = file_name ? file_name : "";
  // The directive's word keeps the quotes of its string.
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
  WCHAR* wide = to_wide(name.c_str());
  ITypeLib* library = nullptr;
  HRESULT result = wide ? LoadTypeLib(wide, &library) : E_OUTOFMEMORY;
  crt::free(wide);
  if (FAILED(result) || !library) return report_failure(source, name.c_str());
  BSTR library_name = nullptr;
  TLIBATTR* library_attributes = nullptr;
  if (FAILED(library->GetDocumentation(-1, &library_name, nullptr, nullptr, nullptr)) ||
      FAILED(library->GetLibAttr(&library_attributes)) || !library_attributes) {
    SysFreeString(library_name);
    library->Release();
    return report_failure(source, name.c_str());
  }
  char* narrow_name = narrow_copy(library_name);
  char* value = braced_guid(library_attributes->guid);
  if (narrow_name && value) {
    define(narrow_name, value);
  } else {
    crt::free(value);
  }
  crt::free(narrow_name);
  library->ReleaseTLibAttr(library_attributes);
  SysFreeString(library_name);

  UINT count = library->GetTypeInfoCount();
  for (UINT index = 0; index < count; ++index) {
    TYPEKIND kind{};
    BSTR type_name = nullptr;
    ITypeInfo* info = nullptr;
    TYPEATTR* attributes = nullptr;
    if (FAILED(library->GetTypeInfoType(index, &kind)) ||
        FAILED(library->GetDocumentation(static_cast<INT>(index), &type_name, nullptr, nullptr, nullptr)) ||
        FAILED(library->GetTypeInfo(index, &info)) || !info || FAILED(info->GetTypeAttr(&attributes)) ||
        !attributes) {
      SysFreeString(type_name);
      if (info) info->Release();
      continue;
    }
    if (kind == TKIND_ENUM) {
      import_enumeration(info, attributes);
    } else if (kind == TKIND_INTERFACE || kind == TKIND_DISPATCH) {
      char* narrow_type = narrow_copy(type_name);
      char* guid = braced_guid(attributes->guid);
      if (narrow_type && guid) {
        define((std::string("IID_") + narrow_type).c_str(), guid);
      } else {
        crt::free(guid);
      }
      crt::free(narrow_type);
    }
    info->ReleaseTypeAttr(attributes);
    info->Release();
    SysFreeString(type_name);
  }
  library->Release();
}
