// Files of the device: opening with each disposition, reading, writing, seeking,
// times, deletion, searches, stream drivers and the C runtime's named stdio calls.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/kernel/device_io.h"
#include "platform/kernel/files.h"
#include "platform/kernel/filetime.h"
#include "platform/kernel/stdio.h"
#include "platform/kernel/utf.h"
#include "temporary_root.h"

namespace {

using Files = TemporaryRoot;

std::string name_of(const std::u16string& text) { return platform::utf8_from_utf16(text); }

HANDLE open_file(const char16_t* name, DWORD access, DWORD disposition) {
  return CreateFileW(name, access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(Files, MixedCaseDevicePathOpensTheFileOnDisk) {
  make_file("Program Files/Game/Data.TXT", "level 1");
  HANDLE file = open_file(u"\\PROGRAM FILES\\game\\data.txt", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char buffer[16] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(std::string(buffer, read), "level 1");
  EXPECT_TRUE(CloseHandle(file));
}

TEST_F(Files, ReadWriteSeekAndSizeRoundTrip) {
  HANDLE file = open_file(u"\\data.bin", GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD done = 99;
  ASSERT_TRUE(WriteFile(file, "hello world", 11, &done, nullptr));
  EXPECT_EQ(done, 11u);

  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
  char buffer[64] = {};
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "hello world");
  done = 99;
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr)) << "a read at the end succeeds";
  EXPECT_EQ(done, 0u);

  EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_END), 6u);
  ASSERT_TRUE(ReadFile(file, buffer, 3, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "wor");
  EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_CURRENT), 7u);
  EXPECT_EQ(SetFilePointer(file, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 7u) << "a refused move leaves the pointer";
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, 3), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  // Writing past the end fills the gap with zeros.
  EXPECT_EQ(SetFilePointer(file, 100, nullptr, FILE_BEGIN), 100u);
  ASSERT_TRUE(WriteFile(file, "!", 1, &done, nullptr));
  DWORD high = 99;
  EXPECT_EQ(GetFileSize(file, &high), 101u);
  EXPECT_EQ(high, 0u);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(file_content("data.bin"), std::string("hello world") + std::string(89, '\0') + "!");

  file = open_file(u"\\DATA.BIN", GENERIC_WRITE, TRUNCATE_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(file, nullptr), 0u);
  EXPECT_TRUE(CloseHandle(file));
}

TEST_F(Files, PositionsAndSizesBeyondFourGigabytes) {
  HANDLE file = open_file(u"\\big.bin", GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(file, 2, &high, FILE_BEGIN), 2u);
  EXPECT_EQ(high, 1);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(file, "z", 1, &done, nullptr));  // a sparse file of 4 GB + 3
  DWORD size_high = 0;
  EXPECT_EQ(GetFileSize(file, &size_high), 3u);
  EXPECT_EQ(size_high, 1u);
  // Without a high part the result must fit in 32 bits.
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  high = -1;
  EXPECT_EQ(SetFilePointer(file, -3, &high, FILE_END), 0u) << "a 64-bit move back by 3 lands at 4 GB";
  EXPECT_EQ(high, 1);
  EXPECT_TRUE(CloseHandle(file));
}

TEST_F(Files, EachDispositionOnExistingAndMissingFiles) {
  struct Case {
    const char* label;
    DWORD disposition;
    bool existing;
    bool opens;
    DWORD error;
    const char* content_after;  // null: no file afterwards
  };
  const Case cases[] = {
      {"create new, existing", CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
      {"create new, missing", CREATE_NEW, false, true, ERROR_SUCCESS, ""},
      {"create always, existing", CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
      {"create always, missing", CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {"open existing, existing", OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
      {"open existing, missing", OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {"open always, existing", OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
      {"open always, missing", OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {"truncate existing, existing", TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
      {"truncate existing, missing", TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
  };
  for (const Case& row : cases) {
    std::filesystem::remove(host("Target.txt"));
    if (row.existing) make_file("Target.txt", "old");
    SetLastError(0xDEAD);
    HANDLE file = open_file(u"\\target.TXT", GENERIC_READ | GENERIC_WRITE, row.disposition);
    EXPECT_EQ(GetLastError(), row.error) << row.label;
    EXPECT_EQ(file != INVALID_HANDLE_VALUE, row.opens) << row.label;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    // A created file keeps the case it was asked for; an existing one its own.
    std::string on_disk = row.existing ? "Target.txt" : "target.TXT";
    if (row.content_after) {
      EXPECT_TRUE(exists(on_disk)) << row.label;
      EXPECT_EQ(file_content(on_disk), row.content_after) << row.label;
    } else {
      EXPECT_FALSE(exists(on_disk)) << row.label;
    }
    std::filesystem::remove(host(on_disk));
  }
}

TEST_F(Files, OpeningFailuresGiveTheDeviceErrors) {
  make_file("Folder/plain.txt", "x");
  make_file("locked.txt", "x");
  make_read_only("locked.txt");
  struct Case {
    const char16_t* name;
    DWORD access;
    DWORD disposition;
    DWORD error;  // ERROR_SUCCESS: opens
  };
  const Case cases[] = {
      {u"\\Missing\\file.txt", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {u"\\Missing\\file.txt", GENERIC_WRITE, CREATE_NEW, ERROR_PATH_NOT_FOUND},
      {u"\\folder\\PLAIN.TXT\\inside.txt", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {u"\\Folder", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {u"\\Folder", GENERIC_WRITE, OPEN_ALWAYS, ERROR_ACCESS_DENIED},
      {u"\\locked.txt", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {u"\\locked.txt", GENERIC_READ, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
      {u"\\locked.txt", GENERIC_READ, OPEN_EXISTING, ERROR_SUCCESS},
      {u"\\Folder\\plain.txt", GENERIC_READ, 0, ERROR_INVALID_PARAMETER},
      {u"\\Folder\\plain.txt", GENERIC_READ, 6, ERROR_INVALID_PARAMETER},
      {u"\\Folder\\plain.txt", GENERIC_READ, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER},
      {u"", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {u"ACS1:", 0, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},  // no driver is installed
  };
  for (const Case& row : cases) {
    SetLastError(0xDEAD);
    HANDLE file = open_file(row.name, row.access, row.disposition);
    EXPECT_EQ(GetLastError(), row.error) << name_of(row.name) << " disposition " << row.disposition;
    EXPECT_EQ(file != INVALID_HANDLE_VALUE, row.error == ERROR_SUCCESS) << name_of(row.name);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(file_content("locked.txt"), "x");
}

TEST_F(Files, ReadingAndWritingNeedTheAccessAskedFor) {
  make_file("a.txt", "abc");
  char buffer[4];
  DWORD done = 99;
  HANDLE reader = open_file(u"\\a.txt", GENERIC_READ, OPEN_EXISTING);
  EXPECT_FALSE(WriteFile(reader, "x", 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(ReadFile(reader, nullptr, 1, &done, nullptr)) << "a null buffer is refused, not written to";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  HANDLE writer = open_file(u"\\a.txt", GENERIC_WRITE, OPEN_EXISTING);
  done = 99;
  EXPECT_FALSE(ReadFile(writer, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(done, 0u);
  CloseHandle(reader);
  CloseHandle(writer);
  EXPECT_EQ(file_content("a.txt"), "abc");
}

TEST_F(Files, CallsOnHandlesThatAreNotOpenFilesFail) {
  make_file("a.txt", "abc");
  HANDLE closed = open_file(u"\\a.txt", GENERIC_READ, OPEN_EXISTING);
  CloseHandle(closed);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(u"\\a.txt", &found);  // a live handle of another kind
  char buffer[4];
  DWORD done;
  FILETIME time;
  for (HANDLE handle : {closed, search, INVALID_HANDLE_VALUE, HANDLE{}}) {
    SCOPED_TRACE(handle == search ? "search handle" : "closed or foreign handle");
    EXPECT_FALSE(ReadFile(handle, buffer, 4, &done, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(WriteFile(handle, buffer, 4, &done, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetFilePointer(handle, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetFileSize(handle, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(GetFileTime(handle, nullptr, nullptr, &time));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  FindClose(search);
}

TEST_F(Files, FileTimesComeFromTheHostAndCompareInOrder) {
  make_file("old.txt", "1");
  make_file("new.txt", "2");
  // 2001-09-09 01:46:40 UTC: 1,000,000,000 seconds after 1970.
  timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, host("old.txt").c_str(), times, 0), 0);

  FILETIME old_write, old_access, new_write, creation;
  HANDLE old_file = open_file(u"\\OLD.TXT", GENERIC_READ, OPEN_EXISTING);
  HANDLE new_file = open_file(u"\\new.txt", GENERIC_READ, OPEN_EXISTING);
  ASSERT_TRUE(GetFileTime(old_file, &creation, &old_access, &old_write));
  ASSERT_TRUE(GetFileTime(new_file, nullptr, nullptr, &new_write));
  CloseHandle(old_file);
  CloseHandle(new_file);

  EXPECT_EQ(platform::ticks_from_filetime(old_write), 126444736000000000ull);
  EXPECT_EQ(platform::ticks_from_filetime(old_access), 126444736000000000ull);
  EXPECT_EQ(CompareFileTime(&old_write, &new_write), -1);
  EXPECT_EQ(CompareFileTime(&new_write, &old_write), 1);
  EXPECT_EQ(CompareFileTime(&old_write, &old_write), 0);
}

TEST_F(Files, CompareFileTimeWeighsTheHighPartFirst) {
  struct Case {
    FILETIME first, second;
    LONG expected;
  };
  const Case cases[] = {
      {{0, 1}, {0xFFFFFFFF, 0}, 1},
      {{0xFFFFFFFF, 0}, {0, 1}, -1},
      {{5, 7}, {6, 7}, -1},
      {{0, 0x80000000}, {0, 0x7FFFFFFF}, 1},  // unsigned
      {{9, 9}, {9, 9}, 0},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(CompareFileTime(&cases[i].first, &cases[i].second), cases[i].expected) << "row " << i;
  }
}

TEST_F(Files, DeleteFileRemovesFilesOnly) {
  make_file("Docs/Gone.txt", "x");
  make_file("Docs/Locked.txt", "x");
  make_read_only("Docs/Locked.txt");
  struct Case {
    const char16_t* name;
    DWORD error;  // ERROR_SUCCESS: deleted
  };
  const Case cases[] = {
      {u"\\DOCS\\gone.TXT", ERROR_SUCCESS},
      {u"\\Docs\\Gone.txt", ERROR_FILE_NOT_FOUND},
      {u"\\Nowhere\\Gone.txt", ERROR_PATH_NOT_FOUND},
      {u"\\Docs", ERROR_ACCESS_DENIED},
      {u"\\Docs\\Locked.txt", ERROR_ACCESS_DENIED},
  };
  for (const Case& row : cases) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(DeleteFileW(row.name), row.error == ERROR_SUCCESS) << name_of(row.name);
    EXPECT_EQ(GetLastError(), row.error) << name_of(row.name);
  }
  EXPECT_FALSE(exists("Docs/Gone.txt"));
  EXPECT_TRUE(exists("Docs/Locked.txt"));
  EXPECT_TRUE(exists("Docs"));
}

TEST_F(Files, CreateDirectoryMakesOneFolderInAnExistingParent) {
  make_file("Games/readme.txt", "x");
  struct Case {
    const char16_t* name;
    DWORD error;  // ERROR_SUCCESS: created
  };
  const Case cases[] = {
      {u"\\GAMES\\Saves", ERROR_SUCCESS},  // the parent is found without regard to case
      {u"\\Games\\saves", ERROR_ALREADY_EXISTS},
      {u"\\Games\\readme.txt", ERROR_ALREADY_EXISTS},
      {u"\\Missing\\Saves", ERROR_PATH_NOT_FOUND},
  };
  for (const Case& row : cases) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CreateDirectoryW(row.name, nullptr), row.error == ERROR_SUCCESS) << name_of(row.name);
    EXPECT_EQ(GetLastError(), row.error) << name_of(row.name);
  }
  EXPECT_TRUE(std::filesystem::is_directory(host("Games/Saves")));
}

class Searches : public TemporaryRoot {
 protected:
  void SetUp() override {
    TemporaryRoot::SetUp();
    for (const char* name : {"abc.txt", "a1c.dat", "abc", "notes.TXT", "Readme"}) {
      make_file(std::string("Docs/") + name, "12345");
    }
    std::filesystem::create_directory(host("Docs/Sub"));
  }

  // Every name a search for pattern returns, in order; the error when it finds none.
  std::vector<std::string> search(const char16_t* pattern, DWORD* error = nullptr) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE handle = FindFirstFileW(pattern, &found);
    if (handle == INVALID_HANDLE_VALUE) {
      if (error) *error = GetLastError();
      return names;
    }
    do {
      names.push_back(platform::utf8_from_utf16(found.cFileName));
    } while (FindNextFileW(handle, &found));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(handle));
    return names;
  }
};

TEST_F(Searches, PatternsMatchTheLastComponentWithoutRegardToCase) {
  using Names = std::vector<std::string>;
  const Names everything = {"Readme", "Sub", "a1c.dat", "abc", "abc.txt", "notes.TXT"};
  struct Case {
    const char16_t* pattern;
    Names expected;
    DWORD error;  // when nothing is found
  };
  const Case cases[] = {
      {u"\\Docs\\*.txt", {"abc.txt", "notes.TXT"}, 0},
      {u"\\docs\\a?c.*", {"a1c.dat", "abc", "abc.txt"}, 0},
      {u"\\DOCS\\ABC.TXT", {"abc.txt"}, 0},
      {u"\\Docs\\*", everything, 0},
      {u"\\Docs\\*.*", everything, 0},
      {u"\\Docs\\*E*", {"Readme", "notes.TXT"}, 0},
      {u"\\Docs\\sub", {"Sub"}, 0},
      {u"\\Docs\\?", {}, ERROR_FILE_NOT_FOUND},
      {u"\\Docs\\*.zip", {}, ERROR_FILE_NOT_FOUND},
      {u"\\Docs\\", {}, ERROR_FILE_NOT_FOUND},
      {u"\\Nowhere\\*.txt", {}, ERROR_PATH_NOT_FOUND},
      {u"\\Docs\\abc.txt\\*", {}, ERROR_PATH_NOT_FOUND},
  };
  for (const Case& row : cases) {
    DWORD error = 0;
    EXPECT_EQ(search(row.pattern, &error), row.expected) << name_of(row.pattern);
    EXPECT_EQ(error, row.error) << name_of(row.pattern);
  }
}

TEST_F(Searches, RecordsCarryAttributesSizesAndTimes) {
  make_file("Docs/locked.txt", "x");
  make_read_only("Docs/locked.txt");
  make_file("Docs/huge.bin");
  ASSERT_EQ(truncate64(host("Docs/huge.bin").c_str(), (1ll << 32) + 7), 0);  // sparse
  struct Case {
    const char16_t* pattern;
    DWORD attributes;
    DWORD size_high, size_low;
  };
  const Case cases[] = {
      {u"\\Docs\\abc.txt", FILE_ATTRIBUTE_NORMAL, 0, 5},
      {u"\\Docs\\Sub", FILE_ATTRIBUTE_DIRECTORY, 0, 0},
      {u"\\Docs\\locked.txt", FILE_ATTRIBUTE_READONLY, 0, 1},
      {u"\\Docs\\huge.bin", FILE_ATTRIBUTE_NORMAL, 1, 7},
  };
  for (const Case& row : cases) {
    WIN32_FIND_DATAW found;
    HANDLE handle = FindFirstFileW(row.pattern, &found);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << name_of(row.pattern);
    EXPECT_EQ(found.dwFileAttributes, row.attributes) << name_of(row.pattern);
    EXPECT_EQ(found.nFileSizeHigh, row.size_high) << name_of(row.pattern);
    EXPECT_EQ(found.nFileSizeLow, row.size_low) << name_of(row.pattern);
    FindClose(handle);
  }

  WIN32_FIND_DATAW found;
  FindClose(FindFirstFileW(u"\\Docs\\abc.txt", &found));
  HANDLE file = open_file(u"\\Docs\\abc.txt", GENERIC_READ, OPEN_EXISTING);
  FILETIME creation, write;
  GetFileTime(file, &creation, nullptr, &write);
  CloseHandle(file);
  EXPECT_EQ(CompareFileTime(&found.ftLastWriteTime, &write), 0);
  EXPECT_EQ(CompareFileTime(&found.ftCreationTime, &creation), 0);
}

TEST_F(Searches, EndedAndBadSearchesFail) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(u"\\Docs\\abc", &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindNextFileW(search, &found));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_FALSE(FindNextFileW(search, &found)) << "stays at the end";
  EXPECT_FALSE(FindNextFileW(search, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(FindClose(search));
  EXPECT_FALSE(FindClose(search));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(FindNextFileW(search, &found));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(FindFirstFileW(nullptr, &found), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstFileW(u"\\Docs\\*", nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  HANDLE file = open_file(u"\\Docs\\abc", GENERIC_READ, OPEN_EXISTING);
  EXPECT_FALSE(FindClose(file)) << "FindClose ends searches only";
  EXPECT_TRUE(CloseHandle(file));
}

TEST(StreamDrivers, NamesAreThreeLettersADigitAndAColon) {
  struct Case {
    const char16_t* name;
    bool driver;
  };
  const Case cases[] = {
      {u"ACS1:", true}, {u"com0:", true}, {u"ACS1", false}, {u"AC1:", false}, {u"ACSD:", false},
      {u"ACS12:", false}, {u"\\ACS1:", false}, {u"A_S1:", false}, {u"", false},
  };
  for (const Case& row : cases) {
    EXPECT_EQ(platform::is_stream_driver_name(row.name), row.driver) << name_of(row.name);
  }
}

class FakeDevice : public platform::KernelObject {
 public:
  FakeDevice() : KernelObject(platform::ObjectKind::Device) {}
};

TEST_F(Files, AnInstalledOpenerReceivesStreamDriverNames) {
  static std::u16string seen_name;
  static DWORD seen_access;
  platform::set_stream_driver_opener([](std::u16string_view name, DWORD access, DWORD share) {
    seen_name = name;
    seen_access = access;
    if (name != u"ACS1:") {
      SetLastError(ERROR_DEVICE_NOT_CONNECTED);
      return std::shared_ptr<platform::KernelObject>();
    }
    return std::shared_ptr<platform::KernelObject>(std::make_shared<FakeDevice>());
  });
  HANDLE device = CreateFileW(u"ACS1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  EXPECT_EQ(seen_name, u"ACS1:");
  EXPECT_EQ(seen_access, 0u);
  EXPECT_NE(platform::handle_object_as<FakeDevice>(device, platform::ObjectKind::Device), nullptr);
  EXPECT_EQ(GetFileSize(device, nullptr), INVALID_FILE_SIZE) << "a device is not a file";
  EXPECT_TRUE(CloseHandle(device));
  EXPECT_EQ(CreateFileW(u"GPS2:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  platform::set_stream_driver_opener(nullptr);
  EXPECT_EQ(CreateFileW(u"ACS1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  platform::use_registered_stream_drivers();
}

using Streams = TemporaryRoot;

TEST_F(Streams, WideAndEightBitNamesOpenDeviceFiles) {
  make_file("Program Files/Game/Data.TXT", "level 1");
  FILE* stream = crt::_wfopen(u"\\PROGRAM FILES\\game\\data.txt", u"rb");
  ASSERT_NE(stream, nullptr);
  char buffer[16] = {};
  EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, stream), 7u);
  EXPECT_STREQ(buffer, "level 1");
  std::fclose(stream);

  // The 8-bit name is Windows-1252: 0xE9 is e with an acute accent.
  stream = crt::fopen("\\Program Files\\Caf\xE9 \x80.txt", "w");
  ASSERT_NE(stream, nullptr);
  std::fputs("a\r\nb\n", stream);
  std::fclose(stream);
  EXPECT_EQ(file_content("Program Files/Caf\xC3\xA9 \xE2\x82\xAC.txt"), "a\r\nb\n") << "text is written untranslated";

  stream = crt::fopen("\\program files\\CAF\xC9 \x80.TXT", "rt");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, stream), 5u) << "text is read untranslated";
  std::fclose(stream);

  stream = crt::fopen("\\Program Files\\Caf\xE9 \x80.txt", "a+b");
  ASSERT_NE(stream, nullptr);
  std::fputs("c", stream);
  std::fclose(stream);
  EXPECT_EQ(file_content("Program Files/Caf\xC3\xA9 \xE2\x82\xAC.txt"), "a\r\nb\nc");
}

TEST_F(Streams, ModesFoldersAndReadOnlyFiles) {
  make_file("a.txt", "abc");
  make_file("locked.txt", "abc");
  make_read_only("locked.txt");
  std::filesystem::create_directory(host("Folder"));
  struct Case {
    const char16_t* name;
    const char16_t* mode;
    int error;  // 0: opens
  };
  const Case cases[] = {
      {u"\\a.txt", u"r", 0},         {u"\\a.txt", u"rb", 0},       {u"\\a.txt", u"rt", 0},
      {u"\\a.txt", u"r+b", 0},       {u"\\a.txt", u"rb+", 0},      {u"\\a.txt", u"a", 0},
      {u"\\a.txt", u"wbc", 0},       {u"\\a.txt", u"wn", 0},       {u"\\a.txt", u"", EINVAL},
      {u"\\a.txt", u"x", EINVAL},    {u"\\a.txt", u"rw", EINVAL},  {u"\\a.txt", u"rbx", EINVAL},
      {u"\\missing.txt", u"r", ENOENT}, {u"\\Folder", u"r", EACCES}, {u"\\Folder", u"w", EACCES},
      {u"\\locked.txt", u"r", 0},    {u"\\locked.txt", u"r+", EACCES}, {u"\\locked.txt", u"a", EACCES},
      {u"", u"r", ENOENT},
  };
  for (const Case& row : cases) {
    errno = 0;
    FILE* stream = crt::_wfopen(row.name, row.mode);
    std::string label = name_of(row.name) + " mode " + name_of(row.mode);
    EXPECT_EQ(stream != nullptr, row.error == 0) << label;
    if (stream) {
      std::fclose(stream);
    } else {
      EXPECT_EQ(errno, row.error) << label;
    }
  }
  EXPECT_EQ(file_content("locked.txt"), "abc");
  EXPECT_EQ(crt::_wfopen(nullptr, u"r"), nullptr);
  EXPECT_EQ(crt::fopen("\\a.txt", nullptr), nullptr);
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(Streams, RemoveAndRename) {
  make_file("Docs/one.txt", "1");
  make_file("Docs/two.txt", "2");
  make_file("Docs/locked.txt", "x");
  make_read_only("Docs/locked.txt");

  EXPECT_EQ(crt::_wrename(u"\\DOCS\\ONE.TXT", u"\\Docs\\three.txt"), 0);
  EXPECT_EQ(file_content("Docs/three.txt"), "1");
  EXPECT_FALSE(exists("Docs/one.txt"));

  errno = 0;
  EXPECT_EQ(crt::_wrename(u"\\Docs\\three.txt", u"\\Docs\\TWO.txt"), -1) << "an existing name is not replaced";
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(file_content("Docs/two.txt"), "2");

  EXPECT_EQ(crt::_wrename(u"\\Docs\\three.txt", u"\\Docs\\THREE.TXT"), 0) << "a change of case only";
  EXPECT_EQ(file_content("Docs/THREE.TXT"), "1");
  EXPECT_FALSE(exists("Docs/three.txt"));

  errno = 0;
  EXPECT_EQ(crt::_wrename(u"\\Docs\\none.txt", u"\\Docs\\four.txt"), -1);
  EXPECT_EQ(errno, ENOENT);

  struct Case {
    const char16_t* name;
    int error;  // 0: removed
  };
  const Case cases[] = {
      {u"\\docs\\two.TXT", 0},
      {u"\\Docs\\two.txt", ENOENT},
      {u"\\Docs", EACCES},
      {u"\\Docs\\locked.txt", EACCES},
  };
  for (const Case& row : cases) {
    errno = 0;
    EXPECT_EQ(crt::_wremove(row.name), row.error ? -1 : 0) << name_of(row.name);
    if (row.error) {
      EXPECT_EQ(errno, row.error) << name_of(row.name);
    }
  }
  EXPECT_FALSE(exists("Docs/two.txt"));
  EXPECT_TRUE(exists("Docs/locked.txt"));
}

TEST_F(Streams, AStreamNamesItsFileUntilTheNameMeansAnother) {
  make_file("Logs/run.txt", "");
  FILE* stream = crt::fopen("\\Logs\\run.txt", "a");
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(crt::stream_names_file(stream, "\\Logs\\run.txt"));
  EXPECT_TRUE(crt::stream_names_file(stream, "\\LOGS\\RUN.TXT")) << "names match without regard to case";
  EXPECT_FALSE(crt::stream_names_file(stream, "\\Logs\\other.txt"));
  EXPECT_FALSE(crt::stream_names_file(stream, ""));
  EXPECT_FALSE(crt::stream_names_file(nullptr, "\\Logs\\run.txt"));

  std::filesystem::rename(host("Logs/run.txt"), host("Logs/moved.txt"));
  EXPECT_FALSE(crt::stream_names_file(stream, "\\Logs\\run.txt")) << "renamed away";
  EXPECT_TRUE(crt::stream_names_file(stream, "\\Logs\\moved.txt"));
  make_file("Logs/run.txt", "another");
  EXPECT_FALSE(crt::stream_names_file(stream, "\\Logs\\run.txt")) << "another file under the name";
  std::filesystem::remove(host("Logs/moved.txt"));
  EXPECT_FALSE(crt::stream_names_file(stream, "\\Logs\\moved.txt")) << "deleted";
  std::fclose(stream);
}

}  // namespace
