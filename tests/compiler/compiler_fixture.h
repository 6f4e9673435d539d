// A fresh compilation for each test: keyword tables, an empty compiler pool, the
// analyzer's start state, no constants of this compilation and zeroed message counters.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/code_list.h"
#include "compiler/constants.h"
#include "compiler/frontend/analyzer.h"
#include "compiler/frontend/parser.h"
#include "compiler/frontend/statement_compiler.h"
#include "compiler/keywords.h"
#include "foundation/compile_messages.h"
#include "foundation/runtime_memory.h"
#include "platform/kernel/memory.h"

// The whole file, bytes as they are; empty when it cannot be read.
inline std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

// Compares text with the expected file at path; ZRK_UPDATE_GOLDEN=1 rewrites the file
// with text first (review the files before committing them).
inline void expect_golden_file(const std::string& path, const std::string& text) {
  if (std::getenv("ZRK_UPDATE_GOLDEN")) std::ofstream(path, std::ios::binary) << text;
  EXPECT_EQ(text, read_file(path)) << "ZRK_UPDATE_GOLDEN=1 rewrites " << path;
}

// The statement compiler back at its start, with its debug, profile and global-warning
// modes off.
inline void reset_statement_compiler() {
  statement_compiler_reset();
  debug_mode = 0;
  profile_mode = 0;
  warn_globals = 0;
}

// Frees the parser's input pool where it is not the compiler's own.
inline void drop_parser_input_pool() {
  if (parser_input_pool != nullptr && parser_input_pool != compiler_pool) pool_destroy(parser_input_pool);
  parser_input_pool = nullptr;
}

class CompilerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    init_keyword_and_opcode_tables();
    compiler_pool = pool_create(64 * 1024);
    analyzer_reset();
    compile_error_count = 0;
    compile_warning_count = 0;
    crt::free(compile_error_text);
    compile_error_text = nullptr;
    warnings_enabled = 1;
  }
  void TearDown() override {
    drop_compile_constants(0);
    drop_compile_constants(1);
    analyzer_reset();
    pool_destroy(compiler_pool);
    compiler_pool = nullptr;
    crt::free(compile_error_text);
    compile_error_text = nullptr;
    compile_error_count = 0;
  }

  // The words of a source as the analyzer leaves them.
  std::vector<CodeListNode*> analyze(const std::string& text, const char* file = nullptr) {
    CodeListNode* last = analyze_main_source(file, text.c_str(), nullptr);
    std::vector<CodeListNode*> words;
    for (CodeListNode* node = code_list_first(last); node; node = node->next) words.push_back(node);
    return words;
  }

  std::vector<std::string> texts(const std::string& text, const char* file = nullptr) {
    std::vector<std::string> result;
    for (CodeListNode* node : analyze(text, file)) result.push_back(node->text);
    return result;
  }

  std::string errors() const { return compile_error_text ? compile_error_text : ""; }
};
