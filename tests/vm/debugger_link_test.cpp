// The debugger link against an outside debugger process: stop notices at breakpoints and
// steps, views of locals, globals and the program, breakpoints toggled and run to, and a
// debugger that goes away ending the program's thread.
#include "vm/builtin_registry.h"
#include "vm/builtin_table.h"
#include "vm/debugger_link.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "compiler/debug/breakpoints.h"
#include "foundation/runtime_error.h"
#include "machine_fixture.h"
#include "platform/platform.h"

namespace {

// Line markers carry their line in the operand; every one is in main.zrk.
void marker_source(const InstructionNode* node, const char** file, int32_t* line, int32_t* position) {
  *file = "main.zrk";
  *line = static_cast<int32_t>(node->operand);
  *position = 0;
}

void op_trace_line() { trace.push_back(static_cast<int>(current_instruction->previous->operand)); }

void op_make_locals() {
  Variable* text = create_variable(current_scope, "NOTE$", false);
  set_variable(text, const_cast<char*>("one\r\ntwo"), 0, nullptr, 9);
  Variable* number = create_variable(current_scope, "N$", false);
  set_variable(number, nullptr, 5, nullptr, -1);
}

InstructionNode* running_procedure = nullptr;
ProgramContext* running_program = nullptr;

DWORD run_program(LPVOID) {
  call_program = running_program;
  call_procedure = running_procedure;
  vm_call_procedure();
  return 7;
}

class DebuggerLink : public VariableMachineTest {
 protected:
  void SetUp() override {
    root = std::string(ZRK_TEST_BINARY_DIR) + "/debugger_root_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(root);
    setenv("ZRK_ROOT", root.c_str(), 1);
    VariableMachineTest::SetUp();
    saved_services = runtime_error_services;
    runtime_error_services.instruction_source = marker_source;
    debugger_link_install();
    breakpoints_clear();
    step_mode = 0;
    last_break_line = 0;
    make_variable(context->globals, "TITLE$", "demo");
    debugger_set_value("RUNNING", "1");
  }
  void TearDown() override {
    breakpoints_clear();
    runtime_error_services = saved_services;
    VariableMachineTest::TearDown();
  }

  // Lines 10, 11, 12, 12, 13, 14, 15, each a marker followed by a trace of its line.
  void build(Chain& chain) {
    running_procedure = chain.procedure("PROCMAIN");
    chain.add(op_make_locals);
    for (int line : {10, 11, 12, 12, 13, 14, 15}) {
      Chain::jump_to(chain.add(builtin_debug_marker, line), nullptr);
      chain.add(op_trace_line);
    }
    chain.add(op_end);
    running_program = context;
  }

  // Runs the program on a thread of its own while the debugger plays session; the
  // debugger's transcript with addresses written as 0xADDR.
  std::string debug(const std::string& session, DWORD* exit_code) {
    std::string session_file = root + "/session.txt";
    std::ofstream(session_file) << session;
    HANDLE thread = CreateThread(nullptr, 0, run_program, nullptr, 0, nullptr);
    std::string command = std::string(ZRK_TEST_DEBUGGER) + " " + session_file;
    std::string transcript;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      while (std::fgets(buffer, sizeof buffer, pipe)) transcript += buffer;
      pclose(pipe);
    }
    EXPECT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
    GetExitCodeThread(thread, exit_code);
    CloseHandle(thread);
    return std::regex_replace(transcript, std::regex("0x[0-9A-F]{8}"), "0xADDR");
  }

  std::string root;
  RuntimeErrorServices saved_services{};
};

InstructionNode* stepped_callee = nullptr;
void op_call_stepped_callee() {
  call_program = current_program;
  call_procedure = stepped_callee;
  vm_call_procedure();
}

// STEPOVER on a line that calls a procedure stops at the next line of the caller, not
// inside the callee; STEPINTO stops inside it.
TEST_F(DebuggerLink, StepOverRunsTheCallsOfTheLine) {
  struct Row {
    const char* command;
    const char* second_stop;
  } rows[] = {{"STEPOVER", "11"}, {"STEPINTO", "20"}};
  for (const Row& row : rows) {
    Chain chain;
    running_procedure = chain.procedure("PROCMAIN");
    Chain::jump_to(chain.add(builtin_debug_marker, 10), nullptr);
    chain.add(op_call_stepped_callee);
    Chain::jump_to(chain.add(builtin_debug_marker, 11), nullptr);
    chain.add(op_end);
    stepped_callee = chain.procedure("PROCSUB");
    Chain::jump_to(chain.add(builtin_debug_marker, 20), nullptr);
    chain.add(op_end);
    running_program = context;
    breakpoints_clear();
    breakpoint_toggle("main.zrk", 10, 0);
    step_mode = 0;
    last_break_line = 0;
    debugger_set_value("RUNNING", "1");
    DWORD exit_code = 0;
    std::string transcript =
        debug(std::string("expect\nsend ") + row.command + "\nexpect\nsend RUN\n", &exit_code);
    EXPECT_EQ(transcript, std::string("\\nBREAK\\nmain.zrk\\n10\n\\nBREAK\\nmain.zrk\\n") + row.second_stop + "\n")
        << row.command;
    EXPECT_EQ(exit_code, 7u) << row.command;
  }
}

// TRACE compiles and runs each expression where the program stopped and reports its
// value; one that does not compile is left out.
TEST_F(DebuggerLink, TraceReportsTheValuesOfExpressions) {
  register_all_builtins();
  Chain chain;
  build(chain);
  breakpoint_toggle("main.zrk", 10, 0);
  DWORD exit_code = 0;
  std::string transcript = debug("expect\nsend TRACE|N$ * 2|TITLE$ % \"!\"|)(\nexpect\nsend RUN\n", &exit_code);
  EXPECT_EQ(transcript, "\\nBREAK\\nmain.zrk\\n10\n\\nVAR%\\n2\\nN$ * 2|10\\nTITLE$ % \"!\"|0xADDR:\"demo!\"\n");
  EXPECT_EQ(exit_code, 7u);
  EXPECT_EQ(trace, (std::vector<int>{10, 11, 12, 12, 13, 14, 15}));
  builtin_registry_clear();
}

TEST_F(DebuggerLink, ADebuggerStepsRunsAndViewsThroughTheRegistry) {
  Chain chain;
  build(chain);
  breakpoint_toggle("main.zrk", 10, 0);  // handed over at start
  DWORD exit_code = 0;
  std::string transcript = debug(
      "expect\n"
      "send BREAK|main.zrk|13|LOCAL\n"
      "expect\n"
      "send STEPOVER\n"
      "expect\n"
      "send STEPINTO\n"
      "expect\n"
      "send APPGLOBAL|BREAK|main.zrk|14|BREAK|main.zrk|14\n"
      "expect\n"
      "send RUN\n"
      "expect\n"
      "send RUNTO|main.zrk|15\n"
      "expect\n"
      "send RUN\n",
      &exit_code);
  EXPECT_EQ(transcript,
            "\\nBREAK\\nmain.zrk\\n10\n"
            // Texts the variable owns are marked C.
            "\\nVAR%\\n2\\nNOTE$ (C)|0xADDR:\"one\\x01two\"\\nN$|5\n"
            "\\nBREAK\\nmain.zrk\\n11\n"
            "\\nBREAK\\nmain.zrk\\n12\n"
            "\\nVAR%\\n1\\nTITLE$ (C)|0xADDR:\"demo\"\n"
            // The second marker of line 12 does not stop again; 14 was toggled off.
            "\\nBREAK\\nmain.zrk\\n13\n"
            "\\nBREAK\\nmain.zrk\\n15\n");
  EXPECT_EQ(exit_code, 7u);
  EXPECT_EQ(trace, (std::vector<int>{10, 11, 12, 12, 13, 14, 15}));
  EXPECT_EQ(breakpoint_find("main.zrk", 15), nullptr);  // the run-to target was one-shot
  EXPECT_NE(breakpoint_find("main.zrk", 13), nullptr);
}

TEST_F(DebuggerLink, ADebuggerThatGoesAwayEndsTheProgramThread) {
  for (const char* ending : {"detach", "send STOP"}) {
    trace.clear();
    last_break_line = 0;
    debugger_set_value("RUNNING", "1");
    Chain chain;
    build(chain);
    breakpoint_toggle("main.zrk", 11, 0);
    DWORD exit_code = 99;
    std::string transcript = debug(std::string("expect\n") + ending + "\ngone\n", &exit_code);
    EXPECT_EQ(transcript, "\\nBREAK\\nmain.zrk\\n11\ngone\n") << ending;
    EXPECT_EQ(exit_code, 0u) << ending;  // ended at the stop, without returning
    EXPECT_EQ(trace, std::vector<int>{10}) << ending;
    EXPECT_EQ(debugger_read_value(kDebuggerKey, "RUNNING"), nullptr) << ending;
    breakpoints_clear();
  }
}

TEST_F(DebuggerLink, DescriptorsNameFlagsSizesAndArrays) {
  Variable* plain = make_variable(locals, "PLAIN$", nullptr, 1);
  Variable* list = make_variable(locals, "ITEMS$", nullptr);
  list->flags |= kVariableList;
  Variable* array = make_variable(locals, "GRID$", nullptr);
  array->element_count = 12;
  array->dim_count = 1;
  EXPECT_EQ(variable_descriptor(plain), "PLAIN$");
  EXPECT_EQ(variable_descriptor(list), "ITEMS$ (L)");
  EXPECT_EQ(variable_descriptor(array), "GRID$ [12]");
  list->flags &= ~kVariableList;
}

TEST_F(DebuggerLink, StackAndApplicationViews) {
  context->name = crt::_strdup("MAIN.ZRK");
  context->code_size = 123456;
  stack_push_number(context, 0);  // the bottom cell is not shown
  stack_push_number(context, 3);
  stack_push_value(const_cast<char*>("hi"), 0, nullptr, 0);
  std::string rows;
  EXPECT_EQ(debugger_view("STACK", nullptr, rows), 2);
  EXPECT_EQ(std::regex_replace(rows, std::regex("0x[0-9A-F]{8}"), "0xADDR"),
            "\nItem #2 |0xADDR:\"hi\"\nItem #1 |3");
  rows.clear();
  EXPECT_EQ(debugger_view("APPLICATION", nullptr, rows), 5);
  EXPECT_EQ(rows, "\nName|MAIN.ZRK\nPath|\nBufferSize|123,456\nStack count|2\nWindows count|0");
  rows.clear();
  EXPECT_EQ(debugger_view("NOSUCHVIEW", nullptr, rows), -1);
}

}  // namespace
