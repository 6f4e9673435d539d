// Device information built-ins over a fresh device root: the asset serial file, the
// HAL identifier against the host's machine identifier, the owner's registry values
// and the processor record of the device profiles.
#include "library/files/device_builtins.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "builtin_fixture.h"
#include "platform/platform.h"

namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (old_) setenv(name_, old_->c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class DeviceBuiltinsTest : public BuiltinTest {
 protected:
  DeviceBuiltinsTest() : BuiltinTest(register_device_builtins) {}

  void SetUp() override {
    BuiltinTest::SetUp();
    std::string pattern = (std::filesystem::temp_directory_path() / "zrk-device-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    root_setting_.emplace("ZRK_ROOT", root_);
  }
  void TearDown() override {
    root_setting_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
    BuiltinTest::TearDown();
  }

  std::string serial(int kind) {
    push(kind);
    call("deviceserial");
    return pop_text();
  }

  // UTF-16 little-endian bytes of an ASCII text, without terminator.
  static std::string utf16(const std::string& text) {
    std::string bytes;
    for (char c : text) {
      bytes += c;
      bytes += '\0';
    }
    return bytes;
  }

  static void put(std::string& buffer, size_t offset, const std::string& text) {
    std::string bytes = utf16(text);
    buffer.replace(offset, bytes.size(), bytes);
  }

  std::vector<std::string> owner_list(Variable* list) {
    push_variable(list);
    call("deviceowner");
    std::vector<std::string> texts;
    for (ListElement* element = list->cursor; element; element = element->next) {
      texts.emplace_back(element->data ? static_cast<const char*>(element->data) : "<none>");
    }
    return texts;
  }

  std::string root_;

 private:
  std::optional<ScopedEnvironment> root_setting_;
};

TEST_F(DeviceBuiltinsTest, SerialOfAnotherKindIsEmpty) {
  for (int kind : {0, 1999, 2001, 2003, -2000}) EXPECT_EQ(serial(kind), "") << kind;
}

TEST_F(DeviceBuiltinsTest, AssetSerialComesFromTheAssetFileOrIsEmpty) {
  EXPECT_EQ(serial(2000), "");
  EXPECT_FALSE(std::filesystem::exists(root_ + "/windows/cpqAssetData.dat")) << "reading made the file";
  std::string content(1200, '\x55');
  put(content, 976, "AB123456789012345678901234567890");  // 32 characters fill the field
  std::filesystem::create_directories(root_ + "/windows");
  std::ofstream(root_ + "/windows/cpqAssetData.dat", std::ios::binary) << content;
  EXPECT_EQ(serial(2000), "AB123456789012345678901234567890");

  content.replace(976, 64, std::string(64, '\0'));
  put(content, 976, "SN-42");
  std::ofstream(root_ + "/windows/cpqAssetData.dat", std::ios::binary) << content;
  EXPECT_EQ(serial(2000), "SN-42");
}

// The HAL identifier's preset bytes are the machine identifier's first 8 bytes and its
// platform bytes all 16: the serial is digits 0-1, 5-13 and 14-19 of the machine id.
TEST_F(DeviceBuiltinsTest, HalSerialIsSeventeenDigitsOfTheMachineIdentifier) {
  std::string machine;
  for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    std::ifstream file(path);
    if (file && std::getline(file, machine) && machine.size() >= 32) break;
    machine.clear();
  }
  const std::string result = serial(2002);
  if (machine.empty()) {
    EXPECT_EQ(result, "");
    return;
  }
  std::string expected = machine.substr(0, 2) + machine.substr(5, 9) + machine.substr(14, 6);
  for (char& c : expected) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(result, expected);
  ASSERT_EQ(result.size(), 17u);
  for (char c : result) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F')) << result;
}

TEST_F(DeviceBuiltinsTest, OwnerFillsSixTextsFromTheRegistry) {
  std::string owner(768, '\0');
  put(owner, 0, "Ada Lovelace");
  put(owner, 72, "Analytical Engines");
  put(owner, 144, "12 St James's Square");
  put(owner, 516, "555-0100");
  put(owner, 566, std::string(101, 'e'));  // runs to the value's end without terminator
  std::string notes = utf16("Bring punch cards") + std::string(2, '\0');
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"ControlPanel\\Owner", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, u"Owner", 0, REG_BINARY, reinterpret_cast<const BYTE*>(owner.data()), 768);
  RegSetValueExW(key, u"Notes", 0, REG_SZ, reinterpret_cast<const BYTE*>(notes.data()),
                 static_cast<DWORD>(notes.size()));
  RegCloseKey(key);

  Variable* list = create_variable(locals, "OWNER$", true);
  list->number = 12;
  EXPECT_EQ(owner_list(list), (std::vector<std::string>{"Ada Lovelace", "Analytical Engines", "12 St James's Square",
                                                        "555-0100", std::string(101, 'e'), "Bring punch cards"}));
  EXPECT_TRUE(list->flags & kVariableList);
  EXPECT_STREQ(static_cast<const char*>(list->data), "Ada Lovelace");
}

TEST_F(DeviceBuiltinsTest, OwnerNeverEnteredGivesSixEmptyTexts) {
  Variable* list = create_variable(locals, "OWNER$", true);
  list->number = 3;
  EXPECT_EQ(owner_list(list), std::vector<std::string>(6, ""));
  EXPECT_EQ(list->number, 0);
}

TEST_F(DeviceBuiltinsTest, DeviceItemsDescribeTheProfilesProcessor) {
  struct Case {
    const char* profile;
    int item;
    const char* text;  // null: a number
    double number;
  };
  const Case cases[] = {
      {"pocketpc", 0, nullptr, 1},           {"pocketpc", 1, "XScale", 0},
      {"pocketpc", 2, nullptr, 5},           {"pocketpc", 3, "PXA255", 0},
      {"pocketpc", 4, nullptr, 6},           {"pocketpc", 5, "", 0},
      {"pocketpc", 6, "Intel", 0},           {"pocketpc", 7, nullptr, 6},
      {"pocketpc", 8, nullptr, 400000000},   {"pocketpc", 9, "PocketPC", 0},
      {"pocketpc", 10, "ZRK Pocket PC", 0},  {"pocketpc", 11, nullptr, 0},
      {"pocketpc", -1, nullptr, 0},          {"ipaq3800", 1, "StrongARM", 0},
      {"ipaq3800", 3, "SA-1110", 0},         {"ipaq3800", 7, nullptr, 0},
      {"ipaq3800", 8, nullptr, 206000000},   {"ipaq3800", 10, "Compaq iPAQ H3800", 0},
  };
  for (const Case& row : cases) {
    ScopedEnvironment profile("ZRK_DEVICE", row.profile);
    push(row.item);
    call("device");
    ValueCell* result = stack_pop(context);
    if (row.text) {
      ASSERT_NE(result->text, nullptr) << row.profile << " item " << row.item;
      EXPECT_STREQ(static_cast<const char*>(result->text), row.text) << row.profile << " item " << row.item;
    } else {
      EXPECT_EQ(result->text, nullptr) << row.profile << " item " << row.item;
      EXPECT_EQ(result->number, row.number) << row.profile << " item " << row.item;
    }
    EXPECT_EQ(context->stack_top, nullptr) << "more than one value for item " << row.item;
  }
}

}  // namespace
