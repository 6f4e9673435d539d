// The registry on the host file system: <device root>/.registry/<root key>/<key>/...,
// one folder per key and one file per value ("=" + name: a 4-byte type, then the bytes).
#include "platform/kernel/registry.h"
#include "platform/kernel/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/kernel/config.h"
#include "platform/kernel/filetime.h"
#include "platform/kernel/utf.h"

namespace platform {
namespace {

// Value files begin with this; key folders never do, since the name encoding escapes it.
constexpr char kValuePrefix = '=';
// Temporary and discarded entries begin with a dot, which the encoding never puts first.
constexpr char kHiddenPrefix = '.';
constexpr size_t kMaxFileName = 255;
constexpr size_t kValueHeaderSize = 4;

std::u16string_view text_of(const WCHAR* text) {
  if (!text) return {};
  size_t length = 0;
  while (text[length]) ++length;
  return std::u16string_view(text, length);
}

// ---- Names as file names ------------------------------------------------------

// Characters kept as written in a file name; everything else is escaped as %XX.
bool kept_as_written(char16_t c, bool first) {
  if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')) return true;
  if (c == u'.') return !first;  // ".", ".." and hidden names must not arise
  return std::u16string_view(u" -_,+()[]{}!#$&'@;^~`").find(c) != std::u16string_view::npos;
}

bool is_high_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low_surrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A reversible file name for a key or value name: safe ASCII as written, other
// characters as UTF-8, unsafe ASCII as %XX, and a lone surrogate as %uXXXX.
std::string encode_name(std::u16string_view name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (size_t i = 0; i < name.size(); ++i) {
    char16_t c = name[i];
    if (c < 0x80) {
      if (kept_as_written(c, i == 0)) {
        encoded += static_cast<char>(c);
      } else {
        encoded += '%';
        encoded += kHex[c >> 4];
        encoded += kHex[c & 15];
      }
    } else if (is_high_surrogate(c) && i + 1 < name.size() && is_low_surrogate(name[i + 1])) {
      encoded += utf8_from_utf16(name.substr(i, 2));
      ++i;
    } else if (is_high_surrogate(c) || is_low_surrogate(c)) {
      encoded += "%u";
      for (int shift = 12; shift >= 0; shift -= 4) encoded += kHex[(c >> shift) & 15];
    } else {
      encoded += utf8_from_utf16(name.substr(i, 1));
    }
  }
  return encoded;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The name a file name stands for; a '%' that starts no escape is taken as written.
std::u16string decode_name(std::string_view file_name) {
  std::u16string name;
  std::string pending;  // UTF-8 bytes not yet converted
  for (size_t i = 0; i < file_name.size(); ++i) {
    char c = file_name[i];
    if (c == '%' && i + 5 < file_name.size() && file_name[i + 1] == 'u') {
      int value = 0;
      bool valid = true;
      for (size_t k = i + 2; k < i + 6; ++k) {
        int digit = hex_digit(file_name[k]);
        valid = valid && digit >= 0;
        value = value * 16 + digit;
      }
      if (valid) {
        name += utf16_from_utf8(pending);
        pending.clear();
        name += static_cast<char16_t>(value);
        i += 5;
        continue;
      }
    }
    if (c == '%' && i + 2 < file_name.size() && hex_digit(file_name[i + 1]) >= 0 && hex_digit(file_name[i + 2]) >= 0) {
      pending += static_cast<char>(hex_digit(file_name[i + 1]) * 16 + hex_digit(file_name[i + 2]));
      i += 2;
      continue;
    }
    pending += c;
  }
  name += utf16_from_utf8(pending);
  return name;
}

// Orders names without regard to case (ties broken by the exact text, so the order is total).
bool name_before(const std::u16string& a, const std::u16string& b) {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    char16_t upper_a = platform::fold_name_unit(a[i]), upper_b = platform::fold_name_unit(b[i]);
    if (upper_a != upper_b) return upper_a < upper_b;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool same_name(std::u16string_view a, std::u16string_view b) { return platform::names_equal_ignoring_case(a, b); }

// ---- Folders and files --------------------------------------------------------

LONG error_from_errno(int error, DWORD fallback) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG:
      return ERROR_INVALID_PARAMETER;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return static_cast<LONG>(fallback);
  }
}

bool is_folder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

enum class EntryKind { Key, Value };

bool entry_has_kind(const std::string& folder, const dirent* entry, EntryKind kind) {
  if (entry->d_name[0] == kHiddenPrefix) return false;
  if ((entry->d_name[0] == kValuePrefix) != (kind == EntryKind::Value)) return false;
  unsigned char type = entry->d_type;
  if (type == DT_UNKNOWN) {
    struct stat info;
    if (lstat((folder + "/" + entry->d_name).c_str(), &info) != 0) return false;
    return kind == EntryKind::Key ? S_ISDIR(info.st_mode) : S_ISREG(info.st_mode);
  }
  return kind == EntryKind::Key ? type == DT_DIR : type == DT_REG;
}

// The name a key folder or value file stands for.
std::u16string entry_name(std::string_view file_name, EntryKind kind) {
  return decode_name(kind == EntryKind::Value ? file_name.substr(1) : file_name);
}

std::string file_name_for(std::u16string_view name, EntryKind kind) {
  std::string encoded = encode_name(name);
  return kind == EntryKind::Value ? kValuePrefix + encoded : encoded;
}

// The file name in folder of the key or value called name (in any case), or "" when
// there is none. The name as written is tried first; other cases need a scan.
std::string find_entry(const std::string& folder, std::u16string_view name, EntryKind kind) {
  std::string written = file_name_for(name, kind);
  struct stat info;
  if (lstat((folder + "/" + written).c_str(), &info) == 0 &&
      (kind == EntryKind::Key ? S_ISDIR(info.st_mode) : S_ISREG(info.st_mode))) {
    return written;
  }
  DIR* dir = opendir(folder.c_str());
  if (!dir) return {};
  std::string found;
  while (dirent* entry = readdir(dir)) {
    if (entry_has_kind(folder, entry, kind) && same_name(entry_name(entry->d_name, kind), name)) {
      found = entry->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
}

struct Subkey {
  std::u16string name;
  std::string file_name;
};

// The subkeys of a folder in the order RegEnumKeyExW gives them.
std::vector<Subkey> list_subkeys(const std::string& folder) {
  std::vector<Subkey> subkeys;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return subkeys;
  while (dirent* entry = readdir(dir)) {
    if (entry_has_kind(folder, entry, EntryKind::Key)) {
      subkeys.push_back({entry_name(entry->d_name, EntryKind::Key), entry->d_name});
    }
  }
  closedir(dir);
  std::sort(subkeys.begin(), subkeys.end(), [](const Subkey& a, const Subkey& b) { return name_before(a.name, b.name); });
  return subkeys;
}

// A name for a temporary entry in a folder, unique across threads and processes.
std::string hidden_entry_path(const std::string& folder, const char* purpose) {
  static std::atomic<uint32_t> counter{0};
  return folder + "/" + kHiddenPrefix + purpose + "." + std::to_string(getpid()) + "." +
         std::to_string(counter.fetch_add(1));
}

bool write_all(int fd, const BYTE* bytes, size_t count) {
  while (count > 0) {
    ssize_t written = write(fd, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

// Reads a value file whole. A file too short for its header reads as damaged.
LONG read_value_file(int fd, DWORD& type, std::vector<BYTE>& data) {
  std::vector<BYTE> bytes;
  struct stat info;
  if (fstat(fd, &info) == 0 && info.st_size > 0) bytes.reserve(static_cast<size_t>(info.st_size));
  BYTE chunk[16384];
  for (;;) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return ERROR_READ_FAULT;
    if (got == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  if (bytes.size() < kValueHeaderSize) return ERROR_READ_FAULT;
  type = static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 | static_cast<DWORD>(bytes[2]) << 16 |
         static_cast<DWORD>(bytes[3]) << 24;
  data.assign(bytes.begin() + kValueHeaderSize, bytes.end());
  return ERROR_SUCCESS;
}

// ---- Open keys ----------------------------------------------------------------

const char* root_name(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  return nullptr;
}

// Open keys are numbers of their own range (apart from kernel handles and the root
// keys), each naming the folder of its key.
constexpr uint32_t kFirstKeyHandle = 0x00100004u;
constexpr uint32_t kLastKeyHandle = 0x7FFF0000u;

struct KeyTable {
  std::mutex lock;
  std::unordered_map<uint32_t, std::string> folders;
  uint32_t next = kFirstKeyHandle;
};

KeyTable& key_table() {
  static KeyTable* table = new KeyTable;  // outlives every static destructor
  return *table;
}

HKEY key_open(std::string folder) {
  auto& table = key_table();
  std::lock_guard guard(table.lock);
  while (table.folders.count(table.next)) {
    table.next = table.next >= kLastKeyHandle ? kFirstKeyHandle : table.next + 4;
  }
  uint32_t handle = table.next;
  table.next = table.next >= kLastKeyHandle ? kFirstKeyHandle : table.next + 4;
  table.folders.emplace(handle, std::move(folder));
  return pointer_from<HKEY__>(handle);
}

// The folder of an open key or root key (a root's folder is made on first use).
LONG key_folder(HKEY key, std::string& folder) {
  if (const char* root = root_name(key)) {
    folder = device_root() + "/.registry/" + root;
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return is_folder(folder) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
  }
  auto& table = key_table();
  std::lock_guard guard(table.lock);
  auto found = table.folders.find(address_of(key));
  if (found == table.folders.end()) return ERROR_INVALID_HANDLE;
  folder = found->second;
  return ERROR_SUCCESS;
}

// The folder of an open key that must still exist.
LONG live_key_folder(HKEY key, std::string& folder) {
  LONG status = key_folder(key, folder);
  if (status == ERROR_SUCCESS && !is_folder(folder)) return ERROR_KEY_DELETED;
  return status;
}

// The names of a key path; empty names (a leading, trailing or doubled "\") are skipped.
std::vector<std::u16string_view> split_path(std::u16string_view path) {
  std::vector<std::u16string_view> names;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

// Follows names from folder, creating missing keys when asked; created tells whether
// the last key was made here.
LONG walk_keys(std::string& folder, const std::vector<std::u16string_view>& names, bool create, bool& created) {
  created = false;
  for (auto name : names) {
    std::string written = file_name_for(name, EntryKind::Key);
    if (written.size() > kMaxFileName) return ERROR_INVALID_PARAMETER;
    std::string found = find_entry(folder, name, EntryKind::Key);
    if (!found.empty()) {
      folder += "/" + found;
      created = false;
      continue;
    }
    if (!create) return ERROR_FILE_NOT_FOUND;
    std::string path = folder + "/" + written;
    if (mkdir(path.c_str(), 0777) == 0) {
      created = true;
    } else if (errno == EEXIST && is_folder(path)) {
      created = false;  // another process made it meanwhile
    } else {
      return error_from_errno(errno, ERROR_WRITE_FAULT);
    }
    folder = path;
  }
  return ERROR_SUCCESS;
}

LONG open_subkey(HKEY key, LPCWSTR subkey, bool create, PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::string folder;
  LONG status = live_key_folder(key, folder);
  if (status != ERROR_SUCCESS) return status;
  bool created = false;
  status = walk_keys(folder, split_path(text_of(subkey)), create, created);
  if (status != ERROR_SUCCESS) return status;
  *result = key_open(std::move(folder));
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

bool is_string_type(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

}  // namespace
}  // namespace platform

using namespace platform;

LONG RegCreateKeyExW(HKEY key, LPCWSTR subkey, DWORD reserved, LPWSTR key_class, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
  return open_subkey(key, subkey, true, result, disposition);
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY result) {
  return open_subkey(key, subkey, false, result, nullptr);
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD byte_count) {
  if (data && !byte_count) return ERROR_INVALID_PARAMETER;
  std::string folder;
  LONG status = key_folder(key, folder);
  if (status != ERROR_SUCCESS) return status;

  std::u16string_view value_name = text_of(name);
  std::string file_name = file_name_for(value_name, EntryKind::Value);
  if (file_name.size() > kMaxFileName) return is_folder(folder) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
  int fd = open((folder + "/" + file_name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    file_name = find_entry(folder, value_name, EntryKind::Value);
    if (!file_name.empty()) fd = open((folder + "/" + file_name).c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) {
    if (!is_folder(folder)) return ERROR_KEY_DELETED;
    return error_from_errno(errno, ERROR_READ_FAULT);
  }
  DWORD stored_type = REG_NONE;
  std::vector<BYTE> stored;
  status = read_value_file(fd, stored_type, stored);
  close(fd);
  if (status != ERROR_SUCCESS) return status;

  if (type) *type = stored_type;
  if (!byte_count) return ERROR_SUCCESS;
  DWORD size = static_cast<DWORD>(stored.size());
  DWORD room = *byte_count;
  *byte_count = size;
  if (!data) return ERROR_SUCCESS;
  if (room < size) return ERROR_MORE_DATA;
  if (size > 0) std::memcpy(data, stored.data(), size);
  bool terminated = size >= 2 && stored[size - 1] == 0 && stored[size - 2] == 0;
  if (is_string_type(stored_type) && !terminated && room - size >= 2) {
    data[size] = 0;
    data[size + 1] = 0;
  }
  return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD byte_count) {
  if (!data && byte_count > 0) return ERROR_INVALID_PARAMETER;
  std::string folder;
  LONG status = live_key_folder(key, folder);
  if (status != ERROR_SUCCESS) return status;

  std::u16string_view value_name = text_of(name);
  std::string file_name = file_name_for(value_name, EntryKind::Value);
  if (file_name.size() > kMaxFileName) return ERROR_INVALID_PARAMETER;
  std::string existing = find_entry(folder, value_name, EntryKind::Value);
  if (!existing.empty()) file_name = existing;  // keep the case it was created with

  // The whole value goes to a temporary file that then replaces the old one in a
  // single rename, so a reader in any process sees either value whole.
  std::string temporary = hidden_entry_path(folder, "value");
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno == ENOENT ? ERROR_KEY_DELETED : error_from_errno(errno, ERROR_WRITE_FAULT);
  BYTE header[kValueHeaderSize] = {static_cast<BYTE>(type), static_cast<BYTE>(type >> 8), static_cast<BYTE>(type >> 16),
                                   static_cast<BYTE>(type >> 24)};
  bool written = write_all(fd, header, sizeof header) && write_all(fd, data, byte_count);
  int write_error = errno;
  if (close(fd) != 0 && written) {
    written = false;
    write_error = errno;
  }
  if (written && rename(temporary.c_str(), (folder + "/" + file_name).c_str()) == 0) return ERROR_SUCCESS;
  if (written) write_error = errno;
  unlink(temporary.c_str());
  if (!is_folder(folder)) return ERROR_KEY_DELETED;
  return error_from_errno(write_error, ERROR_WRITE_FAULT);
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
  std::string folder;
  LONG status = live_key_folder(key, folder);
  if (status != ERROR_SUCCESS) return status;
  std::string file_name = find_entry(folder, text_of(name), EntryKind::Value);
  if (file_name.empty()) return ERROR_FILE_NOT_FOUND;
  if (unlink((folder + "/" + file_name).c_str()) != 0) return error_from_errno(errno, ERROR_WRITE_FAULT);
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subkey) {
  std::vector<std::u16string_view> names = split_path(text_of(subkey));
  if (names.empty()) return ERROR_INVALID_PARAMETER;
  std::string folder;
  LONG status = live_key_folder(key, folder);
  if (status != ERROR_SUCCESS) return status;
  std::u16string_view last = names.back();
  names.pop_back();
  bool created = false;
  status = walk_keys(folder, names, false, created);
  if (status != ERROR_SUCCESS) return status;
  std::string file_name = find_entry(folder, last, EntryKind::Key);
  if (file_name.empty()) return ERROR_FILE_NOT_FOUND;

  // Moved aside first, so the key vanishes at once for every process; then emptied.
  std::string discarded = hidden_entry_path(folder, "deleted");
  if (rename((folder + "/" + file_name).c_str(), discarded.c_str()) != 0) {
    return error_from_errno(errno, ERROR_WRITE_FAULT);
  }
  std::error_code ignored;
  std::filesystem::remove_all(discarded, ignored);
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_chars, LPDWORD reserved, LPWSTR key_class,
                   LPDWORD class_chars, FILETIME* last_write) {
  if (!name || !name_chars) return ERROR_INVALID_PARAMETER;
  std::string folder;
  LONG status = live_key_folder(key, folder);
  if (status != ERROR_SUCCESS) return status;
  std::vector<Subkey> subkeys = list_subkeys(folder);
  if (index >= subkeys.size()) return ERROR_NO_MORE_ITEMS;
  const Subkey& subkey = subkeys[index];
  if (subkey.name.size() + 1 > *name_chars) return ERROR_MORE_DATA;
  std::copy(subkey.name.begin(), subkey.name.end(), name);
  name[subkey.name.size()] = 0;
  *name_chars = static_cast<DWORD>(subkey.name.size());
  if (class_chars) {
    if (key_class && *class_chars > 0) key_class[0] = 0;
    *class_chars = 0;
  }
  if (last_write) {
    struct stat info;
    *last_write = FILETIME{0, 0};
    if (stat((folder + "/" + subkey.file_name).c_str(), &info) == 0) {
      *last_write = filetime_from_unix(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
    }
  }
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (root_name(key)) return ERROR_SUCCESS;
  auto& table = key_table();
  std::lock_guard guard(table.lock);
  return table.folders.erase(address_of(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
