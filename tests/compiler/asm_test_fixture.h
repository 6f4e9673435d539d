// A compilation fixture for the inline assembler: assembles a text into a block, keeps
// the block until the test ends and gives the words between the entry and the end.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "compiler/asm/assembler.h"
#include "compiler/asm/assembler_state.h"
#include "compiler_fixture.h"

class AssemblerTest : public CompilerTest {
 protected:
  void TearDown() override {
    free_code_block(block_);
    block_ = nullptr;
    CompilerTest::TearDown();
  }

  // Assembles lines given with ';' or '\n' between them.
  uint8_t* assemble(std::string text, int32_t size = 4096) {
    for (char& c : text) {
      if (c == ';') c = '\n';
    }
    free_code_block(block_);
    CodeListNode* first = analyze_assembler_text(text.c_str());
    block_ = assemble_inline_code(&size, first);
    return block_;
  }

  uint32_t word_at(int32_t offset) const {
    uint32_t word;
    std::memcpy(&word, block_ + offset, 4);
    return word;
  }

  // The statements' words: after the 44 bytes of the entry, before the final two words.
  std::vector<uint32_t> statement_words() const {
    std::vector<uint32_t> words;
    for (uint8_t* at = block_ + 44; at < assembler.code_end - 8; at += 4) {
      uint32_t word;
      std::memcpy(&word, at, 4);
      words.push_back(word);
    }
    return words;
  }

  // The constant table's words.
  std::vector<uint32_t> table_words() const {
    std::vector<uint32_t> words;
    for (uint8_t* at = assembler.code_end; at < assembler.position; at += 4) {
      uint32_t word;
      std::memcpy(&word, at, 4);
      words.push_back(word);
    }
    return words;
  }

  static std::string hex(const std::vector<uint32_t>& words) {
    std::string text;
    char buffer[16];
    for (uint32_t word : words) {
      std::snprintf(buffer, sizeof buffer, "%08X ", word);
      text += buffer;
    }
    return text;
  }

  uint8_t* block_ = nullptr;
};
