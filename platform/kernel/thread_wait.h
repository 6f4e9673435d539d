// Inside the platform: the one lock under which waits, signals and thread suspension
// happen, and the record of a thread that threads.cpp and sync.cpp share.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "platform/kernel/sync.h"
#include "platform/kernel/threads.h"

namespace platform {

// The state of one thread. Fields other than the suspend count's lock-free reads are
// guarded by wait_mutex(); the count is also kept atomic so park points can check it cheaply.
class ThreadObject : public Waitable {
 public:
  ThreadObject() : Waitable(ObjectKind::Thread) {}
  bool wait_ready(uint64_t) const override { return ended; }

  DWORD id = 0;
  bool started_by_platform = false;
  LPTHREAD_START_ROUTINE routine = nullptr;
  LPVOID parameter = nullptr;
  std::atomic<LONG> suspend_count{0};
  int priority = THREAD_PRIORITY_NORMAL;
  bool ended = false;
  DWORD exit_code = STILL_ACTIVE;
  DWORD requested_exit_code = 0;  // set by ExitThread before it unwinds
};

std::mutex& wait_mutex();
// Notified (to all) whenever a waitable object or a suspend count changes.
std::condition_variable& wait_condition();

// The calling thread's record, made on first use for threads the platform did not start.
ThreadObject& current_thread();
// The calling thread's record, or null when none was made yet (such a thread cannot be suspended).
ThreadObject* current_thread_if_known();

// Whether the calling thread is suspended (settled while the wait lock is held).
inline bool current_thread_suspended() {
  ThreadObject* self = current_thread_if_known();
  return self && self->suspend_count.load() > 0;
}

}  // namespace platform
