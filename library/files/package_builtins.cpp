// The package built-ins. A handle that is not an open package (0 from a failed open, a
// closed package, any other number) counts as a package without entries: functions give
// their "absent" results and procedures do nothing.
#include "library/files/package_builtins.h"

#include <string>
#include <vector>

#include "foundation/list_elements.h"
#include "foundation/machine_state.h"
#include "foundation/runtime_error.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "library/files/file_arguments.h"
#include "library/files/package_archive.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

PackageRecord* pop_package() { return package_from_handle(static_cast<uint32_t>(pop_integer())); }

std::string lower_case(const char* text) {
  std::string lower = text;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// An entry name the built-in looks up lower-cased.
std::string pop_lower_name() { return lower_case(pop_narrow_text()); }

// A file or password of savepackage: 0 means the package's own; any other value is the
// address of a text (that of a text argument, or a number holding one).
const char* pop_text_or_none() {
  ValueCell* cell = stack_pop(current_program);
  if (cell->number == 0.0 && !cell->data && cell->text && (cell->flags & kCellWideText)) return cell_narrow_text(cell);
  uint32_t address = static_cast<uint32_t>(cell_to_int(cell));
  return address ? platform::pointer_from<const char>(address) : nullptr;
}

void push_handle(PackageRecord* package) { stack_push_uint(platform::address_of(package)); }

void open_package(bool directory_only) {
  std::string password = pop_narrow_text();
  std::string path = pop_narrow_text();
  PackageOpenStatus status = PackageOpenStatus::kOpened;
  PackageRecord* package = package_open(path.c_str(), password.c_str(), directory_only, &status);
  // A wrong password is an ordinary answer (0); a package whose directory does not fit
  // its file is reported as well, so the script's author learns why it would not open.
  if (status == PackageOpenStatus::kDamaged || status == PackageOpenStatus::kOutOfMemory) {
    runtime_error_format(true, "Package %s cannot be opened: %s", path.c_str(), package_open_status_text(status));
  }
  push_handle(package);
}

void builtin_openpackage() { open_package(false); }
void builtin_openpackageex() { open_package(true); }

void builtin_closepackage() { package_close(pop_package()); }

void builtin_addfiletopackage() {
  std::string source = pop_narrow_text();
  package_add_file(pop_package(), source.c_str(), nullptr);
}

void builtin_addfiletopackageex() {
  std::string name = pop_narrow_text();
  std::string source = pop_narrow_text();
  package_add_file(pop_package(), source.c_str(), name.c_str());
}

void builtin_deletefilefrompackage() {
  std::string name = pop_lower_name();
  package_remove_entry(pop_package(), name.c_str());
}

void builtin_extractfilefrompackage() {
  std::string name = pop_narrow_text();
  push_owned_text_or_none(package_extract_to_temp(pop_package(), name.c_str()), false);
}

void builtin_extractfilefrompackageex() {
  std::string destination = pop_narrow_text();
  std::string name = pop_narrow_text();
  package_extract_to(pop_package(), name.c_str(), destination.c_str());
}

void builtin_packagefileexists() {
  std::string name = pop_lower_name();
  PackageRecord* package = pop_package();
  stack_push_number(current_program, package && package_find_entry(package, name.c_str(), nullptr, nullptr) ? 1 : 0);
}

void load_package_file(bool wide) {
  Variable* size_variable = pop_variable();
  std::string name = pop_lower_name();
  PackageRecord* package = pop_package();
  uint32_t size = 0;
  char* bytes = package_load_entry(package, name.c_str(), &size);
  if (bytes && wide && (size & 1)) {
    // An odd byte count would leave the last UTF-16 unit without its terminating 0.
    auto* grown = static_cast<char*>(crt::realloc(bytes, static_cast<size_t>(size) + 2));
    if (grown) {
      grown[size + 1] = 0;
      bytes = grown;
    } else {
      crt::free(bytes);
      bytes = nullptr;
      size = 0;
    }
  }
  if (size_variable) set_variable(size_variable, nullptr, size, nullptr, 0);
  push_owned_text_or_none(bytes, wide);
}

void builtin_loadpackagefile() { load_package_file(false); }
void builtin_wloadpackagefile() { load_package_file(true); }

void builtin_packagefiles() {
  Variable* list = pop_variable();
  PackageRecord* package = pop_package();
  std::vector<std::string> names;
  for (const PackageEntry& entry : package_list_entries(package)) names.push_back(entry.name);
  int32_t count = fill_text_list(list, names);
  // The cursor rests on the last name.
  if (list && list->cursor) {
    ListElement* last = list->cursor;
    while (last->next) last = last->next;
    list->cursor = last;
    variable_load_from_element(list);
  }
  stack_push_number(current_program, count);
}

void builtin_packagechanged() {
  PackageRecord* package = pop_package();
  stack_push_number(current_program, package ? package->modified : 0);
}

void builtin_savepackage() {
  std::string password;
  const char* password_text = pop_text_or_none();
  if (password_text) password = password_text;
  std::string path;
  const char* path_text = pop_text_or_none();
  if (path_text) path = path_text;
  package_save(pop_package(), path_text ? path.c_str() : nullptr, password_text ? password.c_str() : nullptr);
}

void builtin_packagefilesize() {
  std::string name = pop_lower_name();
  PackageRecord* package = pop_package();
  uint32_t size = 0;
  if (package) package_find_entry(package, name.c_str(), nullptr, &size);
  stack_push_uint(size);
}

}  // namespace

void register_package_builtins() {
  builtin_register("openpackage", builtin_openpackage);
  builtin_register("openpackageex", builtin_openpackageex);
  builtin_register("closepackage", builtin_closepackage);
  builtin_register("addfiletopackage", builtin_addfiletopackage);
  builtin_register("addfiletopackageex", builtin_addfiletopackageex);
  builtin_register("deletefilefrompackage", builtin_deletefilefrompackage);
  builtin_register("extractfilefrompackage", builtin_extractfilefrompackage);
  builtin_register("extractfilefrompackageex", builtin_extractfilefrompackageex);
  builtin_register("packagefileexists", builtin_packagefileexists);
  builtin_register("loadpackagefile", builtin_loadpackagefile);
  builtin_register("wloadpackagefile", builtin_wloadpackagefile);
  builtin_register("packagefiles", builtin_packagefiles);
  builtin_register("packagechanged", builtin_packagechanged);
  builtin_register("savepackage", builtin_savepackage);
  builtin_register("packagefilesize", builtin_packagefilesize);
}
