// Modules over dlopen, the name tables of the system libraries this layer answers for,
// and the running program's own module and path.
#include "platform/kernel/modules.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/kernel/config.h"
#include "platform/kernel/fault_guard.h"
#include "platform/kernel/handles.h"
#include "platform/kernel/paths.h"
#include "platform/kernel/threads.h"
#include "platform/kernel/utf.h"
#include "platform/user/message_box.h"

namespace platform {
namespace {

enum class ModuleKind { Program, Builtin, Library };

// A module handle is the address of one of these; values that are not in the
// registry are refused, so a stale or made-up handle is an error, not a crash.
struct Module {
  ModuleKind kind;
  std::string name;             // built-in: lower case with ".dll"; library: host path
  void* library = nullptr;      // dlopen handle of a library
  int uses = 0;                 // LoadLibraryW calls not yet freed (libraries only)
  std::map<std::string, void*> functions;  // built-in entries
  bool (*present)() = nullptr;  // built-in: whether the device has it now (null: always)
};

struct Registry {
  std::mutex mutex;
  Module program{ModuleKind::Program, "", nullptr, 0, {}};
  std::vector<std::unique_ptr<Module>> builtins;
  std::vector<std::unique_ptr<Module>> libraries;
};

thread_local std::string load_error;

template <typename Function>
void* entry(Function* function) {
  return reinterpret_cast<void*>(function);
}

// The system library functions that exist in this layer and that a script may declare.
void add_first_entries(Registry& registry);

// Never destroyed: libraries may still call in while the process ends.
Registry& registry() {
  static Registry* instance = [] {
    auto* made = new Registry;
    add_first_entries(*made);
    return made;
  }();
  return *instance;
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string file_part(const std::string& path) {
  size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// "COREDLL", "coredll.dll" and "\Windows\CoreDll.DLL" all give "coredll.dll".
std::string builtin_key(const std::string& name) {
  std::string key = file_part(name);
  std::transform(key.begin(), key.end(), key.begin(), ascii_lower);
  if (key.size() < 4 || key.compare(key.size() - 4, 4, ".dll") != 0) key += ".dll";
  return key;
}

Module* find_builtin(Registry& registry, const std::string& key) {
  for (auto& module : registry.builtins) {
    if (module->name == key) return module.get();
  }
  return nullptr;
}

// A built-in library the device has now (the profile decides for some).
Module* find_present_builtin(Registry& registry, const std::string& key) {
  Module* module = find_builtin(registry, key);
  return module && (!module->present || module->present()) ? module : nullptr;
}

Module* add_builtin(Registry& registry, const std::string& key) {
  if (Module* found = find_builtin(registry, key)) return found;
  registry.builtins.push_back(std::make_unique<Module>(Module{ModuleKind::Builtin, key, nullptr, 0, {}}));
  return registry.builtins.back().get();
}

void add_first_entries(Registry& registry) {
  for (const char* name : {"coredll.dll", "aygshell.dll", "commctrl.dll", "ole32.dll", "oleaut32.dll"}) {
    add_builtin(registry, name);
  }
  auto& core = add_builtin(registry, "coredll.dll")->functions;
  core["GetLastError"] = entry(&GetLastError);
  core["SetLastError"] = entry(&SetLastError);
  core["CloseHandle"] = entry(&CloseHandle);
  core["LoadLibraryW"] = entry(&LoadLibraryW);
  core["FreeLibrary"] = entry(&FreeLibrary);
  core["GetProcAddress"] = entry(&GetProcAddress);
  core["GetProcAddressA"] = entry(&GetProcAddress);
  core["GetProcAddressW"] = entry(&GetProcAddressW);
  core["GetModuleHandleW"] = entry(&GetModuleHandleW);
  core["GetModuleFileNameW"] = entry(&GetModuleFileNameW);
  core["RaiseException"] = entry(&RaiseException);
  core["MessageBoxW"] = entry(&MessageBoxW);
  // Scripts follow the threads createthread gave them through these.
  core["ResumeThread"] = entry(&ResumeThread);
  core["SuspendThread"] = entry(&SuspendThread);
  core["GetExitCodeThread"] = entry(&GetExitCodeThread);
}

// The module behind a handle, or null; the caller holds the registry's lock.
Module* find_module(Registry& registry, HMODULE handle) {
  auto* wanted = reinterpret_cast<Module*>(handle);
  if (wanted == &registry.program) return wanted;
  for (auto* list : {&registry.builtins, &registry.libraries}) {
    for (auto& module : *list) {
      if (module.get() == wanted) return wanted;
    }
  }
  return nullptr;
}

HMODULE handle_of(Module* module) { return reinterpret_cast<HMODULE>(module); }

// Read once: the running file does not change for the life of the process.
const std::string& executable_path() {
  static const std::string path = [] {
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
  }();
  return path;
}

// A host path inside the device root becomes the device path the program would see.
std::u16string device_form(const std::string& host) {
  std::string root = device_root();
  if (host.size() > root.size() && host.compare(0, root.size(), root) == 0 && host[root.size()] == '/') {
    std::string inside = host.substr(root.size());
    std::replace(inside.begin(), inside.end(), '/', '\\');
    return utf16_from_utf8(inside);
  }
  return utf16_from_utf8(host);
}

std::u16string program_path() {
  std::string chosen = setting("ZRK_PROGRAM");
  return chosen.empty() ? device_form(executable_path()) : utf16_from_utf8(chosen);
}

// The folder part of a path, with its separator ("" when there is none).
std::string folder_part(const std::string& path) {
  size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// The names a library file is tried under: as named, with ".so" for its extension,
// and as "lib<stem>.so".
std::vector<std::string> file_variants(const std::string& file) {
  size_t dot = file.find_last_of('.');
  std::string stem = (dot == std::string::npos || dot == 0) ? file : file.substr(0, dot);
  std::vector<std::string> variants = {file, stem + ".so", "lib" + stem + ".so"};
  variants.erase(std::unique(variants.begin(), variants.end()), variants.end());
  return variants;
}

bool is_file(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Host paths to try in order, then bare names for the system's own search.
void candidates_for(const std::string& name, std::vector<std::string>* paths, std::vector<std::string>* system_names) {
  std::string folder = folder_part(name);
  std::string file = file_part(name);
  std::vector<std::string> variants = file_variants(file);
  bool absolute = name[0] == '\\' || name[0] == '/';
  if (absolute) {
    for (const auto& variant : variants) paths->push_back(host_path(utf16_from_utf8(folder + variant)));
    return;
  }
  std::vector<std::string> search;
  std::string program_folder = folder_part(utf8_from_utf16(program_path()));
  if (!program_folder.empty()) search.push_back(host_path(utf16_from_utf8(program_folder)));
  std::string own_folder = folder_part(executable_path());
  if (!own_folder.empty()) search.push_back(own_folder);
  for (std::string place : search) {
    if (!place.empty() && place.back() != '/') place += '/';
    for (const auto& variant : variants) paths->push_back(host_path(utf16_from_utf8(place + folder + variant)));
  }
  if (folder.empty()) *system_names = variants;
}

// Enters a freshly opened library, or counts one more use of a known one.
HMODULE enter_library(void* library, const std::string& path) {
  Registry& modules = registry();
  std::lock_guard lock(modules.mutex);
  for (auto& module : modules.libraries) {
    if (module->library == library) {
      module->uses += 1;
      return handle_of(module.get());
    }
  }
  std::string name = path;
  link_map* map = nullptr;
  if (name.find('/') == std::string::npos && dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) {
    name = map->l_name;
  }
  modules.libraries.push_back(std::make_unique<Module>(Module{ModuleKind::Library, name, library, 1, {}}));
  return handle_of(modules.libraries.back().get());
}

void* open_library(const std::string& path) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library && load_error.empty()) {
    const char* reason = dlerror();
    load_error = reason ? reason : "cannot load " + path;
  }
  return library;
}

HMODULE load_library(const std::string& name) {
  load_error.clear();
  std::vector<std::string> paths, system_names;
  candidates_for(name, &paths, &system_names);
  for (const auto& path : paths) {
    if (!is_file(path)) continue;
    if (void* library = open_library(path)) return enter_library(library, path);
  }
  for (const auto& bare : system_names) {
    if (void* library = dlopen(bare.c_str(), RTLD_NOW | RTLD_LOCAL)) return enter_library(library, bare);
  }
  return nullptr;
}

// A name pointer below 64 KiB is an ordinal; the system libraries of this layer keep
// theirs under "#N", libraries on disk export none.
bool is_ordinal(const void* name) { return reinterpret_cast<uintptr_t>(name) < 0x10000; }

std::string ordinal_key(const void* name) { return "#" + std::to_string(reinterpret_cast<uintptr_t>(name)); }

void* find_function(HMODULE handle, const char* name) {
  Registry& modules = registry();
  std::lock_guard lock(modules.mutex);
  Module* module = handle ? find_module(modules, handle) : &modules.program;
  if (!module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* address = nullptr;
  switch (module->kind) {
    case ModuleKind::Program:
      address = dlsym(RTLD_DEFAULT, name);
      break;
    case ModuleKind::Builtin: {
      auto found = module->functions.find(name);
      if (found != module->functions.end()) address = found->second;
      break;
    }
    case ModuleKind::Library:
      address = dlsym(module->library, name);
      break;
  }
  if (!address) SetLastError(ERROR_PROC_NOT_FOUND);
  return address;
}

}  // namespace

void register_builtin_module_function(const char* module_name, const char* function_name, void* address) {
  if (!module_name || !function_name) return;
  Registry& modules = registry();
  std::lock_guard lock(modules.mutex);
  add_builtin(modules, builtin_key(module_name))->functions[function_name] = address;
}

void register_builtin_module_presence(const char* module_name, bool (*present)()) {
  if (!module_name) return;
  Registry& modules = registry();
  std::lock_guard lock(modules.mutex);
  add_builtin(modules, builtin_key(module_name))->present = present;
}

std::string module_load_error() { return load_error; }

}  // namespace platform

using namespace platform;

HMODULE LoadLibraryW(LPCWSTR name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string text = utf8_from_utf16(name);
  if (text.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  {
    Registry& modules = registry();
    std::lock_guard lock(modules.mutex);
    if (Module* builtin = find_present_builtin(modules, builtin_key(text))) return handle_of(builtin);
  }
  HMODULE module = load_library(text);
  if (!module) SetLastError(ERROR_MOD_NOT_FOUND);
  return module;
}

void* GetProcAddress(HMODULE module, LPCSTR name) {
  if (!name) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (is_ordinal(name)) return find_function(module, ordinal_key(name).c_str());
  return find_function(module, name);
}

void* GetProcAddressW(HMODULE module, LPCWSTR name) {
  if (!name) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (is_ordinal(name)) return find_function(module, ordinal_key(name).c_str());
  return find_function(module, utf8_from_utf16(name).c_str());
}

BOOL FreeLibrary(HMODULE handle) {
  void* unload = nullptr;
  {
    Registry& modules = registry();
    std::lock_guard lock(modules.mutex);
    Module* module = handle ? find_module(modules, handle) : nullptr;
    if (!module) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (module->kind != ModuleKind::Library) return TRUE;
    unload = module->library;  // one dlclose for each successful load
    if (--module->uses == 0) {
      std::erase_if(modules.libraries, [module](const auto& entry) { return entry.get() == module; });
    }
  }
  dlclose(unload);
  return TRUE;
}

HMODULE GetModuleHandleW(LPCWSTR name) {
  Registry& modules = registry();
  if (!name) return handle_of(&modules.program);
  std::string text = utf8_from_utf16(name);
  std::string program_file = file_part(utf8_from_utf16(program_path()));
  std::lock_guard lock(modules.mutex);
  if (!text.empty()) {
    if (Module* builtin = find_present_builtin(modules, builtin_key(text))) return handle_of(builtin);
    for (const auto& variant : file_variants(file_part(text))) {
      for (auto& module : modules.libraries) {
        if (names_equal_ignoring_case(file_part(module->name), variant)) return handle_of(module.get());
      }
      if (names_equal_ignoring_case(program_file, variant)) return handle_of(&modules.program);
    }
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

DWORD GetModuleFileNameW(HMODULE handle, LPWSTR buffer, DWORD chars) {
  if (!buffer || chars == 0) {
    SetLastError(buffer ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string path;
  {
    Registry& modules = registry();
    std::lock_guard lock(modules.mutex);
    Module* module = handle ? find_module(modules, handle) : &modules.program;
    if (!module) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    switch (module->kind) {
      case ModuleKind::Program: break;
      case ModuleKind::Builtin: path = u"\\Windows\\" + utf16_from_utf8(module->name); break;
      case ModuleKind::Library: path = device_form(module->name); break;
    }
  }
  if (handle == nullptr || path.empty()) path = program_path();
  DWORD length = static_cast<DWORD>(std::min<size_t>(path.size(), chars - 1));
  std::copy_n(path.begin(), length, buffer);
  buffer[length] = 0;
  if (length < path.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return chars;
  }
  return length;
}

namespace platform {

bool path_in_program_folder(const char16_t* path, std::u16string& resolved) {
  if (path == nullptr) return false;
  std::u16string given(path);
  if (!given.empty() && (given[0] == u'\\' || given[0] == u'/')) {
    resolved = given;
    return true;
  }
  char16_t program[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return false;
  std::u16string folder(program, length);
  size_t cut = folder.find_last_of(u"\\/");
  if (cut == std::u16string::npos) return false;
  resolved = folder.substr(0, cut + 1) + given;
  return true;
}

}  // namespace platform
