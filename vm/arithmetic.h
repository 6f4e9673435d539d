// Arithmetic and text-joining operators: "+", "-", "*", "/" with their fused forms,
// "concat" and "%", and the text operations (cut, remove, repeat, split) they share.
#pragma once

#include <cstdint>

// ---- Text operations (new crt::malloc blocks the caller owns) ----

// The text without its last count characters; a count below 0 cuts nothing and one past
// the length cuts everything.
char* text_cut(const char* text, int32_t count);
// The text with every occurrence of pattern removed, searching again from the start
// after each removal. An empty pattern removes nothing.
char* text_remove_all(const char* text, const char* pattern);
// The text repeated count times; a count of 0 or less gives the empty text.
char* text_repeat(const char* text, int32_t count);
// "%s%s" of the two texts.
char* text_join(const char* first, const char* second);
// Length of each split piece: ceil(length / pieces) computed in single precision.
int32_t split_piece_length(int32_t length, int32_t pieces);
// Piece index of a split of text into pieces of piece_length: a new block; a piece that
// starts past the end is empty.
char* split_piece(const char* text, int32_t piece_length, int32_t index);
// Pushes the pieces of a split (first piece first) as texts owned by the running depth;
// fewer than 1 piece pushes nothing.
void push_split_pieces(const char* text, int32_t pieces);

// ---- Operators ----

void op_add();
void op_sub();
void op_mul();
// Also splits a text into as many pieces as the right operand says.
void op_div();
// Joins every argument above the innermost mark; more than 256 are refused.
void op_concat();
// Joins two values, as UTF-16 when either is UTF-16.
void op_percent();

// Fused forms: 2 takes the instruction's number as right operand, 4 its text, 5 its
// variable on the left and the number on the right, 6 the number on the left and the
// variable on the right.
void op_add2();
void op_add4();
void op_add5();
void op_add6();
void op_sub2();
void op_sub4();
void op_sub5();
void op_sub6();
void op_mul2();
void op_mul5();
void op_mul6();
void op_div2();
void op_div5();
void op_div6();

// Registers "+", "-", "*", "/", "concat" and "%" by name.
void register_arithmetic_handlers();
