// Procedure definitions (modifiers, header words, parameters, the procedure table) and
// the class statements: #CLASS, #OBJECT, class typing, #ENDCLASS and #INHERITED.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "compiler/frontend/statement_internal.h"
#include "compiler/frontend/token_reader.h"
#include "compiler/keywords.h"
#include "foundation/hashes.h"
#include "platform/kernel/memory.h"

namespace {

char* heap_copy(const std::string& text) { return crt::_strdup(text.c_str()); }

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string class_code_name(const std::string& class_name, const std::string& procedure) {
  return "__CLASSCODE_" + class_name + "." + procedure;
}

// The class main code's header word: its marker and three spaces.
std::string class_main_header(const std::string& class_name) {
  return std::string(1, static_cast<char>(0xE9)) + "   " + class_code_name(class_name, "__INIT(0,0)");
}

}  // namespace

uint8_t procedure_header_marker(const ProcedureEntry* entry) {
  const bool function = entry->output_count != 0;
  if (entry->forward) {
    if (entry->variadic) return function ? 0xEF : 0xEB;
    return function ? 0xE7 : 0xE8;
  }
  if (entry->variadic) return function ? 0xC4 : 0xEA;
  return function ? 0xEC : 0xE9;
}

// Reads FORWARD, OVERRIDE, PUBLIC, PRIVATE and FORCELINK in any order before the keyword.
void read_procedure_modifiers(char** source, char* kind, CodeListNode** input, ProcedureEntry* entry) {
  while (*input != nullptr && (*kind == '3' || *kind == '4' || *kind == 'e' || *kind == 'E' || *kind == 'k')) {
    switch (*kind) {
      case '3': entry->forward = 1; break;
      case 'k': entry->force_link = 1; break;
      case '4':
        if (current_class != nullptr) {
          compile_error(*source, "OVERRIDE is not supported in a class definition", *input);
        } else {
          override_next = 1;
        }
        break;
      case 'E': entry->private_ = 1; break;
      case 'e': entry->private_ = 0; break;
    }
    if (!read_token(*source, kind, input)) return;
  }
}

void compile_procedure_definition(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  if (block_depth > 0) compile_error(*source, "Func or Proc definition cannot be embedded", *input);
  auto* entry = static_cast<ProcedureEntry*>(crt::calloc(1, sizeof(ProcedureEntry)));
  if (entry == nullptr) return;
  entry->namespace_hash = current_namespace;
  entry->private_ = current_class != nullptr ? 1 : 0;
  read_procedure_modifiers(source, kind, input, entry);
  if (!entry->forward) ++block_depth;
  CodeListNode* keyword = *input;
  if (keyword == nullptr || (*kind != '1' && *kind != '2')) {
    compile_error(*source, "PROC or FUNC statement expected", keyword);
    crt::free(entry);
    if (keyword != nullptr) read_token(*source, kind, input);
    return;
  }
  if (current_class != nullptr && class_header_open) {
    emit_word(output, "END", keyword);
    class_header_open = 0;
  }
  const bool is_proc = *kind == '1';
  if (!is_proc) entry->output_count = 1;
  if (keyword->text[0] == 'N') {
    entry->variadic = 1;
    override_next = 0;
  }
  if (!read_token(*source, kind, input)) {
    crt::free(entry);
    return;
  }
  CodeListNode* name_word = *input;
  std::string name = name_word->text;
  if (current_class != nullptr) {
    if (name == "CREATE") {
      if (!entry->variadic) compile_error(*source, "Create proc definition must be NPROC", name_word);
      if (!entry->private_) compile_error(*source, "Create proc definition must be private", name_word);
    } else if (name == "DESTROY") {
      if (!is_proc || entry->variadic) compile_error(*source, "Destroy proc definition must be PROC", name_word);
      if (!entry->private_) compile_error(*source, "Destroy proc definition must be private", name_word);
    }
    name = class_code_name(current_class->name, name);
  } else if (size_t dot = name.find('.'); dot != std::string::npos) {
    std::string class_name = name.substr(0, dot);
    ClassRecord* record = find_class_record(hash_name_text(class_name.c_str()));
    if (record == nullptr) {
      compile_error(*source, "Class \"" + class_name + "\" not found", name_word);
    } else if (!entry->forward) {
      current_class = record;
      set_method_outside_class(true);
    }
    name = "__CLASSCODE_" + name;
  }
  const int32_t depth = block_depth;
  CodeListNode* header = emit_word(output, std::string(4, ' ') + name, name_word);
  if (current_class != nullptr) {
    declare_name(hash_name_text("SELF$"), depth);
    declare_name(hash_name_text("OBJECTNAME$"), depth);
  }
  if (entry->variadic) declare_name(hash_name_text("ARGS$"), depth);

  std::vector<CodeListNode*> parameters;
  read_token(*source, kind, input);
  if (*kind == '(') {
    if (entry->variadic) compile_error(*source, "Cannot specify parameters for NPROC or NFUNC", *input);
    while (read_token(*source, kind, input)) {
      if (*kind == ')') break;
      if (*kind == 'O') {
        parameters.push_back(*input);
      } else {
        compile_error(*source, "Variable expected", *input);
      }
      if (!read_token(*source, kind, input)) break;
      if (*kind == ',') continue;
      break;
    }
    if (*kind == ')') {
      read_token(*source, kind, input);
    } else {
      compile_error(*source, "Closing ) missing", *input);
    }
  }
  entry->input_count = static_cast<uint8_t>(parameters.size());
  if (!entry->forward) {
    for (size_t index = parameters.size(); index-- > 0;) {
      declare_name(parameters[index]->hash, depth);
      emit_word(output, parameters[index]->text, parameters[index]);
    }
  }
  if (*kind == 'C') {
    CodeListNode* colon = *input;
    if (read_token(*source, kind, input) && *kind == 'V' && (*input)->text[0] >= '0' && (*input)->text[0] <= '9') {
      if (is_proc) {
        compile_error(*source, "Cannot assign multiple outputs on a PROC or a NPROC!", *input);
      } else {
        entry->output_count = static_cast<uint8_t>(std::atoi((*input)->text));
      }
      read_token(*source, kind, input);
    } else {
      compile_error(*source, "Numeric value expected", *input ? *input : colon);
    }
  }
  if (!entry->forward) emit_word(output, entry->variadic ? "__ENDDECL2" : "__ENDDECL", name_word);

  std::string signature;
  if (is_keyword(name_word->hash, Keyword::Main) || is_keyword(name_word->hash, Keyword::WinMain)) {
    signature = name;
  } else {
    signature = name + "(" + std::to_string(entry->input_count) + "," + std::to_string(entry->output_count) + ")";
  }
  std::string header_text;
  header_text += static_cast<char>(procedure_header_marker(entry));
  header_text += entry->private_ ? '_' : ' ';
  header_text += static_cast<char>(32 + entry->output_count);
  header_text += entry->force_link ? static_cast<char>(0xA2) : ' ';
  code_list_set_text(header, (header_text + signature).c_str());
  entry->signature = heap_copy(signature);
  if (!entry->forward) {
    crt::free(current_signature);
    current_signature = heap_copy(signature);
  }

  int32_t existing = find_procedure_index(signature.c_str(), ProcedureTable, procedure_count, 1, false, false);
  if (existing < 0) {
    // A forward declaration of the same name promises the counts.
    std::string bare = signature.substr(0, signature.find('('));
    int32_t named = find_procedure_index(bare.c_str(), ProcedureTable, procedure_count, 0, true, false);
    if (named >= 0 && ProcedureTable[named]->forward) existing = named;
  }
  if (existing < 0) {
    if (procedure_table_add(entry) < 0) {
      crt::free(entry->signature);
      crt::free(entry);
    }
    return;
  }
  ProcedureEntry* old = ProcedureTable[existing];
  if (old->input_count != entry->input_count || old->output_count != entry->output_count) {
    compile_error(*source, "Different proc or func \"" + name + "\" declaration", name_word);
  } else if (!old->forward && !override_next) {
    compile_error(*source,
                  std::string(entry->forward ? "Duplicate forward proc or func \"" : "Duplicate proc or func \"") +
                      name + "\"",
                  name_word);
  } else if (old->forward && entry->forward) {
    if (*output == header) *output = header->prev;
    code_list_remove(header);
  } else if (old->forward) {
    old->forward = 0;
  }
  override_next = 0;
  crt::free(entry->signature);
  crt::free(entry);
}

namespace {

void compile_class_definition(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  CodeListNode* directive = *input;
  emit_word(output, directive->text, directive);
  if (!read_token(*source, kind, input)) return;
  CodeListNode* name_word = *input;
  ClassRecord* parent = nullptr;
  if (*kind == 'y') {
    parent = find_class_record(name_word->hash);
    if (!read_token(*source, kind, input)) return;
    name_word = *input;
  }
  auto* record = static_cast<ClassRecord*>(crt::calloc(1, sizeof(ClassRecord)));
  if (record == nullptr) return;
  record->name = heap_copy(name_word->text);
  record->name_hash = name_word->hash;
  record->parent_name = heap_copy(parent ? parent->name : "");
  record->parent_hash = parent ? parent->name_hash : 0;
  record->next = ClassList;
  ClassList = record;
  current_class = record;
  set_method_outside_class(false);

  emit_word(output, parent ? parent->name : "", name_word);
  emit_word(output, record->name, name_word);
  emit_word(output, class_main_header(record->name), name_word);
  emit_word(output, "__ENDDECL", name_word);
  auto* entry = static_cast<ProcedureEntry*>(crt::calloc(1, sizeof(ProcedureEntry)));
  if (entry != nullptr) {
    entry->signature = heap_copy(class_code_name(record->name, "__INIT(0,0)"));
    entry->namespace_hash = current_namespace;
    if (procedure_table_add(entry) < 0) {
      crt::free(entry->signature);
      crt::free(entry);
    }
  }
  declare_name(hash_name_text("SELF$"), block_depth);
  declare_name(hash_name_text("OBJECTNAME$"), block_depth);
  if (parent != nullptr) {
    emit_word(output, marked(kInheritedCallMarker, class_code_name(parent->name, "__INIT(0,0)")), name_word);
  }
  class_header_open = 1;
  first_op_written = 0;
  read_token(*source, kind, input);
}

void compile_object(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  if (!read_token(*source, kind, input)) return;
  CodeListNode* class_word = *input;
  emit_word(output, quoted(class_word->text), class_word);
  if (*kind != 'y') compile_error(*source, "Class \"" + std::string(class_word->text) + "\" not found", class_word);
  if (!read_token(*source, kind, input)) return;
  CodeListNode* object = *input;
  // The object lives in a variable of its name: "sq" is the variable SQ$.
  std::string variable = object->text;
  if (variable.empty() || (variable.back() != '$' && variable.back() != '%')) variable += '$';
  emit_word(output, variable, object);
  emit_word(output, "__class", object);
  emit_word(output, "__SAVESP2", object);
  read_token(*source, kind, input);
  if (*kind == '(') {
    const int32_t saved = pending_outputs;
    int32_t arguments = 0;
    compile_argument_list(source, kind, input, output, &arguments);
    pending_outputs = saved;
  }
  emit_word(output, variable, object);
  emit_word(output, "__classcreate", object);
}

void compile_class_typing(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  CodeListNode* class_word = *input;
  if (find_class_record(class_word->hash) == nullptr) {
    compile_error(*source, "Class \"" + std::string(class_word->text) + "\" not defined", class_word);
  }
  if (!read_token(*source, kind, input)) return;
  if (*kind != '(') {
    compile_error(*source, "Expression expected", *input);
    return;
  }
  std::vector<CodeListNode*> variables;
  while (read_token(*source, kind, input) && *kind != ')') {
    if (*kind == ',') continue;
    if (*kind != 'O') {
      compile_error(*source, "Variable expected", *input);
      continue;
    }
    variables.push_back(*input);
    if (!read_token(*source, kind, input)) break;
    if (*kind == '[') {
      compile_error(*source, "Cannot classtype array here", *input);
      while (read_token(*source, kind, input) && *kind != ']' && *kind != ')') {
      }
      if (*kind == ']') read_token(*source, kind, input);
    }
    if (*kind == ')') break;
    if (*kind != ',') compile_error(*source, "Syntax error", *input);
  }
  if (*kind == ')') {
    read_token(*source, kind, input);
  } else {
    compile_error(*source, "Closing ) missing", *input);
  }
  const bool statement_ends = *kind == ';' || *kind == '\n';
  for (CodeListNode* variable : variables) {
    emit_word(output, quoted(class_word->text), class_word);
    emit_word(output, variable->text, variable);
    emit_word(output, statement_ends ? "__class2" : "__class3", variable);
  }
}

}  // namespace

void compile_class_statement(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  switch (*kind) {
    case 'S':
      compile_class_definition(source, kind, input, output);
      return;
    case 'o':
      compile_object(source, kind, input, output);
      return;
    case 'y':
      compile_class_typing(source, kind, input, output);
      return;
    case 's':
      current_class = nullptr;
      if (class_header_open) emit_word(output, "END", *input);
      class_header_open = 0;
      read_token(*source, kind, input);
      return;
    case 'i':
      in_inherited = 1;
      read_token(*source, kind, input);
      return;
  }
}
