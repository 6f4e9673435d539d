// The C runtime's allocator: glibc blocks behind a 16-byte header that records the exact
// requested size and a check word, so sizes read back are exact and foreign pointers show.
#include <cstdlib>
#include <cstring>

#include "platform/kernel/block_header.h"
#include "platform/kernel/memory.h"

namespace crt {

using platform::BlockHeader;

void* malloc(size_t size) {
  if (size > platform::kLargestBlock) return nullptr;
  auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
  if (!header) return nullptr;
  platform::block_stamp(header, size, platform::kCrtBlockMagic);
  return header + 1;
}

// Large blocks come through glibc's calloc, which skips the clearing of fresh pages (the
// kernel gives them zeroed): a large pool that is mostly never used then costs no page
// faults. Small blocks are cleared here, reusing freed blocks as malloc does.
constexpr size_t kFreshPagesBlock = 128 * 1024;  // glibc maps blocks this large on their own

void* calloc(size_t count, size_t size) {
  if (size != 0 && count > platform::kLargestBlock / size) return nullptr;
  size_t bytes = count * size;
  if (bytes < kFreshPagesBlock) {
    void* block = malloc(bytes);
    if (block) std::memset(block, 0, bytes);
    return block;
  }
  auto* header = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + bytes));
  if (!header) return nullptr;
  platform::block_stamp(header, bytes, platform::kCrtBlockMagic);
  return header + 1;
}

void* realloc(void* block, size_t size) {
  if (!block) return malloc(size);
  BlockHeader* header = platform::block_header(block, platform::kCrtBlockMagic);
  if (!header || size > platform::kLargestBlock) return nullptr;
  if (size == 0) {
    free(block);
    return nullptr;
  }
  platform::block_unstamp(header);
  auto* moved = static_cast<BlockHeader*>(std::realloc(header, sizeof(BlockHeader) + size));
  if (!moved) {
    header->magic = platform::block_check(header->size, platform::kCrtBlockMagic);
    return nullptr;
  }
  platform::block_stamp(moved, size, platform::kCrtBlockMagic);
  return moved + 1;
}

void free(void* block) {
  if (!block) return;
  BlockHeader* header = platform::block_header(block, platform::kCrtBlockMagic);
  if (!header) return;  // not ours: leaking it beats corrupting the heap
  platform::block_unstamp(header);
  std::free(header);
}

size_t _msize(void* block) {
  if (!block) return static_cast<size_t>(-1);
  BlockHeader* header = platform::block_header(block, platform::kCrtBlockMagic);
  return header ? header->size : static_cast<size_t>(-1);
}

char* _strdup(const char* text) {
  if (!text) return nullptr;
  size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(malloc(size));
  if (copy) std::memcpy(copy, text, size);
  return copy;
}

}  // namespace crt
