// Built-ins between the two text kinds (8-bit and UTF-16), one-character texts from
// character codes, and evalstring, which interpolates braced expressions.
#pragma once

// evalstring(text): the text with each {expression} replaced by its value's text; always
// 8-bit (UTF-16 text is narrowed first).
void builtin_evalstring();
// wide(text or address), apichar(text or address): the text as a new UTF-16 copy.
void builtin_wide();
void builtin_apichar();
// char(text or address): the text as a new 8-bit copy.
void builtin_char();
// iswide(text or address): 1 for UTF-16 text, else 0.
void builtin_iswide();
// chr(code), wchr(code): a one-character 8-bit (low 8 bits) or UTF-16 (low 16 bits) text.
void builtin_chr();
void builtin_wchr();

// Registers the built-ins above by their script names.
void register_text_kind_builtins();
