// Registry: value round trips, buffer sizes, errors, names without regard to case,
// subkey enumeration, deletion, and values shared with a second process.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/registry.h"
#include "platform/kernel/utf.h"

extern char** environ;

namespace {

using Bytes = std::vector<BYTE>;

// The bytes of a string value with its terminator.
Bytes string_bytes(std::u16string_view text) {
  Bytes bytes((text.size() + 1) * 2, 0);
  std::memcpy(bytes.data(), text.data(), text.size() * 2);
  return bytes;
}

// Each test gets its own device root, so the registry starts empty.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zrk-registry-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    setenv("ZRK_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    for (HKEY key : opened_) RegCloseKey(key);
    unsetenv("ZRK_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  // Creates (or opens) a key; closed at the end of the test.
  HKEY create(HKEY parent, const char16_t* path, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                                  disposition);
    EXPECT_EQ(status, ERROR_SUCCESS) << platform::utf8_from_utf16(path);
    if (key) opened_.push_back(key);
    return key;
  }

  HKEY open(HKEY parent, const char16_t* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(parent, path, 0, KEY_READ, &key), ERROR_SUCCESS) << platform::utf8_from_utf16(path);
    if (key) opened_.push_back(key);
    return key;
  }

  static LONG set_text(HKEY key, const char16_t* name, std::u16string_view text) {
    Bytes bytes = string_bytes(text);
    return RegSetValueExW(key, name, 0, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size()));
  }

  // The text of a string value, or "<error N>".
  static std::u16string read_text(HKEY key, const char16_t* name) {
    char16_t buffer[1024] = {};
    DWORD type = 0, size = sizeof buffer - 2;
    LONG status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (status != ERROR_SUCCESS) return u"<error " + platform::utf16_from_utf8(std::to_string(status)) + u">";
    return std::u16string(buffer);
  }

  // The names RegEnumKeyExW gives for a key, in its order.
  static std::vector<std::u16string> subkeys(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD index = 0;; ++index) {
      char16_t name[260];
      DWORD chars = 260;
      LONG status = RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
      if (status != ERROR_SUCCESS) {
        EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
        break;
      }
      names.emplace_back(name, chars);
    }
    return names;
  }

  std::string root_;
  std::vector<HKEY> opened_;
};

std::string utf8(std::u16string_view text) { return platform::utf8_from_utf16(text); }

TEST_F(RegistryTest, ValuesRoundTripWithTheirTypes) {
  struct Case {
    const char* label;
    const char16_t* set_name;
    const char16_t* read_name;
    DWORD type;
    Bytes data;
  };
  const Case cases[] = {
      {"REG_SZ", u"Owner", u"Owner", REG_SZ, string_bytes(u"Jane Doe")},
      {"REG_EXPAND_SZ", u"Path", u"Path", REG_EXPAND_SZ, string_bytes(u"%ROOT%\\Programs")},
      {"REG_MULTI_SZ", u"List", u"List", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
      {"REG_DWORD", u"Count", u"Count", REG_DWORD, {0x78, 0x56, 0x34, 0x12}},
      {"REG_BINARY with zero and high bytes", u"Blob", u"Blob", REG_BINARY, {0, 0xFF, 0x80, 0, 1, 0}},
      {"empty REG_BINARY", u"Empty", u"Empty", REG_BINARY, {}},
      {"REG_NONE", u"Flag", u"Flag", REG_NONE, {}},
      {"a type the registry does not know", u"Odd", u"Odd", 0x12345678u, {9, 8, 7}},
      {"default value set with a null name, read with an empty one", nullptr, u"", REG_SZ, string_bytes(u"first")},
      {"default value set with an empty name, read with a null one", u"", nullptr, REG_SZ, string_bytes(u"second")},
  };
  HKEY writer = create(HKEY_CURRENT_USER, u"Software\\Types");
  for (const Case& c : cases) {
    ASSERT_EQ(RegSetValueExW(writer, c.set_name, 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS)
        << c.label;
    HKEY reader = open(HKEY_CURRENT_USER, u"Software\\Types");
    DWORD type = 0xDEAD, size = 0xDEAD;
    EXPECT_EQ(RegQueryValueExW(reader, c.read_name, nullptr, &type, nullptr, &size), ERROR_SUCCESS) << c.label;
    EXPECT_EQ(type, c.type) << c.label;
    EXPECT_EQ(size, c.data.size()) << c.label;
    Bytes read(c.data.size() + 1, 0xAA);
    type = 0xDEAD;
    size = static_cast<DWORD>(c.data.size());
    EXPECT_EQ(RegQueryValueExW(reader, c.read_name, nullptr, &type, read.data(), &size), ERROR_SUCCESS) << c.label;
    EXPECT_EQ(type, c.type) << c.label;
    read.resize(size);
    EXPECT_EQ(read, c.data) << c.label;
  }
}

TEST_F(RegistryTest, SizeQueriesAndShortBuffers) {
  HKEY key = create(HKEY_CURRENT_USER, u"ZRKDEBUGGER");
  Bytes value = string_bytes(u"BREAK|main.zrk|12");  // 36 bytes
  ASSERT_EQ(RegSetValueExW(key, u"IDE", 0, REG_SZ, value.data(), static_cast<DWORD>(value.size())), ERROR_SUCCESS);
  const DWORD needed = static_cast<DWORD>(value.size());

  struct Case {
    const char* label;
    DWORD room;
    LONG status;
  };
  const Case cases[] = {
      {"no room", 0, ERROR_MORE_DATA},
      {"one byte short", needed - 1, ERROR_MORE_DATA},
      {"terminator cut off", needed - 2, ERROR_MORE_DATA},
      {"exact size", needed, ERROR_SUCCESS},
      {"larger buffer", 1024, ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    Bytes buffer(1024, 0);
    DWORD type = 0, size = c.room;
    EXPECT_EQ(RegQueryValueExW(key, u"IDE", nullptr, &type, buffer.data(), &size), c.status) << c.label;
    EXPECT_EQ(size, needed) << c.label;  // the needed size, either way
    EXPECT_EQ(type, REG_SZ) << c.label;
  }

  // Null data asks for the size (or just the type) only.
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"IDE", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, needed);
  type = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"IDE", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(RegQueryValueExW(key, u"IDE", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  // Data without a size to say how large it is cannot be filled.
  BYTE buffer[64];
  EXPECT_EQ(RegQueryValueExW(key, u"IDE", nullptr, &type, buffer, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, StringStoredWithoutTerminatorReadsTerminatedWhenThereIsRoom) {
  HKEY key = create(HKEY_CURRENT_USER, u"Loose");
  const char16_t text[] = u"abc";
  ASSERT_EQ(RegSetValueExW(key, u"Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 6), ERROR_SUCCESS);
  Bytes buffer(16, 0xAA);
  DWORD size = 16;
  ASSERT_EQ(RegQueryValueExW(key, u"Text", nullptr, nullptr, buffer.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);  // the stored size: the added terminator is not counted
  EXPECT_EQ(buffer[6], 0);
  EXPECT_EQ(buffer[7], 0);

  // Without room nothing is written past the value.
  std::fill(buffer.begin(), buffer.end(), 0xAA);
  size = 6;
  ASSERT_EQ(RegQueryValueExW(key, u"Text", nullptr, nullptr, buffer.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(buffer[6], 0xAA);
}

TEST_F(RegistryTest, ErrorsAreReturnedAndLeaveTheLastErrorAlone) {
  HKEY key = create(HKEY_CURRENT_USER, u"Present\\Child");
  HKEY closed = create(HKEY_CURRENT_USER, u"Present");
  ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  opened_.pop_back();
  HKEY foreign = platform::pointer_from<HKEY__>(0x1004u);  // looks like a kernel handle
  Bytes data = {1, 2, 3, 4};
  HKEY result = nullptr;
  DWORD size = 0;
  char16_t name[32];
  DWORD chars = 32;

  struct Case {
    const char* label;
    std::function<LONG()> call;
    LONG status;
  };
  const Case cases[] = {
      {"open a missing key", [&] { return RegOpenKeyExW(HKEY_CURRENT_USER, u"Absent", 0, KEY_READ, &result); },
       ERROR_FILE_NOT_FOUND},
      {"open below a missing key",
       [&] { return RegOpenKeyExW(HKEY_CURRENT_USER, u"Absent\\Child", 0, KEY_READ, &result); }, ERROR_FILE_NOT_FOUND},
      {"open a missing key in another root",
       [&] { return RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Present", 0, KEY_READ, &result); }, ERROR_FILE_NOT_FOUND},
      {"query a missing value", [&] { return RegQueryValueExW(key, u"Absent", nullptr, nullptr, nullptr, &size); },
       ERROR_FILE_NOT_FOUND},
      {"query a missing default value",
       [&] { return RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size); }, ERROR_FILE_NOT_FOUND},
      {"delete a missing value", [&] { return RegDeleteValueW(key, u"Absent"); }, ERROR_FILE_NOT_FOUND},
      {"delete a missing key", [&] { return RegDeleteKeyW(HKEY_CURRENT_USER, u"Present\\Absent"); },
       ERROR_FILE_NOT_FOUND},
      {"delete a key without a name", [&] { return RegDeleteKeyW(HKEY_CURRENT_USER, u""); }, ERROR_INVALID_PARAMETER},
      {"open without a result", [&] { return RegOpenKeyExW(HKEY_CURRENT_USER, u"Present", 0, KEY_READ, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"create without a result",
       [&] { return RegCreateKeyExW(HKEY_CURRENT_USER, u"New", 0, nullptr, 0, 0, nullptr, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"set with null data and a size", [&] { return RegSetValueExW(key, u"V", 0, REG_BINARY, nullptr, 4); },
       ERROR_INVALID_PARAMETER},
      {"key name too long for the store",
       [&] {
         std::u16string long_name(300, u'k');
         return RegCreateKeyExW(HKEY_CURRENT_USER, long_name.c_str(), 0, nullptr, 0, 0, nullptr, &result, nullptr);
       },
       ERROR_INVALID_PARAMETER},
      {"enumerate without a name buffer",
       [&] { return RegEnumKeyExW(HKEY_CURRENT_USER, 0, nullptr, &chars, nullptr, nullptr, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"query through a closed key", [&] { return RegQueryValueExW(closed, u"V", nullptr, nullptr, nullptr, &size); },
       ERROR_INVALID_HANDLE},
      {"set through a closed key", [&] { return RegSetValueExW(closed, u"V", 0, REG_BINARY, data.data(), 4); },
       ERROR_INVALID_HANDLE},
      {"open below a closed key", [&] { return RegOpenKeyExW(closed, u"Child", 0, KEY_READ, &result); },
       ERROR_INVALID_HANDLE},
      {"enumerate a closed key",
       [&] { return RegEnumKeyExW(closed, 0, name, &chars, nullptr, nullptr, nullptr, nullptr); },
       ERROR_INVALID_HANDLE},
      {"close a closed key", [&] { return RegCloseKey(closed); }, ERROR_INVALID_HANDLE},
      {"close a value that is no key", [&] { return RegCloseKey(foreign); }, ERROR_INVALID_HANDLE},
      {"close a null key", [&] { return RegCloseKey(nullptr); }, ERROR_INVALID_HANDLE},
      {"delete a value of a null key", [&] { return RegDeleteValueW(nullptr, u"V"); }, ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    result = platform::pointer_from<HKEY__>(0x5A5A5A5Au);
    SetLastError(4321);
    EXPECT_EQ(c.call(), c.status) << c.label;
    EXPECT_EQ(GetLastError(), 4321u) << c.label;
    if (result != platform::pointer_from<HKEY__>(0x5A5A5A5Au)) {
      EXPECT_EQ(result, nullptr) << c.label << ": a failed open leaves no key";
    }
  }
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheCaseTheyWereCreatedWith) {
  DWORD disposition = 0;
  HKEY owner = create(HKEY_CURRENT_USER, u"\\ControlPanel\\Owner", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  HKEY again = create(HKEY_CURRENT_USER, u"controlpanel\\OWNER\\", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  create(HKEY_CURRENT_USER, u"CONTROLPANEL\\Ärger", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  create(HKEY_CURRENT_USER, u"controlPanel\\äRGER", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(subkeys(HKEY_CURRENT_USER), std::vector<std::u16string>{u"ControlPanel"});
  EXPECT_EQ(subkeys(open(HKEY_CURRENT_USER, u"CONTROLPANEL")), (std::vector<std::u16string>{u"Owner", u"Ärger"}));

  ASSERT_EQ(set_text(owner, u"Owner", u"first"), ERROR_SUCCESS);
  ASSERT_EQ(set_text(again, u"OWNER", u"second"), ERROR_SUCCESS);  // the same value
  EXPECT_EQ(read_text(owner, u"owner"), u"second");
  ASSERT_EQ(RegDeleteValueW(again, u"oWnEr"), ERROR_SUCCESS);
  EXPECT_EQ(read_text(owner, u"Owner"), u"<error 2>");  // nothing left under any case

  // A rewrite under another case keeps the name as first written.
  ASSERT_EQ(set_text(owner, u"Notes", u"a"), ERROR_SUCCESS);
  ASSERT_EQ(set_text(owner, u"NOTES", u"b"), ERROR_SUCCESS);
  std::string folder = root_ + "/.registry/HKEY_CURRENT_USER/ControlPanel/Owner";
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) files.push_back(entry.path().filename());
  EXPECT_EQ(files.size(), 1u);
  EXPECT_NE(files.front().find("Notes"), std::string::npos) << files.front();
}

TEST_F(RegistryTest, SubkeysEnumerateInNameOrderThenEnd) {
  HKEY parent = create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Shell\\Keys");
  for (const char16_t* name : {u"Beta", u"alpha", u"Gamma", u"delta", u"40C1"}) create(parent, name);
  ASSERT_EQ(set_text(parent, u"Aardvark", u"a value, not a key"), ERROR_SUCCESS);
  ASSERT_EQ(set_text(parent, nullptr, u"default"), ERROR_SUCCESS);
  EXPECT_EQ(subkeys(parent), (std::vector<std::u16string>{u"40C1", u"alpha", u"Beta", u"delta", u"Gamma"}));

  char16_t name[260];
  DWORD chars = 260;
  EXPECT_EQ(RegEnumKeyExW(parent, 5, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumKeyExW(parent, 0xFFFFFFFFu, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  // "Gamma" (index 4) needs six characters with its terminator.
  chars = 5;
  EXPECT_EQ(RegEnumKeyExW(parent, 4, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(chars, 5u);
  chars = 6;
  char16_t key_class[8] = u"junk";
  DWORD class_chars = 8;
  FILETIME written = {0, 0};
  EXPECT_EQ(RegEnumKeyExW(parent, 4, name, &chars, nullptr, key_class, &class_chars, &written), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"Gamma");
  EXPECT_EQ(chars, 5u);
  EXPECT_EQ(key_class[0], 0);
  EXPECT_EQ(class_chars, 0u);
  EXPECT_NE(written.dwHighDateTime, 0u);

  EXPECT_TRUE(subkeys(create(parent, u"alpha")).empty());
}

TEST_F(RegistryTest, DeletingAValueLeavesTheOthers) {
  HKEY key = create(HKEY_CURRENT_USER, u"ZRKDEBUGGER");
  for (const char16_t* name : {u"RUNNING", u"IDE", u"RUNTIME"}) ASSERT_EQ(set_text(key, name, u"x"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueW(key, u"IDE"), ERROR_SUCCESS);
  EXPECT_EQ(read_text(key, u"IDE"), u"<error 2>");
  EXPECT_EQ(read_text(key, u"RUNNING"), u"x");
  EXPECT_EQ(read_text(key, u"RUNTIME"), u"x");
  EXPECT_EQ(RegDeleteValueW(key, u"IDE"), ERROR_FILE_NOT_FOUND);
  // Deleting the default value touches no named one.
  ASSERT_EQ(set_text(key, u"", u"d"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueW(key, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(read_text(key, u""), u"<error 2>");
  EXPECT_EQ(read_text(key, u"RUNNING"), u"x");
}

TEST_F(RegistryTest, DeletingAKeyRemovesItsSubtree) {
  HKEY deep = create(HKEY_CURRENT_USER, u"Top\\Middle\\Bottom");
  ASSERT_EQ(set_text(deep, u"Value", u"v"), ERROR_SUCCESS);
  HKEY middle = create(HKEY_CURRENT_USER, u"Top\\Middle");
  ASSERT_EQ(set_text(middle, u"Value", u"v"), ERROR_SUCCESS);

  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"top\\MIDDLE"), ERROR_SUCCESS);
  HKEY result = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Top\\Middle", 0, KEY_READ, &result), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(subkeys(open(HKEY_CURRENT_USER, u"Top")).empty());
  EXPECT_TRUE(std::filesystem::is_empty(root_ + "/.registry/HKEY_CURRENT_USER/Top")) << "nothing left behind";

  // Keys still open on the deleted subtree say so, and still close.
  EXPECT_EQ(read_text(deep, u"Value"), u"<error 1018>");
  EXPECT_EQ(set_text(middle, u"Value", u"w"), static_cast<LONG>(ERROR_KEY_DELETED));
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExW(middle, u"New", 0, nullptr, 0, 0, nullptr, &child, nullptr),
            static_cast<LONG>(ERROR_KEY_DELETED));
}

TEST_F(RegistryTest, NamesThatAreNoSafeFileNamesRoundTrip) {
  const std::u16string names[] = {
      u"a/b", u".", u"..", u".hidden", u"%41", u"A", u"%u0041", u"100%", u"=", u"=x", u"@",
      u"tab\there", u"*?:<>|\"", u"trailing ", u"Ümlaut ö", u"日本語", u"emoji 😀",
      std::u16string(u"lone\xD800surrogate"), u"\xDC00",
  };
  HKEY values = create(HKEY_CURRENT_USER, u"Names\\Values");
  HKEY keys = create(HKEY_CURRENT_USER, u"Names\\Keys");
  for (const auto& name : names) {
    ASSERT_EQ(set_text(values, name.c_str(), name), ERROR_SUCCESS) << utf8(name);
    create(keys, name.c_str());
  }
  // Names with a separator are values only.
  ASSERT_EQ(set_text(values, u"back\\slash", u"back\\slash"), ERROR_SUCCESS);
  for (const auto& name : names) EXPECT_EQ(read_text(values, name.c_str()), name) << utf8(name);
  EXPECT_EQ(read_text(values, u"back\\slash"), u"back\\slash");

  std::vector<std::u16string> expected(std::begin(names), std::end(names));
  std::vector<std::u16string> listed = subkeys(keys);
  std::sort(expected.begin(), expected.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, expected);
}

TEST_F(RegistryTest, AValueAndASubkeyMayShareAName) {
  HKEY key = create(HKEY_CLASSES_ROOT, u"CLSID\\{0000-TEST}");
  HKEY server = create(key, u"InprocServer32");
  ASSERT_EQ(set_text(key, u"InprocServer32", u"the value"), ERROR_SUCCESS);
  ASSERT_EQ(set_text(server, nullptr, u"libserver.so"), ERROR_SUCCESS);
  EXPECT_EQ(read_text(key, u"InprocServer32"), u"the value");
  EXPECT_EQ(read_text(open(key, u"InprocServer32"), u""), u"libserver.so");
  EXPECT_EQ(subkeys(key), std::vector<std::u16string>{u"InprocServer32"});
}

TEST_F(RegistryTest, RootKeysAreSeparateAndNeverClose) {
  const HKEY roots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
  const char16_t* texts[] = {u"classes", u"user", u"machine"};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(set_text(create(roots[i], u"Same"), u"Where", texts[i]), ERROR_SUCCESS);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(RegCloseKey(roots[i]), ERROR_SUCCESS) << i;
    EXPECT_EQ(RegCloseKey(roots[i]), ERROR_SUCCESS) << i;
    EXPECT_EQ(read_text(open(roots[i], u"Same"), u"Where"), texts[i]) << i;
  }
  // A root opened anew is an ordinary key that closes once.
  HKEY user = create(HKEY_CURRENT_USER, nullptr);
  EXPECT_EQ(read_text(open(user, u"same"), u"Where"), u"user");
  opened_.pop_back();
  EXPECT_EQ(RegCloseKey(user), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(user), ERROR_INVALID_HANDLE);
  EXPECT_EQ(read_text(open(HKEY_CURRENT_USER, u"Same"), u"Where"), u"user");
}

TEST_F(RegistryTest, TwoKeysOnOneKeyShareItsValuesAndCloseApart) {
  HKEY first = create(HKEY_CURRENT_USER, u"Shared");
  HKEY second = open(HKEY_CURRENT_USER, u"Shared");
  ASSERT_NE(first, second);
  ASSERT_EQ(set_text(first, u"V", u"one"), ERROR_SUCCESS);
  EXPECT_EQ(read_text(second, u"V"), u"one");
  ASSERT_EQ(RegCloseKey(first), ERROR_SUCCESS);
  opened_.erase(opened_.begin());
  ASSERT_EQ(set_text(second, u"V", u"two"), ERROR_SUCCESS);
  EXPECT_EQ(read_text(second, u"V"), u"two");
}

TEST_F(RegistryTest, TheRegistryLivesUnderTheDeviceRoot) {
  ASSERT_EQ(set_text(create(HKEY_LOCAL_MACHINE, u"SOFTWARE"), u"V", u"here"), ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/.registry/HKEY_LOCAL_MACHINE/SOFTWARE"));

  // Another device root is another registry.
  std::string other = root_ + "/other";
  setenv("ZRK_ROOT", other.c_str(), 1);
  HKEY result = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &result), ERROR_FILE_NOT_FOUND);
  setenv("ZRK_ROOT", root_.c_str(), 1);
  EXPECT_EQ(read_text(open(HKEY_LOCAL_MACHINE, u"SOFTWARE"), u"V"), u"here");
}

// ---- A second process ----------------------------------------------------------

// A running registry_probe whose standard output is collected.
class Probe {
 public:
  explicit Probe(const std::vector<std::string>& arguments) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return;
    std::string program = std::string(ZRK_TEST_BINARY_DIR) + "/registry_probe";
    std::vector<char*> argv = {program.data()};
    std::vector<std::string> copies = arguments;
    for (auto& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_ends[1]);
    output_fd_ = pipe_ends[0];
  }
  ~Probe() { finish(); }

  bool started() const { return pid_ > 0; }

  // Waits for the probe to end; its output and exit status.
  std::string finish() {
    if (output_fd_ >= 0) {
      char chunk[4096];
      ssize_t got;
      while ((got = read(output_fd_, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) output_.append(chunk, static_cast<size_t>(got));
      }
      close(output_fd_);
      output_fd_ = -1;
    }
    if (pid_ > 0) {
      int status = 0;
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      pid_ = -1;
    }
    return output_;
  }
  int exit_code() const { return exit_code_; }

 private:
  pid_t pid_ = -1;
  int output_fd_ = -1;
  std::string output_;
  int exit_code_ = -1;
};

TEST_F(RegistryTest, ValuesCrossToAChildProcessAndBack) {
  HKEY key = create(HKEY_CURRENT_USER, u"ZRKDEBUGGER");
  ASSERT_EQ(set_text(key, u"IDE", u"BREAK|main.zrk|12"), ERROR_SUCCESS);
  const DWORD number = 0x01020304;
  ASSERT_EQ(RegSetValueExW(key, u"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), ERROR_SUCCESS);

  struct Case {
    const char* label;
    std::vector<std::string> arguments;
    std::string output;
    int exit_code;
  };
  const Case reads[] = {
      {"a string", {"get", "ZRKDEBUGGER", "IDE"}, "1:BREAK|main.zrk|12\n", 0},
      {"a number", {"get", "ZRKDEBUGGER", "Count"}, "4:16909060\n", 0},
      {"names in another case", {"get", "zrkdebugger", "ide"}, "1:BREAK|main.zrk|12\n", 0},
      {"a missing value", {"get", "ZRKDEBUGGER", "RUNTIME"}, "error 2\n", 1},
  };
  for (const Case& c : reads) {
    Probe probe(c.arguments);
    ASSERT_TRUE(probe.started()) << c.label;
    EXPECT_EQ(probe.finish(), c.output) << c.label;
    EXPECT_EQ(probe.exit_code(), c.exit_code) << c.label;
  }

  // What the child writes is there for the parent's open key as soon as it returns,
  // and a second write replaces what the parent has already read.
  for (const char* text : {"BREAK main.zrk 12", "VAR% 0"}) {
    Probe probe({"set", "ZRKDEBUGGER", "RUNTIME", text});
    probe.finish();
    ASSERT_EQ(probe.exit_code(), 0) << text;
    EXPECT_EQ(utf8(read_text(key, u"RUNTIME")), text);
  }
}

TEST_F(RegistryTest, AReaderInAnotherProcessNeverSeesATornValue) {
  HKEY key = create(HKEY_CURRENT_USER, u"ZRKDEBUGGER");
  Probe watcher({"watch", "ZRKDEBUGGER", "RUNTIME"});
  ASSERT_TRUE(watcher.started());
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (read_text(key, u"READY") != u"1" && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  // Long values of varying length, rewritten until the reader has seen many of them.
  long seen = 0;
  int writes = 0;
  for (; seen < 40 && std::chrono::steady_clock::now() < deadline; ++writes) {
    size_t count = 4000 + static_cast<size_t>(writes) * 7919 % 40000;
    std::u16string text = platform::utf16_from_utf8(std::to_string(count) + ";") +
                          std::u16string(count, static_cast<char16_t>(u'A' + writes % 26));
    ASSERT_EQ(set_text(key, u"RUNTIME", text), ERROR_SUCCESS);
    if (writes % 8 == 0) seen = std::atol(utf8(read_text(key, u"SEEN")).c_str());
  }
  ASSERT_EQ(set_text(key, u"STOP", u"1"), ERROR_SUCCESS);
  std::string report = watcher.finish();
  ASSERT_EQ(watcher.exit_code(), 0) << report;

  long reads = -1, torn = -1, changes = -1;
  ASSERT_EQ(std::sscanf(report.c_str(), "reads=%ld torn=%ld changes=%ld", &reads, &torn, &changes), 3) << report;
  EXPECT_EQ(torn, 0) << report;
  EXPECT_GE(changes, 40) << report << " after " << writes << " writes";
  // No temporary file is left behind by the writes.
  size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root_ + "/.registry/HKEY_CURRENT_USER/ZRKDEBUGGER")) {
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    ++entries;
  }
  EXPECT_EQ(entries, 4u);  // READY, RUNTIME, SEEN, STOP
}

}  // namespace
