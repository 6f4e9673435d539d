// The target C runtime's stdio calls that take file names: wide and 8-bit fopen,
// _wremove and _wrename. Streams are glibc FILE*s, used and closed with the standard
// functions. Text mode is binary mode: no CR LF translation happens either way.
#pragma once

#include <cstdio>

#include "platform/kernel/types.h"

namespace crt {

// Opens a stream on a device or host name (see host_path). The mode is "r", "w" or "a"
// followed by any of "+", "b", "t", "c", "n"; anything else gives null with errno EINVAL.
// Folders cannot be opened, nor read-only files for writing (errno EACCES).
FILE* _wfopen(const WCHAR* name, const WCHAR* mode);

// The same with an 8-bit name and mode in the device's code page (Windows-1252).
FILE* fopen(const char* name, const char* mode);

// True while the open stream is the file that name (8-bit, as for fopen) names: false
// once that file was deleted, or replaced by another under the same name.
bool stream_names_file(FILE* stream, const char* name);

// Deletes a file; folders and read-only files are refused (EACCES). 0, or -1 with errno set.
int _wremove(const WCHAR* name);

// Renames a file or folder; an existing new name is refused (EACCES), except the same
// file under other letter case. 0, or -1 with errno set.
int _wrename(const WCHAR* old_name, const WCHAR* new_name);

}  // namespace crt
