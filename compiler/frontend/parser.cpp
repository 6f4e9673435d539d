// The parser loop and the expression levels.
#include "compiler/frontend/parser.h"

#include <cctype>
#include <cstring>
#include <string>

#include "compiler/frontend/statement_internal.h"
#include "compiler/frontend/token_reader.h"
#include "compiler/keywords.h"
#include "foundation/compile_messages.h"
#include "foundation/runtime_memory.h"
#include "foundation/file_helpers.h"
#include "platform/kernel/memory.h"

Pool* parser_input_pool = nullptr;

namespace {

constexpr uint32_t kOutputPoolBlock = 524288;

bool word_is(const CodeListNode* node, Keyword word) { return node != nullptr && is_keyword(node->hash, word); }

// Writes an operator word with its own place and the caller's file name.
void emit_operator(char** source, CodeListNode** output, const CodeListNode* op) {
  code_list_append(output, op->text, *source, op->line, op->column);
}

// One binary level: the tighter level, then operator, tighter level, operator ...
template <typename Tighter>
void binary_level(char** source, char* kind, CodeListNode** input, CodeListNode** output, const char* kinds,
                  Tighter tighter) {
  tighter(source, kind, input, output);
  while (*input != nullptr && *kind != 0 && std::strchr(kinds, *kind) != nullptr &&
         compile_error_count < kTokenReaderErrorStop) {
    CodeListNode* op = *input;
    const char op_kind = *kind;
    if (!read_token(*source, kind, input)) break;
    tighter(source, kind, input, output);
    emit_operator(source, output, op);
    if (op_kind != 'N') --pending_outputs;
  }
}

void operand_level(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  compile_statement(source, kind, input, output);
}

void division_level(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  binary_level(source, kind, input, output, "/DN%~", operand_level);
}

void multiplicative_level(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  binary_level(source, kind, input, output, "*M", division_level);
}

void additive_level(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  binary_level(source, kind, input, output, "+-rxa", multiplicative_level);
}

void comparison_level(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  static const char kinds[] = {'<', '!', '=', 2, '.', '>', 'h', 'L', 0};
  binary_level(source, kind, input, output, kinds, additive_level);
}

// The statement may end here: a separator or the first word of a statement that needs none.
bool is_statement_boundary(char kind, const CodeListNode* node) {
  if (kind == ';' || kind == ',') return true;
  if (kind != 0 && std::strchr("123k4eECy", kind) != nullptr) return true;
  if (node == nullptr) return false;
  for (Keyword word : {Keyword::If, Keyword::ElseIfMarker, Keyword::Repeat, Keyword::While, Keyword::Foreach,
                       Keyword::ForeachRev, Keyword::For, Keyword::Case, Keyword::Else, Keyword::DebugMarker,
                       Keyword::Try, Keyword::Except, Keyword::Finally, Keyword::DoubleColon,
                       Keyword::DebugFileDirective, Keyword::DebugOnDirective, Keyword::DebugOffDirective,
                       Keyword::NoWarningDirective, Keyword::CodeDirective, Keyword::ClassDirective,
                       Keyword::EndClassDirective, Keyword::ObjectDirective, Keyword::InheritedDirective,
                       Keyword::NamespaceDirective, Keyword::EndNamespaceDirective, Keyword::RangeCheckDirective,
                       Keyword::ExplicitDirective}) {
    if (word_is(node, word)) return true;
  }
  return false;
}

// Statements after which the next may follow without a separator: block keywords,
// procedure headers and the class and namespace directives.
bool needs_no_separator(char first_kind, const CodeListNode* first) {
  if (std::strchr("1234ekESSsiUu`", first_kind) != nullptr) return true;
  for (Keyword word : {Keyword::If, Keyword::ElseIfMarker, Keyword::Else, Keyword::While, Keyword::For, Keyword::Foreach,
                       Keyword::ForeachRev, Keyword::Repeat, Keyword::Case, Keyword::Try, Keyword::Except,
                       Keyword::Finally}) {
    if (word_is(first, word)) return true;
  }
  return false;
}

// What a ';' ends: the values and assignment targets of the statement.
void end_statement_state() {
  pending_outputs = 0;
  target_count = 1;
}

// Frees the input words from first up to (not including) stop into the analyzer's pool.
void free_statement_words(CodeListNode* first, CodeListNode* stop) {
  Pool* output_pool = compiler_pool;
  compiler_pool = parser_input_pool;
  while (first != nullptr && first != stop) first = code_list_remove(first);
  compiler_pool = output_pool;
}

std::string base_name(const char* path) {
  std::string name = path;
  size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// A CASE label line: one or more label expressions and ":" with their count.
void compile_case_labels(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  emit_word(output, "__STARTCASE", *input);
  parse_expression(source, kind, input, output, 0);
  --pending_outputs;
  if (*kind == 'C') {
    emit_word(output, ":1", *input);
    read_token(*source, kind, input);
    return;
  }
  if (*kind != ',') {
    compile_error(*source, ": or , expected", *input);
    return;
  }
  int32_t labels = 1;
  while (*kind == ',') {
    if (!read_token(*source, kind, input)) break;
    ++labels;
    parse_expression(source, kind, input, output, 0);
    --pending_outputs;
  }
  if (*kind == 'C' || *kind == ';' || *kind == '\n') {
    emit_word(output, ":" + std::to_string(labels), *input);
    read_token(*source, kind, input);
  } else {
    compile_error(*source, ": or , expected", *input);
  }
}

}  // namespace

void parse_expression(char** source, char* kind, CodeListNode** input, CodeListNode** output,
                      int32_t first_operand) {
  const uint8_t saved = in_expression;
  if (!first_operand) in_expression = 1;
  comparison_level(source, kind, input, output);
  if (*input != nullptr && (*kind == 'A' || *kind == 'R') && compile_error_count < kTokenReaderErrorStop) {
    // The statement compiler takes the logical word and its right side.
    comparison_level(source, kind, input, output);
    --pending_outputs;
  }
  in_expression = saved;
}

void compile_expression(char** source, char* kind, CodeListNode** input, CodeListNode** output,
                        bool first_operand) {
  parse_expression(source, kind, input, output, first_operand ? 1 : 0);
}

void emit_profile_marker(const char* file_name, const CodeListNode* first_word, CodeListNode** output) {
  if (first_word == nullptr || word_is(first_word, Keyword::CodeDirective)) return;
  std::string name;
  if (file_name == nullptr) {
    name = "<null>";
  } else {
    name = file_exists(file_name) ? base_name(file_name) : std::string(file_name);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  code_list_append(output, ("\"" + name + "\"").c_str(), file_name, first_word->line, first_word->column);
  code_list_append(output, std::to_string(first_word->line).c_str(), file_name, first_word->line,
                   first_word->column);
  code_list_append(output, "__PROFILE", file_name, first_word->line, first_word->column);
}

CodeListNode* parse_word_list(const char* main_path, CodeListNode* node) {
  CodeListNode* input = code_list_first(node);
  words_total = 0;
  for (CodeListNode* word = input; word != nullptr; word = word->next) ++words_total;
  words_read = 0;
  if (status_window_update != nullptr) {
    std::string text = "Parsing (" + (main_path ? base_name(main_path) : std::string()) + ")...";
    status_window_update(text.c_str(), 0, words_total);
  }
  parser_input_pool = compiler_pool;
  Pool* output_pool = pool_create(kOutputPoolBlock);
  if (output_pool == nullptr) return nullptr;
  compiler_pool = output_pool;

  CodeListNode* output = nullptr;
  if (input == nullptr) return nullptr;
  char* source = main_path ? crt::_strdup(main_path) : nullptr;
  char kind = 1;
  read_token(source, &kind, &input);
  while (input != nullptr && compile_error_count < kTokenReaderErrorStop) {
    CodeListNode* first = input;
    const char first_kind = kind;
    const uint32_t first_line = first->line;
    const uint16_t first_column = first->column;
    const bool repeat_or_end = word_is(first, Keyword::Repeat) || word_is(first, Keyword::End);
    const bool code_directive = word_is(first, Keyword::CodeDirective);
    const bool open_ended = first_kind != 0 && needs_no_separator(first_kind, first);
    bool case_label = false;

    if (debug_mode && !repeat_or_end && !code_directive && first_kind != 'V') {
      code_list_append(&output, "__DEBUG", main_path, first_line, first_column);
    }
    if (word_is(first, Keyword::RangeCheckDirective) || word_is(first, Keyword::ExplicitDirective)) {
      emit_word(&output, first->text, first);
      read_token(source, &kind, &input);
    } else if (first_kind != 0 && std::strchr("VOFv1234k`SsoyeEi(-Uun", first_kind) != nullptr) {
      if (first_kind == 'V' || first_kind == '(' || first_kind == '-') {
        compile_case_labels(&source, &kind, &input, &output);
        case_label = true;
      } else {
        compile_statement(&source, &kind, &input, &output);
      }
      if (!in_expression) {
        for (; pending_outputs > 0; --pending_outputs) emit_word(&output, "DROPSTACK", input ? input : nullptr);
        pending_outputs = 0;
      }
    } else if (first_kind == 'p' || first_kind == 'm') {
      compile_statement(&source, &kind, &input, &output);   // ++x% and --x%
    }
    // Other words start no statement: the end test takes an empty statement's ';', and
    // reports and skips a stray word once (the statement compiler would skip it too, and
    // the end test then the next statement's first word).

    // The statement's end: a separator, or a word that starts a statement by itself.
    if (!case_label && input != nullptr && compile_error_count < kTokenReaderErrorStop) {
      if (word_is(input, Keyword::RangeCheckDirective) || word_is(input, Keyword::ExplicitDirective)) {
        emit_word(&output, input->text, input);
        read_token(source, &kind, &input);
      } else if (kind == ';' || kind == ',') {
        if (profile_mode) emit_profile_marker(main_path, first, &output);
        if (kind == ';') end_statement_state();
        declaration_mode = 0;
        read_token(source, &kind, &input);
      } else if (input == first || (!open_ended && !is_statement_boundary(kind, input))) {
        // A word that may follow a statement but starts none (a stray ':') is as wrong
        // as any other: left in place it would begin the next statement again.
        compile_error(source, "Syntax error", input);
        if (read_token(source, &kind, &input) && kind == 'C') read_token(source, &kind, &input);
        // The next statement starts afresh, as after a ';'.
        end_statement_state();
        declaration_mode = 0;
      } else {
        declaration_mode = 0;
      }
    }
    if (repeat_or_end && debug_mode && !code_directive) {
      code_list_append(&output, "__DEBUG", main_path, first_line, first_column);
    }
    const bool consumed = first != input;
    free_statement_words(first, input);
    if (!consumed) break;  // nothing was consumed: stop rather than loop
  }
  crt::free(source);
  last_word_read = nullptr;  // freed with the last statement
  return output;
}
