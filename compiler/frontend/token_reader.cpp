// Token kinds of the compiler's words, and the procedure, method and class lookups of
// compile time (and of object calls at run time).
#include "compiler/frontend/token_reader.h"

#include <cstring>
#include <string>
#include <vector>

#include "foundation/code_list.h"
#include "compiler/keywords.h"
#include "foundation/compile_messages.h"
#include "foundation/hashes.h"
#include "foundation/instruction_node.h"
#include "foundation/program_context.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_registry.h"

ProcedureEntry* ProcedureTable[kProcedureTableSlots];
int32_t procedure_count = 0;
ClassRecord* ClassList = nullptr;
ClassRecord* current_class = nullptr;
uint8_t in_inherited = 0;
uint32_t current_namespace = 0;
int32_t last_builtin_index = -1;
int32_t words_read = 0;
CodeListNode* last_word_read = nullptr;
int32_t words_total = 0;
void (*status_window_update)(const char* text, int32_t position, int32_t total) = nullptr;

namespace {

bool one_of(uint32_t hash, std::initializer_list<Keyword> words) {
  for (Keyword word : words) {
    if (is_keyword(hash, word)) return true;
  }
  return false;
}

// The kind of the keyword rows; 0 when the word is none of them.
char keyword_kind(uint32_t hash) {
  if (is_keyword(hash, Keyword::And)) return 'A';
  if (one_of(hash, {Keyword::Or, Keyword::Xor})) return 'R';
  if (is_keyword(hash, Keyword::Not)) return 'N';
  if (is_keyword(hash, Keyword::Mod)) return 'M';
  if (is_keyword(hash, Keyword::Div)) return 'D';
  if (one_of(hash, {Keyword::Asl, Keyword::Shl, Keyword::ShiftLeft})) return 'L';
  if (one_of(hash, {Keyword::Asr, Keyword::Shr, Keyword::ShiftRight})) return 'h';
  if (one_of(hash, {Keyword::Repeat, Keyword::While, Keyword::Foreach, Keyword::ForeachRev, Keyword::For,
                    Keyword::Until, Keyword::If, Keyword::Else, Keyword::End, Keyword::Return, Keyword::Break,
                    Keyword::Continue, Keyword::Case, Keyword::Try, Keyword::Except, Keyword::Finally})) {
    return 'F';
  }
  if (one_of(hash, {Keyword::Proc, Keyword::NProc})) return '1';
  if (one_of(hash, {Keyword::Func, Keyword::NFunc})) return '2';
  if (is_keyword(hash, Keyword::Forward)) return '3';
  if (is_keyword(hash, Keyword::Override)) return '4';
  if (is_keyword(hash, Keyword::ForceLink)) return 'k';
  if (is_keyword(hash, Keyword::Public)) return 'e';
  if (is_keyword(hash, Keyword::Private)) return 'E';
  if (is_keyword(hash, Keyword::Less)) return '<';
  if (is_keyword(hash, Keyword::Greater)) return '>';
  if (is_keyword(hash, Keyword::LessEqual)) return '!';
  if (is_keyword(hash, Keyword::GreaterEqual)) return '.';
  if (is_keyword(hash, Keyword::NotEqual)) return 2;
  if (is_keyword(hash, Keyword::Equal)) return '=';
  if (is_keyword(hash, Keyword::Assign)) return '$';
  if (is_keyword(hash, Keyword::Semicolon)) return ';';
  if (is_keyword(hash, Keyword::CodeDirective)) return '`';
  if (is_keyword(hash, Keyword::Default)) return 'V';
  if (is_keyword(hash, Keyword::NamespaceDirective)) return 'U';
  if (is_keyword(hash, Keyword::EndNamespaceDirective)) return 'u';
  if (is_keyword(hash, Keyword::ClassDirective)) return 'S';
  if (is_keyword(hash, Keyword::EndClassDirective)) return 's';
  if (is_keyword(hash, Keyword::ObjectDirective)) return 'o';
  if (is_keyword(hash, Keyword::InheritedDirective)) return 'i';
  return 0;
}

// The kind of the rows before the keywords (literals, variables, symbols); 0 for none.
char symbol_kind(const char* word, uint32_t hash) {
  size_t length = std::strlen(word);
  char first = word[0];
  char last = length ? word[length - 1] : 0;
  if ((first >= '0' && first <= '9') || first == '&' || first == '"' || first == '%') {
    if (is_keyword(hash, Keyword::Ampersand)) return 'a';
    if (is_keyword(hash, Keyword::AmpersandAssign)) return '$';
    if (is_keyword(hash, Keyword::Percent)) return '%';
    if (first == '&' && (last == '$' || last == '%')) return 'v';
    if (first == '&') return 'l';
    return 'V';
  }
  if (first == ':') return is_keyword(hash, Keyword::DoubleColon) ? 'n' : 'C';
  if (first == ',') return ',';
  if (first == '~') return '~';
  if (last == '$' || last == '%') return 'O';
  if (first != 0 && std::strchr("+-*/()@^|[]", first) != nullptr) {
    if (is_keyword(hash, Keyword::Increment)) return 'p';
    if (is_keyword(hash, Keyword::Decrement)) return 'm';
    if (one_of(hash, {Keyword::AddAssign, Keyword::SubtractAssign, Keyword::MultiplyAssign, Keyword::DivideAssign,
                      Keyword::BarAssign, Keyword::AmpersandAssign, Keyword::CaretAssign})) {
      return '$';
    }
    if (is_keyword(hash, Keyword::Bar)) return 'r';
    if (is_keyword(hash, Keyword::Caret)) return 'x';
    return first;
  }
  if (first == '.') return 'F';
  return 0;
}

// The kind of a plain name: procedure, method, class or built-in; space when none.
char identifier_kind(const char* source, CodeListNode* node) {
  const char* word = node->text;
  int32_t found = find_procedure_index(word, ProcedureTable, procedure_count, 0, true, false);
  if (found != -1) return 'F';
  char kind = ' ';
  if (std::strchr(word, '.') != nullptr) {
    kind = 'F';
  } else if (current_class != nullptr) {
    ClassRecord* searched = current_class;
    if (in_inherited) {
      if (current_class->parent_name == nullptr || current_class->parent_name[0] == 0) {
        std::string message = std::string("Not inheritance found for class \"") + current_class->name + "\"";
        report_compile_message(source, message.c_str(), node, -1, false);
        searched = nullptr;
      } else {
        searched = find_class_record(current_class->parent_hash);
      }
    }
    ClassRecord* found_in = nullptr;
    if (searched != nullptr &&
        find_method_index(searched, &found_in, word, ProcedureTable, procedure_count, true, false) >= 0) {
      return 'F';
    }
  }
  if (find_class_record(node->hash) != nullptr) return 'y';
  int32_t builtin = find_builtin_by_hash(node->hash);
  if (builtin >= 0) {
    last_builtin_index = builtin;
    return 'F';
  }
  return kind;
}

}  // namespace

bool is_operand_start(char kind) {
  return kind != 0 && std::strchr("VOFvl(-@N)~yn[", kind) != nullptr;
}

ClassRecord* find_class_record(uint32_t hash) {
  for (ClassRecord* record = ClassList; record != nullptr; record = record->next) {
    if (record->name_hash == hash) return record;
  }
  return nullptr;
}

int32_t read_token(const char* source, char* kind, CodeListNode** input) {
  if (compile_error_count >= kTokenReaderErrorStop) return 0;
  bool reread = *kind == 1;
  *kind = '\n';
  if (!reread) {
    if (*input == nullptr) return 0;
    last_word_read = *input;
    *input = (*input)->next;
    ++words_read;
    if (status_window_update != nullptr) status_window_update(nullptr, words_read, words_total);
  }
  CodeListNode* node = *input;
  if (node == nullptr) return 0;
  last_word_read = nullptr;
  const char* word = node->text;
  char found = symbol_kind(word, node->hash);
  if (found != 0) {
    *kind = found;
    return 1;
  }
  last_builtin_index = -1;
  found = keyword_kind(node->hash);
  if (found == 0) found = identifier_kind(source, node);
  if (found != ' ' && last_builtin_index < 0) last_builtin_index = find_builtin_by_hash(node->hash);
  if ((found == 'e' || found == 'E') && node->next != nullptr && std::strcmp(node->next->text, "(") == 0) {
    found = 'F';
  }
  *kind = found;
  return 1;
}

int32_t find_procedure_index(const char* signature, ProcedureEntry** table, int32_t count, int32_t mode,
                             bool name_only, bool exact) {
  const size_t searched_length = std::strlen(signature);
  const char* searched_open = std::strchr(signature, '(');
  const char* searched_comma = std::strchr(signature, ',');
  for (int32_t index = count - 1; index >= 0; --index) {
    ProcedureEntry* entry = table[index];
    if (entry == nullptr || entry->signature == nullptr) continue;
    // Every way of matching compares at least the entry's name with the start of the
    // searched text; checking that first keeps a search of a large table cheap.
    size_t name_length = std::strcspn(entry->signature, "(,");
    if (entry->signature[name_length] == ',' && name_length > 0) --name_length;
    if (name_length > searched_length || std::memcmp(entry->signature, signature, name_length) != 0) continue;
    const char* entry_open = std::strchr(entry->signature, '(');
    const char* entry_comma = std::strchr(entry->signature, ',');
    std::string comparison;
    if (name_only) {
      comparison = entry_open ? std::string(static_cast<const char*>(entry->signature), entry_open) : std::string(entry->signature);
    } else if (entry->variadic && entry_open && entry_comma && searched_open && searched_comma &&
               searched_comma > searched_open) {
      comparison = std::string(static_cast<const char*>(entry->signature), entry_open) + std::string(searched_open, searched_comma) +
                   std::string(entry_comma);
    } else {
      comparison = entry->signature;
    }
    bool match;
    size_t n = comparison.size();
    if (exact) {
      match = comparison == signature;
    } else {
      if (mode == 0 && searched_comma != nullptr && searched_comma[1] != '0' && entry->output_count != 0 &&
          entry_comma != nullptr && entry_comma > entry->signature) {
        n = static_cast<size_t>(entry_comma - entry->signature) - 1;
      }
      match = std::strncmp(comparison.c_str(), signature, n) == 0;
    }
    if (!match) continue;
    if (entry->namespace_hash != 0 && entry->namespace_hash != current_namespace) continue;
    if (name_only && n < searched_length) continue;
    return index;
  }
  for (ProgramContext* context = program_list; context != nullptr; context = context->next) {
    if (InstructionNode* start = find_procedure(context, signature)) return foreign_procedure_index(start);
  }
  return -1;
}

namespace {
// Procedures of other loaded programs found by this compile. Their indexes run down from
// -2, so they never meet a table index (a negated address could wrap to a positive one).
std::vector<InstructionNode*> foreign_procedures;
}  // namespace

int32_t foreign_procedure_index(InstructionNode* start) {
  for (size_t index = 0; index < foreign_procedures.size(); ++index) {
    if (foreign_procedures[index] == start) return -2 - static_cast<int32_t>(index);
  }
  foreign_procedures.push_back(start);
  return -1 - static_cast<int32_t>(foreign_procedures.size());
}

InstructionNode* foreign_procedure_start(int32_t index) {
  if (index > -2) return nullptr;
  auto position = static_cast<size_t>(-2 - index);
  return position < foreign_procedures.size() ? foreign_procedures[position] : nullptr;
}

void foreign_procedures_clear() { foreign_procedures.clear(); }

int32_t find_method_index(ClassRecord* record, ClassRecord** found_in, const char* method, ProcedureEntry** table,
                          int32_t count, bool name_only, bool inherited) {
  // A chain of parents is walked forwards only, so a class can never reach itself.
  while (record != nullptr) {
    if (found_in != nullptr) *found_in = record;
    std::string name = std::string("__CLASSCODE_") + record->name + "." + method;
    int32_t index = find_procedure_index(name.c_str(), table, count, 0, name_only, false);
    if (index >= 0 && inherited && table[index]->private_ == 0) index = -1;
    if (index >= 0) return index;
    if (record->parent_name == nullptr || record->parent_name[0] == 0) return -1;
    ClassRecord* parent = nullptr;
    for (ClassRecord* later = record->next; later != nullptr; later = later->next) {
      if (later->name_hash == record->parent_hash) {
        parent = later;
        break;
      }
    }
    record = parent;
    inherited = true;
  }
  return -1;
}

InstructionNode* find_class_method_code(ProgramContext* context, uint32_t key, const char* class_name,
                                        const char* method) {
  for (; context != nullptr; context = context->parent) {
    std::string name = class_name;
    // Bounded by the class count so that a damaged parent chain cannot loop.
    for (int guard = 0; guard < 4096 && !name.empty(); ++guard) {
      NameNode* record = current_program ? name_node_find(current_program->classes, name.c_str()) : nullptr;
      if (record == nullptr) break;
      std::string code_name = "__CLASSCODE_" + name + "." + method;
      if (InstructionNode* found = find_class_procedure(context->code, key, code_name.c_str())) return found;
      name = record->parent_name ? record->parent_name : "";
    }
  }
  return nullptr;
}

int32_t procedure_table_add(ProcedureEntry* entry) {
  if (procedure_count >= kProcedureTableSlots) return -1;
  ProcedureTable[procedure_count] = entry;
  return procedure_count++;
}

void procedure_table_remove(int32_t index) {
  if (index < 0 || index >= procedure_count) return;
  crt::free(ProcedureTable[index]->signature);
  crt::free(ProcedureTable[index]);
  for (int32_t slot = index; slot + 1 < procedure_count; ++slot) ProcedureTable[slot] = ProcedureTable[slot + 1];
  ProcedureTable[--procedure_count] = nullptr;
}

void token_reader_reset() {
  while (procedure_count > 0) procedure_table_remove(procedure_count - 1);
  while (ClassList != nullptr) {
    ClassRecord* next = ClassList->next;
    crt::free(ClassList->name);
    crt::free(ClassList->parent_name);
    crt::free(ClassList);
    ClassList = next;
  }
  current_class = nullptr;
  in_inherited = 0;
  current_namespace = 0;
  last_builtin_index = -1;
  words_read = 0;
  words_total = 0;
  last_word_read = nullptr;
}
