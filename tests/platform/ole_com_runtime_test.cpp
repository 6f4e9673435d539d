// Classes and type libraries found through the registry: what CoCreateInstance,
// CLSIDFromProgID and LoadRegTypeLib answer for each way a registration can be wrong.
#include <string>

#include "platform/kernel/registry.h"
#include "platform/kernel/utf.h"
#include "platform/ole/automation.h"
#include "platform/ole/com_runtime.h"
#include "platform/ole/type_library.h"
#include "temporary_root.h"

namespace {

const CLSID kClass = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

void set_default(const std::u16string& path, const std::u16string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

std::u16string class_key() {
  WCHAR text[40];
  StringFromGUID2(kClass, text, 40);
  return u"CLSID\\" + std::u16string(text);
}

using ComRuntime = TemporaryRoot;

}  // namespace

TEST_F(ComRuntime, CreationReportsWhatIsWrongWithARegistration) {
  struct Case {
    const char* what;
    const char16_t* server;  // null: the class is not registered
    DWORD context;
    HRESULT result;
  };
  const Case cases[] = {
      {"not registered", nullptr, 23, REGDB_E_CLASSNOTREG},
      {"no such library", u"no_such_server.dll", 23, CO_E_DLLNOTFOUND},
      {"library without a class factory", u"module_probe.dll", 23, CO_E_ERRORINDLL},
      {"only out-of-process contexts asked", u"module_probe.dll", CLSCTX_LOCAL_SERVER, REGDB_E_CLASSNOTREG},
  };
  for (const Case& c : cases) {
    RegDeleteKeyW(HKEY_CLASSES_ROOT, class_key().c_str());
    if (c.server) set_default(class_key() + u"\\InprocServer32", c.server);
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CoCreateInstance(kClass, nullptr, c.context, IID_IUnknown, reinterpret_cast<void**>(&object)), c.result)
        << c.what;
    EXPECT_EQ(object, nullptr) << c.what;
  }
}

TEST_F(ComRuntime, ProgIdsNameTheirClass) {
  WCHAR text[40];
  StringFromGUID2(kClass, text, 40);
  set_default(u"Test.Thing\\CLSID", text);
  set_default(class_key() + u"\\ProgID", u"Test.Thing");
  CLSID found{};
  ASSERT_EQ(CLSIDFromProgID(u"test.thing", &found), S_OK);
  EXPECT_TRUE(found == kClass);
  LPOLESTR progid = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(kClass, &progid), S_OK);
  EXPECT_EQ(std::u16string(progid), u"Test.Thing");
  CoTaskMemFree(progid);
  EXPECT_EQ(CLSIDFromProgID(u"Other.Thing", &found), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"", &found), CO_E_CLASSSTRING);
  set_default(u"Broken.Thing\\CLSID", u"not a class id");
  EXPECT_EQ(CLSIDFromProgID(u"Broken.Thing", &found), CO_E_CLASSSTRING);
}

TEST_F(ComRuntime, RegisteredTypeLibrariesLoadByTheirGuidAndVersion) {
  platform::ole::TypeLibrarySpec spec;
  spec.guid = kClass;
  spec.major = 3;
  spec.minor = 10;
  spec.name = u"Registered";
  std::string file = host("registered.tlb");
  ASSERT_TRUE(platform::ole::save_type_library(spec, file));
  ITypeLib* library = nullptr;
  ASSERT_EQ(LoadTypeLib(u"\\registered.tlb", &library), S_OK);
  ASSERT_EQ(RegisterTypeLib(library, u"\\registered.tlb", nullptr), S_OK);
  library->Release();
  library = nullptr;
  ASSERT_EQ(LoadRegTypeLib(kClass, 3, 10, 0, &library), S_OK);
  BSTR name = nullptr;
  ASSERT_EQ(library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(platform::utf8_from_utf16(name), "Registered");
  SysFreeString(name);
  library->Release();
  EXPECT_EQ(LoadRegTypeLib(kClass, 3, 9, 0, &library), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(library, nullptr);
}
