// Editing of heap texts shared by the operators, string built-ins, error reporters and
// debugger views: delete, insert, replace, trim, pad, digit grouping, biased truncation,
// a random integer, a message box and the Soundex code.
#pragma once

#include <cstdint>
#include <string>

#include "platform/kernel/types.h"

// Heap texts here come from crt::malloc with exactly length + 1 bytes (or units), so
// alloc_block_size reads their size back. In-place operations take the address of such
// a text, free the old block and store a new one; a null text counts as empty. Positions
// and counts are characters: bytes for 8-bit texts, 16-bit units for UTF-16 texts.
// When memory runs out an in-place operation leaves the text as it was.

// Removes count characters at position. The position is clamped to 0..length, the range
// to the end of the text; a count below 1 removes nothing.
void string_delete_range(char** text, int32_t position, int32_t count);
void wide_string_delete_range(char16_t** text, int32_t position, int32_t count);

// Inserts insertion at position, clamped to 0..length (below 0: at the start, past the
// end: appended).
void string_insert_at(const char* insertion, char** text, int32_t position);
void wide_string_insert_at(const char16_t* insertion, char16_t** text, int32_t position);

// Replaces every occurrence of search from left to right; the search goes on after each
// inserted replacement, so a replacement holding the search text is not replaced again.
// An empty or null search text changes nothing.
void string_replace_all(char** text, const char* search, const char* replacement);
void wide_string_replace_all(char16_t** text, const char16_t* search, const char16_t* replacement);

// The three operations above under one name for both kinds of text (char and char16_t),
// for code written once for either kind.
template <typename Char>
void text_delete_range(Char** text, int32_t position, int32_t count);
template <typename Char>
void text_insert_at(const Char* insertion, Char** text, int32_t position);
template <typename Char>
void text_replace_all(Char** text, const Char* search, const Char* replacement);

// A copy of text (null: an empty text) in the given Win32 heap; null when it is full.
char* heap_strdup(HANDLE heap, const char* text);

// A new text with ',' between groups of three characters left of the '.' (or of the
// end). A leading sign is not grouped: -123456 gives -123,456.
char* insert_thousands_separators(const char* number_text);
// number_to_text of value with its digits grouped.
char* number_to_grouped_text(double value);

// New texts without the trailing (right) or leading (left) blanks; all blanks give "".
char* trim_right_spaces(const char* text);
char* trim_left_spaces(const char* text);

// New texts with count fill characters before (left) or after (right) text; a count
// below 1 gives a plain copy.
char* pad_left(const char* text, char fill, int32_t count);
char* pad_right(const char* text, char fill, int32_t count);

// Truncation toward zero with a bias of 1e-12, so a value a hair below an integer through
// inexact decimal fractions counts as that integer: floor(x + 1e-12) for x >= 0,
// ceil(x - 1e-12) below. NaN gives NaN.
double truncate_double(double value);
// The same as a 64-bit integer; NaN, infinities and values beyond the range give 0.
int64_t truncate_to_int64(double value);
// The same to 32 bits, through the one number-to-integer rule (low 32 bits of int64).
int32_t truncate_biased_to_int(double value);

// rand() / 32768 * limit, truncated toward zero: 0..limit-1 for a positive limit.
int32_t random_int(int32_t limit);

// A message box with 8-bit text and caption (Windows-1252); returns the button id.
int message_box(const char* text, const char* caption, UINT type);

// Non-zero when the byte at pointer cannot be written.
int is_bad_write_pointer(void* pointer);

// Writes the Soundex code of text into output, which holds at least code_length + 1
// bytes (11 always suffice), and returns the length of the code written: 0 for a null
// text or one without letters. Census mode gives 4 characters and drops H and W after
// the first letter; otherwise code_length (0 means 4) is clamped to 4..10 and the
// spelling rules (PS, PF at the start; DG, GH, KN, GN, MB, PH, TCH, MP before S/T/Z)
// apply first. Only the first 31 characters of text are read.
int32_t soundex_code(char* output, const char* text, int32_t code_length, int census);

// number_to_text and number_to_grouped_text as strings ("" when memory runs out).
std::string number_string(double value);
std::string grouped_number_string(double value);

// printf into a std::string of exactly the needed length (host formatting: for the
// runtime's own messages, not for script-visible number texts).
std::string format_text(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
