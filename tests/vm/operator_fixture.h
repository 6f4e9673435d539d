// Operands for the operator tests: cells of every value kind pushed from a short text
// form, packed lists written as [1,'a',[2]], the stack read back in the same form, and
// instructions run as the current one with a variable cache.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "machine_fixture.h"
#include "platform/platform.h"
#include "tests/foundation/scope_lists.h"
#include "vm/assignment.h"

// A block of the running program, freed when it ends.
inline void* program_block(void* block) {
  context_own_allocation(current_program, block, 0, kOwnedMemory);
  return block;
}

inline char* program_text(const char* text) {
  return static_cast<char*>(program_block(crt::_strdup(text)));
}

// Parses the list form [1,'a',[2,3]] into a packed list (9-byte items, end marker).
// Inner blocks belong to the program; the outer one too unless the caller keeps it.
inline void* parse_list(const char** at, bool own_outer) {
  std::vector<std::pair<double, uint8_t>> items;
  ++*at;  // '['
  while (**at && **at != ']') {
    if (**at == ',') {
      ++*at;
      continue;
    }
    if (**at == '[') {
      void* nested = parse_list(at, true);
      items.push_back({static_cast<double>(platform::address_of(nested)), 3});
    } else if (**at == '\'') {
      const char* end = std::strchr(*at + 1, '\'');
      std::string text(*at + 1, end);
      items.push_back({static_cast<double>(platform::address_of(program_text(text.c_str()))), 2});
      *at = end + 1;
    } else {
      char* end;
      items.push_back({std::strtod(*at, &end), 1});
      *at = end;
    }
  }
  if (**at == ']') ++*at;
  auto* list = static_cast<uint8_t*>(crt::calloc(items.size() + 1, 9));
  for (size_t index = 0; index < items.size(); ++index) {
    std::memcpy(list + index * 9, &items[index].first, 8);
    list[index * 9 + 8] = items[index].second;
  }
  list[items.size() * 9 + 8] = 4;
  return own_outer ? program_block(list) : list;
}
inline void* make_list(const char* form, bool own_outer = true) { return parse_list(&form, own_outer); }

inline std::string number_form(double number) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", number);
  return text;
}

// The list form of a packed list.
inline std::string list_form(const void* list) {
  std::string form = "[";
  const auto* at = static_cast<const uint8_t*>(list);
  for (int index = 0; at[index * 9 + 8] != 4; ++index) {
    double value;
    std::memcpy(&value, at + index * 9, 8);
    uint8_t kind = at[index * 9 + 8];
    if (index) form += ",";
    void* block = platform::pointer_from(static_cast<uint32_t>(value));
    if (kind == 2) form += "'" + std::string(static_cast<const char*>(block)) + "'";
    else if (kind == 3) form += list_form(block);
    else form += number_form(value);
  }
  return form + "]";
}

inline std::string narrow_form(const char16_t* text) {
  std::string form;
  for (; *text; ++text) form += *text < 128 ? static_cast<char>(*text) : '?';
  return form;
}

// A cell in short form: 5, 'ab', w'ab' (UTF-16), [..] (packed list).
inline std::string cell_form(const ValueCell* cell) {
  if (!cell->text) return number_form(cell->number);
  if (cell->flags & kCellList) return list_form(cell->text);
  if (cell->flags & kCellWideText) return "w'" + narrow_form(static_cast<const char16_t*>(cell->text)) + "'";
  return "'" + std::string(static_cast<const char*>(cell->text)) + "'";
}

// Pushes a value written in short form: a number, 'text', w'text' or [list]; a
// leading & makes it a by-reference cell of a variable holding that value.
inline void push_form(const char* form) {
  ValueCell* cell = stack_push_cell(current_program, false);
  *cell = ValueCell{cell->number, nullptr, nullptr, 0, 0, 0, cell->height, nullptr, cell->below, cell->above};
  cell->number = 0;
  if (*form == '&') {
    cell->flags |= kCellByReference;
    ++form;
  }
  if (*form == '\'') {
    std::string text(form + 1, std::strlen(form) - 2);
    cell->text = program_text(text.c_str());
  } else if (form[0] == 'w' && form[1] == '\'') {
    std::string text(form + 2, std::strlen(form) - 3);
    cell->text = program_block(to_wide(text.c_str()));
    cell->flags |= kCellWideText;
  } else if (*form == '[') {
    cell->text = make_list(form);
    cell->flags |= kCellList;
  } else {
    cell->number = std::strtod(form, nullptr);
  }
}

// Every cell from the bottom up, in short form, separated by blanks; the stack is
// emptied.
inline std::string drain_stack() {
  std::vector<std::string> forms;
  while (current_program->stack_top) forms.insert(forms.begin(), cell_form(stack_pop(current_program)));
  std::string joined;
  for (const std::string& form : forms) joined += (joined.empty() ? "" : " ") + form;
  return joined;
}

// A program with a globals head and a local scope, released after each test.
class OperatorTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    context->pool = pool_create(4096);
    locals = open_scope_lists(context);
    percent_variables = nullptr;
    push_after_assign = 0;
    alias_follow_suppressed = 0;
  }
  void TearDown() override {
    close_scope_lists(context, locals);
    push_after_assign = 0;
    MachineTest::TearDown();
  }


 public:
  // Runs handler as the current instruction with operand and text.
  void run(BuiltinHandler handler, double operand = 0, const char* text = nullptr) {
    node = InstructionNode{};
    extension = InstructionExtension{};
    node.handler = handler;
    node.operand = operand;
    node.text = const_cast<char*>(text);
    node.extension = &extension;
    current_instruction = &node;
    handler();
    current_instruction = nullptr;
  }


 protected:
  // A variable of the local scope holding a value in short form.
  Variable* variable_holding(const char* name, const char* form) {
    Variable* variable = create_variable(current_scope, name, true);
    if (form[0] == '\'') {
      std::string text(form + 1, std::strlen(form) - 2);
      set_variable(variable, const_cast<char*>(text.c_str()), 0, nullptr, static_cast<int32_t>(text.size() + 1));
    } else if (form[0] == 'w' && form[1] == '\'') {
      std::string text(form + 2, std::strlen(form) - 3);
      char16_t* wide = to_wide(text.c_str());
      set_variable(variable, wide, 0, nullptr, static_cast<int32_t>((text.size() + 1) * 2));
      variable->flags |= kVariableWideText;
      crt::free(wide);
    } else if (form[0] == '[') {
      // Its own copy of the list, freed with the variable; inner blocks are the program's.
      set_variable(variable, nullptr, 0, nullptr, 0);
      variable->data = make_list(form, false);
      variable->flags |= kVariableOwnsData | kVariablePackedList;
    } else {
      set_variable(variable, nullptr, std::strtod(form, nullptr), nullptr, 0);
    }
    return variable;
  }

  // The value of a variable in short form.
  static std::string variable_form(Variable* variable) {
    ValueCell cell{};
    get_variable_value(variable, &cell.text, &cell.number, nullptr);
    if (variable->flags & kVariablePackedList) cell.flags |= kCellList;
    if (variable->flags & kVariableWideText) cell.flags |= kCellWideText;
    return cell_form(&cell);
  }

  Variable* locals = nullptr;
  InstructionNode node{};
  InstructionExtension extension{};
};
