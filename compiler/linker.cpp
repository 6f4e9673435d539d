// The linker's passes: namespace tracking, procedure and reference tables, removal of
// unused procedures, and the declaration words of the library functions called.
#include "compiler/linker.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "compiler/frontend/analyzer.h"
#include "compiler/frontend/statement_compiler.h"
#include "compiler/frontend/token_reader.h"
#include "foundation/compile_messages.h"
#include "foundation/program_context.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"

const char* link_kept_procedure = nullptr;

namespace {

LinkUsage* usages[kLinkUsageSlots];
int32_t usage_count = 0;
bool usage_overflow_reported = false;

uint32_t link_namespace = 0;
uint32_t namespace_stack[kLinkNamespaceDepth];
int32_t namespace_depth = 0;
bool namespace_overflow_reported = false;
bool one_shot = false;
uint32_t one_shot_saved = 0;

const char* link_source = nullptr;
int32_t progress = 0;
int32_t progress_total = 0;

void clear_usages() {
  for (int32_t index = 0; index < usage_count; ++index) {
    crt::free(usages[index]);
    usages[index] = nullptr;
  }
  usage_count = 0;
}

void reset_pass_state() {
  link_namespace = 0;
  namespace_depth = 0;
  one_shot = false;
  one_shot_saved = 0;
  clear_usages();
}

void advance_progress() {
  ++progress;
  if (status_window_update != nullptr) status_window_update(nullptr, progress, progress_total);
}

uint8_t kind_of(const CodeListNode* word) { return static_cast<uint8_t>(word->text[0]); }

bool is_start_kind(uint8_t kind) { return kind == 0xE9 || kind == 0xEC || kind == 0xEA || kind == 0xC4; }
bool is_forward_kind(uint8_t kind) { return kind == 0xE8 || kind == 0xE7 || kind == 0xEB || kind == 0xEF; }
bool has_header(const CodeListNode* word) { return std::strlen(word->text) >= 4; }

int32_t find_record(ProcedureRecord** table, int32_t count, const char* name) {
  for (int32_t index = 0; index < count; ++index) {
    if (std::strcmp(table[index]->name, name) == 0) return index;
  }
  return -1;
}

// The record a call or address word refers to.
int32_t find_referenced_record(ProcedureRecord** table, int32_t count, const char* signature) {
  for (int32_t index = 0; index < count; ++index) {
    if (procedure_reference_matches(table[index], signature)) return index;
  }
  return -1;
}

// A new record for a start or forward word; -1 after a compile error when the table is full.
int32_t new_record(ProcedureRecord** table, int32_t* count, const CodeListNode* word) {
  if (*count >= kLinkProcedureSlots) {
    // The word's text starts with its kind bytes; the message names the procedure only.
    CodeListNode named = *word;
    named.text = word->text + 4;
    report_compile_message(link_source, "Too many procedures to link", &named, -1, false);
    return -1;
  }
  auto* record = static_cast<ProcedureRecord*>(crt::calloc(1, sizeof(ProcedureRecord)));
  const char* name = word->text + 4;
  record->name = static_cast<char*>(crt::malloc(std::strlen(name) + 1));
  std::strcpy(record->name, name);
  const uint8_t kind = kind_of(word);
  record->parameter_count = static_cast<uint8_t>(word->text[2] - 0x20);
  record->returns_value = (kind == 0xEA || kind == 0xC4 || kind == 0xEB || kind == 0xEF) ? 1 : 0;
  record->single_occurrence = 1;
  record->keep = static_cast<uint8_t>(word->text[3]) == 0xA2 ? 1 : 0;
  record->underscore = word->text[1] == '_' ? 1 : 0;
  record->namespace_hash = link_namespace;
  table[*count] = record;
  return (*count)++;
}

void end_one_shot() {
  if (!one_shot) return;
  one_shot = false;
  link_namespace = one_shot_saved;
}

bool is_variable(const char* text) {
  const size_t length = std::strlen(text);
  return length > 0 && (text[length - 1] == '$' || text[length - 1] == '%');
}

bool is_library_function(int32_t index) {
  const BuiltinEntry* entry = builtin_entry(index);
  return entry != nullptr && entry->handler == nullptr && entry->library != nullptr;
}

// The first registry index with this hash, whatever the slot holds.
int32_t registry_index_by_hash(uint32_t hash) { return find_builtin_by_hash(hash); }

// Forward walk: records procedures (records set) or every reference to them. Procedures
// are recorded in a walk of their own so that a call before the definition counts too.
CodeListNode* record_pass(CodeListNode* first, ProcedureRecord** table, int32_t* count, bool records) {
  for (CodeListNode* word = first; word != nullptr; word = word->next) {
    advance_progress();
    const uint8_t kind = kind_of(word);
    if ((is_forward_kind(kind) || is_start_kind(kind)) && has_header(word) && !records) {
      continue;
    } else if (is_forward_kind(kind) && has_header(word)) {
      new_record(table, count, word);
    } else if (is_start_kind(kind) && has_header(word)) {
      int32_t found = find_record(table, *count, word->text + 4);
      if (found >= 0) {
        table[found]->single_occurrence = 0;
      } else {
        new_record(table, count, word);
      }
    } else if (records && (kind == 0xE0 || std::strcmp(word->text, "#ENDNAMESPACE") != 0) &&
               std::strcmp(word->text, "#NAMESPACE") != 0 && std::strcmp(word->text, "::") != 0 &&
               !is_variable(word->text) && word->text[0] != '&') {
      continue;
    } else if (kind == 0xE0) {
      int32_t found = find_referenced_record(table, *count, word->text + 1);
      if (found >= 0) add_link_usage(found, -1, word);
    } else if (std::strcmp(word->text, "#NAMESPACE") == 0) {
      if (word->next == nullptr) break;
      if (namespace_depth >= kLinkNamespaceDepth) {
        if (!namespace_overflow_reported) {
          report_compile_message(link_source, "Namespaces nested too deeply", word, -1, false);
          namespace_overflow_reported = true;
        }
      } else {
        namespace_stack[namespace_depth++] = link_namespace;
      }
      word = word->next;
      advance_progress();
      link_namespace = word->hash;
    } else if (std::strcmp(word->text, "#ENDNAMESPACE") == 0) {
      link_namespace = namespace_depth > 0 ? namespace_stack[--namespace_depth] : 0;
    } else if (std::strcmp(word->text, "::") == 0) {
      if (word->next == nullptr) break;
      word = word->next;
      advance_progress();
      if (!one_shot) one_shot_saved = link_namespace;
      one_shot = true;
      link_namespace = word->hash;
    } else if (is_variable(word->text)) {
      end_one_shot();
    } else if (word->text[0] == '&' && std::strcmp(word->text, "&") != 0 && std::strcmp(word->text, "&=") != 0) {
      int32_t found = find_referenced_record(table, *count, word->text + 1);
      if (found >= 0) add_link_usage(found, -1, word);
      end_one_shot();
    } else {
      int32_t index = registry_index_by_hash(word->hash);
      if (index >= 0 && is_library_function(index)) add_link_usage(-1, index, word);
    }
  }
  return first;
}

int depth_change(const char* text) {
  if (std::strcmp(text, "END") == 0 || std::strcmp(text, "UNTIL") == 0) return -1;
  static const char* const kOpeners[] = {"IF", "WHILE", "REPEAT", "FOREACH", "FOREACHREV", "FOR", "CASE", "EXCEPT"};
  for (const char* opener : kOpeners) {
    if (std::strcmp(text, opener) == 0) return 1;
  }
  return 0;
}

// A start word of a procedure that native code calls: MAIN, WINMAIN or the kept one.
bool is_entry_word(const char* text) {
  static const char kMain[] = "\xE9   MAIN";
  static const char kWinMain[] = "\xEC ! WINMAIN";
  return std::strcmp(text, kMain) == 0 || std::strcmp(text, kWinMain) == 0 ||
         (link_kept_procedure && signature_matches(text + 4, link_kept_procedure));
}

// Removal walk: drops each start word nothing refers to with its block. Sets *removed.
// *handle, when removed, moves to the last word that survives.
CodeListNode* removal_pass(CodeListNode* first, ProcedureRecord** table, int32_t count, CodeListNode** handle,
                           bool* removed) {
  CodeListNode* word = first;
  while (word != nullptr) {
    advance_progress();
    const uint8_t kind = kind_of(word);
    if (!is_start_kind(kind) || !has_header(word) || std::strchr(word->text + 4, '.') != nullptr ||
        is_entry_word(word->text)) {
      word = word->next;
      continue;
    }
    const int32_t index = find_record(table, count, word->text + 4);
    if (index < 0 || table[index]->keep || find_link_usage(index, -1, table[index]->namespace_hash) >= 0) {
      word = word->next;
      continue;
    }
    *removed = true;
    CodeListNode* before = word->prev;
    if (word == first) first = nullptr;
    int depth = 1;
    bool handle_removed = false;
    // The start word, then the block up to its closing END.
    for (bool start = true; word != nullptr && (start || depth > 0); start = false) {
      if (!start) depth += depth_change(word->text);
      if (word == *handle) handle_removed = true;
      word = code_list_remove(word);
    }
    if (debug_mode && word != nullptr) {
      if (word == *handle) handle_removed = true;
      word = code_list_remove(word);
    }
    if (handle_removed) *handle = before;
    if (first == nullptr) first = word;
  }
  return first;
}

// The directive that declares a library function as its entry was declared.
const char* declaration_directive(const BuiltinEntry* entry) {
  if (entry->declare_form) return entry->wide_api ? "#DECLAREAPI" : "#DECLARE";
  return entry->wide_api ? "#C_DECLAREAPI" : "#C_DECLARE";
}

const char* file_part(const char* name) {
  if (name == nullptr) return "";
  const char* part = name;
  for (const char* c = name; *c; ++c) {
    if (*c == '/' || *c == '\\') part = c + 1;
  }
  return part;
}

}  // namespace

int32_t link_usage_count() { return usage_count; }

bool procedure_reference_matches(const ProcedureRecord* record, const char* signature) {
  if (record == nullptr || record->name == nullptr || signature == nullptr) return false;
  if (std::strcmp(record->name, signature) == 0) return true;
  if (!record->returns_value) return false;
  const char* record_open = std::strchr(record->name, '(');
  const char* record_comma = std::strchr(record->name, ',');
  const char* open = std::strchr(signature, '(');
  const char* comma = std::strchr(signature, ',');
  if (!record_open || !record_comma || !open || !comma) return false;
  const size_t name_length = static_cast<size_t>(record_open - record->name);
  return static_cast<size_t>(open - signature) == name_length &&
         std::strncmp(record->name, signature, name_length) == 0 && std::strcmp(record_comma, comma) == 0;
}

int32_t find_link_usage(int32_t procedure_index, int32_t builtin_index, uint32_t namespace_hash) {
  for (int32_t index = 0; index < usage_count; ++index) {
    const LinkUsage* usage = usages[index];
    if (builtin_index == -1) {
      if (usage->procedure_index == procedure_index &&
          (namespace_hash == 0 || usage->namespace_hash == namespace_hash)) {
        return index;
      }
    } else if (usage->builtin_index == builtin_index) {
      return index;
    }
  }
  return -1;
}

int32_t add_link_usage(int32_t procedure_index, int32_t builtin_index, CodeListNode* word) {
  int32_t existing = find_link_usage(procedure_index, builtin_index, link_namespace);
  if (existing >= 0) return existing;
  if (usage_count >= kLinkUsageSlots) {
    if (!usage_overflow_reported) {
      report_compile_message(link_source, "Too many references to link", word, -1, false);
      usage_overflow_reported = true;
    }
    return -1;
  }
  auto* usage = static_cast<LinkUsage*>(crt::calloc(1, sizeof(LinkUsage)));
  usage->procedure_index = procedure_index;
  usage->builtin_index = builtin_index;
  usage->namespace_hash = link_namespace;
  usage->word = word;
  usages[usage_count] = usage;
  return usage_count++;
}

CodeListNode* link_word_list(const char* file_name, CodeListNode* words) {
  if (words == nullptr) return nullptr;
  link_source = file_name;
  usage_overflow_reported = false;
  namespace_overflow_reported = false;
  const int32_t limit = compile_options.link;
  CodeListNode* handle = words;
  char* interned_file = words->file_name;
  for (int32_t pass = 1;; ++pass) {
    reset_pass_state();
    CodeListNode* first = code_list_first(handle);
    progress_total = code_list_position(handle);
    progress = 0;
    std::string status = "Link pass " + std::to_string(pass) + " (" + file_part(file_name) + ")...";
    if (status_window_update != nullptr) status_window_update(status.c_str(), 0, progress_total);
    ProcedureRecord* table[kLinkProcedureSlots];
    int32_t count = 0;
    record_pass(first, table, &count, true);
    reset_pass_state();
    record_pass(first, table, &count, false);
    bool removed = false;
    if (limit >= 1) removal_pass(first, table, count, &handle, &removed);
    free_record_array(reinterpret_cast<void**>(table), &count);
    if (handle == nullptr || limit == 0 || pass + 1 > limit || !removed) break;
  }

  // Declarations for exactly the library functions referenced by the last pass.
  CodeListNode* cursor = handle;
  CodeListNode* appended_first = nullptr;
  for (int32_t index = 0; index < usage_count; ++index) {
    if (usages[index]->builtin_index < 0) continue;
    const BuiltinEntry* entry = builtin_entry(usages[index]->builtin_index);
    if (entry == nullptr) continue;
    char number[16];
    const char* texts[4] = {declaration_directive(entry), entry->name, entry->function ? entry->function : "",
                            entry->library ? entry->library : ""};
    for (const char* text : texts) {
      code_list_append(&cursor, text, interned_file, 0, 0);
      if (appended_first == nullptr) appended_first = cursor;
    }
    std::snprintf(number, sizeof number, "%d", entry->param_count);
    code_list_append(&cursor, number, interned_file, 0, 0);
    std::snprintf(number, sizeof number, "%d", entry->returns_value);
    code_list_append(&cursor, number, interned_file, 0, 0);
  }
  clear_usages();
  link_source = nullptr;
  return cursor;
}
