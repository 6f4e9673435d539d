// Conversions between the collection forms: typed arrays, lists, packed lists (matrices),
// their text forms and native string arrays handed over by declared functions.
#pragma once

// arraytolist(array, list): one element per array element; the element count.
void builtin_arraytolist();
// carraytolist(strings, count, list): copies of the first count strings of a native
// array of string pointers (its address as a number, or a text holding the pointers);
// count, or 0 when count < 1.
void builtin_carraytolist();
// freecarray(count, strings): frees each of the first count strings (not the array).
void builtin_freecarray();
// listtoarray(list, array): the elements as 8-byte numbers (texts as the addresses of
// copies the array owns), never past the array's block; tlisttoarray converts each value
// to the array's own type. An array without elements is dimensioned to the list. The
// number of values written; 0 for a non-list.
void builtin_listtoarray();
void builtin_tlisttoarray();
// arraytostr(array, separator, prefix, suffix): the elements joined into one text.
void builtin_arraytostr();
// matrixtoarray(matrix, array): the matrix's numbers, nested lists flattened, into the
// array (dimensioned to them when it has no elements); the number of values written.
void builtin_matrixtoarray();
// matrixtostr(matrix) / strtomatrix(text): a packed list to its text form and back.
void builtin_matrixtostr();
void builtin_strtomatrix();
// Variadic fill(target, values...): stores the values into a structure's members, an
// array's elements, a packed list, a list (which then holds just these values) or a
// data block; the number of values stored.
void builtin_fill();

// Registers the built-ins above by their script names.
void register_conversion_builtins();
