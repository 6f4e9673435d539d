// Whole-file reading and writing, file tests, the runtime's folder, path splitting and
// the file dialogs with their optional outside dialog library.
#include "foundation/file_helpers.h"

#include <cstdio>
#include <cstring>

#include "foundation/conversion.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/files.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/stdio.h"
#include "platform/kernel/wide_string.h"
#include "platform/user/file_dialogs.h"

char* program_folder = nullptr;
char16_t* last_dialog_folder = nullptr;

namespace {

char* copy_text(const char* text, size_t length) {
  auto* copy = static_cast<char*>(crt::malloc(length + 1));
  if (!copy) return nullptr;
  if (length) std::memcpy(copy, text, length);
  copy[length] = 0;
  return copy;
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

// Index just after the last separator; 0 when there is none.
size_t last_component_start(const char* path, size_t length) {
  for (size_t at = length; at > 0; --at) {
    if (is_separator(path[at - 1])) return at;
  }
  return 0;
}

long stream_length(FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  long length = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  return length;
}

// Reads count units of unit_size bytes from offset units into a zero-filled block of
// count + 1 units; the units read go to *units_read.
void* read_units(const char* path, int32_t* units_read, int32_t offset, int32_t count, size_t unit_size) {
  *units_read = -1;
  if (!path || offset < -1 || count < -1) return nullptr;
  FILE* file = crt::fopen(path, "rb");
  if (!file) return nullptr;
  if (count == -1) {
    long length = stream_length(file);
    count = length < 0 ? 0 : static_cast<int32_t>(static_cast<unsigned long>(length) / unit_size);
  }
  // Held in 64 bits: count + 1 units of a count near 2^31 do not fit 32.
  uint64_t bytes = (static_cast<uint64_t>(count) + 1) * unit_size;
  void* block = bytes <= 0x7FFFFFFFu ? crt::calloc(1, static_cast<size_t>(bytes)) : nullptr;
  if (!block) {
    std::fclose(file);
    *units_read = 0;
    return nullptr;
  }
  size_t read = 0;
  int64_t start = offset == -1 ? 0 : static_cast<int64_t>(offset) * static_cast<int64_t>(unit_size);
  if (start <= 0x7FFFFFFF && std::fseek(file, static_cast<long>(start), SEEK_SET) == 0) {
    read = std::fread(block, unit_size, static_cast<size_t>(count), file);
  }
  std::fclose(file);
  // A partly read last unit leaves bytes that no unit counted: the rest stays zero.
  std::memset(static_cast<char*>(block) + read * unit_size, 0, static_cast<size_t>(bytes) - read * unit_size);
  *units_read = static_cast<int32_t>(read);
  return block;
}

bool write_units(const char* path, const void* data, int32_t count, size_t unit_size) {
  if (!path || count < 0 || (count > 0 && !data)) return false;
  FILE* file = crt::fopen(path, "wb");
  if (!file) return false;
  size_t written = count ? std::fwrite(data, unit_size, static_cast<size_t>(count), file) : 0;
  bool closed = std::fclose(file) == 0;
  return closed && written == static_cast<size_t>(count);
}

char* module_file_name() {
  WCHAR name[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, name, MAX_PATH + 1);
  return to_narrow(name);
}

int find_entry(const char* path) {
  if (!path) return 0;
  char16_t* pattern = to_wide(path);
  bool found = pattern && platform::search_finds_any(pattern);
  crt::free(pattern);
  return found ? 1 : 0;
}

// The system's filter list: every '|' a zero, two zeros at the end.
char16_t* filter_list(const char* filter) {
  char16_t* wide = to_wide(filter);
  if (!wide) return nullptr;
  size_t length = crt::wcslen(wide);
  auto* list = static_cast<char16_t*>(crt::calloc(length + 2, sizeof(char16_t)));
  if (list) {
    for (size_t at = 0; at < length; ++at) list[at] = wide[at] == u'|' ? u'\0' : wide[at];
  }
  crt::free(wide);
  return list;
}

// Loads the outside dialog library from the program folder; null when it is absent.
HMODULE load_dialog_library() {
  char* folder = program_folder ? copy_text(program_folder, std::strlen(program_folder)) : program_directory();
  if (!folder) return nullptr;
  const char* name = "gsgetfile.dll";
  size_t folder_length = std::strlen(folder);
  char* path = static_cast<char*>(crt::malloc(folder_length + std::strlen(name) + 1));
  HMODULE library = nullptr;
  if (path) {
    std::memcpy(path, folder, folder_length);
    std::strcpy(path + folder_length, name);
    char16_t* wide_path = to_wide(path);
    if (wide_path) library = LoadLibraryW(wide_path);
    crt::free(wide_path);
    crt::free(path);
  }
  crt::free(folder);
  return library;
}

using DialogFunction = BOOL (*)(OPENFILENAMEW*);

char* run_dialog(bool save, HINSTANCE instance, const char* filter, const char* initial_folder) {
  char16_t* filters = filter_list(filter);
  char16_t* folder = initial_folder ? to_wide(initial_folder) : nullptr;
  char16_t file[MAX_PATH] = {};
  OPENFILENAMEW record{};
  record.lStructSize = sizeof record;
  record.hwndOwner = nullptr;  // no window system yet, so no foreground window
  record.hInstance = instance;
  record.lpstrFilter = filters;
  record.nFilterIndex = 0;
  record.lpstrFile = file;
  record.nMaxFile = MAX_PATH;
  record.lpstrInitialDir = initial_folder ? folder : last_dialog_folder;
  record.lpstrTitle = save ? u"Save As..." : u"Open...";
  record.Flags = save ? OFN_OVERWRITEPROMPT : OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;

  BOOL chosen = FALSE;
  if (HMODULE library = load_dialog_library()) {
    // The device maker's dialog replaces the system's entirely: without its export
    // there is no dialog at all.
    auto dialog = reinterpret_cast<DialogFunction>(
        GetProcAddressW(library, save ? u"gsGetSaveFileName" : u"gsGetOpenFileName"));
    if (dialog) chosen = dialog(&record);
    FreeLibrary(library);
  } else {
    chosen = save ? GetSaveFileNameW(&record) : GetOpenFileNameW(&record);
  }
  crt::free(filters);
  crt::free(folder);
  if (!chosen) return nullptr;

  file[MAX_PATH - 1] = 0;  // whatever the dialog wrote, the path ends in the buffer
  char* path = to_narrow(file);
  if (path) {
    char* directory = path_directory(path);
    char16_t* wide_directory = directory ? to_wide(directory) : nullptr;
    crt::free(directory);
    if (wide_directory) {
      crt::free(last_dialog_folder);
      last_dialog_folder = wide_directory;
    }
  }
  return path;
}

}  // namespace

char* read_file_to_buffer(const char* path, int32_t* size, int32_t offset, int32_t count) {
  return static_cast<char*>(read_units(path, size, offset, count, 1));
}

char16_t* read_file_to_wide_buffer(const char* path, int32_t* count_read, int32_t offset, int32_t count) {
  return static_cast<char16_t*>(read_units(path, count_read, offset, count, sizeof(char16_t)));
}

bool write_file(const char* path, const void* data, int32_t count) { return write_units(path, data, count, 1); }

bool write_wide_file(const char* path, const char16_t* data, int32_t count) {
  return write_units(path, data, count, sizeof(char16_t));
}

uint32_t file_size(const char* path) {
  FILE* file = path ? crt::fopen(path, "rb") : nullptr;
  if (!file) return 0;
  long length = stream_length(file);
  std::fclose(file);
  return length < 0 ? 0 : static_cast<uint32_t>(length);
}

char* program_directory() {
  char* name = module_file_name();
  if (!name) return nullptr;
  size_t cut = last_component_start(name, std::strlen(name));
  if (cut == 0) {
    crt::free(name);
    return copy_text("\\", 1);
  }
  char* folder = copy_text(name, cut);
  crt::free(name);
  return folder;
}

char* program_file_name() { return module_file_name(); }

int file_exists(const char* path) { return find_entry(path); }
int file_exists_alt(const char* path) { return find_entry(path); }

char* path_file_name(const char* path) {
  if (!path) path = "";
  size_t length = std::strlen(path);
  size_t start = last_component_start(path, length);
  return copy_text(path + start, length - start);
}

char* path_directory(const char* path) {
  if (!path) path = "";
  size_t length = std::strlen(path);
  return copy_text(path, last_component_start(path, length));
}

char* path_cut_after_second_backslash(const char* path) {
  if (!path) path = "";
  size_t length = std::strlen(path);
  int separators = 0;
  for (size_t at = 0; at < length; ++at) {
    if (is_separator(path[at]) && ++separators == 2) return copy_text(path, at + 1);
  }
  return copy_text(path, length);
}

char* path_extension(const char* path) {
  if (!path) path = "";
  size_t length = std::strlen(path);
  size_t start = last_component_start(path, length);
  for (size_t at = length; at > start; --at) {
    if (path[at - 1] == '.') return copy_text(path + at - 1, length - at + 1);
  }
  return nullptr;
}

char* open_file_dialog(HINSTANCE instance, const char* filter, const char* initial_folder) {
  return run_dialog(false, instance, filter, initial_folder);
}

char* save_file_dialog(HINSTANCE instance, const char* filter, const char* initial_folder) {
  return run_dialog(true, instance, filter, initial_folder);
}
