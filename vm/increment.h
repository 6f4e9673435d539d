// Increment, decrement and bitwise compound assignment of a variable in place: the
// generic forms on a pushed target cell and the fused forms on the instruction's variable.
#pragma once

// On the target cell T that the variable push left: "++"/"--" push (with
// push_after_assign) the value before the step, "++2"/"--2" the value after it.
void op_increment();
void op_decrement();
void op_preincrement();
void op_predecrement();

// On the variable named by the instruction's text: opcodes "++2"/"--2" push the value
// before the step of 1, "++4"/"--4" the value after it; "++3"/"--3" step by the
// instruction's operand (a text gets it appended, or loses that many characters).
void op_increment2();
void op_decrement2();
void op_increment4();
void op_decrement4();
void op_increment3();
void op_decrement3();

// "|=", "^=", "&=": pop the value, then the target cell; store the 64-bit combination.
void op_or_assign();
void op_xor_assign();
void op_and_assign();
// Opcodes "|=2", "^=2", "&=2": pop the value and combine it into the instruction's variable.
void op_or_assign2();
void op_xor_assign2();
void op_and_assign2();

// Registers "++", "--", "++2", "--2", "|=", "^=", "&=" (the fused forms have no names).
void register_increment_handlers();
