// Interlocked reference counts of the library's own COM objects (the container site and
// the event sink), whose counts start at 0.
#pragma once

#include <cstdint>

#include "platform/ole/ole_types.h"

inline ULONG add_reference(uint32_t* count) { return __atomic_add_fetch(count, 1, __ATOMIC_SEQ_CST); }

// The count after one release; a count already at 0 stays there. *last is true when
// this release took it to 0: the object is to destroy itself.
inline ULONG drop_reference(uint32_t* count, bool* last) {
  *last = false;
  if (__atomic_load_n(count, __ATOMIC_SEQ_CST) < 1) return 0;
  ULONG left = __atomic_sub_fetch(count, 1, __ATOMIC_SEQ_CST);
  *last = left == 0;
  return left;
}
