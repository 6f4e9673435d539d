// FILETIME: 100-nanosecond intervals since 1601-01-01 UTC.
#pragma once

#include "platform/kernel/types.h"

namespace platform {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochInFiletimeSeconds = 11644473600LL;

inline FILETIME filetime_from_ticks(uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}
inline uint64_t ticks_from_filetime(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}
inline FILETIME filetime_from_unix(int64_t seconds, int64_t nanoseconds) {
  return filetime_from_ticks(static_cast<uint64_t>((seconds + kUnixEpochInFiletimeSeconds) * 10000000LL + nanoseconds / 100));
}

}  // namespace platform
