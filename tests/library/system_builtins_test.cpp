// tick, showmessage and isvalid: what they take off the stack, what they push, and the
// text of the box showmessage shows (read back from the headless box log).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/hashes.h"
#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "library/core/system_builtins.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"
#include "app/builtin_table.h"

namespace {

class SystemBuiltinsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context = create_program_context();
    ASSERT_NE(context, nullptr);
    current_program = context;
    std::string pattern = (std::filesystem::temp_directory_path() / "zrk-boxes-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    setenv("ZRK_MSGBOX_LOG", log_path().c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ZRK_MSGBOX_LOG");
    stack_free_all(context);
    program_context_release(context);
    current_program = nullptr;
    std::filesystem::remove_all(folder_);
  }

  std::string log_path() const { return folder_ + "/boxes.log"; }
  // The lines the boxes wrote since the last call; the log is emptied.
  std::vector<std::string> boxes_shown() const {
    std::vector<std::string> lines;
    {
      std::ifstream in(log_path());
      for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    std::filesystem::remove(log_path());
    return lines;
  }

  ProgramContext* context = nullptr;
  std::string folder_;
};

// One argument as the compiler pushes it.
struct Argument {
  const char* text = nullptr;
  const char16_t* wide = nullptr;
  double number = 0;
};
Argument text(const char* value) { return {value, nullptr, 0}; }
Argument wide(const char16_t* value) { return {nullptr, value, 0}; }
Argument number(double value) { return {nullptr, nullptr, value}; }

void push_argument(const Argument& argument) {
  if (argument.wide) {
    stack_push_value(const_cast<char16_t*>(argument.wide), 0, nullptr, 0);
    current_program->stack_top->flags |= kCellWideText;
  } else {
    stack_push_value(const_cast<char*>(argument.text), argument.number, nullptr, 0);
  }
}

TEST_F(SystemBuiltinsTest, ShowMessageJoinsItsArgumentsInOneBox) {
  struct Case {
    const char* name;
    std::vector<Argument> arguments;
    const char* shown;  // the log line, UTF-8
  };
  const Case cases[] = {
      {"texts and a number", {text("a"), number(1), text("b")}, "Message\ta1b"},
      {"numbers as the machine writes them", {number(2.5), text(" "), number(-3), number(1000000)},
       "Message\t2.5 -31000000"},
      {"no argument", {}, "Message\t"},
      {"8-bit text in the device code page", {text("caf\xe9")}, "Message\tcaf\xc3\xa9"},
      {"UTF-16 alone", {wide(u"Gr\u00fc\u00dfe")}, "Message\tGr\xc3\xbc\xc3\x9f" "e"},
      // Once one argument is UTF-16 the 8-bit ones are converted, not copied as UTF-16.
      {"8-bit and UTF-16 mixed", {text("\xe9t\xe9 "), wide(u"\u20ac"), number(5), text(" caf\xe9")},
       "Message\t\xc3\xa9t\xc3\xa9 \xe2\x82\xac" "5 caf\xc3\xa9"},
  };
  for (const Case& row : cases) {
    stack_push_number(context, 42);  // a value below the call stays
    ASSERT_TRUE(stack_save_mark(context));
    for (const Argument& argument : row.arguments) push_argument(argument);
    builtin_showmessage();
    EXPECT_EQ(boxes_shown(), std::vector<std::string>{row.shown}) << row.name;
    EXPECT_EQ(context->mark_count, 0) << row.name;
    ASSERT_NE(context->stack_top, nullptr) << row.name;
    EXPECT_EQ(context->stack_top->number, 42) << row.name << ": nothing pushed, nothing more popped";
    stack_pop(context);
  }
}

TEST_F(SystemBuiltinsTest, IsValidTellsWritableAddresses) {
  static const char read_only[] = "constant";
  void* block = crt::malloc(16);
  struct Case {
    const char* name;
    uint32_t address;
    bool writable;
  };
  const Case cases[] = {
      {"null", 0, false},
      {"a live heap block", platform::address_of(block), true},
      {"read-only data", platform::address_of(read_only), false},
  };
  for (const Case& row : cases) {
    stack_push_number(context, row.address);
    builtin_isvalid();
    ASSERT_NE(context->stack_top, nullptr);
    if (row.writable) {
      EXPECT_EQ(context->stack_top->number, 0) << row.name;
    } else {
      EXPECT_NE(context->stack_top->number, 0) << row.name;
    }
    stack_pop(context);
  }
  crt::free(block);
}

TEST_F(SystemBuiltinsTest, TickReadsTheMillisecondCounter) {
  uint32_t before = GetTickCount();
  builtin_tick();
  uint32_t after = GetTickCount();
  ASSERT_NE(context->stack_top, nullptr);
  double ticks = context->stack_top->number;
  EXPECT_GE(ticks, 0) << "an unsigned count";
  EXPECT_LE(static_cast<uint32_t>(ticks) - before, after - before);
}

TEST(SystemBuiltinsRegistration, NamesReachTheirHandlers) {
  register_all_builtins();
  struct Case {
    const char* name;
    BuiltinHandler handler;
  };
  const Case cases[] = {{"TICK", builtin_tick}, {"SHOWMESSAGE", builtin_showmessage}, {"ISVALID", builtin_isvalid}};
  for (const Case& row : cases) {
    BuiltinEntry* entry = builtin_entry(find_builtin_by_hash(hash_name_text(row.name)));
    ASSERT_NE(entry, nullptr) << row.name;
    EXPECT_EQ(entry->handler, row.handler) << row.name;
  }
  builtin_registry_clear();
}

}  // namespace
