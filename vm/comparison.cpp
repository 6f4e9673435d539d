// Comparison, logical, bitwise, shift and integer operators. Script values are untyped:
// each comparison picks a numeric, text or mixed comparison from its operands at run time.
#include "vm/comparison.h"

#include <cstring>

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/string_helpers.h"
#include "foundation/value_stack.h"
#include "vm/builtin_registry.h"
#include "vm/elementwise.h"

namespace {

enum class Relation { Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual };

// Element-wise codes handed to the packed-list path.
constexpr char kCodeEqual = '=';
constexpr char kCodeNotEqual = '!';
constexpr char kCodeLess = '<';
constexpr char kCodeGreater = '>';
constexpr char kCodeLessEqual = ',';
constexpr char kCodeGreaterEqual = '.';

constexpr char relation_code(Relation relation) {
  switch (relation) {
    case Relation::Equal: return kCodeEqual;
    case Relation::NotEqual: return kCodeNotEqual;
    case Relation::Less: return kCodeLess;
    case Relation::Greater: return kCodeGreater;
    case Relation::LessEqual: return kCodeLessEqual;
    case Relation::GreaterEqual: return kCodeGreaterEqual;
  }
  return kCodeEqual;
}

inline bool holds(Relation relation, double left, double right) {
  switch (relation) {
    case Relation::Equal: return left == right;
    case Relation::NotEqual: return left != right;
    case Relation::Less: return left < right;
    case Relation::Greater: return left > right;
    case Relation::LessEqual: return left <= right;
    case Relation::GreaterEqual: return left >= right;
  }
  return false;
}

// The outcome of a three-way text comparison (negative, zero, positive).
inline bool holds_ordered(Relation relation, int order) {
  switch (relation) {
    case Relation::Equal: return order == 0;
    case Relation::NotEqual: return order != 0;
    case Relation::Less: return order < 0;
    case Relation::Greater: return order > 0;
    case Relation::LessEqual: return order <= 0;
    case Relation::GreaterEqual: return order >= 0;
  }
  return false;
}

[[gnu::always_inline]] inline void push_truth(bool truth) { stack_push_number(current_program, truth ? 1.0 : 0.0); }

// Number of a cell: its number, or its text read as a number (0 when not numeric).
inline double cell_value(const ValueCell* cell) {
  return cell->text ? text_to_number(static_cast<const char*>(cell->text)) : cell->number;
}

inline int64_t trunc64(double value) { return truncate_to_int64(value); }

// Unit by unit as unsigned 16-bit values; a prefix is the smaller.
int compare_wide(const WCHAR* left, const WCHAR* right) {
  for (;; ++left, ++right) {
    if (*left != *right) return *left < *right ? -1 : 1;
    if (*left == 0) return 0;
  }
}

// Pops R then L, leaving them readable until the next push; true when the element-wise
// path has already pushed the result.
inline bool pop_pair(ValueCell** left, ValueCell** right, char code) {
  ValueCell* popped_right = stack_pop(current_program);
  ValueCell* popped_left = stack_pop(current_program);
  *right = popped_right;
  *left = popped_left;
  if ((popped_left->flags | popped_right->flags) & kCellList) {
    return elementwise_operator(code, popped_left, popped_right) != 0;
  }
  return false;
}

template <Relation relation>
void compare_generic() {
  ValueCell* left;
  ValueCell* right;
  if (pop_pair(&left, &right, relation_code(relation))) return;
  if (!left->text && !right->text) {
    push_truth(holds(relation, left->number, right->number));
    return;
  }
  if (left->text && right->text) {
    int order;
    if ((left->flags | right->flags) & kCellWideText) {
      order = compare_wide(cell_wide_text(left), cell_wide_text(right));
    } else {
      order = std::strcmp(static_cast<const char*>(left->text), static_cast<const char*>(right->text));
    }
    push_truth(holds_ordered(relation, order));
    return;
  }
  // One side is a text: it counts by its number, and a text that is no number makes
  // every comparison false.
  double left_number = left->text ? text_to_number(static_cast<const char*>(left->text)) : left->number;
  double right_number = right->text ? text_to_number(static_cast<const char*>(right->text)) : right->number;
  if (not_a_number_flag) {
    push_truth(false);
    return;
  }
  push_truth(holds(relation, left_number, right_number));
}

template <Relation relation>
void compare_fused() {
  ValueCell* value = stack_pop(current_program);
  double constant = current_instruction->operand;
  if (!value->text) {
    push_truth(holds(relation, value->number, constant));
    return;
  }
  if (value->flags & kCellList) {
    elementwise_push_scalar(relation_code(relation), value, constant);
    return;
  }
  // The flag is not consulted here: a text that is no number compares as 0.
  push_truth(holds(relation, text_to_number(static_cast<const char*>(value->text)), constant));
}

enum class Bitwise { Or, And, Xor };

template <Bitwise operation>
void bitwise(char code) {
  ValueCell* left;
  ValueCell* right;
  if (pop_pair(&left, &right, code)) return;
  int64_t x = trunc64(cell_value(left));
  int64_t y = trunc64(cell_value(right));
  int64_t result = operation == Bitwise::Or ? (x | y) : operation == Bitwise::And ? (x & y) : (x ^ y);
  stack_push_number(current_program, static_cast<double>(result));
}

void shift_left(char code) {
  ValueCell* left;
  ValueCell* right;
  if (pop_pair(&left, &right, code)) return;
  uint64_t x = static_cast<uint64_t>(trunc64(cell_value(left)));
  uint32_t count = static_cast<uint32_t>(trunc64(cell_value(right))) & 0xFF;
  uint64_t result = count >= 64 ? 0 : x << count;
  stack_push_number(current_program, static_cast<double>(static_cast<int64_t>(result)));
}

void shift_right(char code) {
  ValueCell* left;
  ValueCell* right;
  if (pop_pair(&left, &right, code)) return;
  int64_t x = trunc64(cell_value(left));
  uint32_t count = static_cast<uint32_t>(trunc64(cell_value(right)));
  // Counts past 63 (negative ones included) shift every bit out: only the sign is left.
  int64_t result = count >= 64 ? (x < 0 ? -1 : 0) : (x >> count);
  stack_push_number(current_program, static_cast<double>(result));
}

}  // namespace

void op_equal() { compare_generic<Relation::Equal>(); }
void op_not_equal() { compare_generic<Relation::NotEqual>(); }
void op_less() { compare_generic<Relation::Less>(); }
void op_greater() { compare_generic<Relation::Greater>(); }
void op_less_equal() { compare_generic<Relation::LessEqual>(); }
void op_greater_equal() { compare_generic<Relation::GreaterEqual>(); }

void op_equal2() { compare_fused<Relation::Equal>(); }
void op_less2() { compare_fused<Relation::Less>(); }
void op_greater2() { compare_fused<Relation::Greater>(); }
void op_less_equal2() { compare_fused<Relation::LessEqual>(); }
void op_greater_equal2() { compare_fused<Relation::GreaterEqual>(); }
void op_not_equal2() { compare_fused<Relation::NotEqual>(); }

void op_isnull() {
  ValueCell* value = stack_pop(current_program);
  push_truth(value->text == nullptr);
}

void op_and() {
  ValueCell* left;
  ValueCell* right;
  if (pop_pair(&left, &right, 'a')) return;
  // The right operand is read only when the left one is true.
  push_truth(cell_value(left) != 0.0 && cell_value(right) != 0.0);
}

void op_or() {
  ValueCell* left;
  ValueCell* right;
  if (pop_pair(&left, &right, 'o')) return;
  push_truth(cell_value(left) != 0.0 || cell_value(right) != 0.0);
}

void op_not() {
  ValueCell* value = stack_pop(current_program);
  push_truth(trunc64(cell_value(value)) == 0);
}

void op_bitor() { bitwise<Bitwise::Or>('|'); }
void op_bitand() { bitwise<Bitwise::And>('&'); }
void op_xor() { bitwise<Bitwise::Xor>('^'); }

void op_shift_left() { shift_left('l'); }
void op_asl() { shift_left('L'); }
void op_shift_right() { shift_right('r'); }
void op_asr() { shift_right('R'); }

void op_complement() {
  ValueCell* value = stack_pop(current_program);
  uint32_t bits = static_cast<uint32_t>(truncate_to_int(cell_value(value)));
  stack_push_number(current_program, static_cast<double>(static_cast<int32_t>(~bits)));
}

void op_int_div() {
  ValueCell* right = stack_pop(current_program);
  ValueCell* left = stack_pop(current_program);
  stack_push_number(current_program, integer_quotient(cell_value(left), cell_value(right)));
}

void op_mod() {
  ProgramContext* context = current_program;
  ValueCell* right = stack_pop(context);
  ValueCell* left = stack_pop(context);
  int32_t divisor = truncate_to_int(right->text ? cell_value(right) : right->number);
  int32_t dividend = truncate_to_int(left->text ? cell_value(left) : left->number);
  stack_push_number(context, static_cast<double>(integer_remainder(dividend, divisor)));
}

void register_comparison_handlers() {
  struct Named {
    const char* name;
    BuiltinHandler handler;
  };
  static constexpr Named kHandlers[] = {
      {"==", op_equal},      {"<>", op_not_equal},    {"<", op_less},        {">", op_greater},
      {"<=", op_less_equal}, {">=", op_greater_equal}, {"isnull", op_isnull}, {"and", op_and},
      {"or", op_or},         {"not", op_not},          {"|", op_bitor},       {"&", op_bitand},
      {"xor", op_xor},       {"^", op_xor},            {"<<", op_shift_left}, {"shl", op_shift_left},
      {"asl", op_asl},       {">>", op_shift_right},   {"shr", op_shift_right}, {"asr", op_asr},
      {"~", op_complement},  {"div", op_int_div},      {"mod", op_mod},
  };
  for (const Named& entry : kHandlers) builtin_register(entry.name, entry.handler);
}
