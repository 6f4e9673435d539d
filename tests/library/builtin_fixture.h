// A machine with variables in which library built-ins are called by name as compiled
// code calls them: arguments pushed first to last, the result taken from the top.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "../vm/machine_fixture.h"
#include "foundation/hashes.h"
#include "foundation/value_stack.h"
#include "vm/builtin_registry.h"

class BuiltinTest : public VariableMachineTest {
 protected:
  // register_units fills the registry with the built-ins under test.
  explicit BuiltinTest(void (*register_units)()) : register_units_(register_units) {}

  void SetUp() override {
    VariableMachineTest::SetUp();
    builtin_registry_clear();
    register_units_();
  }
  void TearDown() override {
    builtin_registry_clear();
    VariableMachineTest::TearDown();
  }

  // Runs the built-in of that name (any case); a name not registered fails the test.
  static void call(const char* name) {
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    int32_t index = find_builtin_by_hash(hash_name_text(upper.c_str()));
    ASSERT_GE(index, 0) << name << " is not registered";
    builtin_entry(index)->handler();
  }
  // A stack mark, as compiled code sets one before the arguments of a variadic built-in.
  void mark() { stack_save_mark(context); }

  void push(double number) { stack_push_number(context, number); }
  void push_text(const char* text) { stack_push_value(const_cast<char*>(text), 0, nullptr, 0); }
  void push_wide_text(const char16_t* text) {
    stack_push_value(const_cast<char16_t*>(text), 0, nullptr, 0);
    context->stack_top->flags |= kCellWideText;
  }
  // A variable given by reference.
  void push_variable(Variable* variable) { stack_push_variable_value(variable); }

  double pop_number() { return stack_pop(context)->number; }
  // The popped cell's 8-bit text ("" when it has none).
  std::string pop_text() {
    ValueCell* cell = stack_pop(context);
    return cell->text && !(cell->flags & (kCellWideText | kCellList)) ? static_cast<const char*>(cell->text) : "";
  }
  std::u16string pop_wide_text() {
    ValueCell* cell = stack_pop(context);
    if (!cell->text || !(cell->flags & kCellWideText)) return u"";
    return static_cast<const char16_t*>(cell->text);
  }

 private:
  void (*register_units_)();
};
