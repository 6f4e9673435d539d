// Resources: lookup by module, type and name (texts without regard to case, numbers,
// "#n" texts), replacement, and refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

std::vector<uint8_t> bytes_of(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

void add(HMODULE module, LPCWSTR type, LPCWSTR name, const std::string& text) {
  platform::register_resource(module, type, name, text.data(), static_cast<uint32_t>(text.size()));
}

// The bytes of a resource through the whole sequence a loader uses, or the error it ends with.
struct Found {
  std::vector<uint8_t> bytes;
  DWORD error = 0;
};

Found find(HMODULE module, LPCWSTR name, LPCWSTR type) {
  Found found;
  SetLastError(0);
  HRSRC resource = FindResourceW(module, name, type);
  if (!resource) {
    found.error = GetLastError();
    return found;
  }
  HGLOBAL loaded = LoadResource(module, resource);
  const auto* data = static_cast<const uint8_t*>(LockResource(loaded));
  if (!data) {
    found.error = GetLastError();
    return found;
  }
  found.bytes.assign(data, data + SizeofResource(module, resource));
  return found;
}

TEST(Resources, FoundByModuleTypeAndName) {
  HMODULE program = GetModuleHandleW(nullptr);
  HMODULE library = LoadLibraryW(u"coredll.dll");
  ASSERT_NE(program, nullptr);
  ASSERT_NE(library, nullptr);
  add(nullptr, u"PTMOD", MAKEINTRESOURCEW(1), "module one");
  add(nullptr, u"WAVE", u"Boom", "boom sample");
  add(nullptr, u"wave", u"#7", "sample seven");
  add(library, u"PTMOD", MAKEINTRESOURCEW(2), "library module");
  add(program, MAKEINTRESOURCEW(10), MAKEINTRESOURCEW(1), "raw data");

  struct Row {
    const char* name;
    HMODULE module;
    LPCWSTR resource;
    LPCWSTR type;
    std::string expected;  // empty: not found
    DWORD error;
  };
  const Row rows[] = {
      {"number", nullptr, MAKEINTRESOURCEW(1), u"PTMOD", "module one", 0},
      {"type in other case", nullptr, MAKEINTRESOURCEW(1), u"ptmod", "module one", 0},
      {"number as #text", nullptr, u"#1", u"PTMOD", "module one", 0},
      {"text in other case", nullptr, u"bOOM", u"WAVE", "boom sample", 0},
      {"program module named", program, u"BOOM", u"Wave", "boom sample", 0},
      {"registered as #7", nullptr, MAKEINTRESOURCEW(7), u"WAVE", "sample seven", 0},
      {"numeric type", nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(10), "raw data", 0},
      {"other module's resource", library, MAKEINTRESOURCEW(2), u"PTMOD", "library module", 0},
      {"not in the program", nullptr, MAKEINTRESOURCEW(2), u"PTMOD", "", ERROR_RESOURCE_NAME_NOT_FOUND},
      {"program's not in the library", library, MAKEINTRESOURCEW(1), u"PTMOD", "", ERROR_RESOURCE_NAME_NOT_FOUND},
      {"#text that is no number", nullptr, u"#1x", u"PTMOD", "", ERROR_RESOURCE_NAME_NOT_FOUND},
      {"#text past 16 bits", nullptr, u"#65537", u"PTMOD", "", ERROR_RESOURCE_NAME_NOT_FOUND},
      {"number 1 as text", nullptr, u"1", u"PTMOD", "", ERROR_RESOURCE_NAME_NOT_FOUND},
      {"unknown type", nullptr, MAKEINTRESOURCEW(1), u"WAV", "", ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"null name", nullptr, nullptr, u"WAVE", "", ERROR_INVALID_PARAMETER},
  };
  for (const Row& row : rows) {
    const Found found = find(row.module, row.resource, row.type);
    EXPECT_EQ(found.bytes, bytes_of(row.expected)) << row.name;
    EXPECT_EQ(found.error, row.error) << row.name;
  }
}

TEST(Resources, LaterRegistrationWinsAndEarlierBytesStay) {
  add(nullptr, u"WAVE", MAKEINTRESOURCEW(3), "first");
  HRSRC first = FindResourceW(nullptr, MAKEINTRESOURCEW(3), u"WAVE");
  ASSERT_NE(first, nullptr);
  const auto* first_bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, first)));
  add(nullptr, u"WAVE", MAKEINTRESOURCEW(3), "second!");
  EXPECT_EQ(find(nullptr, MAKEINTRESOURCEW(3), u"WAVE").bytes, bytes_of("second!"));
  EXPECT_EQ(std::string(first_bytes, SizeofResource(nullptr, first)), "first");
}

TEST(Resources, EmptyResourceAndForeignHandles) {
  platform::register_resource(nullptr, u"PTMOD", u"EMPTY", nullptr, 0);
  HRSRC empty = FindResourceW(nullptr, u"empty", u"PTMOD");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SizeofResource(nullptr, empty), 0u);
  EXPECT_NE(LockResource(LoadResource(nullptr, empty)), nullptr) << "an empty resource still loads";

  int not_a_resource = 0;
  HRSRC foreign = reinterpret_cast<HRSRC>(&not_a_resource);
  SetLastError(0);
  EXPECT_EQ(LoadResource(nullptr, foreign), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SizeofResource(nullptr, foreign), 0u);
  EXPECT_EQ(LoadResource(nullptr, nullptr), nullptr);
}

}  // namespace
