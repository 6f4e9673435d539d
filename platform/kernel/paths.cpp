// Host path resolution with case-insensitive matching, one component at a time.
#include "platform/kernel/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/kernel/config.h"
#include "platform/kernel/utf.h"

namespace platform {
namespace {

bool exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// The entry of folder whose name matches name without regard to case, or name itself.
std::string match_entry(const std::string& folder, const std::string& name) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return name;
  std::string found = name;
  while (dirent* entry = readdir(dir)) {
    if (names_equal_ignoring_case(entry->d_name, name)) {
      found = entry->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
}

}  // namespace

char16_t fold_name_unit(char16_t unit) {
  if (unit >= u'a' && unit <= u'z') return unit - 32;
  if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) return unit - 32;
  if (unit == 0xFF) return 0x178;
  return unit;
}

bool names_equal_ignoring_case(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (fold_name_unit(a[i]) != fold_name_unit(b[i])) return false;
  }
  return true;
}

bool names_equal_ignoring_case(std::string_view a, std::string_view b) {
  return (a.size() == b.size() && a == b) || names_equal_ignoring_case(utf16_from_utf8(a), utf16_from_utf8(b));
}

std::string absolute_host_path(const std::string& path) {
  if (path.empty() || path[0] == '/' || path[0] == '\\') return path;
  char folder[4096];
  if (!getcwd(folder, sizeof(folder))) return path;
  std::string joined(folder);
  if (joined.back() != '/') joined += '/';
  std::string_view rest(path);
  while (rest.substr(0, 2) == "./") rest.remove_prefix(2);
  return joined + std::string(rest);
}

std::string host_path(std::u16string_view path) {
  std::string text = utf8_from_utf16(path);
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  // resolved grows one component at a time; rooted paths join with "/".
  std::string resolved;
  bool rooted = !text.empty() && text[0] == '/';
  if (!path.empty() && path[0] == u'\\') resolved = device_root();
  auto join = [&](const std::string& name) { return (resolved.empty() && !rooted) ? name : resolved + "/" + name; };
  std::string whole = rooted ? join(text.substr(1)) : text;
  if (whole.empty() || exists(whole)) return whole;
  // Mostly only the last name is missing (a file not made yet, or named in another case):
  // when its folder exists as written, the walk below would keep every name before it.
  size_t cut = whole.rfind('/');
  if (cut != std::string::npos && cut > 0 && whole.find("//") == std::string::npos) {
    std::string folder = whole.substr(0, cut);
    std::string name = whole.substr(cut + 1);
    if (!name.empty() && name != "." && name != ".." && exists(folder)) return folder + "/" + match_entry(folder, name);
  }

  // Once a component is missing, the rest are kept as written.
  bool matching = true;
  size_t start = rooted ? 1 : 0;
  while (start < text.size()) {
    size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    std::string name = text.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    std::string candidate = join(name);
    if (matching && name != "." && name != ".." && !exists(candidate)) {
      std::string folder = resolved.empty() ? (rooted ? "/" : ".") : resolved;
      candidate = join(match_entry(folder, name));
      matching = exists(candidate);
    }
    resolved = candidate;
  }
  if (text.back() == '/') resolved += '/';
  return resolved;
}

std::string host_path(const WCHAR* path) {
  if (!path) return {};
  size_t length = 0;
  while (path[length]) ++length;
  return host_path(std::u16string_view(path, length));
}

}  // namespace platform
