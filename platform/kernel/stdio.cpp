// The C runtime's named stdio calls over glibc streams, with device names and the
// runtime's rules for modes, folders and read-only files.

#include "platform/kernel/stdio.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "platform/kernel/file_object.h"
#include "platform/kernel/paths.h"
#include "platform/kernel/utf.h"

namespace crt {
namespace {

// The glibc mode for a runtime mode, or empty when the mode is not one. Streams are
// never inherited by started programs ("e").
std::string host_mode(std::u16string_view mode) {
  if (mode.empty() || (mode[0] != u'r' && mode[0] != u'w' && mode[0] != u'a')) return {};
  bool update = false;
  for (char16_t c : mode.substr(1)) {
    if (c == u'+') {
      update = true;
    } else if (c != u'b' && c != u't' && c != u'c' && c != u'n') {
      return {};
    }
  }
  std::string result(1, static_cast<char>(mode[0]));
  if (update) result += '+';
  return result + "e";
}

FILE* open_stream(std::u16string_view name, std::u16string_view mode) {
  std::string flags = host_mode(mode);
  if (flags.empty()) {
    errno = EINVAL;
    return nullptr;
  }
  if (name.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  std::string path = platform::host_path(name);
  if (flags != "re" && platform::is_read_only_file(path)) {
    errno = EACCES;
    return nullptr;
  }
  FILE* stream = ::fopen(path.c_str(), flags.c_str());
  if (!stream) {
    if (errno == EISDIR) errno = EACCES;
    return nullptr;
  }
  struct stat status;
  if (fstat(fileno(stream), &status) == 0 && S_ISDIR(status.st_mode)) {
    ::fclose(stream);
    errno = EACCES;
    return nullptr;
  }
  return stream;
}

}  // namespace

FILE* _wfopen(const WCHAR* name, const WCHAR* mode) {
  if (!name || !mode) {
    errno = EINVAL;
    return nullptr;
  }
  return open_stream(name, mode);
}

FILE* fopen(const char* name, const char* mode) {
  if (!name || !mode) {
    errno = EINVAL;
    return nullptr;
  }
  return open_stream(platform::utf16_from_ansi(name), platform::utf16_from_ansi(mode));
}

bool stream_names_file(FILE* stream, const char* name) {
  if (!stream || !name || !*name) return false;
  struct stat named, opened;
  std::string path = platform::host_path(platform::utf16_from_ansi(name));
  return stat(path.c_str(), &named) == 0 && fstat(fileno(stream), &opened) == 0 && named.st_dev == opened.st_dev &&
         named.st_ino == opened.st_ino;
}

int _wremove(const WCHAR* name) {
  if (!name || !*name) {
    errno = name ? ENOENT : EINVAL;
    return -1;
  }
  std::string path = platform::host_path(name);
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) return -1;
  if (S_ISDIR(status.st_mode) || platform::is_read_only_file(path)) {
    errno = EACCES;
    return -1;
  }
  return unlink(path.c_str());
}

int _wrename(const WCHAR* old_name, const WCHAR* new_name) {
  if (!old_name || !new_name) {
    errno = EINVAL;
    return -1;
  }
  if (!*old_name || !*new_name) {
    errno = ENOENT;
    return -1;
  }
  std::string from = platform::host_path(old_name);
  std::string to = platform::host_path(new_name);
  struct stat source, target;
  if (lstat(from.c_str(), &source) != 0) return -1;
  if (lstat(to.c_str(), &target) == 0) {
    if (source.st_dev != target.st_dev || source.st_ino != target.st_ino) {
      errno = EACCES;
      return -1;
    }
    // The new name resolved to the file itself: a change of letter case only, so the
    // last component is taken as written.
    std::u16string_view written(new_name);
    size_t cut = written.find_last_of(u"\\/");
    std::string last = platform::utf8_from_utf16(cut == std::u16string_view::npos ? written : written.substr(cut + 1));
    size_t slash = to.find_last_of('/');
    to = (slash == std::string::npos ? std::string() : to.substr(0, slash + 1)) + last;
  }
  return rename(from.c_str(), to.c_str());
}

}  // namespace crt
