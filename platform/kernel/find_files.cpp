// Searches of folders (FindFirstFileW): the matching entries are taken at the start,
// in name order, and handed out one at a time.

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/kernel/file_object.h"
#include "platform/kernel/files.h"
#include "platform/kernel/paths.h"
#include "platform/kernel/utf.h"

namespace platform {
namespace {

class FindSearch : public KernelObject {
 public:
  explicit FindSearch(std::vector<WIN32_FIND_DATAW> entries)
      : KernelObject(ObjectKind::FindSearch), entries_(std::move(entries)) {}

  // Copies the next entry out; false after the last.
  bool next(WIN32_FIND_DATAW& found) {
    std::lock_guard guard(lock_);
    if (next_ >= entries_.size()) return false;
    found = entries_[next_++];
    return true;
  }

 private:
  std::mutex lock_;
  std::vector<WIN32_FIND_DATAW> entries_;
  size_t next_ = 0;
};

// '*' matches any run of characters, '?' any one; letters match without regard to case.
bool wildcard_match(std::u16string_view pattern, std::u16string_view name) {
  size_t p = 0, n = 0;
  size_t star = std::u16string_view::npos, star_name = 0;  // where to retry after a mismatch
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      star_name = n;
    } else if (p < pattern.size() && (pattern[p] == u'?' || platform::fold_name_unit(pattern[p]) == platform::fold_name_unit(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++star_name;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

// A trailing ".*" also matches an empty extension, so "*.*" finds every entry.
bool pattern_matches(std::u16string_view pattern, std::u16string_view name) {
  if (wildcard_match(pattern, name)) return true;
  return pattern.size() >= 2 && pattern.ends_with(u".*") && wildcard_match(pattern.substr(0, pattern.size() - 2), name);
}

HANDLE fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

// The folder and the last component of a search pattern.
struct SearchParts {
  std::u16string_view folder;
  std::u16string_view name;
};

SearchParts split_pattern(std::u16string_view text) {
  size_t cut = text.find_last_of(u"\\/");
  if (cut == std::u16string_view::npos) return {u"", text};
  return {text.substr(0, cut == 0 ? 1 : cut), text.substr(cut + 1)};
}

std::string host_folder(std::u16string_view folder) { return folder.empty() ? "." : platform::host_path(folder); }

}  // namespace

bool search_finds_any(LPCWSTR pattern) {
  if (!pattern) return false;
  SearchParts parts = split_pattern(pattern);
  std::u16string_view name = parts.name;
  bool plain = !name.empty() && name.size() < MAX_PATH && name != u"." && name != u".." &&
               name.find_first_of(u"*?") == std::u16string_view::npos;
  HostFileInfo info;
  if (plain && host_file_info(-1, (host_folder(parts.folder) + "/" + utf8_from_utf16(name)).c_str(), info)) {
    return true;
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

}  // namespace platform

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* found) {
  using platform::fail;
  if (!pattern || !found) return fail(ERROR_INVALID_PARAMETER);
  platform::SearchParts parts = platform::split_pattern(pattern);
  std::u16string_view name_pattern = parts.name;
  std::string folder = platform::host_folder(parts.folder);
  DIR* directory = opendir(folder.c_str());
  if (!directory) {
    return fail(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : platform::error_from_errno(errno));
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(directory)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (platform::pattern_matches(name_pattern, platform::utf16_from_utf8(entry->d_name))) {
      names.push_back(entry->d_name);
    }
  }
  closedir(directory);
  std::sort(names.begin(), names.end());

  std::vector<WIN32_FIND_DATAW> entries;
  for (const std::string& name : names) {
    std::u16string wide = platform::utf16_from_utf8(name);
    platform::HostFileInfo info;
    // Names too long for the record, and links to nothing, cannot be reported.
    if (wide.size() >= MAX_PATH || !platform::host_file_info(-1, (folder + "/" + name).c_str(), info)) continue;
    WIN32_FIND_DATAW data{};
    data.dwFileAttributes = info.attributes;
    data.ftCreationTime = info.creation;
    data.ftLastAccessTime = info.last_access;
    data.ftLastWriteTime = info.last_write;
    data.nFileSizeHigh = static_cast<DWORD>(info.size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(info.size);
    data.dwOID = info.id;
    std::copy(wide.begin(), wide.end(), data.cFileName);
    entries.push_back(data);
  }
  if (entries.empty()) return fail(ERROR_FILE_NOT_FOUND);

  auto search = std::make_shared<platform::FindSearch>(std::move(entries));
  search->next(*found);
  return platform::handle_create(std::move(search));
}

BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* found) {
  auto object = platform::handle_object_as<platform::FindSearch>(search, platform::ObjectKind::FindSearch);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!found) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!object->next(*found)) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return TRUE;
}

BOOL FindClose(HANDLE search) {
  if (!platform::handle_object_as<platform::FindSearch>(search, platform::ObjectKind::FindSearch)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CloseHandle(search);
}
