// A compilation up to the postfix word list: the analyzer's words parsed with a few
// built-ins registered, the output listed one word a line with its place.
#pragma once

#include <string>

#include "compiler/frontend/parser.h"
#include "compiler/frontend/statement_compiler.h"
#include "compiler/frontend/token_reader.h"
#include "compiler_fixture.h"
#include "vm/builtin_registry.h"

inline void do_nothing_builtin() {}

class ParserTest : public CompilerTest {
 protected:
  void SetUp() override {
    CompilerTest::SetUp();
    reset_statement_compiler();
    builtin_registry_clear();
    // name, parameter count, returns a value, variadic, saves a stack mark
    struct Builtin {
      const char* name;
      uint8_t parameters;
      uint8_t returns;
      uint8_t variadic;
      uint8_t save_sp;
    };
    static const Builtin kBuiltins[] = {
        {"PRINT", 1, 0, 0, 0},    {"MAX", 2, 1, 0, 0},      {"SHOWALL", 0, 0, 1, 1},  {"IF", 1, 0, 0, 0},
        {"WHILE", 1, 0, 0, 0},    {"UNTIL", 1, 0, 0, 0},    {"CASE", 1, 0, 0, 0},     {"FOR", 0, 0, 1, 0},
        {"FOREACH", 0, 0, 1, 0},  {"RETURN", 0, 0, 1, 0},   {"END", 0, 0, 0, 0},      {"ELSE", 0, 0, 0, 0},
        {"REPEAT", 0, 0, 0, 0},   {"BREAK", 0, 0, 0, 0},    {"TRY", 0, 0, 0, 0},      {"EXCEPT", 0, 0, 0, 0},
        {"LOCAL", 0, 0, 1, 0},    {"GLOBAL", 0, 0, 1, 0},   {"STRUCT", 0, 0, 1, 0},   {"PUBLIC", 0, 0, 1, 0},
        {"PRIVATE", 0, 0, 1, 0},  {"AND", 2, 1, 0, 0},      {"OR", 2, 1, 0, 0},       {"NOT", 1, 1, 0, 0},
        {"__ELSEIF", 1, 0, 0, 0},
    };
    for (const Builtin& builtin : kBuiltins) {
      int32_t index = builtin.variadic
                          ? builtin_register_variadic(builtin.name, do_nothing_builtin, 1, builtin.save_sp)
                          : builtin_register_arity(builtin.name, do_nothing_builtin, builtin.parameters,
                                                   builtin.returns);
      ASSERT_GE(index, 0) << builtin.name;
    }
  }
  void TearDown() override {
    reset_statement_compiler();
    builtin_registry_clear();
    drop_parser_input_pool();
    CompilerTest::TearDown();
  }

  // Appends a word's text with its marker and control bytes as <XX>.
  static void append_shown(std::string& out, const char* text) {
    for (const char* c = text; *c; ++c) {
      auto byte = static_cast<unsigned char>(*c);
      if (byte >= 0x80 || byte < 0x20) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "<%02X>", byte);
        out += hex;
      } else {
        out += *c;
      }
    }
  }

  // One line per output word: the text (bytes above 127 as <XX>), a tab, line:column.
  static std::string listing(CodeListNode* last) {
    std::string result;
    for (CodeListNode* node = code_list_first(last); node != nullptr; node = node->next) {
      append_shown(result, node->text);
      result += "\t" + std::to_string(node->line) + ":" + std::to_string(node->column) + "\n";
    }
    return result;
  }

  // The postfix words of a source, compiled as the file "test.zrk".
  CodeListNode* parse(const std::string& source) {
    CodeListNode* words = analyze_main_source("test.zrk", source.c_str(), nullptr);
    return parse_word_list("test.zrk", words);
  }

  // Just the word texts, markers as <XX>, separated by blanks.
  std::string words_of(const std::string& source) {
    std::string result;
    for (CodeListNode* node = code_list_first(parse(source)); node != nullptr; node = node->next) {
      if (!result.empty()) result += ' ';
      append_shown(result, node->text);
    }
    return result;
  }
};
