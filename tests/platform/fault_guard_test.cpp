// Fault guard: real processor faults and RaiseException come back to the innermost
// guard with the device's code and the exact faulting instruction.
#include <fenv.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "platform/kernel/fault_guard.h"

// Faulting instructions written by hand, each behind a global label, so that a test
// knows the instruction address exactly and no sanitizer check runs before the fault.
extern "C" {
void probe_write(uint32_t address);
void probe_read(uint32_t address);
int probe_divide(int dividend, int divisor);
void probe_overflow();
void probe_illegal();
void probe_privileged();
void probe_breakpoint();
extern const char probe_write_at[], probe_read_at[], probe_divide_at[], probe_overflow_at[], probe_illegal_at[],
    probe_privileged_at[], probe_breakpoint_at[];
}

asm(R"(
  .text
  .globl probe_write, probe_write_at, probe_read, probe_read_at, probe_divide, probe_divide_at
  .globl probe_overflow, probe_overflow_at, probe_illegal, probe_illegal_at
  .globl probe_privileged, probe_privileged_at, probe_breakpoint, probe_breakpoint_at
  .hidden probe_write, probe_write_at, probe_read, probe_read_at, probe_divide, probe_divide_at
  .hidden probe_overflow, probe_overflow_at, probe_illegal, probe_illegal_at
  .hidden probe_privileged, probe_privileged_at, probe_breakpoint, probe_breakpoint_at
  .type probe_write, @function
probe_write:
  movl 4(%esp), %eax
probe_write_at:
  movl $1, (%eax)
  ret
  .type probe_read, @function
probe_read:
  movl 4(%esp), %ecx
probe_read_at:
  movl (%ecx), %eax
  ret
  .type probe_divide, @function
probe_divide:
  movl 4(%esp), %eax
  movl 8(%esp), %ecx
  cltd
probe_divide_at:
  idivl %ecx
  ret
  .type probe_overflow, @function
probe_overflow:
  movl $0x7fffffff, %eax
  addl $1, %eax
probe_overflow_at:
  into
  ret
  .type probe_illegal, @function
probe_illegal:
probe_illegal_at:
  ud2
  ret
  .type probe_privileged, @function
probe_privileged:
probe_privileged_at:
  hlt
  ret
  .type probe_breakpoint, @function
probe_breakpoint:
probe_breakpoint_at:
  int3
  ret
)");

namespace {

using platform::FaultGuard;

struct FaultCase {
  const char* name;
  void (*run)();
  const void* instruction;  // null: checked by the case's own expectations
  DWORD code;
  uintptr_t data_address;
  ULONG_PTR access;
  bool has_data;
};

void call_null_function() {
  auto function = reinterpret_cast<void (*)()>(platform::pointer_from(0));
  function();
}

const FaultCase kFaults[] = {
    {"null write", [] { probe_write(0); }, probe_write_at, EXCEPTION_ACCESS_VIOLATION, 0, platform::kAccessWrite, true},
    {"read of a low address", [] { probe_read(0x10); }, probe_read_at, EXCEPTION_ACCESS_VIOLATION, 0x10,
     platform::kAccessRead, true},
    {"write to a high address", [] { probe_write(0xFFFFF000u); }, probe_write_at, EXCEPTION_ACCESS_VIOLATION,
     0xFFFFF000u, platform::kAccessWrite, true},
    {"call through null", call_null_function, nullptr, EXCEPTION_ACCESS_VIOLATION, 0, platform::kAccessExecute, true},
    {"integer division by zero", [] { probe_divide(7, 0); }, probe_divide_at, EXCEPTION_INT_DIVIDE_BY_ZERO, 0, 0, false},
    {"overflow trap", probe_overflow, probe_overflow_at, EXCEPTION_INT_OVERFLOW, 0, 0, false},
    {"undefined instruction", probe_illegal, probe_illegal_at, EXCEPTION_ILLEGAL_INSTRUCTION, 0, 0, false},
    {"privileged instruction", probe_privileged, probe_privileged_at, EXCEPTION_PRIV_INSTRUCTION, 0, 0, false},
    {"breakpoint", probe_breakpoint, probe_breakpoint_at, EXCEPTION_BREAKPOINT, 0, 0, false},
};

// Runs every case under a guard on the calling thread.
void expect_all_faults_caught() {
  for (const FaultCase& row : kFaults) {
    FaultGuard guard;
    if (FAULT_GUARD_ENTER(guard)) {
      row.run();
      platform::fault_guard_leave(&guard);
      ADD_FAILURE() << row.name << ": no fault";
      continue;
    }
    EXPECT_EQ(platform::fault_guard_innermost(), nullptr) << row.name;
    EXPECT_EQ(guard.code, row.code) << row.name << std::hex << ": code 0x" << guard.code;
    EXPECT_EQ(guard.record.ExceptionCode, row.code) << row.name;
    EXPECT_EQ(guard.record.ExceptionAddress, guard.address) << row.name;
    if (row.instruction) EXPECT_EQ(guard.address, row.instruction) << row.name;
    else EXPECT_EQ(guard.address, nullptr) << row.name;
    if (row.has_data) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(guard.data_address), row.data_address) << row.name;
      ASSERT_EQ(guard.record.NumberParameters, 2u) << row.name;
      EXPECT_EQ(guard.record.ExceptionInformation[0], row.access) << row.name;
      EXPECT_EQ(guard.record.ExceptionInformation[1], row.data_address) << row.name;
    } else {
      EXPECT_EQ(guard.record.NumberParameters, 0u) << row.name;
    }
  }
}

TEST(FaultGuard, FaultsBecomeDeviceCodesOnTheMainThread) { expect_all_faults_caught(); }

TEST(FaultGuard, FaultsBecomeDeviceCodesOnASecondThread) {
  std::thread worker(expect_all_faults_caught);
  worker.join();
}

TEST(FaultGuard, NoFaultRunsTheRegionOnce) {
  FaultGuard guard;
  volatile int runs = 0;
  if (FAULT_GUARD_ENTER(guard)) {
    runs = runs + 1;
    EXPECT_EQ(probe_divide(42, 5), 8);
    platform::fault_guard_leave(&guard);
  } else {
    ADD_FAILURE() << "fault without a cause";
  }
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(guard.code, 0u);
  EXPECT_EQ(platform::fault_guard_innermost(), nullptr);
}

TEST(FaultGuard, InnerFaultGoesToInnerGuardThenOuterGuardTakesLaterFaults) {
  volatile int step = 0;
  FaultGuard outer;
  if (FAULT_GUARD_ENTER(outer)) {
    FaultGuard inner;
    if (FAULT_GUARD_ENTER(inner)) {
      probe_write(0);
      platform::fault_guard_leave(&inner);
    } else {
      EXPECT_EQ(inner.code, EXCEPTION_ACCESS_VIOLATION);
      EXPECT_EQ(platform::fault_guard_innermost(), &outer);
      step = 1;
    }
    FaultGuard left_normally;
    if (FAULT_GUARD_ENTER(left_normally)) {
      step = 2;
      platform::fault_guard_leave(&left_normally);
    }
    probe_divide(1, 0);
    platform::fault_guard_leave(&outer);
    ADD_FAILURE() << "no fault";
  } else {
    EXPECT_EQ(outer.code, EXCEPTION_INT_DIVIDE_BY_ZERO);
    EXPECT_EQ(outer.address, probe_divide_at);
  }
  EXPECT_EQ(step, 2);
  EXPECT_EQ(platform::fault_guard_innermost(), nullptr);
}

__attribute__((noinline)) void raise_custom(const ULONG_PTR* arguments, DWORD count) {
  RaiseException(0xE0424242u, EXCEPTION_NONCONTINUABLE | 0x40, count, arguments);
}

TEST(FaultGuard, RaiseExceptionCarriesCodeFlagsArgumentsAndCaller) {
  ULONG_PTR arguments[20];
  for (ULONG_PTR i = 0; i < 20; ++i) arguments[i] = 100 + i;
  struct Case {
    const char* name;
    const ULONG_PTR* arguments;
    DWORD count;
    DWORD kept;
  } cases[] = {{"three arguments", arguments, 3, 3}, {"more than the record holds", arguments, 20, 15},
               {"count without arguments", nullptr, 3, 0}};
  for (const Case& row : cases) {
    FaultGuard guard;
    if (FAULT_GUARD_ENTER(guard)) {
      raise_custom(row.arguments, row.count);
    }
    EXPECT_EQ(guard.code, 0xE0424242u) << row.name;
    EXPECT_EQ(guard.record.ExceptionFlags, EXCEPTION_NONCONTINUABLE) << row.name;
    auto caller = reinterpret_cast<uintptr_t>(guard.address);
    auto function = reinterpret_cast<uintptr_t>(&raise_custom);
    EXPECT_GT(caller, function) << row.name;
    EXPECT_LT(caller, function + 256) << row.name;
    EXPECT_EQ(guard.pointers().ExceptionRecord, &guard.record) << row.name;
    ASSERT_EQ(guard.record.NumberParameters, row.kept) << row.name;
    for (DWORD i = 0; i < row.kept; ++i) EXPECT_EQ(guard.record.ExceptionInformation[i], 100 + i) << row.name;
  }
}

TEST(FaultGuard, CallGuardedReportsWhetherTheBodyFinished) {
  FaultGuard guard;
  int value = 0;
  EXPECT_TRUE(platform::call_guarded(guard, [&] { value = probe_divide(9, 3); }));
  EXPECT_EQ(value, 3);
  EXPECT_FALSE(platform::call_guarded(guard, [&] { value = probe_divide(9, 0); }));
  EXPECT_EQ(guard.code, EXCEPTION_INT_DIVIDE_BY_ZERO);
}

// Whether an unmasked floating-point exception traps on this host, asked of a forked child:
// qemu-user never raises one.
bool host_traps_float_division() {
  pid_t child = fork();
  if (child == 0) {
    volatile double zero = 0.0;
    feenableexcept(FE_DIVBYZERO);
    volatile double result = 1.0 / zero;
    (void)result;
    _exit(0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return true;
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGFPE;
}

TEST(FaultGuard, FloatDivisionByZeroTrapsWhenUnmasked) {
  if (!host_traps_float_division()) GTEST_SKIP() << "this host does not trap unmasked floating-point exceptions";
  FaultGuard guard;
  volatile double zero = 0.0;
  volatile double result = 0.0;
  if (FAULT_GUARD_ENTER(guard)) {
    feenableexcept(FE_DIVBYZERO);
    result = 1.0 / zero;
    platform::fault_guard_leave(&guard);
  }
  fedisableexcept(FE_ALL_EXCEPT);
  feclearexcept(FE_ALL_EXCEPT);
  EXPECT_EQ(guard.code, EXCEPTION_FLT_DIVIDE_BY_ZERO);
  EXPECT_EQ(result, 0.0);
}

bool fault_once(void (*run)()) {
  FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    run();
    platform::fault_guard_leave(&guard);
    return false;
  }
  return true;
}

TEST(FaultGuard, ManyFaultsLeaveStacksAndSignalMaskAsTheyWere) {
  FaultGuard first;
  if (FAULT_GUARD_ENTER(first)) platform::fault_guard_leave(&first);
  size_t stacks = platform::fault_guard_alternate_stacks();
  sigset_t mask_before, mask_after;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask_before);
  int caught = 0;
  for (int i = 0; i < 5000; ++i) caught += fault_once(i % 2 ? [] { probe_write(0); } : [] { probe_divide(1, 0); });
  EXPECT_EQ(caught, 5000);
  pthread_sigmask(SIG_SETMASK, nullptr, &mask_after);
  for (int signal : {SIGSEGV, SIGFPE}) EXPECT_EQ(sigismember(&mask_after, signal), sigismember(&mask_before, signal));
  EXPECT_EQ(platform::fault_guard_alternate_stacks(), stacks);
  EXPECT_EQ(platform::fault_guard_innermost(), nullptr);
}

TEST(FaultGuard, ThreadsGetAnAlternateStackThatEndsWithThem) {
  size_t before = platform::fault_guard_alternate_stacks();
  std::vector<std::thread> workers;
  for (int t = 0; t < 16; ++t) {
    workers.emplace_back([] {
      FaultGuard guard;
      if (FAULT_GUARD_ENTER(guard)) {
        probe_write(0);
        platform::fault_guard_leave(&guard);
      }
      EXPECT_EQ(guard.code, EXCEPTION_ACCESS_VIOLATION);
      stack_t alternate{};
      ASSERT_EQ(sigaltstack(nullptr, &alternate), 0);
      EXPECT_FALSE(alternate.ss_flags & SS_DISABLE);
    });
  }
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(platform::fault_guard_alternate_stacks(), before);
}

// Deep recursion on a small thread stack runs into the stack's guard page.
volatile int recursion_limit = 1 << 30;
__attribute__((noinline)) int recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (depth >= recursion_limit) return frame[0];
  return recurse(depth + 1) + frame[0];
}

void* overflow_stack(void* result) {
  FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    recurse(0);
    platform::fault_guard_leave(&guard);
  }
  *static_cast<DWORD*>(result) = guard.code;
  return nullptr;
}

TEST(FaultGuard, RunningOutOfStackIsAStackOverflow) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 * 1024);
  pthread_t thread;
  DWORD code = 0;
  ASSERT_EQ(pthread_create(&thread, &attributes, overflow_stack, &code), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  EXPECT_EQ(code, EXCEPTION_STACK_OVERFLOW);
}

class FaultGuardDeath : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(FaultGuardDeath, RaiseExceptionWithoutAGuardEndsTheProcessWithAMessage) {
  EXPECT_DEATH(RaiseException(0xE0000001u, 0, 0, nullptr), "unhandled exception 0xE0000001");
}

// With the handlers installed, a fault outside every guard is still a normal crash.
void unguarded_null_write() {
  FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) platform::fault_guard_leave(&guard);
  probe_write(0);
}

TEST_F(FaultGuardDeath, AFaultOutsideAnyGuardCrashes) {
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_DEATH(unguarded_null_write(), "SEGV");  // the sanitizer reports it
#else
  EXPECT_EXIT(unguarded_null_write(), ::testing::KilledBySignal(SIGSEGV), "");
#endif
}

TEST_F(FaultGuardDeath, LeavingAnOuterGuardFirstIsRefused) {
  auto misuse = [] {
    FaultGuard outer, inner;
    if (FAULT_GUARD_ENTER(outer) && FAULT_GUARD_ENTER(inner)) platform::fault_guard_leave(&outer);
  };
  EXPECT_DEATH(misuse(), "left out of order");
}

}  // namespace
