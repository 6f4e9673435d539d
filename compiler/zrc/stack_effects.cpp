// The value-stack check of a loaded instruction list (see stack_effects.h). Each
// procedure is walked once per change of what a path brings to an instruction: the
// state at an instruction is the least any path into it holds (fewest cells, the marks
// all paths share), so a loop is walked again only while that shrinks.
#include "compiler/zrc/stack_effects.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vm/opcode_handler_table.h"

namespace {

// The opcodes by their role on the stack.
enum Opcode : uint32_t {
  kStartProc = 1, kEndProc = 2, kBranch = 3, kPushInt = 4, kPushStr = 5, kPushVar = 6, kNgPushVar = 7,
  kInitForeach = 8, kInitFor = 9, kParmsPushVar = 10, kIf = 12, kExpect = 13, kWhile = 14, kFor = 15,
  kForeach = 16, kTry = 17, kUntil = 18, kBreak = 19, kPushProcAddr = 20, kPullCase = 21, kPushCase = 22,
  kAddr = 23, kReturn = 24, kCall = 25, kSelfCall = 26, kObjRun = 27, kNParms = 28, kRangeMode = 29,
  kExplicitMode = 30, kRunFile = 31, kAssign2 = 33, kInternalCall = 34, kIncrement2 = 35, kDecrement2 = 36,
  kIncrement4 = 37, kDecrement4 = 38, kOffset2 = 39, kOffset2_1 = 40, kClass4 = 41, kDropFctStack = 43,
  kDropAllFctStack = 44, kSaveSp2 = 46, kPushIntInt = 47, kPushIntStr = 48, kPushVarInt = 49,
  kPushNgVarInt = 50, kPushIntCase = 51, kPushIntVar = 52, kPushStrVar = 53, kPushStrStr = 54,
  kPushVarStr = 56, kPushNgVarStr = 57, kAssign3 = 58, kAssign4 = 59, kIncrement3 = 60, kDecrement3 = 61,
  kAssign5 = 64, kEqual2 = 65, kGreaterEqual2 = 69, kAdd2 = 70, kDiv2 = 75, kOffset2_2 = 76, kAddr2 = 77,
  kAddAssign2 = 78, kAndAssign2 = 83, kStartProcUndefined = 84, kExcept = 86, kPushStrInt = 87,
  kNotEqual2 = 88, kAdd5 = 97, kDiv6 = 104, kFirstOp = 105, kPushVarVar = 106, kParmsPushVarVar = 107,
  kNgPushVarVar = 108, kFirstExternal = 109, kLastExternal = 176, kSaveSp = 181, kDropStack = 182,
  kForwardProc = 184, kInitWhile = 185, kEndLoop = 186,
};

// More results or case labels than any statement has: the count of a damaged record.
constexpr double kLargestCount = 255;

// What the paths into an instruction hold above the procedure's floor.
struct State {
  bool reached = false;
  bool open = false;  // not followed: what the stack holds depends on what runs
  int32_t cells = 0;
  std::vector<int32_t> marks;  // the cell count at each open mark, innermost last
  bool push_pending = false;   // "__set_push": the next store also pushes its value
};

// The effect of a built-in call on the stack, by the compiler's count of its arguments.
enum class Call { Counted, ToMark, Binary, Unary, Store, Step, Mark, Mark2, SetPush, Offset, Dup, Drop, None, Open };

struct NamedCall {
  const char* name;
  Call call;
};
// The built-ins the registry counts as taking nothing whose handlers use the stack.
constexpr NamedCall kNamedCalls[] = {
    {"=", Call::Store},    {"M=", Call::Store},  {"+=", Call::Store},   {"-=", Call::Store},
    {"*=", Call::Store},   {"/=", Call::Store},  {"|=", Call::Store},   {"&=", Call::Store},
    {"^=", Call::Store},   {"++", Call::Step},   {"--", Call::Step},    {"++2", Call::Step},
    {"--2", Call::Step},   {"==", Call::Binary}, {"<>", Call::Binary},  {">", Call::Binary},
    {"<", Call::Binary},   {"<<", Call::Binary}, {">>", Call::Binary},  {">=", Call::Binary},
    {"<=", Call::Binary},  {"@", Call::Binary},  {"+", Call::Binary},   {"-", Call::Binary},
    {"*", Call::Binary},   {"/", Call::Binary},  {"AND", Call::Binary}, {"OR", Call::Binary},
    {"XOR", Call::Binary}, {"DIV", Call::Binary}, {"MOD", Call::Binary}, {"ASL", Call::Binary},
    {"ASR", Call::Binary}, {"SHL", Call::Binary}, {"SHR", Call::Binary}, {"&", Call::Binary},
    {"|", Call::Binary},   {"^", Call::Binary},  {"%", Call::Binary},   {"~", Call::Unary},
    {"__OFFSETVAR", Call::Binary}, {"__OFFSET1", Call::Binary}, {"__OFFSET", Call::Offset},
    {"__SAVESP", Call::Mark}, {"__SAVESP2", Call::Mark2}, {"__SET_PUSH", Call::SetPush},
    {"DUPSTACK", Call::Dup}, {"DROPSTACK", Call::Drop}, {"__DEBUG", Call::None}, {"HALT", Call::None},
    {"EXIT", Call::None}, {"__NOEXPLICITCHECK", Call::None},
};

// The stack built-ins that work on marks and cells of their own choosing.
constexpr const char* kOpenCalls[] = {"PUSH", "PULL", "CLEARSTACK"};

Call call_of(const BuiltinEntry* entry) {
  if (!entry || !entry->name) return Call::Open;
  for (const char* name : kOpenCalls) {
    if (std::strcmp(entry->name, name) == 0) return Call::Open;
  }
  if (entry->save_sp) return Call::ToMark;
  if (entry->variadic) return Call::Open;
  if (entry->param_count || entry->returns_value) return Call::Counted;
  for (const NamedCall& named : kNamedCalls) {
    if (std::strcmp(entry->name, named.name) == 0) return named.call;
  }
  return Call::Open;
}

class ProcedureCheck {
 public:
  ProcedureCheck(const std::vector<const InstructionNode*>& nodes, const CalledBuiltins& builtins,
                 const std::unordered_map<const InstructionNode*, int32_t>& parameters)
      : nodes_(nodes), builtins_(builtins), parameters_(parameters), states_(nodes.size()) {
    for (size_t index = 0; index < nodes.size(); ++index) position_[nodes[index]] = static_cast<int32_t>(index);
  }

  // entry: the cells the caller leaves for the procedure's parameters, or -1 when a
  // variadic procedure takes what it is given.
  bool run(int32_t entry) {
    if (!links_stay_inside()) return false;
    State start;
    start.reached = true;
    start.open = entry < 0;
    start.cells = std::max(entry, 0);
    if (nodes_.size() < 2) return true;
    states_[1] = start;
    std::vector<int32_t> pending = {1};
    while (!pending.empty()) {
      int32_t index = pending.back();
      pending.pop_back();
      State state = states_[index];
      std::vector<std::pair<int32_t, State>> next;
      if (!step(index, state, &next)) return false;
      for (auto& [target, out] : next) {
        if (target < 0 || target >= static_cast<int32_t>(nodes_.size())) return false;
        if (merge(&states_[target], out)) pending.push_back(target);
      }
    }
    return true;
  }

 private:
  // Jumps, loops, cases and TRY link inside their procedure, never to its end (the run
  // goes on after the linked node); calls link to procedure heads; nothing else links.
  bool links_stay_inside() const {
    const int32_t last = static_cast<int32_t>(nodes_.size()) - 1;
    for (const InstructionNode* node : nodes_) {
      const InstructionNode* link = node->extension ? node->extension->link : nullptr;
      if (!link) continue;
      if (is_call(node)) {
        if (link->opcode != kStartProc && link->opcode != kStartProcUndefined) return false;
        continue;
      }
      if (!is_linked_flow(node)) return false;
      auto found = position_.find(link);
      if (found == position_.end() || found->second >= last) return false;
    }
    return true;
  }

  static bool outer_is(const InstructionNode* node, uint32_t opcode) {
    return node->inner_handler && node->handler == OpcodeHandlerTable[opcode];
  }
  static bool is_call(const InstructionNode* node) {
    return node->opcode == kCall || node->opcode == kSelfCall;
  }
  static bool is_linked_flow(const InstructionNode* node) {
    switch (node->opcode) {
      case kBranch: case kIf: case kWhile: case kUntil: case kFor: case kForeach: case kTry: case kBreak:
      case kPushCase: case kPushIntCase:
        return true;
      default:
        return outer_is(node, kBranch) || outer_is(node, kWhile);
    }
  }

  static bool merge(State* into, const State& from) {
    if (!into->reached) {
      *into = from;
      return true;
    }
    if (into->open) return false;
    if (from.open || from.marks != into->marks) {
      // Paths that disagree on their marks: what a mark taker finds is not known.
      into->open = true;
      return true;
    }
    bool changed = false;
    if (from.cells < into->cells) {
      into->cells = from.cells;
      changed = true;
    }
    if (into->push_pending && !from.push_pending) {
      into->push_pending = false;
      changed = true;
    }
    return changed;
  }

  static bool pop(State* state, int32_t count) {
    if (count < 0 || state->cells < count) return false;
    state->cells -= count;
    return true;
  }
  static void push(State* state, int32_t count) { state->cells += count; }
  // Takes the innermost mark and every cell above it.
  static bool pop_to_mark(State* state) {
    if (state->marks.empty() || state->marks.back() > state->cells) return false;
    state->cells = state->marks.back();
    state->marks.pop_back();
    return true;
  }
  // A store, step or compound assignment: its value is pushed only after "__set_push".
  static void pushed_if_asked(State* state) {
    if (state->push_pending) push(state, 1);
    state->push_pending = false;
  }

  int32_t after(const InstructionNode* node) const { return position_.at(node->extension->link) + 1; }

  // The cells a call's procedure takes, or -1 when that is known only when it runs.
  int32_t callee_parameters(const InstructionNode* node) const {
    const InstructionNode* head = node->extension ? node->extension->link : nullptr;
    auto found = head ? parameters_.find(head) : parameters_.end();
    return found == parameters_.end() ? -1 : found->second;
  }

  bool linked(const InstructionNode* node) const { return node->extension && node->extension->link; }
  static bool is_jump(const InstructionNode* node) {
    return node->opcode == kBranch || outer_is(node, kBranch);
  }

  // The successors of a node on a path that is not followed.
  void open_successors(int32_t index, const State& state, std::vector<std::pair<int32_t, State>>* next) const {
    const InstructionNode* node = nodes_[index];
    if (node->opcode == kEndProc || node->opcode == kReturn) return;
    if (is_linked_flow(node) && linked(node)) next->emplace_back(after(node), state);
    if (!is_jump(node) || !linked(node)) next->emplace_back(index + 1, state);
  }

  // The effect of one instruction: its successors and what each of them gets.
  bool step(int32_t index, State state, std::vector<std::pair<int32_t, State>>* next) {
    const InstructionNode* node = nodes_[index];
    if (state.open) {
      open_successors(index, state, next);
      return true;
    }
    if (is_jump(node)) {
      // A jump, also one wrapping another instruction: that one does not run.
      next->emplace_back(linked(node) ? after(node) : index + 1, state);
      return true;
    }
    // A fused node: the outer handler's part around the inner instruction's.
    if (outer_is(node, kSaveSp)) {
      state.marks.push_back(state.cells);
    } else if (outer_is(node, kSaveSp2)) {
      state.marks.push_back(state.cells);
      state.marks.push_back(state.cells);
    }
    if (!inner_effect(node, &state)) return false;
    if (!state.open && (outer_is(node, kWhile) || outer_is(node, kDropStack)) && !pop(&state, 1)) return false;
    if (state.open) {
      open_successors(index, state, next);
      return true;
    }
    switch (node->opcode) {
      case kEndProc:
      case kReturn:
        return true;
      default:
        // Conditions, loops, cases and TRY (a fault in its block resumes after the linked
        // node with at least what the TRY had: a statement takes only what it pushes) go
        // on at their link too; BREAK's link names its loop and does not jump.
        if (is_linked_flow(node) && node->opcode != kBreak && linked(node)) {
          next->emplace_back(after(node), state);
        }
        next->emplace_back(index + 1, state);
        return true;
    }
  }

  // What the instruction of the node's opcode (the inner one of a fused node) does to the
  // stack; false when it takes what the path does not hold.
  bool inner_effect(const InstructionNode* node, State* state) const {
    const uint32_t opcode = node->opcode;
    if (opcode >= kFirstExternal && opcode <= kLastExternal) {
      // A declared function takes its declared count; the second and fourth family of
      // seventeen give a result.
      const BuiltinEntry* entry = builtin_entry(static_cast<int32_t>(node->operand));
      if (!entry) return false;
      if (!pop(state, std::min<int32_t>(entry->param_count, 16))) return false;
      if (((opcode - kFirstExternal) / 17) % 2 == 1) push(state, 1);
      return true;
    }
    switch (opcode) {
      case kStartProc:
      case kStartProcUndefined:
      case kInitForeach:
      case kInitFor:
      case kInitWhile:
      case kEndLoop:
      case kExpect:
      case kExcept:
      case kFirstOp:
      case kForwardProc:
      case kRangeMode:
      case kExplicitMode:
      case kBreak:
      case kTry:
      case kEndProc:
      case kBranch:
        return true;
      case kReturn:
        if (!state->marks.empty()) state->marks.pop_back();
        return true;
      case kSaveSp:
        state->marks.push_back(state->cells);
        return true;
      case kSaveSp2:
        state->marks.push_back(state->cells);
        state->marks.push_back(state->cells);
        return true;
      case kDropStack:
        return pop(state, 1);
      case kPushInt:
      case kPushStr:
      case kPushVar:
      case kNgPushVar:
      case kPushProcAddr:
      case kOffset2_2:
      case kAddr2:
        push(state, 1);
        return true;
      case kPushIntInt:
      case kPushIntStr:
      case kPushVarInt:
      case kPushNgVarInt:
      case kPushIntVar:
      case kPushStrVar:
      case kPushStrStr:
      case kPushVarStr:
      case kPushNgVarStr:
      case kPushStrInt:
      case kPushVarVar:
      case kNgPushVarVar:
        push(state, 2);
        return true;
      case kParmsPushVar:
      case kPullCase:
      case kIf:
      case kWhile:
      case kUntil:
        return pop(state, 1);
      case kParmsPushVarVar:
        return pop(state, 2);
      case kAddr:
      case kOffset2_1:
        if (!pop(state, 1)) return false;
        push(state, 1);
        return true;
      case kFor:
      case kForeach:
        return pop_to_mark(state);
      case kOffset2:
        if (!pop_to_mark(state)) return false;
        push(state, 1);
        return true;
      case kPushIntCase:
      case kPushCase: {
        if (opcode == kPushIntCase) push(state, 1);
        if (node->work > kLargestCount) return false;
        return pop(state, static_cast<int32_t>(node->work));
      }
      case kCall:
      case kSelfCall: {
        int32_t taken = callee_parameters(node);
        if (taken < 0) {
          state->open = true;
          return true;
        }
        // The results stay above the caller's mark until its drop names their count.
        return pop(state, taken);
      }
      case kDropFctStack:
      case kDropAllFctStack: {
        if (!(node->operand >= 1 && node->operand <= kLargestCount)) return false;
        const auto count = static_cast<int32_t>(node->operand);
        if (state->marks.empty() || state->marks.back() > state->cells) return false;
        const int32_t mark = state->marks.back();
        state->marks.pop_back();
        if (opcode == kDropFctStack) {
          state->cells = mark + count;
        } else if (state->cells - mark >= count) {
          state->cells -= count;
        } else {
          state->cells = mark;
        }
        return true;
      }
      case kAssign2:
      case kAssign5:
      case kAddAssign2:
      case kAddAssign2 + 1:
      case kAddAssign2 + 2:
      case kAddAssign2 + 3:
      case kAddAssign2 + 4:
      case kAndAssign2:
        // The value (or, for "=5", the target) comes from the stack.
        if (!pop(state, 1)) return false;
        pushed_if_asked(state);
        return true;
      case kAssign3:
      case kAssign4:
      case kIncrement2:
      case kDecrement2:
      case kIncrement4:
      case kDecrement4:
      case kIncrement3:
      case kDecrement3:
        pushed_if_asked(state);
        return true;
      case kInternalCall:
        return builtin_effect(node, state);
      default:
        if ((opcode >= kEqual2 && opcode <= kDiv2) || opcode == kNotEqual2) {
          // An operator with its right operand in the instruction.
          if (!pop(state, 1)) return false;
          push(state, 1);
          return true;
        }
        if (opcode >= kAdd5 && opcode <= kDiv6) {
          // An operator on the instruction's variable and constant.
          push(state, 1);
          return true;
        }
        // A method call, the argument list of a variadic procedure, a file run: what
        // they take is known when they run.
        state->open = true;
        return true;
    }
  }

  bool builtin_effect(const InstructionNode* node, State* state) const {
    auto found = builtins_.find(node);
    const BuiltinEntry* entry = found == builtins_.end() ? nullptr : found->second;
    switch (call_of(entry)) {
      case Call::Counted:
        if (!pop(state, entry->param_count)) return false;
        push(state, entry->returns_value ? 1 : 0);
        return true;
      case Call::ToMark:
        if (!pop_to_mark(state)) return false;
        push(state, entry->returns_value ? 1 : 0);
        return true;
      case Call::Binary:
        if (!pop(state, 2)) return false;
        push(state, 1);
        return true;
      case Call::Unary:
        if (!pop(state, 1)) return false;
        push(state, 1);
        return true;
      case Call::Store:
        if (!pop(state, 2)) return false;
        pushed_if_asked(state);
        return true;
      case Call::Step:
        if (!pop(state, 1)) return false;
        pushed_if_asked(state);
        return true;
      case Call::Mark:
        state->marks.push_back(state->cells);
        return true;
      case Call::Mark2:
        state->marks.push_back(state->cells);
        state->marks.push_back(state->cells);
        return true;
      case Call::SetPush:
        state->push_pending = true;
        return true;
      case Call::Offset:
        if (!pop_to_mark(state) || !pop(state, 1)) return false;
        push(state, 1);
        return true;
      case Call::Dup:
        if (state->cells < 1) return false;
        push(state, 1);
        return true;
      case Call::Drop:
        return pop(state, 1);
      case Call::None:
        return true;
      case Call::Open:
        state->open = true;
        return true;
    }
    return true;
  }

  const std::vector<const InstructionNode*>& nodes_;
  const CalledBuiltins& builtins_;
  const std::unordered_map<const InstructionNode*, int32_t>& parameters_;
  std::unordered_map<const InstructionNode*, int32_t> position_;
  std::vector<State> states_;
};

// The cells a procedure's head takes from its caller: its parameter instructions right
// after the head; -1 for a variadic procedure, which takes its argument list whole.
int32_t parameter_cells(const InstructionNode* head) {
  int32_t cells = 0;
  for (const InstructionNode* node = head->next; node; node = node->next) {
    if (node->opcode == kParmsPushVar && !node->inner_handler) {
      cells += 1;
    } else if (node->opcode == kParmsPushVarVar && !node->inner_handler) {
      cells += 2;
    } else if (node->opcode == kNParms) {
      return -1;
    } else {
      break;
    }
  }
  return cells;
}

}  // namespace

bool stack_effects_are_sound(const InstructionNode* first, const CalledBuiltins& builtins, bool has_procedures) {
  std::unordered_map<const InstructionNode*, int32_t> parameters;
  for (const InstructionNode* node = first; node; node = node->next) {
    if (node->opcode == kStartProc || node->opcode == kStartProcUndefined) parameters[node] = parameter_cells(node);
  }
  std::vector<const InstructionNode*> procedure;
  std::vector<const InstructionNode*> outside;
  bool inside = false;
  for (const InstructionNode* node = first; node; node = node->next) {
    if (node->opcode == kStartProc || node->opcode == kStartProcUndefined) {
      inside = true;
      procedure.clear();
    }
    (inside ? procedure : outside).push_back(node);
    if (inside && node->opcode == kEndProc) {
      inside = false;
      ProcedureCheck check(procedure, builtins, parameters);
      if (!check.run(parameters[procedure.front()])) return false;
    }
  }
  // Code outside procedures runs only in a program without any, from its first node.
  if (!has_procedures) {
    ProcedureCheck check(outside, builtins, parameters);
    if (!check.run(0)) return false;
  }
  return true;
}
