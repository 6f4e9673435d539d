// Files of the device over host descriptors: opening with the device's dispositions,
// reading, writing, seeking, sizes, times and deletion.

#include "platform/kernel/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "platform/kernel/file_object.h"
#include "platform/kernel/filetime.h"
#include "platform/kernel/paths.h"

namespace platform {
namespace {

std::atomic<StreamDriverOpener> stream_driver_opener{nullptr};

HANDLE fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

HANDLE open_stream_driver(std::u16string_view name, DWORD access, DWORD share) {
  StreamDriverOpener opener = stream_driver_opener.load();
  if (!opener) return fail(ERROR_FILE_NOT_FOUND);
  std::shared_ptr<KernelObject> device = opener(name, access, share);
  if (!device) return INVALID_HANDLE_VALUE;  // the driver set the error
  SetLastError(ERROR_SUCCESS);
  return handle_create(std::move(device));
}

// Opens path as the disposition asks; existed tells whether the file was there before.
int open_with_disposition(const std::string& path, int flags, mode_t mode, DWORD disposition, bool& existed) {
  existed = disposition != CREATE_NEW;
  switch (disposition) {
    case CREATE_NEW:
      return open(path.c_str(), flags | O_CREAT | O_EXCL, mode);
    case OPEN_EXISTING:
      return open(path.c_str(), flags);
    case TRUNCATE_EXISTING:
      return open(path.c_str(), flags | O_TRUNC);
    default: {
      // CREATE_ALWAYS and OPEN_ALWAYS must report whether the file existed, so the
      // two cases are tried apart; another process may create or delete in between.
      int reopen = disposition == CREATE_ALWAYS ? O_TRUNC : 0;
      for (int attempt = 0; attempt < 8; ++attempt) {
        existed = true;
        int descriptor = open(path.c_str(), flags | reopen);
        if (descriptor >= 0 || errno != ENOENT) return descriptor;
        existed = false;
        descriptor = open(path.c_str(), flags | O_CREAT | O_EXCL, mode);
        if (descriptor >= 0 || errno != EEXIST) return descriptor;
      }
      return -1;
    }
  }
}

// Moves count bytes with a host call (read or write) until done, the end, or an error.
template <typename Transfer>
BOOL transfer_all(HANDLE file, bool writing, DWORD count, LPDWORD done_out, LPOVERLAPPED overlapped, Transfer call) {
  if (done_out) *done_out = 0;
  auto object = file_object(file);
  if (!object) return FALSE;
  if (overlapped) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!(writing ? object->writable() : object->readable())) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  constexpr DWORD kChunk = 1u << 30;  // stays below SSIZE_MAX
  DWORD done = 0;
  while (done < count) {
    ssize_t moved = call(object->descriptor(), done, std::min(count - done, kChunk));
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0) {
      if (done_out) *done_out = done;
      SetLastError(error_from_errno(errno));
      return FALSE;
    }
    if (moved == 0) break;
    done += static_cast<DWORD>(moved);
  }
  if (done_out) *done_out = done;
  return TRUE;
}

}  // namespace

DWORD error_from_errno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES: case EPERM: case EROFS: case EISDIR: case ETXTBSY: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC: case EDQUOT: case EFBIG: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE: case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EFAULT: return ERROR_NOACCESS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENXIO: case ENODEV: return ERROR_DEVICE_NOT_CONNECTED;
    default: return ERROR_GEN_FAILURE;
  }
}

bool is_stream_driver_name(std::u16string_view name) {
  auto letter = [](char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); };
  return name.size() == 5 && letter(name[0]) && letter(name[1]) && letter(name[2]) && name[3] >= u'0' &&
         name[3] <= u'9' && name[4] == u':';
}

void set_stream_driver_opener(StreamDriverOpener opener) { stream_driver_opener.store(opener); }

FileObject::~FileObject() { close(descriptor_); }

std::shared_ptr<FileObject> file_object(HANDLE handle) {
  auto object = handle_object_as<FileObject>(handle, ObjectKind::File);
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

bool is_read_only_file(const std::string& host_path) {
  struct stat status;
  return stat(host_path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && !(status.st_mode & S_IWUSR);
}

DWORD missing_file_error(const std::string& host_path) {
  size_t slash = host_path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : host_path.substr(0, slash);
  struct stat status;
  return stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

bool host_file_info(int descriptor, const char* path, HostFileInfo& info) {
  struct statx status;
  unsigned mask = STATX_TYPE | STATX_MODE | STATX_INO | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME;
  int result = path ? statx(AT_FDCWD, path, 0, mask, &status) : statx(descriptor, "", AT_EMPTY_PATH, mask, &status);
  if (result != 0) return false;
  auto time = [](const statx_timestamp& stamp) { return filetime_from_unix(stamp.tv_sec, stamp.tv_nsec); };
  bool folder = S_ISDIR(status.stx_mode);
  info.attributes = folder                         ? FILE_ATTRIBUTE_DIRECTORY
                    : !(status.stx_mode & S_IWUSR) ? FILE_ATTRIBUTE_READONLY
                                                   : FILE_ATTRIBUTE_NORMAL;
  info.last_access = time(status.stx_atime);
  info.last_write = time(status.stx_mtime);
  // Not every host file system records a birth time; the last write is the best bound.
  info.creation = (status.stx_mask & STATX_BTIME) ? time(status.stx_btime) : info.last_write;
  info.size = folder ? 0 : status.stx_size;
  info.id = static_cast<uint32_t>(status.stx_ino);
  return true;
}

}  // namespace platform

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags_and_attributes, HANDLE template_file) {
  using platform::fail;
  if (!name) return fail(ERROR_INVALID_PARAMETER);
  std::u16string_view text(name);
  if (platform::is_stream_driver_name(text)) return platform::open_stream_driver(text, access, share);
  if (text.empty()) return fail(ERROR_PATH_NOT_FOUND);
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return fail(ERROR_INVALID_PARAMETER);
  bool readable = access & (GENERIC_READ | GENERIC_ALL);
  bool writable = access & (GENERIC_WRITE | GENERIC_ALL);
  if (disposition == TRUNCATE_EXISTING && !writable) return fail(ERROR_INVALID_PARAMETER);

  std::string path = platform::host_path(text);
  bool truncating = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  if (disposition != CREATE_NEW && (writable || truncating) && platform::is_read_only_file(path)) {
    return fail(ERROR_ACCESS_DENIED);
  }
  // Non-blocking while opening, so a host FIFO cannot hold the caller up.
  int flags = (readable && writable) ? O_RDWR : writable ? O_WRONLY : O_RDONLY;
  flags |= O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  mode_t mode = (flags_and_attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  bool existed = false;
  int descriptor = platform::open_with_disposition(path, flags, mode, disposition, existed);
  if (descriptor < 0) {
    if (errno == ENOENT) return fail(platform::missing_file_error(path));
    return fail(platform::error_from_errno(errno));
  }
  struct stat status;
  if (fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
    close(descriptor);
    return fail(ERROR_ACCESS_DENIED);
  }
  fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);

  HANDLE handle = platform::handle_create(std::make_shared<platform::FileObject>(descriptor, readable, writable));
  bool reports_existing = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
  SetLastError(reports_existing ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD bytes_read, LPOVERLAPPED overlapped) {
  if (!buffer && count) {
    if (bytes_read) *bytes_read = 0;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto bytes = static_cast<char*>(buffer);
  auto call = [bytes](int descriptor, DWORD at, DWORD size) { return read(descriptor, bytes + at, size); };
  return platform::transfer_all(file, false, count, bytes_read, overlapped, call);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD bytes_written, LPOVERLAPPED overlapped) {
  if (!buffer && count) {
    if (bytes_written) *bytes_written = 0;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto bytes = static_cast<const char*>(buffer);
  auto call = [bytes](int descriptor, DWORD at, DWORD size) { return write(descriptor, bytes + at, size); };
  return platform::transfer_all(file, true, count, bytes_written, overlapped, call);
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distance_high, DWORD method) {
  auto object = platform::file_object(file);
  if (!object) return INVALID_SET_FILE_POINTER;
  int descriptor = object->descriptor();
  int64_t offset = distance;
  if (distance_high) {
    uint64_t high = static_cast<uint32_t>(*distance_high);
    offset = static_cast<int64_t>((high << 32) | static_cast<uint32_t>(distance));
  }
  int64_t base = 0;
  if (method == FILE_CURRENT) {
    base = lseek(descriptor, 0, SEEK_CUR);
  } else if (method == FILE_END) {
    struct stat status;
    base = fstat(descriptor, &status) == 0 ? status.st_size : -1;
  } else if (method != FILE_BEGIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (base < 0) {
    SetLastError(platform::error_from_errno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  int64_t target;
  if (__builtin_add_overflow(base, offset, &target) || (!distance_high && target > 0xFFFFFFFFLL)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (target < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  if (lseek(descriptor, target, SEEK_SET) < 0) {
    SetLastError(platform::error_from_errno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distance_high) *distance_high = static_cast<LONG>(target >> 32);
  auto low = static_cast<DWORD>(target);
  if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);  // tells a real position from a failure
  return low;
}

DWORD GetFileSize(HANDLE file, LPDWORD size_high) {
  auto object = platform::file_object(file);
  if (!object) return INVALID_FILE_SIZE;
  struct stat status;
  if (fstat(object->descriptor(), &status) != 0) {
    SetLastError(platform::error_from_errno(errno));
    return INVALID_FILE_SIZE;
  }
  auto size = static_cast<uint64_t>(status.st_size);
  if (size_high) *size_high = static_cast<DWORD>(size >> 32);
  auto low = static_cast<DWORD>(size);
  if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
  return low;
}

BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* last_access, FILETIME* last_write) {
  auto object = platform::file_object(file);
  if (!object) return FALSE;
  platform::HostFileInfo info;
  if (!platform::host_file_info(object->descriptor(), nullptr, info)) {
    SetLastError(platform::error_from_errno(errno));
    return FALSE;
  }
  if (creation) *creation = info.creation;
  if (last_access) *last_access = info.last_access;
  if (last_write) *last_write = info.last_write;
  return TRUE;
}

LONG CompareFileTime(const FILETIME* first, const FILETIME* second) {
  uint64_t a = first ? platform::ticks_from_filetime(*first) : 0;
  uint64_t b = second ? platform::ticks_from_filetime(*second) : 0;
  return a < b ? -1 : a > b ? 1 : 0;
}

BOOL DeleteFileW(LPCWSTR name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!*name) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  std::string path = platform::host_path(name);
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) {
    SetLastError(errno == ENOENT ? platform::missing_file_error(path) : platform::error_from_errno(errno));
    return FALSE;
  }
  if (S_ISDIR(status.st_mode) || platform::is_read_only_file(path)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (unlink(path.c_str()) != 0) {
    SetLastError(platform::error_from_errno(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES) {
  if (!name || !*name) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  std::string path = platform::host_path(name);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (mkdir(path.c_str(), 0777) != 0) {
    SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS
                 : errno == ENOENT ? ERROR_PATH_NOT_FOUND
                                   : platform::error_from_errno(errno));
    return FALSE;
  }
  return TRUE;
}
