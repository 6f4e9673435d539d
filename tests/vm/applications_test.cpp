// Application built-ins: findapp on a copy of its argument, handles checked against the
// loaded programs, the end of a running program deferred to the return of its call,
// delay's wait, and the name lists of functions and variables.
#include "vm/applications.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/list_elements.h"
#include "foundation/runtime_error.h"
#include "machine_fixture.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"

namespace {

std::vector<ProgramContext*> ended_programs;

class Applications : public VariableMachineTest {
 protected:
  void SetUp() override {
    VariableMachineTest::SetUp();
    context->name = crt::_strdup("MAIN.ZRK");
    other = create_program_context();
    other->name = crt::_strdup("TOOLS.ZRK");
    other->code_size = 1234;
    other->unique_id[0] = 0xFFFFFFFEu;  // low word
    other->unique_id[1] = 0xFFFFFFFFu;  // -2 as a signed 64-bit number
    ended_programs.clear();
  }
  void TearDown() override {
    if (program_is_loaded(other)) program_context_release(other);
    VariableMachineTest::TearDown();
  }

  double handle_of(ProgramContext* program) { return static_cast<double>(platform::address_of(program)); }
  double call_with(void (*handler)(), double argument) {
    stack_push_number(context, argument);
    handler();
    return stack_pop(context)->number;
  }

  ProgramContext* other = nullptr;
};

TEST_F(Applications, FindappMatchesInAnyCaseAndLeavesItsArgumentAlone) {
  char argument[] = "tools.zrk";
  stack_push_value(argument, 0, nullptr, 0);
  builtin_findapp();
  EXPECT_EQ(stack_pop(context)->number, handle_of(other));
  EXPECT_STREQ(argument, "tools.zrk");
  stack_push_value(const_cast<char*>("Main.Zrk"), 0, nullptr, 0);
  builtin_findapp();
  EXPECT_EQ(stack_pop(context)->number, handle_of(context));
  stack_push_value(const_cast<char*>("MISSING.ZRK"), 0, nullptr, 0);
  builtin_findapp();
  EXPECT_EQ(stack_pop(context)->number, 0);
}

TEST_F(Applications, FactsOfAProgramAndRefusedHandles) {
  EXPECT_EQ(call_with(builtin_appsize, handle_of(other)), 1234);
  EXPECT_EQ(call_with(builtin_appuniqueid, handle_of(other)), -2);
  EXPECT_EQ(call_with(builtin_appform, handle_of(other)), 0);
  stack_push_number(context, handle_of(other));
  builtin_appname();
  EXPECT_EQ(stack_pop(context)->text, other->name);

  // Addresses that name no loaded program are reported, never read.
  int32_t not_a_program = 0;
  unsigned errors = runtime_error_count();
  for (void (*handler)() : {builtin_appsize, builtin_appuniqueid, builtin_appbuffer, builtin_appform}) {
    EXPECT_EQ(call_with(handler, static_cast<double>(platform::address_of(&not_a_program))), 0);
  }
  stack_push_number(context, static_cast<double>(platform::address_of(&not_a_program)));
  builtin_freeapp();
  EXPECT_EQ(runtime_error_count(), errors + 5);
  // A handle of 0 does nothing.
  stack_push_number(context, 0);
  builtin_killapp();
  EXPECT_EQ(runtime_error_count(), errors + 5);
}

// Frees the running program from inside one of its own calls.
void op_free_self() {
  stack_push_number(current_program, static_cast<double>(platform::address_of(current_program)));
  builtin_freeapp();
  trace.push_back(program_is_loaded(current_program) ? 1 : 0);
}

TEST_F(Applications, FreeappOfTheRunningProgramWaitsForItsCallToReturn) {
  current_program = other;
  {
    Chain chain;
    InstructionNode* head = chain.procedure("PROCEND");
    chain.add(op_free_self);
    chain.add(op_trace, 99);  // not reached: the program ends its calls
    chain.add(op_end);
    call(other, head);
    // Still loaded while its call ran; ended once the call returned.
    EXPECT_EQ(trace, std::vector<int>{1});
  }
  // The driver's end of a program is not linked here: the placeholder leaves it loaded,
  // and what matters is that the end came after the call, not during it.
  current_program = context;
}

TEST_F(Applications, DelayWaitsLongerThanItsArgument) {
  DWORD start = GetTickCount();
  stack_push_number(context, 30);
  builtin_delay();
  EXPECT_GT(GetTickCount() - start, 30u);
}

TEST_F(Applications, NameListsOfFunctionsAndVariables) {
  builtin_registry_clear();
  builtin_register("alpha", op_nothing);
  builtin_register("beta", op_nothing);
  external_function_declare("MessageBeep", "MessageBeep", "coredll.dll", 1, 0, 0, 0);
  Variable* list = make_variable(locals, "NAMES$", nullptr);
  make_variable(context->globals, "FIRST$", "1");
  make_variable(context->globals, "SECOND$", "2");
  struct Row {
    void (*handler)();
    double mode;
    std::vector<std::string> names;
  } rows[] = {{builtin_functions, 0, {"ALPHA", "BETA"}},
              {builtin_functions, 1, {"ALPHA", "BETA", "MESSAGEBEEP"}},
              {builtin_variables, 1, {"FIRST$", "SECOND$"}},
              {builtin_variables, 5, {}}};
  for (const Row& row : rows) {
    stack_push_value(nullptr, 0, list, 0);
    context->stack_top->flags = kCellByReference;
    stack_push_number(context, row.mode);
    row.handler();
    EXPECT_EQ(stack_pop(context)->number, static_cast<double>(row.names.size())) << row.mode;
    std::vector<std::string> names;
    for (ListElement* element = list->cursor; element; element = element->next) {
      names.emplace_back(static_cast<const char*>(element->data));
    }
    EXPECT_EQ(names, row.names) << row.mode;
  }
  builtin_registry_clear();
}

}  // namespace
