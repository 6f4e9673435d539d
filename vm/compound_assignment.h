// Compound assignment: "+=", "-=", "*=" and "/=" with the fused forms that name their
// target in the instruction. Number or text is decided by whether operands carry text.
#pragma once

// Each pops the value, then the target cell, and stores the result into the target's
// variable; with push_after_assign set the variable's value is pushed afterwards.
void op_add_assign();
void op_sub_assign();
void op_mul_assign();
// Splitting a text stores the last piece into the target and each earlier piece into
// one further target popped from the stack; more than 255 pieces are refused.
void op_div_assign();

// The fused forms: the target is the instruction's variable; only the value is popped.
void op_add_assign2();
void op_sub_assign2();
void op_mul_assign2();

// Registers "+=", "-=", "*=" and "/=" by name.
void register_compound_assignment_handlers();
