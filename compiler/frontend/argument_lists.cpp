// The bracketed constructs: argument lists "( ... )", array literals "[ ... ]" and element
// offsets written after a variable.
#include <string>

#include "compiler/frontend/statement_internal.h"
#include "compiler/frontend/token_reader.h"
#include "foundation/compile_messages.h"

namespace {

// A list also ends when the reader gives no more words (too many errors): its word
// stays where it is and a loop over items would not advance.
bool ends_list(char kind, char closing) {
  return kind == closing || kind == ';' || kind == '\n' || compile_error_count >= kTokenReaderErrorStop;
}

// Compiles one expression; a word that no expression can use is reported and skipped,
// so that every loop over items advances.
void compile_item(char** source, char* kind, CodeListNode** input, CodeListNode** output, bool first_operand) {
  CodeListNode* before = *input;
  compile_expression(source, kind, input, output, first_operand);
  if (*input == before && *kind != '\n') {
    compile_error(*source, "Syntax error", *input);
    read_token(*source, kind, input);
  }
}

}  // namespace

void compile_argument_list(char** source, char* kind, CodeListNode** input, CodeListNode** output,
                           int32_t* counter) {
  const uint8_t saved_list = in_argument_list;
  in_argument_list = 1;
  if (!read_token(*source, kind, input)) {
    in_argument_list = saved_list;
    return;
  }
  if (!is_operand_start(*kind) && *kind != ',') {
    compile_error(*source, "Syntax error", *input);
    read_token(*source, kind, input);
    in_argument_list = saved_list;
    return;
  }
  while (!ends_list(*kind, ')')) {
    if (*kind == ',') {
      compile_error(*source, "Expression expected", *input);
      if (!read_token(*source, kind, input)) break;
      continue;
    }
    ++*counter;
    compile_item(source, kind, input, output, false);
    if (*input != nullptr && (*input)->text[0] == '.') {
      // A member word continues the argument just compiled.
      --*counter;
      --pending_outputs;
      continue;
    }
    if (*kind == ',') {
      if (!read_token(*source, kind, input)) break;
      if (*kind == ')' || *kind == ',') compile_error(*source, "Expression expected", *input);
      if (*kind == ')') break;
      continue;
    }
    if (*kind != ')' && *kind != 'A' && *kind != 'R' && *kind != 'n' && *kind != '\n') {
      compile_error(*source, "Syntax error", *input);
      if (!read_token(*source, kind, input)) break;
    }
  }
  if (*kind == ')') {
    read_token(*source, kind, input);
  } else {
    compile_error(*source, "Closing ) missing", *input);
  }
  in_argument_list = saved_list;
}

int32_t compile_array_literal(char** source, char* kind, CodeListNode** input, CodeListNode** output) {
  const int32_t saved = pending_outputs;
  pending_outputs = 0;
  emit_word(output, "__SAVESP", *input);
  read_token(*source, kind, input);
  while (!ends_list(*kind, ']')) {
    if (*kind == ',') {
      if (!read_token(*source, kind, input)) break;
      continue;
    }
    compile_item(source, kind, input, output, false);
  }
  if (*kind == ']') {
    emit_word(output, "__MAKEMATRIX", *input);
    read_token(*source, kind, input);
  } else {
    compile_error(*source, "Closing ] missing", *input);
  }
  pending_outputs = saved + 1;
  return pending_outputs;
}

void compile_element_offset(bool by_address, char** source, char* kind, CodeListNode** input,
                            CodeListNode** output) {
  const int32_t saved = pending_outputs;
  pending_outputs = 0;
  CodeListNode* mark = emit_word(output, "__SAVESP", *input);
  read_token(*source, kind, input);
  int32_t count = 0;
  while (!ends_list(*kind, ']')) {
    if (*kind == ',') {
      if (!read_token(*source, kind, input)) break;
      continue;
    }
    // Every index is an expression, also after the first in an assignment target.
    compile_item(source, kind, input, output, false);
    ++count;
  }
  if (count == 0) {
    compile_error(*source, "Offset value missing", *input);
    read_token(*source, kind, input);
    pending_outputs = saved;
    return;
  }
  if (*kind == ']') {
    if (count == 1) {
      if (*output == mark) *output = mark->prev;
      code_list_remove(mark);
      emit_word(output, "__OFFSET1", *input);
    } else {
      emit_word(output, "__OFFSET", *input);
    }
    if (by_address) emit_word(output, "__VARADDR", *input);
    pending_outputs = saved;
    if (read_token(*source, kind, input) && *kind == '[') {
      compile_element_offset(by_address, source, kind, input, output);
    }
  } else {
    compile_error(*source, "Closing ] missing", *input);
  }
  pending_outputs = saved;
}
