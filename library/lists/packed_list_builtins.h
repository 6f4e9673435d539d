// Packed-list built-ins: counting the items of a list literal, the kind of one item,
// and new lists with an item added, items removed or a range taken. The input list is
// never changed.
#pragma once

// mcount(list, recursive): the items before the end marker; with recursive non-zero a
// nested list counts its own items. A value that is no packed list counts 0.
void builtin_mcount();
// mtype(item): the kind byte (1 number, 2 string, 3 nested list, 4 end marker) of the
// item at the address the argument holds.
void builtin_mtype();
// madd(list, value): a new list with the value appended.
void builtin_madd();
// mdel(list, start, count) / mmid(list, start, count): a new list without / with only
// the items start .. start+count-1.
void builtin_mdel();
void builtin_mmid();

// Registers the built-ins above by their script names.
void register_packed_list_builtins();
