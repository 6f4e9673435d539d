// The start-up registration of every built-in name: order, settings, unit handlers,
// placeholders that name themselves, and the count of placeholders still left.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <set>
#include <string>

#include "foundation/compile_messages.h"
#include "foundation/hashes.h"
#include "foundation/machine_state.h"
#include "foundation/runtime_error.h"
#include "platform/platform.h"
#include "vm/arithmetic.h"
#include "vm/builtin_registry.h"
#include "app/builtin_table.h"
#include "vm/external_call.h"
#include "vm/push_instructions.h"

namespace {

std::string upper(const char* text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

BuiltinEntry* entry_named(const char* name) { return builtin_entry(find_builtin_by_hash(hash_name_text(upper(name).c_str()))); }

class BuiltinTable : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_log_enabled = log_enabled;
    log_enabled = 0;
    register_all_builtins();
  }
  void TearDown() override {
    builtin_registry_clear();
    log_enabled = saved_log_enabled;
    stop_flag = 0;
  }
  uint8_t saved_log_enabled = 0;
};

TEST_F(BuiltinTable, EveryRowIsRegisteredOnceAtItsOwnIndex) {
  ASSERT_GE(builtin_registry.count, kBuiltinTableSize);
  std::set<uint32_t> hashes;
  for (int32_t index = 0; index < kBuiltinTableSize; ++index) {
    const BuiltinTableRow& row = builtin_table_row(index);
    std::string name = upper(row.name);
    uint32_t hash = hash_name_text(name.c_str());
    EXPECT_TRUE(hashes.insert(hash).second) << "hash shared by " << row.name;
    EXPECT_EQ(find_builtin_by_hash(hash), index) << row.name;
    BuiltinEntry* entry = builtin_entry(index);
    ASSERT_NE(entry, nullptr) << row.name;
    EXPECT_EQ(std::string(entry->name), name) << index;
    EXPECT_EQ(entry->variadic, row.arity == kFixed ? 0 : 1) << row.name;
    EXPECT_EQ(entry->save_sp, row.arity == kVariadicSaved ? 1 : 0) << row.name;
    EXPECT_EQ(entry->param_count, row.arity == kFixed ? row.param_count : 0) << row.name;
    EXPECT_EQ(entry->returns_value, row.returns_value) << row.name;
    if (row.keyword) {
      EXPECT_FALSE(builtin_is_placeholder(entry->handler)) << row.name;
    } else {
      EXPECT_NE(entry->handler, nullptr) << row.name;
    }
  }
}

// Settings scripts depend on, stated independently of the table.
TEST_F(BuiltinTable, KnownNamesHaveTheirPlaceAndSettings) {
  struct Case {
    const char* name;
    int32_t index;
    uint8_t param_count, returns_value, variadic, save_sp;
  };
  const Case cases[] = {
      {"IF", 0, 0, 0, 1, 0},         {"ELSE", 2, 0, 0, 0, 0},         {"RETURN", 11, 0, 0, 1, 1},
      {"__profile", 15, 2, 0, 0, 0}, {"ReadWrite", 33, 3, 0, 0, 0},   {"ADDEVENT", 34, 4, 0, 0, 0},
      {"alloceval", 44, 0, 1, 0, 0}, {"call", 53, 0, 1, 1, 1},        {"findapp", 54, 1, 1, 0, 0},
      {"ptr", 96, 1, 1, 0, 0},       {"+", 158, 0, 0, 0, 0},          {"g_init", 434, 8, 0, 0, 0},
      {"drawsurfaceex", 732, 24, 0, 0, 0}, {"packagefilesize", 827, 2, 1, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(find_builtin_by_hash(hash_name_text(upper(c.name).c_str())), c.index) << c.name;
    BuiltinEntry* entry = builtin_entry(c.index);
    ASSERT_NE(entry, nullptr) << c.name;
    EXPECT_EQ(entry->param_count, c.param_count) << c.name;
    EXPECT_EQ(entry->returns_value, c.returns_value) << c.name;
    EXPECT_EQ(entry->variadic, c.variadic) << c.name;
    EXPECT_EQ(entry->save_sp, c.save_sp) << c.name;
  }
}

TEST_F(BuiltinTable, BuiltUnitsKeepTheirHandlersAndExtraNames) {
  EXPECT_EQ(entry_named("+")->handler, &op_add);
  EXPECT_FALSE(builtin_is_placeholder(entry_named("dropstack")->handler));
  EXPECT_EQ(entry_named("REPEAT")->handler, nullptr);
  // Names units register beyond the vocabulary stay reachable after it.
  int32_t startproc = find_builtin_by_hash(hash_name_text("STARTPROC"));
  EXPECT_GE(startproc, kBuiltinTableSize);
  ASSERT_NE(builtin_entry(startproc), nullptr);
  EXPECT_NE(builtin_entry(startproc)->handler, nullptr);
}

TEST_F(BuiltinTable, NamesThatShareAHandlerShareIt) {
  const char* pairs[][2] = {{"<<", "shl"}, {">>", "shr"}, {"xor", "^"}, {"@", "ptr"},
                            {"strtoarray", "strtoarrayex"}, {"strtoarrayint", "strtoarrayintex"}};
  for (const auto& pair : pairs) {
    BuiltinHandler first = entry_named(pair[0])->handler;
    BuiltinHandler second = entry_named(pair[1])->handler;
    // Until the unit exists each name has its own placeholder.
    if (builtin_is_placeholder(first) && builtin_is_placeholder(second)) continue;
    EXPECT_EQ(first, second) << pair[0] << " and " << pair[1];
  }
}

TEST_F(BuiltinTable, PlaceholderReportsItsOwnName) {
  // Reports join the compile errors instead of showing hundreds of boxes.
  uint8_t saved_box = error_box_enabled;
  int32_t saved_errors = compile_error_count;
  char* saved_text = compile_error_text;
  error_box_enabled = 0;
  compile_error_text = nullptr;
  int checked = 0;
  for (int32_t index = 0; index < kBuiltinTableSize; ++index) {
    BuiltinEntry* entry = builtin_entry(index);
    if (!builtin_is_placeholder(entry->handler)) continue;
    unsigned errors = runtime_error_count();
    stop_flag = 0;
    entry->handler();
    EXPECT_EQ(runtime_error_count(), errors + 1) << builtin_table_row(index).name;
    EXPECT_EQ(std::string(runtime_error_last_text()), std::string(builtin_table_row(index).name) + " is not available");
    EXPECT_EQ(stop_flag, 1) << builtin_table_row(index).name;
    ++checked;
  }
  crt::free(compile_error_text);
  compile_error_text = saved_text;
  compile_error_count = saved_errors;
  error_box_enabled = saved_box;
  // With every built-in built none is left to check; each one left is checked.
  EXPECT_EQ(checked, builtin_placeholders_remaining());
}

TEST_F(BuiltinTable, PrintsPlaceholdersRemaining) {
  int32_t remaining = builtin_placeholders_remaining();
  std::printf("built-in placeholders remaining: %d of %d\n", remaining, kBuiltinTableSize);
  EXPECT_LE(remaining, kBuiltinTableSize);
}

}  // namespace

namespace {

// The opcode table gives compiled nodes their handler: the fixed handlers by number, the
// external-call family in order, the stack-mark opcodes the registered built-ins', and
// nothing where a node brings its own handler.
TEST_F(BuiltinTable, OpcodeTableGivesEachOpcodeItsHandler) {
  EXPECT_EQ(OpcodeHandlerTable[4], reinterpret_cast<BuiltinHandler>(op_pushint));
  EXPECT_EQ(OpcodeHandlerTable[70], reinterpret_cast<BuiltinHandler>(op_add2));
  EXPECT_EQ(OpcodeHandlerTable[12], OpcodeHandlerTable[14]);
  EXPECT_EQ(OpcodeHandlerTable[14], OpcodeHandlerTable[18]);
  EXPECT_NE(OpcodeHandlerTable[12], nullptr);
  for (uint32_t opcode = 109; opcode <= 176; ++opcode) {
    EXPECT_EQ(OpcodeHandlerTable[opcode], external_call_handler(opcode)) << opcode;
    EXPECT_NE(OpcodeHandlerTable[opcode], nullptr) << opcode;
  }
  EXPECT_EQ(OpcodeHandlerTable[181], entry_named("__savesp")->handler);
  EXPECT_EQ(OpcodeHandlerTable[182], entry_named("dropstack")->handler);
  for (uint32_t opcode : {0u, 11u, 32u, 34u, 85u, 177u, 183u, 199u}) {
    EXPECT_EQ(OpcodeHandlerTable[opcode], nullptr) << opcode;
  }
}

}  // namespace
