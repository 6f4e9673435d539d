// The compile message reporter's formats, counts and limits, the dated log and the
// resolution of program names to files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>
#include <string>

#include "foundation/code_list.h"
#include "foundation/compile_messages.h"
#include "foundation/runtime_memory.h"
#include "variable_fixture.h"
#include "platform/kernel/memory.h"

namespace {

class CompileMessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    output = std::tmpfile();
    compiler_output_stream = output;
    compiler_output_enabled = 1;
    warnings_enabled = 1;
    compile_error_count = compile_warning_count = 0;
    crt::free(compile_error_text);
    compile_error_text = nullptr;
    connected_hook = set_error_variable_text;
    set_error_variable_text = [](const char* text, uint32_t size) { stored = std::string(text, size); };
    stored.clear();
  }
  void TearDown() override {
    set_error_variable_text = connected_hook;
    compiler_output_stream = nullptr;
    std::fclose(output);
    crt::free(compile_error_text);
    compile_error_text = nullptr;
    compile_error_count = compile_warning_count = 0;
  }
  std::string console() {
    std::fflush(output);
    std::rewind(output);
    std::string text;
    char block[4096];
    size_t count;
    while ((count = std::fread(block, 1, sizeof block, output)) > 0) text.append(block, count);
    return text;
  }
  FILE* output = nullptr;
  void (*connected_hook)(const char*, uint32_t) = nullptr;
  static std::string stored;
};
std::string CompileMessagesTest::stored;

TEST_F(CompileMessagesTest, FormatsByWhatIsKnown) {
  CodeListNode marker = {const_cast<char*>("__DEBUG"), 0, nullptr, 9, 1, nullptr, nullptr};
  CodeListNode line = {const_cast<char*>("7"), 0, nullptr, 9, 2, nullptr, &marker};
  CodeListNode word = {const_cast<char*>("X"), 0, const_cast<char*>("inc.zrk"), 9, 5, nullptr, &line};
  marker.next = &line;
  line.next = &word;
  struct Row {
    const char* source;
    const CodeListNode* node;
    int32_t position;
    bool warning;
    const char* long_form;  // empty for warnings
    const char* console;
  } rows[] = {
      {"main.zrk", &word, -1, false, "error: (inc.zrk) [Bad at 'X' (9,5)]\n", "** error ** (inc.zrk) Bad at 'X' (9,5)\n"},
      {"main.zrk", &marker, -1, false, "error: (main.zrk) [Bad at 'X' (9,5)]\n", "** error ** (main.zrk) Bad at 'X' (9,5)\n"},
      {"main.zrk", nullptr, 12, false, "error: (main.zrk) [Bad at character position 12]\n",
       "** error ** (main.zrk) Bad at character position 12\n"},
      {nullptr, nullptr, -1, false, "error:  [Bad]\n", "** error **  Bad\n"},
      {"main.zrk", nullptr, -1, true, "", "** warning ** (main.zrk) Bad\n"},
  };
  std::string expected_text;
  std::string expected_console;
  for (const Row& row : rows) {
    report_compile_message(row.source, "Bad", row.node, row.position, row.warning);
    expected_text += row.long_form;
    expected_console += row.console;
  }
  EXPECT_EQ(compile_error_text, expected_text);
  // The variable gets the whole allocated text, its zero included.
  EXPECT_EQ(stored, expected_text + std::string(1, '\0'));
  EXPECT_EQ(console(), expected_console);
  EXPECT_EQ(compile_error_count, 4);
  EXPECT_EQ(compile_warning_count, 1);
}

TEST_F(CompileMessagesTest, LimitsAndTheTooManyNotice) {
  for (bool warning : {false, true}) {
    for (int count = 1; count <= 260; ++count) report_compile_message(nullptr, "M", nullptr, -1, warning);
  }
  std::string text = console();
  const std::string error_line = "** error **  M\n";
  const std::string warning_line = "** warning **  M\n";
  size_t errors = 0;
  size_t warnings = 0;
  for (size_t at = 0; (at = text.find(error_line, at)) != std::string::npos; at += error_line.size()) ++errors;
  for (size_t at = 0; (at = text.find(warning_line, at)) != std::string::npos; at += warning_line.size()) ++warnings;
  EXPECT_EQ(errors, 257u);
  EXPECT_EQ(warnings, 257u);
  EXPECT_NE(text.find(error_line + "Too many errors!\n" + warning_line), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - warning_line.size() - 19), warning_line + "Too many warnings!\n");
  EXPECT_EQ(compile_error_count, 257);
  EXPECT_EQ(compile_warning_count, 257);
  EXPECT_EQ(std::string(compile_error_text).size(), 257u * std::string("error:  [M]\n").size());
}

TEST_F(CompileMessagesTest, WarningsSwitchedOffAndNoOutput) {
  warnings_enabled = 0;
  report_compile_message("a.zrk", "W", nullptr, -1, true);
  EXPECT_EQ(compile_warning_count, 0);
  compiler_output_enabled = 0;
  report_compile_message("a.zrk", "E", nullptr, -1, false);
  EXPECT_EQ(compile_error_count, 1);
  compiler_output_pending_newline = 1;
  write_compiler_output("after");
  EXPECT_EQ(console(), "\nafter");
}

// Without a stand-in the errors reach the script variable ERROR%, made on first use.
class ErrorVariableTest : public VariableTest {
 protected:
  void TearDown() override {
    crt::free(compile_error_text);
    compile_error_text = nullptr;
    compile_error_count = compile_warning_count = 0;
    VariableTest::TearDown();
  }
};

TEST_F(ErrorVariableTest, ErrorsReachErrorVariable) {
  compiler_output_stream = nullptr;
  compile_error_count = compile_warning_count = 0;
  crt::free(compile_error_text);
  compile_error_text = nullptr;
  const char* expected[] = {"error: (a.zrk) [One]\n", "error: (a.zrk) [One]\nerror:  [Two]\n"};
  report_compile_message("a.zrk", "One", nullptr, -1, false);
  Variable* variable = find_variable("ERROR%");
  ASSERT_NE(variable, nullptr);
  EXPECT_STREQ(static_cast<const char*>(variable->data), expected[0]);
  report_compile_message("a.zrk", "Only a warning", nullptr, -1, true);
  report_compile_message(nullptr, "Two", nullptr, -1, false);
  EXPECT_EQ(find_variable("ERROR%"), variable) << "one variable, written again";
  EXPECT_STREQ(static_cast<const char*>(variable->data), expected[1]);
  EXPECT_EQ(alloc_block_size(variable->data), std::strlen(expected[1]) + 1);
}

class FolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "zrk-messages-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern + "/";
  }
  void TearDown() override { std::filesystem::remove_all(folder); }
  void touch(const std::string& name) { std::ofstream(folder + name) << "x"; }
  std::string folder;
};

TEST_F(FolderTest, ResolveProgramFile) {
  struct Row {
    const char* present;  // files that exist, space-separated
    const char* asked;
    const char* result;
  } rows[] = {{"game.zrc", "game.txt", "game.zrc"},  {"game.txt game.zrc", "game.txt", "game.txt"},
              {"game.zrk game.zrc", "game", "game.zrk"}, {"", "game.txt", "game.txt"},
              {"a.zrk", "a.b.c", "a.zrk"}};
  for (const Row& row : rows) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::istringstream names(row.present);
    for (std::string name; names >> name;) touch(name);
    char* result = resolve_program_file(crt::_strdup((folder + row.asked).c_str()));
    EXPECT_EQ(result, folder + row.result) << row.present << " / " << row.asked;
    crt::free(result);
  }
  struct Name {
    const char* name;
    int compiled;
  } names[] = {{"x.zrc", 1}, {"X.ZRC", 1}, {"x.zrk", 0}, {"zrc", 0}, {".zrc", 1}, {"", 0}};
  for (const Name& name : names) EXPECT_EQ(is_compiled_file_name(name.name), name.compiled) << name.name;
}

TEST_F(FolderTest, LogLinesSurviveADeletedLog) {
  program_folder = crt::_strdup(folder.c_str());
  log_enabled = 1;
  log_line("first");
  std::filesystem::remove(folder + "debuglog.txt");
  log_line("second");
  std::ifstream log(folder + "debuglog.txt");
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find(" : Generated by the ZRK interpreter v."), std::string::npos);
  EXPECT_NE(lines[1].find(" : Root " + folder), std::string::npos);
  // "M/d/yyyy hh:mm:ss AM : second"
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\d{1,2}/\d{1,2}/\d{4} \d\d:\d\d:\d\d [AP]M : second)")))
      << lines[2];
  crt::free(program_folder);
  program_folder = nullptr;
  crt::free(log_file_name);
  log_file_name = nullptr;
}

TEST_F(FolderTest, ALogThatCannotBeWrittenLosesTheLine) {
  program_folder = crt::_strdup((folder + "missing/").c_str());
  log_line("lost");  // must return, not recurse
  EXPECT_FALSE(std::filesystem::exists(folder + "missing"));
  log_enabled = 0;
  crt::free(program_folder);
  program_folder = crt::_strdup(folder.c_str());
  log_line("off");
  EXPECT_FALSE(std::filesystem::exists(folder + "debuglog.txt"));
  log_enabled = 1;
  crt::free(program_folder);
  program_folder = nullptr;
  crt::free(log_file_name);
  log_file_name = nullptr;
}

}  // namespace
