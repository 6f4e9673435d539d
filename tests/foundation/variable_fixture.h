// A program with a globals head, a local scope head and a current instruction whose
// scope key tests can set; every list and hook is released and reset after the test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "context_fixture.h"
#include "foundation/instruction_node.h"
#include "foundation/machine_state.h"
#include "foundation/runtime_error.h"
#include "foundation/value_ownership.h"
#include "foundation/variables.h"
#include "scope_lists.h"

class VariableTest : public ContextTest {
 protected:
  void SetUp() override {
    ContextTest::SetUp();
    context->pool = pool_create(4096);
    locals = open_scope_lists(context);
    percent_variables = nullptr;
    instruction = InstructionNode{};
    extension = InstructionExtension{};
    instruction.extension = &extension;
    current_instruction = &instruction;
    no_explicit_check = alias_follow_suppressed = list_copy_suppressed = 0;
    procedure_caller = nullptr;
  }
  void TearDown() override {
    current_object = nullptr;
    close_scope_lists(context, locals);
    current_instruction = nullptr;
    procedure_caller = nullptr;
    ownership_services = {};
    ContextTest::TearDown();
  }
  void set_scope_key(uint32_t key) { extension.scope_key = key; }
  // A variable made in the list given, with the key given.
  Variable* make(Variable* list, const char* name, uint32_t key = 0) {
    Variable* variable = create_variable(list, name, false);
    EXPECT_NE(variable, nullptr) << name;
    if (variable) variable->scope_key = key;
    return variable;
  }
  unsigned errors_since(unsigned before) const { return runtime_error_count() - before; }

  Variable* locals = nullptr;
  InstructionNode instruction{};
  InstructionExtension extension{};
};
