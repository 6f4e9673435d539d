// List built-ins: creating, filling, walking, searching and querying list variables,
// and the source place of the running instruction.
#pragma once

#include <cstdint>

// Search flags of find and delall.
constexpr int32_t kSearchCaseSensitive = 0x1;
constexpr int32_t kSearchBeginsWith = 0x10;
constexpr int32_t kSearchEndsWith = 0x100;
constexpr int32_t kSearchContains = 0x1000;
constexpr int32_t kSearchTrim = 0x10000;
constexpr int32_t kSearchTrimTrailing = 0x100000;
constexpr int32_t kSearchTrimLeading = 0x1000000;
constexpr int32_t kSearchNumericKey = 0x10000000;

// Variadic: list(v...) empties each variable and makes it a list; add(list, values...)
// appends (one empty element without values); addlist(list, lists...) appends copies of
// the elements of other lists; ins(list, values...) inserts in front of the current
// element; del(lists...) removes each current element (the previous one becomes
// current, else the next).
void builtin_list();
void builtin_add();
void builtin_addlist();
void builtin_ins();
void builtin_del();
// Variadic counting and moving: count gives the elements of all lists; first, last, next
// and prev give how many lists moved; isfirst and islast how many stand at that end;
// islist how many arguments are lists.
void builtin_count();
void builtin_first();
void builtin_last();
void builtin_next();
void builtin_prev();
void builtin_isfirst();
void builtin_islast();
void builtin_islist();
// lpos(list): index of the current element (-1 empty, 0 not a list).
void builtin_lpos();
// goto(list, index) and lmove(list, from, to): 1, or 0 for an empty list or a non-list.
void builtin_goto();
void builtin_lmove();
// pop(list): the current element's value; the previous element becomes current. An empty
// list or a non-list gives 0.
void builtin_pop();
// find(list, start, end, key, separator, field, member, flags): index of the first
// matching element, -1 when none; the cursor stays. delall(list, key, separator, field,
// member, flags): removes every match, the cursor then on the first element left.
void builtin_find();
void builtin_delall();
// vartype(v) / ltype(v): the kind code of the variable / of its shown value.
void builtin_vartype();
void builtin_ltype();
// Variadic empty(v...): releases each variable's value (a list loses all its elements).
void builtin_empty();
// currentline() / currentfilename(): the source place of the running instruction (0, or
// the program's file name, without one).
void builtin_currentline();
void builtin_currentfilename();

// Registers the built-ins above by their script names.
void register_list_builtins();
