// A whole compilation in tests: source through the analyzer, parser, linker and code
// generator with the real vocabulary plus a RECORD built-in, the result listed with node
// numbers in place of addresses, and MAIN run on the machine.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "compiler/codegen/code_generator.h"
#include "compiler/frontend/parser.h"
#include "compiler/frontend/statement_compiler.h"
#include "compiler/frontend/token_reader.h"
#include "compiler/linker.h"
#include "compiler_fixture.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable.h"
#include "foundation/variables.h"
#include "platform/kernel/types.h"
#include "vm/builtin_registry.h"
#include "app/builtin_table.h"
#include "vm/control_flow.h"
#include "vm/instruction_list.h"
#include "vm/listing.h"
#include "vm/machine.h"
#include "vm/procedure_call.h"
#include "tests/foundation/scope_lists.h"

// What RECORD saw, one text per call: texts as they are, numbers as %g.
inline std::vector<std::string> recorded;

inline void record_builtin() {
  ValueCell* cell = stack_pop(current_program);
  if (!cell) {
    recorded.push_back("<empty>");
  } else if (cell->text && !(cell->flags & (kCellWideText | kCellList))) {
    recorded.push_back(static_cast<const char*>(cell->text));
  } else {
    char number[40];
    std::snprintf(number, sizeof number, "%g", cell_number(cell));
    recorded.push_back(number);
  }
}

class CodegenTest : public CompilerTest {
 protected:
  void SetUp() override {
    CompilerTest::SetUp();
    reset_statement_compiler();
    compile_options.link = 1;
    register_all_builtins();
    // The driver's link from the analyzer's declarations to the registry.
    external_function_declare_hook = [](const char* script_name, const char* function_name, const char* library,
                                        int32_t parameters, int32_t returns, int32_t wide, int32_t convention,
                                        uint8_t) {
      return external_function_declare(script_name, function_name, library, static_cast<uint8_t>(parameters),
                                       static_cast<uint8_t>(returns), static_cast<uint8_t>(wide),
                                       static_cast<uint8_t>(convention));
    };
    ASSERT_GE(builtin_register_arity("RECORD", record_builtin, 1, 0), 0);
    recorded.clear();
    saved_optimize = optimize;
    optimize = 0;
  }
  void TearDown() override {
    drop_program();
    optimize = saved_optimize;
    reset_statement_compiler();
    builtin_registry_clear();
    external_function_declare_hook = nullptr;
    drop_parser_input_pool();
    compile_options.link = 1;
    CompilerTest::TearDown();
  }

  // The linked words of a source compiled as "test.zrk".
  CodeListNode* linked_words(const std::string& source) {
    CodeListNode* words = analyze_main_source("test.zrk", source.c_str(), nullptr);
    words = parse_word_list("test.zrk", words);
    return link_word_list("test.zrk", words);
  }

  // Generates code for a word list into a new program; the last node.
  InstructionNode* generate(CodeListNode* words) {
    drop_program();
    program = create_program_context();
    tail = generate_code("test.zrk", program, words, procedures, &procedure_count, &winmain);
    return tail;
  }

  InstructionNode* compile(const std::string& source) { return generate(linked_words(source)); }

  // A word list made of these texts, as the linker would hand it over.
  static CodeListNode* word_list(const std::vector<std::string>& texts) {
    CodeListNode* cursor = nullptr;
    uint32_t line = 1;
    for (const std::string& text : texts) code_list_append(&cursor, text.c_str(), nullptr, line++, 1);
    return cursor;
  }

  // One line per node: its number, the listing line with every node address replaced by
  // "#n" (the successor a jump resumes at), "<-" on jump targets.
  std::string listing() const {
    std::vector<const InstructionNode*> nodes;
    for (InstructionNode* node = instruction_list_first(tail); node; node = node->next) nodes.push_back(node);
    auto name_of_address = [&](uint32_t address) -> std::string {
      if (address == 0) return "-";
      for (size_t index = 0; index < nodes.size(); ++index) {
        if (platform::address_of(nodes[index]) == address) return "#" + std::to_string(index);
      }
      return "?";
    };
    std::string result;
    for (size_t index = 0; index < nodes.size(); ++index) {
      char* raw = instruction_listing_line(nodes[index]);
      std::string line = raw ? raw : "";
      crt::free(raw);
      const size_t bar = line.find('|');
      if (bar != std::string::npos) line = line.substr(bar + 1);
      std::string replaced;
      for (size_t at = 0; at < line.size();) {
        if (line[at] == '0' && at + 1 < line.size() && (line[at + 1] == 'x' || line[at + 1] == 'X')) {
          size_t end = at + 2;
          while (end < line.size() && std::isxdigit(static_cast<unsigned char>(line[end]))) ++end;
          replaced += name_of_address(static_cast<uint32_t>(std::stoul(line.substr(at + 2, end - at - 2), nullptr, 16)));
          at = end;
        } else {
          replaced += line[at++];
        }
      }
      // Bytes outside printable ASCII (procedure headers) as <XX>.
      std::string printable;
      for (char c : replaced) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || byte < 0x20) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "<%02X>", byte);
          printable += hex;
        } else {
          printable += c;
        }
      }
      replaced = printable;
      while (!replaced.empty() && replaced.back() == ' ') replaced.pop_back();
      // Operands the listing does not show: the text, the number (a node address as #n),
      // the work word.
      const InstructionNode* node = nodes[index];
      if (node->text && std::string(node->text).find_first_not_of(' ') != std::string::npos &&
          static_cast<unsigned char>(node->text[0]) < 0x80 && replaced.find(node->text) == std::string::npos) {
        replaced += "  text=" + std::string(node->text);
      }
      // An external call's number is a registry index, which grows with the vocabulary.
      const bool external_call = node->opcode >= 109 && node->opcode <= 176;
      if (node->operand != 0 && !external_call) {
        std::string named = name_of_address(static_cast<uint32_t>(node->operand));
        char number[40];
        std::snprintf(number, sizeof number, "%g", node->operand);
        if (named != "?") replaced += "  number=" + named;
        else if (replaced.find(number) == std::string::npos) replaced += std::string("  number=") + number;
      }
      if (node->work != 0) replaced += "  work=" + std::to_string(node->work);
      const InstructionExtension* extension = nodes[index]->extension;
      std::string number = std::to_string(index);
      result += std::string(4 - std::min<size_t>(4, number.size()), ' ') + number;
      result += extension && extension->is_jump_target ? " <-" : "   ";
      result += replaced;
      if (extension && extension->link) result += "  => " + name_of_address(platform::address_of(extension->link));
      result += "\n";
    }
    return result;
  }

  // The opcodes of the list from its first node.
  std::vector<uint32_t> opcodes() const {
    std::vector<uint32_t> result;
    for (InstructionNode* node = instruction_list_first(tail); node; node = node->next) result.push_back(node->opcode);
    return result;
  }

  // Runs main_entry to its end in the generated program with a global and a local scope.
  void run_main() {
    ASSERT_NE(main_entry, nullptr);
    ProgramContext* previous = current_program;
    current_program = program;
    program->globals = variable_record_allocate(program, false);
    locals = variable_record_allocate(program, false);
    current_scope = locals;
    current_object = nullptr;
    try_depth = 0;
    stop_flag = 0;
    current_frame = nullptr;
    current_instruction = nullptr;
    call_program = program;
    call_procedure = main_entry;
    vm_call_procedure();
    current_program = previous;
  }

  void drop_program() {
    if (!program) return;
    ProgramContext* previous = current_program;
    current_program = program;
    release_local_scopes(program);
    close_scope_lists(program, locals);
    locals = nullptr;
    current_object = nullptr;
    stack_free_all(program);
    free_instruction_list(program, tail);
    tail = nullptr;
    free_record_array(reinterpret_cast<void**>(procedures), &procedure_count);
    program_context_release(program);
    current_program = previous == program ? nullptr : previous;
    program = nullptr;
    emit_pool = nullptr;
    main_entry = nullptr;
  }

  ProgramContext* program = nullptr;
  InstructionNode* tail = nullptr;
  ProcedureRecord* procedures[kLinkProcedureSlots] = {};
  int32_t procedure_count = 0;
  uint8_t winmain = 0;
  Variable* locals = nullptr;
  uint8_t saved_optimize = 1;
};
