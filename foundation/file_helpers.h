// Whole-file reading and writing, file tests, the runtime's own folder, path splitting,
// and the Open and Save As dialogs. Paths are 8-bit texts (Windows-1252).
#pragma once

#include <cstdint>

#include "platform/kernel/types.h"

// The folder of the running runtime with its trailing backslash, set at start-up from
// program_directory (a crt::malloc text); null until then.
extern char* program_folder;
// The folder of the file last chosen in a dialog (a crt::malloc UTF-16 text), the
// initial folder of the next dialog that is given none; null at start.
extern char16_t* last_dialog_folder;

// Reads count bytes (-1: the file's length) from offset (-1: the start) into a new
// crt::malloc block of count + 1 zero-filled bytes; *size is the number of bytes read,
// which is less than count when the file ends first. A file that cannot be opened, or an
// offset or count below -1, gives null with *size -1; memory that cannot be had gives
// null with *size 0.
char* read_file_to_buffer(const char* path, int32_t* size, int32_t offset, int32_t count);
// The same in 16-bit units: offset and count are units, the whole file is length / 2
// units, the block holds count + 1 zero-filled units and *count_read the units read.
char16_t* read_file_to_wide_buffer(const char* path, int32_t* count_read, int32_t offset, int32_t count);

// Creates or replaces the file with count bytes (units) of data. False, with nothing
// written, when it cannot be opened or count is negative.
bool write_file(const char* path, const void* data, int32_t count);
bool write_wide_file(const char* path, const char16_t* data, int32_t count);

// The file's length in bytes; 0 when it cannot be opened.
uint32_t file_size(const char* path);

// The running executable's folder with its trailing separator (a new crt::malloc text);
// "\" when its name holds no folder.
char* program_directory();
// The running executable's full name (a new crt::malloc text).
char* program_file_name();

// 1 when a file or folder matches path (wildcards match), else 0.
int file_exists(const char* path);
// The same test, for the file built-in that uses it.
int file_exists_alt(const char* path);

// Path splitting. A backslash separates components; so does '/', which host paths use.
// Each result is a new crt::malloc text; a null path counts as empty.

// The last component: the whole path without a separator, "" when it ends in one.
char* path_file_name(const char* path);
// The path cut after its last separator (which stays); "" when it has none.
char* path_directory(const char* path);
// The path cut after its second separator (the storage root of "\Storage Card\x"); the
// whole path when it has fewer than two.
char* path_cut_after_second_backslash(const char* path);
// The last component's extension from its last '.' (included); null when the last
// component has no '.': "\My.Dir\readme" has none.
char* path_extension(const char* path);

// The Open and Save As dialogs. filter holds description|pattern| pairs; initial_folder
// may be null (then the folder of the last chosen file). The dialog library
// "gsgetfile.dll" in program_folder serves when present, else the system dialogs. The
// chosen path as a new crt::malloc text, or null when the user cancelled.
char* open_file_dialog(HINSTANCE instance, const char* filter, const char* initial_folder);
char* save_file_dialog(HINSTANCE instance, const char* filter, const char* initial_folder);
