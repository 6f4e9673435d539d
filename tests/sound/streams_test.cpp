// Memory and file streams, and Ogg decoders sharing one stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "sound/streams.h"

using namespace sound;

TEST(MemoryStream, ReadsSeeksAndStopsAtTheEnd) {
    uint8_t block[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    MemoryStream s;
    ASSERT_FALSE(s.open(nullptr, 10));
    ASSERT_TRUE(s.open(block, 10));
    ASSERT_TRUE(s.seek(8, from_start));
    uint8_t out[5] = {};
    EXPECT_EQ(s.read(out, 5), 2);
    EXPECT_EQ(out[0], 8);
    EXPECT_EQ(s.tell(), 10);
    EXPECT_EQ(s.read(out, 5), 0);

    struct Case { int32_t start, offset, origin; bool ok; int32_t after; };
    const Case cases[] = {
        {0, 3, from_end, true, 7},       // from the end counts back
        {5, 20, from_start, true, 5},    // out of range: unchanged, still true
        {5, -2, from_current, true, 3},
        {5, -6, from_current, true, 5},
        {5, 0, 7, false, 5},
        {5, 10, from_start, true, 10},
    };
    for (const Case& c : cases) {
        s.position = c.start;
        EXPECT_EQ(s.seek(c.offset, c.origin), c.ok) << "offset " << c.offset << " origin " << c.origin;
        EXPECT_EQ(s.tell(), c.after) << "offset " << c.offset << " origin " << c.origin;
    }
}

TEST(FileStream, SeeksFromTheEndWithTheOffsetAsGiven) {
    std::string path = std::string(ZRK_TEST_BINARY_DIR) + "/stream_file.bin";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 32; ++i) std::fputc(i, f);
    std::fclose(f);
    std::u16string wide(path.begin(), path.end());
    StreamSource s;
    ASSERT_TRUE(s.open(wide.c_str(), 0));
    EXPECT_EQ(s.stream_size(), 32);
    ASSERT_TRUE(s.seek(-4, from_end));
    EXPECT_EQ(s.tell(), 28);
    EXPECT_EQ(s.stream_size(), 32);
    EXPECT_EQ(s.tell(), 28);   // measuring the size keeps the position
    uint8_t b = 0;
    EXPECT_EQ(s.read(&b, 1), 1);
    EXPECT_EQ(b, 28);
    EXPECT_FALSE(s.seek(0, 3));
    StreamSource missing;
    EXPECT_FALSE(missing.open(u"/nonexistent/zrk/file.bin", 0));
}
