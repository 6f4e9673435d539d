// What the project's test COM servers share: a class factory that lives as long as its
// library, the registry entries they write, and their call logs.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/kernel/registry.h"
#include "platform/ole/ole_types.h"

namespace com_test {

// A factory that is a static object of its server: counting does nothing. make gives a
// new object with one reference, or null.
class StaticClassFactory : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    IUnknown* made = make();
    if (!made) return E_OUTOFMEMORY;
    HRESULT result = made->QueryInterface(iid, object);
    made->Release();
    return result;
  }
  HRESULT LockServer(BOOL) override { return S_OK; }

 protected:
  virtual IUnknown* make() = 0;
};

// IDispatch::GetTypeInfo of an object described by one type of library: only index 0.
inline HRESULT dispatch_type_info(ITypeLib* library, UINT type, UINT index, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0 || !library) return DISP_E_BADINDEX;
  return library->GetTypeInfo(type, info);
}

// IDispatch::GetIDsOfNames of an object described by one type of library.
inline HRESULT dispatch_ids_of_names(ITypeLib* library, UINT type, LPOLESTR* names, UINT count, DISPID* ids) {
  ITypeInfo* info = nullptr;
  HRESULT result = library->GetTypeInfo(type, &info);
  if (FAILED(result)) return result;
  result = info->GetIDsOfNames(names, count, ids);
  info->Release();
  return result;
}

// Sets the default value of a key below HKEY_CLASSES_ROOT, creating the key.
inline LONG set_class_key(const std::u16string& path, const std::u16string& value) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
  return status;
}

// Appends one formatted line to a log in the working folder.
inline void append_log_line(const char* file, const char* format, va_list arguments) {
  FILE* log = std::fopen(file, "a");
  if (!log) return;
  std::vfprintf(log, format, arguments);
  std::fputc('\n', log);
  std::fclose(log);
}

}  // namespace com_test
