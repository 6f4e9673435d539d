// Name hashes, the other string hashes, MD5 and the CRCs, against Python's libraries
// and the published recurrences (tables made at build time) and the known check values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "foundation/hashes.h"
#include "platform/kernel/memory.h"
#include "reference_table.h"

namespace {

int32_t size_of(const std::string& data) { return static_cast<int32_t>(data.size()); }

std::string md5_text(const std::string& data) {
  Md5Context context{};
  md5_init(&context);
  md5_update(&context, data.data(), size_of(data));
  md5_final(&context);
  char* hex = md5_hex(&context);
  std::string text = hex;
  crt::free(hex);
  return text;
}

}  // namespace

TEST(HashName, SignedBytesAnd31Bits) {
  EXPECT_EQ(hash_name("", 0), 0u);
  EXPECT_EQ(hash_name("\xE9", 1), 0x7FFFFFE9u);
  EXPECT_EQ(hash_name_text("A"), 65u);
  EXPECT_EQ(hash_name_text("AB"), (65u * 65599u + 66u) & 0x7FFFFFFFu);
}

TEST(StringHashes, MatchThePublishedRecurrencesOverSignedBytes) {
  struct Kind {
    const char* name;
    uint32_t (*hash)(const void*, int32_t);
  };
  const Kind kinds[] = {{"hash_name", hash_name}, {"hash_rs", hash_rs},     {"hash_js", hash_js},
                        {"hash_pjw", hash_pjw},   {"hash_elf", hash_elf},   {"hash_bkdr", hash_bkdr},
                        {"hash_djb", hash_djb},   {"hash_ap", hash_ap}};
  for (const Kind& kind : kinds) {
    auto rows = reference::rows(kind.name);
    ASSERT_GT(rows.size(), 1000u) << kind.name << ": reference table missing";
    for (const auto& row : rows) {
      std::string data = reference::bytes(row.fields[0]);
      ASSERT_EQ(kind.hash(data.data(), size_of(data)), reference::word(row.fields[1]))
          << kind.name << " of table line " << row.line << " (" << data.size() << " bytes)";
    }
  }
}

TEST(StringHashes, EdgeValues) {
  struct Case {
    const char* what;
    uint32_t value;
    uint32_t expected;
  };
  const Case cases[] = {
      {"hash_name of byte 0xE9 counts it as -23", hash_name("\xE9", 1), 0x7FFFFFE9u},
      {"hash_name of no bytes", hash_name("abc", 0), 0u},
      {"hash_name of a null pointer", hash_name(nullptr, 5), 0u},
      {"hash_name of a negative count", hash_name("abc", -1), 0u},
      {"hash_name_text of null", hash_name_text(nullptr), 0u},
      {"hash_js of no bytes", hash_js("", 0), 1315423911u},
      {"hash_djb of no bytes", hash_djb("", 0), 5381u},
      {"hash_rs of no bytes", hash_rs("", 0), 0u},
      {"hash_ap of no bytes", hash_ap("", 0), 0u},
      {"hash_bkdr of byte 0xFF", hash_bkdr("\xFF", 1), 0x7FFFFFFFu},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value, c.expected) << c.what;
}

TEST(HashOfKind, KindsSelectTheirHashAndZeroAndSixAreAlike) {
  const std::string texts[] = {"", "Name$", "\xE9t\xE9", "a somewhat longer text with 0x80\x80 in it"};
  for (const std::string& text : texts) {
    const char* bytes = text.c_str();
    int32_t count = size_of(text);
    const uint32_t expected[] = {hash_name(bytes, count), hash_rs(bytes, count),  hash_js(bytes, count),
                                 hash_pjw(bytes, count),  hash_elf(bytes, count), hash_bkdr(bytes, count),
                                 hash_name(bytes, count), hash_djb(bytes, count), hash_ap(bytes, count)};
    for (int32_t kind = 0; kind <= 8; ++kind) {
      EXPECT_EQ(hash_of_kind(bytes, count, kind), expected[kind]) << "kind " << kind << " of \"" << text << '"';
    }
    EXPECT_EQ(hash_of_kind(bytes, count, 10), 0u) << "an unknown kind";
    EXPECT_EQ(hash_of_kind(bytes, count, -1), 0u) << "an unknown kind";
  }
}

TEST(HashOfKind, KindNineReadsTheMd5TextAsANumber) {
  auto rows = reference::rows("hash_kind9");
  ASSERT_GT(rows.size(), 100u) << "reference table missing";
  for (const auto& row : rows) {
    std::string text = reference::bytes(row.fields[0]);
    // The length argument is not used: MD5 runs over the whole C string.
    ASSERT_EQ(hash_of_kind(text.c_str(), 1, 9), reference::word(row.fields[1])) << "table line " << row.line;
  }
}

TEST(Md5, MatchesHashlib) {
  auto rows = reference::rows("md5");
  ASSERT_GT(rows.size(), 1000u) << "reference table missing";
  for (const auto& row : rows) {
    std::string data = reference::bytes(row.fields[0]);
    ASSERT_EQ(md5_text(data), "0x" + row.fields[1]) << "table line " << row.line << " (" << data.size() << " bytes)";
  }
}

TEST(Md5, PiecewiseUpdatesGiveTheDigestOfTheWhole) {
  auto rows = reference::rows("md5");
  ASSERT_FALSE(rows.empty());
  const int32_t piece_sizes[] = {1, 3, 55, 56, 63, 64, 65, 200};
  for (const auto& row : rows) {
    std::string data = reference::bytes(row.fields[0]);
    if (data.size() < 130) continue;
    for (int32_t piece : piece_sizes) {
      Md5Context context{};
      md5_init(&context);
      for (size_t at = 0; at < data.size(); at += static_cast<size_t>(piece)) {
        md5_update(&context, data.data() + at, std::min<int32_t>(piece, static_cast<int32_t>(data.size() - at)));
      }
      md5_update(&context, data.data(), 0);
      md5_final(&context);
      char* hex = md5_hex(&context);
      ASSERT_EQ(std::string(hex), "0x" + row.fields[1]) << "pieces of " << piece << ", table line " << row.line;
      crt::free(hex);
    }
  }
}

TEST(Md5, HexTextIsAZeroFilled128ByteBlock) {
  Md5Context context{};
  md5_init(&context);
  md5_final(&context);
  char* hex = md5_hex(&context);
  ASSERT_NE(hex, nullptr);
  EXPECT_STREQ(hex, "0xd41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(crt::_msize(hex), 128u);
  for (size_t i = 34; i < 128; ++i) ASSERT_EQ(hex[i], 0) << "byte " << i;
  crt::free(hex);
}

TEST(Checksums, MatchZlibAndCrcmod) {
  struct Kind {
    const char* name;
    uint32_t (*checksum)(const void*, int32_t);
  };
  const Kind kinds[] = {{"crc32", crc32_compute}, {"crc16", crc16_compute}};
  for (const Kind& kind : kinds) {
    auto rows = reference::rows(kind.name);
    ASSERT_GT(rows.size(), 1000u) << kind.name << ": reference table missing";
    for (const auto& row : rows) {
      std::string data = reference::bytes(row.fields[0]);
      ASSERT_EQ(kind.checksum(data.data(), size_of(data)), reference::word(row.fields[1]))
          << kind.name << " of table line " << row.line << " (" << data.size() << " bytes)";
    }
  }
}

TEST(Checksums, CheckValuesAndEmptyInputs) {
  struct Case {
    const char* what;
    uint32_t value;
    uint32_t expected;
  };
  const Case cases[] = {
      {"crc32 of 123456789 (complement of CBF43926)", crc32_compute("123456789", 9), 0x340BC6D9u},
      {"crc32_text of 123456789", crc32_text("123456789"), 0x340BC6D9u},
      {"crc16 of 123456789", crc16_compute("123456789", 9), 0x4B37u},
      {"crc16 of no bytes", crc16_compute("123", 0), 0xFFFFFFFFu},
      {"crc16 of a negative length", crc16_compute("123", -4), 0xFFFFFFFFu},
      {"crc32 of no bytes", crc32_compute("123", 0), 0xFFFFFFFFu},
      {"crc32 of a negative length", crc32_compute("123", -4), 0xFFFFFFFFu},
      {"crc32 of a null pointer", crc32_compute(nullptr, 9), 0xFFFFFFFFu},
      {"crc16 of a null pointer", crc16_compute(nullptr, 9), 0xFFFFFFFFu},
      {"crc32_text of an empty text", crc32_text(""), 0xFFFFFFFFu},
      {"crc32_text of null", crc32_text(nullptr), 0xFFFFFFFFu},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value, c.expected) << c.what;
}
