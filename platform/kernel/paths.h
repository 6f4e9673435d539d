// Device paths to host paths. A path that begins with "\" lives under the device
// root (ZRK_ROOT); any other path is a host path whose backslashes become slashes.
// Device file names are case-insensitive: a component that does not exist as written
// is matched against its folder's entries without regard to case.
#pragma once

#include <string>
#include <string_view>

#include "platform/kernel/types.h"

namespace platform {

std::string host_path(std::u16string_view path);
// A null-terminated path; null gives an empty string.
std::string host_path(const WCHAR* path);

// A relative host path joined to the host's working folder: a program named on the
// command line relative to the shell must keep naming the same file (and give its
// folder to the program) wherever the runtime later resolves paths from. Device paths,
// rooted paths and an unknown working folder give the path as given.
std::string absolute_host_path(const std::string& path);

// The upper case of one UTF-16 unit as device names compare: ASCII and Latin-1 letters.
char16_t fold_name_unit(char16_t unit);

// True when two names are equal ignoring case (ASCII and Latin-1 letters).
bool names_equal_ignoring_case(std::u16string_view a, std::u16string_view b);
bool names_equal_ignoring_case(std::string_view a, std::string_view b);

}  // namespace platform
