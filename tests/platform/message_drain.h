// Dispatching what the calling thread's queue holds, for tests that post and send.
#pragma once

#include "platform/user/user.h"

// Takes every message now in the queue and dispatches it; gives how many there were.
inline int drain_messages() {
  MSG msg;
  int count = 0;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    DispatchMessageW(&msg);
    ++count;
  }
  return count;
}
