// Memory services: exact-size C runtime blocks, private heaps, virtual memory, address
// tests and the memory status.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/block_header.h"
#include "platform/kernel/memory.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();  // the sanitizer's allocator
#endif

namespace {

constexpr SIZE_T kPage = 4096;
constexpr SIZE_T kNotABlock = static_cast<SIZE_T>(-1);

// Bytes the process has allocated right now, from whichever allocator is in use.
size_t allocated_bytes() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

bool all_bytes_are(const void* block, size_t size, unsigned char value) {
  auto* bytes = static_cast<const unsigned char*>(block);
  for (size_t i = 0; i < size; ++i)
    if (bytes[i] != value) return false;
  return true;
}

// Leaves a freed, dirty block of this size behind, so that the next allocations are
// likely to get memory that is not zero already.
void leave_dirty_memory(size_t size) {
  // Through a volatile pointer, or the compiler drops the whole malloc-fill-free.
  void* volatile dirty = std::malloc(size);
  std::memset(dirty, 0xCD, size);
  std::free(dirty);
}

// Two pages of address space: the first only reserved, the second committed read/write.
// A pointer to the second page has an inaccessible page right in front of it.
struct GuardedPage {
  char* base = nullptr;
  char* page = nullptr;
  GuardedPage() {
    base = static_cast<char*>(VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE, PAGE_NOACCESS));
    page = static_cast<char*>(VirtualAlloc(base + kPage, kPage, MEM_COMMIT, PAGE_READWRITE));
  }
  ~GuardedPage() { VirtualFree(base, 0, MEM_RELEASE); }
};

// ---- C runtime blocks ----

TEST(CrtMemory, SizeReadBackIsExactlyTheSizeAsked) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{13}, size_t{16}, size_t{4095}, size_t{200000}}) {
    void* block = crt::malloc(size);
    ASSERT_NE(block, nullptr) << "size " << size;
    EXPECT_EQ(crt::_msize(block), size) << "size " << size;
    crt::free(block);
  }
}

TEST(CrtMemory, ReallocKeepsContentsAndTracksTheNewSize) {
  struct Step {
    size_t size;
  };
  const Step steps[] = {{13}, {5000}, {7}, {7}, {100000}, {1}};
  char* block = static_cast<char*>(crt::malloc(20));
  std::memcpy(block, "0123456789abcdefghij", 20);
  size_t kept = 20;
  for (const Step& step : steps) {
    block = static_cast<char*>(crt::realloc(block, step.size));
    ASSERT_NE(block, nullptr) << "to " << step.size;
    EXPECT_EQ(crt::_msize(block), step.size) << "to " << step.size;
    kept = std::min(kept, step.size);
    EXPECT_EQ(std::string(block, kept), std::string("0123456789abcdefghij", kept)) << "to " << step.size;
  }
  EXPECT_EQ(crt::realloc(block, 0), nullptr);  // frees it
}

TEST(CrtMemory, CallocZeroesAndRefusesSizesThatOverflow) {
  // Small blocks and blocks large enough to be mapped on their own, each after freed
  // memory of its size was left dirty: twice, as glibc maps the first large block on its
  // own and, having raised its threshold, takes the second from the heap.
  const struct {
    size_t count, size;
  } cases[] = {{100, 40}, {1000, 300}, {3, 0x40000}};
  for (const auto& test : cases) {
    size_t bytes = test.count * test.size;
    leave_dirty_memory(bytes);
    leave_dirty_memory(bytes);
    auto* block = static_cast<unsigned char*>(crt::calloc(test.count, test.size));
    ASSERT_NE(block, nullptr) << bytes;
    EXPECT_EQ(crt::_msize(block), bytes);
    EXPECT_TRUE(all_bytes_are(block, bytes, 0)) << bytes;
    crt::free(block);
  }

  EXPECT_EQ(crt::calloc(0x10000, 0x10001), nullptr);     // product wraps to 0x10000 in 32 bits
  EXPECT_EQ(crt::calloc(0x80000000u, 2), nullptr);       // product wraps to 0
  EXPECT_EQ(crt::malloc(0xFFFFFFF0u), nullptr);
}

TEST(CrtMemory, ForeignPointersAreNotBlocks) {
  char* block = static_cast<char*>(crt::malloc(64));
  void* heap_block = HeapAlloc(GetProcessHeap(), 0, 64);
  alignas(16) char local[64] = {};
  GuardedPage guarded;
  ASSERT_NE(guarded.page, nullptr);
  struct Case {
    const char* name;
    void* pointer;
  } cases[] = {
      {"null", nullptr},
      {"inside a block", block + 16},
      {"misaligned", block + 1},
      {"private heap block", heap_block},
      {"stack array", local + 32},
      {"page after an inaccessible page", guarded.page},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(crt::_msize(c.pointer), kNotABlock) << c.name;
    crt::free(c.pointer);  // refused: nothing may break
    if (c.pointer) {  // null would allocate
      EXPECT_EQ(crt::realloc(c.pointer, 8), nullptr) << c.name;
    }
  }
  EXPECT_EQ(crt::_msize(block), 64u);
  EXPECT_EQ(HeapSize(GetProcessHeap(), 0, heap_block), 64u);
  crt::free(block);
  HeapFree(GetProcessHeap(), 0, heap_block);
}

// A block whose header lies on the page before it is checked by reading that page from
// outside; a forked child must read its own memory, not its parent's.
TEST(CrtMemory, ForkedChildReadsItsOwnHeadersAtPageStarts) {
  GuardedPage guarded;
  ASSERT_NE(guarded.page, nullptr);
  ASSERT_EQ(crt::_msize(guarded.page), kNotABlock);  // the parent has read from outside once
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Pages only the child has: a live header at the end of the first, the block at the
    // start of the second.
    auto* pages = static_cast<char*>(mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (pages == MAP_FAILED) _exit(2);
    auto* header = reinterpret_cast<platform::BlockHeader*>(pages + kPage) - 1;
    platform::block_stamp(header, 40, platform::kCrtBlockMagic);
    _exit(crt::_msize(pages + kPage) == 40 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's block was not seen as one";
}

TEST(CrtMemory, FreedBlockIsNoLongerABlock) {
  void* block = crt::malloc(24);
  crt::free(block);
  EXPECT_EQ(crt::_msize(block), kNotABlock);
}

// ---- Private heaps ----

TEST(Heap, SizeIsExactlyTheSizeAsked) {
  HANDLE heap = HeapCreate(0, 0, 0);
  ASSERT_NE(heap, nullptr);
  for (SIZE_T size : {SIZE_T{0}, SIZE_T{1}, SIZE_T{13}, SIZE_T{4095}, SIZE_T{100000}}) {
    void* block = HeapAlloc(heap, 0, size);
    ASSERT_NE(block, nullptr) << "size " << size;
    EXPECT_EQ(HeapSize(heap, 0, block), size) << "size " << size;
    EXPECT_EQ(crt::_msize(block), kNotABlock) << "size " << size;  // not a C runtime block
  }
  EXPECT_TRUE(HeapDestroy(heap));
}

TEST(Heap, ZeroMemoryFlagGivesZeroedBlocks) {
  leave_dirty_memory(3000);
  HANDLE heap = HeapCreate(0, 0, 0);
  auto* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 3000));
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(all_bytes_are(block, 3000, 0));
  HeapDestroy(heap);
}

TEST(Heap, ReAllocKeepsContentsAndZeroesTheGrownPart) {
  HANDLE heap = HeapCreate(0, 0, 0);
  auto* block = static_cast<unsigned char*>(HeapAlloc(heap, 0, 10));
  std::memset(block, 0x5A, 10);
  struct Step {
    SIZE_T size;
    DWORD flags;
  };
  const Step steps[] = {{3000, HEAP_ZERO_MEMORY}, {6, 0}, {20000, HEAP_ZERO_MEMORY}, {10, HEAP_ZERO_MEMORY}};
  SIZE_T kept = 10;  // bytes still holding 0x5A at the start
  for (const Step& step : steps) {
    leave_dirty_memory(step.size);
    auto* moved = static_cast<unsigned char*>(HeapReAlloc(heap, step.flags, block, step.size));
    ASSERT_NE(moved, nullptr) << "to " << step.size;
    block = moved;
    SIZE_T old_size = kept;
    kept = std::min(kept, step.size);
    EXPECT_EQ(HeapSize(heap, 0, block), step.size) << "to " << step.size;
    EXPECT_TRUE(all_bytes_are(block, kept, 0x5A)) << "to " << step.size;
    if ((step.flags & HEAP_ZERO_MEMORY) && step.size > old_size) {
      EXPECT_TRUE(all_bytes_are(block + kept, step.size - kept, 0)) << "to " << step.size;
    }
    std::memset(block + kept, 0x11, step.size - kept);  // dirty what the next step may keep
    kept = step.size;
    std::memset(block, 0x5A, kept);
  }
  HeapDestroy(heap);
}

TEST(Heap, ReAllocInPlaceOnlyNeverMovesTheBlock) {
  HANDLE heap = HeapCreate(0, 0, 0);
  auto* block = static_cast<char*>(HeapAlloc(heap, 0, 100));
  std::memset(block, 'k', 100);
  EXPECT_EQ(HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, block, 40), block);
  EXPECT_EQ(HeapSize(heap, 0, block), 40u);
  EXPECT_EQ(HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, block, 1 << 20), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(HeapSize(heap, 0, block), 40u);
  EXPECT_TRUE(all_bytes_are(block, 40, 'k'));
  EXPECT_TRUE(HeapFree(heap, 0, block));
  HeapDestroy(heap);
}

TEST(Heap, BlocksGivenToTheWrongHeapOrForeignPointersAreRefused) {
  HANDLE first = HeapCreate(0, 0, 0);
  HANDLE second = HeapCreate(0, 0, 0);
  char* of_first = static_cast<char*>(HeapAlloc(first, 0, 32));
  void* crt_block = crt::malloc(32);
  void* freed = HeapAlloc(second, 0, 32);
  HeapFree(second, 0, freed);
  GuardedPage guarded;
  struct Case {
    const char* name;
    HANDLE heap;
    void* pointer;
  } cases[] = {
      {"block of another heap", second, of_first},
      {"block of a private heap given to the process heap", GetProcessHeap(), of_first},
      {"C runtime block", first, crt_block},
      {"inside a block", first, of_first + 16},
      {"block freed already", second, freed},
      {"page after an inaccessible page", first, guarded.page},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(HeapFree(c.heap, 0, c.pointer)) << c.name;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << c.name;
    EXPECT_EQ(HeapSize(c.heap, 0, c.pointer), kNotABlock) << c.name;
    EXPECT_EQ(HeapReAlloc(c.heap, 0, c.pointer, 64), nullptr) << c.name;
  }
  EXPECT_EQ(HeapSize(first, 0, of_first), 32u);  // untouched by all of the above
  EXPECT_EQ(crt::_msize(crt_block), 32u);
  crt::free(crt_block);
  EXPECT_TRUE(HeapDestroy(first));
  EXPECT_TRUE(HeapDestroy(second));
}

TEST(Heap, HandlesThatAreNoHeapAreRefused) {
  HANDLE destroyed = HeapCreate(0, 0, 0);
  HeapDestroy(destroyed);
  int not_a_heap = 0;
  for (HANDLE handle : {HANDLE{nullptr}, destroyed, static_cast<HANDLE>(&not_a_heap)}) {
    SetLastError(0);
    EXPECT_EQ(HeapAlloc(handle, 0, 8), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(HeapFree(handle, 0, nullptr));
    EXPECT_FALSE(HeapDestroy(handle));
  }
  EXPECT_FALSE(HeapDestroy(GetProcessHeap()));
  EXPECT_NE(HeapAlloc(GetProcessHeap(), 0, 1), nullptr);  // still there
}

TEST(Heap, NullBlockFreesNothingAndSucceeds) {
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, nullptr));
  SetLastError(0);
  EXPECT_EQ(HeapReAlloc(GetProcessHeap(), 0, nullptr, 8), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Heap, DestroyReleasesEveryBlockStillAllocated) {
  HANDLE heap = HeapCreate(0, 0, 0);
  std::vector<void*> blocks;
  blocks.reserve(1000);
  size_t before = allocated_bytes();
  // Sizes above glibc's per-thread cache, which mallinfo2 would count as still in use.
  for (int i = 0; i < 1000; ++i) blocks.push_back(HeapAlloc(heap, 0, 1100 + (i * 37) % 3000));
  // Move some blocks, then free the first, the last and some in between (among them the
  // neighbours of moved ones), so the block list is relinked in every way before the heap goes.
  for (size_t i = 2; i + 1 < blocks.size(); i += 6) {
    blocks[i] = HeapReAlloc(heap, 0, blocks[i], 50000);
    ASSERT_NE(blocks[i], nullptr);
  }
  HeapFree(heap, 0, blocks.front());
  HeapFree(heap, 0, blocks.back());
  for (size_t i = 1; i + 1 < blocks.size(); i += 3) HeapFree(heap, 0, blocks[i]);
  EXPECT_GT(allocated_bytes(), before + 1000000);
  EXPECT_TRUE(HeapDestroy(heap));
  EXPECT_LT(allocated_bytes(), before + 4096);
}

TEST(Heap, MaximumSizeLimitsWhatTheHeapHoldsAtOnce) {
  EXPECT_EQ(HeapCreate(0, 0x20000, 0x10000), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  HANDLE heap = HeapCreate(0, 0, 0x10000);
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(HeapAlloc(heap, 0, 0x20000), nullptr);
  std::vector<void*> blocks;
  while (void* block = HeapAlloc(heap, 0, 1000)) blocks.push_back(block);
  EXPECT_GE(blocks.size(), 60u);
  EXPECT_LE(blocks.size(), 65u);
  EXPECT_EQ(HeapReAlloc(heap, 0, blocks[0], 5000), nullptr);
  HeapFree(heap, 0, blocks.back());
  EXPECT_NE(HeapAlloc(heap, 0, 1000), nullptr);
  HeapDestroy(heap);
}

TEST(Heap, FourThreadsAllocateAndFreeAtOnce) {
  HANDLE heap = HeapCreate(0, 0, 0);
  auto worker = [heap](int id, bool* ok) {
    std::mt19937 random(id);
    std::vector<unsigned char*> live;
    for (int round = 0; round < 20000; ++round) {
      if (live.size() < 64 && (live.empty() || random() % 3 != 0)) {
        SIZE_T size = 1 + random() % 500;
        auto* block = static_cast<unsigned char*>(HeapAlloc(heap, 0, size));
        if (!block) return;
        std::memset(block, id, size);
        live.push_back(block);
      } else {
        size_t index = random() % live.size();
        unsigned char* block = live[index];
        SIZE_T size = HeapSize(heap, 0, block);
        if (size == kNotABlock || !all_bytes_are(block, size, static_cast<unsigned char>(id))) return;
        if (!HeapFree(heap, 0, block)) return;
        live[index] = live.back();
        live.pop_back();
      }
    }
    *ok = true;  // blocks still live are left for HeapDestroy
  };
  bool ok[4] = {};
  std::vector<std::thread> threads;
  for (int id = 0; id < 4; ++id) threads.emplace_back(worker, id + 1, &ok[id]);
  for (auto& thread : threads) thread.join();
  for (int id = 0; id < 4; ++id) EXPECT_TRUE(ok[id]) << "thread " << id;
  EXPECT_TRUE(HeapDestroy(heap));
}

// ---- Virtual memory ----

MEMORY_BASIC_INFORMATION query(const void* address) {
  MEMORY_BASIC_INFORMATION info{};
  EXPECT_EQ(VirtualQuery(address, &info, sizeof info), sizeof info);
  return info;
}

TEST(VirtualMemory, CodeBlockLifeCycle) {
  // The assembler's way: reserve and commit read/write, write, make it execute-read,
  // then decommit by the queried size and release.
  const SIZE_T size = 3 * kPage + 100;
  auto* block = static_cast<unsigned char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE,
                                                          PAGE_READWRITE | PAGE_NOCACHE));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(platform::address_of(block) % 65536, 0u);
  EXPECT_TRUE(all_bytes_are(block, 4 * kPage, 0));
  std::memset(block, 0xE1, size);
  EXPECT_FALSE(IsBadWritePtr(block + size - 1, 1));

  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(block, size, PAGE_EXECUTE_READ | PAGE_NOCACHE, &old));
  EXPECT_EQ(old, PAGE_READWRITE | PAGE_NOCACHE);
  MEMORY_BASIC_INFORMATION info = query(block + 10);
  EXPECT_EQ(info.BaseAddress, block);
  EXPECT_EQ(info.AllocationBase, block);
  EXPECT_EQ(info.AllocationProtect, PAGE_READWRITE | PAGE_NOCACHE);
  EXPECT_EQ(info.RegionSize, 4 * kPage);
  EXPECT_EQ(info.State, MEM_COMMIT);
  EXPECT_EQ(info.Protect, PAGE_EXECUTE_READ | PAGE_NOCACHE);
  EXPECT_EQ(info.Type, MEM_PRIVATE);
  EXPECT_EQ(block[size - 1], 0xE1);
  EXPECT_FALSE(IsBadReadPtr(block, size));
  EXPECT_TRUE(IsBadWritePtr(block + 5, 1));

  ASSERT_TRUE(VirtualFree(block, info.RegionSize, MEM_DECOMMIT));
  info = query(block);
  EXPECT_EQ(info.State, MEM_RESERVE);
  EXPECT_EQ(info.RegionSize, 4 * kPage);
  EXPECT_TRUE(IsBadReadPtr(block, 1));
  ASSERT_TRUE(VirtualFree(block, 0, MEM_RELEASE));
  info = query(block);
  EXPECT_EQ(info.State, MEM_FREE);
  EXPECT_EQ(info.AllocationBase, nullptr);
  EXPECT_TRUE(IsBadReadPtr(block, 1));
}

TEST(VirtualMemory, CommitInsideAReservationWorksOnWholePages) {
  auto* base = static_cast<char*>(VirtualAlloc(nullptr, 8 * kPage, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(base, nullptr);
  // Ten bytes across the boundary of pages 2 and 3 commit both pages.
  void* committed = VirtualAlloc(base + 3 * kPage - 5, 10, MEM_COMMIT, PAGE_READWRITE);
  EXPECT_EQ(committed, base + 2 * kPage);
  struct Run {
    SIZE_T offset;
    SIZE_T size;
    DWORD state;
    DWORD protect;
  } runs[] = {
      {0, 2 * kPage, MEM_RESERVE, 0},
      {2 * kPage, 2 * kPage, MEM_COMMIT, PAGE_READWRITE},
      {4 * kPage, 4 * kPage, MEM_RESERVE, 0},
  };
  for (const Run& run : runs) {
    MEMORY_BASIC_INFORMATION info = query(base + run.offset + 7);
    EXPECT_EQ(info.BaseAddress, base + run.offset) << "page " << run.offset / kPage;
    EXPECT_EQ(info.AllocationBase, base) << "page " << run.offset / kPage;
    EXPECT_EQ(info.AllocationProtect, PAGE_NOACCESS) << "page " << run.offset / kPage;
    EXPECT_EQ(info.RegionSize, run.size) << "page " << run.offset / kPage;
    EXPECT_EQ(info.State, run.state) << "page " << run.offset / kPage;
    EXPECT_EQ(info.Protect, run.protect) << "page " << run.offset / kPage;
  }
  // A range running from committed into reserved pages is not all readable.
  EXPECT_FALSE(IsBadWritePtr(base + 2 * kPage, 2 * kPage));
  EXPECT_TRUE(IsBadReadPtr(base + 2 * kPage, 2 * kPage + 1));
  EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

TEST(VirtualMemory, DecommittedPagesComeBackZeroed) {
  auto* base = static_cast<char*>(VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(base, nullptr);
  std::memset(base, 0x77, 2 * kPage);
  ASSERT_TRUE(VirtualFree(base + kPage, kPage, MEM_DECOMMIT));
  ASSERT_EQ(VirtualAlloc(base + kPage, kPage, MEM_COMMIT, PAGE_READWRITE), base + kPage);
  EXPECT_TRUE(all_bytes_are(base, kPage, 0x77));
  EXPECT_TRUE(all_bytes_are(base + kPage, kPage, 0));
  // Committing committed pages again keeps their contents.
  ASSERT_EQ(VirtualAlloc(base, kPage, MEM_COMMIT, PAGE_READWRITE), base);
  EXPECT_TRUE(all_bytes_are(base, kPage, 0x77));
  EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

TEST(VirtualMemory, ReservationAtAnAddressStartsOnA64KiBBoundary) {
  // Find free space by reserving and releasing it.
  auto* space = static_cast<char*>(VirtualAlloc(nullptr, 4 * 65536, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(space, nullptr);
  ASSERT_TRUE(VirtualFree(space, 0, MEM_RELEASE));

  void* base = VirtualAlloc(space + 65536 + 0x1234, 100, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY);
  ASSERT_EQ(base, space + 65536);
  MEMORY_BASIC_INFORMATION info = query(base);
  EXPECT_EQ(info.AllocationBase, base);
  EXPECT_EQ(info.RegionSize, 2 * kPage);  // from the boundary to the page holding the end
  EXPECT_EQ(info.State, MEM_COMMIT);
  EXPECT_EQ(info.Protect, PAGE_READONLY);
  SetLastError(0);
  EXPECT_EQ(VirtualAlloc(space + 65536 + 3 * kPage, 10, MEM_RESERVE, PAGE_READWRITE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
  EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

TEST(VirtualMemory, BadRequestsAreRefused) {
  auto* region = static_cast<char*>(VirtualAlloc(nullptr, 4 * kPage, MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(region, nullptr);
  ASSERT_NE(VirtualAlloc(region, kPage, MEM_COMMIT, PAGE_READWRITE), nullptr);
  int local = 0;
  DWORD old = 0;
  auto alloc = [](void* address, SIZE_T size, DWORD type, DWORD protect) {
    return VirtualAlloc(address, size, type, protect) != nullptr;
  };
  struct Case {
    const char* name;
    std::function<bool()> call;  // true when the call succeeded
    DWORD error;
  } cases[] = {
      {"alloc of size 0", [&] { return alloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE); }, ERROR_INVALID_PARAMETER},
      {"alloc of neither reserve nor commit", [&] { return alloc(nullptr, kPage, MEM_DECOMMIT, PAGE_READWRITE); },
       ERROR_INVALID_PARAMETER},
      {"alloc with protection 0", [&] { return alloc(nullptr, kPage, MEM_COMMIT, 0); }, ERROR_INVALID_PARAMETER},
      {"alloc with two protections", [&] { return alloc(nullptr, kPage, MEM_COMMIT, PAGE_READONLY | PAGE_READWRITE); },
       ERROR_INVALID_PARAMETER},
      {"alloc with an unknown modifier", [&] { return alloc(nullptr, kPage, MEM_COMMIT, PAGE_READWRITE | 0x800); },
       ERROR_INVALID_PARAMETER},
      {"alloc that wraps the address space",
       [&] { return alloc(platform::pointer_from(0xFFFF0000u), 0x20000, MEM_RESERVE, PAGE_READWRITE); },
       ERROR_INVALID_PARAMETER},
      {"commit outside any reservation", [&] { return alloc(&local, 4, MEM_COMMIT, PAGE_READWRITE); },
       ERROR_INVALID_ADDRESS},
      {"commit running past the reservation", [&] { return alloc(region + kPage, 4 * kPage, MEM_COMMIT, PAGE_READWRITE); },
       ERROR_INVALID_ADDRESS},
      {"free of an unknown type", [&] { return VirtualFree(region, 0, MEM_COMMIT) != FALSE; }, ERROR_INVALID_PARAMETER},
      {"release with a size", [&] { return VirtualFree(region, kPage, MEM_RELEASE) != FALSE; }, ERROR_INVALID_PARAMETER},
      {"release inside the region", [&] { return VirtualFree(region + kPage, 0, MEM_RELEASE) != FALSE; },
       ERROR_INVALID_PARAMETER},
      {"release of memory not ours", [&] { return VirtualFree(&local, 0, MEM_RELEASE) != FALSE; }, ERROR_INVALID_ADDRESS},
      {"decommit running past the region", [&] { return VirtualFree(region + kPage, 8 * kPage, MEM_DECOMMIT) != FALSE; },
       ERROR_INVALID_ADDRESS},
      {"protect of reserved pages", [&] { return VirtualProtect(region + kPage, kPage, PAGE_READONLY, &old) != FALSE; },
       ERROR_INVALID_ADDRESS},
      {"protect of memory not ours", [&] { return VirtualProtect(&local, 4, PAGE_READONLY, &old) != FALSE; },
       ERROR_INVALID_ADDRESS},
      {"protect without old protection", [&] { return VirtualProtect(region, kPage, PAGE_READONLY, nullptr) != FALSE; },
       ERROR_INVALID_PARAMETER},
      {"protect with a bad protection", [&] { return VirtualProtect(region, kPage, 0x3, &old) != FALSE; },
       ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(c.call()) << c.name;
    EXPECT_EQ(GetLastError(), c.error) << c.name;
  }
  MEMORY_BASIC_INFORMATION info;
  EXPECT_EQ(VirtualQuery(region, &info, sizeof info - 1), 0u);
  EXPECT_EQ(VirtualQuery(region, nullptr, sizeof info), 0u);
  EXPECT_EQ(VirtualQuery(platform::pointer_from(0xFFFFF000u), &info, sizeof info), 0u);
  // The region is unharmed by all of it.
  info = query(region);
  EXPECT_EQ(info.State, MEM_COMMIT);
  EXPECT_EQ(info.Protect, PAGE_READWRITE);
  EXPECT_EQ(info.RegionSize, kPage);
  EXPECT_TRUE(VirtualFree(region, 0, MEM_RELEASE));
}

// The protection the host's own map gives the page of address: code pages show without
// execute permission under qemu-user, which checks execution itself.
DWORD host_map_protection(const void* address) {
  uintptr_t at = platform::address_of(address);
  FILE* maps = std::fopen("/proc/self/maps", "r");
  if (!maps) return 0;
  char line[512];
  DWORD protection = 0;
  while (std::fgets(line, sizeof line, maps)) {
    unsigned long long start = 0, end = 0;
    char permissions[5] = {};
    if (std::sscanf(line, "%llx-%llx %4s", &start, &end, permissions) != 3 || at < start || at >= end) continue;
    bool execute = permissions[2] == 'x';
    protection = permissions[1] == 'w' ? (execute ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE)
                                       : (execute ? PAGE_EXECUTE_READ : PAGE_READONLY);
    break;
  }
  std::fclose(maps);
  return protection;
}

TEST(VirtualMemory, HostMemoryIsDescribedAndTested) {
  static const char text[] = "read only";
  static char writable[64];
  int local = 0;
  struct Case {
    const char* name;
    const void* address;
    bool readable;
    bool writable;
  } cases[] = {
      {"stack", &local, true, true},
      {"data", writable, true, true},
      {"read-only data", text, true, false},
      {"code", reinterpret_cast<const void*>(&VirtualQuery), true, false},
      {"null", nullptr, false, false},
      {"top of the address space", platform::pointer_from(0xFFFFFFF0u), false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsBadReadPtr(c.address, 4) == FALSE, c.readable) << c.name;
    EXPECT_EQ(IsBadWritePtr(const_cast<void*>(c.address), 4) == FALSE, c.writable) << c.name;
    EXPECT_FALSE(IsBadReadPtr(c.address, 0)) << c.name;  // an empty range is never bad
  }
  MEMORY_BASIC_INFORMATION info = query(&local);
  EXPECT_EQ(info.State, MEM_COMMIT);
  EXPECT_EQ(info.Protect, PAGE_READWRITE);
  EXPECT_EQ(info.BaseAddress, platform::pointer_from(platform::address_of(&local) & ~0xFFFu));
  info = query(reinterpret_cast<const void*>(&VirtualQuery));
  EXPECT_EQ(info.State, MEM_COMMIT);
  EXPECT_EQ(info.Protect, host_map_protection(reinterpret_cast<const void*>(&VirtualQuery)));
  EXPECT_NE(info.Protect & (PAGE_EXECUTE_READ | PAGE_READONLY), 0u);
  EXPECT_EQ(info.Type, MEM_IMAGE);
}

// ---- Memory status ----

TEST(MemoryStatus, ReportsTheHostsFiguresWithin32Bits) {
  MEMORYSTATUS status;
  std::memset(&status, 0xEE, sizeof status);
  status.dwLength = sizeof status;
  GlobalMemoryStatus(&status);
  EXPECT_EQ(status.dwLength, 32u);
  EXPECT_LE(status.dwMemoryLoad, 100u);
  uint64_t physical = uint64_t(sysconf(_SC_PHYS_PAGES)) * uint64_t(sysconf(_SC_PAGESIZE));
  EXPECT_EQ(status.dwTotalPhys, std::min<uint64_t>(physical, 0x7FFFFFFF));
  EXPECT_GT(status.dwAvailPhys, 0u);
  EXPECT_LE(status.dwAvailPhys, status.dwTotalPhys);
  EXPECT_LE(status.dwAvailPageFile, status.dwTotalPageFile);
  EXPECT_LE(status.dwTotalPageFile, 0x7FFFFFFFu);
  EXPECT_EQ(status.dwTotalVirtual, 0x7FFE0000u);
  EXPECT_LT(status.dwAvailVirtual, status.dwTotalVirtual);
}

}  // namespace
