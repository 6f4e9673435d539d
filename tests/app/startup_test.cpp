// Start-up: the command line and its switches, the predefined globals, the appended
// program's marker, and the breakpoints handed over in the debugger's value.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "compiler/asm/assembler.h"
#include "compiler/codegen/code_generator.h"
#include "compiler/driver/compile_and_run.h"
#include "compiler/frontend/analyzer.h"
#include "compiler/frontend/statement_compiler.h"
#include "foundation/list_elements.h"
#include "foundation/file_helpers.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/variables.h"
#include "platform/platform.h"
#include "vm/breakpoints.h"
#include "vm/debugger_link.h"
#include "vm/debugger_values.h"
#include "app/startup.h"

using namespace std::string_literals;

namespace {

// Every flag a switch may set, by a short name, with its value at rest.
struct Flag {
  const char* name;
  int32_t (*read)();
  int32_t at_rest;
};
const Flag kFlags[] = {
    {"profile", [] { return int32_t{profile_mode}; }, 0},
    {"asm_profile", [] { return int32_t{assembler_profiler_mode}; }, 0},
    {"asm_debug", [] { return int32_t{assembler_debugger_mode}; }, 0},
    {"memory", [] { return int32_t{memory_tracking}; }, 0},
    {"compile_only", [] { return int32_t{run_switches.compile_only}; }, 0},
    {"makeexe", [] { return int32_t{run_switches.makeexe_mode}; }, 0},
    {"debug", [] { return int32_t{debug_mode}; }, 0},
    {"debugger", [] { return int32_t{debugger_enabled}; }, 0},
    {"quiet", [] { return static_cast<int32_t>(run_switches.quiet_mode); }, 0},
    {"recompile", [] { return int32_t{run_switches.recompile}; }, 0},
    {"range", [] { return int32_t{run_switches.default_range_check}; }, 0},
    {"warnings", [] { return int32_t{run_switches.warnings}; }, 0},
    {"warn_globals", [] { return int32_t{warn_globals}; }, 0},
    {"explicit", [] { return int32_t{run_switches.default_explicit}; }, 0},
    {"word_list", [] { return int32_t{run_switches.word_list_mode}; }, 0},
    {"link", [] { return run_switches.link_level; }, 1},
    {"optimize", [] { return int32_t{optimize}; }, 1},
    {"desktop", [] { return int32_t{run_switches.target_desktop}; }, 0},
    {"no_error_script", [] { return int32_t{run_switches.no_error_script}; }, 0},
};

void reset_switches() {
  free_switch_texts();
  run_switches = RunSwitches{};
  run_switches.error_display = run_switches.status_window = 1;
  run_switches.link_level = 1;
  profile_mode = memory_tracking = debug_mode = debugger_enabled = warn_globals = 0;
  assembler_profiler_mode = assembler_debugger_mode = 0;
  optimize = 1;
  compile_options.link = 1;
}

std::vector<std::string> element_texts(ListElement* first) {
  std::vector<std::string> texts;
  for (ListElement* element = first; element; element = element->next) {
    texts.push_back(element->data ? static_cast<const char*>(element->data) : "<null>");
    EXPECT_EQ(element->flags & kVariableOwnsData, kVariableOwnsData);
  }
  return texts;
}

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_switches(); }
  void TearDown() override { reset_switches(); }
};

TEST_F(CommandLineTest, TokensSwitchesAndArguments) {
  struct Case {
    const char* line;
    const char* program;  // null: none
    std::vector<std::string> arguments;
    std::map<std::string, int32_t> changed;  // flags that differ from rest
    bool skip_default;
  };
  const Case cases[] = {
      {"prog.zrk|D|P",
       "prog.zrk",
       {"prog.zrk", "D", "P"},
       {{"debug", 1}, {"debugger", 1}, {"asm_debug", 1}, {"profile", 1}, {"asm_profile", 1}},
       false},
      {"my prog.zrk D P", "my prog.zrk D P", {"my prog.zrk D P"}, {}, false},
      {"", nullptr, {}, {}, false},
      {"p|Y", "p", {"p", "Y"}, {{"memory", 1}}, false},
      {"p|M", "p", {"p", "M"}, {{"compile_only", 1}, {"makeexe", 1}}, false},
      {"p|MD-x", "p", {"p", "MD-x"}, {{"compile_only", 1}, {"makeexe", 1}}, false},
      {"p|B|FZRC", "p", {"p", "B", "FZRC"}, {}, false},
      {"p|Q", "p", {"p", "Q"}, {{"quiet", 1}}, false},
      {"p|C", "p", {"p", "C"}, {{"compile_only", 1}}, false},
      {"p|RC", "p", {"p", "RC"}, {{"recompile", 1}}, false},
      {"p|ND", "p", {"p", "ND"}, {}, true},
      {"p|R", "p", {"p", "R"}, {{"range", 1}}, false},
      {"p|W", "p", {"p", "W"}, {{"warnings", 1}}, false},
      {"p|W1", "p", {"p", "W1"}, {{"warn_globals", 1}}, false},
      {"p|X", "p", {"p", "X"}, {{"explicit", 1}}, false},
      {"p|CC", "p", {"p", "CC"}, {{"word_list", 1}}, false},
      {"p|NL", "p", {"p", "NL"}, {{"link", 0}}, false},
      {"p|LM", "p", {"p", "LM"}, {{"link", 999}}, false},
      {"p|LM|L1", "p", {"p", "LM", "L1"}, {}, false},
      {"p|NO", "p", {"p", "NO"}, {{"optimize", 0}}, false},
      {"p|FPC", "p", {"p", "FPC"}, {{"desktop", 1}}, false},
      {"p|DM", "p", {"p", "DM"}, {{"no_error_script", 1}}, false},
      // Switches are compared exactly: other case, blanks or extra letters are arguments only.
      {"p|d|p |PP|nd|M-|x", "p", {"p", "d", "p ", "PP", "nd", "M-", "x"}, {{"compile_only", 1}, {"makeexe", 1}}, false},
      // The first token is the program even when it reads like a switch.
      {"D|P", "D", {"D", "P"}, {{"profile", 1}, {"asm_profile", 1}}, false},
      // Empty tokens between separators are skipped.
      {"|p||D|", "p", {"p", "D"}, {{"debug", 1}, {"debugger", 1}, {"asm_debug", 1}}, false},
  };
  for (const Case& row : cases) {
    reset_switches();
    CommandLine line = read_command_line(row.line);
    if (row.program) {
      EXPECT_STREQ(line.program_file, row.program) << row.line;
    } else {
      EXPECT_EQ(line.program_file, nullptr) << row.line;
    }
    EXPECT_EQ(element_texts(line.arguments), row.arguments) << row.line;
    EXPECT_EQ(line.skip_default_script, row.skip_default) << row.line;
    for (const Flag& flag : kFlags) {
      auto changed = row.changed.find(flag.name);
      int32_t expected = changed == row.changed.end() ? flag.at_rest : changed->second;
      EXPECT_EQ(flag.read(), expected) << row.line << ": " << flag.name;
    }
    crt::free(line.program_file);
    list_element_chain_free(line.arguments, true);
  }
}

TEST_F(CommandLineTest, TextSwitchesKeepTheirText) {
  struct Case {
    const char* line;
    const char* executable_name;
    const char* icon_file;
  };
  const Case cases[] = {
      {"p|M-out", "out", nullptr},
      {"p|M-first|M-second", "second", nullptr},
      {"p|I-\\icons\\app.ico", nullptr, "\\icons\\app.ico"},
      {"p|MD-folder|I-x", nullptr, "x"},
  };
  for (const Case& row : cases) {
    reset_switches();
    CommandLine line = read_command_line(row.line);
    auto same = [](const char* actual, const char* expected) {
      return expected ? actual && std::strcmp(actual, expected) == 0 : actual == nullptr;
    };
    EXPECT_TRUE(same(run_switches.executable_name, row.executable_name)) << row.line;
    EXPECT_TRUE(same(run_switches.icon_file, row.icon_file)) << row.line;
    crt::free(line.program_file);
    list_element_chain_free(line.arguments, true);
  }
}

// The marker as the runtime searches it; kept out of one literal here too.
std::string marker() { return std::string("ZRCDATA") + "START"; }

TEST(AppendedMarker, IsBuiltAtRunTime) { EXPECT_EQ(appended_marker(), marker()); }

TEST(AppendedMarker, FirstMarkerInTheImage) {
  struct Case {
    const char* name;
    std::string image;
    int32_t offset;
  };
  const std::string program = "compiled program bytes";
  const Case cases[] = {
      {"no marker", std::string(200, 'Z') + "executable", -1},
      {"empty image", "", -1},
      {"shorter than the marker", "ZRCDATA", -1},
      {"marker cut at the end", "runtime" + marker().substr(0, 11), -1},
      {"marker alone", marker(), 0},
      {"after the executable", "runtime\0code"s + marker() + program, 12},
      {"the first of two", "ZZ" + marker() + "x" + marker(), 2},
      {"after a near miss", "ZRCDATASTARZ" + marker(), 12},
  };
  for (const Case& row : cases) {
    EXPECT_EQ(find_appended_marker(reinterpret_cast<const uint8_t*>(row.image.data()),
                                   static_cast<uint32_t>(row.image.size())),
              row.offset)
        << row.name;
  }
  EXPECT_EQ(find_appended_marker(nullptr, 100), -1);
}

TEST(AppendedMarker, SearchStartsWhereTheExecutableEnds) {
  // This test program is an ELF executable like zrk: its image ends where the file does,
  // and bytes appended to a copy lie after that end.
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  const uint32_t length = static_cast<uint32_t>(std::filesystem::file_size(self));
  EXPECT_EQ(executable_image_end(self.c_str(), length), length);
  const std::filesystem::path copy = std::filesystem::temp_directory_path() / "zrk_image_end_test";
  std::filesystem::copy_file(self, copy, std::filesystem::copy_options::overwrite_existing);
  std::ofstream(copy, std::ios::binary | std::ios::app) << marker() << "appended program";
  EXPECT_EQ(executable_image_end(copy.c_str(), static_cast<uint32_t>(std::filesystem::file_size(copy))), length);
  // Not an executable: the whole file is searched.
  std::ofstream(copy, std::ios::binary | std::ios::trunc) << "plain text, long enough to hold an ELF header....";
  EXPECT_EQ(executable_image_end(copy.c_str(), static_cast<uint32_t>(std::filesystem::file_size(copy))), 0u);
  std::filesystem::remove(copy);
}

TEST(Breakpoints, PairsFromTheDebuggersText) {
  struct Case {
    const char* text;
    std::vector<std::pair<std::string, uint32_t>> entries;
    const char* uncounted_file;  // left in the slot after the last entry
  };
  const Case cases[] = {
      {"main.zrk|12|lib.zrk|40", {{"main.zrk", 12}, {"lib.zrk", 40}}, nullptr},
      {"\\Program Files\\Main.ZRK|7", {{"\\program files\\main.zrk", 7}}, nullptr},
      {"main.zrk|12|lib.zrk", {{"main.zrk", 12}}, "lib.zrk"},
      {"a.zrk|9.75|b.zrk|x", {{"a.zrk", 9}, {"b.zrk", 0}}, nullptr},
      {"", {}, nullptr},
  };
  for (const Case& row : cases) {
    int32_t count = breakpoints_from_text(row.text);
    ASSERT_EQ(count, static_cast<int32_t>(row.entries.size())) << row.text;
    EXPECT_EQ(breakpoint_table.count, count);
    for (size_t index = 0; index < row.entries.size(); ++index) {
      EXPECT_STREQ(breakpoint_table.entries[index].file, row.entries[index].first.c_str()) << row.text;
      EXPECT_EQ(breakpoint_table.entries[index].line, row.entries[index].second) << row.text;
      EXPECT_EQ(breakpoint_table.entries[index].flag, 0) << row.text;
    }
    if (row.uncounted_file) {
      EXPECT_STREQ(breakpoint_table.entries[count].file, row.uncounted_file) << row.text;
    } else {
      EXPECT_EQ(breakpoint_table.entries[count].file, nullptr) << row.text;
    }
  }
  breakpoints_clear();
}

TEST(Breakpoints, ListsBeyondTheTableAreCut) {
  std::string text;
  for (int pair = 0; pair < kBreakpointSlots + 200; ++pair) text += "f.zrk|" + std::to_string(pair + 1) + "|";
  EXPECT_EQ(breakpoints_from_text(text.c_str()), kBreakpointSlots);
  EXPECT_EQ(breakpoint_table.entries[kBreakpointSlots - 1].line, static_cast<uint32_t>(kBreakpointSlots));
  breakpoints_clear();
  EXPECT_EQ(breakpoint_table.count, 0);
  EXPECT_EQ(breakpoint_table.entries[0].file, nullptr);
}

// A device root of its own, so the registry the debugger writes is the test's.
class DebuggerValueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "zrk-startup-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    setenv("ZRK_ROOT", root_.c_str(), 1);
    setenv("ZRK_CLOCK", "virtual", 1);
  }
  void TearDown() override {
    breakpoints_clear();
    unsetenv("ZRK_ROOT");
    std::filesystem::remove_all(root_);
  }
  std::string root_;
};

// Started for the debugger while none is attached: the program runs as without one.
TEST_F(DebuggerValueTest, WithoutAnAttachedDebuggerTheProgramRunsOn) {
  debugger_enabled = 1;
  debugger_set_value("IDE", "main.zrk|3");
  read_debugger_breakpoints();
  EXPECT_EQ(debugger_enabled, 0);
  EXPECT_EQ(breakpoint_table.count, 0);
  debugger_break_check(0, 3, "main.zrk");  // returns: nothing to wait for
}

TEST_F(DebuggerValueTest, LongBreakpointListsArriveWhole) {
  // About 6,000 characters: far past the 1,024 a fixed buffer would take.
  std::string text;
  for (int pair = 1; pair <= 400; ++pair) text += "Module.zrk|" + std::to_string(pair) + "|";
  debugger_set_value("RUNNING", "1");
  debugger_set_value("IDE", text.c_str());
  read_debugger_breakpoints();
  ASSERT_EQ(breakpoint_table.count, 400);
  EXPECT_STREQ(breakpoint_table.entries[0].file, "module.zrk");
  EXPECT_EQ(breakpoint_table.entries[399].line, 400u);
  // The value is taken: a second read finds none.
  EXPECT_EQ(debugger_read_value(kDebuggerKey, "IDE"), nullptr);
  read_debugger_breakpoints();
  EXPECT_EQ(breakpoint_table.count, 0);
}

TEST_F(DebuggerValueTest, NoDebuggerKeyMeansNoBreakpoints) {
  breakpoints_from_text("kept.zrk|3");
  read_debugger_breakpoints();
  EXPECT_EQ(breakpoint_table.count, 1) << "without the key the table is left as it was";
  EXPECT_FALSE(debugger_key_exists(kDebuggerKey));
}

// The predefined globals are made before any program exists.
class PredefinedGlobalsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_switches();
    current_program = nullptr;
    current_scope = current_object = nullptr;
    percent_variables = nullptr;
    saved_folder_ = program_folder;
    program_folder = crt::_strdup("/opt/zrk/");
  }
  void TearDown() override {
    variable_list_release(nullptr, percent_variables, true);
    variable_list_free(nullptr, percent_variables);
    clear_predefined_references();
    crt::free(program_folder);
    program_folder = saved_folder_;
    reset_switches();
  }
  char* saved_folder_ = nullptr;
};

double number_of(const char* name) {
  Variable* variable = find_variable(name);
  EXPECT_NE(variable, nullptr) << name;
  return variable ? variable->number : -1;
}
std::string text_of(const char* name) {
  Variable* variable = find_variable(name);
  EXPECT_NE(variable, nullptr) << name;
  return variable && variable->data ? static_cast<const char*>(variable->data) : "<none>";
}

TEST_F(PredefinedGlobalsTest, ValuesOrderAndDirectReferences) {
  CommandLine line = read_command_line("prog.zrk|D|P");
  create_predefined_globals("prog.zrk|D|P", line.arguments);
  crt::free(line.program_file);

  const char* order[] = {"PLATFORM%", "HINSTANCE%", "NCMDSHOW%", "CMDLINE%", "ARGV%", "ROOT%", "VERSION%",
                         "THREAD%", "PROCESS%", "THREADID%", "PROCESSID%", "LIBPATH%", "ERROR%", "LASTERROR%",
                         "CS_DBLCLKS%", "T_COLLIDE%", "S_COLLIDE%", "BUFFER%", "DELTA%", "DELTALIMIT%",
                         "LIMITPPS%", "BITSPERPIXEL%", "FREQUENCY%", "COMERROR%", "COMERRORDESC%", "REXERROR%"};
  std::set<std::string> seen;
  std::vector<std::string> listed;
  for (Variable* variable = percent_variables; variable; variable = variable->next) {
    if (variable->name) listed.push_back(variable->name);
  }
  EXPECT_EQ(listed, std::vector<std::string>(std::begin(order), std::end(order)));

  struct Number {
    const char* name;
    double value;
  };
  const Number numbers[] = {{"PLATFORM%", 1},   {"THREAD%", 65},     {"PROCESS%", 66}, {"ERROR%", 0},
                            {"LASTERROR%", 0},  {"BITSPERPIXEL%", 16}, {"FREQUENCY%", 60}, {"DELTA%", 0},
                            {"COMERROR%", 0},   {"REXERROR%", 0}};
  for (const Number& row : numbers) EXPECT_EQ(number_of(row.name), row.value) << row.name;
  EXPECT_EQ(number_of("THREADID%"), static_cast<double>(GetCurrentThreadId()));
  EXPECT_EQ(number_of("PROCESSID%"), static_cast<double>(GetCurrentProcessId()));
  EXPECT_EQ(text_of("CMDLINE%"), "prog.zrk|D|P");
  EXPECT_EQ(text_of("ROOT%"), "/opt/zrk/");
  EXPECT_EQ(text_of("VERSION%"), runtime_version_text);

  Variable* argv = find_variable("ARGV%");
  ASSERT_NE(argv, nullptr);
  EXPECT_TRUE(argv->flags & kVariableList);
  EXPECT_EQ(element_texts(list_element_first(argv->cursor)), (std::vector<std::string>{"prog.zrk", "D", "P"}));
  Variable* library_path = find_variable("LIBPATH%");
  ASSERT_NE(library_path, nullptr);
  EXPECT_TRUE(library_path->flags & kVariableList);
  EXPECT_EQ(library_path->cursor, nullptr);

  struct Reference {
    const char* name;
    Variable* variable;
  };
  const Reference references[] = {
      {"ERROR%", error_variable},           {"LASTERROR%", last_error_variable},
      {"T_COLLIDE%", t_collide_variable},   {"S_COLLIDE%", s_collide_variable},
      {"DELTA%", delta_variable},           {"DELTALIMIT%", delta_limit_variable},
      {"LIMITPPS%", limit_pps_variable},    {"BITSPERPIXEL%", bits_per_pixel_variable},
      {"FREQUENCY%", frequency_variable},
  };
  for (const Reference& row : references) EXPECT_EQ(row.variable, find_variable(row.name)) << row.name;

  // The collision code writes 16 bytes into each: a zeroed block of that size is there.
  for (Variable* collide : {t_collide_variable, s_collide_variable}) {
    ASSERT_NE(collide, nullptr);
    ASSERT_NE(collide->data, nullptr);
    EXPECT_EQ(alloc_block_size(collide->data), 16u);
    const uint8_t zeroes[16] = {};
    EXPECT_EQ(std::memcmp(collide->data, zeroes, 16), 0);
    std::memset(collide->data, 0xAB, 16);
  }
}

TEST_F(PredefinedGlobalsTest, DesktopTargetHasPlatformZero) {
  CommandLine line = read_command_line("prog.zrk|FPC");
  create_predefined_globals("prog.zrk|FPC", line.arguments);
  crt::free(line.program_file);
  EXPECT_EQ(number_of("PLATFORM%"), 0);
}

TEST_F(PredefinedGlobalsTest, EmptyCommandLineGivesAnEmptyArgumentList) {
  CommandLine line = read_command_line("");
  create_predefined_globals("", line.arguments);
  Variable* argv = find_variable("ARGV%");
  ASSERT_NE(argv, nullptr);
  EXPECT_TRUE(argv->flags & kVariableList);
  EXPECT_EQ(argv->cursor, nullptr);
  EXPECT_EQ(text_of("CMDLINE%"), "");
}

}  // namespace
