// Clocks and the median the benchmarks report.
#pragma once

#include <algorithm>
#include <ctime>
#include <vector>

namespace bench {

inline double seconds_of(clockid_t clock) {
  timespec now;
  clock_gettime(clock, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Wall time on the monotonic clock.
inline double wall_seconds() { return seconds_of(CLOCK_MONOTONIC); }
inline double wall_ms() { return wall_seconds() * 1e3; }
// Time the process spent on a processor.
inline double cpu_seconds() { return seconds_of(CLOCK_PROCESS_CPUTIME_ID); }

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace bench
