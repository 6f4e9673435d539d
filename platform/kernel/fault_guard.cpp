// The fault guard: per-thread guard stacks, the fault signal handlers and RaiseException.
// Signal numbers and the processor's trap number become the device's exception codes.
#include "platform/kernel/fault_guard.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/kernel/threads.h"

namespace platform {
namespace {

// Hot state of a thread: plain data with the initial-exec model, so the signal handler
// and every guard entry reach it with one segment-relative load and never allocate.
struct ThreadFaults {
  FaultGuard* innermost;
  uintptr_t stack_low;   // lowest usable address of the thread's stack, 0 when unknown
  bool ready;
};
thread_local ThreadFaults current __attribute__((tls_model("initial-exec"))) = {nullptr, 0, false};

constexpr size_t kAlternateStackSize = 64 * 1024;
constexpr size_t kSmallestUsableAlternateStack = 16 * 1024;
// A fault this close below the lowest stack address is taken as running out of stack.
constexpr uintptr_t kStackOverflowZone = 256 * 1024;
constexpr uintptr_t kPageSize = 4096;

std::atomic<size_t> owned_alternate_stacks{0};

// One alternate stack is static storage, for the first thread to guard (the main thread
// at start-up): it costs no mapping, and its pages are only touched by a signal. Other
// threads map theirs.
alignas(16) char static_alternate_stack[kAlternateStackSize];
std::atomic<bool> static_alternate_stack_taken{false};

void* take_alternate_stack() {
  bool taken = false;
  if (static_alternate_stack_taken.compare_exchange_strong(taken, true)) return static_alternate_stack;
  void* memory = mmap(nullptr, kAlternateStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return memory == MAP_FAILED ? nullptr : memory;
}

void give_back_alternate_stack(void* memory) {
  if (memory == static_alternate_stack) {
    static_alternate_stack_taken.store(false);
  } else {
    munmap(memory, kAlternateStackSize);
  }
}

// The alternate stack a thread got from us; released when the thread ends.
struct AlternateStack {
  void* memory = nullptr;
  ~AlternateStack() {
    if (!memory) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    give_back_alternate_stack(memory);
    owned_alternate_stacks.fetch_sub(1);
  }
};
thread_local AlternateStack alternate_stack;

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
constexpr int kSignalCount = sizeof(kFaultSignals) / sizeof(kFaultSignals[0]);
struct sigaction previous_actions[kSignalCount];

// x86 trap numbers as the kernel reports them in the context.
enum Trap : int {
  kTrapDivide = 0,
  kTrapDebug = 1,
  kTrapBreakpoint = 3,
  kTrapOverflow = 4,
  kTrapBounds = 5,
  kTrapProtection = 13,
  kTrapPage = 14,
};
// Page fault error code bits.
constexpr unsigned long kPageFaultWrite = 0x2;
constexpr unsigned long kPageFaultFetch = 0x10;

// Instructions that user mode may not run; the processor reports them as a protection fault.
bool is_privileged_instruction(const uint8_t* code) {
  uint8_t first = code[0];
  if (first == 0xF4 || first == 0xFA || first == 0xFB) return true;  // hlt, cli, sti
  if ((first >= 0xE4 && first <= 0xE7) || (first >= 0xEC && first <= 0xEF)) return true;  // in, out
  if (first >= 0x6C && first <= 0x6F) return true;  // ins, outs
  if (first == 0x0F) {
    uint8_t second = code[1];
    return second == 0x06 || second == 0x08 || second == 0x09 || (second >= 0x20 && second <= 0x23) ||
           second == 0x30 || second == 0x32;  // clts, invd, wbinvd, mov cr/dr, wrmsr, rdmsr
  }
  return false;
}

DWORD float_code(int signal_code) {
  switch (signal_code) {
    case FPE_INTDIV: return EXCEPTION_INT_DIVIDE_BY_ZERO;
    case FPE_INTOVF: return EXCEPTION_INT_OVERFLOW;
    case FPE_FLTDIV: return EXCEPTION_FLT_DIVIDE_BY_ZERO;
    case FPE_FLTOVF: return EXCEPTION_FLT_OVERFLOW;
    case FPE_FLTUND: return EXCEPTION_FLT_UNDERFLOW;
    case FPE_FLTRES: return EXCEPTION_FLT_INEXACT_RESULT;
    case FPE_FLTSUB: return EXCEPTION_ARRAY_BOUNDS_EXCEEDED;
    default: return EXCEPTION_FLT_INVALID_OPERATION;
  }
}

constexpr uint8_t kOpcodeInto = 0xCE;
constexpr uint8_t kOpcodeInt3 = 0xCC;
constexpr uint8_t kOpcodeBound = 0x62;

bool trap_reported(int trap) { return trap >= 0 && trap < 32; }

// The trap number, worked out from the signal where the context carries none (qemu-user
// reports -1). A trap that ran (int3, into) left EIP just after its one-byte instruction, a
// fault (hlt, bound, a protection fault) left it on the instruction, and both were fetched,
// so reading those bytes cannot fault.
int trap_number(int signal, const siginfo_t* info, const mcontext_t& machine) {
  int trap = machine.gregs[REG_TRAPNO];
  if (trap_reported(trap)) return trap;
  const uint8_t* code = pointer_from<const uint8_t>(static_cast<uint32_t>(machine.gregs[REG_EIP]));
  switch (signal) {
    case SIGFPE:
      return kTrapDivide;
    case SIGTRAP:
      return info->si_code == SI_KERNEL && code[-1] == kOpcodeInt3 ? kTrapBreakpoint : kTrapDebug;
    case SIGSEGV:
    case SIGBUS:
      if (info->si_code != SI_KERNEL) return kTrapPage;
      if (is_privileged_instruction(code)) return kTrapProtection;
      if (code[-1] == kOpcodeInto) return kTrapOverflow;
      if (code[0] == kOpcodeBound) return kTrapBounds;
      return kTrapProtection;
    default:
      return trap;
  }
}

// The kind of access of a page fault. Without a reported trap the error code lacks the
// fetch bit (qemu-user), but a fetch is the one access whose address is the instruction's.
ULONG_PTR page_fault_access(const siginfo_t* info, const mcontext_t& machine) {
  unsigned long error = machine.gregs[REG_ERR];
  bool fetch = (error & kPageFaultFetch) ||
               (!trap_reported(machine.gregs[REG_TRAPNO]) &&
                reinterpret_cast<uintptr_t>(info->si_addr) == static_cast<uint32_t>(machine.gregs[REG_EIP]));
  if (fetch) return kAccessExecute;
  return (error & kPageFaultWrite) ? kAccessWrite : kAccessRead;
}

// The exception code of a fault, and for an access violation the kind of access.
DWORD exception_code(int signal, const siginfo_t* info, const mcontext_t& machine, int trap, ULONG_PTR* access) {
  switch (signal) {
    case SIGFPE:
      return float_code(info->si_code);
    case SIGILL:
      return (info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG) ? EXCEPTION_PRIV_INSTRUCTION
                                                                           : EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGTRAP:
      return (trap == kTrapDebug || info->si_code == TRAP_TRACE) ? EXCEPTION_SINGLE_STEP : EXCEPTION_BREAKPOINT;
    case SIGBUS:
      if (info->si_code == BUS_ADRALN) return EXCEPTION_DATATYPE_MISALIGNMENT;
      break;
    default:
      break;
  }
  // SIGSEGV, or SIGBUS on a bad address. Some processor traps arrive as SIGSEGV too.
  if (signal == SIGSEGV) {
    if (trap == kTrapOverflow) return EXCEPTION_INT_OVERFLOW;
    if (trap == kTrapBounds) return EXCEPTION_ARRAY_BOUNDS_EXCEEDED;
    if (trap == kTrapProtection &&
        is_privileged_instruction(pointer_from<const uint8_t>(static_cast<uint32_t>(machine.gregs[REG_EIP])))) {
      return EXCEPTION_PRIV_INSTRUCTION;
    }
  }
  *access = trap == kTrapPage ? page_fault_access(info, machine) : kAccessRead;
  uintptr_t data = reinterpret_cast<uintptr_t>(info->si_addr);
  if (signal == SIGSEGV && current.stack_low && data < current.stack_low + kPageSize &&
      data + kStackOverflowZone >= current.stack_low) {
    return EXCEPTION_STACK_OVERFLOW;
  }
  return EXCEPTION_ACCESS_VIOLATION;
}

// No guard on this thread: the fault is not ours. The previous action (the default,
// or a sanitizer's handler) takes over; a processor fault simply happens again.
void pass_on(int signal, const siginfo_t* info) {
  for (int i = 0; i < kSignalCount; ++i) {
    if (kFaultSignals[i] == signal) sigaction(signal, &previous_actions[i], nullptr);
  }
  // A breakpoint trap or a sent signal does not repeat by itself.
  if (signal == SIGTRAP || info->si_code <= 0) raise(signal);
}

// Memory that simulates a device: the first touch of an armed range runs its handler,
// which makes the range usable again, and the access is retried.
constexpr int kTrapSlots = 4;
struct TrapSlot {
  std::atomic<uintptr_t> begin{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<FaultTrapHandler> handler{nullptr};
};
TrapSlot trap_slots[kTrapSlots];

bool run_trap(uintptr_t address) {
  for (TrapSlot& slot : trap_slots) {
    uintptr_t begin = slot.begin.load(std::memory_order_acquire);
    if (begin == 0 || address < begin || address >= slot.end.load(std::memory_order_relaxed)) continue;
    FaultTrapHandler handler = slot.handler.exchange(nullptr, std::memory_order_acq_rel);
    size_t size = slot.end.load(std::memory_order_relaxed) - begin;
    slot.begin.store(0, std::memory_order_release);
    if (handler) handler(reinterpret_cast<void*>(begin), size);
    return true;
  }
  return false;
}

// The stack is realigned on entry: qemu-user enters handlers 4 bytes off the ABI's 16-byte
// alignment, and the SSE stores the compiler keeps on the stack would fault again.
__attribute__((force_align_arg_pointer)) void on_fault(int signal, siginfo_t* info, void* context) {
  if (signal == SIGSEGV && info->si_code > 0 && run_trap(reinterpret_cast<uintptr_t>(info->si_addr))) return;
  FaultGuard* guard = current.innermost;
  if (!guard || info->si_code <= 0) {  // sent by kill or raise: not a fault of this code
    pass_on(signal, info);
    return;
  }
  const mcontext_t& machine = static_cast<ucontext_t*>(context)->uc_mcontext;
  ULONG_PTR access = kAccessRead;
  int trap = trap_number(signal, info, machine);
  DWORD code = exception_code(signal, info, machine, trap, &access);
  uintptr_t instruction = static_cast<uint32_t>(machine.gregs[REG_EIP]);
  // The processor reports int3 and into after the instruction (both one byte); the
  // device reports the instruction itself.
  if ((signal == SIGTRAP && trap == kTrapBreakpoint) || (signal == SIGSEGV && trap == kTrapOverflow)) instruction -= 1;

  current.innermost = guard->outer;
  guard->code = code;
  guard->address = reinterpret_cast<void*>(instruction);
  guard->data_address = nullptr;
  EXCEPTION_RECORD& record = guard->record;
  record.ExceptionCode = code;
  record.ExceptionFlags = 0;
  record.ExceptionRecord = nullptr;
  record.ExceptionAddress = guard->address;
  record.NumberParameters = 0;
  if (code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_STACK_OVERFLOW) {
    guard->data_address = info->si_addr;
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = access;
    record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(info->si_addr);
  }
  siglongjmp(guard->jump, 1);
}

void install_handlers() {
  struct sigaction action {};
  action.sa_sigaction = on_fault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < kSignalCount; ++i) sigaction(kFaultSignals[i], &action, &previous_actions[i]);
}

void install_handlers_once() {
  static std::once_flag handlers_installed;
  std::call_once(handlers_installed, install_handlers);
}

// First guard of a thread: handlers (once per process), an alternate stack so that
// running out of stack can still be reported, and the stack bounds for that test.
void prepare_thread() {
  install_handlers_once();

  stack_t existing{};
  if (sigaltstack(nullptr, &existing) != 0 || (existing.ss_flags & SS_DISABLE) ||
      existing.ss_size < kSmallestUsableAlternateStack) {
    if (void* memory = take_alternate_stack()) {
      stack_t stack{};
      stack.ss_sp = memory;
      stack.ss_size = kAlternateStackSize;
      if (sigaltstack(&stack, nullptr) == 0) {
        alternate_stack.memory = memory;
        owned_alternate_stacks.fetch_add(1);
      } else {
        give_back_alternate_stack(memory);
      }
    }
  }

  uintptr_t low = 0;
  size_t size = 0;
  if (thread_stack_extent(&low, &size)) current.stack_low = low;
  current.ready = true;
}

}  // namespace

bool fault_trap_arm(void* begin, size_t size, FaultTrapHandler handler) {
  install_handlers_once();
  for (TrapSlot& slot : trap_slots) {
    if (slot.begin.load(std::memory_order_acquire) != 0) continue;
    slot.end.store(reinterpret_cast<uintptr_t>(begin) + size, std::memory_order_relaxed);
    slot.handler.store(handler, std::memory_order_relaxed);
    slot.begin.store(reinterpret_cast<uintptr_t>(begin), std::memory_order_release);
    return true;
  }
  return false;
}

void fault_trap_disarm(void* begin) {
  for (TrapSlot& slot : trap_slots) {
    if (slot.begin.load(std::memory_order_acquire) != reinterpret_cast<uintptr_t>(begin)) continue;
    slot.handler.store(nullptr, std::memory_order_relaxed);
    slot.begin.store(0, std::memory_order_release);
  }
}

void fault_guard_push(FaultGuard* guard) {
  if (!current.ready) prepare_thread();
  guard->outer = current.innermost;
  guard->code = 0;
  current.innermost = guard;
}

void fault_guard_leave(FaultGuard* guard) {
  if (current.innermost != guard) {
    std::fprintf(stderr, "zrk: fault guard left out of order (%p is not the innermost guard)\n",
                 static_cast<void*>(guard));
    std::abort();
  }
  current.innermost = guard->outer;
}

FaultGuard* fault_guard_innermost() { return current.innermost; }

size_t fault_guard_alternate_stacks() { return owned_alternate_stacks.load(); }

}  // namespace platform

void RaiseException(DWORD code, DWORD flags, DWORD argument_count, const ULONG_PTR* arguments) {
  void* caller = __builtin_return_address(0);
  platform::FaultGuard* guard = platform::current.innermost;
  if (!guard) {
    std::fprintf(stderr, "zrk: unhandled exception 0x%08X raised at %p\n", static_cast<unsigned>(code), caller);
    std::abort();
  }
  platform::current.innermost = guard->outer;
  guard->code = code;
  guard->address = caller;
  guard->data_address = nullptr;
  EXCEPTION_RECORD& record = guard->record;
  record.ExceptionCode = code;
  record.ExceptionFlags = flags & EXCEPTION_NONCONTINUABLE;
  record.ExceptionRecord = nullptr;
  record.ExceptionAddress = caller;
  record.NumberParameters = arguments ? std::min<DWORD>(argument_count, EXCEPTION_MAXIMUM_PARAMETERS) : 0;
  for (DWORD i = 0; i < record.NumberParameters; ++i) record.ExceptionInformation[i] = arguments[i];
  siglongjmp(guard->jump, 1);
}
