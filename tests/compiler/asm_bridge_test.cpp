// Assembled code run in the ARM emulator: the language's statements computing, calls
// into the runtime through thunks, doubles, re-assembly at one address, faults, nested
// runs and runs on several threads.
#include <cmath>
#include <cstdio>
#include <thread>

#include "asm_run_fixture.h"
#include "compiler/asm/runtime_routines.h"
#include "platform/kernel/fault_guard.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_registry.h"
#include "vm/fault_text.h"

namespace {

using BridgeTest = AsmRunTest;

TEST_F(BridgeTest, StatementsComputeWhatTheyMean) {
  struct Case {
    const char* name;
    const char* text;
    std::vector<int32_t> inputs;
    int32_t expected;  // left in [@ + 28]
  };
  const Case cases[] = {
      {"add, sub", ":MAIN;mov r0, [@];add r0, [@ + 4];sub r0, 3;mov [@ + 28], r0", {40, 5}, 42},
      {"mul", ":MAIN;mov r1, [@];mul r1, [@ + 4];mov [@ + 28], r1", {-6, 7}, -42},
      {"mul of a register by itself", ":MAIN;mov r2, [@];mul r2, r2;mov [@ + 28], r2", {9}, 81},
      {"signed div", ":MAIN;mov r2, [@];div r2, [@ + 4];mov [@ + 28], r2", {-85, 2}, -42},
      {"div into r1 by r0", ":MAIN;mov r0, [@ + 4];mov r1, [@];div r1, r0;mov [@ + 28], r1", {84, 2}, 42},
      {"rol then ror", ":MAIN;mov r0, [@];rol r0, 4;ror r0, 1;mov [@ + 28], r0", {0x0F000001}, 0x78000008},
      {"shift by 32 gives 0", ":MAIN;mov r0, [@];rol r0, 32;mov [@ + 28], r0", {5}, 0},
      {"and, or, xor, neg", ":MAIN;mov r0, [@];and r0, 240;or r0, 1;xor r0, 3;neg r0;mov [@ + 28], r0", {4660}, -51},
      {"large constants", ":MAIN;mov r3, 305419896;add r3, 16777217;mov [@ + 28], r3", {}, 305419896 + 16777217},
      {"jge taken", ":MAIN;mov r0, [@];cmp r0, [@ + 4];jge DONE;mov r0, [@ + 4];:DONE;mov [@ + 28], r0", {12, -9}, 12},
      {"jge not taken", ":MAIN;mov r0, [@];cmp r0, [@ + 4];jge DONE;mov r0, [@ + 4];:DONE;mov [@ + 28], r0", {3, 9}, 9},
      {"loop", ":MAIN;mov r0, 0;mov r1, [@];:LOOP;add r0, r1;sub r1, 1;cmp r1, 0;jgt LOOP;mov [@ + 28], r0", {100}, 5050},
      {"function with parameters and a local",
       "!TRIPLE(a, b);var t;mov t, a;add t, a;add t, a;mov r0, t;add r0, b;ret;:MAIN;"
       "jsr TRIPLE([@], [@ + 4]);mov [@ + 28], r0",
       {5, 27}, 42},
      // More calls than the stack would hold if each left its argument behind.
      {"calls in a loop keep the stack", "!ONE(a);mov r0, a;ret;:MAIN;mov r1, 0;mov r2, 300000;:AGAIN;jsr ONE(r2);"
       "add r1, r0;sub r2, 1;cmp r2, 0;jgt AGAIN;mov [@ + 28], r1", {}, static_cast<int32_t>(300000LL * 300001 / 2)},
      {"byte and halfword loads", ":MAIN;mov r0, byte [@ + 1];mov r1, word [@ + 2];add r0, r1;mov [@ + 28], r0",
       {0x12345678}, 0x56 + 0x1234},
      {"halfword beyond the 255 field", ":MAIN;mov r1, @;sub r1, 292;mov r0, word [r1 + 296];mov [@ + 28], r0",
       {0, 0x51234}, 0x1234},
      {"negative halfword displacement", ":MAIN;mov r1, @;add r1, 8;mov r0, word [r1 - 6];mov [@ + 28], r0",
       {0x420000}, 0x42},
      {"word beyond the 4095 field", ":MAIN;mov r1, @;sub r1, 5000;mov r0, [r1 + 5004];mov [@ + 28], r0", {0, 77}, 77},
      {"store beyond the 4095 field", ":MAIN;mov r1, @;sub r1, 5000;mov r0, 55;mov [r1 + 5028], r0", {}, 55},
      {"byte of a register", ":MAIN;mov r1, [@];mov r0, byte r1;mov [@ + 28], r0", {0x1FF}, 0xFF},
      {"push and pop", ":MAIN;push [@];push [@ + 4];pop r0;pop r1;sub r0, r1;mov [@ + 28], r0", {10, 52}, 42},
      {"swp", ":MAIN;mov r0, 77;mov r1, @;swp r0, r1;mov [@ + 28], r0", {11}, 11},
      {"pushad and popad keep registers", ":MAIN;mov r0, 5;pushad;mov r0, 9;popad;mov [@ + 28], r0", {}, 5},
  };
  for (const Case& c : cases) {
    std::fill(std::begin(cells), std::end(cells), 0);
    for (size_t index = 0; index < c.inputs.size(); ++index) cells[index] = c.inputs[index];
    ASSERT_TRUE(run(c.text)) << c.name << ": " << errors();
    EXPECT_EQ(cells[7], c.expected) << c.name;
  }
}

TEST_F(BridgeTest, RegistersComeBackAsTheCallerHadThem) {
  // The block's entry saves r0-r12 and lr and its end restores them, so a direct call
  // gets its own r0 back.
  uint8_t* block = assemble_block(":MAIN;mov r0, 1;mov r1, 2;mov r2, 3;mov r3, 4");
  ASSERT_NE(block, nullptr) << errors();
  ArmResult result = run_arm_code(platform::address_of(block), 11, 22);
  EXPECT_EQ(result.r0, 11u);
  EXPECT_EQ(result.r1, 22u);
}

// Host functions of the kinds assembled code calls.
int32_t subtract_words(int32_t a, int32_t b) { return a - b; }
uint64_t join_words(uint32_t low, uint32_t high, uint32_t, uint32_t extra) {
  return ((static_cast<uint64_t>(high) << 32) | low) + extra;
}
double halve(int32_t value) { return value / 2.0; }
void store_through(int32_t* target, int32_t value) { *target = value; }

TEST_F(BridgeTest, ThunksPassRegistersAndResults) {
  ArmResult difference = run_arm_code(arm_thunk(&subtract_words), 50, 8);
  EXPECT_EQ(static_cast<int32_t>(difference.r0), 42);

  ArmResult joined = run_arm_code(arm_thunk(&join_words), 0xFFFFFFFF, 1, 0, 1);
  EXPECT_EQ(joined.r0, 0u);
  EXPECT_EQ(joined.r1, 2u);

  ArmResult half = run_arm_code(arm_thunk(&halve), static_cast<uint32_t>(-5));
  uint64_t bits = (static_cast<uint64_t>(half.r1) << 32) | half.r0;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  EXPECT_EQ(value, -2.5);

  int32_t target = 0;
  run_arm_code(arm_thunk(&store_through), platform::address_of(&target), 42);
  EXPECT_EQ(target, 42);

  EXPECT_EQ(arm_thunk(&halve), arm_thunk(&halve)) << "one address per function";
  EXPECT_NE(arm_thunk(&halve), arm_thunk(&subtract_words));
}

TEST_F(BridgeTest, DoublesTravelAsTwoWords) {
  double input = 2.25;
  std::memcpy(cells, &input, sizeof input);
  ASSERT_TRUE(run(":MAIN;sqrt [@ + 8], [@];toint r1, [@ + 8];mov [@ + 28], r1;zrkpushdbl [@ + 8], [@ + 12]"))
      << errors();
  double root;
  std::memcpy(&root, cells + 2, sizeof root);
  EXPECT_EQ(root, 1.5);
  EXPECT_EQ(cells[7], 1);
  ASSERT_EQ(depth(), 1);
  EXPECT_EQ(stack_pop(context)->number, 1.5);

  double y = 1.0, x = -1.0;
  std::memcpy(cells, &y, sizeof y);
  std::memcpy(cells + 2, &x, sizeof x);
  ASSERT_TRUE(run(":MAIN;atan2 [@], [@ + 8]")) << errors();
  double angle;
  std::memcpy(&angle, cells, sizeof angle);
  EXPECT_DOUBLE_EQ(angle, std::atan2(1.0, -1.0));
}

std::vector<int32_t> canvas_calls;

TEST_F(BridgeTest, GraphicsStatementsReachTheCanvas) {
  canvas_calls.clear();
  canvas_set_pixel_hook = [](int32_t x, int32_t y, uint16_t colour) {
    canvas_calls.insert(canvas_calls.end(), {x, y, colour});
  };
  canvas_get_pixel_hook = [](int32_t x, int32_t y) { return static_cast<uint16_t>(x * 100 + y); };
  canvas_begin_scene_hook = [] { canvas_calls.push_back(-1); };
  canvas_present_hook = [] { canvas_calls.push_back(-2); };
  cells[0] = 3;
  cells[1] = 4;
  cells[2] = 0x12345;
  ASSERT_TRUE(run(":MAIN;beginscene;setpixel [@], [@ + 4], [@ + 8];getpixel [@], [@ + 4];mov [@ + 28], r0;update"))
      << errors();
  canvas_set_pixel_hook = nullptr;
  canvas_get_pixel_hook = nullptr;
  canvas_begin_scene_hook = nullptr;
  canvas_present_hook = nullptr;
  EXPECT_EQ(canvas_calls, (std::vector<int32_t>{-1, 3, 4, 0x2345, -2}));
  EXPECT_EQ(cells[7], 304);
}

// Built-ins the tests' assembled code calls with zrk.
void builtin_test_subtract() {
  double b = stack_pop(current_program)->number;
  double a = stack_pop(current_program)->number;
  stack_push_number(current_program, a - b);
}
void builtin_test_count_to_mark() { stack_push_number(current_program, stack_pop_to_mark(current_program)); }

struct RegisteredBuiltins {
  RegisteredBuiltins(std::initializer_list<std::pair<const char*, BuiltinHandler>> list) {
    for (const auto& [name, handler] : list) indexes.push_back(builtin_register(name, handler));
  }
  ~RegisteredBuiltins() {
    for (int32_t index : indexes) builtin_entry_clear(index);
  }
  std::vector<int32_t> indexes;
};

TEST_F(BridgeTest, ZrkCallsBuiltinsThroughTheValueStack) {
  RegisteredBuiltins builtins{{"ASMTESTSUBTRACT", builtin_test_subtract}};
  cells[0] = 8;
  ASSERT_TRUE(run(":MAIN;mov r1, 7;zrkpush 50;zrkpush [@];zrk asmtestsubtract;zrkpull;add r0, r1;mov [@ + 28], r0"))
      << errors();
  EXPECT_EQ(cells[7], 49) << "r1 survives the calls";
  EXPECT_EQ(depth(), 0);
}

TEST_F(BridgeTest, SavespMarksTheStackWithoutRunningTheCallersInnerHandler) {
  RegisteredBuiltins builtins{{"ASMTESTCOUNT", builtin_test_count_to_mark}};
  static bool inner_ran;
  inner_ran = false;
  InstructionNode running{};
  running.inner_handler = [] { inner_ran = true; };
  current_instruction = &running;
  stack_push_number(context, 99);
  ASSERT_TRUE(run(":MAIN;savesp;zrkpush 1;zrkpush 2;zrkpush 3;zrk asmtestcount;zrkpull;mov [@ + 28], r0")) << errors();
  current_instruction = nullptr;
  EXPECT_EQ(cells[7], 3);
  EXPECT_FALSE(inner_ran);
  EXPECT_EQ(depth(), 1);
}

TEST_F(BridgeTest, NewCodeAtAnAddressAlreadyRunIsRunAfterTheFlush) {
  // As when a block is freed and another is assembled at its address: the same memory
  // holds new code, and freeing flushed the caches in between.
  auto* code = static_cast<uint32_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(code, nullptr);
  const uint32_t kReturn = 0xE1A0F00E;  // mov pc, lr
  for (uint32_t value = 1; value <= 3; ++value) {
    code[0] = 0xE3A00000 | value;  // mov r0, #value
    code[1] = kReturn;
    code_cache_flush_hook(1);
    EXPECT_EQ(run_arm_code(platform::address_of(code)).r0, value);
  }
  VirtualFree(code, 0, MEM_RELEASE);
}

// Runs address under a guard; the guard's record after a fault, code 0 without one.
platform::FaultGuard run_guarded(uint32_t address) {
  platform::FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    run_arm_code(address);
    platform::fault_guard_leave(&guard);
  }
  return guard;
}

}  // namespace

// A built-in that writes to address 0 (in assembler, so that no sanitizer stops it first).
extern "C" void asm_test_fault_in_host();
extern "C" const char asm_test_fault_at[];
asm(R"(
  .text
  .globl asm_test_fault_in_host, asm_test_fault_at
  .hidden asm_test_fault_in_host, asm_test_fault_at
  .type asm_test_fault_in_host, @function
asm_test_fault_in_host:
  xorl %eax, %eax
asm_test_fault_at:
  movl $1, (%eax)
  ret
)");

namespace {

TEST_F(BridgeTest, FaultsReachTheGuardWithTheFaultText) {
  RegisteredBuiltins builtins{{"ASMTESTFAULT", asm_test_fault_in_host}};
  uint32_t undefined_word = 0xE7F000F0;
  struct Case {
    const char* name;
    uint32_t address;    // code to run
    DWORD code;
    bool has_data;
    ULONG_PTR access;
    uint32_t data;
    const char* text;
  };
  uint8_t* read_null = assemble_block(":MAIN;mov r0, [0]");
  uint8_t* write_low = assemble_block(":MAIN;mov r1, 3;mov [16], r1");
  uint8_t* host_fault = assemble_block(":MAIN;zrk asmtestfault");
  uint8_t* endless_push = assemble_block(":MAIN;:AGAIN;push r0;jmp AGAIN");
  ASSERT_TRUE(read_null && write_low && host_fault && endless_push) << errors();
  auto* undefined = static_cast<uint32_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(undefined, nullptr);
  *undefined = undefined_word;
  uint32_t host_code = platform::address_of(reinterpret_cast<void*>(&subtract_words));
  const Case cases[] = {
      {"read of 0", platform::address_of(read_null), EXCEPTION_ACCESS_VIOLATION, true, platform::kAccessRead, 0,
       "Access violation at 0x"},
      {"write of 16", platform::address_of(write_low), EXCEPTION_ACCESS_VIOLATION, true, platform::kAccessWrite, 16,
       "Access violation at 0x"},
      {"undefined instruction", platform::address_of(undefined), EXCEPTION_ILLEGAL_INSTRUCTION, false, 0, 0,
       "Illegal instruction at 0x"},
      {"jump into host code", host_code, EXCEPTION_ACCESS_VIOLATION, true, platform::kAccessExecute, host_code,
       "Access violation at 0x"},
      {"stack overflow", platform::address_of(endless_push), EXCEPTION_ACCESS_VIOLATION, false, 0, 0,
       "Access violation at 0x"},
      {"fault of a called built-in", platform::address_of(host_fault), EXCEPTION_ACCESS_VIOLATION, true,
       platform::kAccessWrite, 0, "Access violation at 0x"},
  };
  for (const Case& c : cases) {
    platform::FaultGuard guard = run_guarded(c.address);
    EXPECT_EQ(guard.code, c.code) << c.name;
    EXPECT_EQ(guard.record.ExceptionCode, c.code) << c.name;
    if (c.has_data) {
      ASSERT_EQ(guard.record.NumberParameters, 2u) << c.name;
      EXPECT_EQ(guard.record.ExceptionInformation[0], c.access) << c.name;
      EXPECT_EQ(guard.record.ExceptionInformation[1], c.data) << c.name;
    }
    char* text = nullptr;
    EXCEPTION_POINTERS pointers = guard.pointers();
    exception_text(&text, guard.code, &pointers);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text).rfind(c.text, 0), 0u) << c.name << ": " << text;
    crt::free(text);
    // The thread's engine still runs code afterwards.
    cells[7] = 0;
    ASSERT_TRUE(run(":MAIN;mov r0, 6;mov [@ + 28], r0")) << errors();
    EXPECT_EQ(cells[7], 6) << "after " << c.name;
  }
  // A built-in's fault keeps the host instruction's address.
  EXPECT_EQ(run_guarded(platform::address_of(host_fault)).address, static_cast<const void*>(asm_test_fault_at));
  // A fault of the block's own code names an address inside the block.
  platform::FaultGuard guard = run_guarded(platform::address_of(write_low));
  uint32_t at = platform::address_of(guard.address);
  EXPECT_GE(at, platform::address_of(write_low));
  EXPECT_LT(at, platform::address_of(write_low) + 8192);
  VirtualFree(undefined, 0, MEM_RELEASE);
}

// The fault names the instruction that made the access, not the start of the run of
// instructions it stands in; an access of the same kind before it went through.
TEST_F(BridgeTest, AFaultNamesTheInstructionThatFaulted) {
  struct Case {
    const char* text;
    uint32_t faulting_word;
  };
  const Case cases[] = {
      {":MAIN;mov r3, @;mov r2, 5;mov [r3], r2;mov r1, 16;mov [r1 + 4], r2", 0xE5812004},  // str r2, [r1, #4]
      {":MAIN;mov r3, @;mov r0, [r3];mov r1, 64;mov r0, [r1 - 8]", 0xE5110008},            // ldr r0, [r1, #-8]
      {":MAIN;mov r1, 32;mov r2, 1;mov r0, byte [r1 + 3]", 0xE5D10003},                    // ldrb r0, [r1, #3]
      {":MAIN;mov r1, 4096;mov r3, 9;mov word [r1 - 200], r3", 0xE1413CB8},                // strh r3, [r1, #-200]
  };
  for (const Case& c : cases) {
    uint8_t* block = assemble_block(c.text);
    ASSERT_NE(block, nullptr) << c.text << errors();
    uint32_t expected = 0;
    for (uint32_t at = platform::address_of(block); at < platform::address_of(block) + 8192 && !expected; at += 4) {
      if (*platform::pointer_from<uint32_t>(at) == c.faulting_word) expected = at;
    }
    ASSERT_NE(expected, 0u) << c.text;
    platform::FaultGuard guard = run_guarded(platform::address_of(block));
    EXPECT_EQ(guard.code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION)) << c.text;
    EXPECT_EQ(platform::address_of(guard.address), expected) << c.text;
  }
}

// Runs the inner block on the value stack's top: assembled code running a host built-in
// that runs assembled code.
uint8_t* inner_block = nullptr;
void builtin_test_run_inner() { run_arm_code(platform::address_of(inner_block)); }

TEST_F(BridgeTest, AssembledCodeCanBeEnteredAgainFromTheRuntimeItCalls) {
  RegisteredBuiltins builtins{{"ASMTESTINNER", builtin_test_run_inner}};
  inner_block = assemble_block(":MAIN;zrkpull;mul r0, r0;mov r1, 1000;zrkpush r0");
  uint8_t* outer = assemble_block(":MAIN;mov r1, 11;zrkpush [@];zrk asmtestinner;zrkpull;add r0, r1;mov [@ + 28], r0");
  ASSERT_TRUE(inner_block && outer) << errors();
  cells[0] = 6;
  run_arm_code(platform::address_of(outer));
  EXPECT_EQ(cells[7], 36 + 11);

  // A fault in the inner run reaches the guard around the outer one.
  uint8_t* faulting_inner = assemble_block(":MAIN;mov r0, [4]");
  ASSERT_NE(faulting_inner, nullptr) << errors();
  inner_block = faulting_inner;
  platform::FaultGuard guard = run_guarded(platform::address_of(outer));
  EXPECT_EQ(guard.code, EXCEPTION_ACCESS_VIOLATION);
  inner_block = nullptr;
  stack_free_all(context);
  ASSERT_TRUE(run(":MAIN;mov r0, 8;mov [@ + 28], r0")) << errors();
  EXPECT_EQ(cells[7], 8);
}

TEST_F(BridgeTest, ThreadsRunCodeOnEnginesOfTheirOwn) {
  int32_t sums[2] = {};
  uint8_t* blocks[2];
  for (int32_t index = 0; index < 2; ++index) {
    std::string target = std::to_string(platform::address_of(&sums[index]));
    std::string limit = std::to_string(2000 + index);
    blocks[index] = assemble_block(":MAIN;mov r0, 0;mov r1, " + limit + ";:LOOP;add r0, r1;sub r1, 1;cmp r1, 0;jgt LOOP;mov [" +
                                   target + "], r0");
    ASSERT_NE(blocks[index], nullptr) << errors();
  }
  std::thread threads[2];
  for (int32_t index = 0; index < 2; ++index) {
    threads[index] = std::thread([&, index] {
      for (int32_t round = 0; round < 20; ++round) run_arm_code(platform::address_of(blocks[index]));
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(sums[0], 2000 * 2001 / 2);
  EXPECT_EQ(sums[1], 2001 * 2002 / 2);
}

}  // namespace
