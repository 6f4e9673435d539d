// Superinstructions: the pass that picks frequent sequences of a loaded program and the
// fused handlers that run them in one dispatch.
//
// Only the head node of a group changes: its handler becomes the fused one. When every
// operand is a plain number and every cached variable holds (or is found again where it
// was in another level's local scope), the fused handler does the whole group and leaves
// current_instruction on its last node; otherwise it runs the head's own handler alone
// and the rest of the group runs node by node as before.
// Anything that may fault runs with current_instruction on its own node and the stack as
// the node-by-node path would have it there.
#include "vm/fusion.h"

#include <cstring>
#include <unordered_set>

#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "foundation/variable.h"
#include "foundation/variable_store.h"
#include "platform/kernel/config.h"
#include "platform/kernel/types.h"
#include "vm/arithmetic.h"
#include "vm/assignment.h"
#include "vm/builtin_registry.h"
#include "vm/comparison.h"
#include "vm/control_flow.h"
#include "vm/increment.h"
#include "vm/procedure_call.h"
#include "vm/push_instructions.h"
#include "vm/stack_builtins.h"

namespace {

// ---- Operands of the fast paths ----

// The number a variable push would put on the stack as a plain number: no alias, getter,
// type, list, structure, text or wide mark. False for every other variable.
[[gnu::always_inline]] inline bool plain_number(const Variable* variable, double* number) {
  if (!variable || !variable_reads_plain(variable) || variable->data ||
      (variable->flags & (kVariablePackedList | kVariableWideText))) {
    return false;
  }
  *number = variable->number;
  return true;
}

// A variable that a store of a number changes by its number field alone.
[[gnu::always_inline]] inline bool plain_target(const Variable* variable) {
  return variable && !variable->alias && !(variable->flags & kVariableWideText) &&
         variable_takes_plain_number(variable);
}

[[gnu::always_inline]] inline bool first_number(const InstructionNode* node, double* number) {
  return plain_number(held_first_variable(node), number);
}

// The same for the head of a group, resolving its variable when it is not held (a new
// variable): the head's own handler would resolve it anyway, and then finds it cached.
[[gnu::always_inline]] inline bool head_number(InstructionNode* head, double* number) {
  Variable* variable = held_first_variable(head);
  return plain_number(variable ? variable : instruction_variable(head), number);
}

// The group may take its fast path: no one-shot switch is pending that the nodes would
// consume, and there is a program whose stack they use.
[[gnu::always_inline]] inline bool fast_state() {
  return current_program && !alias_follow_suppressed && !push_after_assign;
}

// A plain number on top of the stack (not a text, list or wide text).
[[gnu::always_inline]] inline ValueCell* number_on_top(ProgramContext* program) {
  ValueCell* top = program->stack_top;
  return top && !top->text && !(top->flags & (kCellList | kCellWideText)) ? top : nullptr;
}

// The jump of a conditional or loop node, as jump_to_link makes it.
[[gnu::always_inline]] inline void jump_from(InstructionNode* node) {
  const InstructionExtension* extension = node->extension;
  current_instruction = extension && extension->link ? extension->link : node;
}

// The BRANCH that ends a group, run with current_instruction on it.
[[gnu::always_inline]] inline void branch_from(InstructionNode* node) {
  current_instruction = node;
  flow::op_branch();
}

// ---- Comparisons ----

enum class Relation { Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual };

template <Relation relation>
[[gnu::always_inline]] inline bool holds(double left, double right) {
  if constexpr (relation == Relation::Equal) return left == right;
  if constexpr (relation == Relation::NotEqual) return left != right;
  if constexpr (relation == Relation::Less) return left < right;
  if constexpr (relation == Relation::Greater) return left > right;
  if constexpr (relation == Relation::LessEqual) return left <= right;
  return left >= right;
}

// The end of a conditional branch whose comparison came out truth: on false it jumps.
[[gnu::always_inline]] inline void branch_on(InstructionNode* branch, bool truth) {
  while_first_pass = 0;
  if (truth) current_instruction = branch;
  else jump_from(branch);
}

// ---- The fused handlers ----

// Builtin handlers the groups name that live above the machine, found at the pass.
BuiltinHandler getint_handler = nullptr;
BuiltinHandler setint_handler = nullptr;

// FOR over a plain counter with a number limit: savesp(PUSHVARINT v, start), a limit
// (PUSHINT, PUSHVAR, var+k, var-k), FOR. A later pass steps the counter in place.
enum class Limit { Constant, Variable, VariablePlus, VariableMinus };

template <Limit limit_kind>
void fused_for_step() {
  InstructionNode* head = current_instruction;
  InstructionNode* limit_node = head->next;
  InstructionNode* for_node = limit_node->next;
  ProgramContext* program = current_program;
  Variable* counter = held_first_variable(head);
  double value, limit;
  bool fast = fast_state() && plain_number(counter, &value) && plain_target(counter) &&
              program->mark_count >= 0 && program->mark_count < kStackMarkSlots && !loop_first_pass_pending();
  if constexpr (limit_kind == Limit::Constant) limit = limit_node->operand;
  else fast = fast && first_number(limit_node, &limit);
  if (!fast) return builtin_savesp();
  if constexpr (limit_kind == Limit::VariablePlus) limit = limit + limit_node->operand;
  if constexpr (limit_kind == Limit::VariableMinus) limit = limit - limit_node->operand;
  const double step = limit < head->operand ? -1 : 1;
  value = value + step;
  counter->number = value;
  current_instruction = for_node;
  if (step > 0 ? value > limit : value < limit) jump_from(for_node);
}

// An element address and what is done there: PUSHVARVAR a, b, [+2 c | -2 c], *2 k, +
// gives b + (a [+-] c) * k; then GETINT reads it, and a SETINT after that stores what was
// read at the address below it.
enum class Offset { None, Plus, Minus };
enum class Use { Address, Read, Copy };

template <Offset offset, Use use>
void fused_element() {
  InstructionNode* head = current_instruction;
  double index, base;
  if (!fast_state() || !first_number(head, &index) || !plain_number(held_second_variable(head), &base)) {
    return op_pushvarvar();
  }
  ProgramContext* program = current_program;
  ValueCell* address_cell = nullptr;
  if constexpr (use == Use::Copy) {
    address_cell = program->stack_top;
    if (!address_cell) return op_pushvarvar();
  }
  InstructionNode* node = head->next;
  if constexpr (offset == Offset::Plus) index = index + node->operand, node = node->next;
  if constexpr (offset == Offset::Minus) index = index - node->operand, node = node->next;
  const double address = base + index * node->operand;
  InstructionNode* add = node->next;
  if constexpr (use == Use::Address) {
    current_instruction = add;
    stack_push_number(program, address);
    return;
  }
  InstructionNode* read = add->next;
  current_instruction = read;
  int32_t item;
  std::memcpy(&item, platform::pointer_from<void>(static_cast<uint32_t>(truncate_to_int(address))), sizeof item);
  if constexpr (use == Use::Read) {
    stack_push_number(program, static_cast<double>(item));
  } else {
    current_instruction = read->next;
    program->stack_top = address_cell->below;
    const uint32_t target = static_cast<uint32_t>(cell_to_int(address_cell));
    std::memcpy(platform::pointer_from<void>(target), &item, sizeof item);
  }
}

// PUSHVARINT v, k then a conditional branch over v <relation> k.
template <Relation relation>
void fused_variable_test() {
  InstructionNode* head = current_instruction;
  double value;
  if (!fast_state() || !head_number(head, &value)) return op_pushvarint();
  branch_on(head->next, holds<relation>(value, head->operand));
}

// PUSHVAR v then a conditional branch over (top of the stack) <relation> v.
template <Relation relation>
void fused_top_test() {
  InstructionNode* head = current_instruction;
  ProgramContext* program = current_program;
  double value;
  ValueCell* top = program ? number_on_top(program) : nullptr;
  if (!top || !fast_state() || !head_number(head, &value)) return op_pushvar();
  program->stack_top = top->below;
  branch_on(head->next, holds<relation>(top->number, value));
}

// PUSHINT k, MOD or DIV over the number on top, then optionally =2 v and a BRANCH.
enum class Integer { Remainder, Quotient };
enum class Then { Push, Store, StoreAndBranch };

template <Integer operation, Then then>
void fused_integer_constant() {
  InstructionNode* head = current_instruction;
  ProgramContext* program = current_program;
  ValueCell* top = program ? number_on_top(program) : nullptr;
  if (!top || !fast_state()) return op_pushint();
  InstructionNode* operation_node = head->next;
  Variable* target = nullptr;
  if constexpr (then != Then::Push) {
    InstructionNode* store = operation_node->next;
    target = held_first_variable(store);
    if (store->operand != 0 || !plain_target(target)) return op_pushint();
  }
  double result;
  if constexpr (operation == Integer::Remainder) {
    result = integer_remainder(truncate_to_int(top->number), truncate_to_int(head->operand));
  } else {
    result = integer_quotient(top->number, head->operand);
  }
  if constexpr (then == Then::Push) {
    cell_hold_plain(top, result);
    current_instruction = operation_node;
    return;
  }
  program->stack_top = top->below;
  target->number = result;
  if constexpr (then == Then::Store) current_instruction = operation_node->next;
  else branch_from(operation_node->next->next);
}

// ++2 v / --2 v then a BRANCH.
template <int step>
void fused_step_branch() {
  InstructionNode* head = current_instruction;
  Variable* variable = held_first_variable(head);
  double value;
  if (!fast_state() || !plain_number(variable, &value) || !plain_target(variable)) {
    return step > 0 ? op_increment2() : op_decrement2();
  }
  variable->number = value + step;
  branch_from(head->next);
}

// =2 v of a plain number then a BRANCH.
void fused_store_branch() {
  InstructionNode* head = current_instruction;
  ProgramContext* program = current_program;
  ValueCell* top = program ? number_on_top(program) : nullptr;
  Variable* variable = held_first_variable(head);
  if (!top || !fast_state() || head->operand != 0 || top->data || top->references || top->flags ||
      (top->variable && (top->variable->element_count ||
                         (top->variable->flags & (kVariableStructure | kVariableObject | kVariablePackedList)))) ||
      !plain_target(variable)) {
    return op_assign2();
  }
  program->stack_top = top->below;
  variable->number = top->number;
  branch_from(head->next);
}

// savesp or savesp2 whose inner node is v + k or v - k (an argument that starts a call's
// level): the marks and the number, without the generic operand path.
template <int marks, bool plus>
void fused_mark_offset() {
  InstructionNode* head = current_instruction;
  ProgramContext* program = current_program;
  double value;
  // A mark that would be refused faults before the variable is resolved, as the head does.
  if (!fast_state() || program->mark_count < 0 || program->mark_count > kStackMarkSlots - marks ||
      !head_number(head, &value)) {
    return marks == 1 ? builtin_savesp() : builtin_savesp2();
  }
  stack_save_mark(program);
  if constexpr (marks == 2) stack_save_mark(program);
  stack_push_number(program, plus ? value + head->operand : value - head->operand);
}

// PUSHVARVAR b, a (in a new argument level when savesp runs it) then + or -, then pairs
// of PUSHVAR x and + or -: a sum of variables as one number, left to right.
template <int pairs, bool level>
void fused_sum() {
  InstructionNode* head = current_instruction;
  ProgramContext* program = current_program;
  double left, right;
  if (!fast_state() || (level && (program->mark_count < 0 || program->mark_count >= kStackMarkSlots)) ||
      !plain_number(held_second_variable(head), &left) || !first_number(head, &right)) {
    return level ? builtin_savesp() : op_pushvarvar();
  }
  InstructionNode* node = head->next;
  double sum = node->handler == op_add ? left + right : left - right;
  for (int pair = 0; pair < pairs; ++pair) {
    InstructionNode* push = node->next;
    // Resolved in order and from its own node, as the pushes would be: the nodes before
    // one are plain sums, which cannot fault.
    current_instruction = push;
    const bool plain = plain_number(instruction_variable(push), &right);
    current_instruction = head;
    if (!plain) return level ? builtin_savesp() : op_pushvarvar();
    node = push->next;
    sum = node->handler == op_add ? sum + right : sum - right;
  }
  if constexpr (level) stack_save_mark(program);
  stack_push_number(program, sum);
  current_instruction = node;
}

// Nodes run one after the other by their own handlers, each with current_instruction on
// it, as the loop would run them: the run ends where a node stops the loop or jumps.
template <BuiltinHandler handler, BuiltinHandler... rest>
[[gnu::always_inline]] inline void run_from(InstructionNode* node) {
  current_instruction = node;
  handler();
  if constexpr (sizeof...(rest) > 0) {
    if (!stop_flag && current_instruction == node) run_from<rest...>(node->next);
  }
}

template <BuiltinHandler... handlers>
void fused_run() {
  run_from<handlers...>(current_instruction);
}

// ---- Patterns ----

struct Fused {
  BuiltinHandler handler;   // the fused handler
  BuiltinHandler original;  // the head's handler it stands for
};

const Fused kFused[] = {
    {fused_for_step<Limit::Constant>, builtin_savesp},
    {fused_for_step<Limit::Variable>, builtin_savesp},
    {fused_for_step<Limit::VariablePlus>, builtin_savesp},
    {fused_for_step<Limit::VariableMinus>, builtin_savesp},
    {fused_element<Offset::None, Use::Address>, op_pushvarvar},
    {fused_element<Offset::Plus, Use::Address>, op_pushvarvar},
    {fused_element<Offset::Minus, Use::Address>, op_pushvarvar},
    {fused_element<Offset::None, Use::Read>, op_pushvarvar},
    {fused_element<Offset::Plus, Use::Read>, op_pushvarvar},
    {fused_element<Offset::Minus, Use::Read>, op_pushvarvar},
    {fused_element<Offset::None, Use::Copy>, op_pushvarvar},
    {fused_element<Offset::Plus, Use::Copy>, op_pushvarvar},
    {fused_element<Offset::Minus, Use::Copy>, op_pushvarvar},
    {fused_variable_test<Relation::Equal>, op_pushvarint},
    {fused_variable_test<Relation::NotEqual>, op_pushvarint},
    {fused_variable_test<Relation::Less>, op_pushvarint},
    {fused_variable_test<Relation::Greater>, op_pushvarint},
    {fused_variable_test<Relation::LessEqual>, op_pushvarint},
    {fused_variable_test<Relation::GreaterEqual>, op_pushvarint},
    {fused_top_test<Relation::Equal>, op_pushvar},
    {fused_top_test<Relation::NotEqual>, op_pushvar},
    {fused_top_test<Relation::Less>, op_pushvar},
    {fused_top_test<Relation::Greater>, op_pushvar},
    {fused_top_test<Relation::LessEqual>, op_pushvar},
    {fused_top_test<Relation::GreaterEqual>, op_pushvar},
    {fused_integer_constant<Integer::Remainder, Then::Push>, op_pushint},
    {fused_integer_constant<Integer::Remainder, Then::Store>, op_pushint},
    {fused_integer_constant<Integer::Remainder, Then::StoreAndBranch>, op_pushint},
    {fused_integer_constant<Integer::Quotient, Then::Push>, op_pushint},
    {fused_integer_constant<Integer::Quotient, Then::Store>, op_pushint},
    {fused_integer_constant<Integer::Quotient, Then::StoreAndBranch>, op_pushint},
    {fused_step_branch<1>, op_increment2},
    {fused_step_branch<-1>, op_decrement2},
    {fused_store_branch, op_assign2},
    {fused_mark_offset<1, true>, builtin_savesp},
    {fused_mark_offset<1, false>, builtin_savesp},
    {fused_mark_offset<2, true>, builtin_savesp2},
    {fused_mark_offset<2, false>, builtin_savesp2},
    {fused_sum<0, false>, op_pushvarvar},
    {fused_sum<1, false>, op_pushvarvar},
    {fused_sum<2, false>, op_pushvarvar},
    {fused_sum<3, false>, op_pushvarvar},
    {fused_sum<0, true>, builtin_savesp},
    {fused_sum<1, true>, builtin_savesp},
    {fused_sum<2, true>, builtin_savesp},
    {fused_sum<3, true>, builtin_savesp},
};

// Runs of nodes taken as one dispatch, each node by its own handler: what calls leave
// around them (parameters bound before the first statement, the result dropped to and
// added, returned or stored), longest first. A step names a node's handler and inner one.
struct Step {
  BuiltinHandler handler;
  BuiltinHandler inner;
};
struct Run {
  BuiltinHandler fused;
  Step steps[4];
};

constexpr Step kBind{op_parmspushvar, nullptr};
constexpr Step kBindTwo{op_parmspushvarvar, nullptr};
constexpr Step kFirst{flow::op_first_op, nullptr};
constexpr Step kDrop{op_dropfctstack, nullptr};
constexpr Step kAdd{op_add, nullptr};
constexpr Step kTestOf{op_pushvarint, nullptr};
constexpr Step kBranchIf(BuiltinHandler comparison) { return {flow::op_branch_if_false, comparison}; }

const Run kRuns[] = {
    // Parameters bound before the first statement. Four parameters in two pairs stay as
    // they are: an event call looks for that shape to bind its arguments directly.
    // A procedure that tests its parameter first (a recursion's end).
    {fused_run<op_parmspushvar, flow::op_first_op, fused_variable_test<Relation::Equal>>,
     {kBind, kFirst, kTestOf, kBranchIf(op_equal)}},
    {fused_run<op_parmspushvar, flow::op_first_op, fused_variable_test<Relation::NotEqual>>,
     {kBind, kFirst, kTestOf, kBranchIf(op_not_equal)}},
    {fused_run<op_parmspushvar, flow::op_first_op, fused_variable_test<Relation::Less>>,
     {kBind, kFirst, kTestOf, kBranchIf(op_less)}},
    {fused_run<op_parmspushvar, flow::op_first_op, fused_variable_test<Relation::Greater>>,
     {kBind, kFirst, kTestOf, kBranchIf(op_greater)}},
    {fused_run<op_parmspushvar, flow::op_first_op, fused_variable_test<Relation::LessEqual>>,
     {kBind, kFirst, kTestOf, kBranchIf(op_less_equal)}},
    {fused_run<op_parmspushvar, flow::op_first_op, fused_variable_test<Relation::GreaterEqual>>,
     {kBind, kFirst, kTestOf, kBranchIf(op_greater_equal)}},
    {fused_run<op_parmspushvarvar, op_parmspushvar, flow::op_first_op>, {kBindTwo, kBind, kFirst}},
    {fused_run<op_parmspushvar, op_parmspushvar, flow::op_first_op>, {kBind, kBind, kFirst}},
    {fused_run<op_parmspushvarvar, op_parmspushvar>, {kBindTwo, kBind}},
    {fused_run<op_parmspushvarvar, flow::op_first_op>, {kBindTwo, kFirst}},
    {fused_run<op_parmspushvar, flow::op_first_op>, {kBind, kFirst}},
    // The result of a call added to what came before, then returned or stored.
    {fused_run<op_dropfctstack, op_add, op_return>, {kDrop, kAdd, {op_return, nullptr}}},
    {fused_run<op_dropfctstack, op_add, fused_store_branch>,
     {kDrop, kAdd, {op_assign2, nullptr}, {flow::op_branch, nullptr}}},
    {fused_run<op_dropfctstack, op_add>, {kDrop, kAdd}},
    {fused_run<op_dropfctstack, op_sub>, {kDrop, {op_sub, nullptr}}},
    // A call's result dropped to, then the next call's first argument.
    {fused_run<op_dropfctstack, fused_mark_offset<1, false>>, {kDrop, {builtin_savesp, op_sub5}}},
    {fused_run<op_dropfctstack, fused_mark_offset<1, true>>, {kDrop, {builtin_savesp, op_add5}}},
    // A variable and constant arguments pushed in one go.
    {fused_run<builtin_savesp, op_pushint>, {{builtin_savesp, op_pushvarint}, {op_pushint, nullptr}}},
    {fused_run<builtin_savesp, op_pushintint>, {{builtin_savesp, op_pushvarint}, {op_pushintint, nullptr}}},
};

int run_length(const Run& run) {
  int length = 0;
  while (length < 4 && run.steps[length].handler) ++length;
  return length;
}

// A node whose own handler (no inner one) is handler.
bool plain_node(const InstructionNode* node, BuiltinHandler handler) {
  return node && handler && node->handler == handler && !node->inner_handler;
}

// The relation of a conditional branch that runs a generic comparison, or -1.
int branch_relation(const InstructionNode* node) {
  if (!node || node->handler != flow::op_branch_if_false) return -1;
  const BuiltinHandler kComparisons[] = {op_equal, op_not_equal, op_less, op_greater, op_less_equal,
                                         op_greater_equal};
  for (int index = 0; index < 6; ++index) {
    if (node->inner_handler == kComparisons[index]) return index;
  }
  return -1;
}

using Entries = std::unordered_set<const InstructionNode*>;

// True when a node of the length nodes from head, past the head, is an entry.
bool spans_entry(const InstructionNode* head, int length, const Entries& entries) {
  for (int index = 1; head && index < length; ++index) {
    head = head->next;
    if (!head || entries.count(head)) return true;
  }
  return false;
}

bool binds_parameters(const InstructionNode* node) {
  return node && (node->handler == op_parmspushvar || node->handler == op_parmspushvarvar);
}

// The first run that starts at head and spans no entry, with its length. Parameters are
// bound from the first push on only, so the pushes an event call looks for keep their
// handlers when the first one cannot be fused.
BuiltinHandler match_run(const InstructionNode* before, const InstructionNode* head, const Entries& entries,
                         int* length) {
  if (binds_parameters(head) && binds_parameters(before)) return nullptr;
  for (const Run& run : kRuns) {
    const InstructionNode* node = head;
    const int steps = run_length(run);
    int index = 0;
    for (; index < steps && node; ++index, node = node->next) {
      if (node->handler != run.steps[index].handler || node->inner_handler != run.steps[index].inner) break;
    }
    if (index == steps && !spans_entry(head, steps, entries)) {
      *length = steps;
      return run.fused;
    }
  }
  return nullptr;
}

// The sum of variables that starts at head (PUSHVARVAR, plain or under savesp), with its
// length; null when none.
BuiltinHandler match_sum(const InstructionNode* head, int* length) {
  const bool level = head->handler == builtin_savesp && head->inner_handler == op_pushvarvar;
  if (!level && !plain_node(head, op_pushvarvar)) return nullptr;
  const InstructionNode* node = head->next;
  if (!plain_node(node, op_add) && !plain_node(node, op_sub)) return nullptr;
  int pairs = 0;
  while (pairs < 3 && plain_node(node->next, op_pushvar) &&
         (plain_node(node->next->next, op_add) || plain_node(node->next->next, op_sub))) {
    node = node->next->next;
    ++pairs;
  }
  *length = 2 + 2 * pairs;
  static const BuiltinHandler kSums[2][4] = {
      {fused_sum<0, false>, fused_sum<1, false>, fused_sum<2, false>, fused_sum<3, false>},
      {fused_sum<0, true>, fused_sum<1, true>, fused_sum<2, true>, fused_sum<3, true>},
  };
  return kSums[level ? 1 : 0][pairs];
}

// The fused handler for the group that starts at head, with its length; null when none.
BuiltinHandler match(const InstructionNode* before, const InstructionNode* head, const Entries& entries,
                     int* length) {
  const InstructionNode* second = head->next;
  if (!second) return nullptr;
  const InstructionNode* third = second->next;

  if (head->handler == builtin_savesp && head->inner_handler == op_pushvarint && third &&
      plain_node(third, flow::op_for)) {
    *length = 3;
    if (plain_node(second, op_pushint)) return fused_for_step<Limit::Constant>;
    if (plain_node(second, op_pushvar)) return fused_for_step<Limit::Variable>;
    if (plain_node(second, op_add5)) return fused_for_step<Limit::VariablePlus>;
    if (plain_node(second, op_sub5)) return fused_for_step<Limit::VariableMinus>;
    return nullptr;
  }

  if (BuiltinHandler run = match_run(before, head, entries, length)) return run;
  if (BuiltinHandler sum = match_sum(head, length)) return sum;
  if ((head->handler == builtin_savesp || head->handler == builtin_savesp2) &&
      (head->inner_handler == op_add5 || head->inner_handler == op_sub5)) {
    *length = 1;
    const bool plus = head->inner_handler == op_add5;
    if (head->handler == builtin_savesp) return plus ? fused_mark_offset<1, true> : fused_mark_offset<1, false>;
    return plus ? fused_mark_offset<2, true> : fused_mark_offset<2, false>;
  }

  if (plain_node(head, op_pushvarvar)) {
    const InstructionNode* node = second;
    int offset = 0;
    if (plain_node(node, op_add2)) offset = 1, node = node->next;
    else if (plain_node(node, op_sub2)) offset = 2, node = node->next;
    if (!plain_node(node, op_mul2) || !plain_node(node->next, op_add)) return nullptr;
    const InstructionNode* add = node->next;
    int use = 0;
    *length = 3 + (offset ? 1 : 0);
    if (plain_node(add->next, getint_handler)) {
      use = 1;
      *length += 1;
      if (plain_node(add->next->next, setint_handler)) use = 2, *length += 1;
    }
    static const BuiltinHandler kElements[3][3] = {
        {fused_element<Offset::None, Use::Address>, fused_element<Offset::None, Use::Read>,
         fused_element<Offset::None, Use::Copy>},
        {fused_element<Offset::Plus, Use::Address>, fused_element<Offset::Plus, Use::Read>,
         fused_element<Offset::Plus, Use::Copy>},
        {fused_element<Offset::Minus, Use::Address>, fused_element<Offset::Minus, Use::Read>,
         fused_element<Offset::Minus, Use::Copy>},
    };
    return kElements[offset][use];
  }

  if (plain_node(head, op_pushvarint) || plain_node(head, op_pushvar)) {
    const int relation = branch_relation(second);
    if (relation < 0) return nullptr;
    *length = 2;
    static const BuiltinHandler kVariableTests[] = {
        fused_variable_test<Relation::Equal>,     fused_variable_test<Relation::NotEqual>,
        fused_variable_test<Relation::Less>,      fused_variable_test<Relation::Greater>,
        fused_variable_test<Relation::LessEqual>, fused_variable_test<Relation::GreaterEqual>};
    static const BuiltinHandler kTopTests[] = {
        fused_top_test<Relation::Equal>,     fused_top_test<Relation::NotEqual>,
        fused_top_test<Relation::Less>,      fused_top_test<Relation::Greater>,
        fused_top_test<Relation::LessEqual>, fused_top_test<Relation::GreaterEqual>};
    return head->handler == op_pushvarint ? kVariableTests[relation] : kTopTests[relation];
  }

  if (plain_node(head, op_pushint)) {
    const bool remainder = plain_node(second, op_mod);
    if (!remainder && !plain_node(second, op_int_div)) return nullptr;
    int then = 0;
    *length = 2;
    if (plain_node(third, op_assign2)) {
      then = 1;
      *length = 3;
      if (plain_node(third->next, flow::op_branch)) then = 2, *length = 4;
    }
    static const BuiltinHandler kIntegers[2][3] = {
        {fused_integer_constant<Integer::Remainder, Then::Push>, fused_integer_constant<Integer::Remainder, Then::Store>,
         fused_integer_constant<Integer::Remainder, Then::StoreAndBranch>},
        {fused_integer_constant<Integer::Quotient, Then::Push>, fused_integer_constant<Integer::Quotient, Then::Store>,
         fused_integer_constant<Integer::Quotient, Then::StoreAndBranch>},
    };
    return kIntegers[remainder ? 0 : 1][then];
  }

  if ((plain_node(head, op_increment2) || plain_node(head, op_decrement2)) && plain_node(second, flow::op_branch)) {
    *length = 2;
    return head->handler == op_increment2 ? fused_step_branch<1> : fused_step_branch<-1>;
  }
  if (plain_node(head, op_assign2) && plain_node(second, flow::op_branch)) {
    *length = 2;
    return fused_store_branch;
  }
  return nullptr;
}

BuiltinHandler registered(const char* name) {
  const int32_t index = find_builtin_by_hash(builtin_name_hash(name));
  const BuiltinEntry* entry = index >= 0 ? builtin_entry(index) : nullptr;
  return entry ? entry->handler : nullptr;
}

// Every node that execution can reach other than from its predecessor: the successor of
// each jump target and of each link (loop exits, CASE labels, EXCEPT parts, GOTO labels,
// called procedures, whose calls may also start past two or four parameter pushes).
// A FIRST_OP adds none: it links only a node left pending for it, and no program leaves
// one, so the group that opens a procedure body (often its first test) is fused too.
Entries entry_points(InstructionNode* first) {
  Entries entries;
  const auto enter_after = [&entries](const InstructionNode* target) {
    entries.insert(target->next);
    // An event call binds the parameters itself and starts past their pushes.
    const InstructionNode* node = target->next;
    for (BuiltinHandler push : {op_parmspushvarvar, op_parmspushvar}) {
      const int pushes = push == op_parmspushvarvar ? 2 : 4;
      const InstructionNode* after = node;
      int count = 0;
      while (count < pushes && after && after->handler == push) after = after->next, ++count;
      if (count == pushes) entries.insert(after);
    }
  };
  for (InstructionNode* node = first; node; node = node->next) {
    if (const InstructionExtension* extension = node->extension) {
      if (extension->is_jump_target) enter_after(node);
      if (extension->link) enter_after(extension->link);
    }
  }
  return entries;
}

}  // namespace

uint8_t fusion_disabled = 0;

// A group runs as one only when execution can enter it at its head alone: no node past
// the head may be an entry (spans_entry), or a jump into it would skip the fused handler.
void fuse_instructions(InstructionNode* first) {
  if (fusion_disabled || platform::setting("ZRK_FUSION") == "off") return;
  getint_handler = registered("getint");
  setint_handler = registered("setint");
  const auto entries = entry_points(first);
  InstructionNode* before = nullptr;
  for (InstructionNode* head = first; head;) {
    int length = 0;
    BuiltinHandler fused = match(before, head, entries, &length);
    if (fused && spans_entry(head, length, entries)) fused = nullptr;
    if (!fused) {
      before = head;
      head = head->next;
      continue;
    }
    head->handler = fused;
    InstructionNode* last = head;
    for (int index = 1; index < length; ++index) last = last->next;
    before = last;
    head = last->next;
  }
}

BuiltinHandler unfused_handler(BuiltinHandler handler) {
  for (const Fused& entry : kFused) {
    if (entry.handler == handler) return entry.original;
  }
  for (const Run& run : kRuns) {
    if (run.fused == handler) return run.steps[0].handler;
  }
  return handler;
}
