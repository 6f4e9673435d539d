// List element chains: doubly linked ListElements, each with its own value and
// optional ElementInfo and StructInfo records.
#include "foundation/list_elements.h"

#include <sanitizer/asan_interface.h>

#include <cstdlib>
#include <cstring>

#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "platform/kernel/fault_guard.h"
#include "platform/kernel/memory.h"

namespace {

// Elements live in slabs of virtual memory, whose reservations start on 64 KiB boundaries:
// an element finds its slab by masking its address. Taking or giving back an element is a
// few instructions, an element costs its 40 bytes and nothing more, and a slab whose
// elements are all free goes back to the system unless it is the only one with room.
// Script code runs under the script lock, so the slabs need no lock of their own.
constexpr uint32_t kSlabBytes = 65536;

// Eight-byte aligned, so that every element starts on a granule of the address sanitizer.
struct alignas(8) Slab {
  ListElement* free_elements;  // given back, linked through next
  uint32_t unused;             // elements from this index on were never handed out
  uint32_t live;
  Slab* prev_open;  // the slabs with room, linked
  Slab* next_open;
};
constexpr uint32_t kSlabElements = (kSlabBytes - sizeof(Slab)) / sizeof(ListElement);

Slab* open_slabs = nullptr;

Slab* slab_of(const ListElement* element) {
  return platform::pointer_from<Slab>(platform::address_of(element) & ~(kSlabBytes - 1));
}

ListElement* slab_element(Slab* slab, uint32_t index) {
  return reinterpret_cast<ListElement*>(reinterpret_cast<uint8_t*>(slab + 1) + index * sizeof(ListElement));
}

void open_slab(Slab* slab) {
  slab->prev_open = nullptr;
  slab->next_open = open_slabs;
  if (open_slabs) open_slabs->prev_open = slab;
  open_slabs = slab;
}

void close_slab(Slab* slab) {
  if (slab->prev_open) slab->prev_open->next_open = slab->next_open;
  else open_slabs = slab->next_open;
  if (slab->next_open) slab->next_open->prev_open = slab->prev_open;
}

Slab* new_slab() {
  auto* slab = static_cast<Slab*>(VirtualAlloc(nullptr, kSlabBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (!slab) return nullptr;
  *slab = Slab{};
  ASAN_POISON_MEMORY_REGION(slab + 1, kSlabElements * sizeof(ListElement));
  open_slab(slab);
  return slab;
}

ListElement* new_element() {
  Slab* slab = open_slabs ? open_slabs : new_slab();
  if (!slab) return nullptr;
  ListElement* element = slab->free_elements;
  if (element) {
    ASAN_UNPOISON_MEMORY_REGION(element, sizeof(ListElement));
    slab->free_elements = element->next;
  } else {
    element = slab_element(slab, slab->unused++);
    ASAN_UNPOISON_MEMORY_REGION(element, sizeof(ListElement));
  }
  if (++slab->live == kSlabElements) close_slab(slab);
  std::memset(static_cast<void*>(element), 0, sizeof(ListElement));
  return element;
}

void free_element(ListElement* element) {
  Slab* slab = slab_of(element);
  element->next = slab->free_elements;
  slab->free_elements = element;
  ASAN_POISON_MEMORY_REGION(element, sizeof(ListElement));
  if (slab->live-- == kSlabElements) open_slab(slab);
  if (slab->live) return;
  if (slab == open_slabs && !slab->next_open) {
    // The last slab with room stays, fresh, for the next element.
    slab->free_elements = nullptr;
    slab->unused = 0;
    return;
  }
  close_slab(slab);
  VirtualFree(slab, 0, MEM_RELEASE);
}

ListElement* last_of(ListElement* element) {
  while (element && element->next) element = element->next;
  return element;
}

void free_owned_data(ListElement* element) {
  if (!(element->flags & kVariableOwnsData) || !element->data) return;
  if (memory_tracking) untrack_allocation(element->data);
  crt::free(element->data);
  element->data = nullptr;
}

// The registered walks: one state per list loop running, so a handful at most.
IterationState** walks = nullptr;
uint32_t walk_count = 0;
uint32_t walk_capacity = 0;

// Cursors standing on the element go to the neighbour; side says which one it is.
void move_walks_off(const ListElement* element, ListElement* neighbour, uint32_t side) {
  for (uint32_t i = 0; i < walk_count; ++i) {
    for (IterationCursor* cursor = walks[i]->cursors; cursor; cursor = cursor->next) {
      if (cursor->element != element) continue;
      cursor->element = neighbour;
      cursor->moved = side;
    }
  }
}

void unlink(ListElement* element) {
  if (element->prev) element->prev->next = element->next;
  if (element->next) element->next->prev = element->prev;
}

}  // namespace

uint32_t open_block_walks = 0;
void (*walked_block_released)(const void* block) = nullptr;

bool list_walk_register(IterationState* state) {
  for (uint32_t i = 0; i < walk_count; ++i) {
    if (walks[i] == state) return true;
  }
  if (walk_count == walk_capacity) {
    uint32_t capacity = walk_capacity ? walk_capacity * 2 : 16;
    auto* grown = static_cast<IterationState**>(crt::realloc(walks, capacity * sizeof(IterationState*)));
    if (!grown) return false;
    walks = grown;
    walk_capacity = capacity;
  }
  walks[walk_count++] = state;
  return true;
}

void list_walk_unregister(IterationState* state) {
  for (uint32_t i = 0; i < walk_count; ++i) {
    if (walks[i] != state) continue;
    walks[i] = walks[--walk_count];
    return;
  }
}

void element_info_free(ListElement* element) {
  crt::free(element->info);
  element->info = nullptr;
}

void struct_info_free(ListElement* element) {
  StructInfo* info = element->struct_info;
  if (!info) return;
  MemberNode* node = info->members;
  while (node) {
    MemberNode* next = node->next;
    crt::free(node);
    node = next;
  }
  reference_list_free(info->references);
  crt::free(info);
  element->struct_info = nullptr;
}

uint32_t list_element_count(ListElement* element) {
  uint32_t count = 0;
  for (element = list_element_first(element); element; element = element->next) ++count;
  return count;
}

int32_t list_element_count_from(ListElement* element) {
  if (!element) return -1;
  int32_t index = 0;
  while (element->prev) {
    element = element->prev;
    ++index;
  }
  return index;
}

ListElement* list_element_at(ListElement* element, int32_t index) {
  element = list_element_first(element);
  for (int32_t i = 0; element && i < index && element->next; ++i) element = element->next;
  return element;
}

ListElement* list_element_append(ListElement* element) {
  ListElement* created = new_element();
  if (!created) return nullptr;
  ListElement* last = last_of(element);
  if (last) {
    last->next = created;
    created->prev = last;
  }
  return created;
}

ListElement* list_element_prepend(ListElement* first) {
  ListElement* created = new_element();
  if (!created) return nullptr;
  if (first) {
    created->prev = first->prev;
    if (first->prev) first->prev->next = created;
    first->prev = created;
    created->next = first;
  }
  return created;
}

ListElement* list_element_insert_before(ListElement* element) { return list_element_prepend(element); }

ListElement* list_element_remove(ListElement* element) {
  if (!element) return nullptr;
  ListElement* neighbour = element->next ? element->next : element->prev;
  platform::FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    // With neither neighbour, the walk stands on nothing, as after its last element.
    const uint32_t side = element->prev && !element->next ? kCursorOnPredecessor : kCursorOnSuccessor;
    if (walk_count) move_walks_off(element, neighbour, side);
    free_owned_data(element);
    element_info_free(element);
    struct_info_free(element);
    unlink(element);
    free_element(element);
    platform::fault_guard_leave(&guard);
  } else {
    runtime_fault(guard);
  }
  return neighbour;
}

ListElement* list_element_move(ListElement** chain, int32_t a, int32_t b) {
  ListElement* start = chain ? *chain : nullptr;
  ListElement* moving = list_element_at(start, a);
  ListElement* target = list_element_at(start, b);
  if (!moving || !target) return nullptr;
  if (moving == target) return moving;
  unlink(moving);
  if (a >= b) {
    moving->prev = target->prev;
    if (target->prev) target->prev->next = moving;
    target->prev = moving;
    moving->next = target;
  } else {
    moving->next = target->next;
    if (target->next) target->next->prev = moving;
    target->next = moving;
    moving->prev = target;
  }
  if (*chain == target) *chain = moving;
  // A caller that held the moved element as its first keeps a valid first element.
  else if (*chain == moving) *chain = list_element_first(target);
  return moving;
}

ListElement* list_element_next(ListElement* element) { return element ? element->next : nullptr; }
ListElement* list_element_prev(ListElement* element) { return element ? element->prev : nullptr; }

namespace {

[[gnu::noinline]] void free_chain_backwards(ListElement* current, bool free_data) {
  while (current) {
    ListElement* previous = current->prev;
    // A walk standing on a freed element ends.
    if (walk_count) move_walks_off(current, nullptr, kCursorOnSuccessor);
    if (free_data) free_owned_data(current);
    element_info_free(current);
    struct_info_free(current);
    free_element(current);
    current = previous;
  }
}

}  // namespace

void list_element_chain_free(ListElement* element, bool free_data) {
  platform::FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    free_chain_backwards(last_of(element), free_data);
    platform::fault_guard_leave(&guard);
  } else {
    runtime_fault(guard);
  }
}

ListElement* list_element_split(ListElement** chain, int32_t index) {
  ListElement* element = list_element_at(chain ? *chain : nullptr, index);
  if (!element) return nullptr;
  ListElement* before = element->prev;
  if (before) before->next = nullptr;
  element->prev = nullptr;
  *chain = before;
  // A walk standing on the tail walks the list it was cut from, not the tail's new list:
  // it stands as after removing the element, on the last element kept.
  if (walk_count) {
    for (ListElement* moved = element; moved; moved = moved->next) move_walks_off(moved, before, kCursorOnPredecessor);
  }
  return element;
}
