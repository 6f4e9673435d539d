// Rearranging and duplicating lists: sort in place, split in two, copy a whole list or a
// range, and copy one current element over another.
#pragma once

// sort(list, order, case): ascending for a non-zero order, descending for 0; texts
// compare case-sensitively for a non-zero case. The cursor keeps its element.
void builtin_sort();
// split(source, index, target): the elements from index on move to target (which loses
// what it held); gives the number of elements target now has.
void builtin_split();
// lcopy(source, target) / lcopyex(source, target, from, to): target becomes a deep copy
// of the source list, or of its elements from .. to (-1: from the start / to the end).
void builtin_lcopy();
void builtin_lcopyex();
// copy(source, target): the source's current element is copied over the target's
// current element (a new one when the target list is empty).
void builtin_copy();

// Registers the built-ins above by their script names.
void register_list_sort_builtins();
