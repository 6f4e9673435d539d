// The code generation pass: one walk over the linked postfix words, each turned into the
// instruction nodes it stands for, then the closing checks, call resolution and optimiser.
#include "compiler/codegen/code_generator.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "compiler/codegen/codegen_state.h"
#include "compiler/codegen/optimiser.h"
#include "compiler/driver/compile_and_run.h"
#include "compiler/frontend/token_reader.h"
#include "compiler/linker.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/hashes.h"
#include "foundation/program_context.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_registry.h"
#include "vm/opcode_handler_table.h"
#include "vm/instruction_list.h"
#include "vm/machine.h"

InstructionNode* main_entry = nullptr;
uint8_t optimize = 1;

namespace codegen {

void op_data_node() {}

InstructionExtension* ensure_extension(InstructionNode* node) {
  if (!node->extension) {
    node->extension = static_cast<InstructionExtension*>(pool_alloc(emit_pool, 0, sizeof(InstructionExtension)));
  }
  return node->extension;
}

void mark_jump_target(InstructionNode* node) {
  if (!node) return;
  if (InstructionExtension* extension = ensure_extension(node)) extension->is_jump_target = 1;
}

void set_link(InstructionNode* node, InstructionNode* target) {
  if (!node) return;
  if (InstructionExtension* extension = ensure_extension(node)) extension->link = target;
  mark_jump_target(target);
}

InstructionNode* emit(GeneratorState& state, BuiltinHandler handler, uint32_t opcode, const char* text,
                      double operand, InstructionNode* link) {
  InstructionNode* before = state.tail;
  const uint32_t scope_key = emit_scope_key;
  emit_scope_key = state.namespace_hash;
  emit_instruction_node(&state.tail, handler, text, operand, link, opcode, nullptr, 0, 0);
  emit_scope_key = scope_key;
  return state.tail != before ? state.tail : nullptr;
}

InstructionNode* emit_op(GeneratorState& state, uint32_t opcode, const char* text, double operand,
                         InstructionNode* link) {
  return emit(state, OpcodeHandlerTable[opcode], opcode, text, operand, link);
}

void report(GeneratorState& state, const char* format, ...) {
  char message[1400];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);
  report_compile_message(state.file_name, message, state.word, -1, false);
}

bool stop_on_full_table(GeneratorState& state) {
  if (!state.stopped) report(state, "Blocks nested too deeply");
  state.stopped = true;
  return false;
}

BuiltinHandler builtin_handler_named(const char* name) {
  BuiltinEntry* entry = builtin_entry(find_builtin_by_hash(hash_name_text(name)));
  return entry ? entry->handler : nullptr;
}

namespace {

// The hashes of the words the walk itself recognises.
struct WordHashes {
  uint32_t var_addr = hash_name_text("__VARADDR");
  uint32_t return_word = hash_name_text("RETURN");
  uint32_t end_decl = hash_name_text("__ENDDECL");
  uint32_t end_decl2 = hash_name_text("__ENDDECL2");
  uint32_t namespace_word = hash_name_text("#NAMESPACE");
  uint32_t end_namespace = hash_name_text("#ENDNAMESPACE");
  uint32_t double_colon = hash_name_text("::");
  uint32_t declare = hash_name_text("#DECLARE");
  uint32_t declare_api = hash_name_text("#DECLAREAPI");
  uint32_t c_declare = hash_name_text("#C_DECLARE");
  uint32_t c_declare_api = hash_name_text("#C_DECLAREAPI");
  uint32_t range_check = hash_name_text("#RANGECHECK");
  uint32_t explicit_word = hash_name_text("#EXPLICIT");
  uint32_t class_word = hash_name_text("#CLASS");
  uint32_t noop = hash_name_text("__NOOP");
  uint32_t first_op = hash_name_text("FIRST_OP");
  uint32_t line_marker = hash_name_text("__DEBUG");
  uint32_t global = hash_name_text("GLOBAL");
  uint32_t local = hash_name_text("LOCAL");
  uint32_t force_global = hash_name_text("FORCEGLOBAL");
  uint32_t public_word = hash_name_text("PUBLIC");
  uint32_t private_word = hash_name_text("PRIVATE");
  uint32_t assign = hash_name_text("=");
  uint32_t increment = hash_name_text("++");
  uint32_t decrement = hash_name_text("--");
  uint32_t increment2 = hash_name_text("++2");
  uint32_t decrement2 = hash_name_text("--2");
  uint32_t offset = hash_name_text("__OFFSET");
  uint32_t offset1 = hash_name_text("__OFFSET1");
  uint32_t drop_fct_stack = hash_name_text("__DROPFCTSTACK");
  uint32_t drop_all_fct_stack = hash_name_text("__DROPALLFCTSTACK");
};

const WordHashes& hashes() {
  static const WordHashes table;
  return table;
}

// Compound assignments on a marked target and the fused node each becomes.
struct TargetOperator {
  const char* word;
  uint32_t opcode;
};
constexpr TargetOperator kTargetOperators[] = {
    {"+=", kAddAssign2}, {"-=", kSubAssign2}, {"*=", kMulAssign2}, {"|=", kOrAssign2}, {"&=", kAndAssign2},
    {"^=", kXorAssign2}, {"++", kIncrement2}, {"--", kDecrement2}, {"++2", kIncrement4}, {"--2", kDecrement4},
    {"__OFFSET", kOffset2}, {"__OFFSET1", kOffset2_1},
};

const char* file_part(const char* name) {
  if (!name) return "";
  const char* part = name;
  for (const char* c = name; *c; ++c) {
    if (*c == '/' || *c == '\\') part = c + 1;
  }
  return part;
}

void upper_case_in_place(char* text) {
  for (char* c = text; *c; ++c) {
    if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
  }
}

bool is_variable_word(const char* text) {
  size_t length = std::strlen(text);
  if (length == 0 || std::strcmp(text, "%") == 0) return false;
  return text[length - 1] == '$' || text[length - 1] == '%';
}

bool is_address_word(const char* text) {
  return text[0] == '&' && std::strcmp(text, "&") != 0 && std::strcmp(text, "&=") != 0;
}

bool may_start_name(char first) {
  if ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z')) return true;
  return first != 0 && std::strchr("+-/*@^&|~_:%!=<>", first) != nullptr;
}

void restore_namespace_after_name(GeneratorState& state) {
  if (!state.namespace_restore_pending) return;
  state.namespace_restore_pending = false;
  state.namespace_hash = state.namespace_saved;
}

void emit_variable(GeneratorState& state, const char* text) {
  const auto marker = static_cast<uint8_t>(text[0]);
  const bool assignment = marker == 0xFB;
  const bool operation = marker == 0xF9;
  std::string name(assignment || operation ? text + 1 : text);
  if (name.size() > 1023) name.resize(1023);
  if (state.parameter_mode) {
    emit_op(state, kParmsPushVar, name.c_str());
  } else if (assignment) {
    state.assignment_target = emit_op(state, kNgPushVar, name.c_str());
  } else {
    InstructionNode* node = emit_op(state, kPushVar, name.c_str());
    if (operation) state.operation_target = node;
  }
  restore_namespace_after_name(state);
}

// Replaces a marked target node by the fused node of opcode naming the same variable, in
// the target's namespace.
void fuse_with_target(GeneratorState& state, InstructionNode** target, uint32_t opcode) {
  std::string name = (*target)->text ? (*target)->text : "";
  const uint32_t scope = (*target)->extension ? (*target)->extension->scope_key : 0;
  free_instruction_node(emit_pool, &state.tail, *target, 1);
  *target = nullptr;
  const uint32_t current = state.namespace_hash;
  state.namespace_hash = scope;
  emit_op(state, opcode, name.c_str());
  state.namespace_hash = current;
}

// Reserved words, directives and built-ins, by the registry.
void handle_registered_word(GeneratorState& state, CodeListNode* word) {
  const WordHashes& h = hashes();
  const uint32_t hash = word->hash;
  const int32_t index = find_builtin_by_hash(hash);
  BuiltinEntry* entry = builtin_entry(index);
  if (!entry) {
    if (hash != h.first_op) report(state, "Syntax error");
    return;
  }
  if (entry->library && !entry->handler) {
    handle_external_call(state, index);
    return;
  }
  if (hash == h.global || hash == h.local || hash == h.force_global || hash == h.public_word ||
      hash == h.private_word) {
    state.assignment_target = nullptr;
  } else if (hash == h.assign && state.assignment_target) {
    fuse_with_target(state, &state.assignment_target, kAssign2);
    return;
  } else if (state.operation_target) {
    for (const TargetOperator& fused : kTargetOperators) {
      if (hash != hash_name_text(fused.word)) continue;
      fuse_with_target(state, &state.operation_target, fused.opcode);
      return;
    }
  }
  if (hash == h.drop_fct_stack || hash == h.drop_all_fct_stack) {
    if (InstructionNode* last = state.tail) {
      last->opcode = hash == h.drop_fct_stack ? kDropFctStack : kDropAllFctStack;
      last->handler = OpcodeHandlerTable[last->opcode];
    }
    return;
  }
  if (!entry->handler) {
    // A keyword out of place: a node without a handler would stop the machine.
    report(state, "Syntax error");
    return;
  }
  if (hash == h.line_marker) {
    // The marker carries its place (file, line, column): the debugger stops there and a
    // run-time error after it names it.
    if (InstructionNode* marker = emit(state, entry->handler, kInternalCall, word->file_name, word->line)) {
      marker->work = word->column;
    }
    return;
  }
  emit(state, entry->handler, kInternalCall);
}

void handle_class_directive(GeneratorState& state, CodeListNode* word) {
  CodeListNode* base = word->next;
  CodeListNode* name = base ? base->next : nullptr;
  if (!name) {
    report(state, "Syntax error");
    return;
  }
  upper_case_in_place(base->text);
  upper_case_in_place(name->text);
  if (state.program) {
    if (NameNode* record = name_node_push(&state.program->classes)) {
      record->name = crt::_strdup(name->text);
      record->hash = hash_name_text(name->text);
      record->parent_name = base->text[0] ? crt::_strdup(base->text) : nullptr;
    }
  }
  emit(state, op_data_node, kClassData, base->text);
  emit(state, op_data_node, 0, name->text);
  code_list_remove(base);
  code_list_remove(name);
}

// Consumes the word after a namespace word; its hash, or false when there is none.
bool take_next_word_hash(CodeListNode* word, uint32_t* hash) {
  CodeListNode* next = word->next;
  if (!next) return false;
  upper_case_in_place(next->text);
  *hash = hash_name_text(next->text);
  code_list_remove(next);
  return true;
}

void handle_word(GeneratorState& state, CodeListNode* word) {
  const WordHashes& h = hashes();
  char* text = word->text;
  if (text[0] != '"') {
    upper_case_in_place(text);
    word->hash = hash_name_text(text);
  }
  const uint32_t hash = word->hash;
  const auto first = static_cast<uint8_t>(text[0]);

  if (first >= '0' && first <= '9') {
    emit_op(state, kPushInt, nullptr, text_to_number(text));
  } else if (first == '"') {
    size_t length = std::strlen(text);
    std::string literal = length >= 2 ? std::string(text + 1, length - 2) : std::string();
    emit_op(state, kPushStr, literal.c_str());
  } else if (is_variable_word(text)) {
    emit_variable(state, text);
  } else if (handle_block_word(state, word)) {
  } else if (is_address_word(text)) {
    handle_procedure_address(state, word);
  } else if (hash == h.var_addr) {
    state.assignment_target = nullptr;
    emit(state, builtin_handler_named("ADDR"), kAddr);
  } else if (hash == h.return_word) {
    if (state.current_procedure) emit_op(state, kReturn, state.current_procedure->text);
  } else if (handle_procedure_word(state, word)) {
  } else if (hash == h.end_decl || hash == h.end_decl2) {
    state.parameter_mode = false;
    if (hash == h.end_decl2) emit_op(state, kNParms);
  } else if (hash == h.namespace_word) {
    uint32_t next;
    if (!take_next_word_hash(word, &next)) return;
    if (state.namespace_depth >= kNamespaceDepth) {
      stop_on_full_table(state);
      return;
    }
    state.namespace_stack[state.namespace_depth++] = state.namespace_hash;
    state.namespace_hash = next;
  } else if (hash == h.end_namespace) {
    state.namespace_hash = state.namespace_depth > 0 ? state.namespace_stack[--state.namespace_depth] : 0;
  } else if (hash == h.double_colon) {
    uint32_t next;
    if (!take_next_word_hash(word, &next)) return;
    if (!state.namespace_restore_pending) state.namespace_saved = state.namespace_hash;
    state.namespace_restore_pending = true;
    state.namespace_hash = next;
  } else if (hash == h.declare || hash == h.declare_api || hash == h.c_declare || hash == h.c_declare_api) {
    const uint32_t opcode = hash == h.declare ? 177 : hash == h.declare_api ? 178 : hash == h.c_declare ? 179 : 180;
    const uint8_t wide = (hash == h.declare_api || hash == h.c_declare_api) ? 1 : 0;
    const uint8_t declare_form = (hash == h.declare || hash == h.declare_api) ? 1 : 0;
    handle_declaration(state, word, opcode, wide, declare_form);
  } else if (hash == h.range_check) {
    if (state.program) state.program->range_check = 1;
    emit_op(state, kRangeMode);
  } else if (hash == h.explicit_word) {
    if (state.program) state.program->explicit_declarations = 1;
    emit_op(state, kExplicitMode);
  } else if (hash == h.class_word) {
    handle_class_directive(state, word);
  } else if (first == '.') {
    emit(state, builtin_handler_named("RUNFILE"), kRunFile, text + 1);
  } else if (hash == h.noop) {
  } else if (!may_start_name(static_cast<char>(first))) {
    report(state, "Syntax error");
  } else {
    handle_registered_word(state, word);
  }
}

void free_open_block_texts(GeneratorState& state) {
  for (int32_t index = 0; index < state.block_count; ++index) {
    crt::free(state.blocks[index].text);
    state.blocks[index].text = nullptr;
  }
  state.block_count = 0;
}

}  // namespace
}  // namespace codegen

InstructionNode* generate_code(const char* file_name, ProgramContext* program, CodeListNode* last_word,
                               ProcedureRecord** procedures, int32_t* procedure_count, uint8_t* winmain_flag) {
  using namespace codegen;
  auto state = std::make_unique<GeneratorState>();
  state->file_name = file_name;
  state->program = program;
  state->procedures = procedures;
  state->procedure_count = procedure_count;
  state->winmain_flag = winmain_flag;
  main_entry = nullptr;
  if (winmain_flag) *winmain_flag = 0;
  if (program) {
    if (!program->pool) program->pool = pool_create(64 * 1024);
    emit_pool = program->pool;
  }
  const uint8_t linking_before = link_declarations_now;
  link_declarations_now = 1;

  emit(*state, OpcodeHandlerTable[kStartProc], 0, file_name);

  CodeListNode* word = code_list_first(last_word);
  for (CodeListNode* scan = word; scan; scan = scan->next) {
    const auto kind = scan->text ? static_cast<uint8_t>(scan->text[0]) : 0;
    if ((kind == 0xE9 || kind == 0xEC || kind == 0xEA || kind == 0xC4) && std::strlen(scan->text) >= 4) {
      std::string name(scan->text + 4);
      for (char& c : name) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      }
      state->head_names.insert(name);
      if (kind == 0xEA || kind == 0xC4) {
        if (std::string key = variadic_call_key(name.c_str()); !key.empty()) state->variadic_heads.emplace(key, name);
      }
    }
  }
  const int32_t word_count = code_list_position(last_word);
  const std::string status = std::string("Compiling (") + file_part(file_name) + ")...";
  const bool show_status = image_run_size == 0 && status_window_update != nullptr;
  // The text is shown once; each word only advances the bar, which repaints just when
  // it grows a step (a text repaints the whole window).
  if (show_status) status_window_update(status.c_str(), 0, word_count);
  for (int32_t position = 1; word; ++position) {
    if (show_status) status_window_update(nullptr, position, word_count);
    state->word = word;
    if (!state->stopped && word->text) handle_word(*state, word);
    word = code_list_remove(word);
  }
  state->word = nullptr;

  emit_op(*state, kEndProc, file_name);
  if (state->stopped) {
    free_open_block_texts(*state);
  } else {
    close_open_blocks(*state);
  }
  resolve_calls(*state);
  if (optimize) optimize_instruction_list(&state->tail);
  link_declarations_now = linking_before;
  return state->tail;
}
