// The profiler's records: one per profile point (name and key), with the ticks charged to
// it; teardown writes them to "profile.txt".
#pragma once

#include <cstdint>

struct ProfileRecord {
  char* name;          // crt::malloc'd copy of the point's name
  char* label;         // crt::malloc'd copy of tracking_label at creation, or null
  uint32_t name_hash;
  uint32_t count;      // times the point was reached
  int32_t key;
  uint64_t total_ticks;  // high-resolution counter ticks charged to the point
  ProfileRecord* next;
  ProfileRecord* previous;
};

// Newest record first.
extern ProfileRecord* profile_records;
