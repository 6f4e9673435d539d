// Procedure calls: local scopes reused across calls and recursion, parameter binding,
// results that outlive their frame, owned allocations by depth, value-stack clean-up
// after calls and event calls with their fast path.
#include "vm/procedure_call.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "machine_fixture.h"
#include "platform/platform.h"
#include "vm/control_flow.h"
#include "vm/push_instructions.h"

namespace {

// What the test handlers below saw.
std::vector<Variable*> seen_scopes;
std::vector<std::string> seen_values;
InstructionNode* callee = nullptr;

void call_callee() {
  call_program = current_program;
  call_procedure = callee;
  vm_call_procedure();
}

Variable* target_of(const char* name) {
  Variable* variable = find_variable(name);
  while (variable && variable->alias) variable = variable->alias;
  return variable;
}

std::string value_of(const Variable* variable) {
  if (!variable) return "<none>";
  if (variable->data) return static_cast<const char*>(variable->data);
  return std::to_string(static_cast<int>(variable->number));
}

// N$ counts down: each level calls the next until 0, and records N$ after the inner call.
void op_descend() {
  Variable* n = find_variable("N$");
  seen_scopes.push_back(current_scope);
  trace.push_back(static_cast<int>(n->number));
  if (n->number > 0) {
    stack_push_number(current_program, n->number - 1);
    call_callee();
  }
  trace.push_back(static_cast<int>(find_variable("N$")->number));
}

// Records P$ as bound, then stores 99 into it (into the caller's variable when an alias).
void op_record_and_set_parameter() {
  Variable* parameter = find_variable("P$");
  seen_values.push_back(value_of(target_of("P$")));
  seen_values.push_back(parameter->data && parameter->alias == nullptr ? "copy" : "no copy");
  set_variable(target_of("P$"), nullptr, 99, nullptr, -1);
}

void op_make_local_text() {
  Variable* local = create_variable(current_scope, "L$", false);
  set_variable(local, const_cast<char*>("made inside"), 0, nullptr, 12);
}

void op_make_local_object() {
  Variable* local = create_variable(current_scope, "O$", false);
  local->flags |= kVariableObject;
  local->number = 4660;
  local->data = crt::_strdup("SHAPE");
}

// The four event parameters as the handler sees them.
void op_record_event_values() {
  std::string seen;
  for (const char* name : {"A$", "B$", "C$", "D$"}) {
    seen += (seen.empty() ? "" : " ") + std::to_string(static_cast<long long>(find_variable(name)->number));
  }
  seen_values.push_back(seen);
}

void op_record_last_error() { seen_values.push_back(value_of(find_variable("LASTERROR%"))); }

void* owned_inside = nullptr;
void op_own_block() {
  owned_inside = crt::malloc(16);
  context_own_allocation(current_program, owned_inside, 0, kOwnedMemory);
}

bool is_owned(const ProgramContext* program, const void* pointer, uint32_t* depth = nullptr) {
  for (OwnedAllocation* node = program->owned; node; node = node->next) {
    if (node->pointer == pointer) {
      if (depth) *depth = node->depth;
      return true;
    }
  }
  return false;
}

// The event body: A$ * 1000 + B$ * 100 + C$ * 10 + D$ as the result.
void op_event_result() {
  double result = 0;
  for (const char* name : {"A$", "B$", "C$", "D$"}) result = result * 10 + find_variable(name)->number;
  stack_push_number(current_program, result);
}

// Records L$ as the call finds it (0 once an earlier call's value is released) and the
// scope, then sets L$.
void op_check_local() {
  seen_scopes.push_back(current_scope);
  Variable* local = find_variable("L$");
  if (!local) local = create_variable(current_scope, "L$", false);
  trace.push_back(static_cast<int>(local->number));
  local->number = 7;
}

// Calls each procedure of call_order in turn, all from this call's frame.
std::vector<InstructionNode*> call_order;
void op_call_in_order() {
  for (InstructionNode* procedure : call_order) {
    callee = procedure;
    call_callee();
  }
}

class ProcedureCalls : public VariableMachineTest {
 protected:
  void SetUp() override {
    VariableMachineTest::SetUp();
    register_push_handlers();
    register_procedure_call_handlers();
    seen_scopes.clear();
    seen_values.clear();
    callee = nullptr;
  }

  // A node with an empty extension, as the compiler gives binding and push instructions.
  static InstructionNode* with_cache(InstructionNode* node) {
    Chain::jump_to(node, nullptr);
    return node;
  }

  static int32_t scope_entries(const ProgramContext* program, InstructionNode* procedure, int32_t* in_use) {
    int32_t count = 0;
    *in_use = 0;
    for (LocalScopeCacheEntry* entry = program->scope_cache; entry; entry = entry->next) {
      if (entry->procedure != procedure) continue;
      ++count;
      *in_use += entry->in_use;
    }
    return count;
  }

  // DESCEND(N$): traces N$, calls itself with N$ - 1 while N$ > 0, then traces N$ again.
  static InstructionNode* descend_procedure(Chain& chain) {
    InstructionNode* procedure = chain.procedure("....DESCEND");
    with_cache(chain.add(op_parmspushvar, 0, "N$"));
    chain.add(op_descend);
    chain.add(op_endproc);
    return procedure;
  }

  void call_with_argument(double argument) {
    stack_push_number(context, argument);
    call(context, callee);
  }
};

TEST_F(ProcedureCalls, RecursionTakesOneScopePerLevelAndReusesThem) {
  Chain chain;
  callee = descend_procedure(chain);

  call_with_argument(2);
  EXPECT_EQ(trace, (std::vector<int>{2, 1, 0, 0, 1, 2})) << "each level keeps its own N$";
  std::set<Variable*> scopes(seen_scopes.begin(), seen_scopes.end());
  EXPECT_EQ(scopes.size(), 3u);
  int32_t in_use = 0;
  EXPECT_EQ(scope_entries(context, callee, &in_use), 3);
  EXPECT_EQ(in_use, 0);
  for (Variable* scope : scopes) {
    Variable* n = scope->next;
    ASSERT_NE(n, nullptr);
    EXPECT_STREQ(n->name, "N$") << "the record stays for the next call";
    EXPECT_EQ(n->number, 0) << "its value is released";
  }
  EXPECT_EQ(context->call_depth, 0);
  EXPECT_EQ(current_scope, locals);

  seen_scopes.clear();
  trace.clear();
  call_with_argument(2);
  EXPECT_EQ(trace, (std::vector<int>{2, 1, 0, 0, 1, 2}));
  EXPECT_EQ(std::set<Variable*>(seen_scopes.begin(), seen_scopes.end()), scopes) << "the cached scopes come back";
  EXPECT_EQ(scope_entries(context, callee, &in_use), 3);
}

// One frame calling several procedures in turn: every call runs in a scope of its own
// procedure with the last call's locals released, and each procedure keeps one scope.
TEST_F(ProcedureCalls, CallsAlternatingFromOneFrameTakeTheirOwnProceduresScope) {
  Chain chain;
  InstructionNode* procedures[3];
  const char* names[3] = {"....FIRST", "....SECOND", "....THIRD"};
  for (int index = 0; index < 3; ++index) {
    procedures[index] = chain.procedure(names[index]);
    chain.add(op_check_local);
    chain.add(op_endproc);
  }
  InstructionNode* driver = chain.procedure("....DRIVER");
  chain.add(op_call_in_order);
  chain.add(op_endproc);

  struct Row {
    const char* name;
    std::vector<int> order;
  };
  const Row rows[] = {
      {"two in turn", {0, 1, 0, 1, 0, 1}},
      {"three in turn", {0, 1, 2, 0, 1, 2, 0}},
      {"one repeated, then back to the first", {2, 2, 2, 0}},
  };
  for (const Row& row : rows) {
    call_order.clear();
    for (int index : row.order) call_order.push_back(procedures[index]);
    seen_scopes.clear();
    trace.clear();
    callee = driver;
    call_callee();
    ASSERT_EQ(seen_scopes.size(), row.order.size()) << row.name;
    EXPECT_EQ(trace, std::vector<int>(row.order.size(), 0)) << row.name << ": no value shows through";
    for (size_t call = 0; call < row.order.size(); ++call) {
      for (size_t other = 0; other < call; ++other) {
        EXPECT_EQ(seen_scopes[call] == seen_scopes[other], row.order[call] == row.order[other])
            << row.name << ": calls " << other << " and " << call;
      }
    }
    for (InstructionNode* procedure : procedures) {
      int32_t in_use = 0;
      EXPECT_LE(scope_entries(context, procedure, &in_use), 1) << row.name;
      EXPECT_EQ(in_use, 0) << row.name;
    }
    EXPECT_EQ(context->call_depth, 0) << row.name;
  }
}

// Frames remember the scope their last call gave back; once the program's cache is
// released those entries are gone, and the calls of the next code (built again, as a
// program's code goes with its scopes) must take new scopes.
TEST_F(ProcedureCalls, ScopesReleasedWithTheCacheAreNotTakenAgain) {
  for (int round = 0; round < 2; ++round) {
    Chain chain;
    callee = descend_procedure(chain);
    for (int call = 0; call < 2; ++call) {
      seen_scopes.clear();
      trace.clear();
      call_with_argument(3);
      EXPECT_EQ(trace, (std::vector<int>{3, 2, 1, 0, 0, 1, 2, 3})) << "round " << round << " call " << call;
      EXPECT_EQ(std::set<Variable*>(seen_scopes.begin(), seen_scopes.end()).size(), 4u) << "round " << round;
      int32_t in_use = 0;
      EXPECT_EQ(scope_entries(context, callee, &in_use), 4) << "round " << round << " call " << call;
      EXPECT_EQ(in_use, 0) << "round " << round;
      EXPECT_EQ(context->call_depth, 0) << "round " << round;
    }
    release_local_scopes(context);
    EXPECT_EQ(context->scope_cache, nullptr);
  }
}

TEST_F(ProcedureCalls, ParametersBindByValueOrByReference) {
  Chain chain;
  callee = chain.procedure("....SET");
  with_cache(chain.add(op_parmspushvar, 0, "P$"));
  chain.add(op_record_and_set_parameter);
  chain.add(op_endproc);

  struct Row {
    const char* name;
    const char* global_text;  // G$'s text, or null for the number 12
    bool pass_variable;
    uint32_t flags;
    const char* literal;  // a text argument without variable
    const char* seen;     // P$ inside
    const char* copied;
    const char* after;    // G$ after the call
  };
  const Row rows[] = {
      {"text variable by value", "orig", true, 0, nullptr, "orig", "copy", "orig"},
      {"text variable by reference", "orig", true, kCellByReference, nullptr, "orig", "no copy", "99"},
      {"number variable by value", nullptr, true, 0, nullptr, "12", "no copy", "12"},
      {"number variable by reference", nullptr, true, kCellByReference, nullptr, "12", "no copy", "99"},
      {"text constant", "orig", false, 0, "literal", "literal", "copy", "orig"},
      {"number constant", "orig", false, 0, nullptr, "5", "no copy", "orig"},
  };
  for (const Row& row : rows) {
    Variable* global = find_variable("G$");
    if (!global) global = create_variable(context->globals, "G$", false);
    variable_clear_value(context, global, false, false);
    if (row.global_text) set_variable(global, const_cast<char*>(row.global_text), 0, nullptr, 5);
    else global->number = 12;
    seen_values.clear();
    if (row.pass_variable) {
      push_variable_reference(global);
      context->stack_top->flags |= row.flags;
    } else if (row.literal) {
      stack_push_value(const_cast<char*>(row.literal), 0, nullptr, 0);
    } else {
      stack_push_number(context, 5);
    }
    call(context, callee);
    ASSERT_EQ(seen_values.size(), 2u) << row.name;
    EXPECT_EQ(seen_values[0], row.seen) << row.name;
    EXPECT_EQ(seen_values[1], row.copied) << row.name;
    EXPECT_EQ(value_of(global), row.after) << row.name;
    EXPECT_EQ(depth(), 0) << row.name;
  }
}

TEST_F(ProcedureCalls, AFusedBindingFillsTheLaterParameterFirst) {
  Chain chain;
  callee = chain.procedure("....PAIR");
  InstructionNode* bind = chain.add(op_parmspushvarvar, static_cast<double>(platform::address_of(crt::_strdup("D$"))), "C$");
  with_cache(bind);
  chain.add(op_endproc);
  Variable* scope = nullptr;
  for (int round = 0; round < 2; ++round) {  // the second round binds through the caches
    stack_push_number(context, 3);
    stack_push_number(context, 4);
    call(context, callee);
    scope = context->scope_cache->scope;
    EXPECT_EQ(bind->extension->cached_variable2->number, 0) << "released after the call";
  }
  EXPECT_STREQ(bind->extension->cached_variable2->name, "D$");
  EXPECT_STREQ(bind->extension->cached_variable->name, "C$");
  EXPECT_EQ(bind->extension->cached_scope, platform::address_of(scope));
  EXPECT_EQ(depth(), 0);
}

TEST_F(ProcedureCalls, AReturnedTextSurvivesItsFrameAndDiesWithItsCallersDepth) {
  Chain inner;
  callee = inner.procedure("....MAKE");
  inner.add(op_make_local_text);
  with_cache(inner.add(op_pushvar, 0, "L$"));
  inner.add(op_return);

  static void* returned = nullptr;
  static uint32_t owned_depth = 0;
  static std::string text;
  returned = nullptr;
  struct Caller {
    static void run() {
      stack_save_mark(current_program);
      call_callee();
      ValueCell* top = current_program->stack_top;
      returned = top->text;
      text = returned ? static_cast<const char*>(returned) : "";
      EXPECT_EQ(top->variable, nullptr);
      EXPECT_TRUE(is_owned(current_program, returned, &owned_depth));
      // Taken: a cell still holding it would keep it past the depth.
      stack_pop(current_program);
    }
  };
  Chain outer;
  InstructionNode* head = outer.procedure("....CALLER");
  outer.add(Caller::run);
  outer.add(op_endproc);
  call(context, head);

  EXPECT_EQ(text, "made inside");
  EXPECT_EQ(owned_depth, 1u) << "owned by the caller's depth";
  EXPECT_FALSE(is_owned(context, returned)) << "released when the caller ended";
}

TEST_F(ProcedureCalls, AReturnedObjectArrivesAsItsAddress) {
  Chain chain;
  callee = chain.procedure("....OBJ");
  chain.add(op_make_local_object);
  with_cache(chain.add(op_pushvar, 0, "O$"));
  chain.add(op_return);
  stack_save_mark(context);
  call(context, callee);
  ASSERT_EQ(depth(), 1);
  EXPECT_EQ(context->stack_top->number, 4660);
  EXPECT_EQ(context->stack_top->text, nullptr);
  EXPECT_EQ(context->stack_top->variable, nullptr);
}

TEST_F(ProcedureCalls, AllocationsAreReleasedAtTheDepthTheyWereMadeAt) {
  Chain chain;
  callee = chain.procedure("....OWN");
  chain.add(op_own_block);
  chain.add(op_endproc);
  void* kept = crt::malloc(8);
  context_own_allocation(context, kept, 0, kOwnedMemory);  // depth 0: the program's
  call(context, callee);
  EXPECT_FALSE(is_owned(context, owned_inside));
  EXPECT_TRUE(is_owned(context, kept));
  EXPECT_EQ(context->call_depth, 0);
}

// RETURN or EXIT inside two nested loops skips both ENDLOOPs: the loops' levels and what
// they own still go with the call, and a returned text belongs to the caller's level.
TEST_F(ProcedureCalls, LoopsLeftByReturnOrExitGiveBackTheirLevels) {
  struct Case {
    const char* name;
    BuiltinHandler leave;
    bool returns_text;
  } cases[] = {{"RETURN", op_return, true}, {"EXIT", op_exit, false}};
  for (const Case& row : cases) {
    Chain chain;
    callee = chain.procedure("....LOOPS");
    chain.add(flow::op_initwhile);
    chain.add(flow::op_initwhile);
    chain.add(op_own_block);
    if (row.returns_text) {
      chain.add(op_make_local_text);
      with_cache(chain.add(op_pushvar, 0, "L$"));
    }
    chain.add(row.leave);
    chain.add(flow::op_endloop);
    chain.add(flow::op_endloop);
    chain.add(op_endproc);
    stack_save_mark(context);
    call(context, callee);
    EXPECT_FALSE(is_owned(context, owned_inside)) << row.name;
    EXPECT_EQ(context->call_depth, 0) << row.name;
    if (row.returns_text) {
      ASSERT_EQ(depth(), 1) << row.name;
      uint32_t owner = 0;
      EXPECT_TRUE(is_owned(context, context->stack_top->text, &owner)) << row.name;
      EXPECT_EQ(owner, kReturnedToNativeDepth) << row.name;
      EXPECT_STREQ(static_cast<const char*>(context->stack_top->text), "made inside") << row.name;
    }
    stack_free_all(context);
    context->mark_count = 0;
    exiting_program = nullptr;
    stop_flag = 0;
  }
}

TEST_F(ProcedureCalls, TheLastTrappedErrorIsReadableInsideCalls) {
  Variable* error = create_variable(nullptr, "ERROR%", false);
  set_variable(error, const_cast<char*>("x"), 0, nullptr, 2);
  Chain chain;
  callee = chain.procedure("....SEE");
  chain.add(op_record_last_error);
  chain.add(op_endproc);
  call(context, callee);
  EXPECT_EQ(seen_values, std::vector<std::string>{"x"});
}

TEST_F(ProcedureCalls, DroppingAnArgumentLevelKeepsOrDropsTheCountedCells) {
  struct Row {
    const char* name;
    BuiltinHandler handler;
    int cells;      // numbers 1..cells above the mark
    double count;   // the operand
    std::vector<int> left;
  };
  const Row rows[] = {
      {"keep 1 of none pushes 0", op_dropfctstack, 0, 1, {0}},
      {"keep 0 of none", op_dropfctstack, 0, 0, {}},
      {"keep 1 of 3", op_dropfctstack, 3, 1, {1}},
      {"keep 2 of 2", op_dropfctstack, 2, 2, {1, 2}},
      {"drop 2 of 3", op_dropallfctstack, 3, 2, {1}},
      {"drop 3 of 2 drops none", op_dropallfctstack, 2, 3, {1, 2}},
      {"drop 0 drops none", op_dropallfctstack, 2, 0, {1, 2}},
  };
  for (const Row& row : rows) {
    stack_free_all(context);
    stack_push_number(context, 100);  // below the level: never touched
    stack_save_mark(context);
    for (int value = 1; value <= row.cells; ++value) stack_push_number(context, value);
    Chain chain;
    current_instruction = chain.add(row.handler, row.count);
    row.handler();
    std::vector<int> left;
    for (ValueCell* cell = context->stack_top; cell && cell->below; cell = cell->below) {
      left.insert(left.begin(), static_cast<int>(cell->number));
    }
    EXPECT_EQ(left, row.left) << row.name;
    EXPECT_EQ(context->mark_count, 0) << row.name;
    ASSERT_NE(context->stack_top, nullptr);
  }
}

TEST_F(ProcedureCalls, EventsBindTheirArgumentsAndThenUseTheFastPath) {
  for (bool fused : {false, true}) {
    Chain chain;
    InstructionNode* head = chain.procedure("....EVENT");
    if (fused) {
      with_cache(chain.add(op_parmspushvarvar, static_cast<double>(platform::address_of(crt::_strdup("D$"))), "C$"));
      with_cache(chain.add(op_parmspushvarvar, static_cast<double>(platform::address_of(crt::_strdup("B$"))), "A$"));
    } else {
      for (const char* name : {"D$", "C$", "B$", "A$"}) with_cache(chain.add(op_parmspushvar, 0, name));
    }
    chain.add(op_event_result);
    chain.add(op_return);

    EXPECT_EQ(call_script_handler(context, head, 1, 2, 3, 4), 1234) << fused;
    Variable* scope = head->extension->cached_variable;
    ASSERT_NE(scope, nullptr);
    // The fast path writes straight into the cached parameters: a spy in D$'s place shows it.
    InstructionExtension* last_binding = head->next->extension;
    Variable** d_slot = fused ? &last_binding->cached_variable2 : &last_binding->cached_variable;
    Variable* d = *d_slot;
    current_instruction = nullptr;  // the last round's chain is gone
    Variable* spy = create_variable(scope, "SPY$", false);
    *d_slot = spy;
    EXPECT_EQ(call_script_handler(context, head, 5, 6, 7, 8), 5670) << fused;
    EXPECT_EQ(spy->number, 0) << "released after the call";
    EXPECT_EQ(depth(), 0) << fused;
    *d_slot = d;
    EXPECT_EQ(call_script_handler(context, head, 9, 8, 7, 6), 9876) << fused;

    // A CALL from script code spoils the prepared scope: the next event binds through the stack.
    Chain script;
    InstructionNode* call_node = script.add(vm_call_procedure, 0, nullptr, head);
    for (int argument : {1, 1, 1, 1}) stack_push_number(context, argument);
    current_instruction = call_node;
    vm_call_procedure();
    stack_free_all(context);
    EXPECT_EQ(head->extension->cached_variable, nullptr);
    *d_slot = spy;
    EXPECT_EQ(call_script_handler(context, head, 2, 2, 2, 2), 2222) << fused;
    EXPECT_EQ(head->extension->cached_variable, scope);
  }
}

// A handle above 2^31 (a heap mapped high) reaches the handler as the unsigned number the
// built-ins give for it, on the stack path and on the fast path alike.
TEST_F(ProcedureCalls, EventArgumentsKeepHandlesAbove2To31Unsigned) {
  Chain chain;
  InstructionNode* head = chain.procedure("....EVENT");
  for (const char* name : {"D$", "C$", "B$", "A$"}) with_cache(chain.add(op_parmspushvar, 0, name));
  chain.add(op_record_event_values);
  chain.add(op_return);
  const double handle = 4032823568.0;
  for (int round = 0; round < 2; ++round) {
    seen_values.clear();
    call_script_handler(context, head, handle, 1025, -7, handle);
    EXPECT_EQ(seen_values, (std::vector<std::string>{"4032823568 1025 -7 4032823568"})) << "round " << round;
  }
}

}  // namespace
