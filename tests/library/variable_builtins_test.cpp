// Variables and procedures by name and address: addr answers for literals and variables,
// values travel by name, procedure handles are found by signature (and cached in the
// calling instruction), and a call of nothing leaves the caller's stack as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "builtin_fixture.h"
#include "foundation/machine_state.h"
#include "foundation/runtime_memory.h"
#include "library/core/array_builtins.h"
#include "library/core/structure_builtins.h"
#include "library/core/variable_builtins.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_arguments.h"

namespace {

void register_units() {
  register_variable_builtins();
  register_array_builtins();
  register_structure_builtins();
}

class VariableBuiltins : public BuiltinTest {
 protected:
  VariableBuiltins() : BuiltinTest(register_units) {}

  void TearDown() override {
    for (ProcedureTableEntry* entry : entries_) {
      crt::free(entry->signature);
      delete entry;
    }
    context->procedure_count = 0;
    current_procedure_name = nullptr;
    BuiltinTest::TearDown();
  }

  // A procedure table entry of the context for the signature, standing for node.
  void add_procedure(const char* signature, InstructionNode* node) {
    auto* entry = new ProcedureTableEntry{crt::_strdup(signature), node};
    entries_.push_back(entry);
    context->procedures[context->procedure_count++] = entry;
  }
  uint32_t address(const void* pointer) { return platform::address_of(pointer); }

 private:
  std::vector<ProcedureTableEntry*> entries_;
};

TEST_F(VariableBuiltins, AddrOfLiteralsAndVariables) {
  // A number: the field of the cell it sits in (the result is pushed into that cell).
  push(5);
  const double* field = &context->stack_top->number;
  call("addr");
  EXPECT_EQ(pop_number(), address(field));
  const char* text = "literal";
  push_text(text);
  call("addr");
  EXPECT_EQ(pop_number(), address(text));

  Variable* number = make_variable(locals, "N%", nullptr, 3);
  Variable* block = make_variable(locals, "T$", "abc");
  Variable* object = make_variable(locals, "O%", nullptr, 0x1234);
  object->flags |= kVariableObject;
  const struct {
    Variable* variable;
    uint32_t expected;
  } cases[] = {
      {number, address(&number->number)}, {block, address(block->data)}, {object, 0x1234},
  };
  for (const auto& row : cases) {
    push_variable(row.variable);
    call("addr");
    ValueCell* cell = stack_pop(context);
    EXPECT_EQ(cell->number, row.expected) << row.variable->name;
    EXPECT_EQ(cell->variable, row.variable);
    EXPECT_TRUE(cell->flags & kCellByReference);
  }
}

TEST_F(VariableBuiltins, ValuesByName) {
  make_variable(locals, "A$", "first");
  push_text("a$");
  call("getvar");
  EXPECT_EQ(pop_text(), "first");

  push_text("a$");
  push_text("second");
  call("setvar");
  EXPECT_STREQ(static_cast<const char*>(find_variable("A$")->data), "second");
  push_text("N%");
  push(2.5);
  call("setvar");
  ASSERT_NE(find_variable("N%"), nullptr) << "an unknown name is declared";
  EXPECT_EQ(find_variable("N%")->number, 2.5);

  const struct {
    const char* name;
    double exists, valid;
  } cases[] = {{"a$", 1, 1}, {"A$", 1, 1}, {"missing%", 0, 1}, {"abc", 0, 0}, {"", 0, 0}};
  for (const auto& row : cases) {
    push_text(row.name);
    call("varexists");
    EXPECT_EQ(pop_number(), row.exists) << row.name;
    push_text(row.name);
    call("isvalidvar");
    EXPECT_EQ(pop_number(), row.valid) << row.name;
  }
  EXPECT_EQ(find_variable("MISSING%"), nullptr) << "varexists does not declare";
  push(12);
  call("isvalidvar");
  EXPECT_EQ(pop_number(), 0);
}

TEST_F(VariableBuiltins, CurprocCutsTheSignature) {
  current_procedure_name = "WORKER(2,1)";
  call("curproc");
  EXPECT_EQ(pop_text(), "WORKER");
  current_procedure_name = nullptr;
  call("curproc");
  EXPECT_EQ(pop_text(), "");
}

TEST_F(VariableBuiltins, GetprocAndGetprocexFindBySignature) {
  Chain chain;
  InstructionNode* function = chain.procedure("    F(2,1)");
  InstructionNode* procedure = chain.procedure("    G(0,0)");
  add_procedure("F(2,1)", function);
  add_procedure("G(0,0)", procedure);
  const struct {
    const char* name;
    InstructionNode* expected;
  } by_name[] = {{"f", function}, {"F(anything", function}, {"g", procedure}, {"h", nullptr}};
  for (const auto& row : by_name) {
    push(0);
    push_text(row.name);
    call("getproc");
    EXPECT_EQ(pop_number(), address(row.expected)) << row.name;
  }
  const struct {
    const char* name;
    int count, kind;
    InstructionNode* expected;
  } by_signature[] = {
      {"f", 2, 1, function},   {"f", 3, 1, nullptr}, {"G", 0, 0, procedure},
      {"g", 0, 1, nullptr},    // a procedure is no function
      {"f", 2, 0, function},   // a function answers for its name and count
  };
  for (const auto& row : by_signature) {
    push(0);
    push_text(row.name);
    push(row.count);
    push(row.kind);
    call("getprocex");
    EXPECT_EQ(pop_number(), address(row.expected)) << row.name << row.count << row.kind;
  }
  // A handle that is no loaded program finds nothing.
  push(12345);
  push_text("f");
  call("getproc");
  EXPECT_EQ(pop_number(), 0);
}

TEST_F(VariableBuiltins, GetprocCachesInTheCallingInstruction) {
  Chain chain;
  InstructionNode* function = chain.procedure("    F(0,1)");
  add_procedure("F(0,1)", function);
  int32_t index = find_builtin_by_hash(hash_name_text("GETPROC"));
  InstructionNode* site = chain.add(builtin_entry(index)->handler);
  current_instruction = site;
  push(0);
  push_text("f");
  call("getproc");
  EXPECT_EQ(pop_number(), address(function));
  ASSERT_NE(site->extension, nullptr);
  EXPECT_EQ(site->extension->link, function);
  // The cache answers for the same name and program without searching.
  InstructionNode* other = chain.procedure("    F(0,1)");
  context->procedures[0]->procedure = other;
  push(0);
  push_text("F");
  call("getproc");
  EXPECT_EQ(pop_number(), address(function));
  current_instruction = nullptr;
}

TEST_F(VariableBuiltins, CallOfNothingPushesZeroOverTheMark) {
  push(99);  // below the mark: must stay
  mark();
  push(0);
  push_text("f");
  push(1);
  push(2);
  call("call");
  EXPECT_EQ(depth(), 2);
  EXPECT_EQ(pop_number(), 0);
  EXPECT_EQ(pop_number(), 99);
}

TEST_F(VariableBuiltins, AssignMakesAnObjectReference) {
  Variable* v = make_variable(locals, "V%", nullptr, 0);
  push_variable(v);
  push(0x5000);
  call("assign");
  EXPECT_TRUE(v->flags & kVariableObject);
  push_variable(v);
  call("objaddr");
  EXPECT_EQ(pop_number(), 0x5000);
  push_variable(make_variable(locals, "W%", nullptr, 7));
  call("objaddr");
  EXPECT_EQ(pop_number(), 0);
}

TEST_F(VariableBuiltins, VmaxBySortOfVariable) {
  Variable* array = create_variable(locals, "A%", false);
  mark();
  push_variable(array);
  push(3);
  push(4);
  call("dim");
  Variable* structure = create_variable(locals, "S%", false);
  mark();
  push_variable(structure);
  push_text("a");
  push_text("b");
  push_text("c");
  call("struct");
  Variable* text = make_variable(locals, "T$", "hello");
  Variable* plain = make_variable(locals, "P%", nullptr, 1);
  const uint64_t bits = 0x7FEE42D130773B76ULL;
  double largest;
  std::memcpy(&largest, &bits, sizeof largest);
  const struct {
    Variable* variable;
    double expected;
  } cases[] = {{array, 12}, {structure, 3}, {text, 6}, {plain, largest}};
  for (const auto& row : cases) {
    push_variable(row.variable);
    call("vmax");
    EXPECT_EQ(pop_number(), row.expected) << row.variable->name;
  }
  EXPECT_EQ(largest, 1.7e308);
}

}  // namespace
