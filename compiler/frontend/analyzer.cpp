// The source analyzer: reads a source character by character, cuts it into words
// (names, numbers, strings, operators), expands definitions and hands each word to the
// preprocessor before it goes into the word list.
#include "compiler/frontend/analyzer.h"

#include <cstring>
#include <string>

#include "foundation/code_list.h"
#include "compiler/constants.h"
#include "compiler/frontend/analyzer_state.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/hashes.h"
#include "foundation/numbers.h"
#include "platform/platform.h"

AnalyzerState analyzer;
CompileOptions compile_options = {0, 0, 0, 1, 1, 1, nullptr};
uint8_t analyzer_assembler_mode = 0;
uint8_t declare_at_analysis = 1;
uint8_t line_has_content = 0;
char expanding_definition_name[256] = {};

int32_t (*external_function_declare_hook)(const char*, const char*, const char*, int32_t, int32_t, int32_t,
                                          int32_t, uint8_t) = nullptr;
void (*import_type_library_hook)(const char*, const char*) = nullptr;
const char* (*library_path_element)(int32_t) = nullptr;

namespace {

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_char(char c) { return is_letter(c) || is_digit(c) || (c && std::strchr("&._#\\", c)); }
bool is_hex_letter(char c) { return c && std::strchr("XABCDEFxabcdef", c) != nullptr; }
bool is_number_char(char c) { return is_digit(c) || c == '.' || is_hex_letter(c); }

// A line ends at a CR, or at an LF that no CR precedes (sources written with LF only).
bool is_line_end(const char* text, int32_t index) {
  return text[index] == '\r' || (text[index] == '\n' && (index == 0 || text[index - 1] != '\r'));
}

// Writes the translation of the character after a backslash.
void append_escape_char(char c, std::string& word) {
  switch (c) {
    case 'n': word += "\r\n"; break;
    case 'l': word += '\n'; break;
    case 'r': word += '\r'; break;
    case 't': word += '\t'; break;
    case '0': word += '\0'; break;
    case '\\': word += '\\'; break;
    case '"': word += '"'; break;
    case '}': word += '}'; break;
    default: break;
  }
}

void count_line(int32_t next_line_start) {
  ++analyzer.line;
  analyzer.line_start = next_line_start;
}

// String arguments of these directives lose their quotes (and braces).
bool bare_string_argument() {
  return analyzer.awaiting == Awaiting::Include || analyzer.awaiting == Awaiting::Import;
}

}  // namespace

bool conditional_active() {
  return analyzer.conditional_depth == -1 || analyzer.levels[analyzer.conditional_depth].skip == 0;
}

void insert_word(AnalyzerCall& call, const char* text, uint16_t column) {
  int32_t line = call.line_override != -1 ? call.line_override : analyzer.line;
  if (call.column_override != -1) column = static_cast<uint16_t>(call.column_override);
  const char* file = call.has_current_file ? call.current_file.c_str() : nullptr;
  code_list_append(call.cursor, text, file, static_cast<uint32_t>(line), column);
  line_has_content = 1;
}

void report_at_word(AnalyzerCall& call, const char* message) {
  const char* file = call.has_current_file ? call.current_file.c_str() : nullptr;
  CodeListNode* node = call.cursor ? *call.cursor : nullptr;
  report_compile_message(file, message, node, node ? -1 : call.index, false);
}

void analyzer_reset() {
  analyzer.~AnalyzerState();
  new (&analyzer) AnalyzerState();
  crt::free(compile_options.icon_file);
  compile_options = {0, 0, 0, 1, 1, 1, nullptr};
  line_has_content = 0;
  expanding_definition_name[0] = '\0';
  code_list_skip = 0;
  compile_constant_scope = 0;
}

char* resolve_program_relative_path(const char* path) {
  if (path == nullptr) return nullptr;
  if (path[0] == '\\' || path[0] == '/') return crt::_strdup(path);
  WCHAR module[261] = {};
  GetModuleFileNameW(nullptr, module, 261);
  char* narrow = to_narrow(module);
  std::string folder = narrow ? narrow : "";
  crt::free(narrow);
  size_t separator = folder.find_last_of("\\/");
  if (separator == std::string::npos) return crt::_strdup(path);
  folder.resize(separator + 1);
  return crt::_strdup((folder + path).c_str());
}

CodeListNode* analyze_source(const char* file_name, const char* text, CodeListNode* cursor, int32_t quiet,
                             int32_t indent, int32_t line_override, int32_t column_override) {
  if (text == nullptr) return cursor;
  bool expanding = analyzer.expansion_depth > 0;
  if (!expanding && file_name != nullptr) {
    uint32_t file_hash = hash_name_text(file_name);
    for (int32_t entry = 0; entry < analyzer.included_count; ++entry) {
      const IncludedFile& included = analyzer.included[entry];
      if (included.file_hash == file_hash &&
          (included.namespace_hash == analyzer.namespace_hash || included.namespace_hash == 0)) {
        return cursor;
      }
    }
    if (analyzer.included_count >= kIncludedFiles) {
      report_compile_message(file_name, "Too many included files", cursor, -1, false);
      return cursor;
    }
    analyzer.included[analyzer.included_count++] = {file_hash, analyzer.namespace_hash};
  }
  if (!expanding && !quiet && file_name != nullptr) {
    std::string line(indent > 0 ? indent : 0, ' ');
    line += file_name;
    line += '\n';
    write_compiler_output(line.c_str());
  }

  AnalyzerCall call;
  call.given_file = file_name;
  call.has_current_file = file_name != nullptr;
  call.current_file = file_name ? file_name : "";
  call.quiet = quiet;
  call.indent = indent;
  call.line_override = line_override;
  call.column_override = column_override;
  call.cursor = &cursor;
  call.index = 0;
  call.stop = false;

  const int32_t length = static_cast<int32_t>(std::strlen(text));
  int32_t index = 0;
  Word word;
  word.text.reserve(64);
  while (index < length && !call.stop) {
    if (!expanding) expanding_definition_name[0] = '\0';
    if (compile_error_count >= kAnalyzerErrorStop) break;
    call.index = index;

    // Comments, tested once per pass.
    if (text[index] == '/' && text[index + 1] == '/') {
      while (index < length && text[index] != '\r' && text[index] != '\n') ++index;
      continue;
    }
    if (text[index] == '/' && text[index + 1] == '*') {
      index += 2;
      while (index < length && !(text[index] == '*' && text[index + 1] == '/')) {
        if (is_line_end(text, index)) count_line(index + 1);
        else if (text[index] == '\n') analyzer.line_start = index + 1;
        ++index;
      }
      index = index < length ? index + 2 : length;
      continue;
    }

    word.text.clear();
    word.line_break = false;
    bool is_name = false;
    const char c = text[index];
    int32_t end = index + 1;

    if (is_digit(c)) {
      end = index;
      while (end < length &&
             (is_number_char(text[end]) ||
              ((text[end] == '+' || text[end] == '-') && end > index &&
               (text[end - 1] == 'e' || text[end - 1] == 'E')))) {
        ++end;
      }
      word.text.assign(text + index, end - index);
    } else if (c == '"') {
      bool bare = bare_string_argument();
      if (!bare) word.text += '"';
      end = index + 1;
      bool closed = false;
      while (end < length) {
        char d = text[end];
        if (d == '\\') {
          if (end + 1 < length) {
            if (is_line_end(text, end + 1)) ++analyzer.line;
            append_escape_char(text[end + 1], word.text);
          }
          end += 2;
          continue;
        }
        if (d == '"') {
          ++end;
          closed = true;
          break;
        }
        if (is_line_end(text, end)) ++analyzer.line;
        word.text += d;
        ++end;
      }
      if (end > length) end = length;
      if (!bare) word.text += '"';
      if (!closed) {
        call.index = end;
        report_at_word(call, "Missing closing \"");
      }
    } else if (c == '{') {
      bool bare = bare_string_argument() || analyzer.define_state != 0;
      int32_t depth = 1;
      end = index + 1;
      while (end < length) {
        char d = text[end];
        if (d == '{') ++depth;
        if (d == '}' && --depth == 0) break;
        if (is_line_end(text, end)) ++analyzer.line;
        ++end;
      }
      std::string inner(text + index + 1, end - index - 1);
      word.text = bare ? inner : "\"" + inner + "\"";
      if (end >= length) {
        call.index = length;
        report_at_word(call, "Missing closing }");
        end = length;
      } else {
        ++end;
      }
    } else if (c == '\'') {
      if (index + 1 >= length) {
        report_compile_message(call.has_current_file ? call.current_file.c_str() : nullptr,
                               "Missing closing '", nullptr, index + 1, false);
        break;
      }
      char number[16];
      std::snprintf(number, sizeof number, "%d", static_cast<int>(static_cast<int8_t>(text[index + 1])));
      if (index + 2 < length && text[index + 2] == '\'') {
        word.text = number;
        end = index + 3;
      } else {
        std::string quoted = "\"";
        quoted += text[index + 1];
        end = index + 2;
        bool done = false;
        while (!done) {
          if (end >= length) {
            report_compile_message(call.has_current_file ? call.current_file.c_str() : nullptr,
                                   "Missing closing '", nullptr, end, false);
            break;
          }
          char d = text[end];
          if (d == '\'') {
            quoted += '"';
            ++end;
            done = true;
          } else if (is_line_end(text, end)) {
            ++end;
            count_line(end);
            done = true;
          } else if (d == '\\') {
            if (end + 1 < length) append_escape_char(text[end + 1], quoted);
            end += 2;
          } else {
            quoted += d;
            ++end;
          }
        }
        if (end > length) end = length;
        if (conditional_active()) {
          uint16_t column = static_cast<uint16_t>(end - analyzer.line_start + 1);
          insert_word(call, "EVALSTRING", column);
          insert_word(call, "(", column);
          insert_word(call, quoted.c_str(), column);
          insert_word(call, ")", column);
        }
        index = end;
        continue;
      }
    } else if (c == '#' && is_digit(text[index + 1])) {
      std::string characters = "\"";
      std::string pending;
      end = index + 1;
      auto convert = [&]() {
        if (pending.empty()) return;
        characters += static_cast<char>(truncate_to_int(text_to_number(pending.c_str())) & 0xFF);
        pending.clear();
      };
      while (end < length) {
        char d = text[end];
        if (is_digit(d) || is_hex_letter(d)) {
          pending += d;
        } else if (d == '#') {
          convert();
        } else {
          break;
        }
        ++end;
      }
      convert();
      characters += '"';
      if (conditional_active()) {
        insert_word(call, characters.c_str(), static_cast<uint16_t>(end - analyzer.line_start + 1));
      }
      index = end;
      continue;
    } else if (c && std::strchr("+-*/%~", c)) {
      char next = text[index + 1];
      if ((next == c && (c == '+' || c == '-')) || (next == '=' && std::strchr("+-*/", c))) {
        end = index + 2;
      }
      word.text.assign(text + index, end - index);
    } else if (c && std::strchr("<=>!", c)) {
      char next = text[index + 1];
      std::string pair{c, next};
      if (pair == ">=" || pair == ">>" || pair == "<<" || pair == "<=" || pair == "<>" || pair == "==") {
        end = index + 2;
        word.text = pair;
      } else if (pair == "!=") {
        end = index + 2;
        word.text = "<>";
      } else {
        word.text.assign(1, c);
      }
    } else if (c == '|' || c == '^') {
      end = index;
      while (end < length && std::strchr("^|&=", text[end])) ++end;
      word.text.assign(text + index, end - index);
    } else if (c == '@') {
      end = index;
      while (end < length && text[end] == '@') ++end;
      word.text.assign(text + index, end - index);
    } else if (is_line_end(text, index)) {
      word.text = "\r";
      word.line_break = true;
    } else if (c && std::strchr("(),:;[]", c)) {
      if (c == ':' && text[index + 1] == ':') end = index + 2;
      word.text.assign(text + index, end - index);
    } else if (!is_name_char(c)) {
      if (c == ' ' || c == '\t' || c == '\0' || c == '\n') {
        if (c == '\n') analyzer.line_start = index + 1;
        ++index;
        continue;
      }
      char message[32];
      std::snprintf(message, sizeof message, "Invalid character '%c'", c);
      report_compile_message(call.has_current_file ? call.current_file.c_str() : nullptr, message, nullptr,
                             index, false);
      return cursor;
    } else if (c == '&' && text[index + 1] == '=') {
      end = index + 2;
      word.text = "&=";
    } else {
      end = index;
      while (end < length && is_name_char(text[end])) ++end;
      if (end < length && (text[end] == '$' || text[end] == '%')) ++end;
      word.text.assign(text + index, end - index);
      is_name = true;
    }

    index = end;
    call.index = end;
    if (is_name && analyzer.define_state == 0 && analyzer.declare_state != 3) {
      crt::_strupr(word.text.data());
    }
    word.hash = hash_name(word.text.data(), static_cast<int32_t>(word.text.size()));
    word.column = static_cast<uint16_t>(end - analyzer.line_start + 1);
    if (call.column_override != -1) word.column = static_cast<uint16_t>(call.column_override);

    // Definition expansion: the name gives way to its value's words.
    char last = word.text.empty() ? '\0' : word.text.back();
    if (is_name && last != '$' && last != '%' && analyzer.awaiting != Awaiting::Condition &&
        !analyzer.undef_active && analyzer.define_state != 1 && conditional_active()) {
      int32_t slot = find_compile_constant(word.hash);
      if (slot >= 0) {
        if (analyzer.expansion_depth >= kDefinitionNesting) {
          std::string message = "Define value uses its own name: " + word.text;
          report_at_word(call, message.c_str());
          continue;
        }
        std::snprintf(expanding_definition_name, sizeof expanding_definition_name, "%s", word.text.c_str());
        int32_t saved_line = analyzer.line;
        int32_t saved_line_start = analyzer.line_start;
        std::string value = CompileConstantTable[slot]->value ? CompileConstantTable[slot]->value : "";
        ++analyzer.expansion_depth;
        int32_t line = call.line_override != -1 ? call.line_override : analyzer.line;
        cursor = analyze_source(call.has_current_file ? call.current_file.c_str() : nullptr, value.c_str(),
                                cursor, quiet, indent + 2, line, word.column);
        --analyzer.expansion_depth;
        analyzer.line = saved_line;
        analyzer.line_start = saved_line_start;
        if (!expanding) expanding_definition_name[0] = '\0';
        continue;
      }
    }

    bool consumed = preprocess_word(call, word);
    if (!consumed && !word.text.empty() && !word.line_break) {
      insert_word(call, word.text.c_str(), word.column);
    }
    if (word.line_break) {
      // Every line break counts, also one taken as a directive's argument.
      line_has_content = 0;
      analyzer.else_seen = 0;
      count_line(index);
    }
  }
  return cursor;
}

CodeListNode* analyze_main_source(const char* file_name, const char* text, CodeListNode* cursor) {
  cursor = analyze_source(file_name, text, cursor, 0, 0, -1, -1);
  if (analyzer.conditional_depth != -1) {
    report_compile_message(file_name, "#ENDIF missing to close an #IFDEF statement", cursor, -1, false);
  }
  return cursor;
}

bool analysis_left_words_whole() { return compile_error_count == analyzer.errors_leaving_words_whole; }
