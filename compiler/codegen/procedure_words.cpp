// Procedure heads and forward declarations with their procedure records, script, method
// and object calls, procedure addresses, library declarations and calls, and the closing
// resolution of call targets and the main entry.
#include <cstdlib>
#include <cstring>
#include <string>

#include "compiler/codegen/code_generator.h"
#include "compiler/codegen/codegen_state.h"
#include "compiler/frontend/token_reader.h"
#include "compiler/linker.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/hashes.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_registry.h"
#include "vm/opcode_handler_table.h"
#include "vm/instruction_list.h"
#include "vm/method_call.h"

namespace codegen {
namespace {

constexpr int32_t kMostDeclaredParameters = 16;

bool is_head_kind(uint8_t kind) { return kind == 0xE9 || kind == 0xEC || kind == 0xEA || kind == 0xC4; }
bool is_forward_kind(uint8_t kind) { return kind == 0xE8 || kind == 0xE7 || kind == 0xEB || kind == 0xEF; }
bool returns_value(uint8_t kind) { return kind == 0xEA || kind == 0xC4 || kind == 0xEB || kind == 0xEF; }
bool carries_count(uint8_t kind) { return kind == 0xEC || kind == 0xC4 || kind == 0xE7 || kind == 0xEF; }

double address_number(const InstructionNode* node) { return node ? platform::address_of(node) : 0; }

// A new record from a procedure word's header; null after a compile error when the table
// is full.
ProcedureRecord* append_record(GeneratorState& state, const char* text) {
  if (!state.procedures || !state.procedure_count) return nullptr;
  if (*state.procedure_count >= kLinkProcedureSlots) {
    report(state, "Too many procedures");
    return nullptr;
  }
  auto* record = static_cast<ProcedureRecord*>(crt::calloc(1, sizeof(ProcedureRecord)));
  if (!record) return nullptr;
  const auto kind = static_cast<uint8_t>(text[0]);
  record->underscore = text[1] == '_' ? 1 : 0;
  record->namespace_hash = state.namespace_hash;
  record->returns_value = returns_value(kind) ? 1 : 0;
  if (carries_count(kind)) record->parameter_count = static_cast<uint8_t>(text[2] - 0x20);
  record->name = crt::_strdup(text + 4);
  state.procedures[(*state.procedure_count)++] = record;
  return record;
}

void handle_head(GeneratorState& state, const char* text) {
  state.parameter_mode = true;
  if (state.block_count >= kBlockSlots) {
    stop_on_full_table(state);
    return;
  }
  BlockEntry& entry = state.blocks[state.block_count++];
  entry = BlockEntry{crt::_strdup(text), hash_name_text(text), '1', state.word ? state.word->file_name : nullptr,
                     state.word ? state.word->line : 0, state.word ? state.word->column : uint16_t{0}, -1};

  // A head defines a procedure of this program, whatever other programs hold.
  const int32_t found = find_procedure_record(state, text + 4, false);
  InstructionNode* head = emit_op(state, kStartProc, text);
  if (!head) return;
  ProcedureRecord* record = found >= 0 ? state.procedures[found] : nullptr;
  if (!record) {
    record = append_record(state, text);
    if (record && record->returns_value) head->opcode = kStartProcUndef;
  }
  if (record) {
    record->start = head;
    head->operand = record->parameter_count;
    head->work = record->returns_value;
    mark_jump_target(head);
    if (record->underscore) {
      if (InstructionExtension* extension = ensure_extension(head)) extension->method_flag = 1;
    }
  }
  state.current_procedure = head;

  const char* name = text + 4;
  const uint8_t count = record ? record->parameter_count : 0;
  if (std::strcmp(name, "MAIN") == 0 && count == 0) {
    main_entry = head;
  } else if (std::strcmp(name, "WINMAIN") == 0 && count != 0) {
    main_entry = head;
    if (state.winmain_flag) *state.winmain_flag = 1;
  }
}

// The node of the nearest "__class2" or "__class3" call, searching back from the last node.
InstructionNode* find_class_node(GeneratorState& state) {
  BuiltinHandler class2 = builtin_handler_named("__CLASS2");
  BuiltinHandler class3 = builtin_handler_named("__CLASS3");
  for (InstructionNode* node = state.tail; node; node = node->previous) {
    if (node->handler && (node->handler == class2 || node->handler == class3)) return node;
  }
  return nullptr;
}

void handle_object_call(GeneratorState& state, const char* text) {
  const char* dot = std::strchr(text, '.');
  if (!dot) {
    report(state, "Invalid object call");
    return;
  }
  std::string object(text, dot);
  std::string method(dot + 1);
  if (object == "STACK") {
    InstructionNode* class_node = find_class_node(state);
    if (!class_node) {
      report(state, "Invalid object call");
      return;
    }
    class_node->opcode = kClass4;
    class_node->handler = OpcodeHandlerTable[kClass4];
    object = "__STACKTEMPOBJECT$";
  }
  uint32_t argument_count = 0;
  const size_t semicolon = method.find(';');
  if (semicolon != std::string::npos) {
    argument_count = static_cast<uint32_t>(std::atoi(method.c_str() + semicolon + 1));
    method.resize(semicolon);
  }
  emit_op(state, kNgPushVar, object.c_str());
  if (InstructionNode* run = emit_op(state, kObjRun, method.c_str())) run->work = argument_count;
}

bool defined_later(const GeneratorState& state, const char* name) { return state.head_names.count(name) != 0; }

// The record a call names; an NPROC or NFUNC answers to any input count.
int32_t find_called_record(GeneratorState& state, const char* name) {
  const int32_t found = find_procedure_record(state, name, true);
  if (found != -1) return found;
  const int32_t count = state.procedure_count ? *state.procedure_count : 0;
  for (int32_t index = count - 1; index >= 0; --index) {
    if (procedure_reference_matches(state.procedures[index], name)) return index;
  }
  return -1;
}

void handle_call(GeneratorState& state, uint8_t kind, const char* name) {
  const int32_t found = find_called_record(state, name);
  if (found == -1) {
    // An NPROC or NFUNC defined further on: the call names its head.
    auto head = state.variadic_heads.find(variadic_call_key(name));
    if (head != state.variadic_heads.end()) name = head->second.c_str();
  }
  if (kind == 0xE0) {
    if (found >= 0) {
      emit_op(state, kCall, state.procedures[found]->name);
    } else if (found == -1 && defined_later(state, name)) {
      emit_op(state, kCall, name);
    } else if (found < -1) {
      // A procedure of another loaded program: its head is the target.
      emit_op(state, kCall, name, 0, foreign_procedure_start(found));
    }
    // The linker has reported a name nothing knows.
    if (state.namespace_restore_pending) {
      state.namespace_restore_pending = false;
      state.namespace_hash = state.namespace_saved;
    }
    return;
  }
  if (found < -1 || (found == -1 && !defined_later(state, name))) return;
  const char* target = found >= 0 ? state.procedures[found]->name : name;
  if (kind == 0xE2) {
    emit_op(state, kSelfCall, target);
  } else {
    emit(state, call_linked_method_on_self, kSelfCall, target);
  }
}

bool is_call_node(const InstructionNode* node) {
  return node->handler &&
         (node->handler == OpcodeHandlerTable[kCall] || node->handler == OpcodeHandlerTable[kSelfCall] ||
          node->handler == call_linked_method_on_self) &&
         (node->opcode == kCall || node->opcode == kSelfCall);
}

void report_unresolved(GeneratorState& state, const InstructionNode* node) {
  state.word = nullptr;
  report(state, "Cannot resolve [%s] address", node->text ? node->text : "");
}

}  // namespace

std::string variadic_call_key(const char* signature) {
  const char* open = std::strchr(signature, '(');
  const char* comma = open ? std::strchr(open, ',') : nullptr;
  if (!comma) return std::string();
  return std::string(signature, open) + comma;
}

int32_t find_procedure_record(GeneratorState& state, const char* name, bool other_programs) {
  const int32_t count = state.procedure_count ? *state.procedure_count : 0;
  for (int32_t index = count - 1; index >= 0; --index) {
    const ProcedureRecord* record = state.procedures[index];
    if (record && record->name && std::strcmp(record->name, name) == 0) return index;
  }
  if (!other_programs) return -1;
  for (ProgramContext* context = program_list; context; context = context->next) {
    if (context == state.program) continue;
    if (InstructionNode* start = find_procedure(context, name)) return foreign_procedure_index(start);
  }
  return -1;
}

bool handle_procedure_word(GeneratorState& state, CodeListNode* word) {
  const char* text = word->text;
  const auto kind = static_cast<uint8_t>(text[0]);
  if (is_head_kind(kind) || is_forward_kind(kind)) {
    if (std::strlen(text) < 4) {
      report(state, "Syntax error");
      return true;
    }
    if (is_head_kind(kind)) {
      handle_head(state, text);
    } else {
      emit(state, op_data_node, kForwardProc, text);
      append_record(state, text);
    }
    return true;
  }
  if (kind == 0xE0 || kind == 0xE2 || kind == 0xE4) {
    handle_call(state, kind, text + 1);
    return true;
  }
  if (kind == 0xE5) {
    handle_object_call(state, text + 1);
    return true;
  }
  return false;
}

void handle_procedure_address(GeneratorState& state, CodeListNode* word) {
  const char* name = word->text + 1;
  const int32_t found = find_procedure_record(state, name, true);
  if (found >= 0) {
    const ProcedureRecord* record = state.procedures[found];
    emit_op(state, kPushProcAddr, name, address_number(record->start));
  } else if (found < -1) {
    emit_op(state, kPushProcAddr, name, address_number(foreign_procedure_start(found)));
  } else if (defined_later(state, name)) {
    emit_op(state, kPushProcAddr, name);
  } else {
    report(state, "Proc or Func \"%s\" not found", word->text);
  }
  if (state.namespace_restore_pending) {
    state.namespace_restore_pending = false;
    state.namespace_hash = state.namespace_saved;
  }
}

void handle_declaration(GeneratorState& state, CodeListNode* word, uint32_t directive_opcode, uint8_t wide_api,
                        uint8_t declare_form) {
  CodeListNode* parts[5];
  CodeListNode* cursor = word;
  for (CodeListNode*& part : parts) {
    cursor = cursor ? cursor->next : nullptr;
    if (!cursor) {
      report(state, "Syntax error");
      return;
    }
    part = cursor;
  }
  const char* script_name = parts[0]->text;
  const double parameter_count = text_to_number(parts[3]->text);
  const int32_t returns = truncate_to_int(text_to_number(parts[4]->text));
  if (parameter_count < 0 || parameter_count > kMostDeclaredParameters) {
    report(state, "Declared function \"%s\" has more than %d parameters", script_name, kMostDeclaredParameters);
  } else {
    emit(state, op_data_node, directive_opcode, script_name);
    emit(state, op_data_node, 0, parts[1]->text);
    emit(state, op_data_node, 0, parts[2]->text);
    emit(state, op_data_node, 0, nullptr, parameter_count);
    emit(state, op_data_node, 0, nullptr, returns);
    emit(state, op_data_node, 0, nullptr, wide_api);
    emit(state, op_data_node, 0, nullptr, declare_form);
    external_function_declare(script_name, parts[1]->text, parts[2]->text, static_cast<uint8_t>(parameter_count),
                              static_cast<uint8_t>(returns), wide_api, declare_form);
  }
  for (CodeListNode* part : parts) code_list_remove(part);
}

void handle_external_call(GeneratorState& state, int32_t index) {
  BuiltinEntry* entry = builtin_entry(index);
  if (!entry) return;
  if (entry->param_count > kMostDeclaredParameters) {
    report(state, "Declared function \"%s\" has more than %d parameters", entry->name, kMostDeclaredParameters);
    return;
  }
  const bool function = entry->returns_value == 1;
  uint32_t opcode;
  if (entry->declare_form) {
    opcode = (function ? 126 : 109) + entry->param_count;
  } else {
    opcode = (function ? 160 : 143) + entry->param_count;
  }
  if (!(function ? entry->native_func : entry->native_proc)) external_function_link(index);
  emit_op(state, opcode, nullptr, index);
}

void resolve_calls(GeneratorState& state) {
  state.word = nullptr;
  InstructionNode* first = instruction_list_first(state.tail);
  const int32_t count = state.procedure_count ? *state.procedure_count : 0;
  if (!main_entry && count == 0) main_entry = first;
  for (InstructionNode* node = first; node; node = node->next) {
    const bool call = is_call_node(node) && !(node->extension && node->extension->link);
    const bool address = node->opcode == kPushProcAddr && node->operand == 0;
    if (!call && !address) continue;
    const int32_t found = find_procedure_record(state, node->text ? node->text : "", true);
    InstructionNode* start = found >= 0 ? state.procedures[found]->start : nullptr;
    if (found == -1 || (found >= 0 && !start)) {
      // A name nothing defines, or a forward declaration without its procedure.
      report_unresolved(state, node);
    } else if (found >= 0) {
      if (call) {
        set_link(node, start);
      } else {
        node->operand = address_number(start);
      }
    }
  }
}

}  // namespace codegen
