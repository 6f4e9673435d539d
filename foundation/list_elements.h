// Element chains of list variables: counting, indexing, inserting, removing (safely
// under a FOREACH standing on the element), moving, splitting and freeing.
#pragma once

#include <cstdint>

#include "foundation/variable.h"

struct IterationState;
struct Variable;
struct ProgramContext;

// A FOREACH loop state: the third field heads the loop's cursor nodes, innermost first.
struct IterationCursor {
  ListElement* element;
  uint32_t moved;  // kCursorOn... once the element was removed and the cursor moved to a neighbour
  IterationCursor* next;
  uint32_t call_serial;  // the call whose loop this cursor is
  // The running walks' cursors, newest first: the loop's state, the program and loop
  // level it runs at, and its neighbours in that list.
  IterationState* state;
  ProgramContext* program;
  int32_t depth;
  IterationCursor* open_older;
  IterationCursor* open_newer;
  // A walk of an array, packed list or structure: what it started on (the block, or the
  // member list) and the result variable that views it in place. A block walk whose block
  // went, or whose variable holds another value, ends at its next pass.
  uint32_t walk_kind;
  const void* walked_block;
  const void* walked_members;
  Variable* walked_result;
};
struct IterationState {
  uint32_t first_word;
  uint32_t second_word;
  IterationCursor* cursors;
};

// Where a cursor stands after its element was removed: on the element's successor (or on
// nothing, when the whole chain went), or on its predecessor when it had no successor.
constexpr uint32_t kCursorOnSuccessor = 1;
constexpr uint32_t kCursorOnPredecessor = 2;

// Loop states whose cursors stand on list elements. No element records the walks that
// stand on it: removing an element moves the cursors of registered states off it, and
// freeing a chain leaves them on nothing, so a walk never reads a freed element.
// Registering is idempotent; false when memory runs out (the state is not registered).
bool list_walk_register(IterationState* state);

// Open walks that view a block in place, and what freeing a block tells them: while any
// is open, the owners of variable blocks call walked_block_released before the block goes,
// so a walk's result never reads it and the walk ends at its next pass.
extern uint32_t open_block_walks;
extern void (*walked_block_released)(const void* block);
inline void note_block_released(const void* block) {
  if (open_block_walks && walked_block_released) [[unlikely]] walked_block_released(block);
}
void list_walk_unregister(IterationState* state);

// Number of elements of the chain element belongs to; 0 for null.
uint32_t list_element_count(ListElement* element);
// Index of element in its chain; -1 for null.
int32_t list_element_count_from(ListElement* element);
// The index-th element from the first; past the end the last, below 1 the first.
ListElement* list_element_at(ListElement* element, int32_t index);
// New zeroed elements: after the last of the chain (alone for null), in front of the
// given one, or between the given one and its predecessor. Null without memory.
ListElement* list_element_append(ListElement* element);
ListElement* list_element_prepend(ListElement* first);
ListElement* list_element_insert_before(ListElement* element);
// Frees the element and all it owns; a registered walk standing on it moves to a neighbour.
// Gives the successor, else the predecessor (null when it was alone).
ListElement* list_element_remove(ListElement* element);
// Moves the element at index a to index b; *chain follows when it named the element at b.
ListElement* list_element_move(ListElement** chain, int32_t a, int32_t b);
ListElement* list_element_next(ListElement* element);
ListElement* list_element_prev(ListElement* element);
// Frees the whole chain; owned data only with free_data.
void list_element_chain_free(ListElement* element, bool free_data);
// Detaches the tail starting at index; *chain becomes the element before it (or null).
// A registered walk standing on the tail moves to that element, as after a removal.
ListElement* list_element_split(ListElement** chain, int32_t index);

// Frees what an element's info records hold and the records themselves.
void element_info_free(ListElement* element);
void struct_info_free(ListElement* element);
