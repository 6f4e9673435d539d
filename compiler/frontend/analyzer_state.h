// The state that the analyzer and its preprocessor share across nested calls (includes,
// definition expansion) for the whole of one compilation.
#pragma once

#include <cstdint>
#include <string>

#include "compiler/frontend/analyzer.h"

struct CodeListNode;

struct ConditionalLevel {
  uint8_t skip;   // the words of this level are dropped
  uint8_t taken;  // a branch of this level was active
};

struct IncludedFile {
  uint32_t file_hash;
  uint32_t namespace_hash;
};

enum class Awaiting : uint8_t {
  Nothing, Condition, Include, Import, Icon, Link, Code, DebugFile, Namespace, DropOne
};

struct AnalyzerState {
  int32_t line = 1;
  int32_t line_start = 0;
  uint8_t else_seen = 0;
  int32_t expansion_depth = 0;

  int32_t conditional_depth = -1;
  ConditionalLevel levels[kConditionalLevels] = {};
  int32_t nested_skip = 0;     // conditionals opened inside dropped text
  int32_t overflow_levels = 0; // conditionals refused for want of room

  IncludedFile included[kIncludedFiles] = {};
  int32_t included_count = 0;

  uint32_t namespace_hash = 0;
  uint32_t namespace_stack[kNamespaceLevels] = {};
  int32_t namespace_depth = 0;

  Awaiting awaiting = Awaiting::Nothing;
  uint8_t define_state = 0;  // 1 name awaited, 2 collecting the value
  std::string pending_name;
  std::string pending_value;
  uint8_t continuation = 0;
  uint8_t undef_active = 0;
  uint8_t declare_state = 0;  // 1..5: the argument awaited
  uint8_t declare_string_conversion = 0;
  uint8_t declare_convention = 0;
  std::string declare_arguments[4];
  // Errors after which the words still read as the source without the failing line.
  int32_t errors_leaving_words_whole = 0;
};

extern AnalyzerState analyzer;

// What one call of the analyzer knows besides the shared state.
struct AnalyzerCall {
  const char* given_file;      // the file of this call (null for a text)
  std::string current_file;    // the file given to words; #CODE changes it
  bool has_current_file;
  int32_t quiet;
  int32_t indent;
  int32_t line_override;
  int32_t column_override;
  CodeListNode** cursor;
  int32_t index;               // the character position of the current word's end
  bool stop;                   // analysis of this text ends
};

// A cut word on its way into the list.
struct Word {
  std::string text;
  uint32_t hash;
  bool line_break;
  uint16_t column;
};

// True when the words at this point are kept.
bool conditional_active();
// Runs the directives on one word; true when the word was consumed.
bool preprocess_word(AnalyzerCall& call, Word& word);
// Appends a word at the current place of the call.
void insert_word(AnalyzerCall& call, const char* text, uint16_t column);
// Reports an error at the last word of the list (or the character position without one).
void report_at_word(AnalyzerCall& call, const char* message);
