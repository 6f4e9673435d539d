// The debugger link against an outside debugger process: stop notices at breakpoints and
// steps, views of locals, globals and the program, breakpoints toggled and run to, and a
// debugger that goes away ending the program's thread.
#include "vm/builtin_registry.h"
#include "app/builtin_table.h"
#include "vm/debugger_link.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>

#include "compiler/asm/arm_bridge.h"
#include "compiler/asm/assembler.h"
#include "vm/debug_frames.h"
#include "vm/breakpoints.h"
#include "compiler/keywords.h"
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
    debugger_enabled = 1;
    make_variable(context->globals, "TITLE$", "demo");
    debugger_set_value("RUNNING", "1");
  }
  void TearDown() override {
    breakpoints_clear();
    debugger_enabled = 0;
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

  // Stops at the breakpoint on line first, sends command, and gives the line of the next
  // stop ("" when there was none); the program then runs to its end (exit code 7).
  std::string next_stop_after(int first, const char* command) {
    breakpoints_clear();
    breakpoint_toggle("main.zrk", first, 0);
    step_mode = 0;
    last_break_line = 0;
    debugger_set_value("RUNNING", "1");
    DWORD exit_code = 0;
    std::string transcript = debug(std::string("expect\nsend ") + command + "\nexpect\nsend RUN\n", &exit_code);
    EXPECT_EQ(exit_code, 7u) << command;
    const std::string first_stop = "\\nBREAK\\nmain.zrk\\n" + std::to_string(first) + "\n";
    const std::string stop = "\\nBREAK\\nmain.zrk\\n";
    if (transcript.rfind(first_stop + stop, 0) != 0) return "";
    std::string rest = transcript.substr(first_stop.size() + stop.size());
    return rest.substr(0, rest.find('\n'));
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
    EXPECT_EQ(next_stop_after(10, row.command), row.second_stop) << row.command;
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

// Assembled code built for the debugger: F(a) with a local b, called from the main code;
// the text stands at line 100 of main.zrk, so its lines are 101 to 110.
constexpr const char* kDebuggedAsm =
    "!F(a)\nvar b\nmov b, 3\nmov r0, a\nadd r0, b\nret\n:MAIN\nmov r1, 7\njsr F(r1)\nmov r2, r0";

uint8_t* debugged_block = nullptr;
void op_run_debugged_block() { run_arm_code(platform::address_of(debugged_block)); }

class AsmDebugging : public DebuggerLink {
 protected:
  void SetUp() override {
    DebuggerLink::SetUp();
    init_keyword_and_opcode_tables();
    assembler_debugger_mode = 1;
    // The assembling instruction's line is where the text's lines count from.
    Chain place;
    current_instruction = place.add(builtin_debug_marker, 100);
    debugged_block = assemble_script_text(kDebuggedAsm, 0);
    current_instruction = nullptr;
    assembler_debugger_mode = 0;
    ASSERT_NE(debugged_block, nullptr);
    chain = std::make_unique<Chain>();
    running_procedure = chain->procedure("PROCMAIN");
    chain->add(op_run_debugged_block);
    chain->add(op_end);
    running_program = context;
  }
  void TearDown() override {
    free_code_block(debugged_block);
    chain.reset();
    DebuggerLink::TearDown();
  }
  std::unique_ptr<Chain> chain;
};

TEST_F(AsmDebugging, FramesLocalsAndRegistersOfAssembledCode) {
  breakpoint_toggle("main.zrk", 104, 0);
  DWORD exit_code = 0;
  std::string transcript = debug(
      "expect\n"
      "send CALLSTACK\n"
      "expect\n"
      "send STACKPARAMS|$FRAME\n"
      "expect\n"
      "send LOCALSTACK|$FRAME\n"
      "expect\n"
      "send REGISTERS\n"
      "expect\n"
      "send STEPOVER\n"
      "expect\n"
      "send RUN\n",
      &exit_code);
  transcript = std::regex_replace(transcript, std::regex("(SF|SP)\\|[-0-9]+"), "$1|N");
  EXPECT_EQ(transcript,
            "\\nBREAK\\nmain.zrk\\n104\n"
            // The running function, the main code below it, then the script's call.
            "\\nVAR%\\n3\\nF|0xADDR\\nMAIN|0xADDR\\nMAIN|0xADDR\n"
            "\\nVAR%\\n1\\na|7\n"
            // A frame keeps the values its function started with ...
            "\\nVAR%\\n2\\na|7\\nb|0\n"
            // ... the register block those of the statement about to run.
            "\\nVAR%\\n8\\nR0|0\\nR1|7\\nR2|0\\nR3|0\\nSF|N\\nSP|N\\na|7\\nb|3\n"
            "\\nBREAK\\nmain.zrk\\n105\n");
  EXPECT_EQ(exit_code, 7u);
  EXPECT_EQ(context->asm_frames, nullptr) << "every frame record was given back";
}

// STEPOVER on the line of a jsr runs the function without stopping in it; STEPINTO stops
// at its first statement.
TEST_F(AsmDebugging, StepOverAndIntoACall) {
  struct Row {
    const char* command;
    const char* second_stop;
  } rows[] = {{"STEPOVER", "110"}, {"STEPINTO", "103"}};
  for (const Row& row : rows) {
    EXPECT_EQ(next_stop_after(109, row.command), row.second_stop) << row.command;
    EXPECT_EQ(context->asm_frames, nullptr) << row.command;
  }
}

std::vector<std::string> probed_frames;
// What "zrk probe" sees: the frame records of the running program, newest first.
void builtin_probe_frames() {
  std::string names;
  for (AsmFrameRecord* record = current_program->asm_frames; record; record = record->previous) {
    names += std::string(names.empty() ? "" : " ") + record->name;
  }
  probed_frames.push_back(names);
}

// Every function leaves its frame record when it returns, whether its call was taken or
// not, it had statements or not, or its first statement is a loop head.
TEST_F(AsmDebugging, FrameRecordsFollowTheCalls) {
  int32_t probe = builtin_register("PROBE", builtin_probe_frames);
  struct Case {
    const char* name;
    const char* text;
    std::vector<std::string> probes;
  };
  const Case cases[] = {
      {"conditional call taken", "!F\nzrk probe\nret\n:MAIN\nmov r1, 1\ncmp r1, 1\njsreq F\nzrk probe",
       {"F MAIN", "MAIN"}},
      {"conditional call not taken", "!F\nzrk probe\nret\n:MAIN\nmov r1, 1\ncmp r1, 2\njsreq F\nzrk probe",
       {"MAIN"}},
      {"function without statements", "!G\nret\n:MAIN\njsr G\nzrk probe", {"MAIN"}},
      {"loop head on the first statement",
       "!H\n:AGAIN\nzrk probe\nsub r1, 1\ncmp r1, 0\njne AGAIN\nret\n:MAIN\nmov r1, 2\njsr H\nzrk probe",
       {"H MAIN", "H MAIN", "MAIN"}},
  };
  for (const Case& c : cases) {
    assembler_debugger_mode = 1;
    uint8_t* block = assemble_script_text(c.text, 0);
    assembler_debugger_mode = 0;
    ASSERT_NE(block, nullptr) << c.name;
    probed_frames.clear();
    run_arm_code(platform::address_of(block));
    free_code_block(block);
    EXPECT_EQ(probed_frames, c.probes) << c.name;
    // The main code's record goes when the block ends.
    EXPECT_EQ(context->asm_frames, nullptr) << c.name;
  }
  builtin_entry_clear(probe);
}

}  // namespace
