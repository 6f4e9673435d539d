// Modules: libraries found by name beside the program, beside zrk or on a device path,
// the layer's own system libraries, and the program's module and path.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/shell/shell.h"
#include "platform/user/user.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/threads.h"
#include "platform/kernel/utf.h"
#include "platform/user/message_box.h"

namespace {

namespace fs = std::filesystem;
const std::string kProbe = std::string(ZRK_TEST_BINARY_DIR) + "/libmodule_probe.so";

using AddFunction = int (*)(int, int);

// Keeps ZRK_PROGRAM and ZRK_ROOT as they were and gives each test a scratch folder.
class Modules : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"ZRK_PROGRAM", "ZRK_ROOT"}) {
      const char* value = getenv(name);
      saved_.push_back({name, value ? value : "", value != nullptr});
    }
    scratch_ = fs::temp_directory_path() / ("zrk_modules_" + std::to_string(getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(scratch_);
    fs::create_directories(scratch_ / "root");
    setenv("ZRK_ROOT", (scratch_ / "root").c_str(), 1);
    setenv("ZRK_PROGRAM", (std::string(ZRK_TEST_BINARY_DIR) + "/Probe.exe").c_str(), 1);
  }
  void TearDown() override {
    for (const auto& saved : saved_) {
      if (saved.set) setenv(saved.name, saved.value.c_str(), 1);
      else unsetenv(saved.name);
    }
    fs::remove_all(scratch_);
  }

  // A copy of the probe library under another name.
  void copy_probe(const fs::path& to) {
    fs::create_directories(to.parent_path());
    fs::copy_file(kProbe, to, fs::copy_options::overwrite_existing);
  }

  static std::u16string file_name_of(HMODULE module) {
    WCHAR buffer[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    return std::u16string(buffer, length);
  }

  struct Saved {
    const char* name;
    std::string value;
    bool set;
  };
  std::vector<Saved> saved_;
  fs::path scratch_;
};

TEST_F(Modules, LibraryNamesMapToTheSharedObject) {
  std::u16string host_name = platform::utf16_from_utf8(kProbe);
  const std::u16string names[] = {u"module_probe.dll", u"MODULE_PROBE.DLL", u"module_probe", u"libmodule_probe.so",
                                  host_name};
  HMODULE first = nullptr;
  for (const auto& name : names) {
    std::string row = platform::utf8_from_utf16(name);
    HMODULE module = LoadLibraryW(name.c_str());
    ASSERT_NE(module, nullptr) << row << ": " << platform::module_load_error();
    if (!first) first = module;
    EXPECT_EQ(module, first) << row << ": one library, one module";
    auto add = reinterpret_cast<AddFunction>(GetProcAddress(module, "module_probe_add"));
    ASSERT_NE(add, nullptr) << row;
    EXPECT_EQ(add(2, 3), 5) << row;
    EXPECT_EQ(GetProcAddressW(module, u"module_probe_add"), reinterpret_cast<void*>(add)) << row;
  }
  EXPECT_EQ(file_name_of(first), host_name);
  EXPECT_EQ(GetModuleHandleW(u"Module_Probe.dll"), first);
  for (size_t i = 0; i < std::size(names); ++i) EXPECT_TRUE(FreeLibrary(first));
}

TEST_F(Modules, TheLibraryUsesTheProgramsPlatform) {
  HMODULE module = LoadLibraryW(u"module_probe.dll");
  ASSERT_NE(module, nullptr);
  auto set_error = reinterpret_cast<void (*)(DWORD)>(GetProcAddress(module, "module_probe_set_last_error"));
  ASSERT_NE(set_error, nullptr);
  SetLastError(0);
  set_error(4242);
  EXPECT_EQ(GetLastError(), 4242u);
  FreeLibrary(module);
}

TEST_F(Modules, TheProgramsFolderIsSearchedBeforeZrksFolder) {
  copy_probe(scratch_ / "app" / "Probe.dll");
  setenv("ZRK_PROGRAM", (scratch_ / "app" / "app.exe").c_str(), 1);
  HMODULE copy = LoadLibraryW(u"PROBE.DLL");
  ASSERT_NE(copy, nullptr) << platform::module_load_error();
  EXPECT_EQ(file_name_of(copy), platform::utf16_from_utf8((scratch_ / "app" / "Probe.dll").string()));

  // Not in the program's folder: found beside the running executable.
  HMODULE beside = LoadLibraryW(u"module_probe.dll");
  ASSERT_NE(beside, nullptr);
  EXPECT_NE(beside, copy);
  EXPECT_TRUE(FreeLibrary(copy));
  EXPECT_TRUE(FreeLibrary(beside));
}

TEST_F(Modules, DevicePathsAndADeviceProgramFolder) {
  copy_probe(scratch_ / "root" / "Windows" / "devprobe.dll");
  HMODULE module = LoadLibraryW(u"\\WINDOWS\\DevProbe.DLL");
  ASSERT_NE(module, nullptr) << platform::module_load_error();
  EXPECT_EQ(file_name_of(module), u"\\Windows\\devprobe.dll");
  EXPECT_TRUE(FreeLibrary(module));

  copy_probe(scratch_ / "root" / "Program Files" / "App" / "helper.dll");
  setenv("ZRK_PROGRAM", "\\Program Files\\App\\APP.EXE", 1);
  HMODULE helper = LoadLibraryW(u"Helper.dll");
  ASSERT_NE(helper, nullptr) << platform::module_load_error();
  EXPECT_EQ(file_name_of(helper), u"\\Program Files\\App\\helper.dll");
  EXPECT_TRUE(FreeLibrary(helper));
}

TEST_F(Modules, LoadFailures) {
  fs::create_directories(scratch_ / "app");
  std::ofstream(scratch_ / "app" / "broken.dll") << "not a library";
  setenv("ZRK_PROGRAM", (scratch_ / "app" / "app.exe").c_str(), 1);
  struct Case {
    const char* name;
    const WCHAR* library;
    DWORD error;
  } cases[] = {
      {"missing library", u"no_such_library.dll", ERROR_MOD_NOT_FOUND},
      {"missing device path", u"\\Windows\\nothing.dll", ERROR_MOD_NOT_FOUND},
      {"empty name", u"", ERROR_MOD_NOT_FOUND},
      {"null name", nullptr, ERROR_INVALID_PARAMETER},
      {"a file that is no library", u"broken.dll", ERROR_MOD_NOT_FOUND},
  };
  for (const Case& row : cases) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(row.library), nullptr) << row.name;
    EXPECT_EQ(GetLastError(), row.error) << row.name;
  }
  LoadLibraryW(u"broken.dll");
  EXPECT_NE(platform::module_load_error(), "") << "the system's reason is kept";
}

TEST_F(Modules, LookupFailures) {
  HMODULE module = LoadLibraryW(u"module_probe.dll");
  ASSERT_NE(module, nullptr);
  auto not_a_module = reinterpret_cast<HMODULE>(platform::pointer_from(0x1234));
  struct Case {
    const char* name;
    HMODULE module;
    const char* function;
    DWORD error;
  } cases[] = {
      {"missing function", module, "module_probe_subtract", ERROR_PROC_NOT_FOUND},
      {"names are case-sensitive", module, "MODULE_PROBE_ADD", ERROR_PROC_NOT_FOUND},
      {"ordinal of a library on disk", module, platform::pointer_from<const char>(5), ERROR_PROC_NOT_FOUND},
      {"null name", module, nullptr, ERROR_PROC_NOT_FOUND},
      {"not a module", not_a_module, "module_probe_add", ERROR_INVALID_HANDLE},
  };
  for (const Case& row : cases) {
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(row.module, row.function), nullptr) << row.name;
    EXPECT_EQ(GetLastError(), row.error) << row.name;
  }
  SetLastError(0);
  EXPECT_EQ(GetProcAddressW(module, u"nothing"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_FALSE(FreeLibrary(not_a_module));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  WCHAR buffer[8];
  EXPECT_EQ(GetModuleFileNameW(not_a_module, buffer, 8), 0u);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(GetModuleHandleW(u"never_loaded.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  FreeLibrary(module);
}

TEST_F(Modules, EachLoadNeedsItsFree) {
  HMODULE first = LoadLibraryW(u"module_probe.dll");
  HMODULE second = LoadLibraryW(u"module_probe.dll");
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(first, second);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_NE(GetProcAddress(first, "module_probe_add"), nullptr) << "still loaded once";
  EXPECT_EQ(GetModuleHandleW(u"module_probe.dll"), first);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(GetModuleHandleW(u"module_probe.dll"), nullptr);
  EXPECT_FALSE(FreeLibrary(first));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

void gx_probe() {}

TEST_F(Modules, SystemLibrariesAreAnsweredByThePlatform) {
  HMODULE core = LoadLibraryW(u"coredll.dll");
  ASSERT_NE(core, nullptr);
  for (const WCHAR* name : {u"COREDLL", u"CoreDll.DLL", u"\\Windows\\coredll.dll"}) {
    EXPECT_EQ(LoadLibraryW(name), core) << platform::utf8_from_utf16(name);
  }
  for (const WCHAR* name : {u"aygshell.dll", u"commctrl.dll", u"ole32.dll", u"OleAut32"}) {
    HMODULE module = LoadLibraryW(name);
    EXPECT_NE(module, nullptr) << platform::utf8_from_utf16(name);
    EXPECT_NE(module, core) << platform::utf8_from_utf16(name);
    EXPECT_EQ(GetModuleHandleW(name), module) << platform::utf8_from_utf16(name);
  }
  EXPECT_EQ(GetProcAddress(core, "GetLastError"), reinterpret_cast<void*>(&GetLastError));
  EXPECT_EQ(GetProcAddressW(core, u"MessageBoxW"), reinterpret_cast<void*>(&MessageBoxW));
  EXPECT_EQ(GetProcAddress(core, "ResumeThread"), reinterpret_cast<void*>(&ResumeThread));
  EXPECT_EQ(GetProcAddress(core, "GetExitCodeThread"), reinterpret_cast<void*>(&GetExitCodeThread));
  auto set_error = reinterpret_cast<void (*)(DWORD)>(GetProcAddressW(core, u"SetLastError"));
  ASSERT_NE(set_error, nullptr);
  set_error(77);
  EXPECT_EQ(GetLastError(), 77u);
  EXPECT_EQ(GetProcAddress(LoadLibraryW(u"aygshell.dll"), "GetLastError"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  // The shell's functions by the ordinals programs call them by.
  HMODULE shell = LoadLibraryW(u"aygshell.dll");
  EXPECT_EQ(GetProcAddress(shell, platform::pointer_from<const char>(34)), reinterpret_cast<void*>(&SHCreateMenuBar));
  EXPECT_EQ(GetProcAddress(shell, platform::pointer_from<const char>(65)), reinterpret_cast<void*>(&SHFullScreen));
  EXPECT_EQ(GetProcAddress(LoadLibraryW(u"commctrl"), platform::pointer_from<const char>(4)),
            reinterpret_cast<void*>(&CommandBar_Show));
  EXPECT_EQ(GetProcAddress(shell, platform::pointer_from<const char>(3)), nullptr);
  EXPECT_EQ(GetProcAddressW(core, u"CreateWindowExW"), reinterpret_cast<void*>(&CreateWindowExW));
  EXPECT_EQ(file_name_of(core), u"\\Windows\\coredll.dll");
  EXPECT_TRUE(FreeLibrary(core));
  EXPECT_EQ(GetProcAddress(core, "GetLastError"), reinterpret_cast<void*>(&GetLastError)) << "never unloaded";
}

TEST_F(Modules, AreasCanAddSystemLibraries) {
  platform::register_builtin_module_function("GX.DLL", "GXOpenDisplay", reinterpret_cast<void*>(&gx_probe));
  HMODULE gx = LoadLibraryW(u"gx.dll");
  ASSERT_NE(gx, nullptr);
  EXPECT_EQ(GetProcAddressW(gx, u"GXOpenDisplay"), reinterpret_cast<void*>(&gx_probe));
  platform::register_builtin_module_function("coredll", "ProbeEntry", reinterpret_cast<void*>(&gx_probe));
  EXPECT_EQ(GetProcAddress(LoadLibraryW(u"coredll.dll"), "ProbeEntry"), reinterpret_cast<void*>(&gx_probe));
}

TEST_F(Modules, TheProgramsModuleAndPath) {
  HMODULE program = GetModuleHandleW(nullptr);
  ASSERT_NE(program, nullptr);
  setenv("ZRK_PROGRAM", "\\Program Files\\ZRK\\ZRK.EXE", 1);
  EXPECT_EQ(file_name_of(nullptr), u"\\Program Files\\ZRK\\ZRK.EXE");
  EXPECT_EQ(file_name_of(program), u"\\Program Files\\ZRK\\ZRK.EXE");
  EXPECT_EQ(GetModuleHandleW(u"zrk.exe"), program);

  unsetenv("ZRK_PROGRAM");
  std::string real = fs::canonical(std::string(ZRK_TEST_BINARY_DIR) + "/platform_tests").string();
  EXPECT_EQ(file_name_of(nullptr), platform::utf16_from_utf8(real));
  EXPECT_EQ(GetModuleHandleW(u"platform_tests"), program);

  // The program's module looks in the program's global scope, not in loaded libraries.
  EXPECT_EQ(GetProcAddress(nullptr, "module_probe_add"), nullptr);
  EXPECT_NE(GetProcAddress(program, "malloc"), nullptr);
}

TEST_F(Modules, FileNamesAreCutToTheBuffer) {
  setenv("ZRK_PROGRAM", "\\Apps\\Tool.exe", 1);  // 14 units
  struct Case {
    DWORD chars;
    DWORD result;
    std::u16string text;
    DWORD error;
  } cases[] = {{15, 14, u"\\Apps\\Tool.exe", 0},
               {14, 14, u"\\Apps\\Tool.ex", ERROR_INSUFFICIENT_BUFFER},
               {5, 5, u"\\App", ERROR_INSUFFICIENT_BUFFER},
               {1, 1, u"", ERROR_INSUFFICIENT_BUFFER}};
  for (const Case& row : cases) {
    WCHAR buffer[32];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, row.chars), row.result) << row.chars;
    EXPECT_EQ(std::u16string(buffer), row.text) << row.chars;
    EXPECT_EQ(GetLastError(), row.error) << row.chars;
  }
  WCHAR buffer[4] = {u'#', 0, 0, 0};
  EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 0), 0u);
  EXPECT_EQ(buffer[0], u'#');
  EXPECT_EQ(GetModuleFileNameW(nullptr, nullptr, 10), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
