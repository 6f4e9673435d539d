// The file built-ins. A stream handle is the address of a C library stream; only streams
// this unit opened and has not closed are used, so a handle used again after fclose, 0
// from a failed fopen or any other number gives the failure results instead of handing
// the C library what is not a stream. A non-zero handle that is no open stream is also
// reported as a run-time error; 0, what a failed fopen gives, is not.
#include "library/files/file_builtins.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>

#include "foundation/file_helpers.h"
#include "foundation/machine_state.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/string_helpers.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "library/files/file_arguments.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/stdio.h"
#include "platform/kernel/types.h"
#include "platform/kernel/wide_string.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"
#include "vm/runtime_globals.h"

namespace {

// Addresses of the streams fopen opened here and fclose has not closed.
std::unordered_set<uint32_t> open_streams;

void report_closed_stream(uint32_t address) { runtime_error("Invalid file handle 0x%08X", address); }

FILE* pop_stream() {
  auto address = static_cast<uint32_t>(pop_integer());
  if (address == 0) return nullptr;
  if (!open_streams.count(address)) {
    report_closed_stream(address);
    return nullptr;
  }
  return platform::pointer_from<FILE>(address);
}

void push_integer(int64_t value) { stack_push_number(current_program, static_cast<double>(value)); }

void assign_number(Variable* variable, double number) {
  if (variable) set_variable(variable, nullptr, number, nullptr, 0);
}

// ---- Dialogs ----

// One argument is the filter; with two or more, the last is the initial folder and the
// one before it the filter, and any earlier ones are dropped.
void file_dialog(bool save) {
  ProgramContext* context = current_program;
  ValueCell* last = context->stack_top;
  int32_t count = stack_pop_to_mark(context);
  if (count < 0) return;
  const ValueCell* filter_cell = count == 1 ? last : count >= 2 ? last->below : nullptr;
  const ValueCell* folder_cell = count >= 2 ? last : nullptr;
  std::string filter = filter_cell ? cell_narrow_text(filter_cell) : "";
  std::string folder = folder_cell ? cell_narrow_text(folder_cell) : "";
  const char* initial_folder = folder_cell ? folder.c_str() : nullptr;
  char* chosen = save ? save_file_dialog(runtime_instance, filter.c_str(), initial_folder)
                      : open_file_dialog(runtime_instance, filter.c_str(), initial_folder);
  push_owned_text_or_none(chosen, false);
}

void builtin_getfile() { file_dialog(false); }
void builtin_putfile() { file_dialog(true); }

// ---- Tests and sizes ----

void builtin_fileexists() { stack_push_number(current_program, file_exists(pop_narrow_text())); }
void builtin_directoryexists() { stack_push_number(current_program, file_exists_alt(pop_narrow_text())); }
void builtin_filesize() { stack_push_uint(file_size(pop_narrow_text())); }

// ---- Whole files as strings ----

void load_string(bool wide, bool ranged) {
  Variable* size_variable = pop_variable();
  int32_t count = ranged ? pop_integer() : -1;
  int32_t offset = ranged ? pop_integer() : -1;
  std::string path = pop_narrow_text();
  int32_t size = -1;
  void* text = wide ? static_cast<void*>(read_file_to_wide_buffer(path.c_str(), &size, offset, count))
                    : static_cast<void*>(read_file_to_buffer(path.c_str(), &size, offset, count));
  push_owned_text_or_none(text, wide);
  assign_number(size_variable, size);
}

void builtin_loadstr() { load_string(false, false); }
void builtin_loadstrex() { load_string(false, true); }
void builtin_wloadstr() { load_string(true, false); }
void builtin_wloadstrex() { load_string(true, true); }

// A block argument (a variable given memory with new, an array) is written as it is;
// other values as their text.
bool is_block(const ValueCell* cell) { return cell->text && (cell->flags & kCellList); }

// The units of text that count asks for, never past the text: -1 asks up to its first 0
// unit. A heap block ends at its size (texts read from files may hold 0 bytes before
// that); a text of no known block at its terminator; a block of no known size is empty.
template <typename Unit>
int32_t units_to_write(const Unit* text, int32_t count, bool block) {
  size_t capacity = alloc_block_size(text) / sizeof(Unit);
  if (capacity == 0 && !block) {
    while (text[capacity]) ++capacity;
  }
  capacity = std::min<size_t>(capacity, 0x7FFFFFFF);
  if (count >= 0) return std::min(count, static_cast<int32_t>(capacity));
  size_t length = 0;
  while (length < capacity && text[length]) ++length;
  return static_cast<int32_t>(length);
}

void builtin_savestr() {
  int32_t count = pop_integer();
  ValueCell* cell = stack_pop(current_program);
  bool block = is_block(cell);
  const char* text = block ? static_cast<const char*>(cell->text) : cell_narrow_text(cell);
  std::string path = pop_narrow_text();
  write_file(path.c_str(), text, units_to_write(text, count, block));
}

void builtin_wsavestr() {
  int32_t count = pop_integer();
  ValueCell* cell = stack_pop(current_program);
  bool block = is_block(cell);
  // 8-bit text is widened first: its bytes read as 2-byte units would run past its end.
  const char16_t* text = block ? static_cast<const char16_t*>(cell->text) : cell_wide_text(cell);
  static const char16_t empty[1] = {0};
  if (!text) text = empty;
  std::string path = pop_narrow_text();
  write_wide_file(path.c_str(), text, units_to_write(text, count, block));
}

// ---- Paths ----

void builtin_extractfilename() { push_owned_text(path_file_name(pop_narrow_text())); }
void builtin_extractfilepath() { push_owned_text(path_directory(pop_narrow_text())); }
void builtin_extractfiledrive() { push_owned_text(path_cut_after_second_backslash(pop_narrow_text())); }
void builtin_extractfileext() { push_owned_text_or_none(path_extension(pop_narrow_text()), false); }

// ---- Streams ----

void builtin_fopen() {
  std::string mode = pop_narrow_text();
  std::string path = pop_narrow_text();
  FILE* stream = crt::fopen(path.c_str(), mode.c_str());
  uint32_t address = platform::address_of(stream);
  if (stream) open_streams.insert(address);
  stack_push_uint(address);
}

void builtin_fclose() {
  uint32_t address = static_cast<uint32_t>(pop_integer());
  if (address == 0) return;
  if (!open_streams.erase(address)) {
    report_closed_stream(address);
    return;
  }
  std::fclose(platform::pointer_from<FILE>(address));
}

uint32_t magnitude(int32_t value) { return value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value); }

// fread and fwrite take both sizes as magnitudes: a negative one would otherwise be a
// transfer of some 4 GB.
void transfer(bool write) {
  FILE* stream = pop_stream();
  uint32_t count = magnitude(pop_integer());
  uint32_t item_size = magnitude(pop_integer());
  void* buffer = platform::pointer_from<void>(pop_address());
  size_t done = 0;
  if (stream && buffer && item_size && count) {
    done = write ? std::fwrite(buffer, item_size, count, stream) : std::fread(buffer, item_size, count, stream);
  }
  stack_push_uint(static_cast<uint32_t>(done));
}

void builtin_fread() { transfer(false); }
void builtin_fwrite() { transfer(true); }

void builtin_fseek() {
  int32_t origin = pop_integer();
  int32_t offset = pop_integer();
  FILE* stream = pop_stream();
  if (stream && origin >= SEEK_SET && origin <= SEEK_END) std::fseek(stream, offset, origin);
}

void builtin_ftell() {
  FILE* stream = pop_stream();
  push_integer(stream ? std::ftell(stream) : -1);
}

// A stream that is not open reads as ended and failed, so a loop that waits for the end
// of a file that never opened ends at once.
void builtin_feof() {
  FILE* stream = pop_stream();
  push_integer(stream ? std::feof(stream) : 1);
}

void builtin_ferror() {
  FILE* stream = pop_stream();
  push_integer(stream ? std::ferror(stream) : 1);
}

void builtin_fflush() {
  FILE* stream = pop_stream();
  push_integer(stream ? std::fflush(stream) : EOF);
}

void builtin_fgetpos() {
  Variable* position_variable = pop_variable();
  FILE* stream = pop_stream();
  if (!stream) {
    push_integer(-1);
    return;
  }
  int64_t position = ftello64(stream);
  push_integer(position < 0 ? -1 : 0);
  if (position >= 0) assign_number(position_variable, static_cast<uint32_t>(position));
}

void builtin_fsetpos() {
  auto position = static_cast<int64_t>(truncate_to_int64(pop_number()));
  FILE* stream = pop_stream();
  push_integer(stream && position >= 0 && fseeko64(stream, position, SEEK_SET) == 0 ? 0 : -1);
}

// The next line without its last character when that is a line feed or a carriage
// return; the number 0 at the end of the file. A look ahead afterwards sets the end
// flag right after the last line.
void builtin_readstring() {
  FILE* stream = pop_stream();
  if (!stream) {
    stack_push_number(current_program, 0);
    return;
  }
  std::string line;
  int c = EOF;
  while ((c = std::getc(stream)) != EOF) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  if (line.empty()) {
    stack_push_number(current_program, 0);
    return;
  }
  if (line.back() == '\n' || line.back() == '\r') line.pop_back();
  if (c != EOF) {
    int next = std::getc(stream);
    if (next != EOF) std::ungetc(next, stream);
  }
  push_owned_text(crt::_strdup(line.c_str()));
}

void builtin_writestring() {
  std::string text = pop_narrow_text();
  FILE* stream = pop_stream();
  if (stream) std::fprintf(stream, "%s\n", text.c_str());
}

void builtin_fstr() { push_owned_text(insert_thousands_separators(pop_narrow_text())); }

}  // namespace

void register_file_builtins() {
  builtin_register("getfile", builtin_getfile);
  builtin_register("putfile", builtin_putfile);
  builtin_register("fileexists", builtin_fileexists);
  builtin_register("directoryexists", builtin_directoryexists);
  builtin_register("filesize", builtin_filesize);
  builtin_register("loadstr", builtin_loadstr);
  builtin_register("loadstrex", builtin_loadstrex);
  builtin_register("wloadstr", builtin_wloadstr);
  builtin_register("wloadstrex", builtin_wloadstrex);
  builtin_register("savestr", builtin_savestr);
  builtin_register("wsavestr", builtin_wsavestr);
  builtin_register("extractfilename", builtin_extractfilename);
  builtin_register("extractfilepath", builtin_extractfilepath);
  builtin_register("extractfiledrive", builtin_extractfiledrive);
  builtin_register("extractfileext", builtin_extractfileext);
  builtin_register("fopen", builtin_fopen);
  builtin_register("fclose", builtin_fclose);
  builtin_register("fread", builtin_fread);
  builtin_register("fwrite", builtin_fwrite);
  builtin_register("fseek", builtin_fseek);
  builtin_register("ftell", builtin_ftell);
  builtin_register("feof", builtin_feof);
  builtin_register("ferror", builtin_ferror);
  builtin_register("fflush", builtin_fflush);
  builtin_register("fgetpos", builtin_fgetpos);
  builtin_register("fsetpos", builtin_fsetpos);
  builtin_register("readstring", builtin_readstring);
  builtin_register("writestring", builtin_writestring);
  builtin_register("fstr", builtin_fstr);
}
