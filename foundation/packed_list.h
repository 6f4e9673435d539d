// Packed item lists: flat buffers of 9-byte items (numbers, strings, nested lists)
// closed by an end marker, with their deep copies, edits and text form.
#pragma once

#include <cstdint>

#include "foundation/variable.h"

// Kinds of a packed item.
constexpr uint8_t kPackedNumber = 1;
constexpr uint8_t kPackedString = 2;
constexpr uint8_t kPackedList = 3;
constexpr uint8_t kPackedEnd = 4;

// Slot type under which a packed list's string blocks and nested buffers are registered.
constexpr int32_t kPackedSlotType = -8;
// Nesting depth the text parser reads; deeper lists are dropped so no text overflows the stack.
constexpr uint32_t kPackedListMaxDepth = 256;

// One item: the value, or for strings and nested lists the block's address as a number.
#pragma pack(push, 1)
struct PackedItem {
  double value;
  uint8_t kind;
};
#pragma pack(pop)
static_assert(sizeof(PackedItem) == 9, "packed item layout");

// The string block or nested buffer an item of kind 2 or 3 points at.
void* packed_item_block(const PackedItem* item);
PackedItem* packed_item_list(const PackedItem* item);

// Items before the end marker (0 for null); with recursive, a nested list counts its items.
uint32_t packed_list_count(const PackedItem* list, bool recursive);

// A deep copy in a new buffer: strings and nested lists duplicated, each registered on
// references with its item as the slot. Null for a null list or without memory.
PackedItem* packed_list_copy(const PackedItem* list, ReferenceNode** references);

// Frees every string and nested list the items own, recursively, through references.
// Blocks that no node holds belong to someone else and are left alone; without a
// reference list (null) every block is the list's own.
void packed_list_free_items(void* list, ReferenceNode** references);
// The items and then the buffer itself.
void packed_list_free(PackedItem* list, ReferenceNode** references);

// Clears the variable (keeping a list binding) and makes it own a deep copy of list,
// with the copy's blocks on its own reference list.
void variable_store_packed_list(Variable* variable, void* list);

// Frees the item's string or nested list, then stores the address of a registered copy
// of text (kind 2), or number when text is null (kind 1); the caller may set another kind.
void packed_item_set_value(PackedItem* item, const char* text, double number, ReferenceNode** references);
// Frees the item's content and makes it a registered deep copy of list (kind 3).
void packed_item_set_list(PackedItem* item, const PackedItem* list, ReferenceNode** references);

// A new buffer with every item deep-copied and, when kind is 1, 2 or 3, one item added
// before the end marker: the number; a copy of the string at the address number holds;
// a deep copy of the list at that address. The string or list handed in stays the
// caller's, as does the old buffer. Null without memory.
PackedItem* packed_list_append(const PackedItem* list, double number, uint8_t kind, ReferenceNode** references);
// A new buffer without items start .. start+count-1 (cut at the end marker). Dropped
// strings and nested lists are freed; kept items move unchanged and their reference
// nodes follow them into the new buffer. The old buffer is then the caller's to free
// with crt::free alone.
PackedItem* packed_list_delete(PackedItem* list, int32_t start, int32_t count, ReferenceNode** references);
// A new buffer of deep copies of items start .. start+count-1 (cut at the end marker).
PackedItem* packed_list_slice(const PackedItem* list, int32_t start, int32_t count, ReferenceNode** references);

// Writes each item's value (a string's block address), nested lists flattened, at
// *write with the target's type code, advancing *write by the type's size. Never writes
// past the target's element_count elements; returns how many values were written.
uint32_t packed_list_to_typed_memory(const PackedItem* list, uint8_t** write, Variable* target);

// Bytes that packed_list_to_text needs, the terminating zero included.
uint32_t packed_list_text_length(const PackedItem* list);
// Writes the text form: [1,{abc},[3,4]]. The outermost list is closed with a zero;
// returns the end of the text written (the zero for the outermost).
char* packed_list_to_text(const PackedItem* list, char* output, bool outermost);

// Items of the list whose "[" *text points at: commas at bracket depth 1 outside braces,
// plus 1 once the closing "]" is found. Text that ends before it gives the commas found.
// *text stays where it is.
uint32_t count_bracket_items(const char** text);
// Parses the text form at *text into output, which holds capacity items (the end marker
// included); *text advances past the list read. Strings and nested buffers are registered
// on references. Items beyond the room are read but dropped, so no text writes past it.
// Text without "[" and the text "[]" give an empty list; lists nested deeper than
// kPackedListMaxDepth are dropped. Returns the end marker written (output when capacity is 0).
PackedItem* text_to_packed_list(const char** text, PackedItem* output, uint32_t capacity,
                                ReferenceNode** references);
// The parse into a new buffer sized from the text; null without memory.
PackedItem* packed_list_from_text(const char* text, ReferenceNode** references);
