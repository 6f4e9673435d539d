// Tokenizers over 8-bit and UTF-16 text, the joining of a list into one text, and the
// copies between a structure's members and a list.
#include "library/files/tokenizer_builtins.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/conversion.h"
#include "foundation/list_elements.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/string_helpers.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "library/core/array_builtins.h"
#include "library/files/file_arguments.h"
#include "library/lists/list_cursor.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

template <typename Char>
size_t units_of(const Char* text) {
  size_t length = 0;
  while (text && text[length]) ++length;
  return length;
}

// The one splitting loop for both text kinds. A token that a whole delimiter cannot
// follow any more (the rest is shorter than the delimiter) runs to the end of the text,
// so no characters are ever dropped.
template <typename Char>
ListElement* split(const Char* text, const Char* delimiter, bool any_character) {
  const size_t length = units_of(text);
  if (!length) return nullptr;
  const size_t delimiter_length = units_of(delimiter);
  const bool wide = sizeof(Char) == 2;
  auto matches = [&](size_t position) {
    if (!delimiter_length) return false;
    if (any_character) return std::find(delimiter, delimiter + delimiter_length, text[position]) != delimiter + delimiter_length;
    return position + delimiter_length <= length &&
           std::equal(delimiter, delimiter + delimiter_length, text + position);
  };
  const size_t step = any_character ? 1 : delimiter_length;
  ListElement* last = nullptr;
  auto emit = [&](size_t start, size_t count) {
    ListElement* element = list_append_copy(last, text + start, static_cast<uint32_t>(count), wide);
    if (element) last = element;
    return element != nullptr;
  };
  size_t start = 0;
  size_t position = 0;
  while (position < length) {
    if (!matches(position)) {
      ++position;
      continue;
    }
    if (!emit(start, position - start)) return last;
    position += step;
    start = position;
    // A final delimiter is followed by one empty token.
    if (position == length && !emit(start, 0)) return last;
  }
  if (start < length) emit(start, length - start);
  return last;
}

// Splits the text cell at the delimiter cell: UTF-16 when the text is UTF-16, else 8-bit.
ListElement* split_cells(const ValueCell* text, const ValueCell* delimiter, bool any_character) {
  if (text->text && (text->flags & kCellWideText) && !(text->flags & kCellList))
    return tokenize_wide(static_cast<const char16_t*>(text->text), cell_wide_text(delimiter), any_character);
  return tokenize(cell_narrow_text(text), cell_narrow_text(delimiter), any_character);
}

// strtolist and its forms. Every argument is read and split before the list is cleared:
// the text may be the list's own value.
void text_to_list(bool any_character, bool numbers) {
  ValueCell* list_cell = stack_pop(current_program);
  const ValueCell* delimiter = stack_pop(current_program);
  ValueCell* text = stack_pop(current_program);
  ListElement* chain = split_cells(text, delimiter, any_character);
  // The tokens are copies: a list made for this call is done with.
  release_temporary_list(text);
  if (numbers) tokens_to_numbers(chain);
  Variable* list = cell_variable(list_cell);
  list_take_chain(list, chain);
  stack_push_number(current_program, list ? list_element_count(list->cursor) : 0);
}

// strtoarray and strtoarrayint: tokens into the elements from the first; tokens beyond
// the array's elements are counted but not written.
void text_to_array(bool numbers) {
  ValueCell* array_cell = stack_pop(current_program);
  const ValueCell* delimiter = stack_pop(current_program);
  ValueCell* text = stack_pop(current_program);
  ListElement* chain = split_cells(text, delimiter, false);
  // The tokens are copies: a list made for this call is done with.
  release_temporary_list(text);
  const uint32_t count = list_element_count(chain);
  Variable* array = cell_variable(array_cell);
  if (array && !array->element_count && count) dim_numeric(array, count);
  if (array && array->data && array->element_count) {
    const int32_t type_code = array->type_code;
    const uint32_t width = type_size(type_code);
    auto* data = static_cast<uint8_t*>(array->data);
    uint32_t index = 0;
    for (ListElement* token = list_element_first(chain); token && index < array->element_count;
         token = token->next, ++index) {
      uint8_t* slot = data + width * index;
      if (numbers) {
        store_typed_value(array, slot, type_code, nullptr, list_element_number(token));
        continue;
      }
      const uint32_t bytes = alloc_block_size(token->data);
      if (type_code < 0) {
        // The token's copy moves to the array, which releases it with the variable.
        reference_drop_slot(array, slot, false);
        void* block = token->data;
        token->data = nullptr;
        token->flags = 0;
        store_typed_value(array, slot, type_code, nullptr, static_cast<double>(platform::address_of(block)));
        if (!variable_add_reference(array, block, slot, type_code)) crt::free(block);
      } else {
        // A fixed-length slot is filled whole: the token, then zeros.
        void* copy = crt::calloc(1, std::max(bytes, width) + 1);
        if (!copy) continue;
        std::memcpy(copy, token->data, bytes);
        store_typed_value(array, slot, type_code, copy, static_cast<double>(platform::address_of(copy)));
      }
    }
  }
  list_element_chain_free(chain, true);
  stack_push_number(current_program, count);
}

// The text of a list element for joining: its own (never read past its block), else its
// number's.
std::string element_narrow_text(const ListElement* element) {
  if (!element->data) return number_string(element->number);
  const auto* bytes = static_cast<const char*>(element->data);
  const uint32_t block = alloc_block_size(bytes);
  return block ? std::string(bytes, strnlen(bytes, block)) : std::string(bytes);
}

std::u16string element_wide_text(const ListElement* element) {
  if (element->data && (element->flags & kVariableWideText)) {
    const auto* units = static_cast<const char16_t*>(element->data);
    const uint32_t limit = alloc_block_size(units) / 2;
    size_t length = 0;
    while ((!limit || length < limit) && units[length]) ++length;
    return std::u16string(units, length);
  }
  char16_t* wide = to_wide(element_narrow_text(element).c_str());
  std::u16string text = wide ? wide : u"";
  crt::free(wide);
  return text;
}

template <typename Text>
Text join(ListElement* first, const Text& separator, const Text& prefix, const Text& suffix,
          Text (*element_text)(const ListElement*)) {
  Text result;
  for (ListElement* element = first; element; element = element->next) {
    result += prefix;
    result += element_text(element);
    result += suffix;
    if (element->next) result += separator;
  }
  return result;
}

// What structtolist copies out of one member: a text (8-bit or UTF-16) or a number.
struct MemberValue {
  bool is_text;
  bool wide;
  std::string bytes;
  double number;
};

MemberValue read_member(Variable* member) {
  void* text = nullptr;
  double number = 0;
  get_variable_value(member, &text, &number, nullptr);
  if (!text) return {false, false, std::string(), number};
  const bool wide = member->flags & kVariableWideText;
  // A fixed-length field or a nested record ends with its slot, not at a zero that may
  // not be there.
  uint32_t limit = member->type_code > 0 ? type_size(member->type_code) : alloc_block_size(text);
  const uint32_t unit = wide ? 2 : 1;
  size_t length = 0;
  if (wide) {
    const auto* units = static_cast<const char16_t*>(text);
    while ((!limit || (length + 1) * unit <= limit) && units[length]) ++length;
  } else {
    const auto* bytes = static_cast<const char*>(text);
    while ((!limit || length < limit) && bytes[length]) ++length;
  }
  return {true, wide, std::string(static_cast<const char*>(text), length * unit), 0};
}

}  // namespace

ListElement* tokenize(const char* text, const char* delimiter, bool any_character) {
  return split(text, delimiter ? delimiter : "", any_character);
}

ListElement* tokenize_wide(const char16_t* text, const char16_t* delimiter, bool any_character) {
  return split(text, delimiter ? delimiter : u"", any_character);
}

void tokens_to_numbers(ListElement* chain) {
  for (ListElement* element = list_element_first(chain); element; element = element->next) {
    const double number = list_element_number(element);
    if (element->flags & kVariableOwnsData) crt::free(element->data);
    element->data = nullptr;
    element->number = number;
    element->flags = 0;
    element->type_code = 0;
    element->checksum = list_element_checksum(element);
  }
}

void builtin_strtolist() { text_to_list(false, false); }
void builtin_strtolistex() { text_to_list(true, false); }
void builtin_strtolistint() { text_to_list(false, true); }
void builtin_strtolistintex() { text_to_list(true, true); }
void builtin_strtoarray() { text_to_array(false); }
void builtin_strtoarrayint() { text_to_array(true); }

void builtin_listtostr() {
  const ValueCell* suffix = stack_pop(current_program);
  const ValueCell* prefix = stack_pop(current_program);
  const ValueCell* separator = stack_pop(current_program);
  Variable* list = cell_variable(stack_pop(current_program));
  if (!is_list_variable(list)) {
    push_owned_text(nullptr);
    return;
  }
  ListElement* first = list_element_first(list->cursor);
  bool wide = false;
  for (ListElement* element = first; element; element = element->next) {
    if (element->data && (element->flags & kVariableWideText)) wide = true;
  }
  if (wide) {
    const std::u16string text = join<std::u16string>(first, cell_wide_text(separator), cell_wide_text(prefix),
                                                      cell_wide_text(suffix), element_wide_text);
    auto* result = static_cast<char16_t*>(crt::malloc((text.size() + 1) * sizeof(char16_t)));
    if (result) std::memcpy(result, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    push_owned_wide_text(result);
    return;
  }
  const std::string text = join<std::string>(first, cell_narrow_text(separator), cell_narrow_text(prefix),
                                             cell_narrow_text(suffix), element_narrow_text);
  auto* result = static_cast<char*>(crt::malloc(text.size() + 1));
  if (result) std::memcpy(result, text.c_str(), text.size() + 1);
  push_owned_text(result);
}

void builtin_structdeftolist() {
  ValueCell* list_cell = stack_pop(current_program);
  Variable* structure = cell_variable(stack_pop(current_program));
  std::vector<std::string> names;
  for (MemberNode* node = structure ? structure->members : nullptr; node; node = node->next) {
    const char* full = node->member && node->member->name ? node->member->name : "";
    const char* dot = std::strchr(full, '.');
    std::string name = dot ? dot + 1 : full;
    if (!name.empty()) name.pop_back();  // the type character
    names.push_back(name);
  }
  fill_text_list(cell_variable(list_cell), names);
  stack_push_number(current_program, 0);
}

void builtin_structtolist() {
  ValueCell* list_cell = stack_pop(current_program);
  Variable* structure = cell_variable(stack_pop(current_program));
  // Read first: the list may be the structure itself.
  std::vector<MemberValue> values;
  for (MemberNode* node = structure ? structure->members : nullptr; node; node = node->next) {
    if (node->member) values.push_back(read_member(node->member));
  }
  ListElement* last = nullptr;
  for (const MemberValue& value : values) {
    ListElement* element =
        value.is_text ? list_append_copy(last, value.bytes.data(),
                                         static_cast<uint32_t>(value.bytes.size() / (value.wide ? 2 : 1)), value.wide)
                      : list_append_number(last, value.number);
    if (element) last = element;
  }
  list_take_chain(cell_variable(list_cell), last);
  stack_push_number(current_program, static_cast<double>(values.size()));
}

void builtin_listtostruct() {
  ValueCell* structure_cell = stack_pop(current_program);
  Variable* list = cell_variable(stack_pop(current_program));
  Variable* structure = cell_variable(structure_cell);
  if (!is_list_variable(list) || !structure) {
    stack_push_number(current_program, 0);
    return;
  }
  int32_t assigned = 0;
  ListElement* element = list_element_first(list->cursor);
  for (MemberNode* node = structure->members; node && element; node = node->next, element = element->next) {
    Variable* member = node->member;
    if (!member) continue;
    if (!element->data) {
      set_variable(member, nullptr, element->number, nullptr, -1);
    } else if (element->flags & kVariableWideText) {
      char* narrow = to_narrow(static_cast<const char16_t*>(element->data));
      set_variable(member, narrow, element->number, nullptr, static_cast<int32_t>(std::strlen(narrow) + 1));
      crt::free(narrow);
    } else {
      const std::string text = element_narrow_text(element);
      set_variable(member, const_cast<char*>(text.c_str()), element->number, nullptr,
                   static_cast<int32_t>(text.size() + 1));
    }
    ++assigned;
  }
  stack_push_number(current_program, assigned);
}

void register_tokenizer_builtins() {
  const struct {
    const char* name;
    BuiltinHandler handler;
  } kBuiltins[] = {
      {"strtolist", builtin_strtolist},
      {"strtolistex", builtin_strtolistex},
      {"strtolistint", builtin_strtolistint},
      {"strtolistintex", builtin_strtolistintex},
      {"strtoarray", builtin_strtoarray},
      {"strtoarrayex", builtin_strtoarray},
      {"strtoarrayint", builtin_strtoarrayint},
      {"strtoarrayintex", builtin_strtoarrayint},
      {"listtostr", builtin_listtostr},
      {"structdeftolist", builtin_structdeftolist},
      {"structtolist", builtin_structtolist},
      {"listtostruct", builtin_listtostruct},
  };
  for (const auto& builtin : kBuiltins) builtin_register(builtin.name, builtin.handler);
}
