// Host libraries opened on first use, and their functions looked up by name.
#include "platform/backend/host_library.h"

#include <dlfcn.h>

namespace platform {

void* open_host_library(const char* file, std::string& error) {
  void* library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (!library) error = std::string("cannot load ") + file;
  return library;
}

void* host_library_function(void* library, const char* file, const char* name, std::string& error) {
  if (!library) return nullptr;  // the opening has said why
  void* address = dlsym(library, name);
  if (!address) error = std::string(file) + " lacks " + name;
  return address;
}

}  // namespace platform
