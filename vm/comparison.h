// Comparison, logical, bitwise, shift and integer operators, with the fused comparisons
// that test the top of the stack against the instruction's constant.
#pragma once

#include <cstdint>

#include "foundation/numbers.h"

// Generic two-operand handlers: pop the right operand, then the left, push one number.
void op_equal();
void op_not_equal();
void op_less();
void op_greater();
void op_less_equal();
void op_greater_equal();
void op_and();
void op_or();
void op_bitor();
void op_bitand();
void op_xor();
void op_shift_left();
void op_asl();
void op_shift_right();
void op_asr();
void op_int_div();
// DIV of two numbers: 0 for a divisor of 0, else the quotient made an integer (one outside
// 32 bits wraps like every other number made an integer).
inline double integer_quotient(double dividend, double divisor) {
  return divisor == 0.0 ? 0.0 : static_cast<double>(truncate_to_int(dividend / divisor));
}
// MOD of two integers: -1 divides everything evenly (asking the processor would trap on
// the lowest integer) and 0 gives 0.
inline int32_t integer_remainder(int32_t dividend, int32_t divisor) {
  return (divisor == 0 || divisor == -1) ? 0 : dividend % divisor;
}
void op_mod();

// One-operand handlers.
void op_isnull();
void op_not();
void op_complement();

// Fused comparisons of the popped value with the instruction's operand (opcodes "==2",
// "<2", ">2", "<=2", ">=2", "<>2"); they have no registered names.
void op_equal2();
void op_less2();
void op_greater2();
void op_less_equal2();
void op_greater_equal2();
void op_not_equal2();

// Registers the generic handlers under their script names ("==", "and", "shl", ...).
void register_comparison_handlers();
