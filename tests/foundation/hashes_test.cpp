// Name hashes: signed bytes, 31 bits.
#include <gtest/gtest.h>

#include "foundation/hashes.h"

TEST(HashName, SignedBytesAnd31Bits) {
  EXPECT_EQ(hash_name("", 0), 0u);
  EXPECT_EQ(hash_name("\xE9", 1), 0x7FFFFFE9u);
  EXPECT_EQ(hash_name_text("A"), 65u);
  EXPECT_EQ(hash_name_text("AB"), (65u * 65599u + 66u) & 0x7FFFFFFFu);
}
