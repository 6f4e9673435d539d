// Threads: suspended start, exit codes, suspension at park points, ids, priorities, Sleep.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

#include "platform/kernel/threads.h"
#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

long elapsed_ms(Clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Polls until condition holds or about five seconds pass.
template <typename Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    Sleep(10);
  }
  return condition();
}

DWORD exit_code_of(HANDLE thread) {
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  return code;
}

std::atomic<int> started_flag{0};

DWORD set_flag_and_return_seven(LPVOID) {
  started_flag = 1;
  return 7;
}

TEST(Threads, SuspendedThreadRunsOnlyAfterResume) {
  started_flag = 0;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, set_flag_and_return_seven, nullptr, CREATE_SUSPENDED, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  Sleep(100);
  EXPECT_EQ(started_flag, 0) << "the routine ran while the thread was suspended";
  EXPECT_EQ(exit_code_of(thread), STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
  EXPECT_EQ(ResumeThread(thread), 1u);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(started_flag, 1);
  EXPECT_EQ(exit_code_of(thread), 7u);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "an ended thread stays signalled";
  EXPECT_TRUE(CloseHandle(thread));
}

struct UnwindProbe {
  std::atomic<int>* destroyed;
  ~UnwindProbe() { ++*destroyed; }
};

std::atomic<int> probes_destroyed{0};
std::atomic<int> after_exit{0};
std::atomic<bool> exit_at_bottom{true};

void exit_from_deep_inside(int depth) {
  UnwindProbe probe{&probes_destroyed};
  if (depth > 0)
    exit_from_deep_inside(depth - 1);
  else if (exit_at_bottom)
    ExitThread(9);
}

DWORD exit_via_nested_exit_thread(LPVOID) {
  exit_from_deep_inside(3);
  after_exit = 1;
  return 1;
}

TEST(Threads, ExitThreadFromNestedFunctionSetsTheExitCodeAndUnwinds) {
  probes_destroyed = 0;
  after_exit = 0;
  HANDLE thread = CreateThread(nullptr, 0, exit_via_nested_exit_thread, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(exit_code_of(thread), 9u);
  EXPECT_EQ(after_exit, 0) << "code after ExitThread ran";
  EXPECT_EQ(probes_destroyed, 4) << "the frames between ExitThread and the start were not unwound";
  CloseHandle(thread);
}

struct Gate {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> passed{0};
  ~Gate() { CloseHandle(event); }
};

DWORD pass_gate(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  WaitForSingleObject(gate->event, INFINITE);
  gate->passed = 1;
  return 3;
}

TEST(Threads, ClosingTheHandleDoesNotEndTheThread) {
  Gate gate;
  HANDLE thread = CreateThread(nullptr, 0, pass_gate, &gate, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  Sleep(20);
  EXPECT_EQ(exit_code_of(thread), STILL_ACTIVE);
  EXPECT_TRUE(CloseHandle(thread));
  SetEvent(gate.event);
  EXPECT_TRUE(eventually([&] { return gate.passed == 1; })) << "the thread did not finish its work";
}

TEST(Threads, SuspendAndResumeReturnThePreviousCount) {
  struct Step {
    const char* operation;
    DWORD expected;
  };
  const Step steps[] = {{"suspend", 1}, {"suspend", 2}, {"resume", 3}, {"resume", 2},
                        {"resume", 1},  {"resume", 0},  {"resume", 0}};
  started_flag = 0;
  HANDLE thread = CreateThread(nullptr, 0, set_flag_and_return_seven, nullptr, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(thread, nullptr);
  int row = 0;
  for (const auto& step : steps) {
    bool suspend = std::string(step.operation) == "suspend";
    DWORD previous = suspend ? SuspendThread(thread) : ResumeThread(thread);
    EXPECT_EQ(previous, step.expected) << "step " << row << " (" << step.operation << ")";
    if (row < 4) {
      EXPECT_EQ(started_flag, 0) << "ran at step " << row;
    }
    ++row;
  }
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(SuspendThread(thread), 0xFFFFFFFFu) << "an ended thread cannot be suspended";
  CloseHandle(thread);
}

TEST(Threads, SuspendCountHasAMaximum) {
  Gate gate;
  HANDLE thread = CreateThread(nullptr, 0, pass_gate, &gate, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(thread, nullptr);
  for (DWORD count = 1; count < MAXIMUM_SUSPEND_COUNT; ++count) ASSERT_EQ(SuspendThread(thread), count);
  EXPECT_EQ(SuspendThread(thread), 0xFFFFFFFFu);
  EXPECT_EQ(GetLastError(), ERROR_SIGNAL_REFUSED);
  for (DWORD count = MAXIMUM_SUSPEND_COUNT; count > 0; --count) ASSERT_EQ(ResumeThread(thread), count);
  SetEvent(gate.event);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
}

// A thread blocked in a wait when it is suspended must not return from the wait before it
// is resumed, even when the object is signalled meanwhile (the sound mixer relies on it).
TEST(Threads, ThreadSuspendedInAWaitParksBeforeReturning) {
  Gate gate;
  HANDLE thread = CreateThread(nullptr, 0, pass_gate, &gate, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  Sleep(50);
  EXPECT_EQ(SuspendThread(thread), 0u);
  SetEvent(gate.event);
  Sleep(100);
  EXPECT_EQ(gate.passed, 0) << "returned from the wait while suspended";
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(gate.passed, 1);
  CloseHandle(thread);
}

// The mixer's loop: poll a stop event every 1 ms, take the semaphore within 3 ms, "mix".
struct Mixer {
  HANDLE stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE buffers_free = CreateSemaphoreW(nullptr, 0, 100, nullptr);
  std::atomic<int> mixed{0};
  ~Mixer() {
    CloseHandle(stop);
    CloseHandle(buffers_free);
  }
};

DWORD mixer_loop(LPVOID parameter) {
  auto* mixer = static_cast<Mixer*>(parameter);
  while (WaitForSingleObject(mixer->stop, 1) == WAIT_TIMEOUT) {
    while (WaitForSingleObject(mixer->buffers_free, 3) == WAIT_OBJECT_0) ++mixer->mixed;
  }
  return 0;
}

TEST(Threads, SuspendedMixerMixesNoMoreBuffers) {
  Mixer mixer;
  HANDLE thread = CreateThread(nullptr, 0, mixer_loop, &mixer, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ReleaseSemaphore(mixer.buffers_free, 2, nullptr);
  ASSERT_TRUE(eventually([&] { return mixer.mixed == 2; }));
  EXPECT_EQ(SuspendThread(thread), 0u);
  ReleaseSemaphore(mixer.buffers_free, 5, nullptr);
  Sleep(100);
  EXPECT_EQ(mixer.mixed, 2) << "mixed while suspended";
  ResumeThread(thread);
  EXPECT_TRUE(eventually([&] { return mixer.mixed == 7; }));
  SetEvent(mixer.stop);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
}

struct Spinner {
  std::atomic<int> rounds{0};
  std::atomic<bool> stop{false};
};

DWORD spin_with_park_points(LPVOID parameter) {
  auto* spinner = static_cast<Spinner*>(parameter);
  while (!spinner->stop) {
    platform::thread_park_point();
    ++spinner->rounds;
  }
  return 0;
}

TEST(Threads, BusyThreadStopsAtItsNextParkPoint) {
  Spinner spinner;
  HANDLE thread = CreateThread(nullptr, 0, spin_with_park_points, &spinner, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(eventually([&] { return spinner.rounds > 1000; }));
  EXPECT_EQ(SuspendThread(thread), 0u);
  int at_suspend = spinner.rounds;
  Sleep(100);
  // It may finish the round it was in, but passes no park point.
  EXPECT_LE(spinner.rounds, at_suspend + 1);
  ResumeThread(thread);
  EXPECT_TRUE(eventually([&] { return spinner.rounds > at_suspend + 1000; }));
  spinner.stop = true;
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
}

std::atomic<int> before_self_suspend{0};
std::atomic<int> after_self_suspend{0};
std::atomic<DWORD> self_suspend_result{0};

DWORD suspend_self(LPVOID) {
  before_self_suspend = 1;
  self_suspend_result = SuspendThread(GetCurrentThread());
  after_self_suspend = 1;
  return 0;
}

TEST(Threads, ThreadCanSuspendItself) {
  before_self_suspend = 0;
  after_self_suspend = 0;
  HANDLE thread = CreateThread(nullptr, 0, suspend_self, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(eventually([] { return before_self_suspend == 1; }));
  Sleep(50);
  EXPECT_EQ(after_self_suspend, 0);
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(after_self_suspend, 1);
  EXPECT_EQ(self_suspend_result, 0u);
  CloseHandle(thread);
}

std::atomic<DWORD> id_seen_inside{0};

DWORD record_own_id(LPVOID) {
  id_seen_inside = GetCurrentThreadId();
  return 0;
}

TEST(Threads, IdsAreNonZeroAndDistinct) {
  DWORD main_id = GetCurrentThreadId();
  EXPECT_NE(main_id, 0u);
  EXPECT_EQ(GetCurrentThreadId(), main_id);
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
  DWORD reported = 0;
  HANDLE thread = CreateThread(nullptr, 0, record_own_id, nullptr, 0, &reported);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(id_seen_inside, reported);
  EXPECT_NE(reported, main_id);
  CloseHandle(thread);
}

std::atomic<size_t> stack_seen{0};

DWORD record_stack_size(LPVOID) {
  pthread_attr_t attributes;
  size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
    pthread_attr_getstacksize(&attributes, &size);
    pthread_attr_destroy(&attributes);
  }
  stack_seen = size;
  return 0;
}

TEST(Threads, StackSizeIsHonoured) {
  struct Row {
    DWORD requested;
    size_t at_least;
  };
  const Row rows[] = {{8u << 20, 8u << 20}, {3u << 20, 3u << 20}, {4096, 1u << 20}};
  for (const auto& row : rows) {
    stack_seen = 0;
    HANDLE thread = CreateThread(nullptr, row.requested, record_stack_size, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr) << row.requested;
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_GE(stack_seen, row.at_least) << "requested " << row.requested;
    CloseHandle(thread);
  }
  for (DWORD too_large : {0x7FFFFFFFu, 0xFFFFFFFFu}) {
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, too_large, record_stack_size, nullptr, 0, nullptr), nullptr) << too_large;
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY) << too_large;
  }
}

// The main thread's stack worked out without the memory map is what the C library reads
// from it, under every stack limit it answers for; elsewhere the map decides.
TEST(Threads, MainStackExtentMatchesTheHostsAnswer) {
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_STACK, &saved), 0);
  struct Row {
    rlim_t limit;
    bool answered;
  };
  const Row rows[] = {{saved.rlim_cur, saved.rlim_cur <= (64u << 20)}, {1u << 20, true}, {(16u << 20) + 123, true},
                      {64u << 20, true}, {(64u << 20) + 4096, false}, {RLIM_INFINITY, false}};
  for (const Row& row : rows) {
    if (row.limit > saved.rlim_max) continue;
    rlimit limit = saved;
    limit.rlim_cur = row.limit;
    ASSERT_EQ(setrlimit(RLIMIT_STACK, &limit), 0) << row.limit;
    rlimit applied{};
    // qemu-user accepts a stack limit and keeps its own: such a row tells nothing.
    if (getrlimit(RLIMIT_STACK, &applied) != 0 || applied.rlim_cur != row.limit) continue;
    uintptr_t lowest = 0;
    size_t size = 0;
    bool answered = platform::main_stack_extent(&lowest, &size);
    void* host_low = nullptr;
    size_t host_size = 0;
    pthread_attr_t attributes;
    bool host = pthread_getattr_np(pthread_self(), &attributes) == 0 &&
                pthread_attr_getstack(&attributes, &host_low, &host_size) == 0;
    if (host) pthread_attr_destroy(&attributes);
    EXPECT_EQ(setrlimit(RLIMIT_STACK, &saved), 0);
    EXPECT_EQ(answered, row.answered) << row.limit;
    if (!answered || !host) continue;
    EXPECT_EQ(lowest, reinterpret_cast<uintptr_t>(host_low)) << row.limit;
    EXPECT_EQ(size, host_size) << row.limit;
  }
  std::atomic<int> on_thread{-1};
  std::thread other([&] {
    uintptr_t lowest = 0;
    size_t size = 0;
    on_thread = platform::main_stack_extent(&lowest, &size) ? 1 : 0;
  });
  other.join();
  EXPECT_EQ(on_thread, 0);
}

TEST(Threads, PriorityIsRecorded) {
  Gate gate;
  HANDLE thread = CreateThread(nullptr, 0, pass_gate, &gate, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST));
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_HIGHEST);
  for (int bad : {-1, 8, 15}) {
    EXPECT_FALSE(SetThreadPriority(thread, bad)) << bad;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << bad;
  }
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_HIGHEST);
  EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE));
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_IDLE);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
  ResumeThread(thread);
  SetEvent(gate.event);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
}

TEST(Threads, BadHandlesAreRefused) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE closed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  CloseHandle(closed);
  struct Row {
    const char* name;
    HANDLE handle;
  };
  const Row rows[] = {{"null", nullptr}, {"invalid", INVALID_HANDLE_VALUE}, {"event", event}, {"closed", closed}};
  for (const auto& row : rows) {
    DWORD code = 0;
    SetLastError(0);
    EXPECT_EQ(SuspendThread(row.handle), 0xFFFFFFFFu) << row.name;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << row.name;
    EXPECT_EQ(ResumeThread(row.handle), 0xFFFFFFFFu) << row.name;
    EXPECT_FALSE(GetExitCodeThread(row.handle, &code)) << row.name;
    EXPECT_FALSE(SetThreadPriority(row.handle, THREAD_PRIORITY_NORMAL)) << row.name;
    EXPECT_EQ(GetThreadPriority(row.handle), THREAD_PRIORITY_ERROR_RETURN) << row.name;
  }
  CloseHandle(event);
  SetLastError(0);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

DWORD sleep_then_set(LPVOID parameter) {
  Sleep(100);
  static_cast<Gate*>(parameter)->passed = 1;
  return 0;
}

TEST(Threads, ThreadSuspendedInSleepParksAfterIt) {
  Gate gate;
  HANDLE thread = CreateThread(nullptr, 0, sleep_then_set, &gate, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  Sleep(20);
  SuspendThread(thread);
  Sleep(250);
  EXPECT_EQ(gate.passed, 0);
  ResumeThread(thread);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(gate.passed, 1);
  CloseHandle(thread);
}

TEST(Threads, SleepWaitsAtLeastItsLength) {
  platform::clock_select_virtual(false);
  auto start = Clock::now();
  Sleep(60);
  long took = elapsed_ms(start);
  EXPECT_GE(took, 60);
  EXPECT_LT(took, 1000);
  start = Clock::now();
  Sleep(0);
  EXPECT_LT(elapsed_ms(start), 50);
}

// ExitThread on the main thread ends the process even while other threads run for ever.
TEST(Threads, ExitThreadOnTheMainThreadEndsTheProcess) {
  std::string command = "timeout 20 " ZRK_TEST_BINARY_DIR "/exit_main_thread";
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 5) << "124 means the process did not end";
}

}  // namespace
