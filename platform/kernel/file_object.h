// The kernel object behind a file handle, shared by the file and file-mapping code.
#pragma once

#include <string>

#include "platform/kernel/handles.h"

namespace platform {

// An open host file. The descriptor closes when the last user (a handle, a mapping
// made from it) lets go.
class FileObject : public KernelObject {
 public:
  FileObject(int descriptor, bool readable, bool writable)
      : KernelObject(ObjectKind::File), descriptor_(descriptor), readable_(readable), writable_(writable) {}
  ~FileObject() override;
  int descriptor() const { return descriptor_; }
  bool readable() const { return readable_; }
  bool writable() const { return writable_; }

 private:
  int descriptor_;
  bool readable_;
  bool writable_;
};

// The file behind a live file handle, or null with ERROR_INVALID_HANDLE set.
std::shared_ptr<FileObject> file_object(HANDLE handle);

// What GetFileTime and a search report about a host file.
struct HostFileInfo {
  DWORD attributes;  // FILE_ATTRIBUTE_DIRECTORY, READONLY (no write permission) or NORMAL
  FILETIME creation;
  FILETIME last_access;
  FILETIME last_write;
  uint64_t size;
  uint32_t id;  // low bits of the inode: stable while the file exists
};

// Information about an open descriptor (path null) or a host path (following links);
// false with errno set when the host cannot tell.
bool host_file_info(int descriptor, const char* path, HostFileInfo& info);

// True for a regular file without write permission: the device's read-only attribute,
// which holds even for writers the host would let through (such as root).
bool is_read_only_file(const std::string& host_path);

// The last error for a host path that could not be found: ERROR_PATH_NOT_FOUND when
// its folder is missing too, else ERROR_FILE_NOT_FOUND.
DWORD missing_file_error(const std::string& host_path);

}  // namespace platform
