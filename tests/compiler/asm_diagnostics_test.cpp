// Assembled code built for the profiler and the debugger: profile points per statement
// line, the place of the text, frame records that go with a faulting call, and debug
// texts.
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

#include "asm_run_fixture.h"
#include "compiler/asm/asm_builtins.h"
#include "vm/debug_frames.h"
#include "platform/kernel/fault_guard.h"
#include "vm/debugger_values.h"
#include "vm/profiler.h"

namespace {

class AsmDiagnostics : public AsmRunTest {
 protected:
  void TearDown() override {
    assembler_profiler_mode = 0;
    assembler_debugger_mode = 0;
    write_profile_report((std::string(ZRK_TEST_BINARY_DIR) + "/asm_profile_scratch.txt").c_str());
    AsmRunTest::TearDown();
  }

  // The profile points counted so far, by (file, line).
  static std::map<std::pair<std::string, int32_t>, uint32_t> counted() {
    std::map<std::pair<std::string, int32_t>, uint32_t> counts;
    for (ProfileRecord* record = profile_records; record; record = record->next) {
      counts[{record->name, record->key}] += record->count;
    }
    return counts;
  }
};

// A loop run three times; every statement's line is a point after it. Each text counts
// its lines from its own first line, so a second assembly counts on the same points.
TEST_F(AsmDiagnostics, EveryStatementIsAProfilePointOfItsLine) {
  context->path = crt::_strdup("/no/such/folder/Game.ZRK");
  assembler_profiler_mode = 1;
  const char* text = ":MAIN\nmov r1, 3\n:LOOP\nsub r1, 1\ncmp r1, 0\njne LOOP\nmov r2, r1";
  for (int run = 1; run <= 2; ++run) {
    uint32_t block = assemble_source(0, text);
    ASSERT_NE(block, 0u) << errors();
    run_arm_code(block);
    free_code_block(platform::pointer_from<uint8_t>(block));
    // A file that does not exist is named in full, in lower case; the taken jumps of the
    // loop do not reach the point after them.
    const std::string file = "/no/such/folder/game.zrk";
    std::map<std::pair<std::string, int32_t>, uint32_t> expected = {
        {{file, 2}, 1 * run}, {{file, 4}, 3 * run}, {{file, 5}, 3 * run}, {{file, 6}, 1 * run}, {{file, 7}, 1 * run}};
    EXPECT_EQ(counted(), expected) << "run " << run;
  }
  crt::free(context->path);
  context->path = nullptr;
}

uint32_t faulting_block = 0;
void op_callasm_faulting_block() {
  stack_save_mark(current_program);
  stack_push_number(current_program, faulting_block);
  builtin_callasm();
}

// A function that faults never gives its frame record back itself: the call does.
TEST_F(AsmDiagnostics, AFaultInsideAFunctionTakesItsFrameRecords) {
  // An attached debugger that sends nothing: one that is missing would end the thread.
  std::string root = std::string(ZRK_TEST_BINARY_DIR) + "/asm_diagnostics_root";
  std::filesystem::remove_all(root);
  setenv("ZRK_ROOT", root.c_str(), 1);
  debugger_set_value("RUNNING", "1");
  assembler_debugger_mode = 1;
  debugger_enabled = 1;
  faulting_block = assemble_source(0, "!F\nmov r1, 5\nmov [r1], r1\nret\n:MAIN\njsr F");
  ASSERT_NE(faulting_block, 0u) << errors();
  run_in_try(op_callasm_faulting_block);
  EXPECT_EQ(trace, (std::vector<int>{2}));
  EXPECT_EQ(context->asm_frames, nullptr);
  free_code_block(platform::pointer_from<uint8_t>(faulting_block));
  debugger_enabled = 0;
  debugger_delete_value("ZRKDEBUGGER", "RUNNING");
  unsetenv("ZRK_ROOT");
}

}  // namespace
