// The fault guard: processor faults (bad addresses, division by zero, bad instructions)
// and RaiseException become a jump back to the innermost guard of the thread, with the
// device's exception code and addresses. Built on sigsetjmp/siglongjmp and signal handlers.
#pragma once

#include <setjmp.h>

#include "platform/kernel/types.h"


// Exception codes as the device reports them.
constexpr DWORD EXCEPTION_DATATYPE_MISALIGNMENT = 0x80000002u;
constexpr DWORD EXCEPTION_BREAKPOINT = 0x80000003u;
constexpr DWORD EXCEPTION_SINGLE_STEP = 0x80000004u;
constexpr DWORD EXCEPTION_ACCESS_VIOLATION = 0xC0000005u;
constexpr DWORD EXCEPTION_IN_PAGE_ERROR = 0xC0000006u;
constexpr DWORD EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001Du;
constexpr DWORD EXCEPTION_NONCONTINUABLE_EXCEPTION = 0xC0000025u;
constexpr DWORD EXCEPTION_ARRAY_BOUNDS_EXCEEDED = 0xC000008Cu;
constexpr DWORD EXCEPTION_FLT_DENORMAL_OPERAND = 0xC000008Du;
constexpr DWORD EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008Eu;
constexpr DWORD EXCEPTION_FLT_INEXACT_RESULT = 0xC000008Fu;
constexpr DWORD EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090u;
constexpr DWORD EXCEPTION_FLT_OVERFLOW = 0xC0000091u;
constexpr DWORD EXCEPTION_FLT_STACK_CHECK = 0xC0000092u;
constexpr DWORD EXCEPTION_FLT_UNDERFLOW = 0xC0000093u;
constexpr DWORD EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094u;
constexpr DWORD EXCEPTION_INT_OVERFLOW = 0xC0000095u;
constexpr DWORD EXCEPTION_PRIV_INSTRUCTION = 0xC0000096u;
constexpr DWORD EXCEPTION_STACK_OVERFLOW = 0xC00000FDu;

// Flag of RaiseException and of a record: the exception cannot be continued.
constexpr DWORD EXCEPTION_NONCONTINUABLE = 1;
constexpr DWORD EXCEPTION_MAXIMUM_PARAMETERS = 15;

// What happened: for an access violation, parameter 0 is the kind of access
// (0 read, 1 write, 8 instruction fetch) and parameter 1 the data address.
struct EXCEPTION_RECORD {
  DWORD ExceptionCode;
  DWORD ExceptionFlags;
  EXCEPTION_RECORD* ExceptionRecord;
  PVOID ExceptionAddress;
  DWORD NumberParameters;
  ULONG_PTR ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
};
using PEXCEPTION_RECORD = EXCEPTION_RECORD*;

// The processor state is not kept: ContextRecord is always null here.
struct CONTEXT;
struct EXCEPTION_POINTERS {
  EXCEPTION_RECORD* ExceptionRecord;
  CONTEXT* ContextRecord;
};
using PEXCEPTION_POINTERS = EXCEPTION_POINTERS*;

// Raises a software exception: control goes to the innermost fault guard of the thread
// with this code, the flags, up to 15 arguments and the caller's return address as
// the exception address. Without a guard the process ends with a message on stderr.
[[noreturn]] void RaiseException(DWORD code, DWORD flags, DWORD argument_count, const ULONG_PTR* arguments);

namespace platform {

// Kind of access of an access violation (parameter 0 of its record).
constexpr ULONG_PTR kAccessRead = 0;
constexpr ULONG_PTR kAccessWrite = 1;
constexpr ULONG_PTR kAccessExecute = 8;

// A guarded region, declared by the caller on its own stack:
//
//   platform::FaultGuard guard;
//   if (FAULT_GUARD_ENTER(guard)) {
//     ... code that may fault ...
//     platform::fault_guard_leave(&guard);
//   } else {
//     ... guard.code, guard.address: the guard is already left ...
//   }
//
// A fault unwinds nothing: destructors between the guard and the fault do not run,
// so that code must not own resources that only a destructor releases (and no C++
// exception may cross it). Locals of the entering function that change inside the
// region and are read after a fault must be volatile. Every normal path out of the
// region calls fault_guard_leave; guards nest and leave in reverse order. After a
// fault the floating-point control state is the default one.
struct FaultGuard {
  sigjmp_buf jump;    // where a fault resumes; set in the caller's frame
  FaultGuard* outer;  // the guard that was innermost before this one
  DWORD code;         // exception code after a fault, 0 before
  void* address;      // instruction that faulted (RaiseException: its caller)
  void* data_address; // access violation: the address that could not be used
  EXCEPTION_RECORD record;

  // The record as the device hands it to a handler.
  EXCEPTION_POINTERS pointers() { return {&record, nullptr}; }
};

// Makes guard the innermost guard of the thread (use FAULT_GUARD_ENTER). The first call
// on a thread installs the signal handlers and gives the thread its alternate signal stack.
void fault_guard_push(FaultGuard* guard);

// Ends a region left normally. The guard must be the innermost one; anything else is
// a broken nesting and ends the process with a message.
void fault_guard_leave(FaultGuard* guard);

// The innermost guard of the calling thread, or null.
FaultGuard* fault_guard_innermost();

// Number of alternate signal stacks the guard owns now (each ends with its thread).
size_t fault_guard_alternate_stacks();

// Simulated device memory: after fault_trap_arm, the first access of [begin, begin +
// size) that faults (the caller protected the range) runs handler on the faulting
// thread instead of a guard; the handler must make the range accessible (mprotect) and
// may advance the clock; then the access is retried. One touch disarms the range. False
// when every trap slot is taken.
using FaultTrapHandler = void (*)(void* begin, size_t size);
bool fault_trap_arm(void* begin, size_t size, FaultTrapHandler handler);
void fault_trap_disarm(void* begin);

// Runs body under a fresh guard: true when it returned normally, false after a
// fault (guard then holds the code and addresses).
template <typename Body>
bool call_guarded(FaultGuard& guard, Body&& body);

}  // namespace platform

// Enters guard: true now, false when a fault later comes back to it. A macro because
// sigsetjmp must run in the frame that stays alive for the whole region. The signal
// mask is not saved: the handlers run with SA_NODEFER, so the jump leaves it intact.
#define FAULT_GUARD_ENTER(guard) (::platform::fault_guard_push(&(guard)), sigsetjmp((guard).jump, 0) == 0)

template <typename Body>
bool platform::call_guarded(FaultGuard& guard, Body&& body) {
  if (FAULT_GUARD_ENTER(guard)) {
    body();
    fault_guard_leave(&guard);
    return true;
  }
  return false;
}
