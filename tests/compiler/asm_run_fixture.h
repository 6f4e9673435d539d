// A program with a value stack, global and local variables and a compilation set up, in
// which assembled blocks are made, run in the ARM emulator and freed at the end.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "../vm/machine_fixture.h"
#include "compiler/asm/arm_bridge.h"
#include "compiler/asm/assembler.h"
#include "foundation/code_list.h"
#include "compiler/constants.h"
#include "compiler/frontend/analyzer.h"
#include "compiler/keywords.h"
#include "foundation/compile_messages.h"
#include "foundation/runtime_memory.h"
#include "platform/kernel/memory.h"

class AsmRunTest : public VariableMachineTest {
 protected:
  void SetUp() override {
    VariableMachineTest::SetUp();
    init_keyword_and_opcode_tables();
    saved_pool_ = compiler_pool;
    compiler_pool = pool_create(64 * 1024);
    analyzer_reset();
    reset_errors();
    saved_error_box_ = error_box_enabled;
    // Run-time errors join the compile errors, where the tests read them.
    error_box_enabled = 0;
  }
  void TearDown() override {
    for (uint8_t* block : blocks_) free_code_block(block);
    blocks_.clear();
    drop_compile_constants(0);
    analyzer_reset();
    pool_destroy(compiler_pool);
    compiler_pool = saved_pool_;
    reset_errors();
    error_box_enabled = saved_error_box_;
    VariableMachineTest::TearDown();
  }

  static void reset_errors() {
    compile_error_count = 0;
    crt::free(compile_error_text);
    compile_error_text = nullptr;
  }
  static std::string errors() { return compile_error_text ? compile_error_text : ""; }

  // Assembles lines given with ';' between them, each '@' standing for the address of
  // cells; the block is freed when the test ends. Null after an error.
  uint8_t* assemble_block(std::string text, int32_t size = 8192) {
    std::string address = std::to_string(platform::address_of(cells));
    std::string source;
    for (char c : text) {
      if (c == ';') source += '\n';
      else if (c == '@') source += address;
      else source += c;
    }
    int32_t errors_before = compile_error_count;
    CodeListNode* first = analyze_assembler_text(source.c_str());
    uint8_t* block = assemble_inline_code(&size, first);
    if (!block) return nullptr;
    if (compile_error_count != errors_before) {
      free_code_block(block);
      return nullptr;
    }
    blocks_.push_back(block);
    return block;
  }

  // Assembles and runs a block; false when it did not assemble.
  bool run(const std::string& text) {
    uint8_t* block = assemble_block(text);
    if (!block) return false;
    run_arm_code(platform::address_of(block));
    return true;
  }

  // Runs op in a procedure inside TRY ... EXCEPT: the trace is {1} when op returned, {2}
  // when a fault went to EXCEPT.
  void run_in_try(BuiltinHandler op) {
    Chain chain;
    InstructionNode* head = chain.procedure("PROCMAIN");
    InstructionNode* open = chain.add(op_try);
    chain.add(op);
    chain.add(op_trace, 1);
    chain.add(op_end);
    InstructionNode* except = chain.add(op_nothing);
    chain.add(op_trace, 2);
    chain.add(op_end);
    Chain::jump_to(open, except);
    call(context, head);
    try_depth = 0;
  }

  // Memory the assembled code reads and writes ('@' in the texts).
  int32_t cells[8] = {};

 private:
  std::vector<uint8_t*> blocks_;
  Pool* saved_pool_ = nullptr;
  uint8_t saved_error_box_ = 0;
};
