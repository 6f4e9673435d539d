// File mapping: views see the file, writes through a view reach it, views outlive
// their handles, fresh memory is shared between views, and bad requests fail.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/kernel/files.h"
#include "temporary_root.h"

namespace {

using FileMappings = TemporaryRoot;

// 100,000 bytes that differ from one 64 KB block to the next.
std::string pattern_bytes() {
  std::string bytes(100000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 65536);
  return bytes;
}

HANDLE open_for_mapping(const char16_t* name, DWORD access) {
  return CreateFileForMappingW(name, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST_F(FileMappings, ReadOnlyViewShowsTheWholeFile) {
  const std::string bytes = pattern_bytes();
  make_file("Images/Title.png", bytes);
  HANDLE file = open_for_mapping(u"\\images\\title.PNG", GENERIC_READ);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  auto* view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  const char* end = view + GetFileSize(file, nullptr);
  EXPECT_EQ(std::string(view, end), bytes);
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_TRUE(CloseHandle(mapping));
  EXPECT_TRUE(CloseHandle(file));
}

TEST_F(FileMappings, WritesThroughAViewReachTheFile) {
  std::string bytes = pattern_bytes();
  make_file("data.bin", bytes);
  HANDLE file = open_for_mapping(u"\\DATA.BIN", GENERIC_READ | GENERIC_WRITE);
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  auto* whole = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  auto* second_block = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 65536, 100));
  ASSERT_NE(whole, nullptr);
  ASSERT_NE(second_block, nullptr);
  EXPECT_EQ(std::string(second_block, 100), bytes.substr(65536, 100)) << "a view starts at its offset";
  std::memcpy(whole, "HEAD", 4);
  std::memcpy(second_block + 10, "MID", 3);
  EXPECT_EQ(std::string(whole + 65546, 3), "MID") << "views of one mapping share their bytes";
  EXPECT_TRUE(UnmapViewOfFile(whole));
  EXPECT_TRUE(UnmapViewOfFile(second_block));
  CloseHandle(mapping);
  CloseHandle(file);
  bytes.replace(0, 4, "HEAD");
  bytes.replace(65546, 3, "MID");
  EXPECT_EQ(file_content("data.bin"), bytes);
}

TEST_F(FileMappings, AViewOutlivesItsHandles) {
  make_file("data.bin", "mapped text");
  HANDLE file = open_for_mapping(u"\\data.bin", GENERIC_READ | GENERIC_WRITE);
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
  auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(CloseHandle(mapping));
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(std::string(view, 11), "mapped text");
  view[0] = 'M';
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view)) << "a view is unmapped once";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
  EXPECT_EQ(file_content("data.bin"), "Mapped text");
}

TEST_F(FileMappings, AWritableMappingGrowsItsFile) {
  make_file("small.bin", "0123456789");
  HANDLE file = open_for_mapping(u"\\small.bin", GENERIC_READ | GENERIC_WRITE);
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 8192, nullptr);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(GetFileSize(file, nullptr), 8192u);
  auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  view[8191] = 'e';
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  CloseHandle(file);
  EXPECT_EQ(file_content("small.bin"), "0123456789" + std::string(8181, '\0') + "e");
}

TEST_F(FileMappings, MemoryWithoutAFileIsZeroedAndShared) {
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr);
  ASSERT_NE(mapping, nullptr);
  auto* first = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  auto* second = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 4096));
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(std::string(second, 4096), std::string(4096, '\0'));
  std::memcpy(first + 4000, "shared", 6);
  EXPECT_EQ(std::string(second + 4000, 6), "shared");
  UnmapViewOfFile(first);
  UnmapViewOfFile(second);
  CloseHandle(mapping);
}

TEST_F(FileMappings, BadMappingRequestsFail) {
  make_file("data.bin", pattern_bytes());
  make_file("empty.bin");
  HANDLE reader = open_for_mapping(u"\\data.bin", GENERIC_READ);
  HANDLE writer = open_for_mapping(u"\\data.bin", GENERIC_WRITE);
  HANDLE empty = open_for_mapping(u"\\empty.bin", GENERIC_READ | GENERIC_WRITE);
  HANDLE closed = open_for_mapping(u"\\data.bin", GENERIC_READ);
  CloseHandle(closed);
  struct Case {
    const char* label;
    HANDLE file;
    DWORD protection, size_low;
    DWORD error;
  };
  const Case cases[] = {
      {"read-write mapping of a read-only handle", reader, PAGE_READWRITE, 0, ERROR_ACCESS_DENIED},
      {"mapping of a handle that cannot read", writer, PAGE_READONLY, 0, ERROR_ACCESS_DENIED},
      {"read-only mapping larger than its file", reader, PAGE_READONLY, 200000, ERROR_ACCESS_DENIED},
      {"whole mapping of an empty file", empty, PAGE_READWRITE, 0, ERROR_FILE_INVALID},
      {"unknown protection", reader, 0x40, 0, ERROR_INVALID_PARAMETER},
      {"memory of no size", INVALID_HANDLE_VALUE, PAGE_READWRITE, 0, ERROR_INVALID_PARAMETER},
      {"closed handle", closed, PAGE_READONLY, 0, ERROR_INVALID_HANDLE},
  };
  for (const Case& row : cases) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CreateFileMappingW(row.file, nullptr, row.protection, 0, row.size_low, nullptr), nullptr) << row.label;
    EXPECT_EQ(GetLastError(), row.error) << row.label;
  }
  EXPECT_EQ(GetFileSize(reader, nullptr), 100000u) << "a refused mapping leaves the file's size";
  CloseHandle(reader);
  CloseHandle(writer);
  CloseHandle(empty);
}

TEST_F(FileMappings, BadViewRequestsFail) {
  make_file("data.bin", pattern_bytes());
  HANDLE file = open_for_mapping(u"\\data.bin", GENERIC_READ);
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  struct Case {
    const char* label;
    HANDLE mapping;
    DWORD access, offset_low, bytes;
    DWORD error;
  };
  const Case cases[] = {
      {"writing a read-only mapping", mapping, FILE_MAP_WRITE, 0, 0, ERROR_ACCESS_DENIED},
      {"all access to a read-only mapping", mapping, FILE_MAP_ALL_ACCESS, 0, 0, ERROR_ACCESS_DENIED},
      {"no access", mapping, 0, 0, 0, ERROR_INVALID_PARAMETER},
      {"offset off the 64 KB grid", mapping, FILE_MAP_READ, 4096, 0, ERROR_MAPPED_ALIGNMENT},
      {"offset past the end", mapping, FILE_MAP_READ, 131072, 0, ERROR_INVALID_PARAMETER},
      {"bytes past the end", mapping, FILE_MAP_READ, 65536, 40000, ERROR_INVALID_PARAMETER},
      {"a file handle", file, FILE_MAP_READ, 0, 0, ERROR_INVALID_HANDLE},
  };
  for (const Case& row : cases) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(MapViewOfFile(row.mapping, row.access, 0, row.offset_low, row.bytes), nullptr) << row.label;
    EXPECT_EQ(GetLastError(), row.error) << row.label;
  }
  EXPECT_FALSE(UnmapViewOfFile(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
  CloseHandle(mapping);
  CloseHandle(file);
}

}  // namespace
