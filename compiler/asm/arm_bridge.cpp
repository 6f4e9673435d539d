// The ARM emulator behind assembled code: one engine per thread and nesting level, host
// pages mapped at their own addresses when the code first touches them, the thunk table
// of host functions, and emulation faults raised through the fault guard.
#include "compiler/asm/arm_bridge.h"

#include <unicorn/unicorn.h>

#include <atomic>
#include <csetjmp>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "compiler/asm/assembler.h"
#include "foundation/runtime_error.h"
#include "platform/kernel/fault_guard.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"

namespace {

// The emulator's library is loaded when the first engine is made: most runs assemble
// nothing, and loading it with the executable cost more than the rest of start-up.
struct UnicornLibrary {
  decltype(&::uc_open) open;
  decltype(&::uc_close) close;
  decltype(&::uc_reg_read) reg_read;
  decltype(&::uc_reg_write) reg_write;
  decltype(&::uc_mem_map_ptr) mem_map_ptr;
  decltype(&::uc_mem_unmap) mem_unmap;
  decltype(&::uc_emu_start) emu_start;
  decltype(&::uc_emu_stop) emu_stop;
  decltype(&::uc_hook_add) hook_add;
  decltype(&::uc_ctl) ctl;
};

// The library's entry points, or null when it cannot be loaded (no engine can be made).
const UnicornLibrary* unicorn_library() {
  static const UnicornLibrary* const loaded = []() -> const UnicornLibrary* {
    static UnicornLibrary library{};
    HMODULE module = LoadLibraryW(u"libunicorn.so.2");
    if (!module) return nullptr;
    auto entry = [module](auto& slot, const char* name) {
      slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(GetProcAddress(module, name));
      return slot != nullptr;
    };
    bool complete = entry(library.open, "uc_open") && entry(library.close, "uc_close") &&
                    entry(library.reg_read, "uc_reg_read") && entry(library.reg_write, "uc_reg_write") &&
                    entry(library.mem_map_ptr, "uc_mem_map_ptr") && entry(library.mem_unmap, "uc_mem_unmap") &&
                    entry(library.emu_start, "uc_emu_start") && entry(library.emu_stop, "uc_emu_stop") &&
                    entry(library.hook_add, "uc_hook_add") && entry(library.ctl, "uc_ctl");
    return complete ? &library : nullptr;
  }();
  return loaded;
}

// Every engine exists only after the library was loaded.
const UnicornLibrary& unicorn() { return *unicorn_library(); }

constexpr uint32_t kPageSize = 4096;
// One word per thunk; slot 0 is the return address that ends a run.
constexpr uint32_t kThunkSlots = 16384;
constexpr uint32_t kArmReturnToPc = 0xE1A0F00E;  // mov pc, lr
// Every engine has a stack of its own; its lowest pages stay inaccessible, so running
// off the end faults instead of writing into whatever lies below.
constexpr SIZE_T kStackBytes = 1024 * 1024;
constexpr SIZE_T kStackGuardBytes = 64 * 1024;
// Assembled code calling scripts that call assembled code, this deep at most.
constexpr int32_t kMaxNesting = 16;
// Past this many mapped pages an engine starts its next run with a clean view.
constexpr size_t kMaxMappedPages = 16384;

// ---- Thunks ----

struct ThunkEntry {
  void* function;
  ArmThunkInvoker invoker;
};

ThunkEntry thunk_entries[kThunkSlots];
std::mutex thunk_lock;

uint8_t* make_thunk_area() {
  auto* area = static_cast<uint8_t*>(VirtualAlloc(nullptr, kThunkSlots * 4, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!area) return nullptr;
  for (uint32_t slot = 0; slot < kThunkSlots; ++slot) std::memcpy(area + 4 * slot, &kArmReturnToPc, 4);
  DWORD old_protect = 0;
  VirtualProtect(area, kThunkSlots * 4, PAGE_EXECUTE_READ, &old_protect);
  return area;
}

uint8_t* thunk_area() {
  static uint8_t* const area = make_thunk_area();
  return area;
}

uint32_t thunk_base() { return platform::address_of(thunk_area()); }

// ---- Engines ----

struct ArmEngine {
  uc_engine* uc = nullptr;
  uint8_t* stack = nullptr;
  uint32_t initial_cpsr = 0;
  uint32_t generation = 0;
  std::vector<uint32_t> mapped_pages;
  // A host fault inside the emulator left it in an unknown state: never used again.
  bool broken = false;

  // What stopped the current run, when it was a fault.
  bool faulted = false;
  DWORD fault_code = 0;
  uint32_t fault_pc = 0;
  // Inside a memory hook the emulator has not brought the PC up to the access: the
  // instruction is found once the run has stopped.
  bool fault_pc_after_stop = false;
  ULONG_PTR fault_access = 0;
  uint32_t fault_data = 0;
  bool has_data = false;
  // A fault of a host function called through a thunk, raised again once the run is over.
  bool host_faulted = false;
  platform::FaultGuard host_fault{};
};

std::atomic<uint32_t> code_generation{0};

struct ThreadEngines {
  ArmEngine* engines[kMaxNesting] = {};
  int32_t depth = 0;
  ~ThreadEngines() {
    for (ArmEngine* engine : engines) {
      if (!engine) continue;
      if (!engine->broken) {
        unicorn().close(engine->uc);
        VirtualFree(engine->stack, 0, MEM_RELEASE);
      }
      delete engine;
    }
  }
};
thread_local ThreadEngines thread_engines;

uint32_t read_register(uc_engine* uc, int register_id) {
  uint32_t value = 0;
  unicorn().reg_read(uc, register_id, &value);
  return value;
}

void write_register(uc_engine* uc, int register_id, uint32_t value) { unicorn().reg_write(uc, register_id, &value); }

void record_fault(ArmEngine* engine, DWORD code, uint32_t pc) {
  if (engine->faulted) return;
  engine->faulted = true;
  engine->fault_code = code;
  engine->fault_pc = pc;
  engine->has_data = false;
}

// The emulator reports a data fault at the start of the translated run of instructions
// that holds it (its registers are those of the faulting instruction). The faulting
// instruction is the first load or store from there that reaches the address.
bool instruction_reaches(uc_engine* uc, uint32_t at, uint32_t word, uint32_t address, bool write) {
  auto value_of = [&](uint32_t number) {
    return number == 15 ? at + 8 : read_register(uc, UC_ARM_REG_R0 + static_cast<int>(number));
  };
  if ((word >> 28) == 0xF) return false;
  const uint32_t rn = value_of((word >> 16) & 0xF);
  const bool load = word & (1u << 20);
  const bool pre = word & (1u << 24);
  const bool up = word & (1u << 23);
  if ((word & 0x0C000000) == 0x04000000) {  // word or byte transfer
    if (load == write) return false;
    uint32_t offset = word & 0xFFF;
    if (word & (1u << 25)) {  // register offset with a shift
      uint32_t rm = value_of(word & 0xF);
      uint32_t amount = (word >> 7) & 0x1F;
      switch ((word >> 5) & 3) {
        case 0: offset = rm << amount; break;
        case 1: offset = amount ? rm >> amount : 0; break;
        case 2: offset = static_cast<uint32_t>(static_cast<int32_t>(rm) >> (amount ? amount : 31)); break;
        default: offset = amount ? (rm >> amount) | (rm << (32 - amount)) : rm; break;
      }
    }
    uint32_t target = pre ? (up ? rn + offset : rn - offset) : rn;
    return address >= target && address < target + 4;
  }
  if ((word & 0x0FB00FF0) == 0x01000090) {  // swap: reads and writes at rn
    return address >= rn && address < rn + 4;
  }
  if ((word & 0x0E000090) == 0x00000090 && (word & 0x60)) {  // halfword and signed transfers
    if (load == write) return false;
    uint32_t offset = (word & (1u << 22)) ? ((word >> 4) & 0xF0) | (word & 0xF) : value_of(word & 0xF);
    uint32_t target = pre ? (up ? rn + offset : rn - offset) : rn;
    return address >= target && address < target + 2;
  }
  if ((word & 0x0E000000) == 0x08000000) {  // block transfer
    if (load == write) return false;
    uint32_t bytes = 4 * static_cast<uint32_t>(__builtin_popcount(word & 0xFFFF));
    uint32_t low = up ? rn + (pre ? 4 : 0) : rn - bytes + (pre ? 0 : 4);
    return address >= low && address < low + bytes;
  }
  return false;
}

uint32_t faulting_instruction(uc_engine* uc, uint32_t start, uint32_t address, bool write) {
  constexpr int kLongestRun = 512;
  for (int index = 0; index < kLongestRun; ++index) {
    uint32_t at = start + 4 * static_cast<uint32_t>(index);
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(platform::pointer_from<void>(at), &info, sizeof info) == 0 || info.State != MEM_COMMIT) break;
    if (instruction_reaches(uc, at, *platform::pointer_from<const uint32_t>(at), address, write)) return at;
  }
  return start;
}

void record_access_violation(ArmEngine* engine, uc_mem_type type, uint64_t address) {
  bool fetch = type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT || type == UC_MEM_FETCH;
  bool write = type == UC_MEM_WRITE_UNMAPPED || type == UC_MEM_WRITE_PROT || type == UC_MEM_WRITE;
  // A bad fetch faults at the address the code jumped to.
  record_fault(engine, EXCEPTION_ACCESS_VIOLATION, static_cast<uint32_t>(address));
  engine->fault_pc_after_stop = !fetch;
  engine->fault_access = fetch ? platform::kAccessExecute : write ? platform::kAccessWrite : platform::kAccessRead;
  engine->fault_data = static_cast<uint32_t>(address);
  engine->has_data = true;
}

// The protection the emulator gives a host page: what the host allows, and execution
// only for memory that is not part of a loaded program image (which holds x86 code).
uint32_t host_page_protection(uint32_t page) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(platform::pointer_from<void>(page), &info, sizeof info) == 0) return UC_PROT_NONE;
  if (info.State != MEM_COMMIT || (info.Protect & PAGE_GUARD)) return UC_PROT_NONE;
  DWORD protect = info.Protect & 0xFF;
  bool writable = protect & (PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY);
  bool readable = writable || (protect & (PAGE_READONLY | PAGE_EXECUTE_READ));
  if (!readable) return UC_PROT_NONE;
  uint32_t protection = UC_PROT_READ;
  if (writable) protection |= UC_PROT_WRITE;
  if (info.Type != MEM_IMAGE) protection |= UC_PROT_EXEC;
  return protection;
}

bool map_on_demand(uc_engine* uc, uc_mem_type type, uint64_t address, int, int64_t, void* user) {
  auto* engine = static_cast<ArmEngine*>(user);
  uint32_t page = static_cast<uint32_t>(address) & ~(kPageSize - 1);
  uint32_t protection = host_page_protection(page);
  if (protection != UC_PROT_NONE &&
      unicorn().mem_map_ptr(uc, page, kPageSize, protection, platform::pointer_from<void>(page)) == UC_ERR_OK) {
    engine->mapped_pages.push_back(page);
    return true;  // the access is tried again; a kind the page refuses ends in a protection fault
  }
  record_access_violation(engine, type, address);
  return false;
}

bool refuse_access(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* user) {
  record_access_violation(static_cast<ArmEngine*>(user), type, address);
  return false;
}

void on_interrupt(uc_engine* uc, uint32_t number, void* user) {
  constexpr uint32_t kBreakpoint = 7;
  auto* engine = static_cast<ArmEngine*>(user);
  record_fault(engine, number == kBreakpoint ? EXCEPTION_BREAKPOINT : EXCEPTION_ILLEGAL_INSTRUCTION,
               read_register(uc, UC_ARM_REG_PC));
  unicorn().emu_stop(uc);
}

// Runs the host function of the thunk the code branched to, then returns to lr.
void on_thunk(uc_engine* uc, uint64_t address, uint32_t, void* user) {
  auto* engine = static_cast<ArmEngine*>(user);
  uint32_t slot = (static_cast<uint32_t>(address) - thunk_base()) / 4;
  if (slot == 0 || slot >= kThunkSlots) {
    unicorn().emu_stop(uc);
    return;
  }
  ThunkEntry entry = thunk_entries[slot];
  if (!entry.function) {
    record_fault(engine, EXCEPTION_ACCESS_VIOLATION, static_cast<uint32_t>(address));
    unicorn().emu_stop(uc);
    return;
  }
  uint32_t registers[4];
  for (int index = 0; index < 4; ++index) registers[index] = read_register(uc, UC_ARM_REG_R0 + index);
  uint32_t return_address = read_register(uc, UC_ARM_REG_LR);
  // A fault must not jump across the emulator's frames: it is held and raised again when
  // the run is over.
  platform::FaultGuard& guard = engine->host_fault;
  if (FAULT_GUARD_ENTER(guard)) {
    entry.invoker(entry.function, registers);
    platform::fault_guard_leave(&guard);
  } else {
    engine->host_faulted = true;
    unicorn().emu_stop(uc);
    return;
  }
  write_register(uc, UC_ARM_REG_R0, registers[0]);
  write_register(uc, UC_ARM_REG_R1, registers[1]);
  write_register(uc, UC_ARM_REG_PC, return_address & ~1u);
}

void release_engine(ArmEngine* engine) {
  if (engine->uc) unicorn().close(engine->uc);
  if (engine->stack) VirtualFree(engine->stack, 0, MEM_RELEASE);
  delete engine;
}

ArmEngine* create_engine() {
  uint8_t* thunks = thunk_area();
  if (!thunks) return nullptr;
  if (!unicorn_library()) return nullptr;
  auto* engine = new ArmEngine();
  if (unicorn().open(UC_ARCH_ARM, UC_MODE_ARM, &engine->uc) != UC_ERR_OK) {
    engine->uc = nullptr;
    release_engine(engine);
    return nullptr;
  }
  uc_engine* uc = engine->uc;
  engine->stack = static_cast<uint8_t*>(VirtualAlloc(nullptr, kStackBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  DWORD old_protect = 0;
  uint32_t base = thunk_base();
  uc_hook hook;
  bool ready = unicorn().ctl(uc, UC_CTL_WRITE(UC_CTL_CPU_MODEL, 1), UC_CPU_ARM_926) == UC_ERR_OK && engine->stack &&
               VirtualProtect(engine->stack, kStackGuardBytes, PAGE_NOACCESS, &old_protect) &&
               unicorn().hook_add(uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&on_thunk), engine, base,
                           base + kThunkSlots * 4 - 1) == UC_ERR_OK &&
               unicorn().hook_add(uc, &hook, UC_HOOK_MEM_UNMAPPED, reinterpret_cast<void*>(&map_on_demand), engine, 1,
                           0) == UC_ERR_OK &&
               unicorn().hook_add(uc, &hook, UC_HOOK_MEM_PROT, reinterpret_cast<void*>(&refuse_access), engine, 1, 0) ==
                   UC_ERR_OK &&
               unicorn().hook_add(uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&on_interrupt), engine, 1, 0) ==
                   UC_ERR_OK;
  if (!ready) {
    release_engine(engine);
    return nullptr;
  }
  engine->initial_cpsr = read_register(uc, UC_ARM_REG_CPSR);
  engine->generation = code_generation.load();
  return engine;
}

// Drops the engine's mapped pages and translated code, so freed or rewritten memory is
// looked at afresh.
void forget_host_memory(ArmEngine* engine) {
  for (uint32_t page : engine->mapped_pages) unicorn().mem_unmap(engine->uc, page, kPageSize);
  engine->mapped_pages.clear();
  unicorn().ctl(engine->uc, UC_CTL_WRITE(UC_CTL_TB_FLUSH, 0));
}

ArmEngine* engine_for_depth(int32_t depth) {
  ArmEngine*& engine = thread_engines.engines[depth];
  if (engine && engine->broken) {
    // Its state is unknown after a host fault inside it; closing it could fault again.
    engine = nullptr;
  }
  if (!engine) engine = create_engine();
  return engine;
}

// Jumps to the innermost fault guard with a record made here, as a processor fault at
// the emulated code's address would (RaiseException would name its own caller instead).
[[noreturn]] void raise_fault(DWORD code, void* address, bool has_data, ULONG_PTR access, uint32_t data) {
  ULONG_PTR parameters[2] = {access, data};
  DWORD parameter_count = has_data ? 2 : 0;
  platform::FaultGuard* guard = platform::fault_guard_innermost();
  if (!guard) RaiseException(code, EXCEPTION_NONCONTINUABLE, parameter_count, parameters);
  platform::fault_guard_leave(guard);
  guard->code = code;
  guard->address = address;
  guard->data_address = has_data ? platform::pointer_from<void>(data) : nullptr;
  EXCEPTION_RECORD& record = guard->record;
  record = {};
  record.ExceptionCode = code;
  record.ExceptionAddress = address;
  record.NumberParameters = parameter_count;
  for (DWORD index = 0; index < parameter_count; ++index) record.ExceptionInformation[index] = parameters[index];
  siglongjmp(guard->jump, 1);
}

DWORD code_of_error(uc_err error) {
  switch (error) {
    case UC_ERR_READ_UNMAPPED:
    case UC_ERR_WRITE_UNMAPPED:
    case UC_ERR_FETCH_UNMAPPED:
    case UC_ERR_READ_PROT:
    case UC_ERR_WRITE_PROT:
    case UC_ERR_FETCH_PROT:
      return EXCEPTION_ACCESS_VIOLATION;
    case UC_ERR_READ_UNALIGNED:
    case UC_ERR_WRITE_UNALIGNED:
    case UC_ERR_FETCH_UNALIGNED:
      return EXCEPTION_DATATYPE_MISALIGNMENT;
    case UC_ERR_INSN_INVALID:
      return EXCEPTION_ILLEGAL_INSTRUCTION;
    default:
      return EXCEPTION_NONCONTINUABLE_EXCEPTION;
  }
}

}  // namespace

uint32_t arm_thunk_address(void* function, ArmThunkInvoker invoker) {
  static std::unordered_map<void*, uint32_t> slots;
  static uint32_t used = 1;
  uint8_t* area = thunk_area();
  if (!area || !function || !invoker) return 0;
  std::lock_guard<std::mutex> lock(thunk_lock);
  auto found = slots.find(function);
  if (found != slots.end()) return platform::address_of(area + 4 * found->second);
  if (used >= kThunkSlots) {
    runtime_error("Too many runtime functions called from assembled code");
    return 0;
  }
  uint32_t slot = used++;
  thunk_entries[slot] = {function, invoker};
  slots.emplace(function, slot);
  return platform::address_of(area + 4 * slot);
}

void arm_code_changed() { code_generation.fetch_add(1); }

[[noreturn]] void raise_fault_again(const platform::FaultGuard& fault) {
  platform::FaultGuard* guard = platform::fault_guard_innermost();
  if (!guard) {
    RaiseException(fault.code, EXCEPTION_NONCONTINUABLE, fault.record.NumberParameters,
                   fault.record.ExceptionInformation);
  }
  platform::fault_guard_leave(guard);
  guard->code = fault.code;
  guard->address = fault.address;
  guard->data_address = fault.data_address;
  guard->record = fault.record;
  siglongjmp(guard->jump, 1);
}

ArmResult run_arm_code(uint32_t address, uint32_t r0, uint32_t r1, uint32_t r2, uint32_t r3) {
  ThreadEngines& threads = thread_engines;
  if (threads.depth >= kMaxNesting) {
    runtime_error("Assembled code is nested too deeply");
    return {0, 0};
  }
  int32_t depth = threads.depth;
  ArmEngine* engine = engine_for_depth(depth);
  if (!engine) {
    runtime_error("The ARM emulator cannot be started");
    return {0, 0};
  }
  uc_engine* uc = engine->uc;
  uint32_t generation = code_generation.load();
  if (engine->generation != generation || engine->mapped_pages.size() > kMaxMappedPages) {
    forget_host_memory(engine);
    engine->generation = generation;
  }
  engine->faulted = false;
  engine->fault_pc_after_stop = false;
  engine->host_faulted = false;
  uint32_t exit_address = thunk_base();
  write_register(uc, UC_ARM_REG_CPSR, engine->initial_cpsr);
  const uint32_t arguments[4] = {r0, r1, r2, r3};
  for (int index = 0; index < 4; ++index) write_register(uc, UC_ARM_REG_R0 + index, arguments[index]);
  write_register(uc, UC_ARM_REG_SP, platform::address_of(engine->stack + kStackBytes));
  write_register(uc, UC_ARM_REG_LR, exit_address);

  threads.depth = depth + 1;
  platform::FaultGuard guard;
  volatile uc_err error = UC_ERR_OK;
  if (FAULT_GUARD_ENTER(guard)) {
    error = unicorn().emu_start(uc, address & ~1u, exit_address, 0, 0);
    platform::fault_guard_leave(&guard);
  } else {
    // The host faulted inside the emulator itself (a page it had mapped went away).
    thread_engines.depth = depth;
    engine->broken = true;
    bool has_data = guard.code == EXCEPTION_ACCESS_VIOLATION && guard.record.NumberParameters >= 2;
    raise_fault(EXCEPTION_ACCESS_VIOLATION, platform::pointer_from<void>(address), has_data,
                has_data ? guard.record.ExceptionInformation[0] : 0, platform::address_of(guard.data_address));
  }
  threads.depth = depth;

  if (engine->host_faulted) raise_fault_again(engine->host_fault);
  if (engine->faulted || error != UC_ERR_OK) {
    if (!engine->faulted) record_fault(engine, code_of_error(error), read_register(uc, UC_ARM_REG_PC));
    if (engine->fault_pc_after_stop) {
      engine->fault_pc = faulting_instruction(uc, read_register(uc, UC_ARM_REG_PC), engine->fault_data,
                                              engine->fault_access == platform::kAccessWrite);
    }
    raise_fault(engine->fault_code, platform::pointer_from<void>(engine->fault_pc), engine->has_data,
                engine->fault_access, engine->fault_data);
  }
  return {read_register(uc, UC_ARM_REG_R0), read_register(uc, UC_ARM_REG_R1)};
}

// Freeing a block is where the device flushed its caches; here the engines forget.
[[maybe_unused]] static const bool cache_flush_filled =
    (code_cache_flush_hook = [](int32_t) { arm_code_changed(); }, true);
