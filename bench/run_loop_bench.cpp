// Times the run loop alone: a ring of no-op instructions closed by a counting jump,
// run for about 100 million instructions; prints the cost per instruction.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "foundation/program_context.h"
#include "vm/instruction_list.h"
#include "vm/machine.h"

namespace {

constexpr int kRingLength = 1000;
uint64_t rounds_left = 0;

void op_nothing() {}

// Goes back to the ring's head (its link) until the rounds are used up, then ends.
void op_loop_back() {
  if (--rounds_left == 0) {
    stop_flag = 1;
    return;
  }
  current_instruction = current_instruction->extension->link;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t instructions = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000000ull;
  ProgramContext* program = create_program_context();
  program->pool = pool_create(64 * 1024);
  current_program = program;
  emit_pool = program->pool;

  InstructionNode* tail = nullptr;
  emit_instruction_node(&tail, op_nothing, "PROCBENCH", 0, nullptr, 0, nullptr, 0, 0);
  InstructionNode* head = tail;
  for (int index = 0; index < kRingLength; ++index) {
    emit_instruction_node(&tail, op_nothing, nullptr, 0, nullptr, 0, nullptr, 0, 0);
  }
  emit_instruction_node(&tail, op_loop_back, nullptr, 0, head, 0, nullptr, 0, 0);

  rounds_left = instructions / (kRingLength + 1);
  if (rounds_left == 0) rounds_left = 1;
  uint64_t executed = rounds_left * (kRingLength + 1);

  call_program = program;
  call_procedure = head;
  auto start = std::chrono::steady_clock::now();
  vm_call_procedure();
  auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("%llu instructions in %.3f s: %.2f ns per instruction\n",
              static_cast<unsigned long long>(executed), elapsed, elapsed * 1e9 / static_cast<double>(executed));
  free_instruction_list(program, tail);
  program_context_release(program);
  return 0;
}
