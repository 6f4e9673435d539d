// One line to the runtime's log. The compile-message reporter owns the log; until it
// is linked in, lines go to standard error.
#pragma once

// Appends text as one line of the log.
void log_line(const char* text);
