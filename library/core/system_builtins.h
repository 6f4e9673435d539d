// Small system built-ins: the millisecond tick count, the message box and the
// writable-address test.
#pragma once

// tick(): GetTickCount() as an unsigned number of milliseconds.
void builtin_tick();
// showmessage(a, b, ...): the arguments' texts joined without separators in a box
// captioned "Message". Any UTF-16 argument makes the whole text UTF-16, the 8-bit ones
// converted; otherwise the text stays 8-bit. Pushes nothing.
void builtin_showmessage();
// isvalid(address): 0 when the byte at address can be written, else non-zero.
void builtin_isvalid();

// Registers the built-ins above by their script names.
void register_system_builtins();
