// The preprocessor: the directives that the analyzer runs on each word before it goes
// into the word list (conditionals, definitions, includes, namespaces, declarations,
// imports and compile options).
#include <cstring>
#include <string>

#include "foundation/code_list.h"
#include "compiler/constants.h"
#include "compiler/frontend/analyzer.h"
#include "compiler/frontend/analyzer_state.h"
#include "compiler/keywords.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/file_helpers.h"
#include "foundation/hashes.h"
#include "foundation/numbers.h"
#include "platform/platform.h"

namespace {

bool is(const Word& word, Keyword keyword) { return word.hash == keyword_hash(keyword); }

void sync_skip_flag() { code_list_skip = conditional_active() ? 0 : 1; }

// The text between the first and last characters.
std::string inner_text(const std::string& text) {
  return text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
}

std::string without_quotes(const std::string& text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return inner_text(text);
  return text;
}

std::string folder_of(const std::string& path) {
  size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// Finds, reads and analyzes an included file in place; false when it cannot be read.
bool include_file(AnalyzerCall& call, const std::string& written) {
  std::string name = written;
  if (name.find('.') == std::string::npos) name += ".zrk";

  std::string candidates[8];
  int count = 0;
  candidates[count++] = name;
  if (call.given_file != nullptr) candidates[count++] = folder_of(call.given_file) + name;
  if (call.has_current_file) {
    std::string folder = folder_of(call.current_file);
    if (folder.empty() && call.given_file != nullptr) folder = folder_of(call.given_file);
    candidates[count++] = folder + name;
  } else {
    candidates[count++] = name;
  }
  std::string root = program_folder ? program_folder : "";
  candidates[count++] = root + name;
  candidates[count++] = root + "Lib\\" + name;
  std::string chosen;
  bool found = false;
  for (int candidate = 0; candidate < count && !found; ++candidate) {
    chosen = candidates[candidate];
    found = file_exists(chosen.c_str()) != 0;
  }
  for (int32_t element = 0; !found && library_path_element != nullptr; ++element) {
    const char* folder = library_path_element(element);
    if (folder == nullptr) break;
    chosen = std::string(folder) + name;
    found = file_exists(chosen.c_str()) != 0;
  }

  // A candidate found as written is read as written: a relative host path names the
  // working folder's file, not one under the program's folder.
  char* full = found ? crt::_strdup(chosen.c_str()) : resolve_program_relative_path(chosen.c_str());
  int32_t size = 0;
  char* text = full ? read_file_to_buffer(full, &size, 0, -1) : nullptr;
  if (text == nullptr) {
    std::string message = "File \"" + name + "\" not found";
    report_compile_message(call.has_current_file ? call.current_file.c_str() : nullptr, message.c_str(),
                           nullptr, call.index, false);
    crt::free(full);
    return false;
  }
  int32_t saved_line = analyzer.line;
  int32_t saved_line_start = analyzer.line_start;
  analyzer.line = 1;
  analyzer.line_start = 0;
  if (!analyzer_assembler_mode) {
    code_list_append(call.cursor, "#CODE", full, 1, 0);
    code_list_append(call.cursor, (std::string("\"") + full + "\"").c_str(), full, 1, 0);
  }
  *call.cursor = analyze_source(full, text, *call.cursor, call.quiet, call.indent + 2, -1, -1);
  analyzer.line = saved_line;
  analyzer.line_start = saved_line_start;
  crt::free(text);
  if (!analyzer_assembler_mode) {
    const char* current = call.has_current_file ? call.current_file.c_str() : nullptr;
    code_list_append(call.cursor, "#CODE", current, analyzer.line, 0);
    code_list_append(call.cursor, (std::string("\"") + call.current_file + "\"").c_str(), current,
                     analyzer.line, 0);
  }
  crt::free(full);
  return true;
}

void finish_definition(AnalyzerCall& call) {
  uint32_t name_hash = hash_name(analyzer.pending_name.data(), static_cast<int32_t>(analyzer.pending_name.size()));
  uint32_t value_hash =
      hash_name(analyzer.pending_value.data(), static_cast<int32_t>(analyzer.pending_value.size()));
  if (name_hash == value_hash) {
    report_at_word(call, "Define value cannot be the same as it's name");
  } else {
    char* value = crt::_strdup(analyzer.pending_value.c_str());
    if (define_compile_constant(analyzer.pending_name.data(), value) < 0) {
      report_at_word(call, "Too many definitions");
    }
  }
  analyzer.pending_name.clear();
  analyzer.pending_value.clear();
  analyzer.define_state = 0;
}

// Conditional directives; true when the word was one.
bool conditional_directive(AnalyzerCall& call, const Word& word) {
  bool active = conditional_active();
  ConditionalLevel* level =
      analyzer.conditional_depth >= 0 ? &analyzer.levels[analyzer.conditional_depth] : nullptr;
  if (is(word, Keyword::IfdefDirective) || is(word, Keyword::IfndefDirective)) {
    if (!active) {
      ++analyzer.nested_skip;
    } else if (analyzer.conditional_depth + 1 >= kConditionalLevels) {
      report_at_word(call, "Too many nested #IFDEF statements");
      ++analyzer.overflow_levels;
      analyzer.awaiting = Awaiting::DropOne;
    } else {
      ConditionalLevel& opened = analyzer.levels[++analyzer.conditional_depth];
      opened.skip = is(word, Keyword::IfndefDirective) ? 1 : 0;
      opened.taken = 0;
      analyzer.awaiting = Awaiting::Condition;
    }
    return true;
  }
  bool is_elseif = is(word, Keyword::ElseifDirective);
  bool is_else = is(word, Keyword::ElseDirective);
  bool is_endif = is(word, Keyword::EndifDirective);
  if (!is_elseif && !is_else && !is_endif) return false;
  if (analyzer.overflow_levels > 0 && active) {
    if (is_endif) --analyzer.overflow_levels;
    if (is_elseif) analyzer.awaiting = Awaiting::DropOne;
    return true;
  }
  if (level == nullptr) {
    report_at_word(call, is_endif ? "#ENDIF without #IFDEF" : is_else ? "#ELSE without #IFDEF" : "#ELSEIF without #IFDEF");
    if (is_elseif) analyzer.awaiting = Awaiting::DropOne;
    return true;
  }
  if (!active && analyzer.nested_skip > 0) {
    if (is_endif) --analyzer.nested_skip;
    return true;
  }
  if (is_elseif) {
    if (level->taken == 0) {
      level->skip = 0;
      analyzer.awaiting = Awaiting::Condition;
    } else {
      level->skip = 1;
    }
  } else if (is_else) {
    level->skip = level->taken;
  } else {
    level->taken = 0;
    level->skip = 0;
    --analyzer.conditional_depth;
  }
  return true;
}

bool declare_directive(const Word& word) {
  struct Form {
    Keyword keyword;
    uint8_t string_conversion;
    uint8_t convention;
  };
  static constexpr Form forms[] = {{Keyword::DeclareDirective, 0, 1},
                                   {Keyword::DeclareApiDirective, 1, 1},
                                   {Keyword::CDeclareDirective, 0, 0},
                                   {Keyword::CDeclareApiDirective, 1, 0}};
  for (const Form& form : forms) {
    if (is(word, form.keyword)) {
      analyzer.declare_state = 1;
      analyzer.declare_string_conversion = form.string_conversion;
      analyzer.declare_convention = form.convention;
      return true;
    }
  }
  return false;
}

}  // namespace

bool preprocess_word(AnalyzerCall& call, Word& word) {
  // 1. The awaited condition name (or a word refused with its directive).
  if (analyzer.awaiting == Awaiting::DropOne && !word.text.empty()) {
    analyzer.awaiting = Awaiting::Nothing;
    return true;
  }
  if (analyzer.awaiting == Awaiting::Condition && !word.text.empty()) {
    ConditionalLevel& level = analyzer.levels[analyzer.conditional_depth];
    if (find_compile_constant(word.hash) < 0) level.skip ^= 1;
    if (level.skip == 0) level.taken = 1;
    analyzer.awaiting = Awaiting::Nothing;
    sync_skip_flag();
    return true;
  }
  // 2. Conditionals, 3. dropped text.
  if (conditional_directive(call, word)) {
    sync_skip_flag();
    return true;
  }
  if (!conditional_active()) return true;

  // 4. ELSE IF becomes ELSE __ELSEIF.
  if (is(word, Keyword::Else)) analyzer.else_seen = 1;
  if (is(word, Keyword::If)) {
    if (analyzer.else_seen && *call.cursor != nullptr && (*call.cursor)->hash == keyword_hash(Keyword::Else)) {
      insert_word(call, "__ELSEIF", word.column);
      return true;
    }
    analyzer.else_seen = 0;
  }

  // 5. Definitions.
  if (analyzer.define_state == 1 && !word.text.empty()) {
    analyzer.pending_name = word.text;
    crt::_strupr(analyzer.pending_name.data());
    analyzer.pending_value.clear();
    analyzer.define_state = 2;
    return true;
  }
  if (analyzer.define_state == 2) {
    if (word.line_break) {
      if (analyzer.continuation) analyzer.continuation = 0;
      else finish_definition(call);
    } else if (word.text == "\\") {
      analyzer.continuation = 1;
    } else {
      analyzer.pending_value += word.text;
    }
    return true;
  }
  if (is(word, Keyword::DefineDirective)) {
    analyzer.define_state = 1;
    return true;
  }

  // 6. The debug log and warnings.
  if (analyzer.awaiting == Awaiting::DebugFile) {
    analyzer.awaiting = Awaiting::Nothing;
    if (compile_options.debug == 1) {
      std::string path = word.text.size() > 0 && word.text[0] == '"' ? inner_text(word.text) : word.text;
      debug_log_open(path.c_str());
    }
    return true;
  }
  if (is(word, Keyword::DebugFileDirective)) {
    analyzer.awaiting = Awaiting::DebugFile;
    return true;
  }
  if (is(word, Keyword::DebugOnDirective) || is(word, Keyword::DebugOffDirective)) {
    compile_options.debug = is(word, Keyword::DebugOnDirective) ? 1 : 0;
    return true;
  }
  if (is(word, Keyword::NoWarningDirective)) {
    compile_options.warnings = 0;
    warnings_enabled = 0;
    return true;
  }

  // 7. The icon.
  if (analyzer.awaiting == Awaiting::Icon) {
    analyzer.awaiting = Awaiting::Nothing;
    if (compile_options.icon_file == nullptr) compile_options.icon_file = crt::_strdup(inner_text(word.text).c_str());
    return true;
  }
  if (is(word, Keyword::IconDirective)) {
    analyzer.awaiting = Awaiting::Icon;
    return true;
  }

  // 8. The place named by #CODE; the word itself goes on into the list.
  if (analyzer.awaiting == Awaiting::Code && !analyzer_assembler_mode) {
    analyzer.awaiting = Awaiting::Nothing;
    std::string place = inner_text(word.text);
    size_t comma = place.find(',');
    if (comma != std::string::npos) {
      analyzer.line = truncate_to_int(text_to_number(place.substr(comma + 1).c_str()));
      place.resize(comma);
    } else {
      analyzer.line = 0;
    }
    call.current_file = place;
    call.has_current_file = true;
    analyzer.line_start = call.index;
  }

  // 9. The link setting.
  if (analyzer.awaiting == Awaiting::Link) {
    analyzer.awaiting = Awaiting::Nothing;
    std::string option = word.text;
    crt::_strlwr(option.data());
    if (option == "1") compile_options.link = 1;
    else if (option == "off") compile_options.link = 0;
    else if (option == "multi") compile_options.link = 999;
    else report_at_word(call, "Invalid link option");
    return true;
  }

  // 10. Option directives.
  if (!analyzer_assembler_mode) {
    if (is(word, Keyword::CodeDirective)) {
      analyzer.awaiting = Awaiting::Code;
      return false;
    }
    if (is(word, Keyword::GlobalsDirective) || is(word, Keyword::LocalsDirective)) {
      compile_options.globals = is(word, Keyword::GlobalsDirective) ? 1 : 0;
      compile_constant_scope = compile_options.globals;
      return true;
    }
    if (is(word, Keyword::LibraryDirective)) {
      compile_options.library = 1;
      return true;
    }
    if (is(word, Keyword::NoZrcDirective)) {
      compile_options.no_compiled_file = 1;
      return true;
    }
    if (is(word, Keyword::LinkDirective)) {
      analyzer.awaiting = Awaiting::Link;
      return true;
    }
  }

  // 11. #UNDEF names up to the line end.
  if (analyzer.undef_active) {
    if (word.line_break) {
      analyzer.undef_active = 0;
    } else {
      remove_compile_constant(find_compile_constant(word.hash));
    }
    return true;
  }
  if (is(word, Keyword::UndefDirective)) {
    analyzer.undef_active = 1;
    return true;
  }

  // 12. Includes.
  if (analyzer.awaiting == Awaiting::Include) {
    analyzer.awaiting = Awaiting::Nothing;
    if (!include_file(call, word.text)) call.stop = true;
    return true;
  }
  if (is(word, Keyword::IncludeDirective)) {
    analyzer.awaiting = Awaiting::Include;
    return true;
  }

  // 13. Namespaces: both words stay in the list.
  if (analyzer.awaiting == Awaiting::Namespace) {
    analyzer.awaiting = Awaiting::Nothing;
    if (analyzer.namespace_depth >= kNamespaceLevels) {
      report_at_word(call, "Too many nested namespaces");
    } else {
      analyzer.namespace_stack[analyzer.namespace_depth++] = analyzer.namespace_hash;
      analyzer.namespace_hash = word.hash;
    }
    return false;
  }
  if (is(word, Keyword::NamespaceDirective)) {
    analyzer.awaiting = Awaiting::Namespace;
    return false;
  }
  if (is(word, Keyword::EndNamespaceDirective)) {
    analyzer.namespace_hash =
        analyzer.namespace_depth > 0 ? analyzer.namespace_stack[--analyzer.namespace_depth] : 0;
    return false;
  }

  // 14. Type-library imports.
  if (analyzer.awaiting == Awaiting::Import) {
    analyzer.awaiting = Awaiting::Nothing;
    if (import_type_library_hook != nullptr) {
      // A library that cannot be read defines nothing and drops only its own line.
      const int32_t errors_before = compile_error_count;
      import_type_library_hook(call.has_current_file ? call.current_file.c_str() : nullptr, word.text.c_str());
      analyzer.errors_leaving_words_whole += compile_error_count - errors_before;
    }
    return true;
  }
  if (is(word, Keyword::ImportDirective) && !analyzer_assembler_mode) {
    analyzer.awaiting = Awaiting::Import;
    return true;
  }

  // 15. External function declarations.
  if (!analyzer_assembler_mode && declare_at_analysis) {
    if (analyzer.declare_state >= 1 && analyzer.declare_state <= 4) {
      analyzer.declare_arguments[analyzer.declare_state - 1] = without_quotes(word.text);
      ++analyzer.declare_state;
      return true;
    }
    if (analyzer.declare_state == 5) {
      const std::string* arguments = analyzer.declare_arguments;
      int32_t parameter_count = truncate_to_int(text_to_number(arguments[3].c_str())) & 0xFF;
      int32_t returns_value = truncate_to_int(text_to_number(without_quotes(word.text).c_str())) & 0xFF;
      if (external_function_declare_hook != nullptr) {
        external_function_declare_hook(arguments[0].c_str(), arguments[2].c_str(), arguments[1].c_str(),
                                       parameter_count, returns_value, analyzer.declare_string_conversion,
                                       analyzer.declare_convention, compile_options.globals);
      }
      for (std::string& argument : analyzer.declare_arguments) argument.clear();
      analyzer.declare_state = 0;
      return true;
    }
    if (declare_directive(word)) return true;
  }
  return false;
}
