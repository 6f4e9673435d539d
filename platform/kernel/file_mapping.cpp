// File mapping over shared host mappings: a mapping holds its file (or a memory file
// for fresh memory), and every view holds its mapping until it is unmapped.

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/kernel/file_object.h"
#include "platform/kernel/files.h"

namespace platform {
namespace {

// Views start at multiples of the device's allocation granularity.
constexpr uint64_t kViewAlignment = 64 * 1024;

class FileMapping : public KernelObject {
 public:
  FileMapping(std::shared_ptr<FileObject> file, uint64_t size, bool writable)
      : KernelObject(ObjectKind::FileMapping), file_(std::move(file)), size_(size), writable_(writable) {}
  int descriptor() const { return file_->descriptor(); }
  uint64_t size() const { return size_; }
  bool writable() const { return writable_; }

 private:
  std::shared_ptr<FileObject> file_;
  uint64_t size_;
  bool writable_;
};

struct View {
  std::shared_ptr<FileMapping> mapping;
  size_t length;
};

struct ViewTable {
  std::mutex lock;
  std::map<uintptr_t, View> views;  // by base address
};

ViewTable& view_table() {
  static ViewTable* instance = new ViewTable;  // outlives every static destructor
  return *instance;
}

HANDLE fail(DWORD error) {
  SetLastError(error);
  return nullptr;
}

// A zeroed memory file of size bytes, for a mapping with no file behind it.
std::shared_ptr<FileObject> memory_file(uint64_t size) {
  int descriptor = memfd_create("zrk-mapping", MFD_CLOEXEC);
  if (descriptor < 0) return nullptr;
  auto file = std::make_shared<FileObject>(descriptor, true, true);
  if (ftruncate(descriptor, static_cast<off_t>(size)) != 0) return nullptr;
  return file;
}

}  // namespace
}  // namespace platform

HANDLE CreateFileForMappingW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags_and_attributes, HANDLE template_file) {
  return CreateFileW(name, access, share, security, disposition, flags_and_attributes, template_file);
}

HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protection, DWORD size_high,
                          DWORD size_low, LPCWSTR name) {
  using platform::fail;
  DWORD page = protection & 0xFF;  // the high bits are section flags, which change nothing here
  if (page != PAGE_READONLY && page != PAGE_READWRITE) return fail(ERROR_INVALID_PARAMETER);
  bool writable = page == PAGE_READWRITE;
  uint64_t size = (static_cast<uint64_t>(size_high) << 32) | size_low;

  std::shared_ptr<platform::FileObject> source;
  if (file == INVALID_HANDLE_VALUE) {
    if (size == 0) return fail(ERROR_INVALID_PARAMETER);
    source = platform::memory_file(size);
    if (!source) return fail(platform::error_from_errno(errno));
  } else {
    source = platform::file_object(file);
    if (!source) return nullptr;
    if (!source->readable() || (writable && !source->writable())) return fail(ERROR_ACCESS_DENIED);
    struct stat status;
    if (fstat(source->descriptor(), &status) != 0) return fail(platform::error_from_errno(errno));
    auto file_size = static_cast<uint64_t>(status.st_size);
    if (size == 0) {
      if (file_size == 0) return fail(ERROR_FILE_INVALID);
      size = file_size;
    } else if (size > file_size) {
      // Only a writable mapping may grow its file to the size asked for.
      if (!writable) return fail(ERROR_ACCESS_DENIED);
      if (ftruncate(source->descriptor(), static_cast<off_t>(size)) != 0) {
        return fail(platform::error_from_errno(errno));
      }
    }
  }
  HANDLE handle = platform::handle_create(std::make_shared<platform::FileMapping>(std::move(source), size, writable));
  SetLastError(ERROR_SUCCESS);
  return handle;
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offset_high, DWORD offset_low, DWORD bytes) {
  auto object = platform::handle_object_as<platform::FileMapping>(mapping, platform::ObjectKind::FileMapping);
  if (!object) return platform::fail(ERROR_INVALID_HANDLE);
  if (!(access & (FILE_MAP_READ | FILE_MAP_WRITE))) return platform::fail(ERROR_INVALID_PARAMETER);
  bool writing = access & FILE_MAP_WRITE;
  if (writing && !object->writable()) return platform::fail(ERROR_ACCESS_DENIED);

  uint64_t offset = (static_cast<uint64_t>(offset_high) << 32) | offset_low;
  if (offset % platform::kViewAlignment != 0) return platform::fail(ERROR_MAPPED_ALIGNMENT);
  if (offset >= object->size() || bytes > object->size() - offset) return platform::fail(ERROR_INVALID_PARAMETER);
  uint64_t length = bytes ? bytes : object->size() - offset;
  if (length > SIZE_MAX) return platform::fail(ERROR_NOT_ENOUGH_MEMORY);

  int protection = PROT_READ | (writing ? PROT_WRITE : 0);
  void* base = mmap(nullptr, static_cast<size_t>(length), protection, MAP_SHARED, object->descriptor(),
                    static_cast<off_t>(offset));
  if (base == MAP_FAILED) return platform::fail(platform::error_from_errno(errno));
  auto& table = platform::view_table();
  std::lock_guard guard(table.lock);
  table.views[reinterpret_cast<uintptr_t>(base)] = platform::View{std::move(object), static_cast<size_t>(length)};
  return base;
}

BOOL UnmapViewOfFile(LPCVOID base) {
  platform::View view;  // its mapping is released outside the lock
  {
    auto& table = platform::view_table();
    std::lock_guard guard(table.lock);
    auto found = table.views.find(reinterpret_cast<uintptr_t>(base));
    if (found == table.views.end()) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    view = std::move(found->second);
    table.views.erase(found);
  }
  munmap(const_cast<void*>(base), view.length);
  return TRUE;
}
