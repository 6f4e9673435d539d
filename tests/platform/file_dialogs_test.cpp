// The headless Open and Save As dialogs: cancel by default, the configured answer with
// its offsets, the existence checks of the Open dialog, buffer and record errors, and a
// handler taking over.
#include "platform/user/file_dialogs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/platform/temporary_root.h"

namespace {

class FileDialogsTest : public TemporaryRoot {
 protected:
  void SetUp() override {
    TemporaryRoot::SetUp();
    unsetenv("ZRK_FILE_DIALOG_ANSWER");
    record.lStructSize = sizeof record;
    record.lpstrFile = file;
    record.nMaxFile = 260;
  }
  void TearDown() override {
    unsetenv("ZRK_FILE_DIALOG_ANSWER");
    platform::set_file_dialog_handler(nullptr);
    TemporaryRoot::TearDown();
  }
  void answer(const char* path) { setenv("ZRK_FILE_DIALOG_ANSWER", path, 1); }

  OPENFILENAMEW record{};
  char16_t file[260] = {};
};

TEST_F(FileDialogsTest, UnsetAnswerIsACancel) {
  EXPECT_FALSE(GetOpenFileNameW(&record));
  EXPECT_EQ(CommDlgExtendedError(), 0u);
  EXPECT_FALSE(GetSaveFileNameW(&record));
  EXPECT_EQ(CommDlgExtendedError(), 0u);
  EXPECT_EQ(file[0], 0);
}

TEST_F(FileDialogsTest, AnswerFillsPathOffsetsAndTitle) {
  make_file("My Documents/notes.v2.txt", "x");
  make_file("My Documents/README", "x");
  char16_t title[8];
  record.lpstrFileTitle = title;
  record.nMaxFileTitle = 8;
  struct Case {
    const char* answer;
    const char16_t* initial_folder;
    const char16_t* path;
    WORD name_offset;
    WORD extension_offset;
    const char16_t* title;  // cut to 7 units
  } cases[] = {
      {"\\My Documents\\notes.v2.txt", nullptr, u"\\My Documents\\notes.v2.txt", 14, 23, u"notes.v"},
      {"\\My Documents\\README", nullptr, u"\\My Documents\\README", 14, 20, u"README"},
      {"notes.v2.txt", u"\\My Documents", u"\\My Documents\\notes.v2.txt", 14, 23, u"notes.v"},
      {"README", u"\\My Documents\\", u"\\My Documents\\README", 14, 20, u"README"},
  };
  for (const auto& row : cases) {
    answer(row.answer);
    record.lpstrInitialDir = row.initial_folder;
    record.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    ASSERT_TRUE(GetOpenFileNameW(&record)) << row.answer;
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    EXPECT_EQ(std::u16string(file), row.path) << row.answer;
    EXPECT_EQ(record.nFileOffset, row.name_offset) << row.answer;
    EXPECT_EQ(record.nFileExtension, row.extension_offset) << row.answer;
    EXPECT_EQ(std::u16string(title), row.title) << row.answer;
  }
}

TEST_F(FileDialogsTest, OpenCannotChooseWhatIsNotThere) {
  make_file("Docs/a.txt", "x");
  struct Case {
    const char* answer;
    DWORD flags;
    BOOL open_result;
  } cases[] = {
      {"\\Docs\\a.txt", OFN_FILEMUSTEXIST, TRUE},
      {"\\docs\\A.TXT", OFN_FILEMUSTEXIST, TRUE},   // device names ignore case
      {"\\Docs\\b.txt", OFN_FILEMUSTEXIST, FALSE},
      {"\\Docs\\b.txt", OFN_PATHMUSTEXIST, TRUE},
      {"\\Gone\\b.txt", OFN_PATHMUSTEXIST, FALSE},
      {"\\Gone\\b.txt", 0, TRUE},
  };
  for (const auto& row : cases) {
    answer(row.answer);
    record.Flags = row.flags;
    EXPECT_EQ(GetOpenFileNameW(&record), row.open_result) << row.answer << " flags " << row.flags;
    EXPECT_EQ(CommDlgExtendedError(), 0u) << row.answer;
    // Save As offers any name whatever the flags.
    EXPECT_TRUE(GetSaveFileNameW(&record)) << row.answer << " flags " << row.flags;
  }
}

TEST_F(FileDialogsTest, RecordAndBufferErrors) {
  answer("\\Docs\\a.txt");
  record.lStructSize = 88;
  EXPECT_FALSE(GetOpenFileNameW(&record));
  EXPECT_EQ(CommDlgExtendedError(), CDERR_STRUCTSIZE);
  EXPECT_FALSE(GetOpenFileNameW(nullptr));
  EXPECT_EQ(CommDlgExtendedError(), CDERR_STRUCTSIZE);

  record.lStructSize = sizeof record;
  record.nMaxFile = 11;  // the path needs 12 units with its terminator
  EXPECT_FALSE(GetSaveFileNameW(&record));
  EXPECT_EQ(CommDlgExtendedError(), FNERR_BUFFERTOOSMALL);
  EXPECT_EQ(file[0], 12);
  record.nMaxFile = 12;
  EXPECT_TRUE(GetSaveFileNameW(&record));
  EXPECT_EQ(std::u16string(file), u"\\Docs\\a.txt");
  record.lpstrFile = nullptr;
  EXPECT_FALSE(GetSaveFileNameW(&record));
  EXPECT_EQ(CommDlgExtendedError(), FNERR_BUFFERTOOSMALL);
}

BOOL choose_fixed(platform::FileDialogKind kind, OPENFILENAMEW* record) {
  const char16_t* chosen = kind == platform::FileDialogKind::Open ? u"\\opened" : u"\\saved";
  for (int at = 0;; ++at) {
    record->lpstrFile[at] = chosen[at];
    if (!chosen[at]) break;
  }
  return TRUE;
}

TEST_F(FileDialogsTest, HandlerTakesOverUntilCleared) {
  platform::set_file_dialog_handler(choose_fixed);
  EXPECT_TRUE(GetOpenFileNameW(&record));
  EXPECT_EQ(std::u16string(file), u"\\opened");
  EXPECT_TRUE(GetSaveFileNameW(&record));
  EXPECT_EQ(std::u16string(file), u"\\saved");
  record.lStructSize = 4;  // the record is checked before any handler sees it
  EXPECT_FALSE(GetOpenFileNameW(&record));
  record.lStructSize = sizeof record;
  platform::set_file_dialog_handler(nullptr);
  EXPECT_FALSE(GetOpenFileNameW(&record));
}

}  // namespace
