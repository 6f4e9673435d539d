// The COM runtime: apartments, class ids and ProgIDs in the registry, in-process servers
// created through their class factories, and task memory.
#include "platform/ole/com_runtime.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/kernel/modules.h"
#include "platform/kernel/registry.h"

const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IConnectionPointContainer = {0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IEnumConnectionPoints = {0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IConnectionPoint = {0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

namespace {

thread_local int apartment_entries = 0;

// The default value of a key below HKEY_CLASSES_ROOT as text, empty when it has none.
std::u16string class_key_text(const std::u16string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  WCHAR buffer[1024];
  DWORD type = 0;
  DWORD size = sizeof(buffer) - sizeof(WCHAR);
  LONG status = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  buffer[size / sizeof(WCHAR)] = 0;
  return std::u16string(buffer);
}

std::u16string guid_text(REFGUID guid) {
  WCHAR text[40];
  StringFromGUID2(guid, text, 40);
  return std::u16string(text);
}

int hex_value(WCHAR unit) {
  if (unit >= u'0' && unit <= u'9') return unit - u'0';
  if (unit >= u'a' && unit <= u'f') return unit - u'a' + 10;
  if (unit >= u'A' && unit <= u'F') return unit - u'A' + 10;
  return -1;
}

// Reads count hex digits; false at anything else.
bool read_hex(LPCOLESTR& cursor, int count, uint32_t* value) {
  uint32_t result = 0;
  for (int i = 0; i < count; ++i) {
    int digit = hex_value(cursor[i]);
    if (digit < 0) return false;
    result = result * 16 + static_cast<uint32_t>(digit);
  }
  cursor += count;
  *value = result;
  return true;
}

}  // namespace

HRESULT CoInitializeEx(LPVOID, DWORD) { return apartment_entries++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (apartment_entries > 0) --apartment_entries;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID, REFIID iid, LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
  std::u16string server = class_key_text(u"CLSID\\" + guid_text(clsid) + u"\\InprocServer32");
  if (server.empty()) return REGDB_E_CLASSNOTREG;
  // A server that gave an object stays loaded: its objects may outlive any one creation.
  HMODULE module = LoadLibraryW(server.c_str());
  if (!module) return CO_E_DLLNOTFOUND;
  auto get_class_object = reinterpret_cast<DllGetClassObjectFunction>(GetProcAddress(module, "DllGetClassObject"));
  HRESULT result = get_class_object ? get_class_object(clsid, iid, object) : CO_E_ERRORINDLL;
  if (FAILED(result)) FreeLibrary(module);
  return result;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  IClassFactory* factory = nullptr;
  HRESULT result = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(result)) return result;
  if (!factory) return E_NOINTERFACE;
  result = factory->CreateInstance(nullptr, iid, object);
  factory->Release();
  return result;
}

HRESULT CLSIDFromProgID(LPCOLESTR progid, CLSID* clsid) {
  if (!progid || !clsid) return E_INVALIDARG;
  if (!*progid) return CO_E_CLASSSTRING;
  std::u16string text = class_key_text(std::u16string(progid) + u"\\CLSID");
  if (text.empty()) return CO_E_CLASSSTRING;
  return CLSIDFromString(text.c_str(), clsid);
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid) {
  if (!progid) return E_INVALIDARG;
  *progid = nullptr;
  std::u16string text = class_key_text(u"CLSID\\" + guid_text(clsid) + u"\\ProgID");
  if (text.empty()) return REGDB_E_CLASSNOTREG;
  size_t bytes = (text.size() + 1) * sizeof(WCHAR);
  *progid = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
  if (!*progid) return E_OUTOFMEMORY;
  std::memcpy(*progid, text.c_str(), bytes);
  return S_OK;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
  if (!text || !clsid) return E_INVALIDARG;
  LPCOLESTR cursor = text;
  uint32_t value = 0;
  CLSID result{};
  if (*cursor++ != u'{') return CO_E_CLASSSTRING;
  if (!read_hex(cursor, 8, &value)) return CO_E_CLASSSTRING;
  result.Data1 = value;
  if (*cursor++ != u'-' || !read_hex(cursor, 4, &value)) return CO_E_CLASSSTRING;
  result.Data2 = static_cast<uint16_t>(value);
  if (*cursor++ != u'-' || !read_hex(cursor, 4, &value)) return CO_E_CLASSSTRING;
  result.Data3 = static_cast<uint16_t>(value);
  if (*cursor++ != u'-') return CO_E_CLASSSTRING;
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && *cursor++ != u'-') return CO_E_CLASSSTRING;
    if (!read_hex(cursor, 2, &value)) return CO_E_CLASSSTRING;
    result.Data4[i] = static_cast<uint8_t>(value);
  }
  if (*cursor++ != u'}' || *cursor != 0) return CO_E_CLASSSTRING;
  *clsid = result;
  return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) { return CLSIDFromString(text, iid); }

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int chars) {
  if (!buffer || chars < 39) return 0;
  char text[40];
  std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1, guid.Data2,
                guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  for (int i = 0; i < 39; ++i) buffer[i] = static_cast<WCHAR>(text[i]);
  return 39;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
  if (!text) return E_INVALIDARG;
  *text = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(WCHAR)));
  if (!*text) return E_OUTOFMEMORY;
  StringFromGUID2(clsid, *text, 39);
  return S_OK;
}

LPVOID CoTaskMemAlloc(SIZE_T size) { return std::malloc(size ? size : 1); }

void CoTaskMemFree(LPVOID block) { std::free(block); }

namespace {

// Scripts that declare these functions of ole32.dll get the layer's own.
const bool registered_in_ole32 = [] {
  const std::pair<const char*, void*> functions[] = {
      {"CoInitializeEx", reinterpret_cast<void*>(&CoInitializeEx)},
      {"CoUninitialize", reinterpret_cast<void*>(&CoUninitialize)},
      {"CoCreateInstance", reinterpret_cast<void*>(&CoCreateInstance)},
      {"CoGetClassObject", reinterpret_cast<void*>(&CoGetClassObject)},
      {"CLSIDFromProgID", reinterpret_cast<void*>(&CLSIDFromProgID)},
      {"ProgIDFromCLSID", reinterpret_cast<void*>(&ProgIDFromCLSID)},
      {"CLSIDFromString", reinterpret_cast<void*>(&CLSIDFromString)},
      {"IIDFromString", reinterpret_cast<void*>(&IIDFromString)},
      {"StringFromCLSID", reinterpret_cast<void*>(&StringFromCLSID)},
      {"StringFromGUID2", reinterpret_cast<void*>(&StringFromGUID2)},
      {"CoTaskMemAlloc", reinterpret_cast<void*>(&CoTaskMemAlloc)},
      {"CoTaskMemFree", reinterpret_cast<void*>(&CoTaskMemFree)},
  };
  for (const auto& [name, address] : functions) platform::register_builtin_module_function("ole32", name, address);
  return true;
}();

}  // namespace
