// The script built-ins over the regular-expression engine: match, search, subexpcount and
// subexp. They share the latest compiled pattern; pattern errors go to REXERROR%.
#pragma once

// match(pattern, text): 1 when the pattern matches a prefix of the text, else 0.
void builtin_match();
// search(pattern, text, start, end): 1 on a match, with start reading the text from the
// match on and end the text after it; else 0 and both variables unchanged.
void builtin_search();
// subexpcount(): the groups of the latest pattern, the whole pattern included; 0 when
// the latest pattern did not compile.
void builtin_subexpcount();
// subexp(text, group, start, length): start reads the text from the group's first
// character on and length holds the group's length. A group out of range, one that took
// no part in the match, or a text other than the latest subject gives "" and 0.
void builtin_subexp();

// Registers the built-ins above by their script names.
void register_regex_builtins();
