// The state of one assembly shared by the source reader, the lowering and the code block
// routines: operands, output position, fix-up tables, labels, locals and sections.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CodeListNode;

// Operand kinds: one register bit and/or the form flags.
enum OperandKind : uint32_t {
  kRegisterR0 = 0x1,
  kRegisterR1 = 0x2,
  kRegisterR2 = 0x4,
  kRegisterR3 = 0x8,
  kRegisterR8 = 0x10,
  kRegisterR9 = 0x20,
  kRegisterR10 = 0x40,
  kRegisterSp = 0x80,
  kRegisterSf = 0x100,
  kRegisterMask = 0x1FF,
  kOperandMemory = 0x200,
  kOperandImmediate = 0x400,
  kOperandVariable = 0x800,
  kOperandDisplacement = 0x1000,
  kOperandLocal = 0x2000,  // sf-based slot of a local or parameter
};

struct AsmOperand {
  uint32_t kind = 0;
  int32_t value = 0;         // immediate, or the base address of a memory operand without register
  int32_t displacement = 0;  // signed offset added to the base of a memory operand
  double number = 0;         // the number as written, for the maths statements
  bool is_number = false;
  std::string text;          // name the listing shows
};

// ARM register numbers.
constexpr int32_t kR8 = 8, kR9 = 9, kR10 = 10, kR11 = 11, kSf = 12, kSp = 13, kLr = 14, kPc = 15;

// The register number of the operand's register bit, -1 without one.
int32_t register_number(uint32_t kind);
// The register bit of an ARM register number (0 for registers outside the language).
uint32_t register_bit(int32_t number);
// An operand that is just the register.
AsmOperand register_operand(int32_t number);
AsmOperand immediate_operand(int32_t value);

struct ConstantReference {
  uint32_t value;
  uint32_t instruction;
  uint8_t* address;
  uint8_t* slot;
};

struct BranchReference {
  uint32_t condition;
  uint8_t* address;
  std::string target;
};

struct LabelRecord {
  std::string name;
  uint8_t* address;
};

struct LocalVariable {
  std::string name;  // upper case
  int32_t offset;    // from sf
};

// A function or the top-level code: its locals and the stack placeholder.
struct Section {
  std::vector<LocalVariable> locals;
  int32_t local_count = 0;
  int32_t parameter_count = 0;
  uint8_t* placeholder = nullptr;  // two words reserving the locals
  bool has_instruction = false;
  // Debugger mode: the last description of the locals emitted, and for how many.
  uint8_t* descriptor = nullptr;
  size_t described = 0;
  bool entered = false;  // the frame record of the section is made
};

struct AssemblerState {
  uint8_t* block = nullptr;
  uint8_t* end = nullptr;
  uint8_t* position = nullptr;
  uint8_t* code_end = nullptr;  // where the constant table begins
  const CodeListNode* statement = nullptr;  // first word of the statement being read
  bool statement_failed = false;            // lowering stopped after a message
  uint8_t byte_access = 0;
  uint8_t halfword_access = 0;
  std::vector<ConstantReference> constants;
  bool constants_overflow_reported = false;
  std::vector<BranchReference> branches;
  std::vector<LabelRecord> labels;
  std::vector<std::pair<std::string, int32_t>> symbols;
  std::string function_name;  // label prefix, empty in the main code
  bool in_function = false;
  bool last_function_returned = true;
  bool any_function = false;
  bool any_section = false;
  bool main_seen = false;
  uint8_t* main_address = nullptr;
  bool main_entered = false;  // the main code's frame record is made (debugger mode)
  Section function_section;
  Section top_section;
};
extern AssemblerState assembler;

// The section statements are read in now.
Section& current_section();

// ---- output (code_block.cpp) ----
// Reports a compile message at the statement being read and stops its lowering.
void assembler_error(const char* message);
// Appends a word (with the end check); the listing line is written when it is on.
void emit_word(uint32_t word, const char* listing = nullptr);
void emit_halfword(uint16_t value);
void emit_byte(uint8_t value);
// Records that the instruction at address takes value from the constant table.
void add_constant_reference(uint8_t* address, uint32_t instruction, uint32_t value);
// Emits an instruction that loads value from the constant table.
void emit_constant_load(uint32_t instruction, uint32_t value, const char* listing);
void add_branch_reference(uint32_t condition, uint8_t* address, const std::string& target);
void add_label(const std::string& name, uint8_t* address);
// The address of a label, null when none has that name.
uint8_t* find_label(const std::string& name);
void register_symbol(const std::string& name, int32_t value);
// A copy of text owned by the block being assembled; its address.
char* track_block_string(const char* text);
char* find_block_string(const char* text);
// Frees one text of the block being assembled (one it no longer uses).
void release_block_string(char* text);
// Writes a listing line (when the listing is on).
void listing_line(const char* text);
std::string format_operand(const AsmOperand& operand);
std::string format_hex(uint32_t value);

// ---- lowering (lowering.cpp) ----
void emit_prologue_block();
void emit_prologue_function();
void emit_epilogue_function();
void emit_epilogue_block();
// Emits the two words that reserve a section's locals (filled by finish_section_locals).
void emit_locals_placeholder(Section& section);
void finish_section_locals(Section& section);
void lower_mov(const AsmOperand& destination, const AsmOperand& source);
// Operation codes of lower_arith.
enum ArithOperation { kAdd = 1, kSub, kMul, kAnd, kOr, kXor, kCmp, kSwp };
void lower_arith(int32_t operation, const AsmOperand& destination, const AsmOperand& source);
enum RuntimeRoutine : int32_t;
void lower_runtime_operation(RuntimeRoutine routine, const AsmOperand& destination, const AsmOperand& source);
void lower_push(const AsmOperand& source);
void lower_pop(const AsmOperand& destination);
void lower_pop_double(const AsmOperand& destination);
void lower_neg(const AsmOperand& destination);
void lower_jump(uint32_t condition, const std::string& target, const char* mnemonic);
void lower_call(uint32_t condition, const std::string& target, const char* mnemonic, int32_t argument_count);
void lower_maths(RuntimeRoutine routine, const AsmOperand& destination, const AsmOperand& source, bool to_int);
void emit_runtime_call(RuntimeRoutine routine);
void emit_runtime_call_address(uint32_t address, const char* name);
void save_registers(bool keep_r0);
void restore_registers(bool keep_r0);
// ---- debugger and profiler calls (diagnostic_calls.cpp) ----
// Before a statement in debugger mode: the register snapshot, the frame record at the
// first statement of a function or of the main code, and the breakpoint check.
void emit_debugger_statement_entry(uint32_t line);
// After a statement in profiler mode: the profile point of its line.
void emit_profiler_statement_exit(uint32_t line);
// Makes the frame record of a function or main code that had no statement (so that the
// release after it has one to give back).
void emit_missing_section_entry();
// Debugger mode: gives back the newest frame record (after a jsr and the main code).
void emit_frame_release();
// Frees an SP adjustment of bytes (a multiple of 4, at most 1,020) in at most two words.
void emit_stack_release(int32_t bytes);
