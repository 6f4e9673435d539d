// The built-in registry: registration and replacement by hash, the table's bound, and
// declared library functions bound from a test library, with and without "W" forms.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "foundation/compile_messages.h"
#include "foundation/hashes.h"
#include "foundation/runtime_error.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_registry.h"

namespace {

namespace fs = std::filesystem;

void first_handler() {}
void second_handler() {}

class Builtins : public ::testing::Test {
 protected:
  // The log stays off unless a test gives it a file: no debuglog.txt where tests run.
  void SetUp() override {
    builtin_registry_clear();
    link_declarations_now = 1;
    saved_log_enabled = log_enabled;
    log_enabled = 0;
  }
  void TearDown() override {
    builtin_registry_clear();
    link_declarations_now = 0;
    log_enabled = saved_log_enabled;
  }
  uint8_t saved_log_enabled = 0;
};

using Function0 = int32_t (*)();
using Function1 = int32_t (*)(const void*);
using Function2 = int32_t (*)(int32_t, int32_t);

TEST_F(Builtins, SameNameInAnotherCaseReplacesTheEntryInPlace) {
  int32_t before = builtin_register("sin", first_handler);
  int32_t index = builtin_register_arity("print", first_handler, 3, 1);
  builtin_registry.entries[index]->variadic = 1;
  EXPECT_EQ(builtin_register("PRINT", second_handler), index);
  EXPECT_EQ(builtin_registry.count, 2);
  BuiltinEntry* entry = builtin_entry(index);
  EXPECT_STREQ(entry->name, "PRINT");
  EXPECT_EQ(entry->name_hash, hash_name_text("PRINT"));
  EXPECT_EQ(entry->handler, second_handler);
  EXPECT_EQ(entry->param_count, 0) << "counts and flags start again at 0";
  EXPECT_EQ(entry->returns_value, 0);
  EXPECT_EQ(entry->variadic, 0);
  EXPECT_EQ(find_builtin_by_hash(hash_name_text("PRINT")), index);
  EXPECT_EQ(find_builtin_by_hash(hash_name_text("SIN")), before);
  EXPECT_EQ(find_builtin_by_hash(hash_name_text("print")), -1) << "names are hashed upper-case";
}

TEST_F(Builtins, RegistrarsSetTheirFields) {
  int32_t variadic = builtin_register_variadic_ex("format", first_handler, 1, 1, 1);
  int32_t arity = builtin_register_arity("mid", first_handler, 3, 1);
  BuiltinEntry* entry = builtin_entry(variadic);
  EXPECT_EQ(entry->variadic, 1);
  EXPECT_EQ(entry->save_sp, 1);
  EXPECT_EQ(entry->returns_value, 1);
  EXPECT_EQ(builtin_entry(arity)->param_count, 3);
  EXPECT_EQ(builtin_entry(-1), nullptr);
  EXPECT_EQ(builtin_entry(builtin_registry.count), nullptr);
}

TEST_F(Builtins, FullTableRefusesANewNameButStillReplaces) {
  char name[16];
  for (int32_t index = 0; index < kBuiltinSlots; ++index) {
    std::snprintf(name, sizeof name, "B%d", index);
    ASSERT_EQ(builtin_register(name, first_handler), index);
  }
  unsigned errors = runtime_error_count();
  EXPECT_EQ(builtin_register("ONE_TOO_MANY", first_handler), -1);
  EXPECT_EQ(runtime_error_count(), errors + 1);
  EXPECT_EQ(builtin_registry.count, kBuiltinSlots);
  EXPECT_EQ(builtin_register("b17", second_handler), 17);
  EXPECT_EQ(external_function_declare("another", "vm_add", VM_TEST_FUNCTIONS, 2, 1, 0, 1), -1);
}

TEST_F(Builtins, EveryNameIsFoundAtItsIndexAsTheTableGrows) {
  char name[16];
  for (int32_t index = 0; index < 5000; ++index) {
    std::snprintf(name, sizeof name, "N%d", index);
    ASSERT_EQ(builtin_register(name, first_handler), index);
    if (index % 997 != 0) continue;
    for (int32_t earlier = 0; earlier <= index; ++earlier) {
      std::snprintf(name, sizeof name, "N%d", earlier);
      ASSERT_EQ(find_builtin_by_hash(hash_name_text(name)), earlier) << name << " after " << index + 1 << " names";
    }
  }
  EXPECT_EQ(find_builtin_by_hash(hash_name_text("N5000")), -1);
  EXPECT_EQ(builtin_register("n4321", second_handler), 4321) << "a known name keeps its index";
  EXPECT_EQ(builtin_registry.count, 5000);
}

TEST_F(Builtins, ClearedEntryIsNotFoundAndItsNameComesBackAsANewEntry) {
  int32_t alpha = builtin_register("alpha", first_handler);
  int32_t beta = builtin_register("beta", first_handler);
  builtin_entry_clear(alpha);
  EXPECT_EQ(find_builtin_by_hash(hash_name_text("ALPHA")), -1);
  EXPECT_EQ(find_builtin_by_hash(hash_name_text("BETA")), beta);
  EXPECT_EQ(find_builtin_by_hash(0), alpha) << "a cleared entry keeps its slot with hash 0";
  int32_t again = builtin_register("Alpha", second_handler);
  EXPECT_EQ(again, 2);
  EXPECT_EQ(find_builtin_by_hash(hash_name_text("ALPHA")), again);
  builtin_registry_clear();
  EXPECT_EQ(find_builtin_by_hash(hash_name_text("BETA")), -1) << "an emptied table finds nothing";
  EXPECT_EQ(builtin_register("beta", first_handler), 0);
  EXPECT_EQ(find_builtin_by_hash(hash_name_text("BETA")), 0);
}

TEST_F(Builtins, DeclarationTakesOverABuiltinsEntry) {
  int32_t builtin = builtin_register("ADDUP", first_handler);
  int32_t declared = external_function_declare("addup", "vm_add", VM_TEST_FUNCTIONS, 2, 1, 0, 1);
  EXPECT_EQ(declared, builtin);
  BuiltinEntry* entry = builtin_entry(declared);
  EXPECT_EQ(entry->handler, nullptr);
  EXPECT_STREQ(entry->library, VM_TEST_FUNCTIONS);
  EXPECT_EQ(entry->param_count, 2);
  EXPECT_EQ(entry->declare_form, 1);
  ASSERT_NE(entry->native_func, nullptr);
  EXPECT_EQ(reinterpret_cast<Function2>(entry->native_func)(40, 2), 42);
  EXPECT_EQ(external_function_for_call(declared), entry);
}

TEST_F(Builtins, WideDeclarationsBindTheWFormFirst) {
  struct Case {
    const char* name;
    const char* function;
    uint8_t wide;
    uint8_t returns;
    const char* bound_name;
    int32_t result;  // of the bound entry
  };
  const Case cases[] = {
      {"wide with both forms", "vm_measure", 1, 1, "vm_measureW", 16},
      {"plain with both forms", "vm_measure", 0, 1, "vm_measure", 8},
      {"wide with the plain form only", "vm_plain_only", 1, 1, "vm_plain_only", 1},
      {"wide procedure", "vm_measure", 1, 0, "vm_measureW", 16},
  };
  for (const Case& row : cases) {
    int32_t index = external_function_declare("measure", row.function, VM_TEST_FUNCTIONS, 1, row.returns, row.wide, 0);
    BuiltinEntry* entry = builtin_entry(index);
    ASSERT_NE(entry, nullptr) << row.name;
    EXPECT_STREQ(entry->function, row.bound_name) << row.name;
    void* bound = row.returns ? entry->native_func : entry->native_proc;
    void* other = row.returns ? entry->native_proc : entry->native_func;
    ASSERT_NE(bound, nullptr) << row.name;
    EXPECT_EQ(other, nullptr) << row.name;
    EXPECT_EQ(reinterpret_cast<Function1>(bound)("x"), row.result) << row.name;
  }
}

std::string read_file(const fs::path& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST_F(Builtins, FailedLinkIsLoggedAndReportedWhenCalled) {
  struct Case {
    const char* name;
    const char* function;
    const char* library;
    std::string logged;
  };
  const Case cases[] = {
      {"no library", "vm_add", "no_such_library.dll", "Library no_such_library.dll not found"},
      {"no function", "vm_missing", VM_TEST_FUNCTIONS,
       std::string("Error linking function MISSING from library ") + VM_TEST_FUNCTIONS},
  };
  fs::path log = fs::temp_directory_path() / ("zrk_vm_link_" + std::to_string(getpid()) + ".log");
  uint8_t saved_warnings = warnings_enabled;
  log_enabled = 1;
  for (const Case& row : cases) {
    debug_log_open(log.c_str());
    // The log gets the line even while compile warnings are off.
    warnings_enabled = 0;
    int32_t index = external_function_declare("missing", row.function, row.library, 0, 1, 0, 1);
    warnings_enabled = saved_warnings;
    std::string text = read_file(log);
    EXPECT_NE(text.find(" : " + row.logged + "\n"), std::string::npos) << row.name << ": " << text;
    BuiltinEntry* entry = builtin_entry(index);
    ASSERT_NE(entry, nullptr) << row.name;
    EXPECT_EQ(entry->native_func, nullptr) << row.name;
    EXPECT_EQ(entry->native_proc, nullptr) << row.name;

    unsigned errors = runtime_error_count();
    EXPECT_EQ(external_function_for_call(index), nullptr) << row.name;
    EXPECT_EQ(runtime_error_count(), errors + 1) << row.name;
    EXPECT_EQ(std::string(runtime_error_last_text()),
              std::string("Error linking function MISSING from library ") + row.library)
        << row.name;
  }
  fs::remove(log);
  crt::free(log_file_name);
  log_file_name = nullptr;
  log_enabled = 0;

  // Another test of the same process may have left warnings off.
  warnings_enabled = 1;
  int32_t warnings = compile_warning_count;
  external_function_declare("missing", "vm_missing", VM_TEST_FUNCTIONS, 0, 1, 0, 1);
  EXPECT_EQ(compile_warning_count, warnings + 1) << "a compile warning while warnings are on";
  warnings_enabled = saved_warnings;

  unsigned errors = runtime_error_count();
  EXPECT_EQ(external_function_for_call(9999), nullptr);
  EXPECT_EQ(runtime_error_count(), errors + 1);
}

TEST_F(Builtins, LaterLinkBindsOnceTheLibraryIsThere) {
  fs::path folder = fs::temp_directory_path() / ("zrk_vm_link_" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::string library = (folder / "late.so").string();
  link_declarations_now = 0;
  int32_t index = external_function_declare("late", "vm_plain_only", library.c_str(), 0, 1, 0, 1);
  EXPECT_EQ(builtin_entry(index)->native_func, nullptr) << "not linked before asked";
  external_function_link(index);
  EXPECT_EQ(builtin_entry(index)->native_func, nullptr);
  fs::copy_file(VM_TEST_FUNCTIONS, library);
  external_function_link(index);
  ASSERT_NE(builtin_entry(index)->native_func, nullptr);
  EXPECT_EQ(reinterpret_cast<Function0>(builtin_entry(index)->native_func)(), 1);
  fs::remove_all(folder);
}

TEST_F(Builtins, RecordArrayReleaseFreesEveryRecordAndItsFirstWord) {
  void* records[3] = {};
  for (void*& record : records) {
    auto** block = static_cast<void**>(crt::calloc(1, 8));
    *block = crt::malloc(4);
    record = block;
  }
  // An empty slot is skipped.
  crt::free(*static_cast<void**>(records[1]));
  crt::free(records[1]);
  records[1] = nullptr;
  int32_t count = 3;
  free_record_array(records, &count);
  EXPECT_EQ(count, 0);
  for (void* record : records) EXPECT_EQ(record, nullptr);
}

}  // namespace
