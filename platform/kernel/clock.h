// The process's one clock: real (CLOCK_MONOTONIC) or virtual, for deterministic runs.
// GetTickCount, QueryPerformanceCounter and the game timer all read it.
#pragma once

#include <cstdint>

namespace platform {

// Microseconds since the clock's origin (library load in real mode, 0 in virtual mode).
// Never goes backwards.
uint64_t clock_now_microseconds();

// Whether the virtual clock is in use. ZRK_CLOCK=virtual selects it; the setting is read
// once, at the first use of the clock, and holds for the rest of the process.
bool clock_is_virtual();

// Moves the virtual clock forward by microseconds; does nothing in real mode. Waits call it
// (Sleep by its length, a timed-out wait by its timeout), so do queues and sinks that stand
// for time passing.
void clock_advance_microseconds(uint64_t microseconds);

// Marks the calling thread as one of the runtime's own service threads (the sound
// output's): under the virtual clock its sleeps and timed waits take real time and leave
// the clock alone, so only the program's own waits move it and a run stays repeatable
// however the threads are scheduled.
void clock_follow_on_this_thread();
bool clock_follows_on_this_thread();

// Test hook: switches between the virtual and the real clock, overriding ZRK_CLOCK.
// The virtual time keeps its value across switches.
void clock_select_virtual(bool use_virtual);

}  // namespace platform
