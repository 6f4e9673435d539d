// Declaration and option statements on hand-built chains: LOCAL, GLOBAL, NGLOBAL,
// PROTECT, STATIC, private and public, the option switches, @, ReadWrite, list literals,
// HALT on its own thread and EXIT across nested calls and programs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "flow_fixture.h"
#include "foundation/runtime_error.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/sync.h"
#include "platform/kernel/threads.h"
#include "vm/builtin_registry.h"
#include "vm/control_flow.h"
#include "vm/declarations.h"
#include "vm/game_hooks.h"

namespace {

using Declarations = FlowTest;

// Runs statement over the names given, as the compiler emits it: mark, names, statement.
void run_statement(BuiltinHandler statement, std::initializer_list<const char*> names) {
  Chain chain;
  chain.add(op_mark);
  for (const char* name : names) chain.add(op_push_name, 0, name);
  chain.add(statement);
  chain.add(op_end);
  vm_run_loop(chain.first);
}

std::string text_of(Variable* variable) {
  void* text = nullptr;
  double number = 0;
  get_variable_value(variable, &text, &number, nullptr);
  return text ? static_cast<const char*>(text) : "";
}

void store_text(Variable* variable, const char* text) {
  set_variable(variable, const_cast<char*>(text), 0, nullptr, static_cast<int32_t>(std::strlen(text)) + 1);
}

TEST_F(Declarations, LocalShadowsAGlobalOfTheSameName) {
  Variable* global = create_variable(context->globals, "X$", false);
  store_text(global, "global");
  run_statement(builtin_local, {"X$"});
  Variable* local = find_variable("X$");
  ASSERT_NE(local, nullptr);
  EXPECT_NE(local, global);
  EXPECT_EQ(local->scope, locals);
  store_text(local, "local");
  EXPECT_EQ(text_of(find_variable("X$")), "local");
  EXPECT_EQ(text_of(global), "global");
  EXPECT_EQ(context->stack_top, nullptr);

  // A name that is already local stays the one variable.
  run_statement(builtin_local, {"X$"});
  EXPECT_EQ(find_variable("X$"), local);
}

TEST_F(Declarations, GlobalMovesLocalsOnly) {
  Variable* local = create_variable(locals, "Y$", false);
  local->scope_key = 9;
  Variable* global = create_variable(context->globals, "G$", false);
  Variable* after = create_variable(context->globals, "H$", false);
  current_object = variable_record_allocate(context, false);
  Variable* member = create_variable(current_object, "M$", false);
  member->scope_key = 9;
  // The statement runs in a procedure whose instructions carry its scope key.
  emit_scope_key = 9;
  run_statement(builtin_global, {"Y$", "G$", "M$"});
  emit_scope_key = 0;
  EXPECT_EQ(local->scope, context->globals);
  EXPECT_EQ(local->scope_key, 0u);
  EXPECT_EQ(global->next, after) << "a global stays where it was";
  EXPECT_EQ(member->scope, current_object) << "an object's member stays the object's";
  free_variable_lists(context, {current_object});
  current_object = nullptr;
}

TEST_F(Declarations, NglobalKeepsTheScopeKeyOfTheInstruction) {
  Variable* local = create_variable(locals, "Z$", false);
  local->scope_key = 7;
  emit_scope_key = 7;
  run_statement(builtin_nglobal, {"Z$"});
  emit_scope_key = 0;
  EXPECT_EQ(local->scope, context->globals);
  EXPECT_EQ(local->scope_key, 7u);
}

TEST_F(Declarations, ProtectIgnoresStoresUntilUnprotect) {
  set_variable_by_name("A%", nullptr, 1, nullptr, 0);
  run_statement(builtin_protect, {"A%"});
  set_variable_by_name("A%", nullptr, 5, nullptr, 0);
  EXPECT_EQ(value_of("A%"), 1);
  run_statement(builtin_unprotect, {"A%"});
  set_variable_by_name("A%", nullptr, 5, nullptr, 0);
  EXPECT_EQ(value_of("A%"), 5);
}

TEST_F(Declarations, StaticKeepsTheDataAtTheEndOfTheCall) {
  Variable* variable = create_variable(locals, "S$", false);
  store_text(variable, "kept");
  ASSERT_TRUE(variable->flags & kVariableOwnsData);
  void* data = variable->data;
  run_statement(builtin_static, {"S$"});
  EXPECT_FALSE(variable->flags & kVariableOwnsData);
  variable_list_release(context, locals, false);
  EXPECT_STREQ(static_cast<const char*>(data), "kept") << "clearing the scope left the block alone";
  crt::free(data);
}

TEST_F(Declarations, MembersOfTheRunningObject) {
  current_object = variable_record_allocate(context, false);
  for (bool is_public : {false, true}) {
    Variable* local = create_variable(locals, is_public ? "PUB$" : "PRIV$", false);
    local->flags |= is_public ? 0 : kVariablePublic;
    run_statement(is_public ? builtin_public : builtin_private, {local->name});
    Variable* member = find_variable_in_list(current_object, local->name);
    ASSERT_NE(member, nullptr) << is_public;
    EXPECT_EQ(member->scope, current_object) << is_public;
    EXPECT_EQ((member->flags & kVariablePublic) != 0, is_public);
  }
  free_variable_lists(context, {current_object});
  current_object = nullptr;
}

TEST_F(Declarations, EveryDeclarationButStaticEndsTheExplicitCheckPause) {
  struct Row {
    const char* name;
    BuiltinHandler statement;
    bool clears;
  } rows[] = {{"LOCAL", builtin_local, true},       {"GLOBAL", builtin_global, true},
              {"NGLOBAL", builtin_nglobal, true},   {"PROTECT", builtin_protect, true},
              {"UNPROTECT", builtin_unprotect, true}, {"private", builtin_private, true},
              {"public", builtin_public, true},     {"STATIC", builtin_static, false}};
  for (const Row& row : rows) {
    builtin_noexplicitcheck();
    ASSERT_EQ(no_explicit_check, 1) << row.name;
    run_statement(row.statement, {"Q$"});
    EXPECT_EQ(no_explicit_check, row.clears ? 0 : 1) << row.name;
    no_explicit_check = 0;
  }
}

TEST_F(Declarations, OptionSwitchesToggle) {
  for (int round = 1; round <= 2; ++round) {
    builtin_rangemode();
    EXPECT_EQ(context->range_check, round % 2) << round;
    builtin_explicitmode();
    builtin_explicitmode();
    builtin_explicitmode();
    EXPECT_EQ(context->explicit_declarations, round % 2) << round;
  }
}

TEST_F(Declarations, AddressOfTheTopCell) {
  static char text[] = "abc";
  struct Row {
    const char* name;
    void* text;
    double number;
    uint32_t expected;
  } rows[] = {
      {"number", nullptr, 4096, 4096},
      {"fraction", nullptr, 4096.9, 4096},
      {"above 2^32 keeps the low word", nullptr, 4294967296.0 + 5, 5},
      {"above 2^31", nullptr, 3221225472.0, 0xC0000000u},
      {"NaN", nullptr, NAN, 0},
      {"text", text, 12, platform::address_of(text)},
  };
  for (const Row& row : rows) {
    stack_push_value(row.text, row.number, nullptr, 77);
    current_program->stack_top->flags = kCellByReference;
    builtin_ptr();
    ValueCell* cell = stack_pop(context);
    EXPECT_EQ(platform::address_of(cell->text), row.expected) << row.name;
    EXPECT_EQ(cell->number, 0) << row.name;
    EXPECT_EQ(cell->data, 0u) << row.name;
    EXPECT_EQ(cell->flags, 0u) << row.name;
    EXPECT_EQ(cell->variable, nullptr) << row.name;
  }
}

TEST_F(Declarations, ReadWriteBindsGetterAndSetter) {
  Chain procedures;
  InstructionNode* getter = procedures.procedure("PROCGET");
  InstructionNode* setter = procedures.procedure("PROCSET");
  ProcedureTableEntry entries[2] = {{nullptr, getter}, {nullptr, setter}};
  context->procedures[0] = &entries[0];
  context->procedures[1] = &entries[1];
  context->procedure_count = 2;
  char setter_text[16];
  crt::_snprintf(setter_text, sizeof setter_text, "%u", platform::address_of(setter));
  int marks = context->mark_count;
  Chain chain;
  chain.add(op_push_name, 0, "V$");
  chain.add(op_push_operand, platform::address_of(getter));
  chain.add(op_push_text, 0, setter_text);
  chain.add(builtin_readwrite);
  chain.add(op_end);
  vm_run_loop(chain.first);
  Variable* variable = find_variable("V$");
  ASSERT_NE(variable, nullptr);
  EXPECT_EQ(variable->getter, getter);
  EXPECT_EQ(variable->setter, setter);
  EXPECT_EQ(context->stack_top, nullptr);
  EXPECT_EQ(context->mark_count, marks);
  variable->getter = variable->setter = nullptr;

  // A number that is no procedure of the program binds nothing and is reported.
  const unsigned reports = runtime_error_count();
  Chain wrong;
  wrong.add(op_push_name, 0, "V$");
  wrong.add(op_push_operand, platform::address_of(getter));
  wrong.add(op_push_operand, 5);
  wrong.add(builtin_readwrite);
  wrong.add(op_end);
  vm_run_loop(wrong.first);
  EXPECT_EQ(variable->getter, nullptr);
  EXPECT_EQ(variable->setter, nullptr);
  EXPECT_EQ(runtime_error_count(), reports + 1);
  stop_flag = 0;
  context->procedure_count = 0;
}

// ---- List literals ----

class ListLiteral : public FlowTest {
 protected:
  void TearDown() override {
    for (ReferenceNode* list : kept) reference_list_free(list);
    FlowTest::TearDown();
  }
  // Runs __MAKEMATRIX over the chain's pushes and takes the pushed literal.
  PackedItem* make(Chain& chain) {
    chain.add(builtin_makematrix);
    chain.add(op_end);
    vm_run_loop(chain.first);
    EXPECT_EQ(depth(), 1);
    ValueCell* cell = stack_pop(context);
    EXPECT_EQ(cell->flags, kCellList);
    kept.push_back(cell->references);
    references = cell->references;
    return static_cast<PackedItem*>(cell->text);
  }
  static int count_of(const PackedItem* items) {
    int count = 0;
    while (items[count].kind != kPackedEnd) ++count;
    return count;
  }
  static void* block_of(const PackedItem& item) {
    return platform::pointer_from<void>(static_cast<uint32_t>(truncate_to_int(item.value)));
  }
  // The number of reference nodes and whether one holds block in slot.
  int reference_count() const {
    int count = 0;
    for (ReferenceNode* node = references; node; node = node->next) ++count;
    return count;
  }
  bool registered(void* block, void* slot) const {
    for (ReferenceNode* node = references; node; node = node->next) {
      if (node->block == block && node->slot == slot && node->slot_type == kPackedSlotType) return true;
    }
    return false;
  }

  std::vector<ReferenceNode*> kept;
  ReferenceNode* references = nullptr;
};

TEST_F(ListLiteral, NumbersInTheOrderPushed) {
  for (int count : {0, 1, 3, 1500}) {
    Chain chain;
    chain.add(op_mark);
    for (int index = 0; index < count; ++index) chain.add(op_push_operand, index * 1.5 - 2);
    PackedItem* items = make(chain);
    ASSERT_NE(items, nullptr) << count;
    ASSERT_EQ(count_of(items), count);
    for (int index = 0; index < count; ++index) {
      EXPECT_EQ(items[index].kind, kPackedNumber) << count << " item " << index;
      EXPECT_EQ(double{items[index].value}, index * 1.5 - 2) << count << " item " << index;
    }
    EXPECT_EQ(alloc_block_size(items), (count + 1) * 9u) << count;
    EXPECT_EQ(reference_count(), 0) << count;
  }
}

TEST_F(ListLiteral, TextsAndNestedListsAreCopiedAndRegistered) {
  // [1, "abc", [3, "x"]]
  Chain chain;
  chain.add(op_mark);
  chain.add(op_push_operand, 1);
  chain.add(op_push_text, 0, "abc");
  chain.add(op_mark);
  chain.add(op_push_operand, 3);
  chain.add(op_push_text, 0, "x");
  chain.add(builtin_makematrix);
  PackedItem* items = make(chain);
  ASSERT_EQ(count_of(items), 3);
  EXPECT_EQ(items[0].kind, kPackedNumber);
  EXPECT_EQ(items[1].kind, kPackedString);
  EXPECT_EQ(items[2].kind, kPackedList);

  auto* text = static_cast<char*>(block_of(items[1]));
  EXPECT_STREQ(text, "abc");
  EXPECT_TRUE(registered(text, &items[1]));

  auto* nested = static_cast<PackedItem*>(block_of(items[2]));
  ASSERT_EQ(count_of(nested), 2);
  EXPECT_EQ(double{nested[0].value}, 3);
  EXPECT_EQ(nested[1].kind, kPackedString);
  EXPECT_STREQ(static_cast<char*>(block_of(nested[1])), "x");
  EXPECT_TRUE(registered(nested, &items[2]));
  EXPECT_TRUE(registered(block_of(nested[1]), &nested[1])) << "the nested list's text is the outer literal's";
  EXPECT_EQ(reference_count(), 3);
}

// ---- HALT ----

int shutdowns = 0;

DWORD run_halt(LPVOID) {
  Chain chain;
  InstructionNode* head = chain.procedure("PROCHALT");
  chain.add(op_trace, 1);
  chain.add(builtin_halt);
  chain.add(op_trace, 2);
  chain.add(op_end);
  call_program = current_program;
  call_procedure = head;
  vm_call_procedure();
  trace.push_back(3);
  return 7;
}

TEST_F(Declarations, HaltEndsTheThreadAndShutsAnOpenGameDisplay) {
  game_display_shutdown = [] { ++shutdowns; };
  for (bool open : {false, true}) {
    trace.clear();
    shutdowns = 0;
    game_display_open = open ? 1 : 0;
    HANDLE thread = CreateThread(nullptr, 0, run_halt, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(code, 0u) << open;
    EXPECT_EQ(trace, std::vector<int>{1}) << open << ": nothing runs after HALT";
    EXPECT_EQ(shutdowns, open ? 1 : 0) << open;
    EXPECT_EQ(game_display_open, 0) << open;
    EXPECT_EQ(current_frame, nullptr) << open << ": the call gave its state back";
    EXPECT_EQ(context->call_depth, 0) << open;
  }
  game_display_shutdown = nullptr;
}

// ---- EXIT ----

TEST_F(Declarations, ExitEndsEveryCallOfTheProgramAndItsCallerGoesOn) {
  ProgramContext* other = create_program_context();
  ASSERT_NE(other, nullptr);
  // The exiting program: PROCA1 opens a TRY and calls PROCA2, which calls PROCA3: EXIT.
  Chain a;
  InstructionNode* a3 = a.procedure("PROCA3");
  a.add(op_trace, 30);
  a.add(builtin_exit);
  a.add(op_trace, 31);
  a.add(op_end);
  InstructionNode* a2 = a.procedure("PROCA2");
  a.add(vm_call_procedure, 0, nullptr, a3);
  a.add(op_trace, 21);
  a.add(op_end);
  InstructionNode* a1 = a.procedure("PROCA1");
  InstructionNode* open = a.add(flow::op_try);
  a.add(vm_call_procedure, 0, nullptr, a2);
  a.add(op_trace, 11);
  InstructionNode* except = a.add(op_end);
  a.add(op_trace, 12);
  a.add(op_end);
  Chain::jump_to(open, except);

  // The calling program runs PROCA1 of the other program from one of its handlers.
  static ProgramContext* exiting;
  static InstructionNode* entry;
  exiting = other;
  entry = a1;
  Chain b;
  InstructionNode* b1 = b.procedure("PROCB1");
  b.add(op_trace, 1);
  b.add([] {
    call_program = exiting;
    call_procedure = entry;
    vm_call_procedure();
  });
  b.add(op_trace, 2);
  b.add(op_trace_try_depth);
  b.add(op_end);

  call(context, b1);
  EXPECT_EQ(trace, (std::vector<int>{1, 30, 2, 0}));
  EXPECT_EQ(stop_flag, 0);
  EXPECT_EQ(exiting_program, nullptr);
  EXPECT_EQ(other->call_depth, 0);
  EXPECT_EQ(context->call_depth, 0);
  program_context_release(other);
  current_program = context;
}

TEST_F(Declarations, RegistrationNamesEveryStatement) {
  register_declaration_handlers();
  struct Row {
    const char* name;
    BuiltinHandler handler;
    uint8_t variadic;
  } rows[] = {{"LOCAL", builtin_local, 1},         {"local", builtin_local, 1},
              {"__MAKEMATRIX", builtin_makematrix, 1}, {"RANGEMODE", builtin_rangemode, 0},
              {"@", builtin_ptr, 0},               {"PTR", builtin_ptr, 0},
              {"ReadWrite", builtin_readwrite, 0}, {"HALT", builtin_halt, 0},
              {"EXIT", builtin_exit, 0},           {"STATIC", builtin_static, 1}};
  for (const Row& row : rows) {
    BuiltinEntry* entry = builtin_entry(find_builtin_by_hash(variable_name_hash(row.name)));
    ASSERT_NE(entry, nullptr) << row.name;
    EXPECT_EQ(entry->handler, row.handler) << row.name;
    EXPECT_EQ(entry->variadic, row.variadic) << row.name;
  }
}

}  // namespace
