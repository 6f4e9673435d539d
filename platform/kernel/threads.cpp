// Threads over pthreads: the start trampoline, suspension by park points, exit codes, Sleep.
#include "platform/kernel/threads.h"

#include <pthread.h>
#include <sched.h>
#include <sys/auxv.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/kernel/clock.h"
#include "platform/kernel/thread_wait.h"

// Where the C library's start-up found the main thread's stack (the dynamic loader's record).
extern "C" void* __libc_stack_end;

namespace platform {
namespace {

constexpr uint64_t kMinimumStackSize = 1u << 20;
constexpr uint64_t kMaximumStackSize = 1u << 30;  // a quarter of the 32-bit address space
const HANDLE kCurrentThreadPseudoHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

std::atomic<DWORD> next_thread_id{1};

// The record of the calling thread: set by the trampoline, or made on first use.
thread_local std::shared_ptr<ThreadObject> current_record;
thread_local ThreadObject* current_pointer = nullptr;

std::shared_ptr<ThreadObject> make_record() {
  auto record = std::make_shared<ThreadObject>();
  record->id = next_thread_id.fetch_add(1);
  return record;
}

// The thread behind a handle or the pseudo handle, or null with ERROR_INVALID_HANDLE set.
std::shared_ptr<ThreadObject> thread_from(HANDLE handle) {
  if (handle == kCurrentThreadPseudoHandle) {
    current_thread();
    return current_record;
  }
  auto thread = handle_object_as<ThreadObject>(handle, ObjectKind::Thread);
  if (!thread) SetLastError(ERROR_INVALID_HANDLE);
  return thread;
}

void park_locked(ThreadObject& self, std::unique_lock<std::mutex>& lock) {
  while (self.suspend_count.load() > 0) wait_condition().wait(lock);
}

// Marks the thread ended when its start frame goes away: on return, and on the
// unwinding that ExitThread starts.
struct ThreadEnd {
  ThreadObject* self;
  bool returned = false;
  DWORD returned_code = 0;
  ~ThreadEnd() {
    std::lock_guard lock(wait_mutex());
    self->exit_code = returned ? returned_code : self->requested_exit_code;
    self->ended = true;
    wait_condition().notify_all();
  }
};

void* thread_start(void* argument) {
  std::unique_ptr<std::shared_ptr<ThreadObject>> handed(static_cast<std::shared_ptr<ThreadObject>*>(argument));
  current_record = std::move(*handed);
  current_pointer = current_record.get();
  ThreadObject& self = *current_pointer;
  ThreadEnd end{&self};
  thread_park_point();  // a thread created suspended stops here, before its routine
  end.returned_code = self.routine(self.parameter);
  end.returned = true;
  return nullptr;
}

bool is_main_thread() { return getpid() == static_cast<pid_t>(gettid()); }

// The main thread's thread-local storage goes before the static destructors that run at
// exit, and those may still take locks: its record is kept to the end of the process.
std::shared_ptr<ThreadObject>* main_thread_record = nullptr;

}  // namespace

ThreadObject& current_thread() {
  if (!current_pointer) {
    current_record = make_record();
    current_pointer = current_record.get();
    if (!main_thread_record && is_main_thread()) main_thread_record = new std::shared_ptr<ThreadObject>(current_record);
  }
  return *current_pointer;
}

ThreadObject* current_thread_if_known() { return current_pointer; }

namespace {

struct StackExtent {
  bool asked;
  bool known;
  uintptr_t lowest;
  size_t size;
};
thread_local StackExtent stack_extent{};

}  // namespace

bool main_stack_extent(uintptr_t* lowest, size_t* size) {
  constexpr uintptr_t kPage = 4096;
  // Below this limit the kernel's gap under the stack is wider than the limit, so no other
  // mapping can shorten the stack.
  constexpr rlim_t kLimitBelowTheGap = 64u << 20;
  rlimit limit{};
  auto* name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (!name || !__libc_stack_end || getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur > kLimitBelowTheGap) {
    return false;
  }
  uintptr_t top = (reinterpret_cast<uintptr_t>(__libc_stack_end) & ~(kPage - 1)) + kPage;
  uintptr_t mapping_end = (reinterpret_cast<uintptr_t>(name) + std::strlen(name) + 1 + kPage - 1) & ~(kPage - 1);
  if (mapping_end < top || mapping_end - top >= limit.rlim_cur) return false;
  size_t length = static_cast<size_t>(limit.rlim_cur - (mapping_end - top)) & ~(kPage - 1);
  // Only the main thread runs on this stack (other threads' stacks are mappings below it).
  auto here = reinterpret_cast<uintptr_t>(&limit);
  if (here >= top || here < top - length) return false;
  *lowest = top - length;
  *size = length;
  return true;
}

bool thread_stack_extent(uintptr_t* lowest, size_t* size) {
  StackExtent& extent = stack_extent;
  if (!extent.asked) {
    extent.asked = true;
    if (main_stack_extent(&extent.lowest, &extent.size)) {
      extent.known = true;
      *lowest = extent.lowest;
      *size = extent.size;
      return true;
    }
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
      void* low = nullptr;
      size_t length = 0;
      extent.known = pthread_attr_getstack(&attributes, &low, &length) == 0;
      extent.lowest = reinterpret_cast<uintptr_t>(low);
      extent.size = length;
      pthread_attr_destroy(&attributes);
    }
  }
  *lowest = extent.lowest;
  *size = extent.size;
  return extent.known;
}

uintptr_t thread_stack_lowest() {
  uintptr_t lowest = 0;
  size_t size = 0;
  // An unlimited main stack reports a size that says nothing of where it really ends.
  if (!thread_stack_extent(&lowest, &size) || size == 0 || size > kMaximumStackSize) return 0;
  return lowest;
}

void thread_park_point() {
  ThreadObject* self = current_pointer;
  if (!self || self->suspend_count.load() == 0) return;
  std::unique_lock lock(wait_mutex());
  park_locked(*self, lock);
}

}  // namespace platform

using platform::ThreadObject;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, DWORD stack_size, LPTHREAD_START_ROUTINE routine,
                    LPVOID parameter, DWORD flags, LPDWORD thread_id) {
  if (!routine) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto record = platform::make_record();
  record->started_by_platform = true;
  record->routine = routine;
  record->parameter = parameter;
  if (flags & CREATE_SUSPENDED) record->suspend_count = 1;

  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (stack_size != 0) {
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    uint64_t size = stack_size < platform::kMinimumStackSize ? platform::kMinimumStackSize : stack_size;
    size = (size + page - 1) / page * page;
    if (size > platform::kMaximumStackSize || pthread_attr_setstacksize(&attributes, static_cast<size_t>(size)) != 0) {
      pthread_attr_destroy(&attributes);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  }
  HANDLE handle = platform::handle_create(record);
  auto* handed = new std::shared_ptr<ThreadObject>(record);
  pthread_t native;
  int failed = pthread_create(&native, &attributes, platform::thread_start, handed);
  pthread_attr_destroy(&attributes);
  if (failed) {
    delete handed;
    platform::handle_close(handle);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (thread_id) *thread_id = record->id;
  return handle;
}

DWORD SuspendThread(HANDLE thread) {
  auto target = platform::thread_from(thread);
  if (!target) return 0xFFFFFFFFu;
  std::unique_lock lock(platform::wait_mutex());
  if (target->ended) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0xFFFFFFFFu;
  }
  LONG previous = target->suspend_count.load();
  if (previous >= static_cast<LONG>(MAXIMUM_SUSPEND_COUNT)) {
    SetLastError(ERROR_SIGNAL_REFUSED);
    return 0xFFFFFFFFu;
  }
  target->suspend_count.store(previous + 1);
  if (target.get() == platform::current_thread_if_known()) platform::park_locked(*target, lock);
  return static_cast<DWORD>(previous);
}

DWORD ResumeThread(HANDLE thread) {
  auto target = platform::thread_from(thread);
  if (!target) return 0xFFFFFFFFu;
  std::lock_guard lock(platform::wait_mutex());
  LONG previous = target->suspend_count.load();
  if (previous > 0) {
    target->suspend_count.store(previous - 1);
    if (previous == 1) platform::wait_condition().notify_all();
  }
  return static_cast<DWORD>(previous);
}

void ExitThread(DWORD exit_code) {
  ThreadObject* self = platform::current_thread_if_known();
  if (self && self->started_by_platform) {
    {
      std::lock_guard lock(platform::wait_mutex());
      self->requested_exit_code = exit_code;
    }
    pthread_exit(nullptr);  // unwinds to thread_start, whose ThreadEnd records the code
  }
  if (platform::is_main_thread()) std::exit(static_cast<int>(exit_code));
  pthread_exit(nullptr);
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code) {
  auto target = platform::thread_from(thread);
  if (!target) return FALSE;
  if (!exit_code) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(platform::wait_mutex());
  *exit_code = target->ended ? target->exit_code : STILL_ACTIVE;
  return TRUE;
}

DWORD GetCurrentThreadId() { return platform::current_thread().id; }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

HANDLE GetCurrentThread() { return platform::kCurrentThreadPseudoHandle; }

BOOL SetThreadPriority(HANDLE thread, int priority) {
  auto target = platform::thread_from(thread);
  if (!target) return FALSE;
  if (priority < THREAD_PRIORITY_TIME_CRITICAL || priority > THREAD_PRIORITY_IDLE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(platform::wait_mutex());
  target->priority = priority;
  return TRUE;
}

int GetThreadPriority(HANDLE thread) {
  auto target = platform::thread_from(thread);
  if (!target) return THREAD_PRIORITY_ERROR_RETURN;
  std::lock_guard lock(platform::wait_mutex());
  return target->priority;
}

void Sleep(DWORD milliseconds) {
  platform::thread_park_point();
  if (milliseconds == INFINITE) {
    std::unique_lock lock(platform::wait_mutex());  // nothing ends this sleep
    for (;;) platform::wait_condition().wait(lock);
  }
  if (platform::clock_is_virtual() && !platform::clock_follows_on_this_thread()) {
    platform::clock_advance_microseconds(uint64_t{milliseconds} * 1000u);
    sched_yield();
  } else if (milliseconds == 0) {
    sched_yield();
  } else {
    timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
  }
  platform::thread_park_point();
}
