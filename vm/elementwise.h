// Element-wise operators on packed lists: two lists combined item by item, or a list
// with one scalar, and the pushes of owned results that every operator handler shares.
#pragma once

#include <cstdint>

#include "foundation/value_cell.h"

// Pushes block on the current program's stack as a text-like result (number 0, no
// variable, data 0) with flags, after registering it as an owned allocation of the
// running depth. A block that cannot be registered is freed and an empty cell pushed.
void push_owned_result(void* block, uint32_t flags);

// When left or right is a packed list (flags 16): combines them with the operator code,
// pushes the new list and gives 1. Gives 0 and pushes nothing for two scalars. The list
// is always the left element of each operation, whichever side it stood on.
int32_t elementwise_operator(char code, const ValueCell* left, const ValueCell* right);

// Two lists item by item: max of the two counts, an exhausted list giving 0. The result
// is the caller's; texts and nested lists inside it are owned by the current program.
void* packed_list_combine(char code, const void* left, const void* right);
// Every item of list with one scalar: the text when given, else the number.
void* packed_list_combine_scalar(char code, const void* list, const char* scalar_text, double scalar_number);

// Pushes the list cell's list combined with the number, or with the text; both give 1.
int32_t elementwise_push_scalar(char code, const ValueCell* list_cell, double number);
int32_t elementwise_push_text(char code, const ValueCell* list_cell, const char* text);

// The operation of code on two numbers; an unknown code leaves x as it was.
double elementwise_apply(char code, double x, double y);
