// Comparison, logical, bitwise, shift and integer operators, with the fused comparisons
// that test the top of the stack against the instruction's constant.
#pragma once

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
