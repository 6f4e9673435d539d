// Events, semaphores, waits, critical sections and interlocked operations.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    Sleep(10);
  }
  return condition();
}

// Starts routine(parameter) count times and waits for all of them to end.
void run_threads(int count, LPTHREAD_START_ROUTINE routine, void* parameter) {
  std::vector<HANDLE> threads;
  for (int i = 0; i < count; ++i) {
    HANDLE thread = CreateThread(nullptr, 0, routine, parameter, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    threads.push_back(thread);
  }
  for (HANDLE thread : threads) {
    EXPECT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    CloseHandle(thread);
  }
}

TEST(Sync, SemaphoreWaitTimesOutOnTime) {
  platform::clock_select_virtual(false);
  HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 1, nullptr);
  ASSERT_NE(semaphore, nullptr);
  auto start = Clock::now();
  EXPECT_EQ(WaitForSingleObject(semaphore, 50), WAIT_TIMEOUT);
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(took, 50);
  EXPECT_LE(took, 200);
  CloseHandle(semaphore);
}

TEST(Sync, SemaphoreReleaseRespectsTheMaximum) {
  struct Row {
    LONG initial, maximum, release;
    BOOL succeeds;
    DWORD error;      // when it fails
    LONG count_after;
  };
  const Row rows[] = {
      {0, 2, 2, TRUE, 0, 2},
      {1, 2, 1, TRUE, 0, 2},
      {1, 2, 2, FALSE, ERROR_TOO_MANY_POSTS, 1},
      {2, 2, 1, FALSE, ERROR_TOO_MANY_POSTS, 2},
      {0, 0x7FFFFFFF, 0x7FFFFFFF, TRUE, 0, -1},  // -1: too many to count down
      {1, 0x7FFFFFFF, 0x7FFFFFFF, FALSE, ERROR_TOO_MANY_POSTS, 1},
      {0, 2, 0, FALSE, ERROR_INVALID_PARAMETER, 0},
      {0, 2, -1, FALSE, ERROR_INVALID_PARAMETER, 0},
  };
  int index = 0;
  for (const auto& row : rows) {
    HANDLE semaphore = CreateSemaphoreW(nullptr, row.initial, row.maximum, nullptr);
    ASSERT_NE(semaphore, nullptr) << "row " << index;
    LONG previous = -99;
    SetLastError(0);
    EXPECT_EQ(ReleaseSemaphore(semaphore, row.release, &previous), row.succeeds) << "row " << index;
    if (row.succeeds) {
      EXPECT_EQ(previous, row.initial) << "row " << index;
    } else {
      EXPECT_EQ(GetLastError(), row.error) << "row " << index;
    }
    if (row.count_after >= 0) {
      LONG taken = 0;
      while (WaitForSingleObject(semaphore, 0) == WAIT_OBJECT_0) ++taken;
      EXPECT_EQ(taken, row.count_after) << "row " << index;
    }
    CloseHandle(semaphore);
    ++index;
  }
}

TEST(Sync, SemaphoreCreationChecksItsCounts) {
  struct Row {
    LONG initial, maximum;
  };
  const Row rows[] = {{0, 0}, {0, -1}, {-1, 1}, {3, 2}};
  for (const auto& row : rows) {
    SetLastError(0);
    EXPECT_EQ(CreateSemaphoreW(nullptr, row.initial, row.maximum, nullptr), nullptr)
        << row.initial << "/" << row.maximum;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << row.initial << "/" << row.maximum;
  }
}

struct Waiters {
  HANDLE event;
  std::atomic<int> woken{0};
};

DWORD wait_on_event(LPVOID parameter) {
  auto* waiters = static_cast<Waiters*>(parameter);
  if (WaitForSingleObject(waiters->event, 10000) == WAIT_OBJECT_0) ++waiters->woken;
  return 0;
}

struct Release {
  int released;
  DWORD left_signalled;  // WaitForSingleObject(event, 0) once the waiters had their chance
};

// Two threads wait on an event; operation is applied once; counts how many wake.
Release apply_to_two_waiters(BOOL manual_reset, DWORD operation) {
  Waiters waiters;
  waiters.event = CreateEventW(nullptr, manual_reset, FALSE, nullptr);
  HANDLE threads[2];
  for (HANDLE& thread : threads) thread = CreateThread(nullptr, 0, wait_on_event, &waiters, 0, nullptr);
  Sleep(100);  // both are waiting
  EventModify(waiters.event, operation);
  Sleep(150);
  Release result{waiters.woken, WaitForSingleObject(waiters.event, 0)};
  eventually([&] {  // let the rest go
    SetEvent(waiters.event);
    return waiters.woken == 2;
  });
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, 15000);
    CloseHandle(thread);
  }
  CloseHandle(waiters.event);
  return result;
}

TEST(Sync, EventsReleaseOneOrAllWaiters) {
  struct Row {
    const char* name;
    BOOL manual_reset;
    DWORD operation;
    int released;
    DWORD left_signalled;
  };
  const Row rows[] = {
      {"auto set", FALSE, EVENT_SET, 1, WAIT_TIMEOUT},
      {"manual set", TRUE, EVENT_SET, 2, WAIT_OBJECT_0},
      {"auto pulse", FALSE, EVENT_PULSE, 1, WAIT_TIMEOUT},
      {"manual pulse", TRUE, EVENT_PULSE, 2, WAIT_TIMEOUT},
  };
  for (const auto& row : rows) {
    Release result = apply_to_two_waiters(row.manual_reset, row.operation);
    EXPECT_EQ(result.released, row.released) << row.name;
    EXPECT_EQ(result.left_signalled, row.left_signalled) << row.name;
  }
}

TEST(Sync, EventModifyWithoutWaiters) {
  struct Row {
    const char* name;
    BOOL manual_reset, initial;
    DWORD operation;
    DWORD first_wait, second_wait;
  };
  const Row rows[] = {
      {"manual set stays set", TRUE, FALSE, EVENT_SET, WAIT_OBJECT_0, WAIT_OBJECT_0},
      {"auto set is taken once", FALSE, FALSE, EVENT_SET, WAIT_OBJECT_0, WAIT_TIMEOUT},
      {"manual reset", TRUE, TRUE, EVENT_RESET, WAIT_TIMEOUT, WAIT_TIMEOUT},
      {"auto reset", FALSE, TRUE, EVENT_RESET, WAIT_TIMEOUT, WAIT_TIMEOUT},
      {"manual pulse with no waiter", TRUE, FALSE, EVENT_PULSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
      {"auto pulse with no waiter", FALSE, FALSE, EVENT_PULSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
      {"pulse clears a set event", TRUE, TRUE, EVENT_PULSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
      {"initially set, untouched", TRUE, TRUE, 0, WAIT_OBJECT_0, WAIT_OBJECT_0},
  };
  for (const auto& row : rows) {
    HANDLE event = CreateEventW(nullptr, row.manual_reset, row.initial, nullptr);
    ASSERT_NE(event, nullptr) << row.name;
    if (row.operation) {
      EXPECT_TRUE(EventModify(event, row.operation)) << row.name;
    }
    EXPECT_EQ(WaitForSingleObject(event, 0), row.first_wait) << row.name;
    EXPECT_EQ(WaitForSingleObject(event, 0), row.second_wait) << row.name;
    CloseHandle(event);
  }
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  for (DWORD bad : {0u, 4u, 100u}) {
    SetLastError(0);
    EXPECT_FALSE(EventModify(event, bad)) << bad;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << bad;
  }
  CloseHandle(event);
}

TEST(Sync, NamedObjectsAreShared) {
  HANDLE first = CreateEventW(nullptr, TRUE, FALSE, u"zrk-test-event");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE second = CreateEventW(nullptr, TRUE, FALSE, u"zrk-test-event");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_NE(first, second);
  SetEvent(first);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
  EXPECT_EQ(CreateSemaphoreW(nullptr, 0, 1, u"zrk-test-event"), nullptr) << "a name of another kind";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(first);
  CloseHandle(second);
  HANDLE fresh = CreateEventW(nullptr, TRUE, FALSE, u"zrk-test-event");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "the name outlived its object";
  EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_TIMEOUT);
  CloseHandle(fresh);
}

TEST(Sync, WaitOnSomethingNotWaitableFails) {
  HANDLE closed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  CloseHandle(closed);
  for (HANDLE bad : {HANDLE{nullptr}, INVALID_HANDLE_VALUE, closed, reinterpret_cast<HANDLE>(0x1234)}) {
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(bad, 10), WAIT_FAILED) << bad;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << bad;
  }
  EXPECT_FALSE(SetEvent(closed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReleaseSemaphore(closed, 1, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

struct SharedCounter {
  CRITICAL_SECTION section;
  long value = 0;  // deliberately not atomic: the section guards it
};

DWORD count_under_section(LPVOID parameter) {
  auto* counter = static_cast<SharedCounter*>(parameter);
  for (int i = 0; i < 100000; ++i) {
    EnterCriticalSection(&counter->section);
    EnterCriticalSection(&counter->section);  // recursion
    long seen = counter->value;
    counter->value = seen + 1;
    LeaveCriticalSection(&counter->section);
    LeaveCriticalSection(&counter->section);
  }
  return 0;
}

TEST(Sync, RecursiveCriticalSectionGuardsACounter) {
  SharedCounter counter;
  InitializeCriticalSection(&counter.section);
  run_threads(2, count_under_section, &counter);
  EXPECT_EQ(counter.value, 200000);
  EXPECT_EQ(counter.section.lock_word, 0) << "left held";
  DeleteCriticalSection(&counter.section);
}

struct TryProbe {
  CRITICAL_SECTION* section;
  std::atomic<BOOL> result{-1};
};

DWORD try_enter_once(LPVOID parameter) {
  auto* probe = static_cast<TryProbe*>(parameter);
  probe->result = TryEnterCriticalSection(probe->section);
  if (probe->result) LeaveCriticalSection(probe->section);
  return 0;
}

TEST(Sync, TryEnterFailsOnlyWhileAnotherThreadHolds) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  TryProbe probe{&section};
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section)) << "the holder may enter again";
  LeaveCriticalSection(&section);
  run_threads(1, try_enter_once, &probe);
  EXPECT_EQ(probe.result, FALSE) << "entered a held section";
  LeaveCriticalSection(&section);
  run_threads(1, try_enter_once, &probe);
  EXPECT_EQ(probe.result, TRUE) << "the section was not free after the last leave";
  DeleteCriticalSection(&section);
}

TEST(Sync, LeaveByAThreadThatDoesNotHoldChangesNothing) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  LeaveCriticalSection(&section);  // not held at all
  EnterCriticalSection(&section);
  TryProbe probe{&section};
  run_threads(1, [](LPVOID parameter) -> DWORD {
    LeaveCriticalSection(static_cast<TryProbe*>(parameter)->section);  // not the holder
    return try_enter_once(parameter);
  }, &probe);
  EXPECT_EQ(probe.result, FALSE);
  LeaveCriticalSection(&section);
  DeleteCriticalSection(&section);
}

struct Entrant {
  CRITICAL_SECTION section;
  std::atomic<int> entered{0};
};

DWORD enter_and_leave(LPVOID parameter) {
  auto* entrant = static_cast<Entrant*>(parameter);
  EnterCriticalSection(&entrant->section);
  entrant->entered = 1;
  LeaveCriticalSection(&entrant->section);
  return 0;
}

// A thread suspended while it waits to enter must not take the section: the sound device
// suspends its mixer while holding the section and must be able to enter it again.
TEST(Sync, SuspendedThreadDoesNotTakeTheSection) {
  Entrant entrant;
  InitializeCriticalSection(&entrant.section);
  EnterCriticalSection(&entrant.section);
  HANDLE thread = CreateThread(nullptr, 0, enter_and_leave, &entrant, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  Sleep(50);  // it waits to enter
  SuspendThread(thread);
  LeaveCriticalSection(&entrant.section);
  Sleep(100);
  EXPECT_EQ(entrant.entered, 0);
  EXPECT_TRUE(TryEnterCriticalSection(&entrant.section)) << "the suspended thread took the section";
  LeaveCriticalSection(&entrant.section);
  ResumeThread(thread);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(entrant.entered, 1);
  CloseHandle(thread);
  DeleteCriticalSection(&entrant.section);
}

TEST(Sync, InterlockedOperationsReturnWhatTheyPromise) {
  LONG volatile value = 5;
  EXPECT_EQ(InterlockedIncrement(&value), 6);
  EXPECT_EQ(InterlockedDecrement(&value), 5);
  EXPECT_EQ(InterlockedExchange(&value, 42), 5);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(InterlockedCompareExchange(&value, 7, 41), 42) << "swapped on a wrong comparand";
  EXPECT_EQ(value, 42);
  EXPECT_EQ(InterlockedCompareExchange(&value, 7, 42), 42);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(InterlockedExchangeAdd(&value, -10), 7);
  EXPECT_EQ(value, -3);
  value = 0x7FFFFFFF;
  EXPECT_EQ(InterlockedIncrement(&value), static_cast<LONG>(0x80000000u)) << "wraps like the device";
}

struct Tallies {
  LONG volatile increments = 0;
  LONG volatile added = 0;
  LONG volatile by_compare_exchange = 0;
  LONG volatile up_and_down = 1000;
};

DWORD tally(LPVOID parameter) {
  auto* tallies = static_cast<Tallies*>(parameter);
  for (int i = 0; i < 50000; ++i) {
    InterlockedIncrement(&tallies->increments);
    InterlockedExchangeAdd(&tallies->added, 3);
    LONG seen;
    do {
      seen = tallies->by_compare_exchange;
    } while (InterlockedCompareExchange(&tallies->by_compare_exchange, seen + 1, seen) != seen);
    InterlockedIncrement(&tallies->up_and_down);
    InterlockedDecrement(&tallies->up_and_down);
  }
  return 0;
}

TEST(Sync, InterlockedOperationsFromFourThreads) {
  Tallies tallies;
  run_threads(4, tally, &tallies);
  EXPECT_EQ(tallies.increments, 200000);
  EXPECT_EQ(tallies.added, 600000);
  EXPECT_EQ(tallies.by_compare_exchange, 200000);
  EXPECT_EQ(tallies.up_and_down, 1000);
}

}  // namespace
