// GlobalMemoryStatus: the host's memory figures, seen as a 32-bit program would see them.
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "platform/kernel/memory.h"

namespace platform {
namespace {

// Figures stay below 2 GiB: programs of the device read them into signed 32-bit numbers.
constexpr uint64_t kLargestFigure = 0x7FFFFFFF;
// A 32-bit program's user address space: 2 GiB less the two 64 KiB ends.
constexpr uint64_t kVirtualSpace = 0x7FFE0000;

SIZE_T clamp(uint64_t bytes) { return static_cast<SIZE_T>(bytes < kLargestFigure ? bytes : kLargestFigure); }

struct HostMemory {
  uint64_t total_physical = 0;
  uint64_t available_physical = 0;
  uint64_t total_swap = 0;
  uint64_t free_swap = 0;
};

// A wanted "Name:  value kB" line of a /proc file; bytes is set when the line is found.
struct ProcField {
  const char* name;
  uint64_t& bytes;
};

// Reads the fields' values (kB) in bytes from one pass over the file; the count found.
int proc_fields(const char* path, std::initializer_list<ProcField> fields) {
  FILE* file = std::fopen(path, "re");
  if (!file) return 0;
  char line[256];
  int found = 0;
  while (found < static_cast<int>(fields.size()) && std::fgets(line, sizeof line, file)) {
    for (const ProcField& field : fields) {
      size_t name_length = std::strlen(field.name);
      unsigned long long kilobytes;
      if (std::strncmp(line, field.name, name_length) == 0 && line[name_length] == ':' &&
          std::sscanf(line + name_length + 1, "%llu", &kilobytes) == 1) {
        field.bytes = kilobytes * 1024;
        ++found;
        break;
      }
    }
  }
  std::fclose(file);
  return found;
}

// The process's mapped size (the "VmSize" of /proc/self/status), from the first figure
// of /proc/self/statm (in pages), a much shorter file for the kernel to write.
bool mapped_size(uint64_t& bytes) {
  FILE* file = std::fopen("/proc/self/statm", "re");
  if (!file) return false;
  unsigned long long pages = 0;
  bool read = std::fscanf(file, "%llu", &pages) == 1;
  std::fclose(file);
  if (read) bytes = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  return read;
}

HostMemory host_memory() {
  HostMemory memory;
  struct sysinfo info {};
  if (sysinfo(&info) == 0) {
    uint64_t unit = info.mem_unit ? info.mem_unit : 1;
    memory.total_physical = info.totalram * unit;
    memory.available_physical = (info.freeram + info.bufferram) * unit;
    memory.total_swap = info.totalswap * unit;
    memory.free_swap = info.freeswap * unit;
  }
  // MemAvailable counts the caches the kernel would give back, which sysinfo does not.
  proc_fields("/proc/meminfo", {{"MemTotal", memory.total_physical}, {"MemAvailable", memory.available_physical}});
  if (memory.available_physical > memory.total_physical) memory.available_physical = memory.total_physical;
  return memory;
}

}  // namespace
}  // namespace platform

void GlobalMemoryStatus(LPMEMORYSTATUS status) {
  if (!status) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return;
  }
  platform::HostMemory host = platform::host_memory();
  uint64_t used_virtual = 0;
  platform::mapped_size(used_virtual);

  status->dwLength = sizeof(MEMORYSTATUS);
  status->dwMemoryLoad = host.total_physical
      ? static_cast<DWORD>((host.total_physical - host.available_physical) * 100 / host.total_physical)
      : 0;
  status->dwTotalPhys = platform::clamp(host.total_physical);
  status->dwAvailPhys = platform::clamp(host.available_physical);
  status->dwTotalPageFile = platform::clamp(host.total_swap);
  status->dwAvailPageFile = platform::clamp(host.free_swap);
  status->dwTotalVirtual = platform::clamp(platform::kVirtualSpace);
  status->dwAvailVirtual =
      platform::clamp(used_virtual < platform::kVirtualSpace ? platform::kVirtualSpace - used_virtual : 0);
}
