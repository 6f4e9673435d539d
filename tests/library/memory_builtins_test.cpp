// Script memory: typed reads and writes round-trip through the byte layout, the two copy
// operations take their arguments in opposite orders, variable-owned blocks grow with
// zeroes, and sizes answer for variables, texts and plain numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "builtin_fixture.h"
#include "foundation/hashes.h"
#include "library/core/memory_builtins.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"

namespace {

class MemoryBuiltins : public BuiltinTest {
 protected:
  MemoryBuiltins() : BuiltinTest(register_memory_builtins) {}

  void push_address(const void* pointer) { stack_push_uint(platform::address_of(pointer)); }
  double pop() { return pop_number(); }
};

TEST_F(MemoryBuiltins, PokeThenPeekGivesTheTypedValueBack) {
  struct Case {
    int32_t code;
    double value;
    const char* text;  // a text value is read as the number it spells
    double expected;
  };
  const Case cases[] = {
      {-1, 0, "300", 44},                  // unsigned, low byte
      {-1, 255, nullptr, 255},
      {-2, -2, nullptr, -2},                // signed 16-bit
      {-2, 40000, nullptr, 40000 - 65536},
      {-3, -7, nullptr, -7},
      {-4, 2147483647, nullptr, 2147483647},
      {-5, 3000000000.0, nullptr, 3000000000.0},  // unsigned 32-bit
      {-8, 1.5, nullptr, 1.5},
      {-9, 1099511627776.0, nullptr, 1099511627776.0},
  };
  alignas(8) unsigned char block[16];
  for (const Case& row : cases) {
    std::memset(block, 0xAA, sizeof block);
    // An odd address: values are moved byte by byte.
    push_address(block + 1);
    if (row.text) {
      push_text(row.text);
    } else {
      push(row.value);
    }
    push(row.code);
    call("poke");
    push_address(block + 1);
    push(row.code);
    call("peek");
    EXPECT_EQ(pop(), row.expected) << "code " << row.code;
    EXPECT_EQ(block[0], 0xAA) << "code " << row.code << " wrote before its address";
  }
}

TEST_F(MemoryBuiltins, TypedSettersAndGettersShareTheLayout) {
  alignas(8) unsigned char block[8] = {};
  push_address(block);
  push(-12345);
  call("setshort");
  EXPECT_EQ(block[0] | (block[1] << 8), 0xCFC7);
  push_address(block);
  call("getshort");
  EXPECT_EQ(pop(), -12345);

  push_address(block);
  push(0x1234567);
  call("setint");
  push_address(block);
  call("getint");
  EXPECT_EQ(pop(), 0x1234567);

  push_address(block);
  push(2.25);
  call("setdouble");
  push_address(block);
  call("getdouble");
  EXPECT_EQ(pop(), 2.25);

  push_address(block);
  push(258);
  call("setbyte");
  push_address(block);
  call("getbyte");
  EXPECT_EQ(pop(), 2);
}

TEST_F(MemoryBuiltins, MemmoveTakesTheSourceFirstAndMemcpyTheDestination) {
  char a[5] = "abcd";
  char b[5] = "wxyz";
  push_address(a);
  push_address(b);
  push(4);
  call("memmove");
  EXPECT_EQ(pop(), platform::address_of(b));
  EXPECT_STREQ(b, "abcd");

  std::memcpy(b, "wxyz", 4);
  push_address(a);
  push_address(b);
  push(4);
  call("memcpy");
  EXPECT_EQ(pop(), platform::address_of(a));
  EXPECT_STREQ(a, "wxyz");
}

TEST_F(MemoryBuiltins, MemchrAndMemcmp) {
  const char text[] = "hello";
  push_address(text);
  push(0x16C);  // only the low byte, 'l', is searched
  push(5);
  call("memchr");
  EXPECT_EQ(pop(), platform::address_of(text + 2));
  // A count of 0 reads nothing, so even address 0 is fine.
  push(0);
  push('h');
  push(0);
  call("memchr");
  EXPECT_EQ(pop(), 0);

  push_address("abc");
  push_address("abd");
  push(3);
  call("memcmp");
  EXPECT_LT(pop(), 0);
}

TEST_F(MemoryBuiltins, BitFieldHelpers) {
  struct Case {
    const char* name;
    double argument;
    double expected;
  };
  const Case cases[] = {
      {"hiword", 0x12345678, 0x1234}, {"loword", 0x12345678, 0x5678}, {"hibyte", 0x12345678, 0x56},
      {"lobyte", 0x12345678, 0x78},   {"hi", 1.0, 1072693248},         {"lo", 1.0, 0},
      {"loword", -1, 0xFFFF},
  };
  for (const Case& row : cases) {
    push(row.argument);
    call(row.name);
    EXPECT_EQ(pop(), row.expected) << row.name;
  }
}

TEST_F(MemoryBuiltins, MallocGivesAZeroedBlockThatFreeReleases) {
  push(16);
  call("malloc");
  auto address = static_cast<uint32_t>(pop());
  ASSERT_NE(address, 0u);
  const auto* bytes = platform::pointer_from<unsigned char>(address);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(bytes[i], 0);
  push(address);
  call("memsize");
  EXPECT_EQ(pop(), 16);
  ASSERT_TRUE(stack_save_mark(context));
  push(address);
  call("free");
  EXPECT_EQ(context->mark_count, 0u);
  EXPECT_EQ(context->stack_top, nullptr);
}

TEST_F(MemoryBuiltins, VariableBlocksAreMadeResizedWithZeroesAndFreed) {
  Variable* buffer = create_variable(context->globals, "BUFFER%", false);
  ASSERT_NE(buffer, nullptr);
  stack_push_value(nullptr, 0, buffer, 0);
  push(-4);
  call("new");
  EXPECT_EQ(pop(), 1);
  ASSERT_NE(buffer->data, nullptr);
  EXPECT_EQ(buffer->type_code, -4);
  EXPECT_TRUE(buffer->flags & kVariableOwnsData);
  std::memset(buffer->data, 0x5A, 4);

  stack_push_value(nullptr, 0, buffer, 0);
  push(-8);
  call("resize");
  const auto* bytes = static_cast<unsigned char*>(buffer->data);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(bytes[i], 0x5A) << i;
  for (int i = 4; i < 8; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(buffer->type_code, -8);

  ASSERT_TRUE(stack_save_mark(context));
  stack_push_value(nullptr, 0, buffer, 0);
  call("free");
  EXPECT_EQ(buffer->data, nullptr);
}

TEST_F(MemoryBuiltins, SizesOfVariablesTextsAndNumbers) {
  Variable* array = create_variable(context->globals, "SHORTS%", false);
  ASSERT_NE(array, nullptr);
  array->type_code = -2;
  array->element_count = 10;
  stack_push_value(nullptr, 0, array, 0);
  call("sizeof");
  EXPECT_EQ(pop(), 20);
  array->element_count = 0;

  push_text("abc");
  call("sizeof");
  EXPECT_EQ(pop(), 3);
  push(42);
  call("sizeof");
  EXPECT_EQ(pop(), 8);
  push(42);
  call("size");
  EXPECT_EQ(pop(), 8);
}

TEST_F(MemoryBuiltins, PokeOfATextFieldReadsNoFurtherThanTheText) {
  struct Case {
    int32_t code;
    const char* expected;  // the 8 bytes at the address
  };
  // A heap text of 3 bytes ("ab" and its zero): the rest of a wider field is zeroed.
  const Case cases[] = {
      {2, "ab\xAA\xAA\xAA\xAA\xAA\xAA"},
      {8, "ab\0\0\0\0\0\0"},
      {-6, "ab\0\0\0\0\xAA\xAA"},
  };
  char* text = crt::_strdup("ab");
  for (const Case& row : cases) {
    unsigned char block[8];
    std::memset(block, 0xAA, sizeof block);
    push_address(block);
    push_text(text);
    push(row.code);
    call("poke");
    EXPECT_EQ(std::memcmp(block, row.expected, 8), 0) << "code " << row.code;
  }
  crt::free(text);
}

TEST_F(MemoryBuiltins, NumbersBeyondTheIntegerRangeStoreAndSplitAsZero) {
  alignas(8) unsigned char block[8];
  for (double value : {std::nan(""), 1e30, -1e300, HUGE_VAL}) {
    std::memset(block, 0xAA, sizeof block);
    push_address(block);
    push(value);
    push(-9);
    call("poke");
    push_address(block);
    push(-9);
    call("peek");
    EXPECT_EQ(pop(), 0) << value;
    for (const char* name : {"hiword", "loword", "hibyte", "lobyte"}) {
      push(value);
      call(name);
      EXPECT_EQ(pop(), 0) << name << " of " << value;
    }
  }
}

TEST_F(MemoryBuiltins, PeekOfATextCodeReadsAtMostEightCharacters) {
  const char text[] = "abcdefghijkl";
  const char* pointer = text;
  struct Case {
    int32_t code;
    const char* expected;
  };
  const Case cases[] = {{3, "abc"}, {6, "abcdef"}, {-20, "abcdefgh"}, {0, ""}};
  for (const Case& row : cases) {
    push_address(&pointer);
    push(row.code);
    call("peek");
    ValueCell* cell = stack_pop(context);
    ASSERT_NE(cell->text, nullptr) << row.code;
    EXPECT_STREQ(static_cast<const char*>(cell->text), row.expected) << row.code;
  }
}

TEST_F(MemoryBuiltins, SizeofCountsTheBytesOfAVariablesText) {
  struct Case {
    const char* name;
    const void* text;
    size_t bytes;
    bool wide;
    double expected;
  };
  const Case cases[] = {
      {"NARROW$", "abcd", 5, false, 4},
      {"WIDE$", u"abcd", 10, true, 8},
      {"NONE$", nullptr, 0, false, 0},
  };
  for (const Case& row : cases) {
    Variable* variable = create_variable(context->globals, row.name, false);
    ASSERT_NE(variable, nullptr);
    if (row.text) {
      variable->data = crt::malloc(row.bytes);
      std::memcpy(variable->data, row.text, row.bytes);
      variable->flags |= kVariableOwnsData | (row.wide ? kVariableWideText : 0);
    }
    stack_push_value(nullptr, 0, variable, 0);
    call("sizeof");
    EXPECT_EQ(pop(), row.expected) << row.name;
  }
}

}  // namespace
