// Private heaps: exact-size blocks behind a BlockHeader, linked into their heap's list so
// that destroying the heap releases them all. Each heap serializes its calls with a mutex.
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <unordered_set>

#include "platform/kernel/block_header.h"
#include "platform/kernel/memory.h"

namespace platform {
namespace {

struct Heap {
  std::mutex lock;
  uint32_t kind = 0;      // the check kind its blocks are stamped with
  size_t maximum = 0;     // 0: no limit
  size_t held = 0;        // bytes of its live blocks, headers included
  BlockHeader* first = nullptr;
};

// Every live heap, so that a handle is checked before it is followed.
struct HeapRegistry {
  std::shared_mutex lock;
  std::unordered_set<Heap*> live;
  uint32_t next_serial = 1;
};

HeapRegistry& registry() {
  static HeapRegistry* instance = new HeapRegistry;  // outlives every static destructor
  return *instance;
}

// Each heap mixes its own serial into the check word of its blocks, so a block handed to
// another heap does not pass that heap's check. The low byte stays that of
// kHeapBlockMagic, which keeps every heap's kind apart from the C runtime's.
uint32_t heap_kind(uint32_t serial) { return kHeapBlockMagic ^ (serial << 8); }

Heap* heap_new(size_t maximum) {
  auto* heap = new Heap;
  heap->maximum = maximum;
  auto& heaps = registry();
  std::unique_lock guard(heaps.lock);
  heap->kind = heap_kind(heaps.next_serial++ & 0xFFFFFF);
  heaps.live.insert(heap);
  return heap;
}

Heap* process_heap() {
  static Heap* heap = heap_new(0);
  return heap;
}

// Locks the heap behind a handle and stores it in heap; null heap (ERROR_INVALID_HANDLE)
// when the handle is no live heap. The heap is locked before the registry is let go, so
// HeapDestroy waits for calls already inside it.
std::unique_lock<std::mutex> heap_lock(HANDLE handle, Heap*& heap) {
  auto& heaps = registry();
  std::shared_lock guard(heaps.lock);
  auto found = heaps.live.find(static_cast<Heap*>(handle));
  if (found == heaps.live.end()) {
    heap = nullptr;
    SetLastError(ERROR_INVALID_HANDLE);
    return {};
  }
  heap = *found;
  return std::unique_lock(heap->lock);
}

bool heap_fits(const Heap* heap, size_t more) {
  return heap->maximum == 0 || (more <= heap->maximum && heap->held <= heap->maximum - more);
}

void block_link(Heap* heap, BlockHeader* header) {
  header->prev = nullptr;
  header->next = heap->first;
  if (heap->first) heap->first->prev = header;
  heap->first = header;
}

void block_unlink(Heap* heap, BlockHeader* header) {
  if (header->prev) header->prev->next = header->next;
  else heap->first = header->next;
  if (header->next) header->next->prev = header->prev;
}

// The header of a live block of this heap; null with ERROR_INVALID_PARAMETER otherwise.
BlockHeader* heap_block(const Heap* heap, const void* block) {
  BlockHeader* header = block_header(const_cast<void*>(block), heap->kind);
  if (!header) SetLastError(ERROR_INVALID_PARAMETER);
  return header;
}

void* out_of_memory() {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

}  // namespace
}  // namespace platform

using platform::BlockHeader;
using platform::Heap;

HANDLE HeapCreate(DWORD options, SIZE_T initial_size, SIZE_T maximum_size) {
  if (maximum_size != 0 && initial_size > maximum_size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return platform::heap_new(maximum_size);
}

BOOL HeapDestroy(HANDLE handle) {
  Heap* heap = static_cast<Heap*>(handle);
  if (heap == platform::process_heap()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto& heaps = platform::registry();
  {
    std::unique_lock guard(heaps.lock);
    if (heaps.live.erase(heap) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  {
    std::lock_guard guard(heap->lock);  // lets calls already inside the heap finish
    for (BlockHeader* header = heap->first; header;) {
      BlockHeader* next = header->next;
      platform::block_unstamp(header);
      std::free(header);
      header = next;
    }
  }
  delete heap;
  return TRUE;
}

HANDLE GetProcessHeap() { return platform::process_heap(); }

LPVOID HeapAlloc(HANDLE handle, DWORD flags, SIZE_T size) {
  Heap* heap;
  auto guard = platform::heap_lock(handle, heap);
  if (!heap) return nullptr;
  if (size > platform::kLargestBlock || !platform::heap_fits(heap, sizeof(BlockHeader) + size))
    return platform::out_of_memory();
  auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
  if (!header) return platform::out_of_memory();
  if (flags & HEAP_ZERO_MEMORY) std::memset(header + 1, 0, size);
  platform::block_stamp(header, size, heap->kind);
  platform::block_link(heap, header);
  heap->held += sizeof(BlockHeader) + size;
  return header + 1;
}

LPVOID HeapReAlloc(HANDLE handle, DWORD flags, LPVOID block, SIZE_T size) {
  Heap* heap;
  auto guard = platform::heap_lock(handle, heap);
  if (!heap) return nullptr;
  if (!block) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  BlockHeader* header = platform::heap_block(heap, block);
  if (!header) return nullptr;
  size_t old_size = header->size;
  if (size > platform::kLargestBlock || (size > old_size && !platform::heap_fits(heap, size - old_size)))
    return platform::out_of_memory();

  if (flags & HEAP_REALLOC_IN_PLACE_ONLY) {
    // glibc's block may have room beyond the size asked for; only that can be used.
    if (sizeof(BlockHeader) + size > malloc_usable_size(header)) return platform::out_of_memory();
  } else {
    platform::block_unstamp(header);  // the old place must not pass as a live block once it is freed
    auto* moved = static_cast<BlockHeader*>(std::realloc(header, sizeof(BlockHeader) + size));
    if (!moved) {
      platform::block_stamp(header, old_size, heap->kind);
      return platform::out_of_memory();
    }
    header = moved;
    if (header->prev) header->prev->next = header;
    else heap->first = header;
    if (header->next) header->next->prev = header;
  }
  platform::block_stamp(header, size, heap->kind);
  if ((flags & HEAP_ZERO_MEMORY) && size > old_size)
    std::memset(reinterpret_cast<char*>(header + 1) + old_size, 0, size - old_size);
  heap->held = heap->held - old_size + size;
  return header + 1;
}

BOOL HeapFree(HANDLE handle, DWORD flags, LPVOID block) {
  Heap* heap;
  auto guard = platform::heap_lock(handle, heap);
  if (!heap) return FALSE;
  if (!block) return TRUE;
  BlockHeader* header = platform::heap_block(heap, block);
  if (!header) return FALSE;
  platform::block_unlink(heap, header);
  heap->held -= sizeof(BlockHeader) + header->size;
  platform::block_unstamp(header);
  std::free(header);
  return TRUE;
}

SIZE_T HeapSize(HANDLE handle, DWORD flags, LPCVOID block) {
  Heap* heap;
  auto guard = platform::heap_lock(handle, heap);
  if (!heap) return static_cast<SIZE_T>(-1);
  BlockHeader* header = platform::heap_block(heap, block);
  return header ? header->size : static_cast<SIZE_T>(-1);
}
