// Package archives: the file layout against images built by hand, the password shift,
// adding, replacing and removing entries, directory-only reads, damaged files refused
// without a crash, and the package built-ins as scripts call them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "builtin_fixture.h"
#include "file_bytes.h"
#include "foundation/file_helpers.h"
#include "foundation/runtime_error.h"
#include "foundation/variable_store.h"
#include "library/files/package_archive.h"
#include "library/files/package_builtins.h"
#include "platform/kernel/memory.h"

namespace {

// A fresh folder of its own under the test binaries for each test.
std::string scratch_folder() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  std::filesystem::path folder = std::filesystem::path(ZRK_TEST_BINARY_DIR) / "scratch" / "package" / name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder.string() + "/";
}

Bytes u32(uint32_t value) {
  Bytes bytes(4, '\0');
  for (int at = 0; at < 4; ++at) bytes[at] = static_cast<char>(value >> (8 * at));
  return bytes;
}

// A plain package image built by hand: entries as (name, bytes), in that order.
Bytes image_of(const std::vector<std::pair<std::string, Bytes>>& entries) {
  Bytes records;
  Bytes data;
  for (const auto& [name, bytes] : entries) {
    records += name + '\x01' + u32(static_cast<uint32_t>(data.size()));
    data += bytes;
  }
  return "PKG" + u32(static_cast<uint32_t>(records.size() + 4)) + records + data;
}

// The stored form: each byte less the password byte at its offset.
Bytes shifted(const Bytes& plain, const std::string& password) {
  Bytes stored = plain;
  if (password.empty()) return stored;
  for (size_t at = 0; at < stored.size(); ++at) {
    stored[at] = static_cast<char>(static_cast<uint8_t>(stored[at]) - static_cast<uint8_t>(password[at % password.size()]));
  }
  return stored;
}

std::vector<std::string> names_of(const PackageRecord* package) {
  std::vector<std::string> names;
  for (const PackageEntry& entry : package_list_entries(package)) names.push_back(entry.name);
  return names;
}

Bytes load(const PackageRecord* package, const char* name) {
  uint32_t size = 0;
  char* bytes = package_load_entry(package, name, &size);
  Bytes result = bytes ? Bytes(bytes, size) : Bytes();
  crt::free(bytes);
  return result;
}

class PackageArchive : public ::testing::Test {
 protected:
  void SetUp() override { folder = scratch_folder(); }
  std::string path(const char* name) const { return folder + name; }
  std::string source(const char* name, const Bytes& bytes) const {
    write_bytes(path(name), bytes);
    return path(name);
  }
  std::string folder;
};

TEST_F(PackageArchive, SavedFileIsTheHandBuiltImageShiftedByThePassword) {
  for (const char* password : {"", "k", "secret", "\x7f\xff\x80"}) {
    SCOPED_TRACE(password);
    PackageRecord* package = package_open(path("p.pkg").c_str(), password, false);
    ASSERT_NE(package, nullptr);
    ASSERT_TRUE(package_add_file(package, source("One.txt", "first").c_str(), nullptr));
    ASSERT_TRUE(package_add_file(package, source("two.bin", Bytes("\x00\x01\x02", 3)).c_str(), "Second"));
    ASSERT_TRUE(package_add_file(package, source("empty", "").c_str(), nullptr));
    EXPECT_EQ(package->modified, 1);
    package_close(package);  // saves, being modified
    Bytes expected = image_of({{"one.txt", "first"}, {"second", Bytes("\x00\x01\x02", 3)}, {"empty", ""}});
    EXPECT_EQ(read_bytes(path("p.pkg")), shifted(expected, password));

    PackageRecord* reopened = package_open(path("p.pkg").c_str(), password, false);
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(names_of(reopened), (std::vector<std::string>{"one.txt", "second", "empty"}));
    EXPECT_EQ(load(reopened, "second"), Bytes("\x00\x01\x02", 3));
    EXPECT_EQ(reopened->modified, 0);
    package_close(reopened);
    std::filesystem::remove(path("p.pkg"));
  }
}

TEST_F(PackageArchive, EmptyPackageIsSevenBytesAndReopensEmpty) {
  PackageRecord* package = package_open(path("new.pkg").c_str(), "", false);
  ASSERT_NE(package, nullptr);  // a missing file opens as a new, empty package
  EXPECT_TRUE(package_save(package, nullptr, nullptr));
  package_close(package);
  EXPECT_EQ(read_bytes(path("new.pkg")), Bytes("PKG\x04\x00\x00\x00", 7));
  PackageRecord* reopened = package_open(path("new.pkg").c_str(), "", true);
  ASSERT_NE(reopened, nullptr);
  EXPECT_TRUE(package_list_entries(reopened).empty());
  package_close(reopened);
}

TEST_F(PackageArchive, AddingAnExistingNameReplacesItAtTheEnd) {
  PackageRecord* package = package_open(path("p.pkg").c_str(), "pw", false);
  ASSERT_NE(package, nullptr);
  package_add_file(package, source("a.txt", "AAAA").c_str(), nullptr);
  package_add_file(package, source("b.txt", "BB").c_str(), nullptr);
  package_add_file(package, source("c.txt", "C").c_str(), nullptr);
  package_add_file(package, source("A.TXT", "new a").c_str(), nullptr);
  ASSERT_TRUE(package_save(package, nullptr, nullptr));
  EXPECT_EQ(package->modified, 0);
  package_close(package);
  EXPECT_EQ(read_bytes(path("p.pkg")), shifted(image_of({{"b.txt", "BB"}, {"c.txt", "C"}, {"a.txt", "new a"}}), "pw"));
}

TEST_F(PackageArchive, RemovingShiftsTheLaterOffsetsDown) {
  PackageRecord* package = package_open(path("p.pkg").c_str(), "", false);
  ASSERT_NE(package, nullptr);
  package_add_file(package, source("a", "1111").c_str(), nullptr);
  package_add_file(package, source("b", "22").c_str(), nullptr);
  package_add_file(package, source("c", "333").c_str(), nullptr);
  package_remove_entry(package, "b");
  package_remove_entry(package, "absent");
  package_save(package, nullptr, nullptr);
  package_close(package);
  EXPECT_EQ(read_bytes(path("p.pkg")), image_of({{"a", "1111"}, {"c", "333"}}));
}

TEST_F(PackageArchive, NamesAreStoredLowerCaseAndFoundExactly) {
  PackageRecord* package = package_open(path("p.pkg").c_str(), "", false);
  ASSERT_NE(package, nullptr);
  package_add_file(package, source("Readme.TXT", "hello").c_str(), nullptr);
  EXPECT_EQ(names_of(package), std::vector<std::string>{"readme.txt"});
  EXPECT_NE(package_find_entry(package, "readme.txt", nullptr, nullptr), 0u);
  EXPECT_EQ(package_find_entry(package, "Readme.TXT", nullptr, nullptr), 0u);
  package_close(package);
}

TEST_F(PackageArchive, NamesThatWouldBreakTheDirectoryAreRefused) {
  PackageRecord* package = package_open(path("p.pkg").c_str(), "", false);
  ASSERT_NE(package, nullptr);
  std::string file = source("x", "data");
  EXPECT_FALSE(package_add_file(package, file.c_str(), ""));
  EXPECT_FALSE(package_add_file(package, file.c_str(), "a\x01" "b"));
  EXPECT_FALSE(package_add_file(package, (folder + "missing").c_str(), nullptr));
  EXPECT_FALSE(package_add_file(package, folder.c_str(), nullptr));  // ends in a separator: no name
  EXPECT_TRUE(package_list_entries(package).empty());
  EXPECT_EQ(package->modified, 0);
  package_close(package);
  EXPECT_FALSE(std::filesystem::exists(path("p.pkg")));
}

TEST_F(PackageArchive, WrongPasswordOrForeignFileIsNotAPackage) {
  write_bytes(path("good.pkg"), shifted(image_of({{"a", "x"}}), "abc"));
  write_bytes(path("empty.pkg"), "");
  write_bytes(path("text.pkg"), "just some text");
  struct Case {
    const char* file;
    const char* password;
  };
  const Case cases[] = {{"good.pkg", "xbc"}, {"good.pkg", ""}, {"empty.pkg", ""}, {"text.pkg", ""}};
  for (const Case& row : cases) {
    for (bool directory_only : {false, true}) {
      SCOPED_TRACE(std::string(row.file) + " / " + row.password + (directory_only ? " directory-only" : ""));
      PackageOpenStatus status = PackageOpenStatus::kOpened;
      EXPECT_EQ(package_open(path(row.file).c_str(), row.password, directory_only, &status), nullptr);
      EXPECT_EQ(status, PackageOpenStatus::kNotAPackage);
    }
  }
}

TEST_F(PackageArchive, DamagedDirectoriesAreRefusedWhole) {
  const Bytes good = image_of({{"a", "xyz"}, {"bb", "12"}});
  struct Case {
    const char* name;
    Bytes image;
  };
  const Case cases[] = {
      {"magic only", "PKG"},
      {"size field cut", Bytes("PKG\x04\x00", 5)},
      {"size past the end", "PKG" + u32(1000) + good.substr(7)},
      {"size of 2^32 - 1", "PKG" + u32(0xFFFFFFFFu) + good.substr(7)},
      {"size below its own field", "PKG" + u32(3) + good.substr(7)},
      {"size ends inside a record", "PKG" + u32(9) + good.substr(7)},
      {"record without its end byte", "PKG" + u32(7) + "abc"},
      {"empty name", "PKG" + u32(9) + '\x01' + u32(0)},
      {"name with a zero byte", "PKG" + u32(11) + Bytes("a\0b", 3) + '\x01' + u32(0) + "data"},
      {"offset past the data", "PKG" + u32(10) + "a\x01" + u32(5) + "abcd"},
      {"offsets out of order", "PKG" + u32(16) + "a\x01" + u32(2) + "b\x01" + u32(1) + "abcd"},
      {"file cut inside the directory", good.substr(0, 12)},
  };
  for (const Case& row : cases) {
    for (const char* password : {"", "pw"}) {
      for (bool directory_only : {false, true}) {
        SCOPED_TRACE(std::string(row.name) + " / " + password + (directory_only ? " directory-only" : ""));
        write_bytes(path("bad.pkg"), shifted(row.image, password));
        PackageOpenStatus status = PackageOpenStatus::kOpened;
        EXPECT_EQ(package_open(path("bad.pkg").c_str(), password, directory_only, &status), nullptr);
        EXPECT_EQ(status, PackageOpenStatus::kDamaged);
      }
    }
  }
}

// Every prefix and many single-byte corruptions of a real package either open to a
// directory whose every entry reads within bounds, or are refused.
TEST_F(PackageArchive, CutAndCorruptedFilesNeverReadOutOfBounds) {
  const Bytes good = shifted(image_of({{"first", "0123456789"}, {"second", ""}, {"third", "abc"}}), "key");
  std::vector<Bytes> variants;
  for (size_t length = 0; length <= good.size(); ++length) variants.push_back(good.substr(0, length));
  std::mt19937 random(1234);
  for (int round = 0; round < 300; ++round) {
    Bytes damaged = good;
    damaged[random() % damaged.size()] = static_cast<char>(random());
    variants.push_back(damaged);
  }
  int opened = 0;
  for (const Bytes& variant : variants) {
    write_bytes(path("v.pkg"), variant);
    for (bool directory_only : {false, true}) {
      PackageRecord* package = package_open(path("v.pkg").c_str(), "key", directory_only);
      if (!package) continue;
      ++opened;
      uint64_t total = 0;
      for (const PackageEntry& entry : package_list_entries(package)) {
        ASSERT_LE(static_cast<uint64_t>(entry.offset) + entry.size, package->data_size);
        total += load(package, entry.name.c_str()).size();
      }
      EXPECT_LE(total, package->data_size);
      package_close(package);
    }
  }
  EXPECT_GT(opened, 2);  // the whole file at least, both ways
}

TEST_F(PackageArchive, DirectoryOnlyReadsGiveTheWholePackagesBytes) {
  Bytes payload;
  for (int at = 0; at < 300; ++at) payload += static_cast<char>(at * 7 + 3);
  for (const char* password : {"", "a", "ab", "abc", "abcde", "a longer password 17"}) {
    SCOPED_TRACE(password);
    std::string file = path("p.pkg");
    std::filesystem::remove(file);
    PackageRecord* whole = package_open(file.c_str(), password, false);
    ASSERT_NE(whole, nullptr);
    for (int entry = 0; entry < 7; ++entry) {
      std::string name = "e" + std::to_string(entry);
      package_add_file(whole, source(name.c_str(), payload.substr(entry * 13, 1 + entry * 11)).c_str(), nullptr);
    }
    package_save(whole, nullptr, nullptr);
    PackageRecord* directory_only = package_open(file.c_str(), password, true);
    ASSERT_NE(directory_only, nullptr);
    EXPECT_TRUE(directory_only->data.empty());
    EXPECT_EQ(directory_only->data_size, whole->data_size);
    for (const PackageEntry& entry : package_list_entries(whole)) {
      EXPECT_EQ(load(directory_only, entry.name.c_str()), load(whole, entry.name.c_str())) << entry.name;
    }
    package_close(directory_only);
    package_close(whole);
  }
}

TEST_F(PackageArchive, DirectoryOnlyPackagesCannotChange) {
  write_bytes(path("p.pkg"), image_of({{"a", "xyz"}}));
  PackageRecord* package = package_open(path("p.pkg").c_str(), "", true);
  ASSERT_NE(package, nullptr);
  EXPECT_FALSE(package_add_file(package, source("b", "b").c_str(), nullptr));
  package_remove_entry(package, "a");
  EXPECT_FALSE(package_save(package, path("copy.pkg").c_str(), nullptr));
  EXPECT_EQ(package->modified, 0);
  EXPECT_EQ(names_of(package), std::vector<std::string>{"a"});
  package_close(package);
  EXPECT_FALSE(std::filesystem::exists(path("copy.pkg")));
  EXPECT_EQ(read_bytes(path("p.pkg")), image_of({{"a", "xyz"}}));
}

TEST_F(PackageArchive, SavingElsewhereUnderAnotherPasswordKeepsTheOwnOne) {
  PackageRecord* package = package_open(path("p.pkg").c_str(), "own", false);
  ASSERT_NE(package, nullptr);
  package_add_file(package, source("a", "xyz").c_str(), nullptr);
  ASSERT_TRUE(package_save(package, path("other.pkg").c_str(), "other"));
  EXPECT_EQ(package->modified, 0);
  EXPECT_EQ(read_bytes(path("other.pkg")), shifted(image_of({{"a", "xyz"}}), "other"));
  ASSERT_TRUE(package_save(package, nullptr, nullptr));
  EXPECT_EQ(read_bytes(path("p.pkg")), shifted(image_of({{"a", "xyz"}}), "own"));
  // Nothing written where no file can be made, and the package counts as saved.
  package_add_file(package, source("b", "b").c_str(), nullptr);
  EXPECT_FALSE(package_save(package, (folder + "no/such/folder/x.pkg").c_str(), nullptr));
  EXPECT_EQ(package->modified, 0);
  package_close(package);
}

TEST_F(PackageArchive, TemporaryExtractionsTakeTheNextFreeName) {
  char* saved_folder = program_folder;
  program_folder = crt::_strdup(folder.c_str());
  PackageRecord* package = package_open(path("p.pkg").c_str(), "", false);
  ASSERT_NE(package, nullptr);
  package_add_file(package, source("a", "payload").c_str(), nullptr);
  char* first = package_extract_to_temp(package, "a");
  char* second = package_extract_to_temp(package, "a");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(std::string(first), folder + "temp.0");
  EXPECT_EQ(std::string(second), folder + "temp.1");
  EXPECT_EQ(read_bytes(second), "payload");
  EXPECT_EQ(package_extract_to_temp(package, "absent"), nullptr);
  EXPECT_TRUE(package_extract_to(package, "a", path("out").c_str()));
  EXPECT_EQ(read_bytes(path("out")), "payload");
  EXPECT_FALSE(package_extract_to(package, "absent", path("none").c_str()));
  EXPECT_FALSE(std::filesystem::exists(path("none")));
  crt::free(first);
  crt::free(second);
  package_close(package);
  crt::free(program_folder);
  program_folder = saved_folder;
}

TEST_F(PackageArchive, OnlyOpenPackagesAreHandles) {
  PackageRecord* package = package_open(path("p.pkg").c_str(), "", false);
  ASSERT_NE(package, nullptr);
  uint32_t handle = platform::address_of(package);
  EXPECT_EQ(package_from_handle(handle), package);
  EXPECT_EQ(package_from_handle(0), nullptr);
  EXPECT_EQ(package_from_handle(handle + 4), nullptr);
  package_close(package);
  EXPECT_EQ(package_from_handle(handle), nullptr);
}

// ---- The built-ins ----

class PackageBuiltins : public BuiltinTest {
 protected:
  PackageBuiltins() : BuiltinTest(register_package_builtins) {}
  void SetUp() override {
    BuiltinTest::SetUp();
    folder = scratch_folder();
  }
  std::string path(const char* name) const { return folder + name; }

  double open(const std::string& file, const char* password, bool directory_only = false) {
    push_text(file.c_str());
    push_text(password);
    call(directory_only ? "openpackageex" : "openpackage");
    return pop_number();
  }
  void with_handle(double handle, const char* name, std::initializer_list<const char*> texts) {
    push(handle);
    for (const char* text : texts) {
      if (text) push_text(text);
    }
    call(name);
  }
  // Calls loadpackagefile (or its UTF-16 form) for the file name, its size going to size.
  void load(const char* builtin, double handle, const char* name, Variable* size) {
    push(handle);
    push_text(name);
    push_variable(size);
    call(builtin);
  }
  // The number a built-in of the handle and one text (none for null) pushes.
  double number_after(double handle, const char* name, const char* text) {
    with_handle(handle, name, {text});
    return pop_number();
  }
  std::string folder;
};

TEST_F(PackageBuiltins, NewPackageIsCreatedBySavingWithZeroes) {
  double handle = open(path("new.pkg"), "");
  ASSERT_NE(handle, 0);
  EXPECT_FALSE(std::filesystem::exists(path("new.pkg")));
  push(handle);
  push(0);
  push(0);
  call("savepackage");
  EXPECT_EQ(read_bytes(path("new.pkg")), Bytes("PKG\x04\x00\x00\x00", 7));
  push(handle);
  call("closepackage");
  EXPECT_EQ(depth(), 0);
}

TEST_F(PackageBuiltins, ScriptSessionAddsQueriesLoadsAndSaves) {
  double handle = open(path("p.pkg"), "pw");
  ASSERT_NE(handle, 0);
  write_bytes(path("ReadMe.txt"), "read me");
  write_bytes(path("odd.bin"), "abc");
  with_handle(handle, "addfiletopackage", {path("ReadMe.txt").c_str()});
  with_handle(handle, "addfiletopackageex", {path("odd.bin").c_str(), "Odd.Bin"});
  push(handle);
  call("packagechanged");
  EXPECT_EQ(pop_number(), 1);

  EXPECT_EQ(number_after(handle, "packagefileexists", "ReadMe.txt"), 1);
  EXPECT_EQ(number_after(handle, "packagefileexists", "nothing"), 0);
  EXPECT_EQ(number_after(handle, "packagefilesize", "ODD.BIN"), 3);
  EXPECT_EQ(number_after(handle, "packagefilesize", "absent"), 0);

  Variable* size = make_variable(locals, "SIZE$", nullptr, 99);
  load("loadpackagefile", handle, "README.TXT", size);
  EXPECT_EQ(pop_text(), "read me");
  EXPECT_EQ(size->number, 7);

  load("loadpackagefile", handle, "absent", size);
  ValueCell* none = stack_pop(context);
  EXPECT_EQ(none->text, nullptr);
  EXPECT_EQ(size->number, 0);

  // Three bytes as UTF-16: the odd byte still gets a whole 0 unit after it.
  load("wloadpackagefile", handle, "odd.bin", size);
  ValueCell* wide = stack_pop(context);
  ASSERT_NE(wide->text, nullptr);
  EXPECT_TRUE(wide->flags & kCellWideText);
  const auto* units = static_cast<const char16_t*>(wide->text);
  EXPECT_EQ(units[0], u'a' | u'b' << 8);
  EXPECT_EQ(units[1], u'c');
  EXPECT_EQ(size->number, 3);

  with_handle(handle, "deletefilefrompackage", {"README.txt"});
  EXPECT_EQ(number_after(handle, "packagefileexists", "readme.txt"), 0);

  push(handle);
  push(0);
  push(0);
  call("savepackage");
  EXPECT_EQ(number_after(handle, "packagechanged", nullptr), 0);
  EXPECT_EQ(read_bytes(path("p.pkg")), shifted(image_of({{"odd.bin", "abc"}}), "pw"));

  std::string copy = path("copy.pkg");
  push(handle);
  push_text(copy.c_str());
  push_text("");
  call("savepackage");
  EXPECT_EQ(read_bytes(path("copy.pkg")), image_of({{"odd.bin", "abc"}}));
  push(handle);
  call("closepackage");
}

TEST_F(PackageBuiltins, PackageFilesListsNamesWithTheCursorOnTheLast) {
  write_bytes(path("p.pkg"), image_of({{"one", "1"}, {"two", "22"}, {"three", ""}}));
  double handle = open(path("p.pkg"), "", true);
  ASSERT_NE(handle, 0);
  Variable* list = make_variable(locals, "NAMES$", "old");
  push(handle);
  push_variable(list);
  call("packagefiles");
  EXPECT_EQ(pop_number(), 3);
  ASSERT_TRUE(list->flags & kVariableList);
  std::vector<std::string> names;
  ListElement* element = list->cursor;
  ASSERT_NE(element, nullptr);
  EXPECT_EQ(element->next, nullptr);
  while (element->prev) element = element->prev;
  for (; element; element = element->next) names.push_back(static_cast<const char*>(element->data));
  EXPECT_EQ(names, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_STREQ(static_cast<const char*>(list->data), "three");

  write_bytes(path("empty.pkg"), image_of({}));
  double empty = open(path("empty.pkg"), "");
  push(empty);
  push_variable(list);
  call("packagefiles");
  EXPECT_EQ(pop_number(), 0);
  EXPECT_TRUE(list->flags & kVariableList);
  EXPECT_EQ(list->cursor, nullptr);
  for (double h : {handle, empty}) {
    push(h);
    call("closepackage");
  }
}

TEST_F(PackageBuiltins, ExtractUsesTheNameAsWritten) {
  char* saved_folder = program_folder;
  program_folder = crt::_strdup(folder.c_str());
  write_bytes(path("p.pkg"), image_of({{"readme.txt", "text"}}));
  double handle = open(path("p.pkg"), "");
  EXPECT_EQ(number_after(handle, "packagefileexists", "ReadMe.txt"), 1);
  with_handle(handle, "extractfilefrompackage", {"ReadMe.txt"});
  EXPECT_EQ(stack_pop(context)->text, nullptr);
  with_handle(handle, "extractfilefrompackage", {"readme.txt"});
  std::string extracted = pop_text();
  EXPECT_EQ(extracted, folder + "temp.0");
  EXPECT_EQ(read_bytes(extracted), "text");
  with_handle(handle, "extractfilefrompackageex", {"readme.txt", path("out.txt").c_str()});
  EXPECT_EQ(read_bytes(path("out.txt")), "text");
  push(handle);
  call("closepackage");
  crt::free(program_folder);
  program_folder = saved_folder;
}

TEST_F(PackageBuiltins, DirectoryOnlyHandleReadsButNeverChanges) {
  write_bytes(path("p.pkg"), shifted(image_of({{"a", "alpha"}, {"b", "beta"}}), "x"));
  write_bytes(path("c"), "gamma");
  double handle = open(path("p.pkg"), "x", true);
  ASSERT_NE(handle, 0);
  with_handle(handle, "addfiletopackage", {path("c").c_str()});
  with_handle(handle, "deletefilefrompackage", {"a"});
  EXPECT_EQ(number_after(handle, "packagechanged", nullptr), 0);
  Variable* size = make_variable(locals, "SIZE$", nullptr);
  load("loadpackagefile", handle, "b", size);
  EXPECT_EQ(pop_text(), "beta");
  push(handle);
  push(0);
  push(0);
  call("savepackage");
  push(handle);
  call("closepackage");
  EXPECT_EQ(read_bytes(path("p.pkg")), shifted(image_of({{"a", "alpha"}, {"b", "beta"}}), "x"));
}

TEST_F(PackageBuiltins, HandlesThatAreNotOpenPackagesGiveAbsentResults) {
  double closed = open(path("p.pkg"), "");
  push(closed);
  call("closepackage");
  Variable* list = make_variable(locals, "L$", nullptr);
  for (double handle : {0.0, closed, 12345.0}) {
    SCOPED_TRACE(handle);
    EXPECT_EQ(number_after(handle, "packagefileexists", "a"), 0);
    EXPECT_EQ(number_after(handle, "packagefilesize", "a"), 0);
    EXPECT_EQ(number_after(handle, "packagechanged", nullptr), 0);
    push(handle);
    push_variable(list);
    call("packagefiles");
    EXPECT_EQ(pop_number(), 0);
    with_handle(handle, "addfiletopackage", {path("p.pkg").c_str()});
    push(handle);
    call("closepackage");
    EXPECT_EQ(depth(), 0);
  }
}

TEST_F(PackageBuiltins, DamagedPackageOpensAsZeroWithAWarning) {
  write_bytes(path("bad.pkg"), "PKG" + u32(5000) + "a\x01" + u32(0));
  unsigned errors = runtime_error_count();
  EXPECT_EQ(open(path("bad.pkg"), ""), 0);
  EXPECT_EQ(runtime_error_count(), errors + 1);
  EXPECT_NE(std::string(runtime_error_last_text()).find("cannot be opened"), std::string::npos);
  // A wrong password is an ordinary failure: 0 and no report.
  write_bytes(path("good.pkg"), shifted(image_of({{"a", "x"}}), "right"));
  EXPECT_EQ(open(path("good.pkg"), "wrong"), 0);
  EXPECT_EQ(runtime_error_count(), errors + 1);
}

}  // namespace
