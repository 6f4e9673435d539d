// Host libraries that only some runs need (the X client, ALSA): opened on first use, so a
// run that never shows a window or plays a sound does not load them at start.
#pragma once

#include <string>

namespace platform {

// Opens a host library by its file name (a soname such as "libxcb.so.1"); null, with a
// message naming the library, when it cannot be loaded. The library stays for the run.
void* open_host_library(const char* file, std::string& error);

// The address of a function of an opened library; null, with a message naming it, when
// the library lacks it. A library that did not open gives null and keeps its message.
void* host_library_function(void* library, const char* file, const char* name, std::string& error);

// Fills a typed function pointer from the library; false when the function is missing.
template <typename Function>
bool bind_host_function(void* library, const char* file, const char* name, Function& slot, std::string& error) {
  void* address = host_library_function(library, file, name, error);
  slot = reinterpret_cast<Function>(address);
  return address != nullptr;
}

}  // namespace platform
