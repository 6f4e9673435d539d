// The text form of packed lists, [1,{abc},[3,4]]: its length, writing it, and reading
// it back into bounded buffers.
#include <cstring>

#include "foundation/conversion.h"
#include "foundation/packed_list.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"

namespace {

// Length of a string item's text: never past its block.
size_t string_length(const void* block) {
  if (!block) return 0;
  const char* text = static_cast<const char*>(block);
  uint32_t size = alloc_block_size(block);
  return size ? strnlen(text, size) : std::strlen(text);
}

size_t number_length(double value) {
  char* text = number_to_text(value);
  size_t length = text ? std::strlen(text) : 0;
  crt::free(text);
  return length;
}

// Brackets plus each item's text and comma; without the terminating zero.
uint32_t raw_length(const PackedItem* list) {
  uint32_t length = 2;
  for (const PackedItem* item = list; item->kind != kPackedEnd; ++item) {
    if (item->kind == kPackedString) {
      length += static_cast<uint32_t>(string_length(packed_item_block(item))) + 3;
    } else if (item->kind == kPackedList) {
      const PackedItem* nested = packed_item_list(item);
      length += (nested ? raw_length(nested) : 2) + 2;
    } else {
      length += static_cast<uint32_t>(number_length(item->value)) + 1;
    }
  }
  return length;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void close_list(PackedItem* end) {
  end->value = 0;
  end->kind = kPackedEnd;
}

// Past the list whose "[" text points at: after its closing "]", or at the end of text.
const char* skip_list(const char* text) {
  uint32_t depth = 0;
  uint32_t braces = 0;
  for (; *text; ++text) {
    char c = *text;
    if (c == '{') {
      ++braces;
    } else if (c == '}') {
      if (braces) --braces;
    } else if (!braces && c == '[') {
      ++depth;
    } else if (!braces && c == ']' && depth && --depth == 0) {
      return text + 1;
    }
  }
  return text;
}

// One item from the text between start and end, trimmed: {text} a string, else a number.
void read_item(const char* start, const char* end, PackedItem* item, ReferenceNode** references) {
  while (start < end && is_space(*start)) ++start;
  while (end > start && is_space(end[-1])) --end;
  size_t length = static_cast<size_t>(end - start);
  if (length && *start == '{') {
    ++start;
    --length;
    // An unclosed brace keeps the rest of the text as it is.
    if (length && start[length - 1] == '}') --length;
    auto* block = static_cast<char*>(crt::malloc(length + 1));
    item->value = 0;
    item->kind = kPackedNumber;
    if (!block) return;
    std::memcpy(block, start, length);
    block[length] = 0;
    if (references && !reference_list_add(references, block, item, kPackedSlotType)) {
      crt::free(block);
      return;
    }
    item->value = static_cast<double>(platform::address_of(block));
    item->kind = kPackedString;
    return;
  }
  auto* text = static_cast<char*>(crt::malloc(length + 1));
  item->kind = kPackedNumber;
  item->value = 0;
  if (!text) return;
  std::memcpy(text, start, length);
  text[length] = 0;
  item->value = text_to_number(text);
  crt::free(text);
}

PackedItem* parse_list(const char** text, PackedItem* output, uint32_t capacity, ReferenceNode** references,
                       uint32_t depth);

// A nested list at *text into a new buffer sized from its own count; null when dropped.
PackedItem* parse_nested(const char** text, ReferenceNode** references, uint32_t depth) {
  if (depth >= kPackedListMaxDepth) {
    *text = skip_list(*text);
    return nullptr;
  }
  // One item more than the count: an unclosed list has one item more than its commas.
  uint32_t capacity = count_bracket_items(text) + 2;
  auto* buffer = static_cast<PackedItem*>(crt::calloc(capacity, sizeof(PackedItem)));
  if (!buffer) {
    *text = skip_list(*text);
    return nullptr;
  }
  parse_list(text, buffer, capacity, references, depth + 1);
  return buffer;
}

PackedItem* parse_list(const char** text, PackedItem* output, uint32_t capacity, ReferenceNode** references,
                       uint32_t depth) {
  if (!capacity) return output;
  const char* s = *text ? *text : "";
  uint32_t room = capacity - 1;  // the end marker always fits
  uint32_t stored = 0;
  while (*s && *s != '[') ++s;
  if (!*s) {
    *text = s;
    close_list(&output[0]);
    return &output[0];
  }
  ++s;
  const char* item_start = s;
  bool item_done = false;  // a nested list already made this item
  bool separated = false;  // a comma was seen: "[]" alone is the empty list
  uint32_t braces = 0;
  for (;;) {
    char c = *s;
    bool boundary = !c || (!braces && (c == ',' || c == ']'));
    if (boundary) {
      const char* item_end = s;
      bool blank = true;
      for (const char* p = item_start; p < item_end; ++p) blank = blank && is_space(*p);
      bool empty_list = c == ']' && !separated && stored == 0 && !item_done && blank;
      // An unclosed list ends at the end of the text with what it read; a blank tail adds nothing.
      bool empty_tail = !c && blank && !item_done;
      if (!item_done && !empty_list && !empty_tail) {
        if (stored < room) read_item(item_start, item_end, &output[stored++], references);
      }
      if (!c) break;
      ++s;
      if (c == ']') break;
      separated = true;
      item_start = s;
      item_done = false;
      continue;
    }
    if (c == '{') {
      ++braces;
    } else if (c == '}') {
      if (braces) --braces;
    } else if (!braces && c == '[') {
      if (item_done || stored >= room) {
        s = skip_list(s);
        continue;
      }
      item_done = true;
      PackedItem* nested = parse_nested(&s, references, depth);
      if (!nested) continue;
      PackedItem* item = &output[stored++];
      item->value = static_cast<double>(platform::address_of(nested));
      item->kind = kPackedList;
      if (references && !reference_list_add(references, nested, item, kPackedSlotType)) {
        packed_list_free(nested, references);
        item->value = 0;
        item->kind = kPackedNumber;
      }
      continue;
    }
    ++s;
  }
  *text = s;
  close_list(&output[stored]);
  return &output[stored];
}

char* write_list(const PackedItem* list, char* output) {
  *output++ = '[';
  bool any = false;
  for (const PackedItem* item = list; item->kind != kPackedEnd; ++item) {
    any = true;
    if (item->kind == kPackedString) {
      const void* block = packed_item_block(item);
      size_t length = string_length(block);
      *output++ = '{';
      if (length) std::memcpy(output, block, length);
      output += length;
      *output++ = '}';
      *output++ = ',';
    } else if (item->kind == kPackedList) {
      const PackedItem* nested = packed_item_list(item);
      if (nested) {
        output = write_list(nested, output);
      } else {
        std::memcpy(output, "[],", 3);
        output += 3;
      }
    } else {
      char* number = number_to_text(item->value);
      size_t length = number ? std::strlen(number) : 0;
      if (length) std::memcpy(output, number, length);
      crt::free(number);
      output += length;
      *output++ = ',';
    }
  }
  if (any) --output;  // the last item's comma
  *output++ = ']';
  *output++ = ',';
  return output;
}

}  // namespace

uint32_t packed_list_text_length(const PackedItem* list) {
  if (!list) return 3;
  return raw_length(list) + 1;
}

char* packed_list_to_text(const PackedItem* list, char* output, bool outermost) {
  static const PackedItem empty{0, kPackedEnd};
  char* end = write_list(list ? list : &empty, output);
  if (!outermost) return end;
  // The outermost list ends with "]", not "],".
  end[-1] = 0;
  return end - 1;
}

uint32_t count_bracket_items(const char** text) {
  const char* s = (text && *text) ? *text : "";
  uint32_t depth = 0;
  uint32_t braces = 0;
  uint32_t commas = 0;
  for (; *s; ++s) {
    char c = *s;
    if (c == '{') {
      ++braces;
    } else if (c == '}') {
      if (braces) --braces;
    } else if (braces) {
      continue;
    } else if (c == '[') {
      ++depth;
    } else if (c == ']') {
      if (depth == 1) return commas + 1;
      if (depth) --depth;
    } else if (c == ',' && depth == 1) {
      ++commas;
    }
  }
  return commas;
}

PackedItem* text_to_packed_list(const char** text, PackedItem* output, uint32_t capacity,
                                ReferenceNode** references) {
  if (!text || !output) return output;
  return parse_list(text, output, capacity, references, 0);
}

PackedItem* packed_list_from_text(const char* text, ReferenceNode** references) {
  const char* start = text ? text : "";
  while (*start && *start != '[') ++start;
  const char* counted = start;
  uint32_t capacity = count_bracket_items(&counted) + 2;
  auto* buffer = static_cast<PackedItem*>(crt::calloc(capacity, sizeof(PackedItem)));
  if (!buffer) return nullptr;
  text_to_packed_list(&start, buffer, capacity, references);
  return buffer;
}
