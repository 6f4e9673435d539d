// File helpers: whole-file reads and writes under a temporary device root, file tests,
// the program's folder, path splitting, and the file dialogs with and without the
// outside dialog library.
#include "foundation/file_helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "foundation/runtime_memory.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"
#include "platform/user/file_dialogs.h"
#include "tests/platform/temporary_root.h"

namespace {

// The text and frees it; "<null>" for null.
std::string take(char* text) {
  if (!text) return "<null>";
  std::string value(text);
  crt::free(text);
  return value;
}

class FileHelpers : public TemporaryRoot {
 protected:
  void SetUp() override {
    TemporaryRoot::SetUp();
    unsetenv("ZRK_FILE_DIALOG_ANSWER");
    unsetenv("ZRK_PROGRAM");
  }
  void TearDown() override {
    unsetenv("ZRK_FILE_DIALOG_ANSWER");
    unsetenv("ZRK_PROGRAM");
    TemporaryRoot::TearDown();
  }
};

TEST_F(FileHelpers, ReadReportsTheBytesReadAndZeroFillsTheRest) {
  make_file("data.bin", "0123456789");
  struct Case {
    int32_t offset;
    int32_t count;
    const char* bytes;  // what was read
    int32_t size;
    uint32_t block;     // count + 1
  } cases[] = {
      {-1, -1, "0123456789", 10, 11},
      {2, 3, "234", 3, 4},
      {-1, 4, "0123", 4, 5},
      {0, 0, "", 0, 1},
      {7, 5, "789", 3, 6},    // the file ends first: 3 bytes read, zeros after
      {3, -1, "3456789", 7, 11},
      {20, 2, "", 0, 3},      // past the end
  };
  for (const auto& row : cases) {
    int32_t size = 99;
    char* buffer = read_file_to_buffer("\\data.bin", &size, row.offset, row.count);
    ASSERT_NE(buffer, nullptr) << "offset " << row.offset << " count " << row.count;
    EXPECT_EQ(size, row.size) << "offset " << row.offset << " count " << row.count;
    EXPECT_EQ(alloc_block_size(buffer), row.block) << "offset " << row.offset << " count " << row.count;
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(row.size)), row.bytes) << "offset " << row.offset;
    for (uint32_t at = static_cast<uint32_t>(row.size); at < row.block; ++at) {
      EXPECT_EQ(buffer[at], 0) << "byte " << at << " at offset " << row.offset << " count " << row.count;
    }
    crt::free(buffer);
  }
}

TEST_F(FileHelpers, ReadFailuresReportBySize) {
  make_file("empty.bin");
  make_file("data.bin", "abc");
  int32_t size = 99;
  char* empty = read_file_to_buffer("\\empty.bin", &size, -1, -1);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(alloc_block_size(empty), 1u);
  EXPECT_EQ(empty[0], 0);
  crt::free(empty);

  struct Case {
    const char* path;
    int32_t offset;
    int32_t count;
    int32_t size;
  } failures[] = {
      {"\\missing.bin", -1, -1, -1},
      {"\\data.bin", -2, 1, -1},           // offsets and counts below -1 are refused
      {"\\data.bin", 0, -2, -1},
      {"\\data.bin", 0, INT32_MIN, -1},
      {"\\data.bin", 0, INT32_MAX, 0},     // more memory than can be had
      {nullptr, -1, -1, -1},
  };
  for (const auto& row : failures) {
    size = 99;
    EXPECT_EQ(read_file_to_buffer(row.path, &size, row.offset, row.count), nullptr)
        << (row.path ? row.path : "<null>") << " offset " << row.offset << " count " << row.count;
    EXPECT_EQ(size, row.size) << (row.path ? row.path : "<null>") << " offset " << row.offset << " count " << row.count;
  }
}

TEST_F(FileHelpers, WideReadCountsUnits) {
  // "h\u00e9llo" in UTF-16LE and one odd byte that makes no whole unit.
  make_file("wide.txt", std::string("h\0\xe9\0l\0l\0o\0!", 11));
  int32_t units = 0;
  char16_t* whole = read_file_to_wide_buffer("\\wide.txt", &units, -1, -1);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(units, 5);
  EXPECT_EQ(std::u16string(whole), u"h\u00e9llo");
  EXPECT_EQ(alloc_block_size(whole), 12u);
  crt::free(whole);

  char16_t* part = read_file_to_wide_buffer("\\wide.txt", &units, 3, 4);
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(units, 2);  // "lo" and then the end
  EXPECT_EQ(std::u16string(part), u"lo");
  EXPECT_EQ(alloc_block_size(part), 10u);
  crt::free(part);

  EXPECT_EQ(read_file_to_wide_buffer("\\missing.txt", &units, -1, -1), nullptr);
  EXPECT_EQ(units, -1);
}

TEST_F(FileHelpers, WritesCreateOrReplaceFiles) {
  make_file("old.txt", "a longer old content");
  EXPECT_TRUE(write_file("\\old.txt", "new", 3));
  EXPECT_EQ(file_content("old.txt"), "new");
  EXPECT_TRUE(write_file("\\zero.txt", "", 0));
  EXPECT_TRUE(exists("zero.txt"));
  EXPECT_EQ(file_content("zero.txt"), "");
  EXPECT_TRUE(write_wide_file("\\wide.txt", u"h\u00e9", 2));
  EXPECT_EQ(file_content("wide.txt"), std::string("h\0\xe9\0", 4));

  EXPECT_FALSE(write_file("\\old.txt", "xyz", -1));  // refused, the file stays
  EXPECT_EQ(file_content("old.txt"), "new");
  EXPECT_FALSE(write_file("\\no such folder\\x.txt", "x", 1));
  make_file("locked.txt", "kept");
  make_read_only("locked.txt");
  EXPECT_FALSE(write_file("\\locked.txt", "x", 1));
  EXPECT_EQ(file_content("locked.txt"), "kept");
}

TEST_F(FileHelpers, SizesAndExistence) {
  make_file("Docs/Report.TXT", "12345");
  make_file("Docs/empty.txt");
  std::filesystem::create_symlink(host("Docs/gone.txt"), host("Docs/dangling.txt"));
  EXPECT_EQ(file_size("\\Docs\\Report.TXT"), 5u);
  EXPECT_EQ(file_size("\\docs\\report.txt"), 5u);  // device names ignore case
  EXPECT_EQ(file_size("\\Docs\\empty.txt"), 0u);
  EXPECT_EQ(file_size("\\Docs\\missing.txt"), 0u);

  const std::pair<const char*, int> cases[] = {
      {"\\Docs\\Report.TXT", 1}, {"\\DOCS\\REPORT.TXT", 1}, {"\\Docs\\*.txt", 1}, {"\\Docs\\R?port.*", 1},
      {"\\Docs", 1},             {"\\Docs\\*.bmp", 0},      {"\\Docs\\missing", 0}, {"\\Nowhere\\x", 0},
      // A search never reports these, even where the host has them.
      {"\\Docs\\.", 0},          {"\\Docs\\..", 0},         {"\\Docs\\", 0},
      {"\\Docs\\dangling.txt", 0}, {"\\Docs\\DANGLING.TXT", 0},
  };
  for (const auto& [path, expected] : cases) {
    EXPECT_EQ(file_exists(path), expected) << path;
    EXPECT_EQ(file_exists_alt(path), expected) << path;
  }
  EXPECT_EQ(file_exists(nullptr), 0);
}

TEST_F(FileHelpers, ProgramFolderComesFromTheExecutablesName) {
  setenv("ZRK_PROGRAM", "\\Program Files\\ZRK\\ZRK.EXE", 1);
  EXPECT_EQ(take(program_directory()), "\\Program Files\\ZRK\\");
  EXPECT_EQ(take(program_file_name()), "\\Program Files\\ZRK\\ZRK.EXE");
  setenv("ZRK_PROGRAM", "ZRK.EXE", 1);
  EXPECT_EQ(take(program_directory()), "\\");
}

TEST(PathSplitting, LooksAtTheLastComponent) {
  struct Case {
    const char* path;
    const char* file_name;
    const char* directory;
    const char* storage_root;
    const char* extension;
  } cases[] = {
      {"\\Storage Card\\Games\\x.zrk", "x.zrk", "\\Storage Card\\Games\\", "\\Storage Card\\", ".zrk"},
      {"\\My.Dir\\readme", "readme", "\\My.Dir\\", "\\My.Dir\\", "<null>"},
      {"archive.tar.gz", "archive.tar.gz", "", "archive.tar.gz", ".gz"},
      {"name", "name", "", "name", "<null>"},
      {"\\Windows\\", "", "\\Windows\\", "\\Windows\\", "<null>"},
      {"\\file.", "file.", "\\", "\\file.", "."},
      {".profile", ".profile", "", ".profile", ".profile"},
      {"/host/build.dir/zrk", "zrk", "/host/build.dir/", "/host/", "<null>"},
      {"\\a\\b\\c\\d.e", "d.e", "\\a\\b\\c\\", "\\a\\", ".e"},
      {"", "", "", "", "<null>"},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(take(path_file_name(row.path)), row.file_name) << row.path;
    EXPECT_EQ(take(path_directory(row.path)), row.directory) << row.path;
    EXPECT_EQ(take(path_cut_after_second_backslash(row.path)), row.storage_root) << row.path;
    EXPECT_EQ(take(path_extension(row.path)), row.extension) << row.path;
  }
  EXPECT_EQ(take(path_file_name(nullptr)), "");
  EXPECT_EQ(take(path_extension(nullptr)), "<null>");
}

// ---- Dialogs ----

// What the system dialog was given, recorded by a handler that then answers headless.
struct SeenDialog {
  platform::FileDialogKind kind;
  DWORD size;
  std::u16string filter;  // with its zeros, up to and including the closing pair
  std::u16string title;
  std::u16string initial_folder;
  bool has_initial_folder;
  DWORD flags;
  DWORD max_file;
  int calls = 0;
};
SeenDialog seen;

BOOL recording_handler(platform::FileDialogKind kind, OPENFILENAMEW* record) {
  seen.kind = kind;
  seen.size = record->lStructSize;
  seen.filter.clear();
  for (const char16_t* at = record->lpstrFilter;; ++at) {
    seen.filter += *at;
    if (at[0] == 0 && at[1] == 0) {
      seen.filter += u'\0';
      break;
    }
  }
  seen.title = record->lpstrTitle;
  seen.has_initial_folder = record->lpstrInitialDir != nullptr;
  seen.initial_folder = record->lpstrInitialDir ? record->lpstrInitialDir : u"";
  seen.flags = record->Flags;
  seen.max_file = record->nMaxFile;
  seen.calls += 1;
  return platform::headless_file_dialog(kind, record);
}

class FileDialogs : public FileHelpers {
 protected:
  void SetUp() override {
    FileHelpers::SetUp();
    crt::free(last_dialog_folder);
    last_dialog_folder = nullptr;
    // A program folder without the outside library: the system dialog serves.
    program_folder = crt::_strdup("\\");
    seen = SeenDialog{};
  }
  void TearDown() override {
    platform::set_file_dialog_handler(nullptr);
    crt::free(program_folder);
    program_folder = nullptr;
    crt::free(last_dialog_folder);
    last_dialog_folder = nullptr;
    FileHelpers::TearDown();
  }
};

TEST_F(FileDialogs, CancelByDefault) {
  EXPECT_EQ(take(open_file_dialog(nullptr, "All|*.*|", "\\Docs")), "<null>");
  EXPECT_EQ(take(save_file_dialog(nullptr, "All|*.*|", nullptr)), "<null>");
  EXPECT_EQ(last_dialog_folder, nullptr);
}

TEST_F(FileDialogs, OpenHandsTheSystemItsRecordAndRemembersTheFolder) {
  make_file("Docs/a.txt", "x");
  platform::set_file_dialog_handler(recording_handler);
  setenv("ZRK_FILE_DIALOG_ANSWER", "\\Docs\\a.txt", 1);
  EXPECT_EQ(take(open_file_dialog(nullptr, "Text files|*.txt|", "\\Start")), "\\Docs\\a.txt");
  EXPECT_EQ(seen.kind, platform::FileDialogKind::Open);
  EXPECT_EQ(seen.size, 76u);
  EXPECT_EQ(seen.filter, std::u16string(u"Text files\0*.txt\0\0", 18));  // one pair
  EXPECT_EQ(seen.title, u"Open...");
  EXPECT_EQ(seen.initial_folder, u"\\Start");
  EXPECT_EQ(seen.flags, OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST);
  EXPECT_EQ(seen.max_file, 260u);
  ASSERT_NE(last_dialog_folder, nullptr);
  EXPECT_EQ(std::u16string(last_dialog_folder), u"\\Docs\\");

  // The next dialog without a folder opens where the last file was chosen; a bare name
  // answered there is a file of that folder.
  setenv("ZRK_FILE_DIALOG_ANSWER", "b.txt", 1);
  EXPECT_EQ(take(save_file_dialog(nullptr, "Text files|*.txt|Any|*.*|", nullptr)), "\\Docs\\b.txt");
  EXPECT_EQ(seen.kind, platform::FileDialogKind::Save);
  EXPECT_EQ(seen.title, u"Save As...");
  EXPECT_EQ(seen.initial_folder, u"\\Docs\\");
  EXPECT_EQ(seen.flags, OFN_OVERWRITEPROMPT);
  EXPECT_EQ(seen.filter, std::u16string(u"Text files\0*.txt\0Any\0*.*\0\0", 26));
}

TEST_F(FileDialogs, OpenNeedsAnExistingFileSaveDoesNot) {
  setenv("ZRK_FILE_DIALOG_ANSWER", "\\Docs\\new.txt", 1);
  EXPECT_EQ(take(open_file_dialog(nullptr, "All|*.*|", nullptr)), "<null>");
  EXPECT_EQ(last_dialog_folder, nullptr);
  EXPECT_EQ(take(save_file_dialog(nullptr, "All|*.*|", nullptr)), "\\Docs\\new.txt");
}

TEST_F(FileDialogs, OutsideLibraryReplacesTheSystemDialog) {
  crt::free(program_folder);
  program_folder = crt::_strdup(ZRK_DIALOG_LIBRARY_FOLDER);
  platform::set_file_dialog_handler(recording_handler);
  setenv("ZRK_FILE_DIALOG_ANSWER", "\\Docs\\system.txt", 1);

  EXPECT_EQ(take(open_file_dialog(nullptr, "All|*.*|", nullptr)), "\\Card\\picked.bmp");
  ASSERT_NE(last_dialog_folder, nullptr);
  EXPECT_EQ(std::u16string(last_dialog_folder), u"\\Card\\");
  EXPECT_EQ(take(open_file_dialog(nullptr, "All|*.*|", "\\cancel")), "<null>");
  // The library has no Save dialog: no dialog at all, not the system's.
  EXPECT_EQ(take(save_file_dialog(nullptr, "All|*.*|", nullptr)), "<null>");
  EXPECT_EQ(seen.calls, 0);
  EXPECT_EQ(GetModuleHandleW(u"gsgetfile.dll"), nullptr) << "the library stays loaded";
}

}  // namespace
