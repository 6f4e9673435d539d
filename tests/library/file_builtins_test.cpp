// File built-ins as scripts call them: whole files read and written as strings, path
// splitting, streams as handle numbers (and handles that are not open streams), the
// dialogs' arguments, and number texts with separators.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "builtin_fixture.h"
#include "file_bytes.h"
#include "foundation/file_helpers.h"
#include "library/files/file_builtins.h"
#include "platform/kernel/memory.h"
#include "platform/user/file_dialogs.h"

namespace {

class FileBuiltins : public BuiltinTest {
 protected:
  FileBuiltins() : BuiltinTest(register_file_builtins) {}
  void SetUp() override {
    BuiltinTest::SetUp();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::filesystem::path scratch = std::filesystem::path(ZRK_TEST_BINARY_DIR) / "scratch" / "files" / info->name();
    std::filesystem::remove_all(scratch);
    std::filesystem::create_directories(scratch);
    folder = scratch.string() + "/";
    size = make_variable(locals, "SIZE$", nullptr, 12345);
  }
  std::string path(const char* name) const { return folder + name; }

  // Pushes the arguments of a text and numbers, then the size variable, and calls.
  ValueCell* load(const char* name, const std::string& file, std::initializer_list<double> numbers) {
    push_text(file.c_str());
    for (double number : numbers) push(number);
    push_variable(size);
    call(name);
    return stack_pop(context);
  }
  double stream_call(const char* name, double handle) {
    push(handle);
    call(name);
    return pop_number();
  }
  double open(const std::string& file, const char* mode) {
    push_text(file.c_str());
    push_text(mode);
    call("fopen");
    return pop_number();
  }
  double number_of(const char* name, const std::string& argument) {
    push_text(argument.c_str());
    call(name);
    return pop_number();
  }
  std::string text_of(const char* name, const char* argument) {
    push_text(argument);
    call(name);
    ValueCell* cell = stack_pop(context);
    return cell->text ? static_cast<const char*>(cell->text) : "<none>";
  }

  std::string folder;
  Variable* size = nullptr;
};

TEST_F(FileBuiltins, LoadStringReadsTheAskedRange) {
  write_bytes(path("f.bin"), Bytes("0123456789abcdef\0tail", 21));
  struct Case {
    int32_t offset;
    int32_t count;
    Bytes bytes;
    double size;
  };
  const Case cases[] = {
      {-1, 10, "0123456789", 10},
      {3, 4, "3456", 4},
      {17, -1, "tail", 4},
      {-1, -1, Bytes("0123456789abcdef\0tail", 21), 21},
      {19, 10, "il", 2},  // fewer bytes than asked: the size says what was read
      {40, 5, "", 0},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(std::to_string(row.offset) + "," + std::to_string(row.count));
    ValueCell* cell = load("loadstrex", path("f.bin"), {static_cast<double>(row.offset), static_cast<double>(row.count)});
    ASSERT_NE(cell->text, nullptr);
    EXPECT_EQ(Bytes(static_cast<const char*>(cell->text), row.bytes.size()), row.bytes);
    EXPECT_EQ(static_cast<const char*>(cell->text)[row.bytes.size()], 0);
    EXPECT_EQ(size->number, row.size);
  }
  ValueCell* whole = load("loadstr", path("f.bin"), {});
  EXPECT_EQ(Bytes(static_cast<const char*>(whole->text), 21), Bytes("0123456789abcdef\0tail", 21));
  EXPECT_EQ(size->number, 21);
}

TEST_F(FileBuiltins, LoadOfAMissingFileGivesNoTextAndMinusOne) {
  struct Case {
    const char* name;
    std::initializer_list<double> numbers;
  };
  const Case cases[] = {{"loadstr", {}}, {"wloadstr", {}}, {"loadstrex", {-1, 4}}, {"wloadstrex", {0, 2}}};
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    size->number = 7;
    ValueCell* cell = load(row.name, path("missing"), row.numbers);
    EXPECT_EQ(cell->text, nullptr);
    EXPECT_EQ(size->number, -1);
  }
  EXPECT_EQ(load("loadstrex", path("missing"), {-2, 4})->text, nullptr);
  EXPECT_EQ(depth(), 0);
}

TEST_F(FileBuiltins, WideLoadsCountUnits) {
  write_bytes(path("w.txt"), Bytes("h\0i\0!\0?", 7));  // three units and an odd byte
  ValueCell* whole = load("wloadstr", path("w.txt"), {});
  ASSERT_TRUE(whole->flags & kCellWideText);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(whole->text)), u"hi!");
  EXPECT_EQ(size->number, 3);
  ValueCell* part = load("wloadstrex", path("w.txt"), {1, 1});
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(part->text)), u"i");
  EXPECT_EQ(size->number, 1);
}

TEST_F(FileBuiltins, SaveStringWritesTheCountAskedAndNoMore) {
  char* heap_text = crt::_strdup("xyz");
  struct Case {
    const char* text;
    double count;
    Bytes written;
  };
  const Case cases[] = {
      {"abc", -1, "abc"},
      {"abc", 2, "ab"},
      {"abc", 0, ""},
      {"abc", 100, "abc"},                 // not past the text
      {heap_text, 100, Bytes("xyz\0", 4)},  // a heap block: up to its end
  };
  std::string out = path("out.txt");
  for (const Case& row : cases) {
    SCOPED_TRACE(row.count);
    push_text(out.c_str());
    push_text(row.text);
    push(row.count);
    call("savestr");
    EXPECT_EQ(read_bytes(path("out.txt")), row.written);
  }
  crt::free(heap_text);

  // A block (memory a variable was given) is written as it is, up to its size.
  auto* block = static_cast<char*>(crt::malloc(5));
  std::memcpy(block, "a\0bcd", 5);
  const struct {
    double count;
    Bytes written;
  } block_cases[] = {{-1, "a"}, {3, Bytes("a\0b", 3)}, {10, Bytes("a\0bcd", 5)}};
  for (const auto& row : block_cases) {
    SCOPED_TRACE(row.count);
    push_text(out.c_str());
    stack_push_value(block, 0, nullptr, 0);
    context->stack_top->flags |= kCellList;
    push(row.count);
    call("savestr");
    EXPECT_EQ(read_bytes(out), row.written);
  }
  crt::free(block);
}

TEST_F(FileBuiltins, WideSaveWritesUnitsOfUtf16Text) {
  std::string out = path("w.txt");
  std::string unwritable = folder + "no/such/w.txt";
  push_text(out.c_str());
  push_wide_text(u"h\u00e9!");
  push(-1);
  call("wsavestr");
  EXPECT_EQ(read_bytes(path("w.txt")), Bytes("h\0\xe9\0!\0", 6));
  push_text(out.c_str());
  push_wide_text(u"h\u00e9!");
  push(2);
  call("wsavestr");
  EXPECT_EQ(read_bytes(path("w.txt")), Bytes("h\0\xe9\0", 4));
  // 8-bit text is widened rather than read two bytes at a time past its end.
  push_text(out.c_str());
  push_text("ab");
  push(-1);
  call("wsavestr");
  EXPECT_EQ(read_bytes(path("w.txt")), Bytes("a\0b\0", 4));
  // A file that cannot be made: nothing happens.
  push_text(unwritable.c_str());
  push_text("ab");
  push(-1);
  call("wsavestr");
  EXPECT_EQ(depth(), 0);
}

TEST_F(FileBuiltins, PathsSplitAtBackslashes) {
  struct Case {
    const char* path;
    const char* name;
    const char* folder;
    const char* drive;
    const char* extension;
  };
  const Case cases[] = {
      {"\\Storage Card\\dir\\file.tar.gz", "file.tar.gz", "\\Storage Card\\dir\\", "\\Storage Card\\", ".gz"},
      {"\\My.Dir\\readme", "readme", "\\My.Dir\\", "\\My.Dir\\", "<none>"},
      {"plain.txt", "plain.txt", "", "plain.txt", ".txt"},
      {"\\folder\\", "", "\\folder\\", "\\folder\\", "<none>"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(text_of("extractfilename", row.path), row.name);
    EXPECT_EQ(text_of("extractfilepath", row.path), row.folder);
    EXPECT_EQ(text_of("extractfiledrive", row.path), row.drive);
    EXPECT_EQ(text_of("extractfileext", row.path), row.extension);
  }
}

TEST_F(FileBuiltins, ExistenceAndSize) {
  write_bytes(path("five"), "12345");
  std::filesystem::create_directory(path("sub"));
  struct Case {
    std::string path;
    double exists;
    double directory;
    double size;
  };
  const Case cases[] = {
      {path("five"), 1, 1, 5},
      {path("sub"), 1, 1, 0},
      {path("fi*"), 1, 1, 0},  // a search pattern finds the file
      {path("none"), 0, 0, 0},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(number_of("fileexists", row.path), row.exists);
    EXPECT_EQ(number_of("directoryexists", row.path), row.directory);
    EXPECT_EQ(number_of("filesize", row.path), row.size);
  }
}

TEST_F(FileBuiltins, StreamsWriteSeekAndReadBack) {
  double out = open(path("s.bin"), "wb");
  ASSERT_NE(out, 0);
  push(platform::address_of("ABCDEFGH"));
  push(-1);  // item size -1: items of one byte
  push(4);
  push(out);
  call("fwrite");
  EXPECT_EQ(pop_number(), 4);
  push(out);
  push_text("line");
  call("writestring");
  EXPECT_EQ(stream_call("fflush", out), 0);
  EXPECT_EQ(stream_call("ftell", out), 9);
  push(out);
  call("fclose");

  EXPECT_EQ(read_bytes(path("s.bin")), "ABCDline\n");
  double in = open(path("s.bin"), "rb");
  ASSERT_NE(in, 0);
  char buffer[8] = {};
  push(platform::address_of(buffer));
  push(1);
  push(-4);  // count -4: four items
  push(in);
  call("fread");
  EXPECT_EQ(pop_number(), 4);
  EXPECT_EQ(Bytes(buffer, 4), "ABCD");
  push(in);
  push(-2);
  push(2);
  call("fseek");
  EXPECT_EQ(stream_call("ftell", in), 7);
  Variable* position = make_variable(locals, "POS$", nullptr);
  push(in);
  push_variable(position);
  call("fgetpos");
  EXPECT_EQ(pop_number(), 0);
  EXPECT_EQ(position->number, 7);
  push(in);
  push(1);
  call("fsetpos");
  EXPECT_EQ(pop_number(), 0);
  EXPECT_EQ(stream_call("ftell", in), 1);
  EXPECT_EQ(stream_call("feof", in), 0);
  EXPECT_EQ(stream_call("ferror", in), 0);
  push(in);
  call("fclose");
  EXPECT_EQ(depth(), 0);
}

TEST_F(FileBuiltins, ReadStringGivesLinesThenZero) {
  write_bytes(path("lines.txt"), "first\nsecond\r\n\nlast");
  double in = open(path("lines.txt"), "r");
  ASSERT_NE(in, 0);
  const char* expected[] = {"first", "second\r", "", "last"};
  for (const char* line : expected) {
    SCOPED_TRACE(line);
    EXPECT_EQ(stream_call("feof", in), 0);
    push(in);
    call("readstring");
    ValueCell* cell = stack_pop(context);
    ASSERT_NE(cell->text, nullptr);
    EXPECT_STREQ(static_cast<const char*>(cell->text), line);
  }
  EXPECT_NE(stream_call("feof", in), 0);
  push(in);
  call("readstring");
  ValueCell* end = stack_pop(context);
  EXPECT_EQ(end->text, nullptr);
  EXPECT_EQ(end->number, 0);
  push(in);
  call("fclose");

  // A last line with its line feed sets the end flag as it is read.
  write_bytes(path("two.txt"), "a\nb\n");
  in = open(path("two.txt"), "r");
  push(in);
  call("readstring");
  EXPECT_EQ(pop_text(), "a");
  push(in);
  call("readstring");
  EXPECT_EQ(pop_text(), "b");
  EXPECT_NE(stream_call("feof", in), 0);
  push(in);
  call("fclose");

  write_bytes(path("empty.txt"), "");
  in = open(path("empty.txt"), "r");
  push(in);
  call("readstring");
  EXPECT_EQ(stack_pop(context)->text, nullptr);
  push(in);
  call("fclose");
}

// 0 from a failed fopen, and a stream already closed, give the failure results: a loop
// waiting for the end of the file ends, and closing twice frees nothing twice.
TEST_F(FileBuiltins, HandlesThatAreNotOpenStreamsFail) {
  EXPECT_EQ(open(path("missing"), "r"), 0);
  EXPECT_EQ(open(path("x"), "bad mode"), 0);
  double closed = open(path("x"), "w");
  ASSERT_NE(closed, 0);
  push(closed);
  call("fclose");
  for (double handle : {0.0, closed}) {
    SCOPED_TRACE(handle);
    EXPECT_EQ(stream_call("feof", handle), 1);
    EXPECT_NE(stream_call("ferror", handle), 0);
    EXPECT_EQ(stream_call("ftell", handle), -1);
    EXPECT_EQ(stream_call("fflush", handle), EOF);
    push(handle);
    call("readstring");
    EXPECT_EQ(stack_pop(context)->text, nullptr);
    char buffer[4];
    push(platform::address_of(buffer));
    push(1);
    push(4);
    push(handle);
    call("fread");
    EXPECT_EQ(pop_number(), 0);
    push(handle);
    push_text("x");
    call("writestring");
    push(handle);
    call("fclose");
  }
  EXPECT_EQ(depth(), 0);
}

TEST_F(FileBuiltins, FstrGroupsThousands) {
  struct Case {
    double number;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {1234567, nullptr, "1,234,567"},
      {999, nullptr, "999"},
      {-1234.5, nullptr, "-1,234.5"},
      {0, "9876543.25", "9,876,543.25"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.expected);
    if (row.text) {
      push_text(row.text);
    } else {
      push(row.number);
    }
    call("fstr");
    EXPECT_EQ(pop_text(), row.expected);
  }
}

// What the dialog was shown with, and the answer it gives.
struct DialogSeen {
  platform::FileDialogKind kind;
  std::u16string filter;
  std::u16string folder;
  bool folder_given;
};
std::vector<DialogSeen> dialogs_seen;
const char16_t* dialog_answer = nullptr;

BOOL answer_dialog(platform::FileDialogKind kind, OPENFILENAMEW* record) {
  DialogSeen seen{kind, {}, {}, record->lpstrInitialDir != nullptr};
  for (const char16_t* at = record->lpstrFilter; at && (at[0] || at[1]); ++at) seen.filter += at[0] ? at[0] : u'|';
  if (record->lpstrInitialDir) seen.folder = record->lpstrInitialDir;
  dialogs_seen.push_back(seen);
  if (!dialog_answer) return FALSE;
  std::u16string answer = dialog_answer;
  std::copy(answer.begin(), answer.end(), record->lpstrFile);
  record->lpstrFile[answer.size()] = 0;
  return TRUE;
}

TEST_F(FileBuiltins, DialogsTakeFilterAndFolderFromTheLastArguments) {
  platform::set_file_dialog_handler(answer_dialog);
  char16_t* saved_folder = last_dialog_folder;
  last_dialog_folder = nullptr;
  dialogs_seen.clear();
  dialog_answer = u"\\My Documents\\a.txt";
  mark();
  push_text("Text|*.txt");
  call("getfile");
  EXPECT_EQ(pop_text(), "\\My Documents\\a.txt");
  dialog_answer = nullptr;
  mark();
  push_text("ignored");
  push_text("All|*.*");
  push_text("\\Temp");
  call("putfile");
  EXPECT_EQ(stack_pop(context)->text, nullptr);  // cancelled
  EXPECT_EQ(depth(), 0);
  platform::set_file_dialog_handler(nullptr);
  crt::free(last_dialog_folder);
  last_dialog_folder = saved_folder;

  ASSERT_EQ(dialogs_seen.size(), 2u);
  EXPECT_EQ(dialogs_seen[0].kind, platform::FileDialogKind::Open);
  EXPECT_EQ(dialogs_seen[0].filter, u"Text|*.txt");
  EXPECT_FALSE(dialogs_seen[0].folder_given);
  EXPECT_EQ(dialogs_seen[1].kind, platform::FileDialogKind::Save);
  EXPECT_EQ(dialogs_seen[1].filter, u"All|*.*");
  EXPECT_EQ(dialogs_seen[1].folder, u"\\Temp");
}

}  // namespace
