// Program end: everything a program owns is released and it leaves the list of programs;
// a program that shares its caller's variables, stack and class list leaves them alone.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstring>
#include <vector>

#include "compiler/driver/program_end.h"
#include "foundation/compile_messages.h"
#include "foundation/hashes.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/platform.h"
#include "vm/instruction_list.h"
#include "vm/machine.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer's allocator interface, whose header the 32-bit tool chain lacks.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

// Bytes the process holds from the C allocator, which every heap, pool and block of the
// runtime comes from in the end.
size_t live_bytes() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

bool in_program_list(const ProgramContext* program) {
  for (ProgramContext* other = program_list; other; other = other->next) {
    if (other == program) return true;
  }
  return false;
}

std::vector<HWND> destroyed_windows;
std::vector<ProgramContext*> current_while_destroyed;
BOOL record_destroy(HWND window) {
  destroyed_windows.push_back(window);
  current_while_destroyed.push_back(current_program);
  return TRUE;
}

void op_idle() {}

class ProgramEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_log = log_enabled;
    log_enabled = 0;
    program_end_hooks = {};
    program_end_hooks.destroy_window = record_destroy;
    destroyed_windows.clear();
    current_while_destroyed.clear();
    emit_scope_key = 0;
  }
  void TearDown() override {
    program_end_hooks = {};
    current_program = nullptr;
    current_scope = nullptr;
    emit_pool = nullptr;
    log_enabled = saved_log;
  }

  // A program in mode 0 with globals holding texts, owned blocks, value-stack cells, a
  // procedure table, an instruction list, a class list and two forms.
  static ProgramContext* full_program() {
    ProgramContext* program = create_program_context();
    program->pool = pool_create(0x10000);
    program->name = crt::_strdup("full.zrk");
    current_program = program;
    program->globals = variable_record_allocate(program, false);
    current_scope = program->globals;
    for (const char* name : {"TITLE$", "NOTE$"}) {
      Variable* variable = create_variable(program->globals, name, false);
      const char text[] = "a text the variable owns";
      set_variable(variable, const_cast<char*>(text), 0, nullptr, sizeof text);
    }
    set_variable(create_variable(program->globals, "COUNT%", false), nullptr, 12, nullptr, -1);
    context_own_allocation(program, crt::malloc(300), 0, kOwnedMemory);
    context_own_allocation(program, crt::malloc(20), 0, kOwnedMemory);
    for (int cell = 0; cell < 5; ++cell) stack_push_number(program, cell);

    emit_pool = program->pool;
    InstructionNode* tail = nullptr;
    emit_instruction_node(&tail, op_idle, "full.zrk", 0, nullptr, 0, nullptr, 0, 0);
    program->first_instruction = tail;
    emit_instruction_node(&tail, op_idle, "\xE9 \x20\xA2MAIN", 0, nullptr, 1, nullptr, 0, 0);
    InstructionNode* head = tail;
    emit_instruction_node(&tail, op_idle, "a pushed text", 0, nullptr, 5, nullptr, 0, 0);
    emit_instruction_node(&tail, op_idle, nullptr, 0, head, 3, nullptr, 0, 0);
    program->code = tail;
    auto* entry = static_cast<ProcedureTableEntry*>(crt::calloc(1, sizeof(ProcedureTableEntry)));
    entry->signature = crt::_strdup("MAIN(0,0)");
    entry->procedure = head;
    program->procedures[program->procedure_count++] = entry;

    NameNode* shape = name_node_push(&program->classes);
    shape->name = crt::_strdup("SHAPE");
    shape->hash = hash_name_text("SHAPE");
    shape->parent_name = crt::_strdup("BASE");

    for (uintptr_t window : {0x5001u, 0x5002u}) {
      FormRecord* form = context_add_form(program, reinterpret_cast<HANDLE>(window), 0, 0, 0);
      form->activation_record = static_cast<uint32_t*>(crt::malloc(12));
    }
    return program;
  }

  uint8_t saved_log = 0;
};

TEST_F(ProgramEndTest, EndingReleasesEverythingTheProgramOwns) {
  // The first program warms the caches a program leaves behind (interned names ...).
  app_instance_end(full_program());
  size_t before = live_bytes();
  ProgramContext* program = full_program();
  EXPECT_GT(live_bytes(), before);
  destroyed_windows.clear();
  current_while_destroyed.clear();

  app_instance_end(program);
  EXPECT_FALSE(in_program_list(program));
  EXPECT_EQ(current_program, nullptr);
  EXPECT_EQ(current_scope, nullptr);  // the scope that was current went with the program
  EXPECT_EQ(destroyed_windows, (std::vector<HWND>{reinterpret_cast<HWND>(0x5001), reinterpret_cast<HWND>(0x5002)}));
  EXPECT_EQ(current_while_destroyed, (std::vector<ProgramContext*>{program, program}));
  EXPECT_EQ(live_bytes(), before);
}

TEST_F(ProgramEndTest, FormsMarkedToStayAreNotClosed) {
  ProgramContext* program = full_program();
  FormRecord* kept = context_add_form(program, reinterpret_cast<HANDLE>(0x5003), 0, 0, 0);
  kept->keep_open = 1;
  ProgramContext* other = create_program_context();
  context_add_form(other, reinterpret_cast<HANDLE>(0x6001), 0, 0, 0);
  current_program = other;

  EXPECT_EQ(destroy_app_windows(reinterpret_cast<HWND>(0x7777)), 0);  // no program's form
  EXPECT_EQ(destroy_app_windows(reinterpret_cast<HWND>(0x6001)), TRUE);
  EXPECT_EQ(other->forms, nullptr);
  app_instance_end(program);
  EXPECT_EQ(destroyed_windows.size(), 3u);
  for (HWND window : destroyed_windows) EXPECT_NE(window, reinterpret_cast<HWND>(0x5003));
  EXPECT_EQ(current_program, other);  // put back after each closing
  app_instance_end(other);
}

// A program run in its caller's scope (mode -1) or with its caller's globals (mode -2)
// uses the caller's heap, stack, globals and class list.
TEST_F(ProgramEndTest, ASharingProgramLeavesItsCallersDataAlone) {
  for (int32_t mode : {-1, -2}) {
    SCOPED_TRACE(mode);
    ProgramContext* caller = full_program();
    ProgramContext* child = create_program_context();
    HeapDestroy(child->heap);
    child->heap = caller->heap;
    child->run_mode = mode;
    child->parent = caller;
    child->classes = caller->classes;
    child->globals = caller->globals;
    child->stack_top = caller->stack_top;
    child->pool = pool_create(0x1000);
    emit_pool = child->pool;
    InstructionNode* tail = nullptr;
    emit_instruction_node(&tail, op_idle, "child", 0, nullptr, 0, nullptr, 0, 0);
    child->code = tail;
    current_program = child;
    ValueCell* caller_top = caller->stack_top;

    app_instance_end(child);
    EXPECT_FALSE(in_program_list(child));
    EXPECT_TRUE(in_program_list(caller));
    EXPECT_EQ(current_scope, caller->globals);
    NameNode* shape = name_node_find(caller->classes, "SHAPE");
    ASSERT_NE(shape, nullptr);
    EXPECT_STREQ(shape->parent_name, "BASE");
    Variable* title = find_variable_in_list(caller->globals, "TITLE$");
    ASSERT_NE(title, nullptr);
    EXPECT_STREQ(static_cast<const char*>(title->data), "a text the variable owns");
    EXPECT_EQ(caller->stack_top, caller_top);
    EXPECT_EQ(caller_top->number, 4);
    app_instance_end(caller);
  }
}

// The driver hands the class list over to a mode -1 program and clears the caller's
// slot: the list is then the program's and goes with it.
TEST_F(ProgramEndTest, AClassListHandedOverIsFreed) {
  ProgramContext* caller = full_program();
  app_instance_end(full_program());  // warm-up
  NameNode* handed = nullptr;
  std::swap(handed, caller->classes);
  size_t before = live_bytes();
  ProgramContext* child = create_program_context();
  child->run_mode = -1;
  child->parent = caller;
  child->classes = handed;
  size_t with_child = live_bytes();
  app_instance_end(child);
  EXPECT_LT(live_bytes(), before);
  EXPECT_GT(with_child, before);
  app_instance_end(caller);
}

TEST_F(ProgramEndTest, AKeptProgramIsNeverEnded) {
  ProgramContext* program = full_program();
  program->run_mode = -4;
  app_instance_end(program);
  EXPECT_TRUE(in_program_list(program));
  EXPECT_NE(program->forms, nullptr);
  EXPECT_TRUE(destroyed_windows.empty());
  program->run_mode = 0;
  app_instance_end(program);
  EXPECT_FALSE(in_program_list(program));
}

}  // namespace
