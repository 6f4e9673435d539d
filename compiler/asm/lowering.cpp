// Lowering of assembler statements to ARM instruction words: moves, arithmetic, stack,
// branches, calls of run-time routines and the maths statements.
#include <cstdio>
#include <cstring>

#include "compiler/asm/assembler.h"
#include "compiler/asm/assembler_state.h"
#include "compiler/asm/runtime_routines.h"
#include "platform/kernel/types.h"

namespace {

// Register-to-register and byte/halfword transfers meet here (rule of mov under a size
// prefix); one word of the runtime, addressed absolutely.
uint32_t size_scratch_word = 0;

const char* register_name(int32_t number) {
  static const char* const kNames[16] = {"r0", "r1", "r2", "r3", "r4", "r5",  "r6", "r7",
                                         "r8", "r9", "r10", "r11", "r12", "sp", "lr", "pc"};
  return number >= 0 && number < 16 ? kNames[number] : "?";
}

std::string listing(const char* mnemonic, const std::string& first, const std::string& second = "") {
  const char* size = assembler.byte_access ? "byte" : assembler.halfword_access ? "word" : "";
  std::string text = std::string(mnemonic) + " " + size + ";" + first;
  if (!second.empty()) text += ", " + second;
  return text;
}

std::string memory_text(int32_t base, int32_t displacement) {
  AsmOperand operand;
  operand.kind = register_bit(base) | kOperandMemory;
  operand.displacement = displacement;
  return format_operand(operand);
}

bool is_register(const AsmOperand& operand) {
  return (operand.kind & kRegisterMask) && !(operand.kind & kOperandMemory);
}
bool is_memory(const AsmOperand& operand) { return operand.kind & kOperandMemory; }
bool is_immediate(const AsmOperand& operand) {
  return (operand.kind & kOperandImmediate) && !(operand.kind & kOperandMemory);
}

void emit_move_register(int32_t destination, int32_t source) {
  emit_word(0xE1A00000 | destination << 12 | source,
            listing("mov", register_name(destination), register_name(source)).c_str());
}

// destination = value: one MOV when it encodes, else a load from the constant table.
void load_immediate(int32_t destination, int32_t value) {
  int32_t encoded = encode_rotated_immediate(static_cast<uint32_t>(value));
  std::string text = listing("ldr", register_name(destination), format_operand(immediate_operand(value)));
  if (encoded >= 0) {
    emit_word(0xE3A00000 | destination << 12 | encoded, text.c_str());
  } else {
    emit_constant_load(0xE59B0000 | destination << 12, static_cast<uint32_t>(value), text.c_str());
  }
}

// One LDR/STR (word, byte or halfword by the size flags) of data at [base, #displacement].
// A displacement beyond the instruction's field goes through a scratch register: r10,
// or r9 when r10 is taken.
void access_memory(bool load, int32_t data, int32_t base, int32_t displacement, bool r10_taken) {
  bool halfword = assembler.halfword_access;
  int32_t limit = halfword ? 255 : 4095;
  if (displacement > limit || displacement < -limit) {
    int32_t scratch = (r10_taken || data == kR10) ? kR9 : kR10;
    if (scratch == data || scratch == base) {
      assembler_error("Displacement out of range");
      return;
    }
    uint8_t saved_byte = assembler.byte_access, saved_half = assembler.halfword_access;
    assembler.byte_access = assembler.halfword_access = 0;
    load_immediate(scratch, displacement);
    emit_word(0xE0800000 | scratch << 16 | scratch << 12 | base,
              listing("add", register_name(scratch), register_name(base)).c_str());
    assembler.byte_access = saved_byte;
    assembler.halfword_access = saved_half;
    base = scratch;
    displacement = 0;
  }
  uint32_t up = displacement >= 0 ? 0x00800000 : 0;
  uint32_t magnitude = static_cast<uint32_t>(displacement >= 0 ? displacement : -displacement);
  uint32_t word;
  if (halfword) {
    word = (load ? 0xE1500000 : 0xE1400000) | 0xB0 | up | base << 16 | data << 12 | (magnitude & 0xF0) << 4 |
           (magnitude & 0xF);
  } else {
    word = 0xE5000000 | 0x01000000 | up | (assembler.byte_access ? 0x00400000 : 0) | (load ? 0x00100000 : 0) |
           base << 16 | data << 12 | magnitude;
  }
  emit_word(word, listing(load ? "ldr" : "str", register_name(data), memory_text(base, displacement)).c_str());
}

// The register and displacement that address a memory operand; a base that is not a
// register is loaded into address_register (with the displacement added).
void address_of_memory(const AsmOperand& memory, int32_t address_register, int32_t* base, int32_t* displacement) {
  int32_t number = register_number(memory.kind);
  if (number >= 0) {
    *base = number;
    *displacement = memory.displacement;
    return;
  }
  uint8_t saved_byte = assembler.byte_access, saved_half = assembler.halfword_access;
  assembler.byte_access = assembler.halfword_access = 0;
  load_immediate(address_register, memory.value);
  if (memory.displacement != 0) {
    lower_arith(kAdd, register_operand(address_register), immediate_operand(memory.displacement));
  }
  assembler.byte_access = saved_byte;
  assembler.halfword_access = saved_half;
  *base = address_register;
  *displacement = 0;
}

void load_memory(int32_t target, const AsmOperand& memory, bool r10_taken = false) {
  int32_t base, displacement;
  address_of_memory(memory, r10_taken ? kR9 : kR10, &base, &displacement);
  access_memory(true, target, base, displacement, r10_taken);
}

void store_memory(int32_t source, const AsmOperand& memory, bool r10_taken = false) {
  int32_t base, displacement;
  address_of_memory(memory, (r10_taken || source == kR10) ? kR9 : kR10, &base, &displacement);
  access_memory(false, source, base, displacement, r10_taken || source == kR10);
}

void emit_register_operation(int32_t operation, int32_t destination, int32_t source) {
  const char* d = register_name(destination);
  const char* s = register_name(source);
  switch (operation) {
    case kAdd: emit_word(0xE0800000 | destination << 16 | destination << 12 | source, listing("add", d, s).c_str()); break;
    case kSub: emit_word(0xE0400000 | destination << 16 | destination << 12 | source, listing("sub", d, s).c_str()); break;
    case kMul:
      // The product register must differ from the first factor: d = s * d.
      if (source == destination) {
        emit_move_register(kR8, source);
        source = kR8;
        s = register_name(kR8);
      }
      emit_word(0xE0000090 | destination << 16 | destination << 8 | source, listing("mul", d, s).c_str());
      break;
    case kAnd: emit_word(0xE0000000 | destination << 16 | destination << 12 | source, listing("and", d, s).c_str()); break;
    case kOr: emit_word(0xE1800000 | destination << 16 | destination << 12 | source, listing("or", d, s).c_str()); break;
    case kXor: emit_word(0xE0200000 | destination << 16 | destination << 12 | source, listing("eor", d, s).c_str()); break;
    case kCmp: emit_word(0xE1500000 | destination << 16 | source, listing("cmp", d, s).c_str()); break;
    case kSwp:
      if (source == destination) {
        assembler_error("Invalid register");
        return;
      }
      emit_word(0xE1000090 | source << 16 | destination << 12 | destination,
                listing("swp", d, std::string("[") + s + "]").c_str());
      break;
  }
}

void emit_immediate_operation(int32_t operation, int32_t destination, int32_t value) {
  static const uint32_t kImmediateForms[] = {0, 0xE2800000, 0xE2400000, 0, 0xE2000000, 0xE3800000, 0xE2200000};
  static const char* const kNames[] = {"", "add", "sub", "mul", "and", "or", "eor", "cmp", "swp"};
  int32_t encoded = encode_rotated_immediate(static_cast<uint32_t>(value));
  if (operation != kMul && operation != kCmp && encoded >= 0) {
    emit_word(kImmediateForms[operation] | destination << 16 | destination << 12 | encoded,
              listing(kNames[operation], register_name(destination), "#" + format_hex(static_cast<uint32_t>(value)))
                  .c_str());
    return;
  }
  emit_constant_load(0xE59B8000, static_cast<uint32_t>(value),
                     listing("ldr", "r8", "#" + format_hex(static_cast<uint32_t>(value))).c_str());
  emit_register_operation(operation, destination, kR8);
}

// The operand's base register when it is a memory operand based on r0-r3 (which a
// run-time call does not preserve), else -1.
int32_t volatile_base(const AsmOperand& operand) {
  if (!is_memory(operand)) return -1;
  int32_t number = register_number(operand.kind);
  return number >= 0 && number <= 3 ? number : -1;
}

// Loads the double of an operand into the registers low and high.
bool load_double(const AsmOperand& source, int32_t low, int32_t high) {
  if (is_immediate(source)) {
    double value = source.is_number ? source.number : static_cast<double>(source.value);
    uint32_t words[2];
    std::memcpy(words, &value, sizeof words);
    load_immediate(low, static_cast<int32_t>(words[0]));
    load_immediate(high, static_cast<int32_t>(words[1]));
    return true;
  }
  if (is_register(source)) {
    int32_t number = register_number(source.kind);
    if (number != 0 && number != 2) return false;
    if (number != low) {
      emit_move_register(low, number);
      emit_move_register(high, number + 1);
    }
    return true;
  }
  if (!is_memory(source) || (source.kind & kOperandLocal)) return false;
  int32_t base, displacement;
  address_of_memory(source, kR10, &base, &displacement);
  if (base == low) {
    access_memory(true, high, base, displacement + 4, false);
    access_memory(true, low, base, displacement, false);
  } else {
    access_memory(true, low, base, displacement, false);
    access_memory(true, high, base, displacement + 4, false);
  }
  return true;
}

// Stores the pair low:high into the 8 bytes of a memory operand.
void store_double(int32_t low, int32_t high, const AsmOperand& destination) {
  listing_line("fstp");
  int32_t base, displacement;
  address_of_memory(destination, kR10, &base, &displacement);
  access_memory(false, low, base, displacement, false);
  access_memory(false, high, base, displacement + 4, false);
}

bool can_hold_double(const AsmOperand& destination) {
  return is_memory(destination) && !(destination.kind & kOperandLocal);
}

}  // namespace

int32_t encode_rotated_immediate(uint32_t value) {
  if (value < 256) return static_cast<int32_t>(value);
  uint32_t best = value;
  int32_t best_rotation = 0;
  for (int32_t k = 1; k < 16; ++k) {
    uint32_t rotated = (value >> (2 * k)) | (value << (32 - 2 * k));
    if (rotated < best) {
      best = rotated;
      best_rotation = k;
    }
  }
  if (best > 255) return -1;
  return static_cast<int32_t>(best | static_cast<uint32_t>((16 - best_rotation) & 15) << 8);
}

int32_t register_number(uint32_t kind) {
  static const int32_t kNumbers[] = {0, 1, 2, 3, kR8, kR9, kR10, kSp, kSf};
  for (int32_t index = 0; index < 9; ++index) {
    if (kind & (1u << index)) return kNumbers[index];
  }
  return -1;
}

uint32_t register_bit(int32_t number) {
  switch (number) {
    case 0: case 1: case 2: case 3: return 1u << number;
    case kR8: return kRegisterR8;
    case kR9: return kRegisterR9;
    case kR10: return kRegisterR10;
    case kSf: return kRegisterSf;
    case kSp: return kRegisterSp;
    default: return 0;
  }
}

AsmOperand register_operand(int32_t number) {
  AsmOperand operand;
  operand.kind = register_bit(number);
  return operand;
}

AsmOperand immediate_operand(int32_t value) {
  AsmOperand operand;
  operand.kind = kOperandImmediate;
  operand.value = value;
  return operand;
}

void emit_prologue_block() {
  emit_word(0xE92D5FFF, "stmfd;sp!, {r0-r12, lr}");
  emit_word(0xE1A0C00D, "mov;r12, sp");
  for (uint32_t number = 0; number < 4; ++number) emit_word(0xE3A00000 | number << 12);
  for (int32_t index = 0; index < 4; ++index) emit_word(0);  // r11 = constant table
  emit_word(0, "b;main");                                     // LDR pc of the main address
}

void emit_prologue_function() {
  emit_word(0xE92D5000, "stmfd;sp!, {r12, lr}");
  emit_word(0xE1A0C00D, "mov;r12, sp");
}

void emit_epilogue_function() {
  emit_word(0xE1A0D00C, "mov;sp, r12");
  emit_word(0xE8BD9000, "ldmia;sp!, {r12, pc}");
}

void emit_epilogue_block() {
  emit_word(0xE1A0D00C, "mov;sp, r12");
  emit_word(0xE8BD9FFF, "ldmia;sp!, {r0-r12, pc}");
}

// Two words, so that any count up to the limit encodes: the low byte and the rest.
void emit_locals_placeholder(Section& section) {
  section.placeholder = assembler.position;
  emit_word(0xE24DD000);
  emit_word(0xE24DD000);
}

void finish_section_locals(Section& section) {
  if (!section.placeholder) return;
  uint32_t bytes = static_cast<uint32_t>(section.local_count) * 4;
  uint32_t words[2] = {0xE24DD000 | (bytes & 0xFF), 0xE24DD000};
  if (bytes & 0xF00) words[1] = 0xE24DDC00 | ((bytes >> 8) & 0xF);
  if (section.placeholder + 8 < assembler.end) std::memcpy(section.placeholder, words, 8);
  section.placeholder = nullptr;
}

void emit_stack_release(int32_t bytes) {
  if (bytes & 0xFF) emit_word(0xE28DD000 | (bytes & 0xFF), listing("add", "sp", "#" + format_hex(bytes & 0xFF)).c_str());
  if (bytes & 0xF00) {
    emit_word(0xE28DDC00 | ((bytes >> 8) & 0xF), listing("add", "sp", "#" + format_hex(bytes & 0xF00)).c_str());
  }
}

void lower_mov(const AsmOperand& destination, const AsmOperand& source) {
  if (is_register(destination)) {
    int32_t d = register_number(destination.kind);
    if (is_register(source)) {
      int32_t s = register_number(source.kind);
      if (assembler.byte_access || assembler.halfword_access) {
        // Through a scratch word: the destination gets the zero-extended low part.
        AsmOperand scratch;
        scratch.kind = kOperandMemory;
        scratch.value = static_cast<int32_t>(platform::address_of(&size_scratch_word));
        store_memory(s, scratch);
        load_memory(d, scratch);
        return;
      }
      emit_move_register(d, s);
    } else if (is_memory(source)) {
      load_memory(d, source);
    } else if (source.kind & kOperandImmediate) {
      load_immediate(d, source.value);
    } else {
      assembler_error("Syntax error");
    }
  } else if (is_memory(destination)) {
    if (is_register(source)) {
      store_memory(register_number(source.kind), destination);
    } else if (is_immediate(source)) {
      load_immediate(kR9, source.value);
      store_memory(kR9, destination);
    } else if (is_memory(source)) {
      load_memory(kR10, source);
      store_memory(kR10, destination, true);
    } else {
      assembler_error("Syntax error");
    }
  } else {
    assembler_error("Invalid indexing type");
  }
}

void lower_arith(int32_t operation, const AsmOperand& destination, const AsmOperand& source) {
  if (operation == kSwp && is_immediate(source)) {
    assembler_error("Invalid register");
    return;
  }
  auto apply = [&](int32_t target) {
    if (is_register(source)) {
      emit_register_operation(operation, target, register_number(source.kind));
    } else if (is_immediate(source)) {
      emit_immediate_operation(operation, target, source.value);
    } else {
      emit_register_operation(operation, target, kR10);
    }
  };
  if (is_register(destination)) {
    if (is_memory(source)) load_memory(kR10, source);
    apply(register_number(destination.kind));
  } else if (is_memory(destination)) {
    bool source_in_r10 = is_memory(source);
    if (source_in_r10) load_memory(kR10, source);
    load_memory(kR9, destination, source_in_r10);
    apply(kR9);
    if (operation != kCmp && operation != kSwp) store_memory(kR9, destination);
  } else if (is_immediate(destination)) {
    if (operation != kCmp) {
      assembler_error("Indexing is missing");
      return;
    }
    if (is_memory(source)) load_memory(kR10, source);
    load_immediate(kR9, destination.value);
    apply(kR9);
  } else {
    assembler_error("Invalid indexing type");
  }
}

void lower_runtime_operation(RuntimeRoutine routine, const AsmOperand& destination, const AsmOperand& source) {
  if (!is_register(destination) && !is_memory(destination)) {
    assembler_error("Invalid indexing type");
    return;
  }
  int32_t d = is_register(destination) ? register_number(destination.kind) : -1;
  int32_t s = is_register(source) ? register_number(source.kind) : -1;
  bool source_reads_r0 = s == 0 || volatile_base(source) == 0;
  int32_t kept_base = volatile_base(destination);
  if (kept_base >= 0) emit_word(0xE92D0000 | 1u << kept_base, listing("stmfd", "sp!", std::string("{") + register_name(kept_base) + "}").c_str());
  if (source_reads_r0 && d != 0) {
    // Moving d into r0 first would lose the source.
    lower_mov(register_operand(kR10), source);
    lower_mov(register_operand(0), destination);
    emit_move_register(1, kR10);
  } else {
    if (d != 0) lower_mov(register_operand(0), destination);
    if (s != 1) lower_mov(register_operand(1), source);
  }
  emit_runtime_call(routine);
  if (d == 0) return;
  if (kept_base >= 0) {
    emit_word(0xE8BD0000 | 1u << kR9, listing("ldmia", "sp!", "{r9}").c_str());
    AsmOperand moved = destination;
    moved.kind = (moved.kind & ~kRegisterMask) | kRegisterR9;
    lower_mov(moved, register_operand(0));
    return;
  }
  lower_mov(destination, register_operand(0));
}

void emit_runtime_call_address(uint32_t address, const char* name) {
  emit_word(0xE92D1800, "stmfd;sp!, {r11, r12}");
  emit_word(0xE1A0E00F, "mov;lr, pc");
  emit_constant_load(0xE59BF000, address, (std::string("ldr;pc, [r11, #") + name + "]").c_str());
  emit_word(0xE8BD1800, "ldmia;sp!, {r11, r12}");
}

void emit_runtime_call(RuntimeRoutine routine) {
  emit_runtime_call_address(runtime_routine_address(routine), runtime_routine_name(routine));
}

void save_registers(bool keep_r0) {
  emit_word(0xE10F4000, "mrs;r4, cpsr");
  emit_word(keep_r0 ? 0xE92D181F : 0xE92D181E, keep_r0 ? "stmfd;sp!, {r0-r4, r11,r12}" : "stmfd;sp!, {r1-r4, r11,r12}");
}

void restore_registers(bool keep_r0) {
  emit_word(keep_r0 ? 0xE8BD181F : 0xE8BD181E, keep_r0 ? "ldmia;sp!, {r0-r4, r11,r12}" : "ldmia;sp!, {r1-r4, r11,r12}");
  emit_word(0xE129F004, "msr;cpsr, r4");
}

void lower_push(const AsmOperand& source) {
  if (is_register(source)) {
    int32_t number = register_number(source.kind);
    emit_word(0xE92D0000 | 1u << number, listing("stmfd", "sp!", std::string("{") + register_name(number) + "}").c_str());
    return;
  }
  lower_mov(register_operand(kR10), source);
  emit_word(0xE92D0400, "stmfd;sp!, {r10}");
}

void lower_pop(const AsmOperand& destination) {
  if (is_register(destination)) {
    int32_t number = register_number(destination.kind);
    if (number == kSp) {
      assembler_error("Invalid register");
      return;
    }
    emit_word(0xE8BD0000 | 1u << number, listing("ldmia", "sp!", std::string("{") + register_name(number) + "}").c_str());
    return;
  }
  if (!is_memory(destination)) {
    assembler_error("Indexing is missing");
    return;
  }
  emit_word(0xE8BD0400, "ldmia;sp!, {r10}");
  lower_mov(destination, register_operand(kR10));
}

void lower_pop_double(const AsmOperand& destination) {
  if (!is_memory(destination)) {
    assembler_error(is_register(destination) ? "Unsupported type" : "Indexing is missing");
    return;
  }
  if (!can_hold_double(destination)) {
    assembler_error("Unsupported type");
    return;
  }
  emit_word(0xE8BD0300, "ldmia;sp!, {r8, r9}");
  store_double(kR8, kR9, destination);
}

void lower_neg(const AsmOperand& destination) {
  if (is_register(destination)) {
    int32_t d = register_number(destination.kind);
    emit_word(0xE1E00000 | d << 12 | d, listing("neg", register_name(d), register_name(d)).c_str());
  } else if (is_memory(destination)) {
    load_memory(kR10, destination);
    emit_word(0xE1E0A00A, listing("neg", "r10", "r10").c_str());
    store_memory(kR10, destination);
  } else {
    assembler_error("Invalid value");
  }
}

void lower_jump(uint32_t condition, const std::string& target, const char* mnemonic) {
  uint8_t* address = assembler.position;
  bool fits = assembler.position + 4 < assembler.end;
  emit_word(0, (std::string(mnemonic) + ";" + target).c_str());
  if (fits && !assembler.statement_failed) add_branch_reference(condition, address, target);
}

void lower_call(uint32_t condition, const std::string& target, const char* mnemonic, int32_t argument_count) {
  constexpr uint32_t kAlways = 0xE0000000;
  if (assembler_debugger_mode && (condition & 0xF0000000) != kAlways) {
    // The flags the callee leaves cannot decide whether its frame record goes: the call
    // and the release are skipped together by the opposite condition.
    uint8_t* skip = assembler.position;
    emit_word(0, "b;over the call");
    emit_word(0xE1A0E00F, "mov;lr, pc");
    lower_jump(kAlways | (condition & 0x0F000000), target, mnemonic);
    emit_frame_release();
    uint32_t offset = static_cast<uint32_t>((assembler.position - skip) / 4 - 2);
    if (!assembler.statement_failed && skip + 4 <= assembler.end) {
      uint32_t word = ((condition ^ 0x10000000) & 0xF0000000) | 0x0A000000 | (offset & 0x00FFFFFF);
      std::memcpy(skip, &word, 4);
    }
    emit_stack_release(argument_count * 4);
    return;
  }
  emit_word(0xE1A0E00F, "mov;lr, pc");
  lower_jump(condition, target, mnemonic);
  // The arguments go as soon as the callee is back, so that calls in a loop do not
  // grow the stack.
  emit_stack_release(argument_count * 4);
  emit_frame_release();
}

void lower_maths(RuntimeRoutine routine, const AsmOperand& destination, const AsmOperand& source, bool to_int) {
  if (!to_int && !can_hold_double(destination)) {
    assembler_error("Unsupported type");
    return;
  }
  if (to_int && !is_register(destination) && !is_memory(destination)) {
    assembler_error("Invalid indexing type");
    return;
  }
  int32_t kept_base = volatile_base(destination);
  if (kept_base >= 0) {
    emit_word(0xE92D0000 | 1u << kept_base, listing("stmfd", "sp!", std::string("{") + register_name(kept_base) + "}").c_str());
  }
  bool loaded;
  if (routine == kRoutineAtan2) {
    // atan2(destination, source): the second double goes in r2:r3.
    int32_t destination_base = register_number(destination.kind);
    int32_t source_base = volatile_base(source);
    if (destination_base == 2 || destination_base == 3) {
      if (source_base == 0 || source_base == 1 || (is_register(source) && register_number(source.kind) == 0)) {
        loaded = false;
      } else {
        loaded = load_double(destination, 0, 1) && load_double(source, 2, 3);
      }
    } else {
      loaded = load_double(source, 2, 3) && load_double(destination, 0, 1);
    }
  } else {
    loaded = load_double(source, 0, 1);
  }
  if (!loaded) {
    assembler_error("Unsupported type");
    return;
  }
  emit_runtime_call(routine);
  AsmOperand target = destination;
  if (kept_base >= 0) {
    emit_word(0xE8BD0000 | 1u << kR9, listing("ldmia", "sp!", "{r9}").c_str());
    target.kind = (target.kind & ~kRegisterMask) | kRegisterR9;
  }
  if (to_int) {
    lower_mov(target, register_operand(0));
  } else {
    store_double(0, 1, target);
  }
}
