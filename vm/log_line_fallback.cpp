// The log line when no log owner is linked: a weak definition the real one replaces.
#include <cstdio>

#include "vm/log_line.h"

[[gnu::weak]] void log_line(const char* text) { std::fprintf(stderr, "%s\n", text ? text : ""); }
