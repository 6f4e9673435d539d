// The keyed byte scrambler: the key walk, both directions, and the 16-bit form's cut to
// a sign-extended byte.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "foundation/scrambler.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(ScrambleBytes, KeyWalkTable) {
  struct Row {
    const char* name;
    Bytes input;
    const char* key;
    uint32_t direction;
    uint32_t start;
    int32_t length;  // -1: the whole input
    Bytes expected;
  };
  const Row rows[] = {
      {"adds the key", {0x00, 0x01}, "ab", 0, 0, -1, {0x61, 0x63}},
      {"subtracts the key", {0x61, 0x63}, "ab", 1, 0, -1, {0x00, 0x01}},
      {"any non-zero direction subtracts", {0x61, 0x63}, "ab", 7, 0, -1, {0x00, 0x01}},
      {"start 3 begins at the second character", {0x00, 0x00}, "ab", 0, 3, -1, {0x62, 0x61}},
      {"start 2 wraps to the first", {0x00}, "ab", 0, 2, -1, {0x61}},
      {"key wraps at its end", {0, 0, 0, 0, 0, 0, 0}, "abc", 0, 0, -1,
       {0x61, 0x62, 0x63, 0x61, 0x62, 0x63, 0x61}},
      {"huge start", {0x00}, "abc", 0, 0xFFFFFFFFu, -1, {0x61}},  // 2^32-1 = 0 mod 3
      {"adding wraps mod 256", {0xFF, 0xF0}, "\x02\x20", 0, 0, -1, {0x01, 0x10}},
      {"subtracting wraps mod 256", {0x00}, "a", 1, 0, -1, {0x9F}},
      {"key characters above 0x7F", {0x10}, "\xC8", 0, 0, -1, {0xD8}},
      {"empty key changes nothing", {0x12, 0x34}, "", 0, 5, -1, {0x12, 0x34}},
      {"length 0 changes nothing", {0x12, 0x34}, "ab", 0, 0, 0, {0x12, 0x34}},
      {"negative length changes nothing", {0x12, 0x34}, "ab", 0, 0, -5, {0x12, 0x34}},
      {"only the given length", {0x00, 0x00, 0x00}, "ab", 0, 0, 2, {0x61, 0x62, 0x00}},
  };
  for (const Row& row : rows) {
    Bytes buffer = row.input;
    const int32_t length = row.length == -1 ? static_cast<int32_t>(buffer.size()) : row.length;
    scramble_bytes(buffer.data(), length, row.key, row.direction, row.start);
    EXPECT_EQ(buffer, row.expected) << row.name;
  }
}

TEST(ScrambleBytes, NullKeyChangesNothing) {
  Bytes buffer = {1, 2, 3};
  scramble_bytes(buffer.data(), 3, nullptr, 0, 0);
  EXPECT_EQ(buffer, (Bytes{1, 2, 3}));
}

TEST(ScrambleBytes, EitherDirectionIsUndoneByTheOther) {
  std::mt19937 random(1234);
  for (int trial = 0; trial < 200; ++trial) {
    Bytes original(random() % 300);
    for (uint8_t& byte : original) byte = static_cast<uint8_t>(random());
    std::string key(1 + random() % 20, ' ');
    for (char& c : key) c = static_cast<char>(1 + random() % 255);
    const uint32_t start = random();
    const uint32_t direction = trial & 1;
    Bytes buffer = original;
    const int32_t length = static_cast<int32_t>(buffer.size());
    scramble_bytes(buffer.data(), length, key.c_str(), direction, start);
    if (length > 8) {
      EXPECT_NE(buffer, original) << "trial " << trial;
    }
    scramble_bytes(buffer.data(), length, key.c_str(), direction ^ 1, start);
    ASSERT_EQ(buffer, original) << "trial " << trial;
  }
}

TEST(ScrambleWide, ResultIsASignExtendedByte) {
  struct Row {
    const char* name;
    std::u16string input;
    uint32_t direction;
    std::u16string expected;
  };
  // Key "a" = 0x61 throughout.
  const Row rows[] = {
      {"small result stays", u"\x0001", 0, u"\x0062"},
      {"result 0x80-0xFF is sign-extended", u"\x0048", 0, u"\xFFA9"},
      {"unit above 0xFF loses its high byte", u"\x0141", 0, u"\xFFA2"},
      {"unit 0x100 keeps only the sum's low byte", u"\x0100", 0, u"\x0061"},
      {"subtracting below zero", std::u16string(1, u'\0'), 1, u"\xFF9F"},
      {"subtracting from a sign-extended unit", u"\xFFA9", 1, u"\x0048"},
  };
  for (const Row& row : rows) {
    std::u16string buffer = row.input;
    scramble_wide(buffer.data(), static_cast<int32_t>(buffer.size()), "a", row.direction, 0);
    EXPECT_EQ(buffer, row.expected) << row.name;
  }
}

TEST(ScrambleWide, SevenBitTextSurvivesAndWiderTextDoesNot) {
  const char* key = "k3y!";
  std::u16string text = u"Hello, World ~\x007F";
  const std::u16string original = text;
  const int32_t count = static_cast<int32_t>(text.size());
  scramble_wide(text.data(), count, key, 1, 2);
  EXPECT_NE(text, original);
  scramble_wide(text.data(), count, key, 0, 2);
  EXPECT_EQ(text, original);

  std::u16string accented = u"\x00E9\x4E2D";
  scramble_wide(accented.data(), 2, key, 0, 0);
  scramble_wide(accented.data(), 2, key, 1, 0);
  EXPECT_EQ(accented, std::u16string(u"\xFFE9\x002D"));
}

TEST(ScrambleWide, SameKeyWalkAsBytes) {
  Bytes bytes = {0x10, 0x20, 0x30, 0x40, 0x50};
  std::u16string units = u"\x0010\x0020\x0030\x0040\x0050";
  scramble_bytes(bytes.data(), 5, "Zq", 1, 1);
  scramble_wide(units.data(), 5, "Zq", 1, 1);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(units[i], static_cast<char16_t>(static_cast<int8_t>(bytes[i]))) << "unit " << i;
}

TEST(CompiledFileKey, IsAUsableKey) {
  EXPECT_GT(sizeof(kCompiledFileKey), 8u);
  Bytes data = {1, 2, 3};
  scramble_bytes(data.data(), 3, kCompiledFileKey, 1, 0);
  EXPECT_NE(data, (Bytes{1, 2, 3}));
}

}  // namespace
