// The header in front of every block of the C runtime allocator and of the private heaps.
// Internal to the platform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// 16 bytes keep the block 16-aligned. prev/next link heap blocks so a destroyed heap
// frees them all; C runtime blocks leave them null.
struct BlockHeader {
  BlockHeader* prev;
  BlockHeader* next;
  uint32_t size;   // exact size asked for
  uint32_t magic;  // block_check(size, kind): tells our live blocks from anything else
};
static_assert(sizeof(BlockHeader) == 16);

constexpr uint32_t kCrtBlockMagic = 0x5A524B43;   // C runtime block
constexpr uint32_t kHeapBlockMagic = 0x5A524B48;  // private heap block
constexpr size_t kLargestBlock = 0x7FFF0000u;

inline uint32_t block_check(uint32_t size, uint32_t kind) { return kind ^ (size * 0x9E3779B1u); }

inline void block_stamp(BlockHeader* header, size_t size, uint32_t kind) {
  header->size = static_cast<uint32_t>(size);
  header->magic = block_check(header->size, kind);
}

// Marks a block dead before it is freed or moved. The store is volatile: the compiler
// would otherwise drop it as dead right before free(), and a freed block would still
// pass the check.
inline void block_unstamp(BlockHeader* header) { *static_cast<volatile uint32_t*>(&header->magic) = 0; }

// Copies size bytes at address into out without ever faulting; false when some of them
// are not mapped. Pages that are mapped but inaccessible are still read.
bool memory_peek(const void* address, void* out, size_t size);

// The header of a live block of this kind, or null when the pointer is not one.
// It reads in front of arbitrary pointers on purpose, so the address sanitizer is off here.
__attribute__((no_sanitize_address)) inline BlockHeader* block_header(void* block, uint32_t kind) {
  if (!block || (reinterpret_cast<uintptr_t>(block) & 7) != 0) return nullptr;
  BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
  // A header on the page before the block's may sit on a page that cannot be read
  // (a pointer to the start of a mapping): look before touching it.
  if ((reinterpret_cast<uintptr_t>(block) & 0xFFF) < sizeof(BlockHeader)) {
    BlockHeader copy;
    if (!memory_peek(header, &copy, sizeof copy) || copy.magic != block_check(copy.size, kind)) return nullptr;
  }
  return header->magic == block_check(header->size, kind) ? header : nullptr;
}

}  // namespace platform
