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

// The header of a live block of this kind, or null when the pointer is not one.
inline BlockHeader* block_header(void* block, uint32_t kind) {
  if (!block || (reinterpret_cast<uintptr_t>(block) & 7) != 0) return nullptr;
  BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
  return header->magic == block_check(header->size, kind) ? header : nullptr;
}

}  // namespace platform
