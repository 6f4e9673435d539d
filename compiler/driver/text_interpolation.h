// Text interpolation: every {expression} of a text replaced by the text of its value,
// each expression compiled and run where the caller stands.
#pragma once

// A new crt::calloc'd 8-bit text that the caller frees: text with each braced expression
// (nested braces belong to it) replaced by its value's text. An expression that does not
// compile or run gives "[Error]", one that leaves no single value an empty text. A '{'
// without its '}' is reported as "Missing }" and the rest of the text is its expression;
// a '}' outside any expression is copied. The expressions see the caller's variables.
// Null text counts as empty; null only when memory runs out.
char* interpolate_braced_expressions(const char* text);
