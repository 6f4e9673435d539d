// Trim, pad and Soundex built-ins: spaces off either end (rtrim, ltrim, trim), fill
// characters before or after a text (lpad, rpad) and a name's Soundex code (soundex).
#pragma once

// Registers rtrim, ltrim, trim, lpad, rpad and soundex.
void register_trim_pad_builtins();
