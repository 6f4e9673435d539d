// Events, semaphores and the one wait loop, all under the shared wait lock; critical
// sections over a futex in the caller's memory; interlocked operations.
#include "platform/kernel/sync.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>

#include "platform/kernel/clock.h"
#include "platform/kernel/thread_wait.h"

namespace platform {

std::mutex& wait_mutex() {
  static auto* instance = new std::mutex;  // outlives static destructors: threads may still wait
  return *instance;
}

std::condition_variable& wait_condition() {
  static auto* instance = new std::condition_variable;
  return *instance;
}

void waitable_update(const std::function<void()>& change) {
  std::lock_guard lock(wait_mutex());
  change();
  wait_condition().notify_all();
}

namespace {

class EventObject : public Waitable {
 public:
  EventObject(bool manual_reset, bool signalled)
      : Waitable(ObjectKind::Event), manual_reset_(manual_reset), signalled_(signalled) {}

  // A wait's ticket is the number of pulses before it began: only later pulses release it.
  uint64_t wait_begin() override { return pulses_; }
  bool wait_ready(uint64_t ticket) const override {
    if (signalled_) return true;
    return ticket < pulses_ && (manual_reset_ || pulse_unclaimed_);
  }
  void wait_consume(uint64_t ticket) override {
    if (manual_reset_) return;
    if (signalled_)
      signalled_ = false;
    else
      pulse_unclaimed_ = false;
  }

  void set() { signalled_ = true; }
  void reset() { signalled_ = false; }
  void pulse() {
    ++pulses_;
    pulse_unclaimed_ = true;
    signalled_ = false;
  }

 private:
  bool manual_reset_;
  bool signalled_;
  uint64_t pulses_ = 0;
  bool pulse_unclaimed_ = false;  // an auto-reset pulse no waiter has taken yet
};

class SemaphoreObject : public Waitable {
 public:
  SemaphoreObject(LONG count, LONG maximum) : Waitable(ObjectKind::Semaphore), count(count), maximum(maximum) {}
  bool wait_ready(uint64_t) const override { return count > 0; }
  void wait_consume(uint64_t) override { --count; }

  LONG count;
  const LONG maximum;
};

// Named events and semaphores: a second creation under a name reaches the same object.
struct NameTable {
  std::mutex lock;
  std::map<std::u16string, std::weak_ptr<Waitable>> names;
};

HANDLE create_object(LPCWSTR name, const std::shared_ptr<Waitable>& fresh) {
  if (!name || !*name) {
    SetLastError(ERROR_SUCCESS);
    return handle_create(fresh);
  }
  static auto* table = new NameTable;  // outlives static destructors
  std::lock_guard lock(table->lock);
  auto& names = table->names;
  std::erase_if(names, [](const auto& entry) { return entry.second.expired(); });
  auto& slot = names[std::u16string(name)];
  if (auto existing = slot.lock()) {
    if (existing->kind() != fresh->kind()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    HANDLE handle = handle_create(existing);
    SetLastError(ERROR_ALREADY_EXISTS);
    return handle;
  }
  slot = fresh;
  SetLastError(ERROR_SUCCESS);
  return handle_create(fresh);
}

long futex(LONG volatile* word, int operation, LONG value) {
  return syscall(SYS_futex, const_cast<LONG*>(word), operation, value, nullptr, nullptr, 0);
}

// The futex lock of Drepper's "Futexes are tricky" (third form); the waiting loop is a park point.
void futex_lock(LONG volatile* word) {
  LONG state = 0;
  if (__atomic_compare_exchange_n(word, &state, 1, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) return;
  if (state != 2) state = __atomic_exchange_n(word, 2, __ATOMIC_SEQ_CST);
  while (state != 0) {
    futex(word, FUTEX_WAIT_PRIVATE, 2);
    if (current_thread_suspended()) {
      // The wake-up may have been meant to hand the lock on: pass it to another waiter.
      futex(word, FUTEX_WAKE_PRIVATE, 1);
      thread_park_point();
    }
    state = __atomic_exchange_n(word, 2, __ATOMIC_SEQ_CST);
  }
}

void futex_unlock(LONG volatile* word) {
  if (__atomic_fetch_sub(word, 1, __ATOMIC_SEQ_CST) != 1) {
    __atomic_store_n(word, 0, __ATOMIC_SEQ_CST);
    futex(word, FUTEX_WAKE_PRIVATE, 1);
  }
}

}  // namespace
}  // namespace platform

using platform::EventObject;
using platform::SemaphoreObject;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state, LPCWSTR name) {
  return platform::create_object(name, std::make_shared<EventObject>(manual_reset != FALSE, initial_state != FALSE));
}

BOOL EventModify(HANDLE event, DWORD operation) {
  auto object = platform::handle_object_as<EventObject>(event, platform::ObjectKind::Event);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (operation != EVENT_PULSE && operation != EVENT_RESET && operation != EVENT_SET) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  platform::waitable_update([&] {
    if (operation == EVENT_SET)
      object->set();
    else if (operation == EVENT_RESET)
      object->reset();
    else
      object->pulse();
  });
  return TRUE;
}

BOOL SetEvent(HANDLE event) { return EventModify(event, EVENT_SET); }
BOOL ResetEvent(HANDLE event) { return EventModify(event, EVENT_RESET); }

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES security, LONG initial_count, LONG maximum_count, LPCWSTR name) {
  if (maximum_count <= 0 || initial_count < 0 || initial_count > maximum_count) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return platform::create_object(name, std::make_shared<SemaphoreObject>(initial_count, maximum_count));
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG count, LPLONG previous_count) {
  auto object = platform::handle_object_as<SemaphoreObject>(semaphore, platform::ObjectKind::Semaphore);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (count <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  bool released = false;
  LONG previous = 0;
  platform::waitable_update([&] {
    previous = object->count;
    if (count > object->maximum - object->count) return;
    object->count += count;
    released = true;
  });
  if (!released) {
    SetLastError(ERROR_TOO_MANY_POSTS);
    return FALSE;
  }
  if (previous_count) *previous_count = previous;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  std::shared_ptr<platform::Waitable> held;
  platform::Waitable* target = nullptr;
  if (handle == GetCurrentThread()) {
    target = &platform::current_thread();  // lives as long as this thread
  } else {
    held = std::dynamic_pointer_cast<platform::Waitable>(platform::handle_object(handle));
    target = held.get();
  }
  if (!target) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  using Clock = std::chrono::steady_clock;
  const bool timed = milliseconds != INFINITE;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timed ? milliseconds : 0);
  auto& condition = platform::wait_condition();
  {
    std::unique_lock lock(platform::wait_mutex());
    const uint64_t ticket = target->wait_begin();
    for (;;) {
      // A suspended waiter neither takes the object nor times out before it is resumed.
      bool suspended = platform::current_thread_suspended();
      if (!suspended) {
        if (target->wait_ready(ticket)) {
          target->wait_consume(ticket);
          return WAIT_OBJECT_0;
        }
        if (timed && Clock::now() >= deadline) break;
      }
      if (suspended || !timed)
        condition.wait(lock);
      else
        condition.wait_until(lock, deadline);
    }
  }
  if (!platform::clock_follows_on_this_thread()) platform::clock_advance_microseconds(uint64_t{milliseconds} * 1000u);
  return WAIT_TIMEOUT;
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  if (section) *section = CRITICAL_SECTION{};
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  if (section) *section = CRITICAL_SECTION{};
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
  if (!section) return;
  const DWORD self = GetCurrentThreadId();
  if (__atomic_load_n(&section->owner_thread, __ATOMIC_RELAXED) == self) {
    ++section->recursion;
    return;
  }
  for (;;) {
    platform::thread_park_point();
    platform::futex_lock(&section->lock_word);
    // Suspended between the check and the lock: give the section back rather than hold it parked.
    if (!platform::current_thread_suspended()) break;
    platform::futex_unlock(&section->lock_word);
  }
  __atomic_store_n(&section->owner_thread, self, __ATOMIC_RELAXED);
  section->recursion = 1;
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  if (!section) return FALSE;
  const DWORD self = GetCurrentThreadId();
  if (__atomic_load_n(&section->owner_thread, __ATOMIC_RELAXED) == self) {
    ++section->recursion;
    return TRUE;
  }
  LONG free_state = 0;
  if (!__atomic_compare_exchange_n(&section->lock_word, &free_state, 1, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
    return FALSE;
  __atomic_store_n(&section->owner_thread, self, __ATOMIC_RELAXED);
  section->recursion = 1;
  return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
  if (!section || __atomic_load_n(&section->owner_thread, __ATOMIC_RELAXED) != GetCurrentThreadId()) return;
  if (--section->recursion > 0) return;
  __atomic_store_n(&section->owner_thread, 0, __ATOMIC_RELAXED);
  platform::futex_unlock(&section->lock_word);
}

LONG InterlockedIncrement(LONG volatile* addend) {
  return addend ? __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST) : 0;
}

LONG InterlockedDecrement(LONG volatile* addend) {
  return addend ? __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST) : 0;
}

LONG InterlockedExchange(LONG volatile* target, LONG value) {
  return target ? __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST) : 0;
}

LONG InterlockedCompareExchange(LONG volatile* destination, LONG exchange, LONG comparand) {
  if (!destination) return 0;
  __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;  // on failure the builtin stored the value it found
}

LONG InterlockedExchangeAdd(LONG volatile* addend, LONG value) {
  return addend ? __atomic_fetch_add(addend, value, __ATOMIC_SEQ_CST) : 0;
}
