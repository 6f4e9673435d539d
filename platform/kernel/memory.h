// Memory of the device: the C runtime's exact-size allocator, private heaps,
// virtual memory and the memory status.
#pragma once

#include "platform/kernel/types.h"

// The target's C runtime allocator. Every block remembers the exact size it was asked
// for, because the runtime reads sizes back (_msize) and uses them as lengths. Blocks
// from here must be freed here; a pointer that did not come from here is detected.
namespace crt {
void* malloc(size_t size);
void* calloc(size_t count, size_t size);
void* realloc(void* block, size_t size);
void free(void* block);
// The exact size requested for the block; (size_t)-1 for null or a foreign pointer.
size_t _msize(void* block);
char* _strdup(const char* text);
}  // namespace crt
