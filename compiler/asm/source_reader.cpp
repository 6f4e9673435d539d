// The assembler's language: word classes, operand forms, sections, labels, functions,
// locals and the instruction set, read from the analyzer's word list.
#include "compiler/asm/source_reader.h"

#include <cctype>
#include <cstring>
#include <string>

#include "compiler/asm/arm_bridge.h"
#include "compiler/asm/assembler.h"
#include "compiler/asm/assembler_state.h"
#include "compiler/asm/runtime_routines.h"
#include "foundation/code_list.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/hashes.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/variable.h"
#include "foundation/variables.h"
#include "compiler/driver/text_interpolation.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_registry.h"

namespace {

CodeListNode* cursor = nullptr;
std::string mnemonic;

std::string upper(const char* text) {
  std::string result = text ? text : "";
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

std::string lower(const char* text) {
  std::string result = text ? text : "";
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

bool word_is(const char* text) { return cursor && std::strcmp(cursor->text, text) == 0; }

void advance() {
  if (cursor) cursor = cursor->next;
}

// The ARM number of a register name of the language, -1 for other words.
int32_t register_of_name(const char* text) {
  std::string name = lower(text);
  if (name == "r0") return 0;
  if (name == "r1") return 1;
  if (name == "r2") return 2;
  if (name == "r3") return 3;
  if (name == "sp") return kSp;
  if (name == "sf") return kSf;
  return -1;
}

const LocalVariable* find_local(const std::string& name) {
  for (const LocalVariable& local : current_section().locals) {
    if (local.name == name) return &local;
  }
  return nullptr;
}

uint8_t* find_label_for_value(const std::string& name) {
  if (uint8_t* address = find_label(assembler.function_name + name)) return address;
  return find_label(name);
}

AsmOperand local_operand(const LocalVariable& local) {
  AsmOperand operand;
  operand.kind = kOperandMemory | kRegisterSf | kOperandLocal | kOperandDisplacement;
  operand.displacement = local.offset;
  operand.text = local.name;
  return operand;
}

// A name that is not a register: variable, label, number or string. False when none.
bool read_value(AsmOperand& operand, bool allow_string) {
  const char* text = cursor->text;
  std::string name = upper(text);
  if (Variable* variable = find_variable(name.c_str())) {
    operand.kind = kOperandImmediate | kOperandVariable;
    operand.value = static_cast<int32_t>(platform::address_of(variable->data));
    operand.text = name;
    register_symbol(name, operand.value);
    return true;
  }
  if (uint8_t* address = find_label_for_value(name)) {
    operand.kind = kOperandImmediate;
    operand.value = static_cast<int32_t>(platform::address_of(address));
    operand.text = name;
    register_symbol(name, operand.value);
    return true;
  }
  if (text[0] && text[0] != '"' && is_numeric_text(text)) {
    operand.kind = kOperandImmediate;
    operand.number = text_to_number(text);
    operand.is_number = true;
    operand.value = truncate_to_int(operand.number);
    return true;
  }
  if (allow_string && text[0] == '"') {
    size_t length = std::strlen(text);
    std::string content(text + 1, length >= 2 && text[length - 1] == '"' ? length - 2 : length - 1);
    char* copy = track_block_string(content.c_str());
    operand.kind = kOperandImmediate;
    operand.value = static_cast<int32_t>(platform::address_of(copy));
    return true;
  }
  return false;
}

// A debug text's {expressions} take the values they have now, once: every run of the
// statement writes the same text. The result replaces the literal among the block's
// strings.
const char* interpolated_block_text(int32_t literal_address) {
  auto* literal = platform::pointer_from<char>(static_cast<uint32_t>(literal_address));
  if (!literal || !std::strchr(literal, '{')) return literal;
  // An expression that does not compile reads "[Error]": its messages are not the
  // assembly's.
  Pool* saved_pool = compiler_pool;
  const int32_t saved_error_count = compile_error_count;
  char* saved_errors = compile_error_text;
  compile_error_text = nullptr;
  char* interpolated = interpolate_braced_expressions(literal);
  compiler_pool = saved_pool;
  crt::free(compile_error_text);
  compile_error_text = saved_errors;
  compile_error_count = saved_error_count;
  if (!interpolated) return literal;
  char* kept = track_block_string(interpolated);
  crt::free(interpolated);
  if (!kept) return literal;
  release_block_string(literal);
  return kept;
}

// "[" base ["+"|"-" number] "]"; the cursor is on "[".
bool read_memory(AsmOperand& operand) {
  advance();
  if (!cursor) {
    assembler_error("Missing closing ]");
    return false;
  }
  int32_t number = register_of_name(cursor->text);
  std::string name = upper(cursor->text);
  if (number >= 0) {
    operand.kind = register_bit(number) | kOperandMemory;
    advance();
    if (number == kSf && !word_is("+") && !word_is("-")) {
      assembler_error("[SF] usage is not permitted");
      return false;
    }
  } else if (const LocalVariable* local = find_local(name)) {
    // The word at the address the local holds.
    lower_mov(register_operand(kR10), local_operand(*local));
    operand.kind = kRegisterR10 | kOperandMemory;
    operand.text = local->name;
    advance();
  } else if (read_value(operand, false)) {
    operand.kind = (operand.kind & ~kOperandImmediate) | kOperandMemory;
    advance();
  } else {
    assembler_error("Syntax error");
    return false;
  }
  if (word_is("+") || word_is("-")) {
    bool negative = word_is("-");
    advance();
    if (!cursor || !is_numeric_text(cursor->text) || cursor->text[0] == '"') {
      assembler_error("Syntax error");
      return false;
    }
    int32_t value = truncate_to_int(text_to_number(cursor->text));
    operand.displacement = negative ? -value : value;
    operand.kind |= kOperandDisplacement;
    advance();
  }
  if (!word_is("]")) {
    assembler_error("Missing closing ]");
    return false;
  }
  advance();
  return true;
}

bool parse_operand(AsmOperand& operand) {
  operand = AsmOperand();
  if (!cursor) {
    assembler_error("Syntax error");
    return false;
  }
  std::string word = upper(cursor->text);
  if (word == "BYTE" || word == "WORD") {
    if (word == "BYTE") assembler.byte_access = 1;
    else assembler.halfword_access = 1;
    if (mnemonic != "mov") {
      report_compile_message(nullptr,
                             word == "BYTE" ? "Cannot use BYTE size on this operand" : "Cannot use WORD size on this operand",
                             assembler.statement, -1, false);
    }
    advance();
    if (!cursor) {
      assembler_error("Syntax error");
      return false;
    }
    word = upper(cursor->text);
  }
  if (word == "[") return read_memory(operand);
  int32_t number = register_of_name(cursor->text);
  if (number >= 0) {
    operand.kind = register_bit(number);
    advance();
    return true;
  }
  if (const LocalVariable* local = find_local(word)) {
    operand = local_operand(*local);
    register_symbol(local->name, local->offset);
    advance();
    return true;
  }
  if (read_value(operand, true)) {
    advance();
    return true;
  }
  assembler_error("Syntax Error");
  return false;
}

bool parse_two(AsmOperand& destination, AsmOperand& source) {
  if (!parse_operand(destination)) return false;
  if (!word_is(",")) {
    assembler_error("Comma missing");
    return false;
  }
  advance();
  return parse_operand(source);
}

struct Branch {
  const char* mnemonic;
  uint32_t condition;
  const char* listing;
};
const Branch kJumps[] = {{"jmp", 0xEA000000, "b"},   {"jeq", 0x0A000000, "beq"}, {"jne", 0x1A000000, "bne"},
                         {"jge", 0xAA000000, "bge"}, {"jgt", 0xCA000000, "bgt"}, {"jle", 0xDA000000, "ble"},
                         {"jlt", 0xBA000000, "blt"}};
const Branch kCalls[] = {{"jsr", 0xEB000000, "bl"},     {"jsreq", 0x0B000000, "bleq"}, {"jsrne", 0x1B000000, "blne"},
                         {"jsrge", 0xAB000000, "blge"}, {"jsrgt", 0xCB000000, "blgt"}, {"jsrle", 0xDB000000, "blle"},
                         {"jsrlt", 0xBB000000, "bllt"}};

struct Arith {
  const char* mnemonic;
  int32_t operation;
};
const Arith kAriths[] = {{"add", kAdd}, {"sub", kSub}, {"mul", kMul}, {"and", kAnd},
                         {"or", kOr},   {"xor", kXor}, {"cmp", kCmp}, {"swp", kSwp}};

struct Maths {
  const char* mnemonic;
  RuntimeRoutine routine;
};
const Maths kMaths[] = {{"cos", kRoutineCos},     {"cosh", kRoutineCosh},   {"sin", kRoutineSin},
                        {"sinh", kRoutineSinh},   {"sqrt", kRoutineSqrt},   {"tan", kRoutineTan},
                        {"tanh", kRoutineTanh},   {"atan", kRoutineAtan},   {"atan2", kRoutineAtan2},
                        {"exp", kRoutineExp},     {"floor", kRoutineFloor}, {"ceil", kRoutineCeil},
                        {"log", kRoutineLog},     {"log10", kRoutineLog10}};

// The address assembled code calls for a registered built-in's handler, 0 when none.
uint32_t builtin_handler_address(const char* name) {
  BuiltinEntry* entry = builtin_entry(find_builtin_by_hash(hash_name_text(name)));
  return entry && entry->handler ? arm_thunk(entry->handler) : 0;
}

void call_builtin_wrapped(uint32_t handler, const char* name) {
  save_registers(true);
  emit_runtime_call_address(handler, name);
  restore_registers(true);
}

void lower_zrk() {
  if (!cursor) {
    assembler_error("Syntax error");
    return;
  }
  std::string name = upper(cursor->text);
  advance();
  int32_t index = find_builtin_by_hash(hash_name_text(name.c_str()));
  if (BuiltinEntry* entry = builtin_entry(index)) {
    if (entry->handler) {
      call_builtin_wrapped(arm_thunk(entry->handler), name.c_str());
      return;
    }
    // A declared library function: its bound entry through the external-call layer.
    if (entry->native_proc || entry->native_func) {
      save_registers(true);
      lower_mov(register_operand(0), immediate_operand(index));
      emit_runtime_call(kRoutineCallDeclared);
      restore_registers(true);
      return;
    }
  } else if (current_program) {
    if (InstructionNode* procedure = find_procedure(current_program, name.c_str())) {
      save_registers(true);
      lower_mov(register_operand(0), immediate_operand(static_cast<int32_t>(platform::address_of(current_program))));
      lower_mov(register_operand(1), immediate_operand(static_cast<int32_t>(platform::address_of(procedure))));
      emit_runtime_call(kRoutineCallProcedure);
      restore_registers(true);
      return;
    }
  }
  assembler_error("ZRK function or proc/func not found");
}

// jsr target ["(" arg {"," arg} ")"]
void lower_call_statement(const Branch& call) {
  if (!cursor) {
    assembler_error("Syntax error");
    return;
  }
  std::string target = upper(cursor->text);
  advance();
  int32_t count = 0;
  if (word_is("(")) {
    advance();
    while (cursor && !word_is(")")) {
      AsmOperand argument;
      if (!parse_operand(argument)) return;
      if (++count > kAssemblerMaxParameters) {
        assembler_error("Too many parameters");
        return;
      }
      lower_push(argument);
      if (word_is(",")) advance();
      else if (!word_is(")")) {
        assembler_error("Syntax error");
        return;
      }
    }
    if (!word_is(")")) {
      assembler_error("Syntax error");
      return;
    }
    advance();
  }
  lower_call(call.condition, target, call.listing, count);
}

void lower_statement() {
  AsmOperand destination, source;
  for (const Arith& arith : kAriths) {
    if (mnemonic == arith.mnemonic) {
      if (parse_two(destination, source)) lower_arith(arith.operation, destination, source);
      return;
    }
  }
  for (const Branch& jump : kJumps) {
    if (mnemonic == jump.mnemonic) {
      if (!cursor) {
        assembler_error("Syntax error");
        return;
      }
      std::string target = assembler.function_name + upper(cursor->text);
      advance();
      lower_jump(jump.condition, target, jump.listing);
      return;
    }
  }
  for (const Branch& call : kCalls) {
    if (mnemonic == call.mnemonic) {
      lower_call_statement(call);
      return;
    }
  }
  for (const Maths& maths : kMaths) {
    if (mnemonic == maths.mnemonic) {
      if (parse_two(destination, source)) lower_maths(maths.routine, destination, source, false);
      return;
    }
  }
  if (mnemonic == "mov" || mnemonic == "movb") {
    if (parse_two(destination, source)) lower_mov(destination, source);
  } else if (mnemonic == "div" || mnemonic == "rol" || mnemonic == "ror") {
    RuntimeRoutine routine = mnemonic == "div" ? kRoutineDivide : mnemonic == "rol" ? kRoutineShiftLeft : kRoutineShiftRight;
    if (parse_two(destination, source)) lower_runtime_operation(routine, destination, source);
  } else if (mnemonic == "toint") {
    if (parse_two(destination, source)) lower_maths(kRoutineToInt, destination, source, true);
  } else if (mnemonic == "neg") {
    if (parse_operand(destination)) lower_neg(destination);
  } else if (mnemonic == "push") {
    if (parse_operand(source)) lower_push(source);
  } else if (mnemonic == "pop") {
    if (parse_operand(destination)) lower_pop(destination);
  } else if (mnemonic == "popf") {
    if (parse_operand(destination)) lower_pop_double(destination);
  } else if (mnemonic == "pushad") {
    save_registers(true);
  } else if (mnemonic == "popad") {
    restore_registers(true);
  } else if (mnemonic == "zrkpush") {
    if (!parse_operand(source)) return;
    save_registers(true);
    lower_mov(register_operand(0), source);
    emit_runtime_call(kRoutinePushUint);
    restore_registers(true);
  } else if (mnemonic == "zrkpushdbl") {
    AsmOperand high;
    if (!parse_two(source, high)) return;
    save_registers(true);
    // Through the stack: either word may be read through r0, r1 or the scratch registers.
    lower_push(high);
    lower_push(source);
    emit_word(0xE8BD0003, "ldmia;sp!, {r0, r1}");
    emit_runtime_call(kRoutinePushDouble);
    restore_registers(true);
  } else if (mnemonic == "zrkpushstr") {
    if (!parse_operand(source)) return;
    uint32_t at_handler = builtin_handler_address("@");
    save_registers(true);
    lower_mov(register_operand(0), source);
    emit_runtime_call(kRoutinePushUint);
    if (at_handler) emit_runtime_call_address(at_handler, "@");
    restore_registers(true);
  } else if (mnemonic == "zrkpull") {
    save_registers(false);
    emit_runtime_call(kRoutinePullPointer);
    restore_registers(false);
  } else if (mnemonic == "savesp") {
    // The mark alone: the built-in "__savesp" would also run the inner handler of the
    // instruction that is running the block.
    save_registers(true);
    emit_runtime_call(kRoutineSaveMark);
    restore_registers(true);
  } else if (mnemonic == "zrk") {
    lower_zrk();
  } else if (mnemonic == "debug") {
    if (!parse_operand(source)) return;
    bool text = assembler.statement && assembler.statement->next && assembler.statement->next->text[0] == '"';
    if (text) source.value = static_cast<int32_t>(platform::address_of(interpolated_block_text(source.value)));
    save_registers(true);
    lower_mov(register_operand(0), source);
    emit_runtime_call(text ? kRoutineLogText : kRoutineLogNumber);
    restore_registers(true);
  } else if (mnemonic == "setpixel") {
    AsmOperand y, colour;
    if (!parse_two(source, y)) return;
    if (!word_is(",")) {
      assembler_error("Comma missing");
      return;
    }
    advance();
    if (!parse_operand(colour)) return;
    save_registers(true);
    lower_mov(register_operand(kR10), colour);
    lower_push(register_operand(kR10));
    lower_mov(register_operand(kR10), y);
    lower_push(register_operand(kR10));
    lower_mov(register_operand(0), source);
    emit_word(0xE8BD0006, "ldmia;sp!, {r1, r2}");
    emit_runtime_call(kRoutineSetPixel);
    restore_registers(true);
  } else if (mnemonic == "getpixel") {
    if (!parse_two(source, destination)) return;
    // y waits on the stack: loading x may take the scratch registers.
    lower_push(destination);
    lower_mov(register_operand(0), source);
    emit_word(0xE8BD0002, "ldmia;sp!, {r1}");
    emit_runtime_call(kRoutineGetPixel);
  } else if (mnemonic == "beginscene") {
    emit_runtime_call(kRoutineBeginScene);
  } else if (mnemonic == "update") {
    emit_runtime_call(kRoutineUpdate);
  } else {
    assembler_error("Unknown operand error");
  }
}

void open_function(const std::string& name) {
  if (assembler.in_function) {
    assembler_error("Cannot embbed two functions");
    report_compile_message(nullptr, "RET operator missing at end of function", assembler.statement, -1, false);
    finish_section_locals(assembler.function_section);
  }
  assembler.function_section = Section();
  if (assembler_listing_enabled) {
    listing_line("");
    listing_line(("!" + name).c_str());
  }
  add_label(name, assembler.position);
  register_symbol(name, static_cast<int32_t>(platform::address_of(assembler.position)));
  assembler.function_name = name;
  assembler.in_function = true;
  assembler.any_section = true;
  assembler.statement_failed = false;
  emit_prologue_function();
  if (!word_is("(")) return;
  advance();
  std::vector<std::string> names;
  while (cursor && !word_is(")")) {
    if (word_is(",")) {
      advance();
      continue;
    }
    const char* text = cursor->text;
    if (!(std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_')) {
      assembler_error("Syntax error");
      return;
    }
    names.push_back(upper(text));
    advance();
  }
  if (!word_is(")")) {
    assembler_error("Syntax error");
    return;
  }
  advance();
  if (static_cast<int32_t>(names.size()) > kAssemblerMaxParameters) {
    assembler_error("Too many parameters");
    return;
  }
  int32_t count = static_cast<int32_t>(names.size());
  for (int32_t index = 0; index < count; ++index) {
    assembler.function_section.locals.push_back({names[index], 8 + 4 * (count - 1 - index)});
  }
  assembler.function_section.parameter_count = count;
}

void read_label(const std::string& name) {
  if (assembler_listing_enabled) {
    listing_line("");
    listing_line((":" + name).c_str());
  }
  assembler.any_section = true;
  if (name == "MAIN") {
    if (assembler.in_function) {
      report_compile_message(nullptr, "RET operator missing at end of function", assembler.statement, -1, false);
      finish_section_locals(assembler.function_section);
      assembler.in_function = false;
    }
    assembler.function_name.clear();
    assembler.main_seen = true;
    assembler.main_address = assembler.position;
    assembler.top_section.has_instruction = false;
    add_label(name, assembler.position);
    return;
  }
  std::string full = assembler.function_name + name;
  add_label(full, assembler.position);
  register_symbol(name, static_cast<int32_t>(platform::address_of(assembler.position)));
}

void read_var() {
  if (!assembler.any_section) {
    assembler_error("Local variable declaration must be inside a label or a function");
    return;
  }
  Section& section = current_section();
  if (section.has_instruction) {
    assembler_error("Invalid VAR operator location");
    return;
  }
  while (cursor) {
    const char* text = cursor->text;
    if (!(std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_') || register_of_name(text) >= 0) {
      assembler_error("Syntax error");
      return;
    }
    if (section.local_count >= kAssemblerMaxLocals) {
      assembler_error("Too many local variables");
      return;
    }
    if (!section.placeholder) emit_locals_placeholder(section);
    int32_t k = ++section.local_count;
    section.locals.push_back({upper(text), -4 * k});
    advance();
    lower_mov(local_operand(section.locals.back()), immediate_operand(0));
    if (!word_is(",")) break;
    advance();
  }
}

// After an error the rest of the statement's line is skipped.
void skip_rest_of_line(uint32_t line) {
  while (cursor && cursor->line == line && cursor->text[0] != ':' && cursor->text[0] != '!') advance();
}

}  // namespace

Section& current_section() { return assembler.in_function ? assembler.function_section : assembler.top_section; }

void read_assembler_source(CodeListNode* first) {
  cursor = first;
  assembler.function_name.clear();
  assembler.in_function = false;
  assembler.any_section = false;
  assembler.main_seen = false;
  assembler.main_address = nullptr;
  assembler.main_entered = false;
  assembler.function_section = Section();
  assembler.top_section = Section();
  while (cursor) {
    CodeListNode* word = cursor;
    assembler.statement = word;
    assembler.statement_failed = false;
    assembler.byte_access = assembler.halfword_access = 0;
    const char* text = word->text;
    advance();
    if (text[0] == ':') {
      read_label(upper(text + 1));
    } else if (text[0] == '!') {
      open_function(upper(text + 1));
    } else if (upper(text) == "VAR") {
      read_var();
    } else if (lower(text) == "ret") {
      if (!assembler.in_function) {
        assembler_error("Misplaced RET operator");
      } else {
        emit_missing_section_entry();
        finish_section_locals(assembler.function_section);
        emit_epilogue_function();
        assembler.in_function = false;
        assembler.function_section = Section();
      }
    } else {
      mnemonic = lower(text);
      current_section().has_instruction = true;
      uint32_t line = word->line + static_cast<uint32_t>(assembler_source_line);
      emit_debugger_statement_entry(line);
      lower_statement();
      emit_profiler_statement_exit(line);
    }
    if (assembler.statement_failed) skip_rest_of_line(word->line);
  }
  assembler.byte_access = assembler.halfword_access = 0;
}

void finish_assembler_source() {
  if (assembler.in_function) {
    report_compile_message(nullptr, "RET operator missing at end of function", nullptr, -1, false);
    finish_section_locals(assembler.function_section);
  }
  assembler.in_function = false;
  assembler.function_section = Section();
  assembler.top_section = Section();
  cursor = nullptr;
}
