// Waiting and signalling: events, semaphores, critical sections, interlocked operations,
// and the Waitable base that any kernel object a thread can wait for derives from.
#pragma once

#include <functional>

#include "platform/kernel/handles.h"


// EventModify's operations (SetEvent and ResetEvent are EventModify with SET and RESET).
constexpr DWORD EVENT_PULSE = 1;
constexpr DWORD EVENT_RESET = 2;
constexpr DWORD EVENT_SET = 3;

namespace platform {

// A kernel object a thread can wait for with WaitForSingleObject. Its state is read and
// changed only under the one wait lock: subclasses change it through waitable_update.
class Waitable : public KernelObject {
 public:
  using KernelObject::KernelObject;
  // Called when a wait begins; the value comes back to wait_ready and wait_consume
  // (an event uses it to tell which waiters a pulse releases).
  virtual uint64_t wait_begin() { return 0; }
  // Whether a wait that began with ticket may end now.
  virtual bool wait_ready(uint64_t ticket) const = 0;
  // Takes what an ended wait takes: an auto-reset event's signal, a semaphore's count.
  virtual void wait_consume(uint64_t ticket) {}
};

// Runs change under the wait lock, then wakes every waiter to look at its object again.
// change must not wait or call back into the wait functions.
void waitable_update(const std::function<void()>& change);

}  // namespace platform

// Creates an event, manual-reset (stays signalled until reset) or auto-reset (a wait that
// ends takes the signal). A named event already made returns a new handle to the same
// object with ERROR_ALREADY_EXISTS set. Null on failure.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state, LPCWSTR name);

// EVENT_SET signals the event, EVENT_RESET clears it, EVENT_PULSE releases the threads
// waiting right now (one of them for an auto-reset event) and leaves it clear.
BOOL EventModify(HANDLE event, DWORD operation);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Creates a semaphore holding initial counts, at most maximum (initial 0..maximum, maximum > 0).
HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES security, LONG initial_count, LONG maximum_count, LPCWSTR name);

// Adds count (> 0) to the semaphore; fails with ERROR_TOO_MANY_POSTS, changing nothing,
// when that would pass its maximum. previous_count (may be null) receives the count before.
BOOL ReleaseSemaphore(HANDLE semaphore, LONG count, LPLONG previous_count);

// Waits until the object is signalled (WAIT_OBJECT_0) or milliseconds pass (WAIT_TIMEOUT;
// INFINITE never times out). WAIT_FAILED with ERROR_INVALID_HANDLE for a handle that cannot
// be waited for. A thread suspended meanwhile does not return (nor take the object) before
// it is resumed. With the virtual clock a wait that times out moves the clock by its timeout.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// A recursive lock in memory the caller owns. Needs no clean-up beyond DeleteCriticalSection
// and never allocates. Waiting to enter is a park point of thread suspension.
struct CRITICAL_SECTION {
  LONG lock_word;       // 0 free, 1 held, 2 held with threads waiting (a futex)
  DWORD owner_thread;   // thread id of the holder, 0 when free
  DWORD recursion;      // entries of the holder not yet left
  DWORD reserved[2];
};
static_assert(sizeof(CRITICAL_SECTION) == 20, "the device's size, for records that embed one");
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
// Enters the section, waiting while another thread holds it; the holder may enter again.
void EnterCriticalSection(LPCRITICAL_SECTION section);
// Enters the section only if that needs no wait; TRUE when entered.
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
// Leaves one entry; the section is free when the holder has left as often as it entered.
// A thread that does not hold the section changes nothing.
void LeaveCriticalSection(LPCRITICAL_SECTION section);

// Atomic operations on a 32-bit value (full barriers). Increment and Decrement return the
// new value; Exchange, CompareExchange and ExchangeAdd return the value before.
LONG InterlockedIncrement(LONG volatile* addend);
LONG InterlockedDecrement(LONG volatile* addend);
LONG InterlockedExchange(LONG volatile* target, LONG value);
LONG InterlockedCompareExchange(LONG volatile* destination, LONG exchange, LONG comparand);
LONG InterlockedExchangeAdd(LONG volatile* addend, LONG value);
