// Package archives: the file format, loading whole or directory-only, the directory walk,
// adding and removing entries, saving and extracting. Every directory is checked when it
// is loaded, so a damaged file is refused at open and later walks stay in bounds.
#include "library/files/package_archive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "foundation/file_helpers.h"
#include "foundation/scrambler.h"
#include "foundation/string_helpers.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/stdio.h"
#include "platform/kernel/types.h"

namespace {

// The passwords of open packages are kept shifted with this key.
constexpr const char* kPasswordKey = kCompiledFileKey;
// Subtracting shifts a file (or a password) away from plain; adding restores it.
constexpr uint32_t kShiftAway = 1;
constexpr uint32_t kRestore = 0;
// The largest image a package may grow to: every offset and size fits 31 bits.
constexpr uint64_t kLargestImage = 0x7FFFFFFFu;
// Temporary names tried before extraction gives up.
constexpr int32_t kTemporaryNameTries = 100000;

std::vector<PackageRecord*> open_packages;

uint32_t read_u32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void write_u32(uint8_t* bytes, uint32_t value) {
  for (int at = 0; at < 4; ++at) bytes[at] = static_cast<uint8_t>(value >> (8 * at));
}

// The package's password in plain text, for the length of one file operation.
std::string plain_password(const PackageRecord* package) {
  std::string plain = package->password;
  scramble_bytes(reinterpret_cast<uint8_t*>(plain.data()), static_cast<int32_t>(plain.size()), kPasswordKey,
                 kRestore, 0);
  return plain;
}

// Shifts bytes that stand at file offset `start` with the password.
void shift_with_password(uint8_t* bytes, uint64_t count, const std::string& password, uint32_t direction,
                         uint64_t start) {
  if (password.empty() || count == 0) return;
  scramble_bytes(bytes, static_cast<int32_t>(count), password.c_str(), direction,
                 static_cast<uint32_t>(start % password.size()));
}

// Whether the directory's records are whole and their offsets stay in order within the
// data area: names of one byte at least, with no 0 byte, each closed by 0x01 and a u32.
bool directory_is_sound(const std::vector<uint8_t>& directory, uint32_t data_size) {
  if (directory.size() < kPackageSizeField || read_u32(directory.data()) != directory.size()) return false;
  size_t position = kPackageSizeField;
  uint32_t previous_offset = 0;
  while (position < directory.size()) {
    size_t end = position;
    while (end < directory.size() && directory[end] != kPackageNameEnd) {
      if (directory[end] == 0) return false;
      ++end;
    }
    if (end == position || end + 1 + 4 > directory.size()) return false;
    uint32_t offset = read_u32(&directory[end + 1]);
    if (offset < previous_offset || offset > data_size) return false;
    previous_offset = offset;
    position = end + 1 + 4;
  }
  return true;
}

// Takes the directory from a restored image that holds at least its first `available`
// bytes of a file of file_size bytes.
PackageOpenStatus take_directory(PackageRecord* package, const uint8_t* image, uint64_t available,
                                 uint64_t file_size) {
  if (available < kPackageMagicSize || std::memcmp(image, kPackageMagic, kPackageMagicSize) != 0) {
    return PackageOpenStatus::kNotAPackage;
  }
  if (available < kPackageMagicSize + kPackageSizeField) return PackageOpenStatus::kDamaged;
  uint32_t directory_size = read_u32(image + kPackageMagicSize);
  if (directory_size < kPackageSizeField || directory_size > file_size - kPackageMagicSize ||
      kPackageMagicSize + static_cast<uint64_t>(directory_size) > available) {
    return PackageOpenStatus::kDamaged;
  }
  package->directory.assign(image + kPackageMagicSize, image + kPackageMagicSize + directory_size);
  package->directory_size = directory_size;
  package->data_size = static_cast<uint32_t>(file_size - kPackageMagicSize - directory_size);
  if (!directory_is_sound(package->directory, package->data_size)) return PackageOpenStatus::kDamaged;
  return PackageOpenStatus::kOpened;
}

PackageOpenStatus load_whole(PackageRecord* package) {
  int32_t size = 0;
  char* buffer = read_file_to_buffer(package->file_name.c_str(), &size, -1, -1);
  if (!buffer) return size == -1 ? PackageOpenStatus::kOpened : PackageOpenStatus::kOutOfMemory;
  auto* image = reinterpret_cast<uint8_t*>(buffer);
  shift_with_password(image, static_cast<uint32_t>(size), plain_password(package), kRestore, 0);
  PackageOpenStatus status = take_directory(package, image, static_cast<uint32_t>(size), static_cast<uint32_t>(size));
  if (status == PackageOpenStatus::kOpened) {
    const uint8_t* data = image + kPackageMagicSize + package->directory_size;
    package->data.assign(data, data + package->data_size);
  }
  crt::free(buffer);
  return status;
}

uint64_t stream_size(FILE* file) {
  if (fseeko64(file, 0, SEEK_END) != 0) return 0;
  int64_t size = ftello64(file);
  fseeko64(file, 0, SEEK_SET);
  return size < 0 ? 0 : static_cast<uint64_t>(size);
}

// Reads count bytes from the file offset; bytes past the end stay 0.
void read_at(FILE* file, uint64_t offset, uint8_t* bytes, uint64_t count) {
  std::memset(bytes, 0, count);
  if (fseeko64(file, static_cast<int64_t>(offset), SEEK_SET) != 0) return;
  std::fread(bytes, 1, count, file);
}

PackageOpenStatus load_directory_only(PackageRecord* package) {
  FILE* file = crt::fopen(package->file_name.c_str(), "rb");
  if (!file) return PackageOpenStatus::kOpened;
  uint64_t file_size = stream_size(file);
  uint8_t head[kPackageMagicSize + kPackageSizeField];
  uint64_t head_size = std::min<uint64_t>(sizeof head, file_size);
  read_at(file, 0, head, head_size);
  std::string password = plain_password(package);
  shift_with_password(head, head_size, password, kRestore, 0);
  PackageOpenStatus status = PackageOpenStatus::kNotAPackage;
  if (head_size < kPackageMagicSize || std::memcmp(head, kPackageMagic, kPackageMagicSize) != 0) {
    status = PackageOpenStatus::kNotAPackage;
  } else if (head_size < sizeof head) {
    status = PackageOpenStatus::kDamaged;
  } else {
    // The size field is checked against the file before anything of that size is made.
    uint32_t directory_size = read_u32(head + kPackageMagicSize);
    uint64_t wanted = kPackageMagicSize + static_cast<uint64_t>(directory_size);
    if (directory_size < kPackageSizeField || wanted > file_size) {
      status = PackageOpenStatus::kDamaged;
    } else {
      std::vector<uint8_t> image;
      try {
        image.resize(wanted);
      } catch (const std::bad_alloc&) {
        std::fclose(file);
        return PackageOpenStatus::kOutOfMemory;
      }
      read_at(file, 0, image.data(), wanted);
      shift_with_password(image.data(), wanted, password, kRestore, 0);
      status = take_directory(package, image.data(), wanted, file_size);
    }
  }
  std::fclose(file);
  return status;
}

bool is_open(const PackageRecord* package) {
  return package && std::find(open_packages.begin(), open_packages.end(), package) != open_packages.end();
}

std::string lower_case(const char* text) {
  std::string lower = text ? text : "";
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// A block of size + 1 bytes, the last one 0; null when it cannot be had.
uint8_t* entry_block(uint64_t size) {
  if (size >= kLargestImage) return nullptr;
  return static_cast<uint8_t*>(crt::calloc(static_cast<size_t>(size) + 1, 1));
}

}  // namespace

PackageRecord* package_open(const char* path, const char* password, bool directory_only,
                            PackageOpenStatus* status) {
  PackageOpenStatus result = PackageOpenStatus::kOutOfMemory;
  PackageRecord* package = nullptr;
  try {
    package = new PackageRecord;
    package->file_name = path ? path : "";
    package->password = password ? password : "";
    package->password_length = static_cast<uint32_t>(package->password.size());
    scramble_bytes(reinterpret_cast<uint8_t*>(package->password.data()), static_cast<int32_t>(package->password_length),
                   kPasswordKey, kShiftAway, 0);
    package->directory.assign(kPackageSizeField, 0);
    write_u32(package->directory.data(), kPackageSizeField);
    package->directory_size = kPackageSizeField;
    package->directory_only = directory_only;
    result = directory_only ? load_directory_only(package) : load_whole(package);
    if (result == PackageOpenStatus::kOpened) open_packages.push_back(package);
  } catch (const std::bad_alloc&) {
    result = PackageOpenStatus::kOutOfMemory;
  }
  if (status) *status = result;
  if (result == PackageOpenStatus::kOpened) return package;
  delete package;
  return nullptr;
}

void package_close(PackageRecord* package) {
  if (!package) return;
  if (package->modified) package_save(package, nullptr, nullptr);
  open_packages.erase(std::remove(open_packages.begin(), open_packages.end(), package), open_packages.end());
  delete package;
}

PackageRecord* package_from_handle(uint32_t handle) {
  auto* package = platform::pointer_from<PackageRecord>(handle);
  return is_open(package) ? package : nullptr;
}

const char* package_open_status_text(PackageOpenStatus status) {
  switch (status) {
    case PackageOpenStatus::kOpened: return "opened";
    case PackageOpenStatus::kNotAPackage: return "not a package, or the password is wrong";
    case PackageOpenStatus::kDamaged: return "its directory does not fit the file (damaged, or the password is wrong)";
    case PackageOpenStatus::kOutOfMemory: return "not enough memory";
  }
  return "";
}

bool package_save(PackageRecord* package, const char* path, const char* password) {
  if (!package || package->directory_only) return false;
  bool written = false;
  uint64_t size = kPackageMagicSize + static_cast<uint64_t>(package->directory_size) + package->data_size;
  if (size <= kLargestImage) {
    std::vector<uint8_t> image;
    try {
      image.reserve(static_cast<size_t>(size));
      image.insert(image.end(), kPackageMagic, kPackageMagic + kPackageMagicSize);
      image.insert(image.end(), package->directory.begin(), package->directory.end());
      image.insert(image.end(), package->data.begin(), package->data.end());
      std::string key = password ? std::string(password) : plain_password(package);
      shift_with_password(image.data(), image.size(), key, kShiftAway, 0);
      written = write_file(path ? path : package->file_name.c_str(), image.data(), static_cast<int32_t>(image.size()));
    } catch (const std::bad_alloc&) {
      written = false;
    }
  }
  package->modified = 0;
  return written;
}

std::vector<PackageEntry> package_list_entries(const PackageRecord* package) {
  std::vector<PackageEntry> entries;
  if (!package) return entries;
  const std::vector<uint8_t>& directory = package->directory;
  size_t position = kPackageSizeField;
  while (position < directory.size()) {
    size_t end = position;
    while (end < directory.size() && directory[end] != kPackageNameEnd) ++end;
    if (end + 1 + 4 > directory.size()) break;
    PackageEntry entry;
    entry.name.assign(reinterpret_cast<const char*>(&directory[position]), end - position);
    entry.offset = read_u32(&directory[end + 1]);
    entry.size = 0;
    entry.position = static_cast<uint32_t>(position);
    entries.push_back(std::move(entry));
    position = end + 1 + 4;
  }
  for (size_t index = 0; index < entries.size(); ++index) {
    uint32_t next = index + 1 < entries.size() ? entries[index + 1].offset : package->data_size;
    entries[index].size = next >= entries[index].offset ? next - entries[index].offset : 0;
  }
  return entries;
}

uint32_t package_find_entry(const PackageRecord* package, const char* name, uint32_t* offset, uint32_t* size) {
  if (!name) return 0;
  for (const PackageEntry& entry : package_list_entries(package)) {
    if (entry.name != name) continue;
    if (offset) *offset = entry.offset;
    if (size) *size = entry.size;
    return entry.position;
  }
  return 0;
}

void package_remove_entry(PackageRecord* package, const char* name) {
  if (!package || package->directory_only || !name) return;
  uint32_t removed_offset = 0;
  uint32_t removed_size = 0;
  uint32_t position = package_find_entry(package, name, &removed_offset, &removed_size);
  if (position == 0) return;
  std::vector<uint8_t>& directory = package->directory;
  size_t record_size = std::strlen(name) + 1 + 4;
  directory.erase(directory.begin() + position, directory.begin() + position + record_size);
  package->directory_size = static_cast<uint32_t>(directory.size());
  write_u32(directory.data(), package->directory_size);
  for (const PackageEntry& entry : package_list_entries(package)) {
    if (entry.offset <= removed_offset) continue;
    write_u32(&directory[entry.position + entry.name.size() + 1], entry.offset - removed_size);
  }
  package->data.erase(package->data.begin() + removed_offset, package->data.begin() + removed_offset + removed_size);
  package->data_size -= removed_size;
  package->modified = 1;
}

bool package_add_file(PackageRecord* package, const char* source_path, const char* name) {
  if (!package || package->directory_only || !source_path) return false;
  std::string entry_name;
  if (name) {
    entry_name = lower_case(name);
  } else {
    char* file_part = path_file_name(source_path);
    entry_name = lower_case(file_part);
    crt::free(file_part);
  }
  // Such a name would break the directory walk: the record would end inside it.
  if (entry_name.empty() || entry_name.find(static_cast<char>(kPackageNameEnd)) != std::string::npos) return false;
  int32_t size = 0;
  char* bytes = read_file_to_buffer(source_path, &size, -1, -1);
  if (!bytes) return false;
  uint64_t grown = kPackageMagicSize + static_cast<uint64_t>(package->directory_size) + entry_name.size() + 1 + 4 +
                   package->data_size + static_cast<uint32_t>(size);
  bool added = false;
  if (grown <= kLargestImage) {
    try {
      package->data.reserve(package->data.size() + static_cast<uint32_t>(size));
      package->directory.reserve(package->directory.size() + entry_name.size() + 1 + 4);
      package_remove_entry(package, entry_name.c_str());
      std::vector<uint8_t>& directory = package->directory;
      directory.insert(directory.end(), entry_name.begin(), entry_name.end());
      directory.push_back(kPackageNameEnd);
      directory.resize(directory.size() + 4);
      write_u32(&directory[directory.size() - 4], package->data_size);
      package->directory_size = static_cast<uint32_t>(directory.size());
      write_u32(directory.data(), package->directory_size);
      package->data.insert(package->data.end(), bytes, bytes + size);
      package->data_size += static_cast<uint32_t>(size);
      package->modified = 1;
      added = true;
    } catch (const std::bad_alloc&) {
      added = false;
    }
  }
  crt::free(bytes);
  return added;
}

char* package_read_entry(const PackageRecord* package, uint32_t offset, uint32_t size) {
  uint8_t* block = entry_block(size);
  if (!block || !package) return reinterpret_cast<char*>(block);
  if (!package->directory_only) {
    if (offset < package->data.size()) {
      size_t available = std::min<size_t>(size, package->data.size() - offset);
      std::memcpy(block, package->data.data() + offset, available);
    }
    return reinterpret_cast<char*>(block);
  }
  FILE* file = crt::fopen(package->file_name.c_str(), "rb");
  if (!file) return reinterpret_cast<char*>(block);
  uint64_t start = kPackageMagicSize + static_cast<uint64_t>(package->directory_size) + offset;
  read_at(file, start, block, size);
  std::fclose(file);
  shift_with_password(block, size, plain_password(package), kRestore, start);
  return reinterpret_cast<char*>(block);
}

char* package_load_entry(const PackageRecord* package, const char* name, uint32_t* size) {
  uint32_t offset = 0;
  uint32_t entry_size = 0;
  char* bytes = nullptr;
  if (package && package_find_entry(package, name, &offset, &entry_size)) {
    bytes = package_read_entry(package, offset, entry_size);
  }
  if (size) *size = bytes ? entry_size : 0;
  return bytes;
}

bool package_extract_to(const PackageRecord* package, const char* name, const char* destination) {
  uint32_t size = 0;
  char* bytes = package_load_entry(package, name, &size);
  if (!bytes || !destination) {
    crt::free(bytes);
    return false;
  }
  bool written = write_file(destination, bytes, static_cast<int32_t>(size));
  crt::free(bytes);
  return written;
}

char* package_extract_to_temp(const PackageRecord* package, const char* name) {
  uint32_t offset = 0;
  uint32_t size = 0;
  if (!package || !package_find_entry(package, name, &offset, &size)) return nullptr;
  const char* folder = program_folder ? program_folder : "";
  for (int32_t number = 0; number < kTemporaryNameTries; ++number) {
    std::string path = format_text("%stemp.%d", folder, number);
    if (file_exists(path.c_str())) continue;
    if (!package_extract_to(package, name, path.c_str())) return nullptr;
    return crt::_strdup(path.c_str());
  }
  return nullptr;
}
