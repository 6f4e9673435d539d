// The profiler: profile points charge the time since the program's previous point to a
// record named by the point; the reports of profile times and of blocks never freed.
#pragma once

#include <cstdint>

struct ProgramContext;

struct ProfileRecord {
  char* name;
  char* label;  // copy of tracking_label when the record was made, or null
  uint32_t name_hash;
  uint32_t count;
  int32_t key;
  uint64_t total_ticks;  // high-resolution counter ticks
  ProfileRecord* next;
  ProfileRecord* previous;
};

// Newest first.
extern ProfileRecord* profile_records;

// The counter now (QueryPerformanceCounter units).
uint64_t profile_counter_now();

// Charges the interval of program that ends now to the record of name and key (made when
// missing) and counts the point; the program's next interval starts at now. The first
// point of a program is charged from the program's start.
ProfileRecord* profile_account(ProgramContext* program, const char* name, int32_t key, uint64_t now);

// The built-in "__profile": pops the key, then the name.
void builtin_profile_point();
// The same for generated machine code.
void profiler_hook(int32_t key, const char* name);

// Writes "profile.txt" / "memory.txt" to path and frees the records; false when the file
// cannot be created (the records are freed all the same).
bool write_profile_report(const char* path);
bool write_memory_report(const char* path);

void register_profiler_builtins();
