// Statements and operands: keyword statements and blocks, built-in and procedure calls,
// assignments, declarations, namespaces and the single-word operand forms.
#include "compiler/frontend/statement_compiler.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "compiler/constants.h"
#include "compiler/frontend/statement_internal.h"
#include "compiler/frontend/token_reader.h"
#include "compiler/keywords.h"
#include "foundation/compile_messages.h"
#include "foundation/hashes.h"
#include "foundation/instruction_node.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_registry.h"

int32_t pending_outputs = 0;
uint8_t in_expression = 0;
uint8_t in_argument_list = 0;
uint8_t first_op_written = 0;
int32_t block_depth = 0;
char* current_signature = nullptr;
uint8_t declaration_mode = 0;
int32_t target_count = 1;
uint8_t class_header_open = 0;
uint8_t override_next = 0;
uint8_t debug_mode = 0;
uint8_t profile_mode = 0;
uint8_t warn_globals = 0;
uint8_t warn_dotted_names = 0;

std::vector<CodeListNode*> offset_pointers;
std::string last_variable_name;

namespace {

struct DeclaredName {
  uint32_t hash;
  int32_t depth;
};
std::vector<DeclaredName> declared_names;  // newest last

uint32_t namespace_stack[kNamespaceStackSize];
int32_t namespace_depth = 0;
// A class method defined outside its class body holds current_class until its END.
bool method_outside_class = false;

bool word_is(const CodeListNode* node, Keyword word) { return node != nullptr && is_keyword(node->hash, word); }

void forget_names_at(int32_t depth) {
  while (!declared_names.empty() && declared_names.back().depth == depth) declared_names.pop_back();
  for (size_t index = declared_names.size(); index-- > 0;) {
    if (declared_names[index].depth == depth) declared_names.erase(declared_names.begin() + index);
  }
}

bool is_number_word(const CodeListNode* node) {
  return node != nullptr && node->text[0] >= '0' && node->text[0] <= '9';
}

// Reads ":" and a number after a call; *count gets the number.
void read_result_count(char** source, char* kind, CodeListNode** input, int32_t* count) {
  if (*kind != 'C') return;
  if (!read_token(*source, kind, input)) return;
  if (*kind == 'V' && is_number_word(*input)) {
    *count = std::atoi((*input)->text);
    read_token(*source, kind, input);
  } else {
    compile_error(*source, "Numeric value expected", *input);
  }
}

// Splits "OBJ.METHOD" into its object and method; a leading "." leaves the object empty.
void split_dotted(const std::string& name, std::string* object, std::string* method) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) {
    object->clear();
    *method = name;
  } else {
    *object = name.substr(0, dot);
    *method = name.substr(dot + 1);
  }
}

// The variable that holds an object: the name as written when it is a variable already,
// else the name with "$".
std::string object_variable(const std::string& object) {
  if (!object.empty() && (object.back() == '$' || object.back() == '%')) return object;
  return object + "$";
}

// A dotted call name with its object part as the object's variable ("OBJ.M" -> "OBJ$.M").
std::string with_object_variable(const std::string& name) {
  const size_t dot = name.find('.');
  if (dot == std::string::npos || dot == 0) return name;
  return object_variable(name.substr(0, dot)) + name.substr(dot);
}

void compile_call(char** source, char* kind, CodeListNode** input, CodeListNode** output,
                  const std::string* called_name = nullptr);
void compile_variable_statement(char** source, char* kind, CodeListNode** input, CodeListNode** output);

// Keyword effects that come before the call form (blocks, loops, declarations).
void keyword_statement(char** source, CodeListNode* word, CodeListNode** output) {
  if (word_is(word, Keyword::End) || word_is(word, Keyword::Else)) forget_names_at(block_depth);
  if (word_is(word, Keyword::End) || word_is(word, Keyword::Until)) {
    --block_depth;
    if (word_is(word, Keyword::End) && block_depth <= 0) {
      block_depth = 0;
      crt::free(current_signature);
      current_signature = nullptr;
      if (method_outside_class) {
        current_class = nullptr;
        method_outside_class = false;
      }
    }
  }
  const char* loop_start = nullptr;
  if (word_is(word, Keyword::While)) loop_start = "__STARTWHILE";
  if (word_is(word, Keyword::Foreach) || word_is(word, Keyword::ForeachRev)) loop_start = "__STARTFOREACH";
  if (word_is(word, Keyword::For)) loop_start = "__STARTFOR";
  if (word_is(word, Keyword::Repeat)) loop_start = "__STARTREPEAT";
  if (loop_start != nullptr) {
    // The loop start goes before the line marker, so the marker runs on every pass.
    if (debug_mode && *output != nullptr && word_is(*output, Keyword::DebugMarker)) {
      CodeListNode* marker = *output;
      *output = marker->prev;
      code_list_remove(marker);
    }
    emit_word(output, loop_start, word);
    if (debug_mode) emit_word(output, "__DEBUG", word);
    if (!word_is(word, Keyword::While) && !word_is(word, Keyword::Repeat)) emit_word(output, "__SAVESP", word);
  }
  if (is_block_opening_word(word->hash)) ++block_depth;
  if (word_is(word, Keyword::Local) || word_is(word, Keyword::ForceGlobal) || word_is(word, Keyword::Global) ||
      word_is(word, Keyword::Public) || word_is(word, Keyword::Private)) {
    emit_word(output, "__NOEXPLICITCHECK", word);
    declaration_mode = 1;
  }
  if (word_is(word, Keyword::Struct)) declaration_mode = 2;
  if (declaration_mode == 1) {
    bool in_procedure = current_signature != nullptr;
    bool wrong = current_class == nullptr ? (in_procedure && block_depth != 1)
                                          : (in_procedure ? block_depth != 1 : block_depth != 0);
    if (wrong) compile_error(*source, "Can only declare variables at func/proc/class main code level!", word);
  }
}

// The procedure entry a call names, with the marker and text of its call word.
struct CallTarget {
  int32_t index = -1;
  uint8_t marker = kProcedureCallMarker;
  std::string prefix;  // object and "." for a call on another object
  bool private_outside = false;
  // A method of the class being compiled called on another object: the object's own class,
  // known only when the call runs, chooses the method.
  bool on_other_object = false;
};

CallTarget find_call_target(char** source, const std::string& name, int32_t arguments, int32_t expected,
                            const CodeListNode* word) {
  CallTarget target;
  int32_t a = in_expression ? expected : 0;
  int32_t b = in_expression ? 0 : expected;
  std::string object;
  std::string method;
  split_dotted(name, &object, &method);
  char signature[600];
  if (current_class != nullptr) {
    ClassRecord* searched = current_class;
    if (in_inherited) {
      if (current_class->parent_name == nullptr || current_class->parent_name[0] == 0) {
        compile_error(*source, std::string("No inheritance defined for class \"") + current_class->name + "\"", word);
        searched = nullptr;
      } else {
        searched = find_class_record(current_class->parent_hash);
      }
    }
    if (searched != nullptr && !name.empty() && name[0] != '.') {
      for (int32_t outputs : {a, 1}) {
        std::snprintf(signature, sizeof signature, "%s(%d,%d)", method.c_str(), arguments, outputs);
        ClassRecord* found_in = nullptr;
        int32_t index = find_method_index(searched, &found_in, signature, ProcedureTable, procedure_count, false,
                                          false);
        if (index < 0) continue;
        target.index = index;
        bool on_self = object.empty() || object == "SELF" || object == "SELF$";
        target.marker = in_inherited ? kInheritedCallMarker : on_self ? kSelfCallMarker : kObjectCallMarker;
        if (!on_self) target.prefix = object_variable(object) + ".";
        target.private_outside = !on_self && ProcedureTable[index]->private_;
        target.on_other_object = !on_self && !in_inherited;
        return target;
      }
    }
  }
  std::string base;
  if (!object.empty()) base = object_variable(object) + "." + method;
  else if (!name.empty() && name[0] == '.') base = "STACK" + name;
  else base = name;
  const int32_t tries[4][2] = {{1, a}, {0, b}, {0, a}, {0, b}};
  for (const auto& attempt : tries) {
    std::snprintf(signature, sizeof signature, "%s(%d,%d)", base.c_str(), arguments, attempt[1]);
    int32_t index = find_procedure_index(signature, ProcedureTable, procedure_count, attempt[0], false, false);
    if (index != -1) {
      target.index = index;
      return target;
    }
  }
  return target;
}

// Counts read from the numbers of a signature "NAME(in,out)".
void signature_counts(const char* signature, int32_t* inputs, int32_t* outputs) {
  const char* open = std::strchr(signature, '(');
  *inputs = 0;
  *outputs = 0;
  if (open == nullptr) return;
  *inputs = std::atoi(open + 1);
  if (const char* comma = std::strchr(open, ',')) *outputs = std::atoi(comma + 1);
}

// A call of the word at *input, or of called_name (an object's method) when given.
void compile_call(char** source, char* kind, CodeListNode** input, CodeListNode** output,
                  const std::string* called_name) {
  CodeListNode* word = *input;
  const int32_t builtin = called_name ? -1 : last_builtin_index;
  const bool inherited_call = in_inherited;
  if (*output == nullptr) emit_word(output, "__NOOP", word);
  CodeListNode* anchor = *output;
  const size_t pointers_before = offset_pointers.size();
  const int32_t saved_pending = pending_outputs;
  if (builtin >= 0) keyword_statement(source, word, output);

  int32_t arguments = 0;
  // The end of the list still ends the statement: only the error stop abandons it.
  if (!read_token(*source, kind, input) && compile_error_count >= kTokenReaderErrorStop) return;
  if (*kind == '(') {
    compile_argument_list(source, kind, input, output, &arguments);
  } else if (word_is(word, Keyword::While) || word_is(word, Keyword::Foreach) ||
             word_is(word, Keyword::ForeachRev) || word_is(word, Keyword::For) || word_is(word, Keyword::Until) ||
             word_is(word, Keyword::If)) {
    compile_error(*source, "Expression expected", word);
  }
  int32_t expected = in_expression ? 1 : target_count;
  read_result_count(source, kind, input, &expected);

  if (builtin >= 0) {
    BuiltinEntry* entry = builtin_entry(builtin);
    if (entry != nullptr && entry->variadic && entry->save_sp) emit_word_after(output, anchor, "__SAVESP", word);
    emit_word(output, word->text, word);
    if (entry != nullptr && !entry->variadic && arguments != entry->param_count) {
      compile_error(*source, "Invalid number of input parameters", word);
    }
    pending_outputs = saved_pending + (entry ? entry->returns_value : 0);
    return;
  }

  const std::string name = called_name ? *called_name : std::string(word->text);
  CallTarget target = find_call_target(source, name, arguments, expected, word);
  if (inherited_call) in_inherited = 0;
  if (target.private_outside) {
    compile_error(*source, "Cannot call a private proc or func outside it's class definition", word);
  }
  if (target.index == -1 || target.on_other_object) {
    if (name.find('.') != std::string::npos) {
      // The mark goes before the arguments, which are already written.
      emit_word_after(output, anchor, "__SAVESP2", word);
      const std::string called = name[0] == '.' ? name : with_object_variable(name);
      // The count is the results the call keeps: none for a call standing as a statement,
      // whose result nothing takes.
      const int32_t kept = in_expression ? target_count : 0;
      emit_word(output, marked(kObjectCallMarker, called + ";" + std::to_string(kept)), word);
      pending_outputs = saved_pending;
    } else {
      compile_error(*source, "Proc or Func \"" + name + "\" not found", word);
      pending_outputs = saved_pending;
    }
    return;
  }
  int32_t inputs;
  int32_t outputs;
  bool variadic;
  bool function;
  std::string signature;
  if (target.index < -1) {
    InstructionNode* start = foreign_procedure_start(target.index);
    const char* text = start && start->text ? start->text : "";
    signature = std::strlen(text) > 4 ? text + 4 : text;
    signature_counts(signature.c_str(), &inputs, &outputs);
    variadic = start && start->opcode == 84;
    function = outputs != 0;
  } else {
    ProcedureEntry* entry = ProcedureTable[target.index];
    inputs = entry->input_count;
    outputs = entry->output_count;
    variadic = entry->variadic;
    function = outputs != 0;
    signature = entry->signature;
    if (variadic) {
      // A variadic procedure is called with the count actually given.
      const char* open = std::strchr(entry->signature, '(');
      const char* comma = std::strchr(entry->signature, ',');
      if (open && comma) {
        signature = std::string(static_cast<const char*>(entry->signature), open) + "(" + std::to_string(arguments) + std::string(comma);
      }
    }
  }
  if (function) emit_word_after(output, anchor, "__SAVESP", word);
  if (variadic) emit_word_after(output, anchor, "__SAVESP", word);
  if (!variadic && arguments != inputs) compile_error(*source, "Invalid number of input parameters", word);
  for (size_t index = pointers_before; index < offset_pointers.size(); ++index) {
    compile_error(*source, "Cannot pass offset pointers to proc or func!", offset_pointers[index]);
  }
  offset_pointers.resize(pointers_before);
  emit_word(output, marked(target.marker, target.prefix + signature), word);
  pending_outputs = saved_pending;
  if (outputs > 0) {
    emit_word(output, std::to_string(outputs), word);
    if (in_expression) {
      emit_word(output, "__DROPFCTSTACK", word);
      pending_outputs = saved_pending + outputs;
    } else {
      emit_word(output, "__DROPALLFCTSTACK", word);
      pending_outputs = 0;
    }
  }
}

// Compound assignments, "++" and "--" after a target already written as an 0xF9 word.
bool compile_update(char** source, char* kind, CodeListNode** input, CodeListNode** output, CodeListNode* target) {
  CodeListNode* op = *input;
  if (*kind == 'p' || *kind == 'm') {
    if (in_expression) {
      emit_word(output, "__SET_PUSH", op);
      ++pending_outputs;
    }
    emit_word(output, op->text, op);
    read_token(*source, kind, input);
    return true;
  }
  if (*kind == '$' && !word_is(op, Keyword::Assign)) {
    if (!read_token(*source, kind, input)) return true;
    int32_t saved = pending_outputs;
    compile_expression(source, kind, input, output, false);
    if (in_expression) {
      emit_word(output, "__SET_PUSH", op);
      pending_outputs = saved + 1;
    } else {
      pending_outputs = saved;
    }
    emit_word(output, op->text, op);
    (void)target;
    return true;
  }
  return false;
}

// "=" after a target already written: the right side, then the assignment word.
void compile_assignment(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  CodeListNode* op = *input;
  const int32_t saved = pending_outputs;
  const int32_t targets = target_count;
  if (!read_token(*source, kind, input)) return;
  if (in_expression) {
    pending_outputs = 0;
    compile_expression(source, kind, input, output, false);
    if (pending_outputs < 1) {
      compile_error(*source, "Invalid number of output arguments (" + std::to_string(pending_outputs) + ")", op);
    }
    emit_word(output, "__SET_PUSH", op);
    emit_word(output, op->text, op);
    pending_outputs = saved + 1;
    return;
  }
  pending_outputs = 0;
  if (targets > 1) {
    emit_word(output, "__SAVESP", op);
    while (true) {
      compile_expression(source, kind, input, output, false);
      if (*kind != ',') break;
      if (!read_token(*source, kind, input)) break;
    }
    if (pending_outputs > targets) {
      compile_error(*source, "Invalid number of output arguments (" + std::to_string(pending_outputs) + ")", op);
    }
    emit_word(output, std::to_string(targets), op);
    emit_word(output, "M=", op);
  } else {
    compile_expression(source, kind, input, output, false);
    if (pending_outputs > 1) {
      compile_error(*source, "Invalid number of output arguments (" + std::to_string(pending_outputs) + ")", op);
    }
    emit_word(output, op->text, op);
  }
  pending_outputs = saved;
  target_count = 1;
}

void compile_variable_statement(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  CodeListNode* word = *input;
  const bool address = *kind == 'v';
  const std::string name = address ? std::string(word->text + 1) : std::string(word->text);
  last_variable_name = name;
  if (!name.empty() && name.back() == '$') {
    uint32_t hash = hash_name_text(name.c_str());
    if (declaration_mode != 0) {
      declare_name(hash, block_depth);
    } else if (warn_globals && !is_declared_name(hash) &&
               (name.find('.') == std::string::npos || warn_dotted_names)) {
      compile_warning(*source, "Variable is not defined as local, it might be used as global", word);
    }
  }
  if (!read_token(*source, kind, input)) {
    if (in_expression || declaration_mode) {
      emit_word(output, name, word);
      if (address) emit_word(output, "__VARADDR", word);
      if (!declaration_mode) ++pending_outputs;
    }
    return;
  }

  if (*kind == 'F' && !address && *input != nullptr && (*input)->text[0] == '.') {
    // "obj$.method(...)": a method call on the object the variable holds.
    const std::string object = name.back() == '$' ? name.substr(0, name.size() - 1) : name;
    const std::string called = object + (*input)->text;
    compile_call(source, kind, input, output, &called);
    return;
  }
  if (*kind == '[') {
    // An element: the variable with its offsets, then what is done with it.
    CodeListNode* target = emit_word(output, (in_expression && !address) ? name : marked(kUpdateTargetMarker, name),
                                     word);
    size_t pointer_mark = offset_pointers.size();
    compile_element_offset(address, source, kind, input, output);
    if (address) offset_pointers.push_back(word);
    (void)pointer_mark;
    while (*kind == 'O' && *input != nullptr && (*input)->text[0] == '.') {
      CodeListNode* member = *input;
      emit_word(output, std::string("\"") + (member->text + 1) + "\"", member);
      emit_word(output, "__OFFSETVAR", member);
      if (!read_token(*source, kind, input)) break;
      if (*kind == '[') compile_element_offset(false, source, kind, input, output);
    }
    if (*kind == '$' && word_is(*input, Keyword::Assign)) {
      compile_assignment(source, kind, input, output);
      return;
    }
    if (compile_update(source, kind, input, output, target)) return;
    if (in_expression) {
      // A read: the variable word stays plain.
      if (target->text[0] == static_cast<char>(kUpdateTargetMarker)) {
        std::string plain = target->text + 1;
        code_list_set_text(target, plain.c_str());
      }
      ++pending_outputs;
      return;
    }
    compile_error(*source, "Missing = ++ -- statement", *input);
    return;
  }

  if ((*kind == '$' && word_is(*input, Keyword::Assign)) || declaration_mode == 1) {
    emit_word(output, marked(kStoreTargetMarker, name), word);
    if (*kind == '$' && word_is(*input, Keyword::Assign)) compile_assignment(source, kind, input, output);
    return;
  }
  if (*kind == '$') {
    CodeListNode* target = emit_word(output, marked(kUpdateTargetMarker, name), word);
    compile_update(source, kind, input, output, target);
    return;
  }
  if (*kind == 'p' || *kind == 'm') {
    CodeListNode* target = emit_word(output, marked(kUpdateTargetMarker, name), word);
    compile_update(source, kind, input, output, target);
    return;
  }
  if (in_expression || in_argument_list) {
    emit_word(output, name, word);
    if (address) emit_word(output, "__VARADDR", word);
    ++pending_outputs;
    return;
  }
  if (*kind == ',') {
    emit_word(output, marked(kStoreTargetMarker, name), word);
    ++target_count;
    return;
  }
  compile_error(*source, "Missing = [ ++ -- statement", *input);
}

// "&NAME": the address of a procedure.
void compile_procedure_address(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  CodeListNode* word = *input;
  std::string name = word->text + 1;
  std::string text = "&" + name;
  if (name.find('.') == std::string::npos) {
    int32_t index = -1;
    if (current_class != nullptr) {
      ClassRecord* found_in = nullptr;
      index = find_method_index(current_class, &found_in, name.c_str(), ProcedureTable, procedure_count, true, false);
    }
    if (index < 0) index = find_procedure_index(name.c_str(), ProcedureTable, procedure_count, 0, true, false);
    if (index >= 0) {
      text = std::string("&") + ProcedureTable[index]->signature;
    } else if (index == -1) {
      compile_error(*source, "Proc or Func \"" + name + "\" not defined", word);
    }
  }
  emit_word(output, text, word);
  ++pending_outputs;
  read_token(*source, kind, input);
}

void compile_prefix_step(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  CodeListNode* op = *input;
  if (in_expression) {
    emit_word(output, "__SET_PUSH", op);
    ++pending_outputs;
  }
  if (!read_token(*source, kind, input)) return;
  if (*kind != 'O') {
    compile_error(*source, "Variable expected", *input);
    return;
  }
  emit_word(output, marked(kUpdateTargetMarker, (*input)->text), *input);
  emit_word(output, *kind == 'p' || word_is(op, Keyword::Increment) ? "++2" : "--2", op);
  read_token(*source, kind, input);
}

}  // namespace

bool is_declared_name(uint32_t hash) {
  for (const DeclaredName& name : declared_names) {
    if (name.hash == hash && name.depth <= block_depth) return true;
  }
  return false;
}

void declare_name(uint32_t hash, int32_t depth) { declared_names.push_back({hash, depth}); }

void statement_compiler_reset() {
  pending_outputs = 0;
  foreign_procedures_clear();
  in_expression = 0;
  in_argument_list = 0;
  first_op_written = 0;
  block_depth = 0;
  crt::free(current_signature);
  current_signature = nullptr;
  declaration_mode = 0;
  target_count = 1;
  class_header_open = 0;
  override_next = 0;
  declared_names.clear();
  namespace_depth = 0;
  method_outside_class = false;
  offset_pointers.clear();
  last_variable_name.clear();
  token_reader_reset();
}

void set_method_outside_class(bool outside) { method_outside_class = outside; }

void compile_statement(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  CodeListNode* word = *input;
  if (word == nullptr) return;
  if (!in_argument_list && !in_expression) {
    if (std::strchr("1234ekES", *kind) != nullptr && *kind != 0) {
      first_op_written = 0;
    } else if (!(*kind == '`' || word_is(word, Keyword::Global) || word_is(word, Keyword::ForceGlobal) ||
                 word_is(word, Keyword::Local) || word_is(word, Keyword::Public) ||
                 word_is(word, Keyword::Private)) &&
               !first_op_written) {
      emit_word(output, "FIRST_OP", word);
      first_op_written = 1;
    }
  }
  switch (*kind) {
    case '\n':
      pending_outputs = 0;
      *input = nullptr;
      return;
    case '(': {
      int32_t count = 0;
      compile_argument_list(source, kind, input, output, &count);
      return;
    }
    case ')':
      compile_error(*source, "Opening ( is missing", word);
      read_token(*source, kind, input);
      return;
    case '+':
    case '-': {
      const int32_t saved = pending_outputs;
      emit_word(output, "0", word);
      if (!read_token(*source, kind, input)) return;
      const uint8_t saved_expression = in_expression;
      in_expression = 1;
      compile_statement(source, kind, input, output);
      in_expression = saved_expression;
      emit_word(output, word->text, word);
      pending_outputs = saved + 1;
      return;
    }
    case ',':
      read_token(*source, kind, input);
      return;
    case '1': case '2': case '3': case '4': case 'e': case 'E': case 'k':
      compile_procedure_definition(source, kind, input, output);
      return;
    case '@': {
      if (!read_token(*source, kind, input)) return;
      compile_statement(source, kind, input, output);
      emit_word(output, word->text, word);
      return;
    }
    case 'N':
    case '~':
      return;
    case 'A': case 'R': case 'a': case 'r': case 'x': {
      if (!read_token(*source, kind, input)) return;
      compile_expression(source, kind, input, output, false);
      emit_word(output, word->text, word);
      return;
    }
    case 'F':
      compile_call(source, kind, input, output);
      return;
    case 'O':
    case 'v':
      compile_variable_statement(source, kind, input, output);
      return;
    case 'S': case 's': case 'o': case 'y': case 'i':
      compile_class_statement(source, kind, input, output);
      return;
    case 'U': {
      emit_word(output, word->text, word);
      if (!read_token(*source, kind, input)) return;
      emit_word(output, (*input)->text, *input);
      if (namespace_depth >= kNamespaceStackSize) {
        compile_error(*source, "Namespaces nested too deeply", *input);
      } else {
        namespace_stack[namespace_depth++] = current_namespace;
        current_namespace = (*input)->hash;
      }
      read_token(*source, kind, input);
      return;
    }
    case 'u':
      emit_word(output, word->text, word);
      current_namespace = namespace_depth > 0 ? namespace_stack[--namespace_depth] : 0;
      read_token(*source, kind, input);
      return;
    case 'V': {
      emit_word(output, word->text, word);
      ++pending_outputs;
      if (declaration_mode == 2 && word->text[0] == '"' && !last_variable_name.empty()) {
        std::string member(word->text + 1);
        if (!member.empty() && member.back() == '"') member.pop_back();
        for (char& c : member) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::string structure = last_variable_name.substr(0, last_variable_name.size() - 1);
        declare_name(hash_name_text((structure + "." + member + "$").c_str()), block_depth);
      }
      read_token(*source, kind, input);
      return;
    }
    case 'l':
      compile_procedure_address(source, kind, input, output);
      return;
    case '[':
      pending_outputs = compile_array_literal(source, kind, input, output);
      return;
    case ']':
      compile_error(*source, "Opening [ is missing", word);
      read_token(*source, kind, input);
      return;
    case '`': {
      if (!read_token(*source, kind, input)) return;
      std::string name = (*input)->text;
      if (!name.empty() && name[0] == '"') name.erase(0, 1);
      if (!name.empty() && name.back() == '"') name.pop_back();
      name = name.substr(0, name.find(','));
      crt::free(*source);
      *source = std::strlen((*input)->text) < 2 ? nullptr : crt::_strdup(name.c_str());
      read_token(*source, kind, input);
      return;
    }
    case 'm':
    case 'p':
      compile_prefix_step(source, kind, input, output);
      return;
    case 'n': {
      emit_word(output, word->text, word);
      if (!read_token(*source, kind, input)) return;
      emit_word(output, (*input)->text, *input);
      const uint32_t saved_namespace = current_namespace;
      current_namespace = (*input)->hash;
      if (read_token(*source, kind, input)) compile_statement(source, kind, input, output);
      current_namespace = saved_namespace;
      return;
    }
    default:
      compile_error(*source, "Syntax error", word);
      read_token(*source, kind, input);
      return;
  }
}

CodeListNode* emit_word(CodeListNode** output, const std::string& text, const CodeListNode* node) {
  code_list_append(output, text.c_str(), node ? node->file_name : nullptr, node ? node->line : 0,
                   node ? node->column : 0);
  return *output;
}

CodeListNode* emit_word_after(CodeListNode** output, CodeListNode* anchor, const std::string& text,
                              const CodeListNode* node) {
  if (anchor == *output) return emit_word(output, text, node);
  CodeListNode* cursor = anchor;
  code_list_append(&cursor, text.c_str(), node ? node->file_name : nullptr, node ? node->line : 0,
                   node ? node->column : 0);
  return cursor;
}

void compile_error(const char* source, const std::string& message, const CodeListNode* node) {
  // Past the end of the words, the last word read names the place.
  report_compile_message(source, message.c_str(), node ? node : last_word_read, -1, false);
}

void compile_warning(const char* source, const std::string& message, const CodeListNode* node) {
  report_compile_message(source, message.c_str(), node, -1, true);
}

std::string marked(uint8_t marker, const std::string& text) {
  return std::string(1, static_cast<char>(marker)) + text;
}
