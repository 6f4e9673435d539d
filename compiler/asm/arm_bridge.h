// Runs assembled ARM code on this x86 host: an ARM CPU emulator per thread and nesting
// level, host memory seen at its own addresses, and thunks through which the code calls
// back into the runtime.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "platform/kernel/types.h"

// r0 and r1 when the code returned (r0:r1 holds a double, low word first).
struct ArmResult {
  uint32_t r0;
  uint32_t r1;
};

// Runs the ARM code at address as a function called with r0-r3 and a return address that
// ends the run. A fault of the code (a bad address, an undefined instruction) is raised
// through the fault guard as the processor would raise it, with the code's address, so
// the run loop's trap and TRY see the usual fault text. Nested runs (the code calls a
// script that runs assembled code) and other threads get engines of their own.
ArmResult run_arm_code(uint32_t address, uint32_t r0 = 0, uint32_t r1 = 0, uint32_t r2 = 0, uint32_t r3 = 0);

namespace platform {
struct FaultGuard;
}
// Raises a fault that a guard caught (and already left) again, to the guard now innermost.
[[noreturn]] void raise_fault_again(const platform::FaultGuard& fault);

// Assembled code was freed or rewritten: every engine drops its translated code and its
// view of host memory before its next run.
void arm_code_changed();

// Receives r0-r3 in registers[0..3] and leaves the result in registers[0] (and [1]).
using ArmThunkInvoker = void (*)(void* function, uint32_t* registers);

// The address ARM code branches to (with the return address in lr) to run function on
// the host: one address per function, kept for the whole run of the process. 0 when the
// thunk table is full (the code then faults at 0).
uint32_t arm_thunk_address(void* function, ArmThunkInvoker invoker);

namespace arm_thunk_detail {

template <typename T>
T from_word(uint32_t word) {
  static_assert(sizeof(T) <= 4, "ARM code passes 32-bit arguments");
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<T>(static_cast<uintptr_t>(word));
  } else {
    return static_cast<T>(word);
  }
}

template <typename R, typename... A, size_t... I>
void invoke(void* function, uint32_t* registers, std::index_sequence<I...>) {
  auto target = reinterpret_cast<R (*)(A...)>(function);
  if constexpr (std::is_void_v<R>) {
    target(from_word<A>(registers[I])...);
  } else if constexpr (std::is_floating_point_v<R>) {
    double value = target(from_word<A>(registers[I])...);
    uint64_t bits;
    __builtin_memcpy(&bits, &value, sizeof bits);
    registers[0] = static_cast<uint32_t>(bits);
    registers[1] = static_cast<uint32_t>(bits >> 32);
  } else if constexpr (sizeof(R) == 8) {
    auto value = static_cast<uint64_t>(target(from_word<A>(registers[I])...));
    registers[0] = static_cast<uint32_t>(value);
    registers[1] = static_cast<uint32_t>(value >> 32);
  } else if constexpr (std::is_pointer_v<R>) {
    registers[0] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(target(from_word<A>(registers[I])...)));
  } else {
    registers[0] = static_cast<uint32_t>(target(from_word<A>(registers[I])...));
  }
}

template <typename R, typename... A>
void invoke_function(void* function, uint32_t* registers) {
  invoke<R, A...>(function, registers, std::index_sequence_for<A...>{});
}

}  // namespace arm_thunk_detail

// The thunk of a host function of at most four 32-bit arguments; its result goes to r0,
// a 64-bit or double result to r0:r1.
template <typename R, typename... A>
uint32_t arm_thunk(R (*function)(A...)) {
  static_assert(sizeof...(A) <= 4, "ARM code passes at most four arguments in registers");
  return arm_thunk_address(reinterpret_cast<void*>(function), &arm_thunk_detail::invoke_function<R, A...>);
}
