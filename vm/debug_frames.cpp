// The register block and the frame records of assembled code run under the debugger.
#include "vm/debug_frames.h"

#include <cstring>

#include "foundation/program_context.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/debugger_link.h"

thread_local AsmRegisterBlock asm_register_block;

namespace {

// save_registers pushes r0-r3, cpsr, r11 and sf: the statement's sp is above them.
constexpr int32_t kSavedSf = 6;
constexpr uint32_t kSavedBytes = 7 * 4;

}  // namespace

void rt_debug_snapshot(const uint32_t* saved, const AsmLocalsDescriptor* descriptor) {
  AsmRegisterBlock& block = asm_register_block;
  block.r0 = saved[0];
  block.r1 = saved[1];
  block.r2 = saved[2];
  block.r3 = saved[3];
  block.sf = saved[kSavedSf];
  block.sp = platform::address_of(saved) + kSavedBytes;
  int32_t count = descriptor ? descriptor->count : 0;
  if (count > kAssemblerMaxLocals) count = kAssemblerMaxLocals;
  block.local_count = count;
  block.parameter_count = descriptor && descriptor->parameter_count < count ? descriptor->parameter_count : count;
  const auto* frame = platform::pointer_from<const uint8_t>(block.sf);
  for (int32_t index = 0; index < count; ++index) {
    block.names[index] = descriptor->locals[index].name;
    std::memcpy(&block.values[index], frame + descriptor->locals[index].offset, sizeof(uint32_t));
  }
}

uint32_t rt_enter_function(ProgramContext* context, const char* name) {
  if (!context) return step_mode;
  auto* record = static_cast<AsmFrameRecord*>(crt::calloc(1, sizeof(AsmFrameRecord)));
  if (!record) return step_mode;
  const AsmRegisterBlock& block = asm_register_block;
  record->name = crt::_strdup(name && *name ? name : "MAIN");
  record->local_count = block.local_count;
  record->parameter_count = block.parameter_count;
  record->local_names = static_cast<char**>(crt::calloc(static_cast<size_t>(block.local_count) + 1, sizeof(char*)));
  record->local_values =
      static_cast<uint32_t*>(crt::calloc(static_cast<size_t>(block.local_count) + 1, sizeof(uint32_t)));
  if (!record->local_names || !record->local_values) record->local_count = 0;
  for (int32_t index = 0; index < record->local_count; ++index) {
    record->local_names[index] = crt::_strdup(block.names[index] ? block.names[index] : "");
    record->local_values[index] = block.values[index];
  }
  record->saved_step_mode = step_mode;
  if (step_mode == 1) step_mode = 0;
  record->previous = context->asm_frames;
  context->asm_frames = record;
  return record->saved_step_mode;
}

namespace {

void free_frame(AsmFrameRecord* record) {
  for (int32_t index = 0; index < record->local_count; ++index) crt::free(record->local_names[index]);
  crt::free(record->local_names);
  crt::free(record->local_values);
  crt::free(record->name);
  crt::free(record);
}

}  // namespace

void rt_leave_function(ProgramContext* context) {
  AsmFrameRecord* record = context ? context->asm_frames : nullptr;
  if (!record) return;
  context->asm_frames = record->previous;
  if (record->saved_step_mode == 1) step_mode = 1;
  free_frame(record);
}

void unwind_asm_frames(ProgramContext* context, AsmFrameRecord* keep) {
  if (!context) return;
  while (context->asm_frames && context->asm_frames != keep) {
    AsmFrameRecord* record = context->asm_frames;
    context->asm_frames = record->previous;
    free_frame(record);
  }
}
