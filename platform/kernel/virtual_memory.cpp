// Virtual memory over mmap/mprotect: a table of the regions VirtualAlloc made, with the
// state and protection of each page, and the host's own map for the rest of the space.
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/kernel/block_header.h"
#include "platform/kernel/memory.h"

namespace platform {
namespace {

constexpr uintptr_t kPageSize = 4096;
constexpr uintptr_t kGranularity = 65536;
constexpr uintptr_t kHighestAddress = kHighestProgramAddress;
constexpr DWORD kProtectionModifiers = PAGE_GUARD | PAGE_NOCACHE | PAGE_PHYSICAL;

uintptr_t round_down(uintptr_t value, uintptr_t unit) { return value & ~(unit - 1); }
uintptr_t round_up(uintptr_t value, uintptr_t unit) { return (value + unit - 1) & ~(unit - 1); }

// One reservation. A page's entry is 0 while it is only reserved, else the protection
// it was committed with.
struct Region {
  uintptr_t base = 0;
  size_t size = 0;
  DWORD allocation_protect = 0;
  std::vector<DWORD> pages;

  size_t page_index(uintptr_t address) const { return (address - base) / kPageSize; }
  bool holds(uintptr_t start, uintptr_t end) const { return start >= base && end <= base + size && start < end; }
};

struct RegionTable {
  std::mutex lock;
  std::map<uintptr_t, Region> regions;  // by base
};

RegionTable& region_table() {
  static RegionTable* instance = new RegionTable;  // outlives every static destructor
  return *instance;
}

// The region holding address, or null. The table's lock is held by the caller.
Region* region_at(RegionTable& table, uintptr_t address) {
  auto after = table.regions.upper_bound(address);
  if (after == table.regions.begin()) return nullptr;
  Region& region = std::prev(after)->second;
  return address - region.base < region.size ? &region : nullptr;
}

// Exactly one basic protection, plus any modifiers.
bool protection_valid(DWORD protect) {
  DWORD basic = protect & 0xFF;
  return (protect & ~(0xFF | kProtectionModifiers)) == 0 && basic != 0 && (basic & (basic - 1)) == 0;
}

int host_protection(DWORD protect) {
  if (protect & PAGE_GUARD) return PROT_NONE;
  switch (protect & 0xFF) {
    case PAGE_READONLY: return PROT_READ;
    case PAGE_READWRITE:
    case PAGE_WRITECOPY: return PROT_READ | PROT_WRITE;
    case PAGE_EXECUTE: return PROT_EXEC;
    case PAGE_EXECUTE_READ: return PROT_READ | PROT_EXEC;
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY: return PROT_READ | PROT_WRITE | PROT_EXEC;
    default: return PROT_NONE;
  }
}

bool protection_readable(DWORD protect) {
  if (protect & PAGE_GUARD) return false;
  DWORD basic = protect & 0xFF;
  return basic != PAGE_NOACCESS && basic != PAGE_EXECUTE && basic != 0;
}

bool protection_writable(DWORD protect) {
  if (protect & PAGE_GUARD) return false;
  DWORD basic = protect & 0xFF;
  return basic == PAGE_READWRITE || basic == PAGE_WRITECOPY || basic == PAGE_EXECUTE_READWRITE ||
         basic == PAGE_EXECUTE_WRITECOPY;
}

constexpr int kReserveFlags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;

// Maps size bytes of inaccessible address space on a granularity boundary; 0 on failure.
uintptr_t reserve_anywhere(size_t size) {
  size_t span = size + kGranularity - kPageSize;
  if (span < size) return 0;
  void* mapped = mmap(nullptr, span, PROT_NONE, kReserveFlags, -1, 0);
  if (mapped == MAP_FAILED) return 0;
  uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
  uintptr_t base = round_up(start, kGranularity);
  if (base > start) munmap(mapped, base - start);
  if (start + span > base + size) munmap(reinterpret_cast<void*>(base + size), start + span - base - size);
  return base;
}

// Maps the range exactly where asked, never over an existing mapping; false when taken.
bool reserve_at(uintptr_t base, size_t size) {
  void* wanted = reinterpret_cast<void*>(base);
  void* mapped = mmap(wanted, size, PROT_NONE, kReserveFlags | MAP_FIXED_NOREPLACE, -1, 0);
  if (mapped == MAP_FAILED) return false;
  if (mapped != wanted) {  // a kernel that took the flag as a mere hint
    munmap(mapped, size);
    return false;
  }
  return true;
}

bool commit(Region& region, uintptr_t start, uintptr_t end, DWORD protect) {
  if (mprotect(reinterpret_cast<void*>(start), end - start, host_protection(protect)) != 0) return false;
  for (uintptr_t page = start; page < end; page += kPageSize) region.pages[region.page_index(page)] = protect;
  return true;
}

// Puts fresh inaccessible pages in place, so their old contents are gone for good.
bool decommit(Region& region, uintptr_t start, uintptr_t end) {
  void* mapped = mmap(reinterpret_cast<void*>(start), end - start, PROT_NONE, kReserveFlags | MAP_FIXED, -1, 0);
  if (mapped == MAP_FAILED) return false;
  for (uintptr_t page = start; page < end; page += kPageSize) region.pages[region.page_index(page)] = 0;
  return true;
}

void describe_region(const Region& region, uintptr_t page, MEMORY_BASIC_INFORMATION& info) {
  size_t first = region.page_index(page);
  size_t last = first;
  while (last + 1 < region.pages.size() && region.pages[last + 1] == region.pages[first]) ++last;
  DWORD protect = region.pages[first];
  info.BaseAddress = reinterpret_cast<PVOID>(page);
  info.AllocationBase = reinterpret_cast<PVOID>(region.base);
  info.AllocationProtect = region.allocation_protect;
  info.RegionSize = (last - first + 1) * kPageSize;
  info.State = protect ? MEM_COMMIT : MEM_RESERVE;
  info.Protect = protect;
  info.Type = MEM_PRIVATE;
}

// Describes a page outside our regions from the host's map of the process; limit is
// where the next region of ours begins.
void describe_host(uintptr_t page, uintptr_t limit, MEMORY_BASIC_INFORMATION& info) {
  info = {};
  info.BaseAddress = reinterpret_cast<PVOID>(page);
  info.State = MEM_FREE;
  info.Protect = PAGE_NOACCESS;
  uintptr_t end = limit;
  if (FILE* maps = std::fopen("/proc/self/maps", "re")) {
    char line[512];
    while (std::fgets(line, sizeof line, maps)) {
      unsigned long long low = 0, high = 0;
      char perms[5] = {};
      int path_at = 0;
      if (std::sscanf(line, "%llx-%llx %4s %*s %*s %*s %n", &low, &high, perms, &path_at) < 3) continue;
      if (high <= page) continue;
      if (low > page) {  // the first mapping above a free page ends the free run
        if (low < end) end = static_cast<uintptr_t>(low);
        break;
      }
      bool readable = perms[0] == 'r', writable = perms[1] == 'w', executable = perms[2] == 'x';
      DWORD protect = writable ? (executable ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE)
                    : readable ? (executable ? PAGE_EXECUTE_READ : PAGE_READONLY)
                    : executable ? PAGE_EXECUTE : 0;
      info.AllocationBase = reinterpret_cast<PVOID>(static_cast<uintptr_t>(low));
      info.AllocationProtect = protect ? protect : PAGE_NOACCESS;
      info.State = protect ? MEM_COMMIT : MEM_RESERVE;
      info.Protect = protect;
      info.Type = perms[3] == 's' ? MEM_MAPPED : (path_at > 0 && line[path_at] == '/') ? MEM_IMAGE : MEM_PRIVATE;
      if (high - 1 < end) end = static_cast<uintptr_t>(high - 1) + 1;
      break;
    }
    std::fclose(maps);
  }
  info.RegionSize = end - page;
}

SIZE_T fail_query(DWORD error) {
  SetLastError(error);
  return 0;
}

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

LPVOID fail_alloc(DWORD error) {
  SetLastError(error);
  return nullptr;
}

// Whether every byte of the range can be read (or written), from the pages' descriptions.
bool range_accessible(const void* address, UINT_PTR size, bool write) {
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  uintptr_t end = at + size;
  if (at == 0 || end < at) return false;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<LPCVOID>(at), &info, sizeof info) == 0 || info.RegionSize == 0) return false;
    if (info.State != MEM_COMMIT) return false;
    if (!(write ? protection_writable(info.Protect) : protection_readable(info.Protect))) return false;
    at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

}  // namespace

namespace {

// How memory_peek reads. /proc/self/mem reads any mapped page, even an inaccessible one,
// without a fault, but only where it shows this process's own memory: under qemu-user it
// shows the emulator's, so the descriptor is checked once against a word we know. Where it
// is not usable, a pipe copies the bytes: the kernel refuses an unreadable page with EFAULT,
// never a signal. Both belong to one process: a forked child opens its own, told so by a
// fork handler instead of asking the process id on every read.
struct PeekChannel {
  int memory = -1;
  int pipe_ends[2] = {-1, -1};
  bool current = false;
};
std::mutex peek_lock;
PeekChannel peek_channel;
constexpr uint32_t kPeekCheckWord = 0x5A524B21;
volatile const uint32_t peek_check_word = kPeekCheckWord;

void forget_peek_channel_in_child() { peek_channel.current = false; }

void close_descriptor(int& descriptor) {
  if (descriptor >= 0) close(descriptor);
  descriptor = -1;
}

void open_peek_channel(PeekChannel& channel) {
  close_descriptor(channel.memory);
  close_descriptor(channel.pipe_ends[0]);
  close_descriptor(channel.pipe_ends[1]);
  channel.current = true;
  channel.memory = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
  if (channel.memory >= 0) {
    uint32_t word = 0;
    off64_t at = static_cast<off64_t>(reinterpret_cast<uintptr_t>(&peek_check_word));
    if (pread64(channel.memory, &word, sizeof word, at) == static_cast<ssize_t>(sizeof word) &&
        word == kPeekCheckWord) {
      return;
    }
    close_descriptor(channel.memory);
  }
  if (pipe2(channel.pipe_ends, O_CLOEXEC | O_NONBLOCK) != 0) channel.pipe_ends[0] = channel.pipe_ends[1] = -1;
}

// Copies through the pipe a page at a time (a pipe holds at least a page). The pipe is left
// empty whatever happens, so the next copy reads only its own bytes.
bool copy_through_pipe(const PeekChannel& channel, uintptr_t at, void* out, size_t size) {
  auto* target = static_cast<uint8_t*>(out);
  while (size > 0) {
    size_t chunk = std::min<size_t>(size, kPageSize - (at & (kPageSize - 1)));
    // The system call itself, not the C library's write: a sanitizer's wrapper of write would
    // check the bytes it is given, and a peek is the one read allowed to look at any byte.
    ssize_t written = syscall(SYS_write, channel.pipe_ends[1], reinterpret_cast<const void*>(at), chunk);
    ssize_t drained = written > 0 ? read(channel.pipe_ends[0], target, static_cast<size_t>(written)) : 0;
    if (written != static_cast<ssize_t>(chunk) || drained != written) return false;
    at += chunk;
    target += chunk;
    size -= chunk;
  }
  return true;
}

}  // namespace

bool memory_peek(const void* address, void* out, size_t size) {
  static std::once_flag fork_handler;
  std::call_once(fork_handler, [] { pthread_atfork(nullptr, nullptr, forget_peek_channel_in_child); });
  int saved_errno = errno;
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  bool copied = false;
  if (at != 0 && at + size >= at) {
    std::lock_guard guard(peek_lock);
    PeekChannel& channel = peek_channel;
    if (!channel.current) open_peek_channel(channel);
    if (channel.memory >= 0) {
      copied = pread64(channel.memory, out, size, static_cast<off64_t>(at)) == static_cast<ssize_t>(size);
    } else if (channel.pipe_ends[1] >= 0) {
      copied = copy_through_pipe(channel, at, out, size);
    }
  }
  errno = saved_errno;
  return copied;
}

}  // namespace platform

using platform::kPageSize;
using platform::Region;

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocation_type, DWORD protect) {
  const DWORD known = MEM_COMMIT | MEM_RESERVE | MEM_TOP_DOWN;
  if (size == 0 || (allocation_type & ~known) != 0 || (allocation_type & (MEM_COMMIT | MEM_RESERVE)) == 0 ||
      !platform::protection_valid(protect))
    return platform::fail_alloc(ERROR_INVALID_PARAMETER);
  uintptr_t start = reinterpret_cast<uintptr_t>(address);
  if (size > platform::kHighestAddress || start > platform::kHighestAddress + 1 - size)
    return platform::fail_alloc(ERROR_INVALID_PARAMETER);
  uintptr_t end = platform::round_up(start + size, kPageSize);
  uintptr_t first_page = platform::round_down(start, kPageSize);

  auto& table = platform::region_table();
  std::lock_guard guard(table.lock);
  if (!(allocation_type & MEM_RESERVE) && address) {
    // Commit inside a reservation of ours.
    Region* region = platform::region_at(table, first_page);
    if (!region || !region->holds(first_page, end)) return platform::fail_alloc(ERROR_INVALID_ADDRESS);
    if (!platform::commit(*region, first_page, end, protect)) return platform::fail_alloc(ERROR_NOT_ENOUGH_MEMORY);
    return reinterpret_cast<LPVOID>(first_page);
  }

  // A new reservation, committed too when asked (or when no address was given).
  Region region;
  region.allocation_protect = protect;
  if (address) {
    region.base = platform::round_down(start, platform::kGranularity);
    region.size = end - region.base;
    auto next = table.regions.lower_bound(region.base);
    bool overlaps = platform::region_at(table, region.base) ||
                    (next != table.regions.end() && next->first < region.base + region.size);
    if (overlaps || !platform::reserve_at(region.base, region.size))
      return platform::fail_alloc(ERROR_INVALID_ADDRESS);
  } else {
    region.size = platform::round_up(size, kPageSize);
    region.base = platform::reserve_anywhere(region.size);
    if (!region.base) return platform::fail_alloc(ERROR_NOT_ENOUGH_MEMORY);
  }
  // Reserving and committing at once commits the whole reservation, rounding included.
  region.pages.assign(region.size / kPageSize, 0);
  if ((allocation_type & MEM_COMMIT) && !platform::commit(region, region.base, region.base + region.size, protect)) {
    munmap(reinterpret_cast<void*>(region.base), region.size);
    return platform::fail_alloc(ERROR_NOT_ENOUGH_MEMORY);
  }
  uintptr_t base = region.base;
  table.regions.emplace(base, std::move(region));
  return reinterpret_cast<LPVOID>(base);
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD free_type) {
  if (free_type != MEM_DECOMMIT && free_type != MEM_RELEASE) return platform::fail(ERROR_INVALID_PARAMETER);
  uintptr_t start = reinterpret_cast<uintptr_t>(address);
  auto& table = platform::region_table();
  std::lock_guard guard(table.lock);
  Region* region = platform::region_at(table, start);
  if (!region) return platform::fail(ERROR_INVALID_ADDRESS);
  if (free_type == MEM_RELEASE) {
    if (size != 0 || start != region->base) return platform::fail(ERROR_INVALID_PARAMETER);
    munmap(reinterpret_cast<void*>(region->base), region->size);
    table.regions.erase(region->base);
    return TRUE;
  }
  uintptr_t first_page = platform::round_down(start, kPageSize);
  uintptr_t end;
  if (size == 0) {
    if (start != region->base) return platform::fail(ERROR_INVALID_PARAMETER);
    end = region->base + region->size;
  } else {
    if (size > region->size) return platform::fail(ERROR_INVALID_ADDRESS);
    end = platform::round_up(start + size, kPageSize);
  }
  if (!region->holds(first_page, end)) return platform::fail(ERROR_INVALID_ADDRESS);
  if (!platform::decommit(*region, first_page, end)) return platform::fail(ERROR_NOT_ENOUGH_MEMORY);
  return TRUE;
}

BOOL VirtualProtect(LPVOID address, SIZE_T size, DWORD new_protect, DWORD* old_protect) {
  if (!old_protect || size == 0 || !platform::protection_valid(new_protect))
    return platform::fail(ERROR_INVALID_PARAMETER);
  uintptr_t start = reinterpret_cast<uintptr_t>(address);
  auto& table = platform::region_table();
  std::lock_guard guard(table.lock);
  Region* region = platform::region_at(table, start);
  if (!region || size > region->size) return platform::fail(ERROR_INVALID_ADDRESS);
  uintptr_t first_page = platform::round_down(start, kPageSize);
  uintptr_t end = platform::round_up(start + size, kPageSize);
  if (!region->holds(first_page, end)) return platform::fail(ERROR_INVALID_ADDRESS);
  for (uintptr_t page = first_page; page < end; page += kPageSize)
    if (region->pages[region->page_index(page)] == 0) return platform::fail(ERROR_INVALID_ADDRESS);
  DWORD previous = region->pages[region->page_index(first_page)];
  if (!platform::commit(*region, first_page, end, new_protect)) return platform::fail(ERROR_INVALID_PARAMETER);
  *old_protect = previous;
  return TRUE;
}

SIZE_T VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION buffer, SIZE_T length) {
  if (!buffer || length < sizeof(MEMORY_BASIC_INFORMATION)) return platform::fail_query(ERROR_INVALID_PARAMETER);
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  if (at > platform::kHighestAddress) return platform::fail_query(ERROR_INVALID_PARAMETER);
  uintptr_t page = platform::round_down(at, kPageSize);
  uintptr_t limit = platform::kHighestAddress + 1;
  {
    auto& table = platform::region_table();
    std::lock_guard guard(table.lock);
    if (Region* region = platform::region_at(table, page)) {
      platform::describe_region(*region, page, *buffer);
      return sizeof(MEMORY_BASIC_INFORMATION);
    }
    auto next = table.regions.upper_bound(page);
    if (next != table.regions.end()) limit = next->first;
  }
  platform::describe_host(page, limit, *buffer);
  return sizeof(MEMORY_BASIC_INFORMATION);
}

BOOL IsBadReadPtr(LPCVOID address, UINT_PTR size) {
  return size != 0 && !platform::range_accessible(address, size, false);
}

BOOL IsBadWritePtr(LPVOID address, UINT_PTR size) {
  return size != 0 && !platform::range_accessible(address, size, true);
}
