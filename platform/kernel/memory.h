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

// ---- Private heaps ----
// A heap owns every block allocated from it: HeapDestroy releases them all. Every call
// is thread-safe; a block given to the wrong heap, or a pointer that is no heap block,
// is refused with ERROR_INVALID_PARAMETER and changes nothing.

constexpr DWORD HEAP_NO_SERIALIZE = 0x1;  // accepted, ignored: heaps always serialize
constexpr DWORD HEAP_GENERATE_EXCEPTIONS = 0x4;  // accepted, ignored
constexpr DWORD HEAP_ZERO_MEMORY = 0x8;
constexpr DWORD HEAP_REALLOC_IN_PLACE_ONLY = 0x10;

// A new heap. maximum_size 0 lets it grow without limit; otherwise the bytes it holds
// at once never pass maximum_size. Null with ERROR_INVALID_PARAMETER when initial_size
// exceeds a non-zero maximum_size.
HANDLE HeapCreate(DWORD options, SIZE_T initial_size, SIZE_T maximum_size);
// Releases the heap and every block still allocated in it. The process heap is refused.
BOOL HeapDestroy(HANDLE heap);
// The heap of the process: always there, never destroyed.
HANDLE GetProcessHeap();
// A block of exactly size bytes (zeroed with HEAP_ZERO_MEMORY); null when out of memory.
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size);
// Resizes a block keeping its contents; HEAP_ZERO_MEMORY zeroes the grown part and
// HEAP_REALLOC_IN_PLACE_ONLY fails (null, block untouched) rather than move it.
LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T size);
// Returns the block to its heap. A null block is accepted and does nothing.
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);
// The exact size asked for the block; (SIZE_T)-1 when it is not a live block of this heap.
SIZE_T HeapSize(HANDLE heap, DWORD flags, LPCVOID block);

// ---- Virtual memory ----
// Reservations start on 64 KiB boundaries, commits and protections work on 4 KiB pages.
// Only regions made by VirtualAlloc can be committed, protected or freed; VirtualQuery
// and the address tests also answer for the rest of the address space.

namespace platform {
// The last byte a program may use. A 32-bit process on a 64-bit kernel is given
// addresses up to just below 4 GiB; its stack usually lies there.
constexpr uintptr_t kHighestProgramAddress = 0xFFFFDFFF;
}  // namespace platform

constexpr DWORD MEM_COMMIT = 0x1000;
constexpr DWORD MEM_RESERVE = 0x2000;
constexpr DWORD MEM_DECOMMIT = 0x4000;
constexpr DWORD MEM_RELEASE = 0x8000;
constexpr DWORD MEM_FREE = 0x10000;
constexpr DWORD MEM_PRIVATE = 0x20000;
constexpr DWORD MEM_MAPPED = 0x40000;
constexpr DWORD MEM_TOP_DOWN = 0x100000;  // accepted, ignored
constexpr DWORD MEM_IMAGE = 0x1000000;

constexpr DWORD PAGE_NOACCESS = 0x01;
constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD PAGE_WRITECOPY = 0x08;
constexpr DWORD PAGE_EXECUTE = 0x10;
constexpr DWORD PAGE_EXECUTE_READ = 0x20;
constexpr DWORD PAGE_EXECUTE_READWRITE = 0x40;
constexpr DWORD PAGE_EXECUTE_WRITECOPY = 0x80;
// Modifiers, combined with one of the protections above and reported back as given.
constexpr DWORD PAGE_GUARD = 0x100;  // makes the pages inaccessible here
constexpr DWORD PAGE_NOCACHE = 0x200;
constexpr DWORD PAGE_PHYSICAL = 0x400;

struct MEMORY_BASIC_INFORMATION {
  PVOID BaseAddress;
  PVOID AllocationBase;
  DWORD AllocationProtect;
  SIZE_T RegionSize;
  DWORD State;
  DWORD Protect;
  DWORD Type;
};
using PMEMORY_BASIC_INFORMATION = MEMORY_BASIC_INFORMATION*;

// Reserves address space (MEM_RESERVE), commits pages (MEM_COMMIT: of an existing
// reservation when address is given, of a new one otherwise) or both. Committed pages
// read as zero the first time. Null with ERROR_INVALID_PARAMETER or ERROR_INVALID_ADDRESS.
LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocation_type, DWORD protect);
// Decommits pages of a region (MEM_DECOMMIT; size 0 at the region's base means all of
// it) or releases the whole region (MEM_RELEASE, with size 0 and the region's base).
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD free_type);
// Changes the protection of committed pages of one region; *old_protect receives the
// protection of the first page.
BOOL VirtualProtect(LPVOID address, SIZE_T size, DWORD new_protect, DWORD* old_protect);
// Describes the run of pages that starts at the page holding address and shares its
// state and protection. Returns the bytes written (sizeof(MEMORY_BASIC_INFORMATION)),
// or 0 for a short buffer or an address beyond the process's range.
SIZE_T VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION buffer, SIZE_T length);

// Whether some byte of [address, address + size) cannot be read (written). They look
// the pages up instead of touching them, so they never fault. size 0 is never bad.
BOOL IsBadReadPtr(LPCVOID address, UINT_PTR size);
BOOL IsBadWritePtr(LPVOID address, UINT_PTR size);

// ---- Memory status ----

struct MEMORYSTATUS {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  SIZE_T dwTotalPhys;
  SIZE_T dwAvailPhys;
  SIZE_T dwTotalPageFile;
  SIZE_T dwAvailPageFile;
  SIZE_T dwTotalVirtual;
  SIZE_T dwAvailVirtual;
};
using LPMEMORYSTATUS = MEMORYSTATUS*;

// Fills the record with the host's real figures seen as a 32-bit process: physical
// memory and swap from the host, clamped below 2 GiB so that no figure reads as a
// negative 32-bit number; the virtual figures are those of a 2 GiB user address space.
void GlobalMemoryStatus(LPMEMORYSTATUS status);
