// The common routine of the asm built-ins: analyze an assembler text into words, join the
// label and function definitions, assemble, and discard the block on any error.
#include <cctype>
#include <cstring>
#include <string>

#include "compiler/asm/asm_builtins.h"
#include "compiler/asm/assembler.h"
#include "foundation/code_list.h"
#include "compiler/frontend/analyzer.h"
#include "compiler/frontend/analyzer_state.h"
#include "foundation/compile_messages.h"
#include "foundation/runtime_memory.h"
#include "platform/kernel/types.h"

namespace {

bool is_name_word(const char* text) {
  return std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_';
}

// The analyzer gives ':' and '!' as words of their own. A ':' or '!' directly before a
// name on the same line, or a name opening its line directly followed by ':', becomes
// one definition word ":NAME" / "!NAME".
void join_definition_words(CodeListNode* first) {
  for (CodeListNode* node = first; node; node = node->next) {
    CodeListNode* next = node->next;
    if (!next || next->line != node->line) continue;
    bool marker = std::strcmp(node->text, ":") == 0 || std::strcmp(node->text, "!") == 0;
    if (marker && is_name_word(next->text)) {
      std::string joined = std::string(node->text) + next->text;
      node->text = pool_strdup(compiler_pool, joined.c_str());
      code_list_remove(next);
      continue;
    }
    bool opens_line = !node->prev || node->prev->line != node->line;
    if (opens_line && is_name_word(node->text) && std::strcmp(next->text, ":") == 0) {
      std::string joined = std::string(":") + node->text;
      node->text = pool_strdup(compiler_pool, joined.c_str());
      code_list_remove(next);
    }
  }
}

// Whether the text holds the listing directive, in any case, outside string literals;
// the directive is blanked out so that the analyzer does not read it.
bool take_listing_directive(std::string& text) {
  static const char kDirective[] = "#DEASM";
  bool found = false;
  bool in_string = false;
  for (size_t index = 0; index < text.size(); ++index) {
    if (text[index] == '"') in_string = !in_string;
    if (in_string || text[index] != '#') continue;
    size_t length = sizeof kDirective - 1;
    if (index + length > text.size()) break;
    bool equal = true;
    for (size_t k = 0; k < length; ++k) {
      if (std::toupper(static_cast<unsigned char>(text[index + k])) != kDirective[k]) equal = false;
    }
    if (equal) {
      found = true;
      for (size_t k = 0; k < length; ++k) text[index + k] = ' ';
    }
  }
  return found;
}

}  // namespace

CodeListNode* analyze_assembler_text(const char* text) {
  std::string source = text ? text : "";
  if (take_listing_directive(source)) assembler_listing_enabled = 1;
  uint8_t saved_mode = analyzer_assembler_mode;
  analyzer_assembler_mode = 1;
  // Every text counts its lines from its own start (the debugger and profiler calls add
  // the place of the text); a compilation the text interrupts goes on where it stood.
  const int32_t saved_line = analyzer.line;
  const int32_t saved_line_start = analyzer.line_start;
  analyzer.line = 1;
  analyzer.line_start = 0;
  CodeListNode* last = analyze_source(nullptr, source.c_str(), nullptr, 1, 0, -1, -1);
  analyzer.line = saved_line;
  analyzer.line_start = saved_line_start;
  analyzer_assembler_mode = saved_mode;
  CodeListNode* first = code_list_first(last);
  join_definition_words(first);
  return first;
}

uint8_t* assemble_script_text(const char* text, int32_t size) {
  return platform::pointer_from<uint8_t>(assemble_source(size, text));
}
