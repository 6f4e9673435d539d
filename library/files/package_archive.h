// Package archives: one file holding named entries behind a directory, the whole file
// shifted byte by byte with a password. Opening, listing, adding, removing and saving.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The plain image of a package file: "PKG", then the directory (its u32 size field,
// which counts itself, and one record per entry: name bytes, 0x01, u32 data offset),
// then the data area with the entries back to back in the order of their offsets.
inline constexpr char kPackageMagic[3] = {'P', 'K', 'G'};
inline constexpr uint32_t kPackageMagicSize = 3;
inline constexpr uint8_t kPackageNameEnd = 0x01;
inline constexpr uint32_t kPackageSizeField = 4;

// One open package; scripts hold its address as the package handle.
struct PackageRecord {
  std::string file_name;
  std::string password;            // kept shifted with the runtime key, never plain
  uint32_t password_length = 0;
  std::vector<uint8_t> data;       // the data area; empty for a directory-only package
  uint32_t data_size = 0;          // file size - directory size - 3 when directory-only
  std::vector<uint8_t> directory;  // exactly as in the file, size field included
  uint32_t directory_size = 0;
  uint8_t modified = 0;            // 1 after an add or a remove, 0 after a save
  bool directory_only = false;     // entries are read from the file on demand
};

// How an open ended. A missing file is not a failure: it opens an empty package.
enum class PackageOpenStatus {
  kOpened,
  kNotAPackage,     // no "PKG" after restoring: another kind of file or a wrong password
  kDamaged,         // "PKG" but the directory does not fit the file
  kOutOfMemory,
};

// One entry as the directory lists it.
struct PackageEntry {
  std::string name;
  uint32_t offset;
  uint32_t size;
  uint32_t position;  // of its record in the directory, never 0
};

// Opens path with password (null: none) whole or directory-only. Null when the file is
// not a package or is damaged; *status, when given, says which.
PackageRecord* package_open(const char* path, const char* password, bool directory_only,
                            PackageOpenStatus* status = nullptr);
// Saves a modified package to its own file, then frees it. Null is ignored.
void package_close(PackageRecord* package);
// The open package at that address, or null for any other number (a closed one too).
PackageRecord* package_from_handle(uint32_t handle);
// A text naming the fault of a failed open, for reports.
const char* package_open_status_text(PackageOpenStatus status);

// Writes the package to path (null: its own file) shifted with password (null: its own)
// and clears modified, even when the file could not be written. Nothing for a
// directory-only package. False when nothing was written.
bool package_save(PackageRecord* package, const char* path, const char* password);

// The entries in directory order.
std::vector<PackageEntry> package_list_entries(const PackageRecord* package);
// The position of the record named exactly name (byte for byte), or 0 when absent.
uint32_t package_find_entry(const PackageRecord* package, const char* name, uint32_t* offset, uint32_t* size);

// Removes the entry named name: its record, its bytes, and the shift of later offsets.
// Nothing for a directory-only package or an absent name.
void package_remove_entry(PackageRecord* package, const char* name);
// Adds the file at source_path as entry name (null: the file-name part of the path),
// stored lower-cased and replacing an entry of that name. Nothing for a directory-only
// package, a file that cannot be read, or a name that is empty or holds the byte 0x01.
// False when nothing was added.
bool package_add_file(PackageRecord* package, const char* source_path, const char* name);

// size bytes of the entry at offset in a new crt::malloc block with a 0 byte after them.
// Bytes past the end of the data (a file cut short since it was opened) read as 0.
char* package_read_entry(const PackageRecord* package, uint32_t offset, uint32_t size);
// The entry's bytes (as package_read_entry) with *size; null with *size 0 when absent.
char* package_load_entry(const PackageRecord* package, const char* name, uint32_t* size);
// Writes the entry to a new file "<program folder>temp.<n>" (the first n free) and
// returns its path (a crt::malloc text); null when the entry is absent or no file could
// be written.
char* package_extract_to_temp(const PackageRecord* package, const char* name);
// Writes the entry to destination, replacing it; nothing when absent. False then, or
// when the file could not be written.
bool package_extract_to(const PackageRecord* package, const char* name, const char* destination);
