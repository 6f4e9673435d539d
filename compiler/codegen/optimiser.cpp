// The instruction optimiser: one backward-looking pass that fuses a push into the node
// that consumes it and folds constant arithmetic, then a pass that moves stack-mark saves
// into the node they precede.
#include "compiler/codegen/optimiser.h"

#include <cstring>
#include <utility>

#include "compiler/driver/compile_and_run.h"
#include "compiler/ui/status_window.h"
#include "foundation/hashes.h"
#include "foundation/instruction_node.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_registry.h"
#include "vm/opcode_handler_table.h"
#include "vm/instruction_list.h"
#include "vm/machine.h"

namespace {

enum Opcode : uint32_t {
  kPushInt = 4,
  kPushStr = 5,
  kPushVar = 6,
  kNgPushVar = 7,
  kParmsPushVar = 10,
  kIf = 12,
  kPushProcAddr = 20,
  kPushCase = 22,
  kAddr = 23,
  kSelfCall = 26,
  kObjRun = 27,
  kAssign2 = 33,
  kOffset2_1 = 40,
  kSaveSp2 = 46,
  kPushIntInt = 47,
  kPushIntStr = 48,
  kPushVarInt = 49,
  kPushNgVarInt = 50,
  kPushIntCase = 51,
  kPushIntVar = 52,
  kPushStrVar = 53,
  kPushStrStr = 54,
  kPushVarStr = 56,
  kPushNgVarStr = 57,
  kAssign3 = 58,
  kAssign4 = 59,
  kAssign5 = 64,
  kEqual2 = 65,
  kLess2 = 66,
  kGreater2 = 67,
  kLessEqual2 = 68,
  kGreaterEqual2 = 69,
  kAdd2 = 70,
  kAdd4 = 71,
  kSub2 = 72,
  kSub4 = 73,
  kMul2 = 74,
  kDiv2 = 75,
  kOffset2_2 = 76,
  kAddr2 = 77,
  kPushStrInt = 87,
  kNotEqual2 = 88,
  kAdd5 = 97,
  kAdd6 = 98,
  kSub5 = 99,
  kSub6 = 100,
  kMul5 = 101,
  kMul6 = 102,
  kDiv5 = 103,
  kDiv6 = 104,
  kPushVarVar = 106,
  kParmsPushVarVar = 107,
  kNgPushVarVar = 108,
};

// The handlers that identify nodes, read once per run: the rules compare pointers only.
struct Handlers {
  BuiltinHandler add, sub, mul, div;
  BuiltinHandler assign, equal, not_equal, less, greater, less_equal, greater_equal;
  BuiltinHandler savesp, savesp2, dropstack;
};

BuiltinHandler registered(const char* upper_name) {
  const BuiltinEntry* entry = builtin_entry(find_builtin_by_hash(hash_name_text(upper_name)));
  return entry ? entry->handler : nullptr;
}

Handlers read_handlers() {
  return {registered("+"),  registered("-"),  registered("*"),        registered("/"),
          registered("="),  registered("=="), registered("<>"),       registered("<"),
          registered(">"),  registered("<="), registered(">="),       registered("__SAVESP"),
          registered("__SAVESP2"), registered("DROPSTACK")};
}

bool carries(const InstructionNode* node, BuiltinHandler handler) {
  return node && handler && node->handler == handler;
}
bool carries_opcode_handler(const InstructionNode* node, uint32_t opcode) {
  return carries(node, OpcodeHandlerTable[opcode]);
}
// PUSHPROCADDR may carry the PUSHINT handler; it is no constant to fuse.
bool is_pushint(const InstructionNode* node) {
  return carries_opcode_handler(node, kPushInt) && node->opcode != kPushProcAddr;
}

class Optimiser {
 public:
  explicit Optimiser(InstructionNode** list_tail) : tail_(list_tail), handlers_(read_handlers()) {}

  void fuse_pass(InstructionNode* first, int32_t count, const char* status_text);
  void savesp_pass(InstructionNode* first);

 private:
  // Visits x; returns the node the walk goes on with.
  InstructionNode* visit(InstructionNode* x);
  bool fold_constants(InstructionNode* x);
  bool fuse_operator(InstructionNode* x);
  bool fuse_savesp_pair(InstructionNode* x);
  bool fuse_pushint(InstructionNode* x);
  bool fuse_push_into_consumer(InstructionNode* x);
  bool fuse_assignment(InstructionNode* x);
  bool fold_branch(InstructionNode* x);
  bool fold_dropstack(InstructionNode* x);

  // x takes the opcode and its handler; false (nothing changed) when the opcode has none.
  static bool can_become(uint32_t opcode) { return OpcodeHandlerTable[opcode] != nullptr; }
  static void become(InstructionNode* x, uint32_t opcode) {
    x->opcode = opcode;
    x->handler = OpcodeHandlerTable[opcode];
  }
  // Moves p's text (with its hash) into x's text field.
  static void take_text(InstructionNode* x, InstructionNode* p);
  // x's number becomes the address of p's text, which x now owns.
  static void take_text_as_number(InstructionNode* x, InstructionNode* p);
  // x's text becomes an owned block holding number.
  static bool number_block(InstructionNode* x, double number);
  static void keep_namespace(InstructionNode* x, const InstructionNode* p);
  static uint32_t namespace_of(const InstructionNode* node) {
    return node->extension ? node->extension->scope_key : 0;
  }
  void remove(InstructionNode* node) { free_instruction_node(emit_pool, tail_, node, 1); }

  InstructionNode** tail_;
  Handlers handlers_;
};

void Optimiser::take_text(InstructionNode* x, InstructionNode* p) {
  crt::free(x->text);
  x->text = p->text;
  x->text_hash = p->text_hash;
  p->text = nullptr;
  p->text_hash = 0;
}

void Optimiser::take_text_as_number(InstructionNode* x, InstructionNode* p) {
  // An empty text still gets an owned copy, so the second operand is never address 0.
  char* text = p->text ? p->text : crt::_strdup("");
  p->text = nullptr;
  p->text_hash = 0;
  x->operand = static_cast<double>(platform::address_of(text));
}

bool Optimiser::number_block(InstructionNode* x, double number) {
  auto* block = static_cast<char*>(crt::malloc(sizeof number));
  if (!block) return false;
  std::memcpy(block, &number, sizeof number);
  crt::free(x->text);
  x->text = block;
  x->text_hash = 0;
  return true;
}

void Optimiser::keep_namespace(InstructionNode* x, const InstructionNode* p) {
  if (!x->extension) {
    if (!p->extension) return;
    x->extension = static_cast<InstructionExtension*>(pool_alloc(emit_pool, 0, sizeof(InstructionExtension)));
    if (!x->extension) return;
  }
  x->extension->scope_key = namespace_of(p);
}

// "+", "-", "*", "/" after two constants: the constant result, computed as the machine
// computes doubles (1 / 0 is infinity).
bool Optimiser::fold_constants(InstructionNode* x) {
  InstructionNode* p = x->previous;
  if (!carries_opcode_handler(p, kPushIntInt) || !can_become(kPushInt)) return false;
  double left = 0;
  if (p->text) std::memcpy(&left, p->text, sizeof left);
  const double right = p->operand;
  double result;
  if (x->handler == handlers_.add) result = left + right;
  else if (x->handler == handlers_.sub) result = left - right;
  else if (x->handler == handlers_.mul) result = left * right;
  else result = left / right;
  become(x, kPushInt);
  x->operand = result;
  remove(p);
  return true;
}

// An arithmetic operator takes its constant (and variable) from the push before it.
bool Optimiser::fuse_operator(InstructionNode* x) {
  struct Row {
    BuiltinHandler Handlers::*op;
    uint32_t var_int, int_var, with_int, with_str;  // 0: no such rule
  };
  static constexpr Row kRows[] = {
      {&Handlers::add, kAdd5, kAdd6, kAdd2, kAdd4},
      {&Handlers::sub, kSub5, kSub6, kSub2, kSub4},
      {&Handlers::mul, kMul5, kMul6, kMul2, 0},
      {&Handlers::div, kDiv5, kDiv6, kDiv2, 0},
  };
  InstructionNode* p = x->previous;
  if (!p) return false;
  for (const Row& row : kRows) {
    if (!carries(x, handlers_.*row.op)) continue;
    uint32_t opcode = 0;
    bool named = false;
    if (carries_opcode_handler(p, kPushVarInt)) {
      opcode = row.var_int;
      named = true;
    } else if (carries_opcode_handler(p, kPushIntVar)) {
      opcode = row.int_var;
      named = true;
    } else if (is_pushint(p)) {
      opcode = row.with_int;
    } else if (carries_opcode_handler(p, kPushStr)) {
      opcode = row.with_str;
    }
    if (!opcode || !can_become(opcode)) return false;
    become(x, opcode);
    if (opcode == row.with_str) {
      take_text(x, p);
    } else {
      x->operand = p->operand;
      // The variable is resolved where its push resolved it.
      if (named) {
        take_text(x, p);
        keep_namespace(x, p);
      }
    }
    remove(p);
    return true;
  }
  return false;
}

// Two stack-mark saves in a row become one that saves two marks.
bool Optimiser::fuse_savesp_pair(InstructionNode* x) {
  InstructionNode* n = x->next;
  if (!carries(x, handlers_.savesp) || !carries(n, handlers_.savesp) || n->inner_handler || !handlers_.savesp2) {
    return false;
  }
  x->handler = handlers_.savesp2;
  if (!x->inner_handler) x->opcode = kSaveSp2;
  remove(n);
  return true;
}

// A constant pushed after another push: one node pushes both.
bool Optimiser::fuse_pushint(InstructionNode* x) {
  InstructionNode* p = x->previous;
  if (!p) return false;
  if (is_pushint(p)) {
    if (!can_become(kPushIntInt) || !number_block(x, p->operand)) return false;
    become(x, kPushIntInt);
  } else if (carries_opcode_handler(p, kPushStr)) {
    if (!can_become(kPushStrInt)) return false;
    become(x, kPushStrInt);
    take_text(x, p);
  } else if (carries_opcode_handler(p, kPushVar) || carries_opcode_handler(p, kNgPushVar)) {
    const uint32_t opcode = carries_opcode_handler(p, kPushVar) ? kPushVarInt : kPushNgVarInt;
    if (!can_become(opcode)) return false;
    become(x, opcode);
    take_text(x, p);
    keep_namespace(x, p);
  } else {
    return false;
  }
  remove(p);
  return true;
}

// The remaining push pairs, the CASE label, ADDR and the element offset.
bool Optimiser::fuse_push_into_consumer(InstructionNode* x) {
  InstructionNode* p = x->previous;
  if (!p) return false;
  const bool p_int = is_pushint(p);
  const bool p_str = carries_opcode_handler(p, kPushStr);
  const bool p_var = carries_opcode_handler(p, kPushVar);
  const bool p_ngvar = carries_opcode_handler(p, kNgPushVar);

  uint32_t opcode = 0;
  enum class Take { Number, TextAsNumber, TextAsNumberWithNamespace, NumberBlock, NameAndNumber } take{};
  if (carries_opcode_handler(x, kPushCase)) {
    if (p_int) opcode = kPushIntCase, take = Take::NumberBlock;
  } else if (carries_opcode_handler(x, kPushVar)) {
    if (p_int) opcode = kPushIntVar, take = Take::Number;
    else if (p_str) opcode = kPushStrVar, take = Take::TextAsNumber;
    else if (p_var) opcode = kPushVarVar, take = Take::TextAsNumber;
  } else if (carries_opcode_handler(x, kNgPushVar)) {
    if (p_ngvar) opcode = kNgPushVarVar, take = Take::TextAsNumber;
  } else if (carries_opcode_handler(x, kParmsPushVar)) {
    if (carries_opcode_handler(p, kParmsPushVar)) opcode = kParmsPushVarVar, take = Take::TextAsNumber;
  } else if (carries_opcode_handler(x, kPushStr)) {
    if (p_str) opcode = kPushStrStr, take = Take::TextAsNumber;
    else if (p_int) opcode = kPushIntStr, take = Take::Number;
    else if (p_var) opcode = kPushVarStr, take = Take::TextAsNumberWithNamespace;
    else if (p_ngvar) opcode = kPushNgVarStr, take = Take::TextAsNumberWithNamespace;
  } else if (carries_opcode_handler(x, kOffset2_1)) {
    if (p_int) opcode = kOffset2_2, take = Take::Number;
  } else if (carries_opcode_handler(x, kAddr)) {
    if (p_var) opcode = kAddr2, take = Take::NameAndNumber;
  }
  if (!opcode || !can_become(opcode)) return false;
  // One node has one namespace: two variables pushed under different ones stay apart.
  if ((opcode == kPushVarVar || opcode == kNgPushVarVar || opcode == kParmsPushVarVar) &&
      namespace_of(p) != namespace_of(x)) {
    return false;
  }
  switch (take) {
    case Take::Number: x->operand = p->operand; break;
    case Take::TextAsNumber: take_text_as_number(x, p); break;
    case Take::TextAsNumberWithNamespace:
      take_text_as_number(x, p);
      keep_namespace(x, p);
      break;
    case Take::NumberBlock:
      if (!number_block(x, p->operand)) return false;
      break;
    case Take::NameAndNumber:
      x->operand = p->operand;
      take_text(x, p);
      keep_namespace(x, p);
      break;
  }
  become(x, opcode);
  remove(p);
  return true;
}

// Assignments and comparisons take their constant from the push before them.
bool Optimiser::fuse_assignment(InstructionNode* x) {
  InstructionNode* p = x->previous;
  if (!p) return false;
  const bool p_int = is_pushint(p);
  const bool p_str = carries_opcode_handler(p, kPushStr);
  if (!p_int && !p_str) return false;

  if (carries(x, handlers_.assign) && !x->text) {
    if (!can_become(kAssign5)) return false;
    become(x, kAssign5);
    if (p_int) {
      x->operand = p->operand;
    } else {
      x->operand = 0;
      take_text(x, p);
    }
  } else if (carries_opcode_handler(x, kAssign2)) {
    const uint32_t opcode = p_int ? kAssign3 : kAssign4;
    if (!can_become(opcode)) return false;
    become(x, opcode);
    if (p_int) x->operand = p->operand;
    else take_text_as_number(x, p);
  } else {
    if (!p_int) return false;
    const std::pair<BuiltinHandler, uint32_t> comparisons[] = {
        {handlers_.equal, kEqual2}, {handlers_.not_equal, kNotEqual2},   {handlers_.less, kLess2},
        {handlers_.greater, kGreater2}, {handlers_.less_equal, kLessEqual2}, {handlers_.greater_equal, kGreaterEqual2},
    };
    uint32_t opcode = 0;
    for (const auto& [handler, fused] : comparisons) {
      if (carries(x, handler)) opcode = fused;
    }
    if (!opcode || !can_become(opcode)) return false;
    become(x, opcode);
    x->operand = p->operand;
  }
  remove(p);
  return true;
}

// A conditional branch runs after the node before it as that node's outer handler. The
// branch's target goes into that node's link, so the node must not use its link itself:
// the method calls, CALL, call(), getproc() and getprocex() keep what they found there at
// run time (before that the link is empty, so the test on an existing link below does
// not see them); their handlers are registered as users of the link.
bool Optimiser::fold_branch(InstructionNode* x) {
  InstructionNode* p = x->previous;
  if (!carries_opcode_handler(x, kIf) || !p || !p->handler || p->inner_handler) return false;
  if (instruction_handler_keeps_link(p->handler)) return false;
  const bool p_has_link = p->extension && p->extension->link;
  if (x->extension && p_has_link) return false;
  if (x->extension) {
    if (!p->extension) {
      p->extension = static_cast<InstructionExtension*>(pool_alloc(emit_pool, 0, sizeof(InstructionExtension)));
      if (!p->extension) return false;
    }
    p->extension->link = x->extension->link;
  }
  p->inner_handler = p->handler;
  p->handler = x->handler;
  remove(x);
  return true;
}

bool Optimiser::fold_dropstack(InstructionNode* x) {
  InstructionNode* p = x->previous;
  if (!carries(x, handlers_.dropstack) || !p || !p->handler || p->handler == handlers_.dropstack ||
      p->inner_handler) {
    return false;
  }
  p->inner_handler = p->handler;
  p->handler = handlers_.dropstack;
  remove(x);
  return true;
}

InstructionNode* Optimiser::visit(InstructionNode* x) {
  InstructionNode* after = x->next;
  const BuiltinHandler handler = x->handler;
  if (!handler) return after;
  const bool arithmetic = handler == handlers_.add || handler == handlers_.sub || handler == handlers_.mul ||
                          handler == handlers_.div;
  if (arithmetic) {
    // A folded constant meets the push rules at once: 1 + 2 + 3 folds all the way.
    if (fold_constants(x)) fuse_pushint(x);
    else fuse_operator(x);
    return x->next;
  }
  if (fuse_savesp_pair(x) || (is_pushint(x) && fuse_pushint(x)) || fuse_push_into_consumer(x) ||
      fuse_assignment(x)) {
    return x->next;
  }
  if (fold_branch(x) || fold_dropstack(x)) return after;
  return x->next;
}

void Optimiser::fuse_pass(InstructionNode* first, int32_t count, const char* status_text) {
  int32_t index = 0;
  for (InstructionNode* x = first; x;) {
    if (status_text) status_update(index == 0 ? status_text : nullptr, index, count);
    ++index;
    x = visit(x);
  }
}

void Optimiser::savesp_pass(InstructionNode* first) {
  for (InstructionNode* x = first; x;) {
    InstructionNode* n = x->next;
    const bool saves = carries(x, handlers_.savesp) || carries(x, handlers_.savesp2);
    if (saves && n && !n->inner_handler && !carries(n, handlers_.savesp) && !carries(n, handlers_.savesp2)) {
      n->inner_handler = n->handler;
      n->handler = x->handler;
      remove(x);
      // n now carries the save itself; it is not folded a second time.
      x = n->next;
      continue;
    }
    x = n;
  }
}

// The file-name part of a path.
const char* file_part(const char* path) {
  const char* part = path;
  for (const char* c = path; *c; ++c) {
    if (*c == '\\' || *c == '/') part = c + 1;
  }
  return part;
}

}  // namespace

void optimize_instruction_list(InstructionNode** list_tail) {
  if (!list_tail || !*list_tail || !emit_pool) return;
  InstructionNode* first = *list_tail;
  int32_t count = 1;
  while (first->previous) {
    first = first->previous;
    ++count;
  }
  // The leading node carries the source name.
  char status_text[300];
  const char* status = nullptr;
  if (!image_run_size) {
    crt::_snprintf(status_text, sizeof status_text, "Optimizing (%s)...", first->text ? file_part(first->text) : "");
    status_text[sizeof status_text - 1] = '\0';
    status = status_text;
  }
  Optimiser optimiser(list_tail);
  optimiser.fuse_pass(first, count, status);
  // The pass may have removed the first node.
  first = *list_tail;
  while (first && first->previous) first = first->previous;
  optimiser.savesp_pass(first);
}
