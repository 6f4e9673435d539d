// Tokenizers: splitting a text into a list or an array, joining a list into one text,
// and moving values between a structure's members and a list.
#pragma once

#include <cstdint>

#include "foundation/variable.h"

// Splits text at each match of the delimiter: the whole delimiter, or with any_character
// one of its characters. Each token (empty ones too, one after a final delimiter) becomes
// an element owning a copy of its characters. A text without a match (an empty delimiter
// never matches) is one token; an empty text gives none. Returns the last element of the
// new chain, null for none.
ListElement* tokenize(const char* text, const char* delimiter, bool any_character);
// The same over UTF-16 text; the tokens are UTF-16 elements.
ListElement* tokenize_wide(const char16_t* text, const char16_t* delimiter, bool any_character);
// Turns every element of the chain (any element of it) into a plain number element: the
// number its text reads as; the text is freed.
void tokens_to_numbers(ListElement* chain);

// strtolist(text, delimiter, list) and strtolistint: whole-delimiter splitting into a list
// of texts / numbers; the "ex" forms split at any of the delimiter's characters. Each
// gives the number of elements, the list on its first.
void builtin_strtolist();
void builtin_strtolistex();
void builtin_strtolistint();
void builtin_strtolistintex();
// strtoarray(text, delimiter, array) (and strtoarrayex, the same): the tokens as texts into
// the array's elements, dimensioning an array without elements to the token count;
// strtoarrayint (and strtoarrayintex) stores their numbers. The number of tokens.
void builtin_strtoarray();
void builtin_strtoarrayint();
// listtostr(list, separator, prefix, suffix): prefix + element + suffix for each element,
// separated; UTF-16 when any element is. "" for a non-list.
void builtin_listtostr();
// structdeftolist(structure, list): the members' field names; always 0.
void builtin_structdeftolist();
// structtolist(structure, list): the members' values; the member count.
void builtin_structtolist();
// listtostruct(list, structure): the elements into the members in order; the number of
// members assigned, 0 for a non-list.
void builtin_listtostruct();

// Registers the built-ins above by their script names.
void register_tokenizer_builtins();
