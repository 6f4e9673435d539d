// The run-time error reporter: report texts, ERROR% inside TRY, the log line, the error box
// (OK, Cancel, warnings, switched off), parked script handlers and the debugger's wait.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/opcodes.h"
#include "foundation/compile_messages.h"
#include "foundation/runtime_memory.h"
#include "variable_fixture.h"
#include "platform/platform.h"

namespace {

// The words a GUI keeps for one form and one of its controls.
struct FakeGuiRecord {
  void* form_procedure = nullptr;
  void* form_parked = nullptr;
  void* control_procedure = nullptr;
  void* control_parked = nullptr;
};
FakeGuiRecord gui_records[4];

void visit_fake_gui(FormRecord* form, void (*visit)(void** procedure, void** parked)) {
  FakeGuiRecord& record = gui_records[platform::address_of(form->class_block)];
  visit(&record.form_procedure, &record.form_parked);
  visit(&record.control_procedure, &record.control_parked);
}

// Where the source place hook reads from.
struct SourcePlace {
  const char* file;
  int32_t line;
  int32_t position;
} source_place;

void fake_source(const InstructionNode*, const char** file, int32_t* line, int32_t* position) {
  *file = source_place.file;
  *line = source_place.line;
  *position = source_place.position;
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

class RuntimeErrorTest : public VariableTest {
 protected:
  void SetUp() override {
    VariableTest::SetUp();
    std::string pattern = (std::filesystem::temp_directory_path() / "zrk-runtime-error-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern + "/";
    program_folder = crt::_strdup(folder.c_str());
    crt::free(log_file_name);
    log_file_name = nullptr;
    log_enabled = 1;
    setenv("ZRK_MSGBOX_LOG", (folder + "boxes.txt").c_str(), 1);
    unsetenv("ZRK_MSGBOX_ANSWER");
    opcode_names_fill();
    context->name = crt::_strdup("demo");
    instruction.opcode = 25;  // CALL
    current_procedure_name = "MAIN";
    source_place = {"C:\\games\\demo\\main.zrk", 12, 5};
    runtime_error_services = {};
    runtime_error_services.instruction_source = fake_source;
    try_depth = 0;
    stop_flag = 0;
    debugger_enabled = 0;
    error_box_enabled = 1;
    compile_error_count = compile_warning_count = 0;
    compiler_output_stream = nullptr;
    for (FakeGuiRecord& record : gui_records) record = {};
  }
  void TearDown() override {
    platform::set_message_box_handler(nullptr);
    unsetenv("ZRK_MSGBOX_LOG");
    unsetenv("ZRK_MSGBOX_ANSWER");
    runtime_error_services = {};
    try_depth = 0;
    stop_flag = 0;
    debugger_enabled = 0;
    error_box_enabled = 1;
    current_procedure_name = nullptr;
    crt::free(compile_error_text);
    compile_error_text = nullptr;
    compile_error_count = compile_warning_count = 0;
    opcode_names_free();
    crt::free(log_file_name);
    log_file_name = nullptr;
    crt::free(program_folder);
    program_folder = nullptr;
    std::filesystem::remove_all(folder);
    VariableTest::TearDown();
  }
  // ERROR% as the script reads it; "<missing>" when it was never set.
  std::string error_variable() {
    Variable* variable = find_variable("ERROR%");
    if (!variable || !variable->data) return "<missing>";
    const char* text = static_cast<const char*>(variable->data);
    EXPECT_EQ(alloc_block_size(variable->data), std::strlen(text) + 1) << "ERROR% keeps its zero";
    return text;
  }
  std::string boxes() { return read_file(folder + "boxes.txt"); }
  std::string log() { return read_file(folder + "debuglog.txt"); }
  // The address part of a report: the instruction's address as eight hex digits.
  std::string address() {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", platform::address_of(&instruction));
    return text;
  }
  std::string folder;
};

TEST_F(RuntimeErrorTest, InsideTryTheReportGoesToErrorVariableAndNothingStops) {
  struct Row {
    const char* name;
    const char* file;  // source file of the instruction; null: none
    int32_t line;
    int32_t position;  // the whole position word; its low half is the character
    uint32_t opcode;
    const char* expected;  // ADDR stands for the instruction's address
  } rows[] = {
      {"backslash path", "C:\\games\\demo\\main.zrk", 12, 0x30005, 25,
       "App: demo\nFile:main.zrk\nProc: MAIN\nOpcode: CALL\nChar/Line/Offset: 5, 12, 0xADDR\n\nBad thing"},
      {"slash path, unnamed opcode", "/cards/inc.zrk", 3, 40, 199,
       "App: demo\nFile:inc.zrk\nProc: MAIN\nOpcode: <none>\nChar/Line/Offset: 40, 3, 0xADDR\n\nBad thing"},
      {"no source file", nullptr, 7, 2, 4,
       "App: demo\nProc: MAIN\nOpcode: PUSHINT\nChar/Line/Offset: 2, 7, 0xADDR\n\nBad thing"},
  };
  try_depth = 1;
  for (const Row& row : rows) {
    source_place = {row.file, row.line, row.position};
    instruction.opcode = row.opcode;
    unsigned before = runtime_error_count();
    runtime_error("Bad thing", false);
    std::string expected = std::regex_replace(row.expected, std::regex("ADDR"), address());
    EXPECT_EQ(error_variable(), expected) << row.name;
    EXPECT_EQ(stop_flag, 0) << row.name;
    EXPECT_EQ(runtime_error_count(), before + 1) << row.name;
  }
  EXPECT_EQ(boxes(), "") << "nothing is shown inside TRY";
  EXPECT_EQ(log(), "") << "nothing is logged inside TRY";
}

TEST_F(RuntimeErrorTest, NothingCurrentGivesPlaceholders) {
  try_depth = 2;
  current_instruction = nullptr;
  current_procedure_name = nullptr;
  current_program = nullptr;
  runtime_error("Lost", false);
  current_program = context;
  EXPECT_EQ(error_variable(), "App: <none>\nProc: <none>\nOpcode: <none>\nChar/Line/Offset: 0, 0, 0x00000000\n\nLost");
  // Outside TRY the log line has no place either.
  try_depth = 0;
  current_program = nullptr;
  runtime_error("Lost\nagain", true);
  current_program = context;
  EXPECT_NE(log().find(" : ** runtime error ** (<none>) Lost again\n\n"), std::string::npos) << log();
}

TEST_F(RuntimeErrorTest, OutsideTryTheBoxShowsTheReportAndFaultsStop) {
  struct Row {
    const char* answer;  // ZRK_MSGBOX_ANSWER
    bool warning;
    uint8_t stops;
  } rows[] = {{"OK", false, 1}, {"OK", true, 0}, {nullptr, true, 0}};
  std::string report = "App: demo\\nFile:main.zrk\\nProc: MAIN\\nOpcode: CALL\\nChar/Line/Offset: 5, 12, 0x" +
                       address() + "\\n\\nFirst line\\nsecond line";
  std::string expected_boxes;
  for (const Row& row : rows) {
    std::string name = std::string(row.answer ? row.answer : "unset") + (row.warning ? " warning" : " fault");
    if (row.answer) setenv("ZRK_MSGBOX_ANSWER", row.answer, 1);
    else unsetenv("ZRK_MSGBOX_ANSWER");
    stop_flag = 0;
    runtime_error("First line\nsecond line", row.warning);
    expected_boxes += "ZRK Runtime Error\t" + report + "\n";
    EXPECT_EQ(boxes(), expected_boxes) << name;
    EXPECT_EQ(stop_flag, row.stops) << name;
    EXPECT_EQ(current_program, context) << name;
  }
  EXPECT_EQ(error_variable(), "<missing>") << "the box path leaves ERROR% alone";
  // Header lines, then one dated line per report, each followed by the log form's own
  // line break.
  std::vector<std::string> lines;
  std::istringstream text(log());
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u + 2 * std::size(rows)) << log();
  for (size_t row = 0; row < std::size(rows); ++row) {
    const std::string& line = lines[2 + 2 * row];
    EXPECT_TRUE(std::regex_match(
        line, std::regex(R"(\d{1,2}/\d{1,2}/\d{4} \d\d:\d\d:\d\d [AP]M : \*\* runtime error \*\* )"
                         R"(\(main\.zrk\) First line second line \(12,5\))")))
        << line;
    EXPECT_EQ(lines[3 + 2 * row], "");
  }
}

TEST_F(RuntimeErrorTest, BoxOffAppendsTheCompileShortFormAndStops) {
  error_box_enabled = 0;
  report_compile_message("main.zrk", "Earlier", nullptr, -1, false);
  runtime_error("No file", false);
  EXPECT_EQ(error_variable(), "error: (main.zrk) [Earlier]\nerror:  [No file]\n");
  EXPECT_EQ(stop_flag, 1);
  EXPECT_EQ(boxes(), "");
  EXPECT_NE(log().find("** runtime error ** (main.zrk) No file (12,5)"), std::string::npos);
}

// A script thread that reports a fault; it returns 7 only if it goes on afterwards.
int shutdowns = 0;
int display_shuts = 0;
bool display_open = false;
DWORD failing_thread(LPVOID) {
  runtime_error("Fatal", false);
  return 7;
}

TEST_F(RuntimeErrorTest, CancelEndsTheRunAndTheThread) {
  runtime_error_services.runtime_shutdown = [] { ++shutdowns; };
  runtime_error_services.game_display_open = [] { return display_open; };
  runtime_error_services.shut_game_display = [] { ++display_shuts; };
  struct Row {
    const char* answer;
    bool display;
    DWORD exit_code;
    int shutdowns;
    int display_shuts;
  } rows[] = {{"CANCEL", true, 0, 1, 1}, {"Cancel", false, 0, 1, 0}, {"OK", true, 7, 0, 0}};
  for (const Row& row : rows) {
    std::string name = std::string(row.answer) + (row.display ? " with display" : "");
    setenv("ZRK_MSGBOX_ANSWER", row.answer, 1);
    display_open = row.display;
    shutdowns = display_shuts = 0;
    HANDLE thread = CreateThread(nullptr, 0, failing_thread, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0) << name;
    DWORD code = 99;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    CloseHandle(thread);
    EXPECT_EQ(code, row.exit_code) << name;
    EXPECT_EQ(shutdowns, row.shutdowns) << name;
    EXPECT_EQ(display_shuts, row.display_shuts) << name;
  }
  std::string shown = boxes();
  size_t count = 0;
  for (size_t at = 0; (at = shown.find("ZRK Runtime Error\t", at)) != std::string::npos; ++at) ++count;
  EXPECT_EQ(count, std::size(rows)) << "each thread's report was shown first";
}

// What the handlers looked like while each box was open.
std::vector<FakeGuiRecord> seen_while_open;
int box_answer_depth = 0;
int nesting_box(HWND, LPCWSTR, LPCWSTR, UINT) {
  seen_while_open.push_back(gui_records[0]);
  seen_while_open.push_back(gui_records[1]);
  current_program = nullptr;  // code run by the box's loop may change it
  if (box_answer_depth++ == 0) {
    runtime_error("Second", true);  // a second error while the first box is open
    seen_while_open.push_back(gui_records[0]);  // the first box is still open
    gui_records[1].form_procedure = &box_answer_depth;  // a handler bound anew meanwhile
  }
  return IDOK;
}

TEST_F(RuntimeErrorTest, ScriptHandlersAreParkedWhileBoxesAreOpen) {
  runtime_error_services.visit_script_handlers = visit_fake_gui;
  ProgramContext* other = create_program_context();
  ASSERT_NE(other, nullptr);
  ASSERT_NE(context_add_form(context, platform::pointer_from<void>(0x100), 0, 0, 0), nullptr);
  ASSERT_NE(context_add_form(other, platform::pointer_from<void>(0x200), 1, 0, 0), nullptr);
  int handlers[3];
  gui_records[0] = {&handlers[0], nullptr, &handlers[1], nullptr};
  gui_records[1] = {&handlers[2], nullptr, nullptr, nullptr};
  seen_while_open.clear();
  box_answer_depth = 0;
  platform::set_message_box_handler(nesting_box);

  runtime_error("First", false);

  ASSERT_EQ(seen_while_open.size(), 5u) << "two boxes, two forms each, and the first box after the second";
  for (size_t index = 0; index < seen_while_open.size(); ++index) {
    const FakeGuiRecord& seen = seen_while_open[index];
    EXPECT_EQ(seen.form_procedure, nullptr) << "box view " << index;
    EXPECT_EQ(seen.control_procedure, nullptr) << "box view " << index;
  }
  EXPECT_EQ(seen_while_open[0].form_parked, &handlers[0]);
  EXPECT_EQ(seen_while_open[2].form_parked, &handlers[0]) << "the nested box keeps what was parked";
  EXPECT_EQ(seen_while_open[3].form_parked, &handlers[2]) << "the nested box keeps what was parked";
  EXPECT_EQ(gui_records[0].form_procedure, &handlers[0]);
  EXPECT_EQ(gui_records[0].control_procedure, &handlers[1]);
  EXPECT_EQ(gui_records[1].form_procedure, &box_answer_depth) << "a handler bound meanwhile stays";
  for (const FakeGuiRecord& record : {gui_records[0], gui_records[1]}) {
    EXPECT_EQ(record.form_parked, nullptr);
    EXPECT_EQ(record.control_parked, nullptr);
  }
  EXPECT_EQ(current_program, context) << "the program is the one before the box";
  EXPECT_EQ(stop_flag, 1);
  program_context_release(other);
}

// The debugger link as the reporter sees it.
struct DebuggerLog {
  std::vector<std::string> values;
  std::vector<std::string> polled_files;
  std::vector<int32_t> polled_lines;
  bool key = false;
  int resume_after = 3;
} debugger;

TEST_F(RuntimeErrorTest, OkUnderTheDebuggerWaitsUntilItResumes) {
  debugger_enabled = 1;
  runtime_error_services.debugger_key_exists = [](const char* key) {
    EXPECT_STREQ(key, "ZRKDEBUGGER");
    return debugger.key;
  };
  runtime_error_services.debugger_set_value = [](const char* name, const char* text) {
    debugger.values.push_back(std::string(name) + "=" + text);
  };
  runtime_error_services.debugger_poll_commands = [](const char* file, int32_t line, uint32_t, bool query_only) {
    EXPECT_FALSE(query_only);
    debugger.polled_files.push_back(file);
    debugger.polled_lines.push_back(line);
    return static_cast<int>(debugger.polled_files.size()) >= debugger.resume_after;
  };
  std::ofstream(folder + "Prog.ZRK") << "x";
  std::string existing = folder + "Prog.ZRK";
  struct Row {
    const char* name;
    bool key;
    const char* file;
    const char* value;  // empty: nothing written, no wait
  } rows[] = {
      {"missing file keeps the whole name", true, "C:\\Games\\Main.ZRK", "RUNTIME=\nBREAK\nc:\\games\\main.zrk\n12"},
      {"existing file sends its last part", true, existing.c_str(), "RUNTIME=\nBREAK\nprog.zrk\n12"},
      {"no source file", true, nullptr, "RUNTIME=\nBREAK\n<null>\n12"},
      {"no debugger key: no wait", false, "main.zrk", ""},
  };
  for (const Row& row : rows) {
    debugger = {};
    debugger.key = row.key;
    source_place = {row.file, 12, 1};
    runtime_error("Stop here", false);
    if (*row.value == '\0') {
      EXPECT_TRUE(debugger.values.empty()) << row.name;
      EXPECT_TRUE(debugger.polled_files.empty()) << row.name;
      continue;
    }
    ASSERT_EQ(debugger.values.size(), 1u) << row.name;
    EXPECT_EQ(debugger.values[0], row.value) << row.name;
    ASSERT_EQ(debugger.polled_files.size(), 3u) << row.name << ": polled until it says go on";
    std::string sent = debugger.values[0].substr(std::string("RUNTIME=\nBREAK\n").size());
    EXPECT_EQ(debugger.polled_files[0] + "\n12", sent) << row.name;
    EXPECT_EQ(debugger.polled_lines[2], 12) << row.name;
  }
  // Without a current instruction there is no place to stop at.
  debugger = {};
  debugger.key = true;
  current_instruction = nullptr;
  runtime_error("Nowhere", false);
  EXPECT_TRUE(debugger.values.empty());
  EXPECT_TRUE(debugger.polled_files.empty());
}

TEST_F(RuntimeErrorTest, FormattedMessagesUseTheDeviceFormatting) {
  try_depth = 1;
  runtime_error_format(false, "Value %I64d of %s", 12345678901LL, "NAME$");
  EXPECT_STREQ(runtime_error_last_text(), "Value 12345678901 of NAME$");
  // Longer than the first buffer the formatting tries.
  std::string long_name(600, 'x');
  runtime_error_format(true, "Name %s is too long", long_name.c_str());
  std::string report = error_variable();
  EXPECT_EQ(report.substr(report.find("\n\n") + 2), "Name " + long_name + " is too long");
}

TEST_F(RuntimeErrorTest, UndeclaredMembersAreWarningsUndeclaredNamesErrors) {
  try_depth = 0;
  struct Row {
    const char* name;
    bool explicit_declarations;
    bool prefix_exists;
    const char* message;
    uint8_t stops;
  } rows[] = {
      {"POINT.X%", false, false, "Variable POINT% has not been defined!", 0},
      {"SHAPE.Y%", false, true, "Variable Y% has not been defined in struct or in object class SHAPE%!", 0},
      {"PLAIN%", true, false, "Variable PLAIN% has not been defined!", 1},
  };
  for (const Row& row : rows) {
    context->explicit_declarations = row.explicit_declarations;
    if (row.prefix_exists) make(locals, "SHAPE%");
    stop_flag = 0;
    unsigned before = runtime_error_count();
    get_variable(locals, row.name);
    EXPECT_EQ(runtime_error_count(), before + 1) << row.name;
    EXPECT_STREQ(runtime_error_last_text(), row.message) << row.name;
    EXPECT_EQ(stop_flag, row.stops) << row.name;
  }
  context->explicit_declarations = 0;
}

}  // namespace
