// Element-wise operators on packed lists: two lists combined item by item, or a list
// with one scalar, and the pushes of owned results that every operator handler shares.
#include "vm/elementwise.h"

#include <cstring>

#include "foundation/conversion.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "foundation/packed_list.h"
#include "platform/platform.h"

namespace {

// Items are read and written as bytes: a list's 9-byte items are not aligned.
constexpr uint32_t kItemSize = sizeof(PackedItem);
constexpr uint8_t kItemNumber = kPackedNumber;
constexpr uint8_t kItemText = kPackedString;
constexpr uint8_t kItemList = kPackedList;
constexpr uint8_t kItemEnd = kPackedEnd;
// Nesting deeper than this is treated as an empty list: a self-referencing or damaged
// list must not recurse without end.
constexpr int32_t kMaxNesting = kPackedListMaxDepth;

struct Item {
  double value;
  uint8_t kind;
};

Item read_item(const void* list, uint32_t index) {
  Item item;
  const uint8_t* at = static_cast<const uint8_t*>(list) + index * kItemSize;
  std::memcpy(&item.value, at, sizeof(double));
  item.kind = at[8];
  return item;
}

void write_item(void* list, uint32_t index, double value, uint8_t kind) {
  uint8_t* at = static_cast<uint8_t*>(list) + index * kItemSize;
  std::memcpy(at, &value, sizeof(double));
  at[8] = kind;
}

uint32_t item_count(const void* list) { return list ? packed_list_count(static_cast<const PackedItem*>(list), false) : 0; }

void* item_pointer(const Item& item) { return platform::pointer_from(static_cast<uint32_t>(truncate_to_int(item.value))); }
double pointer_value(const void* block) { return static_cast<double>(platform::address_of(block)); }

// A zeroed list of count items and its end marker.
void* new_list(uint32_t count) {
  void* list = crt::calloc(count + 1, kItemSize);
  if (list) write_item(list, count, 0, kItemEnd);
  return list;
}

// Blocks inside a result live as long as the running depth: whoever keeps the result
// stores a deep copy of it.
void own_inner_block(void* block) {
  if (block && current_program) context_own_allocation(current_program, block, 0, kOwnedMemory);
}

// "%s%s" of two texts in a block of the two lengths plus one.
char* join(const char* first, const char* second) {
  size_t first_length = std::strlen(first);
  size_t second_length = std::strlen(second);
  char* text = static_cast<char*>(crt::malloc(first_length + second_length + 1));
  if (!text) return nullptr;
  std::memcpy(text, first, first_length);
  std::memcpy(text + first_length, second, second_length + 1);
  return text;
}

// The text of an item for joining: its own text, or its number formatted (*made set).
const char* item_text(const Item& item, char** made) {
  *made = nullptr;
  if (item.kind == kItemText) {
    const char* text = static_cast<const char*>(item_pointer(item));
    return text ? text : "";
  }
  *made = number_to_text(item.value);
  return *made ? *made : "";
}

// The number an item stands for in arithmetic: a text reads as a number.
double item_number(const Item& item) {
  if (item.kind == kItemText) return text_to_number(static_cast<const char*>(item_pointer(item)));
  return item.value;
}

void* combine_scalar(char code, const void* list, const char* scalar_text, double scalar_number, int32_t depth);

// A nested list facing something other than a nested list combines with that as a scalar.
void* combine_nested_with(char code, const Item& nested, const Item& other, int32_t depth) {
  if (other.kind == kItemText) {
    return combine_scalar(code, item_pointer(nested), static_cast<const char*>(item_pointer(other)), 0, depth + 1);
  }
  return combine_scalar(code, item_pointer(nested), nullptr, other.kind == kItemList ? 0 : other.value, depth + 1);
}

void* combine(char code, const void* left, const void* right, int32_t depth) {
  if (depth > kMaxNesting) return new_list(0);
  uint32_t left_count = item_count(left);
  uint32_t right_count = item_count(right);
  uint32_t count = left_count > right_count ? left_count : right_count;
  void* result = new_list(count);
  if (!result) return nullptr;
  const Item exhausted{0, kItemNumber};
  for (uint32_t index = 0; index < count; ++index) {
    Item a = index < left_count ? read_item(left, index) : exhausted;
    Item b = index < right_count ? read_item(right, index) : exhausted;
    if (a.kind == kItemList || b.kind == kItemList) {
      void* nested;
      if (a.kind == kItemList && b.kind == kItemList) {
        nested = combine(code, item_pointer(a), item_pointer(b), depth + 1);
      } else if (a.kind == kItemList) {
        nested = combine_nested_with(code, a, b, depth);
      } else {
        nested = combine_nested_with(code, b, a, depth);
      }
      own_inner_block(nested);
      write_item(result, index, nested ? pointer_value(nested) : 0, nested ? kItemList : kItemNumber);
    } else if (code == '+' && (a.kind == kItemText || b.kind == kItemText)) {
      char* made_a;
      char* made_b;
      const char* text_a = item_text(a, &made_a);
      const char* text_b = item_text(b, &made_b);
      if (is_numeric_text(text_a) && is_numeric_text(text_b)) {
        write_item(result, index, text_to_number(text_a) + text_to_number(text_b), kItemNumber);
      } else {
        char* joined = join(text_a, text_b);
        own_inner_block(joined);
        write_item(result, index, joined ? pointer_value(joined) : 0, joined ? kItemText : kItemNumber);
      }
      crt::free(made_a);
      crt::free(made_b);
    } else {
      write_item(result, index, elementwise_apply(code, item_number(a), item_number(b)), kItemNumber);
    }
  }
  return result;
}

void* combine_scalar(char code, const void* list, const char* scalar_text, double scalar_number, int32_t depth) {
  if (depth > kMaxNesting) return new_list(0);
  uint32_t count = item_count(list);
  void* result = new_list(count);
  if (!result) return nullptr;
  bool scalar_numeric = !scalar_text || is_numeric_text(scalar_text);
  double scalar_value = scalar_text ? text_to_number(scalar_text) : scalar_number;
  char* scalar_made = nullptr;  // the number's text, made when a join needs it
  for (uint32_t index = 0; index < count; ++index) {
    Item item = read_item(list, index);
    if (item.kind == kItemList) {
      void* nested = combine_scalar(code, item_pointer(item), scalar_text, scalar_number, depth + 1);
      own_inner_block(nested);
      write_item(result, index, nested ? pointer_value(nested) : 0, nested ? kItemList : kItemNumber);
      continue;
    }
    if (code == '+' && (item.kind == kItemText || scalar_text)) {
      char* made;
      const char* text = item_text(item, &made);
      if (is_numeric_text(text) && scalar_numeric) {
        write_item(result, index, text_to_number(text) + scalar_value, kItemNumber);
      } else {
        if (!scalar_text && !scalar_made) scalar_made = number_to_text(scalar_number);
        const char* second = scalar_text ? scalar_text : (scalar_made ? scalar_made : "");
        char* joined = join(text, second);
        own_inner_block(joined);
        write_item(result, index, joined ? pointer_value(joined) : 0, joined ? kItemText : kItemNumber);
      }
      crt::free(made);
      continue;
    }
    write_item(result, index, elementwise_apply(code, item_number(item), scalar_value), kItemNumber);
  }
  crt::free(scalar_made);
  return result;
}

// The text of a scalar cell as 8-bit text; a UTF-16 text is narrowed into a block owned
// by the running depth.
const char* scalar_cell_text(const ValueCell* cell) {
  if (!cell->text) return nullptr;
  if (!(cell->flags & kCellWideText)) return static_cast<const char*>(cell->text);
  char* narrow = to_narrow(static_cast<const char16_t*>(cell->text));
  own_inner_block(narrow);
  return narrow ? narrow : "";
}

}  // namespace

void push_owned_result(void* block, uint32_t flags) {
  ProgramContext* context = current_program;
  if (!context) {
    crt::free(block);
    return;
  }
  if (block && !context_own_allocation(context, block, 0, kOwnedMemory)) {
    crt::free(block);
    block = nullptr;
    flags = 0;
  }
  ValueCell* cell = stack_push_cell(context, false);
  if (!cell) return;
  cell->number = 0;
  cell->text = block;
  cell->variable = nullptr;
  cell->data = 0;
  cell->flags = block ? flags : 0;
  cell->variant_type = 0;
  cell->references = nullptr;
}

double elementwise_apply(char code, double x, double y) {
  uint32_t count = static_cast<uint32_t>(truncate_to_int(y)) & 0xFF;
  switch (code) {
    case '+': return x + y;
    case '-': return x - y;
    case '*': return x * y;
    case '/': return x / y;
    case '&': return truncate_to_int(x) & truncate_to_int(y);
    case '|': return truncate_to_int(x) | truncate_to_int(y);
    case '^': return truncate_to_int(x) ^ truncate_to_int(y);
    case '=': return x == y ? 1 : 0;
    case '!': return x != y ? 1 : 0;
    case '<': return x < y ? 1 : 0;
    case '>': return x > y ? 1 : 0;
    case ',': return x <= y ? 1 : 0;
    case '.': return x >= y ? 1 : 0;
    case 'a': return (x != 0 && y != 0) ? 1 : 0;
    case 'o': return (x == 0 && y == 0) ? 0 : 1;
    case 'l': return count >= 32 ? 0 : static_cast<double>(static_cast<uint32_t>(truncate_to_int(x)) << count);
    case 'r': return count >= 32 ? 0 : static_cast<double>(static_cast<uint32_t>(truncate_to_int(x)) >> count);
    case 'L':
      return count >= 32 ? 0
                         : static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(truncate_to_int(x)) << count));
    case 'R': return static_cast<double>(truncate_to_int(x) >> (count >= 32 ? 31 : count));
    default: return x;
  }
}

void* packed_list_combine(char code, const void* left, const void* right) { return combine(code, left, right, 0); }

void* packed_list_combine_scalar(char code, const void* list, const char* scalar_text, double scalar_number) {
  return combine_scalar(code, list, scalar_text, scalar_number, 0);
}

int32_t elementwise_operator(char code, const ValueCell* left, const ValueCell* right) {
  bool left_list = (left->flags & kCellList) && left->text;
  bool right_list = (right->flags & kCellList) && right->text;
  void* result;
  if (left_list && right_list) {
    result = packed_list_combine(code, left->text, right->text);
  } else if (left_list) {
    result = packed_list_combine_scalar(code, left->text, scalar_cell_text(right), right->number);
  } else if (right_list) {
    result = packed_list_combine_scalar(code, right->text, scalar_cell_text(left), left->number);
  } else {
    return 0;
  }
  push_owned_result(result, kCellList);
  return 1;
}

int32_t elementwise_push_scalar(char code, const ValueCell* list_cell, double number) {
  push_owned_result(packed_list_combine_scalar(code, list_cell->text, nullptr, number), kCellList);
  return 1;
}

int32_t elementwise_push_text(char code, const ValueCell* list_cell, const char* text) {
  push_owned_result(packed_list_combine_scalar(code, list_cell->text, text ? text : "", 0), kCellList);
  return 1;
}
