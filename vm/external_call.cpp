// Calls of declared library functions through libffi with the C convention: 0 to 16
// 32-bit arguments, an integer result, and the UTF-16 copies freed whatever happens.
// libffi is opened on the first such call, so a run that makes none starts without it.
#include "vm/external_call.h"

#include <ffi.h>

#include <setjmp.h>

#include <string>

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "foundation/variable.h"
#include "platform/backend/host_library.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/fault_forwarding.h"
#include "platform/kernel/fault_guard.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_registry.h"
#include "vm/instruction_list.h"

int32_t external_argument_slots[kExternalArgumentSlots + 1];
void* marshal_temporaries[kExternalArgumentSlots];
int32_t marshal_temporary_count = 0;

namespace {

// What the calls use of libffi, bound when it is opened.
struct Libffi {
  decltype(&::ffi_prep_cif) prep_cif = nullptr;
  decltype(&::ffi_call) call = nullptr;
  ffi_type* sint32 = nullptr;  // the library's own description of a 32-bit integer
};

// One prepared call interface per argument count: every argument and the result are
// 32-bit integers, so the interfaces never change once made.
struct CallInterfaces {
  ffi_cif interfaces[kExternalArgumentSlots + 1];
  ffi_type* argument_types[kExternalArgumentSlots];
  void* argument_values[kExternalArgumentSlots];
  Libffi libffi;
  bool ready = false;
  std::string failure;  // why libffi could not be opened, once it was tried
};
CallInterfaces call_interfaces;

// Opens libffi once and prepares the interfaces; false, with the reason kept, when the
// host lacks it.
bool prepare_call_interfaces() {
  static const bool opened = [] {
    constexpr const char* kFile = "libffi.so.8";
    Libffi& libffi = call_interfaces.libffi;
    void* library = platform::open_host_library(kFile, call_interfaces.failure);
    void* sint32 = platform::host_library_function(library, kFile, "ffi_type_sint32", call_interfaces.failure);
    libffi.sint32 = static_cast<ffi_type*>(sint32);
    return sint32 && platform::bind_host_function(library, kFile, "ffi_prep_cif", libffi.prep_cif, call_interfaces.failure) &&
           platform::bind_host_function(library, kFile, "ffi_call", libffi.call, call_interfaces.failure);
  }();
  if (!opened) return false;
  for (int32_t index = 0; index < kExternalArgumentSlots; ++index) {
    call_interfaces.argument_types[index] = call_interfaces.libffi.sint32;
    call_interfaces.argument_values[index] = &external_argument_slots[index + 1];
  }
  for (int32_t count = 0; count <= kExternalArgumentSlots; ++count) {
    call_interfaces.libffi.prep_cif(&call_interfaces.interfaces[count], FFI_DEFAULT_ABI, static_cast<unsigned>(count),
                                    call_interfaces.libffi.sint32, call_interfaces.argument_types);
  }
  call_interfaces.ready = true;
  return true;
}

// A text passed by address unconverted: a structure, member or array variable's own
// memory, which the native code may fill.
bool names_variable_memory(const Variable* variable) {
  return variable && ((variable->flags & kVariableStructure) || variable->member_offset || variable->element_count);
}

// Calls entry with count slots. With copies outstanding the call runs under its own
// guard, so a fault frees them before it travels on to the run loop's trap.
__attribute__((noinline)) int32_t call_native(NativeEntry entry, int32_t count) {
  if (!call_interfaces.ready && !prepare_call_interfaces()) {
    free_marshal_temporaries();
    runtime_error("Cannot call a declared function: %s", call_interfaces.failure.c_str());
    return 0;
  }
  ffi_arg result = 0;
  ffi_cif* interface = &call_interfaces.interfaces[count];
  auto function = reinterpret_cast<void (*)()>(entry);
  if (marshal_temporary_count == 0) {
    call_interfaces.libffi.call(interface, function, &result, call_interfaces.argument_values);
    return static_cast<int32_t>(result);
  }
  platform::FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    call_interfaces.libffi.call(interface, function, &result, call_interfaces.argument_values);
    platform::fault_guard_leave(&guard);
  } else {
    free_marshal_temporaries();
    platform::pass_fault_outward(guard);
  }
  free_marshal_temporaries();
  return static_cast<int32_t>(result);
}

template <int32_t N, bool Function>
void external_call() {
  int32_t index = truncate_to_int(current_instruction->operand);
  BuiltinEntry* entry = builtin_entry(index);
  if (!entry) {
    // A node whose index names no entry: reported, and nothing of the stack is touched.
    external_function_for_call(index);
    if (Function) stack_push_number(current_program, 0.0);
    return;
  }
  marshal_external_arguments(entry->param_count, entry->wide_api);
  NativeEntry native = Function ? entry->native_func : entry->native_proc;
  // An unlinked declaration was reported when it was linked: it does nothing, yields 0.
  int32_t result = 0;
  if (native) {
    result = call_native(native, N);
  } else {
    free_marshal_temporaries();
  }
  if (Function) stack_push_number(current_program, static_cast<double>(result));
}

}  // namespace

void marshal_external_arguments(int32_t count, uint8_t wide) {
  marshal_temporary_count = 0;
  if (count > kExternalArgumentSlots) count = kExternalArgumentSlots;
  for (int32_t slot = count; slot >= 1; --slot) {
    ValueCell* cell = stack_pop(current_program);
    if (!cell->text) {
      external_argument_slots[slot] = truncate_to_int(cell->number);
      continue;
    }
    char* text = static_cast<char*>(cell->text);
    if (!wide || names_variable_memory(cell->variable) || text_changes_in_wide_conversion(text)) {
      // Raw data, or memory the function is meant to work on: passed as it is.
      external_argument_slots[slot] = static_cast<int32_t>(platform::address_of(text));
      continue;
    }
    char16_t* copy = to_wide(text);
    marshal_temporaries[marshal_temporary_count++] = copy;
    external_argument_slots[slot] = static_cast<int32_t>(platform::address_of(copy));
  }
}

void free_marshal_temporaries() {
  for (int32_t index = marshal_temporary_count - 1; index >= 0; --index) {
    crt::free(marshal_temporaries[index]);
    marshal_temporaries[index] = nullptr;
  }
  // Emptied here too, so nothing is freed twice when a fault path frees them first.
  marshal_temporary_count = 0;
}

#define ZRK_EXTERNAL_CALL_DEFINE(N)                       \
  void op_scallp##N() { external_call<N, false>(); }      \
  void op_scallf##N() { external_call<N, true>(); }       \
  void op_callp##N() { external_call<N, false>(); }       \
  void op_callf##N() { external_call<N, true>(); }
ZRK_EXTERNAL_CALL_DEFINE(0)
ZRK_EXTERNAL_CALL_DEFINE(1)
ZRK_EXTERNAL_CALL_DEFINE(2)
ZRK_EXTERNAL_CALL_DEFINE(3)
ZRK_EXTERNAL_CALL_DEFINE(4)
ZRK_EXTERNAL_CALL_DEFINE(5)
ZRK_EXTERNAL_CALL_DEFINE(6)
ZRK_EXTERNAL_CALL_DEFINE(7)
ZRK_EXTERNAL_CALL_DEFINE(8)
ZRK_EXTERNAL_CALL_DEFINE(9)
ZRK_EXTERNAL_CALL_DEFINE(10)
ZRK_EXTERNAL_CALL_DEFINE(11)
ZRK_EXTERNAL_CALL_DEFINE(12)
ZRK_EXTERNAL_CALL_DEFINE(13)
ZRK_EXTERNAL_CALL_DEFINE(14)
ZRK_EXTERNAL_CALL_DEFINE(15)
ZRK_EXTERNAL_CALL_DEFINE(16)
#undef ZRK_EXTERNAL_CALL_DEFINE

namespace {

#define ZRK_EXTERNAL_CALL_ROW(family) \
  op_##family##0, op_##family##1, op_##family##2, op_##family##3, op_##family##4, op_##family##5, op_##family##6, \
      op_##family##7, op_##family##8, op_##family##9, op_##family##10, op_##family##11, op_##family##12,          \
      op_##family##13, op_##family##14, op_##family##15, op_##family##16

// In opcode order: SCALLP0..16, SCALLF0..16, CALLP0..16, CALLF0..16.
constexpr BuiltinHandler kExternalCallHandlers[] = {
    ZRK_EXTERNAL_CALL_ROW(scallp), ZRK_EXTERNAL_CALL_ROW(scallf), ZRK_EXTERNAL_CALL_ROW(callp),
    ZRK_EXTERNAL_CALL_ROW(callf)};
#undef ZRK_EXTERNAL_CALL_ROW
static_assert(sizeof(kExternalCallHandlers) / sizeof(kExternalCallHandlers[0]) ==
                  kLastExternalCallOpcode - kFirstExternalCallOpcode + 1,
              "one handler per external-call opcode");

}  // namespace

BuiltinHandler external_call_handler(uint32_t opcode) {
  if (opcode < kFirstExternalCallOpcode || opcode > kLastExternalCallOpcode) return nullptr;
  return kExternalCallHandlers[opcode - kFirstExternalCallOpcode];
}

void register_external_call_handlers() {
  for (BuiltinHandler handler : kExternalCallHandlers) instruction_handler_borrows_text(handler);
}
