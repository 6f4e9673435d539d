// Runtime memory: type sizes, block pools, owned allocations, interned names,
// allocation tracking, block sizes and member lists.
#include "foundation/runtime_memory.h"
#include "foundation/list_elements.h"

#include <cstring>

#include "foundation/hashes.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/variable.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"

uint32_t type_size(int32_t type_code) {
  switch (type_code) {
    case -9: case -8: return 8;
    case -5: case -4: case -3: return 4;
    case -2: return 2;
    case -1: return 1;
    default: return type_code < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(type_code)) : static_cast<uint32_t>(type_code);
  }
}

// ---- Block pools ----

Pool* pool_create(uint32_t block_size) {
  auto* pool = static_cast<Pool*>(crt::calloc(1, sizeof(Pool)));
  if (pool) pool->block_size = block_size;
  return pool;
}

void* pool_alloc(Pool* pool, uint32_t flags, uint32_t size) {
  // Tested before rounding so that a size near 4 GiB cannot wrap around.
  if (size > pool->block_size) return nullptr;
  uint32_t total = (size + 3u) & ~3u;
  if (flags & kPoolSizePrefix) total += 4;
  if (total > pool->block_size) return nullptr;
  PoolBlock* block = pool->current;
  if (!block || !block->data || pool->block_size - block->used < total) {
    block = static_cast<PoolBlock*>(crt::calloc(1, sizeof(PoolBlock)));
    if (!block) return nullptr;
    block->data = static_cast<uint8_t*>(crt::calloc(1, pool->block_size ? pool->block_size : 1));
    if (!block->data) {
      crt::free(block);
      return nullptr;
    }
    block->older = pool->current;
    pool->current = block;
  }
  uint8_t* result = block->data + block->used;
  if (flags & kPoolSizePrefix) {
    uint8_t prefix[4] = {uint8_t(total), uint8_t(total >> 8), uint8_t(total >> 16), uint8_t(total >> 24)};
    std::memcpy(result, prefix, 4);
    result += 4;
  }
  block->used += total;
  block->live += 1;
  return result;
}

void pool_free(Pool* pool, void* pointer) {
  auto* byte = static_cast<uint8_t*>(pointer);
  for (PoolBlock* block = pool->current; block; block = block->older) {
    if (!block->data || byte < block->data || byte >= block->data + block->used) continue;
    if (block->live > 0 && --block->live == 0) {
      crt::free(block->data);
      block->data = nullptr;
    }
    return;
  }
}

bool pool_holds(const Pool* pool, const void* pointer) {
  if (!pool || !pointer) return false;
  const auto* byte = static_cast<const uint8_t*>(pointer);
  for (const PoolBlock* block = pool->current; block; block = block->older) {
    if (block->data && byte >= block->data && byte < block->data + block->used) return true;
  }
  return false;
}

void pool_destroy(Pool* pool) {
  if (!pool) return;
  PoolBlock* block = pool->current;
  while (block) {
    PoolBlock* older = block->older;
    crt::free(block->data);
    crt::free(block);
    block = older;
  }
  crt::free(pool);
}

char* pool_strdup(Pool* pool, const char* text) {
  size_t length = std::strlen(text) + 1;
  if (length > UINT32_MAX) return nullptr;
  auto* copy = static_cast<char*>(pool_alloc(pool, 0, static_cast<uint32_t>(length)));
  if (copy) std::memcpy(copy, text, length);
  return copy;
}

// ---- Owned allocations ----

ComObjectRelease com_object_release = {nullptr, nullptr, nullptr};

namespace {

void unlink_owned(ProgramContext* context, OwnedAllocation* node) {
  if (node->previous) node->previous->next = node->next;
  else context->owned = node->next;
  if (node->next) node->next->previous = node->previous;
}

void release_com_object(void* wrapper) {
  if (com_object_release.release) com_object_release.release(wrapper);
  if (com_object_release.uninitialize) com_object_release.uninitialize();
  if (com_object_release.destroy) com_object_release.destroy(wrapper);
}

// Releases what a record names; the record itself is already unlinked.
void release_pointer(void* pointer, uint32_t kind) {
  if (!pointer) return;
  if (kind == kOwnedMemory) crt::free(pointer);
  else if (kind == kOwnedComObject) release_com_object(pointer);
  // Other kinds: nothing registers them, and an object of unknown type cannot be
  // deleted safely, so only the record goes.
}

// Whether a cell of the context's value stack, at or below the top, holds pointer as its
// value. Walked only when a depth that owns blocks ends, and the stack is as deep as the
// values its running calls wait on.
bool held_by_stack(const ProgramContext* context, const void* pointer) {
  for (const ValueCell* cell = context->stack_top; cell; cell = cell->below) {
    if (cell->text == pointer) return true;
  }
  return false;
}

// The depth whose end releases what a spared block of depth: the calls around it, and
// for the outermost those of native code.
uint32_t depth_around(uint32_t depth) {
  return depth > 1 && depth != kReturnedToNativeDepth ? depth - 1 : kReturnedToNativeDepth;
}

}  // namespace

bool context_own_allocation(ProgramContext* context, void* pointer, uint32_t depth, uint32_t kind) {
  auto* node = static_cast<OwnedAllocation*>(crt::calloc(1, sizeof(OwnedAllocation)));
  if (!node) return false;
  node->pointer = pointer;
  node->depth = depth ? depth : static_cast<uint32_t>(context->call_depth);
  node->kind = kind;
  node->next = context->owned;
  if (context->owned) context->owned->previous = node;
  context->owned = node;
  return true;
}

void context_release_depth(ProgramContext* context, uint32_t depth) {
  OwnedAllocation* node = context->owned;
  while (node) {
    OwnedAllocation* next = node->next;
    if (node->depth == depth && node->kind == kOwnedMemory && held_by_stack(context, node->pointer)) {
      // Its cell outlives the depth: the value goes to whoever takes the cell.
      node->depth = depth_around(depth);
    } else if (node->depth == depth) {
      // Unlinked before the release, so a release that reaches this list again cannot
      // free the same pointer twice.
      unlink_owned(context, node);
      void* pointer = node->pointer;
      uint32_t kind = node->kind;
      crt::free(node);
      release_pointer(pointer, kind);
      next = context->owned;  // the release may have changed the list
      // Restart from the head: earlier nodes of other depths are skipped quickly.
    }
    node = next;
  }
}

void context_release_owned(ProgramContext* context) {
  while (OwnedAllocation* node = context->owned) {
    unlink_owned(context, node);
    void* pointer = node->pointer;
    uint32_t kind = node->kind;
    crt::free(node);
    release_pointer(pointer, kind);
  }
}

void context_disown_pointer(ProgramContext* context, const void* pointer) {
  OwnedAllocation* node = context->owned;
  while (node) {
    OwnedAllocation* next = node->next;
    if (node->pointer == pointer) {
      unlink_owned(context, node);
      crt::free(node);
    }
    node = next;
  }
}

bool context_newest_allocation_is(const ProgramContext* context, const void* pointer) {
  const OwnedAllocation* node = context->owned;
  return pointer && node && node->pointer == pointer && node->kind == kOwnedMemory;
}

void context_replace_newest_allocation(ProgramContext* context, void* replacement) {
  if (context->owned) context->owned->pointer = replacement;
}

void context_take_newest_allocation(ProgramContext* context) {
  OwnedAllocation* node = context->owned;
  if (!node) return;
  unlink_owned(context, node);
  crt::free(node);
}

// ---- Interned names ----

namespace {
InternedName* interned_first = nullptr;
InternedName* interned_last = nullptr;
}  // namespace

char* intern_name(char* text) {
  if (!text) return nullptr;
  crt::_strlwr(text);
  uint32_t hash = hash_name_text(text);
  for (InternedName* node = interned_first; node; node = node->next) {
    if (node->hash == hash) return node->text;
  }
  auto* node = static_cast<InternedName*>(crt::calloc(1, sizeof(InternedName)));
  if (!node) return nullptr;
  node->text = crt::_strdup(text);
  if (!node->text) {
    crt::free(node);
    return nullptr;
  }
  node->hash = hash;
  if (interned_last) interned_last->next = node;
  else interned_first = node;
  interned_last = node;
  return node->text;
}

void interned_names_free() {
  InternedName* node = interned_first;
  while (node) {
    InternedName* next = node->next;
    crt::free(node->text);
    crt::free(node);
    node = next;
  }
  interned_first = interned_last = nullptr;
}

InternedName* interned_names_first() { return interned_first; }

// ---- Allocation tracking ----

uint8_t memory_tracking = 0;
char* tracking_label = nullptr;
TrackedAllocation* tracked_allocations = nullptr;

void track_allocation(const char* name, uint32_t tag, void* pointer, uint32_t size) {
  if (!name) name = current_program && current_program->name ? current_program->name : "";
  auto* record = static_cast<TrackedAllocation*>(crt::calloc(1, sizeof(TrackedAllocation)));
  if (!record) return;
  record->name = crt::_strdup(name);
  record->hash = hash_name_text(name);
  record->label = tracking_label ? crt::_strdup(tracking_label) : nullptr;
  record->tag = tag;
  record->pointer = pointer;
  record->size = size ? size : alloc_block_size(pointer);
  record->next = tracked_allocations;
  if (tracked_allocations) tracked_allocations->previous = record;
  tracked_allocations = record;
}

void untrack_allocation(const void* pointer) {
  for (TrackedAllocation* record = tracked_allocations; record; record = record->next) {
    if (record->pointer != pointer) continue;
    if (record->previous) record->previous->next = record->next;
    else tracked_allocations = record->next;
    if (record->next) record->next->previous = record->previous;
    crt::free(record->name);
    crt::free(record->label);
    crt::free(record);
    return;
  }
}

// ---- Block sizes, variable data, member lists ----

bool alloc_block_known(const void* pointer, uint32_t* size) {
  *size = 0;
  if (!pointer) return false;
  platform::FaultGuard guard;
  volatile size_t block_size = 0;
  if (FAULT_GUARD_ENTER(guard)) {
    block_size = crt::_msize(const_cast<void*>(pointer));
    platform::fault_guard_leave(&guard);
  } else {
    runtime_fault(guard);
    return false;
  }
  if (block_size == static_cast<size_t>(-1)) return false;
  *size = static_cast<uint32_t>(block_size);
  return true;
}

uint32_t block_text_length(const char* text) {
  uint32_t size = 0;
  if (alloc_block_known(text, &size)) return static_cast<uint32_t>(strnlen(text, size));
  return static_cast<uint32_t>(std::strlen(text));
}

uint32_t alloc_block_size(const void* pointer) {
  uint32_t size = 0;
  alloc_block_known(pointer, &size);
  return size;
}

void variable_free_data(ProgramContext* context, Variable* variable) {
  if (!(variable->flags & (kVariableOwnsData | kVariableObject)) || !variable->data) return;
  void* data = variable->data;
  variable->data = nullptr;
  note_block_released(data);
  platform::FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    crt::free(data);
    platform::fault_guard_leave(&guard);
  } else {
    runtime_fault(guard);
  }
  if (memory_tracking) untrack_allocation(data);
}

Variable* find_variable_in_list(Variable* first, const char* name) {
  uint32_t hash = hash_name_text(name);
  for (Variable* variable = first; variable; variable = variable->next) {
    if (variable->hash == hash) return variable;
  }
  return nullptr;
}

bool member_list_add(Variable* structure, Variable* member) {
  auto* node = static_cast<MemberNode*>(crt::calloc(1, sizeof(MemberNode)));
  if (!node) return false;
  node->member = member;
  node->type_code = member->type_code;
  node->offset = member->member_offset;
  node->element_count = member->element_count;
  MemberNode* last = structure->members;
  while (last && last->next) last = last->next;
  if (last) {
    last->next = node;
    node->previous = last;
  } else {
    structure->members = node;
  }
  return true;
}

// ---- Variable records and list elements ----

Variable* variable_record_allocate(ProgramContext* context, bool c_allocator) {
  Variable* variable;
  if (c_allocator) variable = static_cast<Variable*>(crt::calloc(1, sizeof(Variable)));
  else variable = static_cast<Variable*>(HeapAlloc(context->heap, HEAP_ZERO_MEMORY, sizeof(Variable)));
  if (variable) variable->allocation = c_allocator ? kVariableOnCAllocator : kVariableOnProgramHeap;
  return variable;
}

void variable_record_free(ProgramContext* context, Variable* variable) {
  if (!variable) return;
  if (variable->allocation == kVariableOnCAllocator) crt::free(variable);
  else HeapFree(context->heap, 0, variable);
}

ListElement* list_element_first(ListElement* element) {
  if (!element) return nullptr;
  while (element->prev) element = element->prev;
  return element;
}

void member_list_free(Variable* structure) {
  MemberNode* node = structure->members;
  structure->members = nullptr;
  while (node) {
    MemberNode* next = node->next;
    crt::free(node);
    node = next;
  }
}
