// Run-time errors of scripts: until the full reporter exists, the text is kept and
// shown in a message box.
#pragma once

#include "platform/kernel/fault_guard.h"

// Reports a run-time error with a printf-style text.
void runtime_error(const char* format, ...);
// Reports a processor fault caught by guard.
void runtime_fault(const platform::FaultGuard& guard);
// The text of the last error reported ("" before any).
const char* runtime_error_last_text();
// How many errors were reported so far.
unsigned runtime_error_count();
