// Threads: creation, suspension, exit codes, priorities, Sleep and the park points.
//
// A thread cannot be stopped safely at an arbitrary instruction on Linux, so suspension is
// cooperative: a suspended thread stops at its next park point and stays there until its
// suspend count is 0 again. The park points are:
//   - the start of a thread created with CREATE_SUSPENDED (before its routine's first instruction),
//   - the entry to and the return from every platform wait: Sleep, WaitForSingleObject and
//     waiting in EnterCriticalSection (a thread blocked in such a wait when it is suspended
//     neither returns from it nor takes the object or the section before it is resumed),
//   - platform::thread_park_point(), which long-running loops (the script machine, the sound
//     mixer) call between units of work.
// SuspendThread of another thread does not wait for it to reach a park point: waiting could
// hang on a thread that runs long without one, or that needs a lock the caller holds, and it
// would not stop the thread any sooner. What it promises is that the target passes no park
// point after SuspendThread returned. A thread that suspends itself parks at once.
#pragma once

#include "platform/kernel/handles.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);

constexpr DWORD CREATE_SUSPENDED = 0x4;
constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD MAXIMUM_SUSPEND_COUNT = 127;

// The device's priority levels: 0 is the highest.
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 0;
constexpr int THREAD_PRIORITY_HIGHEST = 1;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 2;
constexpr int THREAD_PRIORITY_NORMAL = 3;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = 4;
constexpr int THREAD_PRIORITY_LOWEST = 5;
constexpr int THREAD_PRIORITY_ABOVE_IDLE = 6;
constexpr int THREAD_PRIORITY_IDLE = 7;
constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;

namespace platform {

// Parks the calling thread while it is suspended; returns at once otherwise (a cheap check).
void thread_park_point();

// The lowest address of the calling thread's stack, or 0 when it cannot be told (an
// unlimited main stack): code that nests without bound stops before it gets there.
uintptr_t thread_stack_lowest();

// The calling thread's stack as the host reports it: false when it cannot be told. Asked
// of the host once per thread (for the main thread the host reads the process's whole
// memory map to answer, unless main_stack_extent can).
bool thread_stack_extent(uintptr_t* lowest, size_t* size);

// The main thread's stack as the host would report it, worked out from the stack limit,
// where start-up found the stack and the program name the kernel puts at its very end.
// False on any other thread, and for a limit so large that the map must decide.
bool main_stack_extent(uintptr_t* lowest, size_t* size);

}  // namespace platform

// Starts routine(parameter) on a new thread and returns its handle (null on failure). The
// stack has stack_size bytes (0: the default; small sizes are raised to 1 MiB, as our code
// needs more stack than the device's; above 1 GiB fails with ERROR_NOT_ENOUGH_MEMORY). With CREATE_SUSPENDED the routine starts only when
// ResumeThread brings the suspend count to 0. thread_id (may be null) receives the new id.
// The handle is signalled when the thread ends; closing it does not end the thread.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, DWORD stack_size, LPTHREAD_START_ROUTINE routine,
                    LPVOID parameter, DWORD flags, LPDWORD thread_id);

// Raise and lower a thread's suspend count; each returns the count before, or 0xFFFFFFFF
// on failure (a bad handle, a thread that has ended, a count past MAXIMUM_SUSPEND_COUNT).
DWORD SuspendThread(HANDLE thread);
DWORD ResumeThread(HANDLE thread);

// Ends the calling thread with exit code, from any depth: the stack unwinds as for an
// exception (destructors run), so no noexcept function may lie between, and a catch (...)
// on the way must rethrow. On the program's main thread it ends the whole process with that
// code, since the platform's own threads would otherwise keep it alive.
[[noreturn]] void ExitThread(DWORD exit_code);

// The thread's exit code, or STILL_ACTIVE while it runs.
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code);

// Ids are unique among the threads of the process, never 0, for threads the platform did not
// start as well.
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// A pseudo handle that stands for the calling thread in the thread functions; it needs no closing.
HANDLE GetCurrentThread();

// The priority is recorded and read back; scheduling is left to the host.
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);

// Waits milliseconds (INFINITE: for ever); Sleep(0) yields the processor. With the virtual
// clock it moves the clock by exactly milliseconds and only yields.
void Sleep(DWORD milliseconds);
