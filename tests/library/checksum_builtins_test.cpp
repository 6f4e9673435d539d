// Checksums, hashes and the scrambler as scripts call them: published check values,
// the hash kinds, runs that never leave their text, and encrypt changing a variable's
// own text and restoring it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "builtin_fixture.h"
#include "foundation/conversion.h"
#include "library/strings/checksum_builtins.h"
#include "platform/platform.h"

namespace {

class ChecksumBuiltins : public BuiltinTest {
 protected:
  ChecksumBuiltins() : BuiltinTest(register_checksum_builtins) {}

  double checksum(const char* name, const char* text, double length) {
    int32_t before = depth();
    push_text(text);
    push(length);
    call(name);
    EXPECT_EQ(depth(), before + 1) << name;
    return pop_number();
  }
  double hash(double kind, const char* text, double length) {
    int32_t before = depth();
    push(kind);
    push_text(text);
    push(length);
    call("hash");
    EXPECT_EQ(depth(), before + 1) << "hash " << kind;
    return pop_number();
  }
  void encrypt(Variable* variable, double length, const char* key, double mode) {
    push_variable(variable);
    push(length);
    push_text(key);
    push(mode);
    call("encrypt");
    EXPECT_EQ(depth(), 0) << "encrypt pushes nothing";
  }
  static std::string text_of(const Variable* variable) { return static_cast<const char*>(variable->data); }
};

TEST_F(ChecksumBuiltins, PublishedCheckValues) {
  struct Row {
    const char* name;
    const char* text;
    double length;
    double expected;
  };
  const Row rows[] = {
      // CRC-16/MODBUS, and CRC-32/JAMCRC (zlib's crc32 of "123456789" is 0xCBF43926).
      {"crc16", "123456789", 9, 0x4B37},  {"crc32", "123456789", 9, 0x340BC6D9},
      {"crc16", "abc", 3, 22345},         {"crc32", "abc", 3, 3403398717.0},
      {"crc16", "123456789", 0, 65535},   {"crc32", "123456789", 0, 4294967295.0},
      {"crc16", "123456789", -5, 65535},  {"crc32", "123456789", -5, 4294967295.0},
      {"crc32", "abc", 1, 0xE8B7BE43u ^ 0xFFFFFFFFu},  // zlib crc32("a") inverted
  };
  for (const Row& row : rows) {
    EXPECT_EQ(checksum(row.name, row.text, row.length), row.expected) << row.name << "(\"" << row.text << "\", " << row.length << ")";
  }
}

TEST_F(ChecksumBuiltins, ANumberIsChecksummedAsItsText) {
  push(12345);
  push(5);
  call("crc32");
  double of_number = pop_number();
  EXPECT_EQ(of_number, checksum("crc32", "12345", 5));
}

TEST_F(ChecksumBuiltins, ALengthPastTheTextStopsAtItsEnd) {
  // Beyond the text lies foreign memory: the run ends with the terminator.
  for (const char* name : {"crc16", "crc32"}) {
    EXPECT_EQ(checksum(name, "abc", 100000), checksum(name, "abc", 4)) << name;
  }
  EXPECT_EQ(hash(5, "abc", 100000), hash(5, "abc", 4));
  // A heap text is read up to the end of its block, zero bytes inside it included.
  char* block = static_cast<char*>(crt::calloc(8, 1));
  std::memcpy(block, "ab\0cd", 5);
  EXPECT_EQ(checksum("crc32", block, 8), checksum("crc32", block, 100)) << "the block is 8 bytes";
  EXPECT_NE(checksum("crc32", block, 8), checksum("crc32", block, 3)) << "bytes after the inner zero count";
  crt::free(block);
}

TEST_F(ChecksumBuiltins, HashKinds) {
  struct Row {
    double kind;
    const char* text;
    double length;
    double expected;
  };
  const Row rows[] = {
      {7, "", 0, 5381},
      {5, "", 0, 0},
      {2, "", 0, 1315423911},
      {0, "", 0, 0},
      {5, "ab", 2, 97 * 131 + 98},
      {7, "ab", 2, (5381.0 * 33 + 97) * 33 + 98},
      {0, "ab", 2, 97 * 65599 + 98},
      {5, "\xC8", 1, 2147483592},  // the byte 200 counts as -56
      {7, "abc", -3, 5381},        // a negative count reads nothing
      {10, "abc", 3, 0},           // an unknown kind
      {-1, "abc", 3, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(hash(row.kind, row.text, row.length), row.expected) << "kind " << row.kind << " of \"" << row.text << "\"";
  }
  for (const char* text : {"", "a", "hello world", "\xFF\x80"}) {
    auto length = static_cast<double>(std::strlen(text));
    EXPECT_EQ(hash(0, text, length), hash(6, text, length)) << text;
  }
  for (double kind = 0; kind <= 8; ++kind) {
    double value = hash(kind, "The quick brown fox", 19);
    EXPECT_TRUE(value >= 0 && value <= 0x7FFFFFFF) << "kind " << kind << " gives 31 bits";
  }
}

TEST_F(ChecksumBuiltins, Md5KindGivesTheDigestText) {
  struct Row {
    const char* text;
    const char* digest;  // RFC 1321 test suite
  };
  const Row rows[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
  };
  for (const Row& row : rows) {
    push(9);
    push_text(row.text);
    push(0);  // the length is not used: the whole text is digested
    call("hash");
    EXPECT_EQ(pop_text(), row.digest) << row.text;
  }
}

TEST_F(ChecksumBuiltins, EncryptChangesTheVariablesTextAndRestoresIt) {
  Variable* text = make_variable(locals, "S$", "hello world");
  encrypt(text, -1, "key", 0);
  EXPECT_NE(text_of(text), "hello world");
  encrypt(text, -1, "key", 1);
  EXPECT_EQ(text_of(text), "hello world");

  Variable* short_text = make_variable(locals, "T$", "abcd");
  encrypt(short_text, 2, "k", 0);
  const std::string expected = std::string(1, static_cast<char>('a' + 'k')) + static_cast<char>('b' + 'k') + "cd";
  EXPECT_EQ(text_of(short_text), expected);
}

TEST_F(ChecksumBuiltins, EncryptRestoresBytesThatBecameZero) {
  // 0x95 + 'k' (0x6B) wraps to 0: the text looks one byte long afterwards, yet -1 covers
  // its whole block.
  Variable* text = make_variable(locals, "S$", "\x95xyz");
  encrypt(text, -1, "k", 0);
  EXPECT_EQ(static_cast<const char*>(text->data)[0], 0);
  encrypt(text, -1, "k", 1);
  EXPECT_EQ(text_of(text), "\x95xyz");
}

TEST_F(ChecksumBuiltins, EncryptStaysInsideTheText) {
  Variable* text = make_variable(locals, "S$", "abc");
  encrypt(text, 1000, "k", 0);
  const auto* bytes = static_cast<const unsigned char*>(text->data);
  EXPECT_EQ(bytes[2], static_cast<unsigned char>('c' + 'k'));
  EXPECT_EQ(bytes[3], 0) << "the terminator stays";
  encrypt(text, 1000, "k", 1);
  EXPECT_EQ(text_of(text), "abc");

  Variable* unchanged = make_variable(locals, "U$", "abc");
  encrypt(unchanged, -1, "", 0);
  EXPECT_EQ(text_of(unchanged), "abc") << "an empty key changes nothing";
}

TEST_F(ChecksumBuiltins, EncryptOfUtf16Text) {
  char16_t* wide = to_wide("abc");
  for (double mode : {0.0, 1.0}) {
    push_wide_text(wide);
    push(-1);
    push_text("k");
    push(mode);
    call("encrypt");
    if (mode == 0) {
      EXPECT_NE(std::u16string(wide), u"abc");
    }
  }
  EXPECT_EQ(std::u16string(wide), u"abc");
  crt::free(wide);
}

}  // namespace
