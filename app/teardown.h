// The end of a run: the debug log's companion shutdown, the release of the start-up
// tables and runtime-wide texts, and the "P" and "Y" reports.
#pragma once

#include <cstdint>

// The reports it writes are the profiler's.
#include "vm/profiler.h"

// Services of parts built elsewhere that teardown calls; null while a part is absent.
struct TeardownServices {
  void (*remove_all_event_bindings)();  // every program's event bindings
  void (*free_last_regex)();            // the last compiled regular expression
};
extern TeardownServices teardown_services;

// The last step of a run: releases the '%' variables, tears the runtime down, deletes
// the debugger values and frees the root folder text.
void runtime_shutdown();

// Releases the compiler's procedure table, the kept compile-time constants, the registry,
// the opcode names, event bindings and runtime-wide texts, and writes "profile.txt" and
// "memory.txt" in the program folder when profiling or memory tracking was on.
void runtime_teardown();
