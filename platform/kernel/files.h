// Files of the device: CreateFileW and the calls on file handles, file times,
// deletion, searches (FindFirstFileW) and file mapping. Names go through host_path.
#pragma once

#include <memory>
#include <string_view>

#include "platform/kernel/handles.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD GENERIC_ALL = 0x10000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;

// Dispositions of CreateFileW.
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

// Accesses of MapViewOfFile (protections are the PAGE_* values of memory.h).
constexpr DWORD FILE_MAP_WRITE = 0x2;
constexpr DWORD FILE_MAP_READ = 0x4;
constexpr DWORD FILE_MAP_ALL_ACCESS = 0xF001F;

// Error codes only the file calls give.

// One entry found by a search, in the device's layout (560 bytes).
struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwOID;
  WCHAR cFileName[MAX_PATH];
};
static_assert(sizeof(WIN32_FIND_DATAW) == 560);
static_assert(offsetof(WIN32_FIND_DATAW, nFileSizeHigh) == 28);
static_assert(offsetof(WIN32_FIND_DATAW, cFileName) == 40);

// The device has no overlapped input and output: the parameter must be null.
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

// Opens or creates a file (or a stream driver such as "ACS1:"). Fails with
// INVALID_HANDLE_VALUE and ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_FILE_EXISTS
// or ERROR_ACCESS_DENIED; CREATE_ALWAYS and OPEN_ALWAYS on an existing file succeed and
// set ERROR_ALREADY_EXISTS. Sharing modes are accepted but not enforced.
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags_and_attributes, HANDLE template_file);

// Reads up to count bytes at the file pointer; *bytes_read is exact, and reading at
// the end succeeds with 0 bytes.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD bytes_read, LPOVERLAPPED overlapped);
// Writes count bytes at the file pointer; *bytes_written is exact.
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD bytes_written, LPOVERLAPPED overlapped);
// Moves the file pointer (FILE_BEGIN, FILE_CURRENT, FILE_END); with distance_high the
// distance is 64 bits and the high half of the result goes back there. Returns the low
// half, or INVALID_SET_FILE_POINTER with the last error set (ERROR_NEGATIVE_SEEK ...).
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distance_high, DWORD method);
// The file's size: low half returned, high half in *size_high; INVALID_FILE_SIZE on failure.
DWORD GetFileSize(HANDLE file, LPDWORD size_high);
// Creation, last access and last write times (each pointer may be null).
BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* last_access, FILETIME* last_write);
// -1, 0 or 1 as first is earlier than, equal to or later than second (null counts as 0).
LONG CompareFileTime(const FILETIME* first, const FILETIME* second);
// Deletes a file; folders and read-only files are refused with ERROR_ACCESS_DENIED.
BOOL DeleteFileW(LPCWSTR name);
// Creates one folder; its parent must exist. ERROR_ALREADY_EXISTS when the name is taken,
// ERROR_PATH_NOT_FOUND when the parent is missing.
BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES security);

// Starts a search: '*' and '?' may appear in the last component and match without
// regard to case; "x.*" also matches "x". "." and ".." are never returned, and entries
// come in name order. Nothing matching gives ERROR_FILE_NOT_FOUND, a missing folder
// ERROR_PATH_NOT_FOUND.
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* found);
// The next entry of a search; FALSE with ERROR_NO_MORE_FILES after the last.
BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* found);
// Ends a search (CloseHandle does the same).
BOOL FindClose(HANDLE search);

// Opens a file for mapping: the same as CreateFileW.
HANDLE CreateFileForMappingW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags_and_attributes, HANDLE template_file);
// A mapping of a file (size 0: the file's size; a larger read-write size grows the file)
// or, for INVALID_HANDLE_VALUE, of size bytes of fresh zeroed memory. Names are not
// shared. Returns null with the last error set on failure.
HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protection, DWORD size_high,
                          DWORD size_low, LPCWSTR name);
// Maps bytes of a mapping from an offset that is a multiple of 64 KB (bytes 0: to the
// end). Writes through a view reach the file. The view keeps the mapping alive after
// its handle is closed. Returns null with the last error set on failure.
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offset_high, DWORD offset_low, DWORD bytes);
// Unmaps a view by the address MapViewOfFile returned.
BOOL UnmapViewOfFile(LPCVOID base);

namespace platform {

// The device error code for a host errno value.
DWORD error_from_errno(int error);

// True for a stream-driver name: three letters, a digit and a colon ("ACS1:").
bool is_stream_driver_name(std::u16string_view name);

// Opens a stream driver for CreateFileW: the object to enter in the handle table, or
// null with the last error set.
using StreamDriverOpener = std::shared_ptr<KernelObject> (*)(std::u16string_view name, DWORD access, DWORD share);

// Installs the function that opens stream drivers (null: no driver is present, and
// opening one fails with ERROR_FILE_NOT_FOUND).
void set_stream_driver_opener(StreamDriverOpener opener);

// True when FindFirstFileW would find an entry for pattern. A name without wildcards that
// exists as written is answered without listing its folder.
bool search_finds_any(LPCWSTR pattern);

}  // namespace platform
