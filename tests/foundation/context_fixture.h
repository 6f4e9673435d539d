// A program context made current for one test and released after it.
#pragma once

#include <gtest/gtest.h>

#include "foundation/program_context.h"

class ContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context = create_program_context();
    ASSERT_NE(context, nullptr);
    current_program = context;
  }
  void TearDown() override {
    program_context_release(context);
    current_program = nullptr;
  }
  ProgramContext* context = nullptr;
};
