// The registry side of the debugger link: the key "ZRKDEBUGGER" under HKEY_CURRENT_USER
// and its UTF-16 values, read and written as 8-bit texts.
#pragma once

#include <initializer_list>

// True when HKCU\key can be opened. A missing key is tried again every 100 ms for up to
// a second before the answer is false (the debugger may still be creating it).
bool debugger_key_exists(const char* key);
// Creates or opens HKCU\ZRKDEBUGGER and sets the value to text (REG_SZ).
void debugger_set_value(const char* name, const char* text);
// Deletes the value when HKCU\key opens; nothing otherwise.
void debugger_delete_value(const char* key, const char* name);
// Deletes each of the values when HKCU\key opens (it is opened once); nothing otherwise.
void debugger_delete_values(const char* key, std::initializer_list<const char*> names);
// The whole value as a new crt::malloc'd 8-bit text, however long it is; null when the
// key or the value is missing or is no text.
char* debugger_read_value(const char* key, const char* name);
