// Packed item lists: counting, deep copies, item edits, append, delete, slice and the
// write into typed array memory. Every owned block sits on a reference list.
#include "foundation/packed_list.h"

#include <cstring>

#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"

namespace {

void set_block(PackedItem* item, const void* block) { item->value = static_cast<double>(platform::address_of(block)); }

PackedItem* new_buffer(uint32_t items) {
  return static_cast<PackedItem*>(crt::calloc(items ? items : 1, sizeof(PackedItem)));
}

void close_list(PackedItem* end) {
  end->value = 0;
  end->kind = kPackedEnd;
}

// A copy of a string block: its whole block when it is a runtime block, else the text
// with its zero. A null block copies as the empty text.
void* duplicate_string(const void* block) {
  uint32_t size = block ? alloc_block_size(block) : 0;
  if (!size) size = block ? static_cast<uint32_t>(std::strlen(static_cast<const char*>(block)) + 1) : 1;
  auto* copy = static_cast<char*>(crt::malloc(size));
  if (!copy) return nullptr;
  if (block) std::memcpy(copy, block, size);
  else copy[0] = 0;
  return copy;
}

void free_block(void* block) {
  if (!block) return;
  if (memory_tracking) untrack_allocation(block);
  crt::free(block);
}

// Registers block with item as its slot; without a list the block is the list's own.
void register_block(ReferenceNode** references, void* block, PackedItem* item) {
  if (references && !reference_list_add(references, block, item, kPackedSlotType)) {
    // Unregistered it would never be freed; the item keeps an empty number instead.
    free_block(block);
    item->value = 0;
    item->kind = kPackedNumber;
  }
}

void drop_block(ReferenceNode** references, void* block) {
  if (references) reference_list_drop_block(references, block, false);
  else free_block(block);
}

// Frees what one item owns.
void free_item_content(PackedItem* item, ReferenceNode** references) {
  if (item->kind == kPackedString) {
    drop_block(references, packed_item_block(item));
  } else if (item->kind == kPackedList) {
    PackedItem* nested = packed_item_list(item);
    // A copy registers a nested list after its contents, so its node lies ahead of
    // theirs: taking it off first keeps every search near the list's head (freeing a
    // deeply nested list stays linear instead of quadratic).
    bool owned = !references || reference_list_forget_block(references, nested);
    if (nested) packed_list_free_items(nested, references);
    if (owned) free_block(nested);
  }
}

// Makes the item own block (a string or nested list of kind), registered on references;
// without a block (no memory) the item becomes the number 0.
void store_owned_block(PackedItem* item, void* block, uint8_t kind, ReferenceNode** references) {
  if (!block) {
    item->value = 0;
    item->kind = kPackedNumber;
    return;
  }
  set_block(item, block);
  item->kind = kind;
  register_block(references, block, item);
}

// A deep copy of list, or a new empty list where there is none; null when memory runs out.
PackedItem* copy_or_empty(const PackedItem* list, ReferenceNode** references) {
  if (list) return packed_list_copy(list, references);
  PackedItem* empty = new_buffer(1);
  if (empty) close_list(empty);
  return empty;
}

// Deep-copies source into target (an item of a new buffer).
void copy_item(const PackedItem* source, PackedItem* target, ReferenceNode** references) {
  target->value = source->value;
  target->kind = source->kind;
  if (source->kind == kPackedString) {
    store_owned_block(target, duplicate_string(packed_item_block(source)), kPackedString, references);
  } else if (source->kind == kPackedList) {
    store_owned_block(target, packed_list_copy(packed_item_list(source), references), kPackedList, references);
  }
}

// The reference node of block that names old_slot now names new_slot.
void move_slot(ReferenceNode** references, void* block, void* old_slot, void* new_slot) {
  if (!references) return;
  for (ReferenceNode* node = *references; node; node = node->next) {
    if (node->block == block && node->slot == old_slot) {
      node->slot = new_slot;
      return;
    }
  }
}

bool in_range(uint32_t index, int32_t start, int32_t count) {
  int64_t first = start;
  int64_t last = first + static_cast<int64_t>(count) - 1;
  return static_cast<int64_t>(index) >= first && static_cast<int64_t>(index) <= last;
}

// Writes values until room runs out; nested lists are flattened in place.
void write_typed(const PackedItem* list, uint8_t** write, Variable* target, uint32_t size, uint32_t* room,
                 uint32_t* written) {
  for (const PackedItem* item = list; item->kind != kPackedEnd && *room; ++item) {
    if (item->kind == kPackedList) {
      if (const PackedItem* nested = packed_item_list(item)) write_typed(nested, write, target, size, room, written);
      continue;
    }
    store_typed_value(target, *write, target->type_code, nullptr, item->value);
    *write += size;
    --*room;
    ++*written;
  }
}

}  // namespace

void* packed_item_block(const PackedItem* item) {
  return platform::pointer_from<void>(static_cast<uint32_t>(truncate_to_int(item->value)));
}

PackedItem* packed_item_list(const PackedItem* item) { return static_cast<PackedItem*>(packed_item_block(item)); }

uint32_t packed_list_count(const PackedItem* list, bool recursive) {
  uint32_t count = 0;
  if (!list) return 0;
  for (const PackedItem* item = list; item->kind != kPackedEnd; ++item) {
    if (recursive && item->kind == kPackedList) count += packed_list_count(packed_item_list(item), true);
    else ++count;
  }
  return count;
}

PackedItem* packed_list_copy(const PackedItem* list, ReferenceNode** references) {
  if (!list) return nullptr;
  uint32_t count = packed_list_count(list, false);
  PackedItem* copy = new_buffer(count + 1);
  if (!copy) return nullptr;
  for (uint32_t i = 0; i < count; ++i) copy_item(&list[i], &copy[i], references);
  close_list(&copy[count]);
  return copy;
}

void packed_list_free_items(void* list, ReferenceNode** references) {
  if (!list) return;
  for (auto* item = static_cast<PackedItem*>(list); item->kind != kPackedEnd; ++item) {
    free_item_content(item, references);
  }
}

void packed_list_free(PackedItem* list, ReferenceNode** references) {
  if (!list) return;
  packed_list_free_items(list, references);
  free_block(list);
}

void variable_store_packed_list(Variable* variable, void* list) {
  if (!variable) return;
  // The copy is made before the clear: list may be the variable's own value.
  ReferenceNode* references = nullptr;
  PackedItem* copy = copy_or_empty(static_cast<PackedItem*>(list), &references);
  variable_clear_value(current_program, variable, true, false);
  if (!copy) return;
  track_variable_block(copy);
  variable->data = copy;
  variable->references = references;
  variable->flags |= kVariableOwnsData | kVariablePackedList;
  if ((variable->flags & kVariableList) && variable->cursor && !variable->alias) variable_store_to_element(variable);
}

void packed_item_set_value(PackedItem* item, const char* text, double number, ReferenceNode** references) {
  if (!item) return;
  free_item_content(item, references);
  if (!text) {
    item->value = number;
    item->kind = kPackedNumber;
    return;
  }
  store_owned_block(item, duplicate_string(text), kPackedString, references);
}

void packed_item_set_list(PackedItem* item, const PackedItem* list, ReferenceNode** references) {
  if (!item) return;
  free_item_content(item, references);
  store_owned_block(item, copy_or_empty(list, references), kPackedList, references);
}

PackedItem* packed_list_append(const PackedItem* list, double number, uint8_t kind, ReferenceNode** references) {
  uint32_t count = packed_list_count(list, false);
  PackedItem* result = new_buffer(count + 2);
  if (!result) return nullptr;
  for (uint32_t i = 0; i < count; ++i) copy_item(&list[i], &result[i], references);
  if (kind == kPackedNumber) {
    result[count].value = number;
    result[count].kind = kPackedNumber;
    ++count;
  } else if (kind == kPackedString || kind == kPackedList) {
    // The handed-in block stays the caller's: the new item gets its own copy.
    PackedItem handed{number, kind};
    if (kind == kPackedList) {
      store_owned_block(&result[count], copy_or_empty(packed_item_list(&handed), references), kPackedList, references);
    } else {
      copy_item(&handed, &result[count], references);
    }
    ++count;
  }
  close_list(&result[count]);
  return result;
}

PackedItem* packed_list_delete(PackedItem* list, int32_t start, int32_t count, ReferenceNode** references) {
  uint32_t total = packed_list_count(list, false);
  uint32_t kept = 0;
  for (uint32_t i = 0; i < total; ++i) kept += in_range(i, start, count) ? 0 : 1;
  PackedItem* result = new_buffer(kept + 1);
  if (!result) return nullptr;
  uint32_t next = 0;
  for (uint32_t i = 0; i < total; ++i) {
    PackedItem* item = &list[i];
    if (in_range(i, start, count)) {
      free_item_content(item, references);
      continue;
    }
    result[next] = *item;
    // The old buffer goes away: the node of a moved block must name its new slot.
    if (item->kind == kPackedString || item->kind == kPackedList)
      move_slot(references, packed_item_block(item), item, &result[next]);
    ++next;
  }
  close_list(&result[next]);
  return result;
}

PackedItem* packed_list_slice(const PackedItem* list, int32_t start, int32_t count, ReferenceNode** references) {
  uint32_t total = packed_list_count(list, false);
  uint32_t kept = 0;
  for (uint32_t i = 0; i < total; ++i) kept += in_range(i, start, count) ? 1 : 0;
  PackedItem* result = new_buffer(kept + 1);
  if (!result) return nullptr;
  uint32_t next = 0;
  for (uint32_t i = 0; i < total; ++i) {
    if (in_range(i, start, count)) copy_item(&list[i], &result[next++], references);
  }
  close_list(&result[next]);
  return result;
}

uint32_t packed_list_to_typed_memory(const PackedItem* list, uint8_t** write, Variable* target) {
  if (!list || !write || !*write || !target) return 0;
  uint32_t size = type_size(target->type_code);
  auto* start = static_cast<uint8_t*>(target->data);
  if (!size || !start || !target->element_count) return 0;
  // Room is what is left of the array after the write pointer.
  uint8_t* end = start + static_cast<uint64_t>(target->element_count) * size;
  if (*write < start || *write >= end) return 0;
  uint32_t room = static_cast<uint32_t>((end - *write) / size);
  uint32_t written = 0;
  write_typed(list, write, target, size, &room, &written);
  return written;
}
