// The editing built-ins edit a private copy of the variable's text and store it back;
// the variable's kind (UTF-16 or 8-bit) decides the kind every text is brought to. The
// case built-ins work on a copy in the kind of their argument.
#include "library/strings/string_editing_builtins.h"

#include <algorithm>
#include <cstdint>

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/runtime_memory.h"
#include "foundation/string_helpers.h"
#include "foundation/value_cell.h"
#include "foundation/value_stack.h"
#include "foundation/variable.h"
#include "library/strings/string_builtins.h"
#include "foundation/variable_store.h"
#include "platform/platform.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

bool is_wide(const ValueCell* cell) { return cell->text && (cell->flags & kCellWideText); }

// A new crt::malloc copy of the cell's text (or formatted number) in the kind Char.
template <typename Char>
Char* text_copy(const ValueCell* cell);

template <>
char* text_copy<char>(const ValueCell* cell) {
  if (is_wide(cell)) return to_narrow(cell_wide_text(cell));
  return crt::_strdup(cell_text(cell));
}

template <>
char16_t* text_copy<char16_t>(const ValueCell* cell) {
  return cell_wide_copy(cell);
}

// ---- Editing group ----

// The variable an editing built-in changes, the popped cell holding the text it starts
// from, and the kind the variable holds.
struct EditTarget {
  Variable* variable;
  const ValueCell* cell;
  bool wide;
};

EditTarget pop_edit_target() {
  ValueCell* cell = stack_pop(current_program);
  Variable* variable = cell_variable(cell);
  return {variable, cell, variable && (variable->flags & kVariableWideText)};
}

// Stores the edited copy into the variable (which keeps its own copy) and frees it.
void store_edited(Variable* variable, void* text) {
  if (text) set_variable(variable, text, 0, nullptr, static_cast<int32_t>(alloc_block_size(text)));
  crt::free(text);
}

template <typename Char>
void edit_delete(const EditTarget& target, int32_t position, int32_t count) {
  Char* text = text_copy<Char>(target.cell);
  text_delete_range(&text, position, count);
  store_edited(target.variable, text);
}

template <typename Char>
void edit_insert(const EditTarget& target, const ValueCell* insertion_cell, int32_t position) {
  Char* insertion = text_copy<Char>(insertion_cell);
  Char* text = text_copy<Char>(target.cell);
  text_insert_at(insertion, &text, position);
  store_edited(target.variable, text);
  crt::free(insertion);
}

template <typename Char>
void edit_replace(const EditTarget& target, const ValueCell* search_cell, const ValueCell* replacement_cell) {
  Char* search = text_copy<Char>(search_cell);
  Char* replacement = text_copy<Char>(replacement_cell);
  Char* text = text_copy<Char>(target.cell);
  text_replace_all(&text, search, replacement);
  store_edited(target.variable, text);
  crt::free(search);
  crt::free(replacement);
}

template <typename Char>
void edit_change(const EditTarget& target, int32_t position, int32_t count, const ValueCell* insertion_cell) {
  Char* insertion = text_copy<Char>(insertion_cell);
  Char* text = text_copy<Char>(target.cell);
  text_delete_range(&text, position, count);
  text_insert_at(insertion, &text, position);
  store_edited(target.variable, text);
  crt::free(insertion);
}

template <typename Char>
void edit_strip(const EditTarget& target, const ValueCell* set_cell) {
  Char* set = text_copy<Char>(set_cell);
  Char* text = text_copy<Char>(target.cell);
  if (set && text) {
    int32_t set_length = length_of(set);
    int32_t kept = 0;
    for (int32_t index = 0; text[index]; ++index) {
      if (std::find(set, set + set_length, text[index]) == set + set_length) text[kept++] = text[index];
    }
    text[kept] = 0;
    // The stored text is exactly as long as what remains.
    Char* stripped = static_cast<Char*>(crt::calloc(static_cast<size_t>(kept) + 1, sizeof(Char)));
    if (stripped) std::copy(text, text + kept, stripped);
    store_edited(target.variable, stripped);
  }
  crt::free(text);
  crt::free(set);
}

void builtin_delete() {
  int32_t count = pop_integer();
  int32_t position = pop_integer();
  EditTarget target = pop_edit_target();
  if (!target.variable) return;
  target.wide ? edit_delete<char16_t>(target, position, count) : edit_delete<char>(target, position, count);
}

void builtin_insert() {
  int32_t position = pop_integer();
  EditTarget target = pop_edit_target();
  const ValueCell* insertion = stack_pop(current_program);
  if (!target.variable) return;
  target.wide ? edit_insert<char16_t>(target, insertion, position) : edit_insert<char>(target, insertion, position);
}

void builtin_replace() {
  const ValueCell* replacement = stack_pop(current_program);
  const ValueCell* search = stack_pop(current_program);
  EditTarget target = pop_edit_target();
  if (!target.variable) return;
  target.wide ? edit_replace<char16_t>(target, search, replacement) : edit_replace<char>(target, search, replacement);
}

void builtin_change() {
  const ValueCell* insertion = stack_pop(current_program);
  int32_t count = pop_integer();
  int32_t position = pop_integer();
  EditTarget target = pop_edit_target();
  if (!target.variable) return;
  target.wide ? edit_change<char16_t>(target, position, count, insertion)
              : edit_change<char>(target, position, count, insertion);
}

// A UTF-16 variable is stripped unit by unit (as bytes its text would end at the first
// character's high byte).
void builtin_strip() {
  const ValueCell* set = stack_pop(current_program);
  EditTarget target = pop_edit_target();
  if (target.variable) target.wide ? edit_strip<char16_t>(target, set) : edit_strip<char>(target, set);
  stack_push_number(current_program, 0);
}

// ---- Case group ----

template <typename Char>
bool is_ascii_lower(Char c) {
  return c >= 'a' && c <= 'z';
}
template <typename Char>
bool is_ascii_upper(Char c) {
  return c >= 'A' && c <= 'Z';
}

void upper_case(char* text) { crt::_strupr(text); }
void upper_case(char16_t* text) { crt::_wcsupr(text); }
void lower_case(char* text) { crt::_strlwr(text); }
void lower_case(char16_t* text) { crt::_wcslwr(text); }

template <typename Char>
void capitalize(Char* text) {
  lower_case(text);
  if (is_ascii_lower(text[0])) text[0] = static_cast<Char>(text[0] - 'a' + 'A');
}

template <typename Char>
void swap_case(Char* text) {
  for (Char* c = text; *c; ++c) {
    if (is_ascii_lower(*c)) *c = static_cast<Char>(*c - 'a' + 'A');
    else if (is_ascii_upper(*c)) *c = static_cast<Char>(*c - 'A' + 'a');
  }
}

template <typename Char>
void reverse(Char* text) {
  std::reverse(text, text + length_of(text));
}

void push_changed(char* text) { push_owned_text(text); }
void push_changed(char16_t* text) { push_owned_wide_text(text); }

// Pops a text, changes a copy of it in its own kind and pushes the copy.
template <typename Char>
void push_case_changed(const ValueCell* cell, void (*change)(Char*)) {
  Char* copy = text_copy<Char>(cell);
  if (copy) change(copy);
  push_changed(copy);
}

template <void (*Narrow)(char*), void (*Wide)(char16_t*)>
void case_builtin() {
  ValueCell* cell = stack_pop(current_program);
  if (is_wide(cell)) {
    push_case_changed<char16_t>(cell, Wide);
  } else {
    push_case_changed<char>(cell, Narrow);
  }
}

void builtin_upper() { case_builtin<upper_case, upper_case>(); }
void builtin_lower() { case_builtin<lower_case, lower_case>(); }
void builtin_capitalize() { case_builtin<capitalize<char>, capitalize<char16_t>>(); }
void builtin_swapcase() { case_builtin<swap_case<char>, swap_case<char16_t>>(); }
void builtin_reverse() { case_builtin<reverse<char>, reverse<char16_t>>(); }

}  // namespace

void register_string_editing_builtins() {
  builtin_register("delete", builtin_delete);
  builtin_register("insert", builtin_insert);
  builtin_register("replace", builtin_replace);
  builtin_register("change", builtin_change);
  builtin_register("strip", builtin_strip);
  builtin_register("upper", builtin_upper);
  builtin_register("lower", builtin_lower);
  builtin_register("capitalize", builtin_capitalize);
  builtin_register("swapcase", builtin_swapcase);
  builtin_register("reverse", builtin_reverse);
}
