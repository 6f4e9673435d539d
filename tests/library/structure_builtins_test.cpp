// Structures: fields are laid out one after another in one zeroed record, each member
// variable points at its field, nested structures repeat the template's members, and
// restruct re-declares the members over the block the variable already holds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "builtin_fixture.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "library/core/structure_builtins.h"

namespace {

class StructureBuiltins : public BuiltinTest {
 protected:
  StructureBuiltins() : BuiltinTest(register_structure_builtins) {}

  // An argument of a declaration: a field name, a type code, or a template structure.
  struct Argument {
    const char* field = nullptr;
    double type = 0;
    Variable* layout = nullptr;
  };
  void declare(const char* builtin, Variable* structure, const std::vector<Argument>& arguments) {
    mark();
    push_variable(structure);
    for (const Argument& argument : arguments) {
      if (argument.field) push_text(argument.field);
      else if (argument.layout) push_variable(argument.layout);
      else push(argument.type);
    }
    call(builtin);
  }
  static Argument field(const char* name) { return {name, 0, nullptr}; }
  static Argument type(double code) { return {nullptr, code, nullptr}; }
  static Argument layout(Variable* structure) { return {nullptr, 0, structure}; }

  Variable* variable(const char* name) { return create_variable(locals, name, false); }

  // The member's place: its offset, type, owner and data pointer into the owner's block.
  static void expect_member(Variable* member, Variable* owner, uint32_t offset, int32_t type) {
    ASSERT_NE(member, nullptr);
    EXPECT_EQ(member->member_offset, offset) << member->name;
    EXPECT_EQ(member->type_code, type) << member->name;
    EXPECT_EQ(member->owner, owner) << member->name;
    EXPECT_EQ(member->data, static_cast<uint8_t*>(owner->data) + offset) << member->name;
  }
};

TEST_F(StructureBuiltins, FieldsWithoutTypesAreFourByteIntegers) {
  Variable* p = variable("P%");
  declare("struct", p, {field("x"), field("y")});
  ASSERT_NE(p->data, nullptr);
  EXPECT_EQ(p->type_code, 8);
  EXPECT_EQ(alloc_block_size(p->data), 8u);
  EXPECT_EQ(p->flags & (kVariableStructure | kVariableOwnsData), kVariableStructure | kVariableOwnsData);
  expect_member(find_variable("P.X%"), p, 0, -4);
  expect_member(find_variable("P.Y%"), p, 4, -4);
  EXPECT_EQ(structure_size(p), 8u);
  // A store into a member lands in the record.
  set_variable(find_variable("P.Y%"), nullptr, 7, nullptr, -1);
  int32_t y;
  std::memcpy(&y, static_cast<uint8_t*>(p->data) + 4, sizeof y);
  EXPECT_EQ(y, 7);
}

TEST_F(StructureBuiltins, TypedFieldsTakeTheirTypeSizes) {
  Variable* r = variable("R$");
  declare("struct", r, {field("a"), type(-8), field("b"), type(-1), field("c"), type(10)});
  EXPECT_EQ(r->type_code, 19);
  expect_member(find_variable("R.A$"), r, 0, -8);
  expect_member(find_variable("R.B$"), r, 8, -1);
  expect_member(find_variable("R.C$"), r, 9, 10);
}

TEST_F(StructureBuiltins, ATypeOfZeroIsIgnored) {
  Variable* r = variable("R%");
  declare("struct", r, {field("a"), type(0), field("b")});
  EXPECT_EQ(r->type_code, 8);
  expect_member(find_variable("R.A%"), r, 0, -4);
}

TEST_F(StructureBuiltins, NestedFieldRepeatsTheTemplateMembers) {
  Variable* p = variable("P%");
  declare("struct", p, {field("x"), field("y")});
  Variable* q = variable("Q%");
  declare("struct", q, {field("pos"), layout(p), field("id")});
  EXPECT_EQ(q->type_code, 12);
  Variable* pos = find_variable("Q.POS%");
  expect_member(pos, q, 0, 8);
  EXPECT_TRUE(pos->flags & kVariableStructure);
  expect_member(find_variable("Q.POS.X%"), pos, 0, -4);
  expect_member(find_variable("Q.POS.Y%"), pos, 4, -4);
  expect_member(find_variable("Q.ID%"), q, 8, -4);
  EXPECT_EQ(structure_size(q), 12u);

  // One more level: the names follow the nesting, not the template's own prefix.
  Variable* r = variable("R%");
  declare("struct", r, {field("flag"), type(-1), field("q"), layout(q)});
  Variable* inner = find_variable("R.Q.POS%");
  ASSERT_NE(inner, nullptr);
  expect_member(find_variable("R.Q.POS.Y%"), inner, 4, -4);
  EXPECT_EQ(find_variable("R.Q.POS.Y%")->data, static_cast<uint8_t*>(r->data) + 1 + 4);
  expect_member(find_variable("R.Q.ID%"), find_variable("R.Q%"), 8, -4);
}

TEST_F(StructureBuiltins, RestructKeepsTheBlockAndItsContents) {
  Variable* p = variable("P%");
  declare("struct", p, {field("x"), field("y")});
  void* block = p->data;
  const int32_t values[2] = {11, 22};
  std::memcpy(block, values, sizeof values);
  declare("restruct", p, {field("lo"), type(-2), field("hi"), type(-2), field("y")});
  EXPECT_EQ(p->data, block);
  EXPECT_EQ(std::memcmp(block, values, sizeof values), 0);
  expect_member(find_variable("P.HI%"), p, 2, -2);
  expect_member(find_variable("P.Y%"), p, 4, -4);
  // A record larger than the block is refused.
  unsigned errors = runtime_error_count();
  declare("restruct", p, {field("a"), type(-8), field("b")});
  EXPECT_EQ(runtime_error_count(), errors + 1);
  EXPECT_EQ(p->data, block);
}

TEST_F(StructureBuiltins, DuplicateFieldIsReportedAndLeftOut) {
  Variable* p = variable("P%");
  unsigned errors = runtime_error_count();
  declare("struct", p, {field("x"), field("X"), type(-8), field("y")});
  EXPECT_EQ(runtime_error_count(), errors + 1);
  EXPECT_STREQ(runtime_error_last_text(), "Duplicate field name [x] in structure");
  // The walk runs from the last argument: the later "X" (a double) is the one kept.
  EXPECT_EQ(p->type_code, 12);
  EXPECT_EQ(structure_size(p), 12u);
  expect_member(find_variable("P.X%"), p, 0, -8);
  expect_member(find_variable("P.Y%"), p, 8, -4);
}

TEST_F(StructureBuiltins, MoreThan128FieldsAreRefused) {
  Variable* p = variable("P%");
  std::vector<std::string> names;
  for (int index = 0; index < 129; ++index) names.push_back("f" + std::to_string(index));
  std::vector<Argument> arguments;
  for (const std::string& name : names) arguments.push_back(field(name.c_str()));
  unsigned errors = runtime_error_count();
  declare("struct", p, arguments);
  EXPECT_EQ(runtime_error_count(), errors + 1);
  EXPECT_EQ(p->members, nullptr);
  EXPECT_EQ(context->stack_top, nullptr);
}

}  // namespace
