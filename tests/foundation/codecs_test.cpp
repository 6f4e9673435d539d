// The three codecs: exact stream layouts, round trips of a corpus, capacity limits, and
// corrupted streams that must decode or fail without touching memory outside the buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/codecs.h"

namespace {

using Bytes = std::vector<uint8_t>;

using Encoder = int32_t (*)(const uint8_t*, uint8_t*, int32_t, int32_t);

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes repeat(uint8_t value, size_t count) { return Bytes(count, value); }

Bytes range(int first, int last) {
  Bytes bytes;
  for (int value = first; value <= last; ++value) bytes.push_back(static_cast<uint8_t>(value));
  return bytes;
}

Bytes text(const char* characters) { return Bytes(characters, characters + std::strlen(characters)); }

// Bytes from a text of '0' and '1' (other characters ignored), the last byte padded with
// zero bits.
Bytes bits(const std::string& digits) {
  Bytes bytes;
  int count = 0;
  for (char digit : digits) {
    if (digit != '0' && digit != '1') continue;
    if (count % 8 == 0) bytes.push_back(0);
    if (digit == '1') bytes.back() |= static_cast<uint8_t>(0x80 >> (count % 8));
    ++count;
  }
  return bytes;
}

// Encodes into a buffer that starts out full of 0xFF, so stale bytes would show.
Bytes encode(Encoder encoder, int method, const Bytes& input) {
  const int32_t length = static_cast<int32_t>(input.size());
  Bytes output(static_cast<size_t>(codec_encoded_capacity(method, length)), 0xFF);
  const int32_t written =
      encoder(input.data(), output.data(), length, static_cast<int32_t>(output.size()));
  if (written < 0) return {0xEE, 0xEE, 0xEE};  // shows as a mismatch
  output.resize(static_cast<size_t>(written));
  return output;
}

Bytes decode(int method, const Bytes& stream, int32_t decoded_length) {
  Bytes output(static_cast<size_t>(decoded_length));
  const int32_t length = static_cast<int32_t>(stream.size());
  int32_t result = kCodecFailed;
  switch (method) {
    case 0: result = rle_decode(stream.data(), output.data(), length, decoded_length); break;
    case 1:
      result = shannon_fano_decode(stream.data(), output.data(), decoded_length, length);
      break;
    case 2: result = lz_decode(stream.data(), output.data(), length, decoded_length); break;
  }
  if (result != decoded_length) return {0xDD, 0xDD};
  return output;
}

struct LayoutRow {
  const char* name;
  Bytes input;
  Bytes expected;
};

void expect_layouts(Encoder encoder, int method, const std::vector<LayoutRow>& rows) {
  for (const LayoutRow& row : rows) {
    const Bytes stream = encode(encoder, method, row.input);
    EXPECT_EQ(stream, row.expected) << row.name;
    EXPECT_EQ(decode(method, stream, static_cast<int32_t>(row.input.size())), row.input)
        << row.name << " (decoded)";
  }
}

TEST(Marker, RarestValueLowestOnTies) {
  EXPECT_EQ(least_frequent_byte(nullptr, 0), 0);
  const Bytes all = concat({range(0, 255), range(0, 255), {0x07}});
  EXPECT_EQ(least_frequent_byte(all.data(), static_cast<int32_t>(all.size())), 0);
  const Bytes without_zero = concat({range(1, 255), range(1, 255), {0x00}});
  EXPECT_EQ(least_frequent_byte(without_zero.data(), static_cast<int32_t>(without_zero.size())),
            0);
  const Bytes zero_twice = concat({range(0, 255), {0x00}});
  EXPECT_EQ(least_frequent_byte(zero_twice.data(), static_cast<int32_t>(zero_twice.size())), 1);
}

TEST(RleEncode, StreamLayout) {
  // Each of 1..255 three times, spread so that none forms a run.
  const Bytes thrice = concat({range(1, 255), range(1, 255), range(1, 255)});
  Bytes thrice_marker_one_doubled;
  for (uint8_t byte : thrice) {
    thrice_marker_one_doubled.push_back(byte);
    if (byte == 1) thrice_marker_one_doubled.push_back(0);
  }
  expect_layouts(rle_encode, 0, {
      {"empty input", {}, {}},
      {"one byte", {0x41}, {0x00, 0x41}},
      {"one zero byte: the marker is 1", {0x00}, {0x01, 0x00}},
      {"ten equal bytes", repeat(0x41, 10), {0x00, 0x00, 0x09, 0x41}},
      {"three equal bytes stay literal", repeat(0x41, 3), {0x00, 0x41, 0x41, 0x41}},
      {"four equal bytes", repeat(0x41, 4), {0x00, 0x00, 0x03, 0x41}},
      {"128 equal bytes: the longest 3-byte item", repeat(0x41, 128), {0x00, 0x00, 0x7F, 0x41}},
      {"129 equal bytes: a 4-byte item", repeat(0x41, 129), {0x00, 0x00, 0x80, 0x80, 0x41}},
      {"200 equal bytes", repeat(0x41, 200), {0x00, 0x00, 0x80, 0xC7, 0x41}},
      {"32,768 equal bytes: the longest item", repeat(0x41, 32768),
       {0x00, 0x00, 0xFF, 0xFF, 0x41}},
      {"32,769 equal bytes: a run and a literal", repeat(0x41, 32769),
       {0x00, 0x00, 0xFF, 0xFF, 0x41, 0x41}},
      {"65,537 equal bytes", repeat(0x41, 65537),
       {0x00, 0x00, 0xFF, 0xFF, 0x41, 0x00, 0xFF, 0xFF, 0x41, 0x41}},
      {"text without runs", text("ABAB"), concat({{0x00}, text("ABAB")})},
      {"ties pick the lowest value", {0x00, 0x01}, {0x02, 0x00, 0x01}},
      {"one marker byte", concat({thrice, {0}}), concat({{0x00}, thrice, {0x00, 0x00}})},
      {"two marker bytes", concat({thrice, {0, 0}}), concat({{0x00}, thrice, {0x00, 0x01}})},
      {"three marker bytes, tie on count", concat({thrice, {0, 0, 0}}),
       concat({{0x00}, thrice, {0x00, 0x02}})},
      {"four bytes of zero: marker 1 doubled", concat({thrice, {0, 0, 0, 0}}),
       concat({{0x01}, thrice_marker_one_doubled, {0x01, 0x03, 0x00}})},
      {"runs between literals", text("xyyyyyz"), concat({{0x00}, text("x"), {0x00, 0x04}, text("yz")})},
  });
}

TEST(LzEncode, StreamLayout) {
  expect_layouts(lz_encode, 2, {
      {"empty input", {}, {}},
      {"one byte", {0x41}, {0x00, 0x41}},
      {"repeated 100 bytes: one reference", concat({range(1, 100), range(1, 100)}),
       concat({{0x00}, range(1, 100), {0x00, 0x64, 0x64}})},
      {"repeated 200 bytes: two-group numbers", concat({range(1, 200), range(1, 200)}),
       concat({{0x00}, range(1, 200), {0x00, 0x81, 0x48, 0x81, 0x48}})},
      {"a run never uses distances 1 or 2", repeat(0x41, 20),
       concat({{0x00}, repeat(0x41, 4),
               {0x00, 0x04, 0x04, 0x00, 0x08, 0x08, 0x00, 0x04, 0x04}})},
      {"equal lengths: the nearest wins", text("abcdXabcdYabcd"),
       concat({{0x00}, text("abcdX"), {0x00, 0x04, 0x05}, text("Y"), {0x00, 0x04, 0x05}})},
      {"length 4 too far away stays literal",
       concat({range(1, 4), range(10, 209), range(1, 4)}),
       concat({{0x00}, range(1, 4), range(10, 209), range(1, 4)})},
      {"length 5 far away is a reference",
       concat({range(1, 5), range(10, 209), range(1, 5)}),
       concat({{0x00}, range(1, 5), range(10, 209), {0x00, 0x05, 0x81, 0x4D}})},
      {"marker literal doubled with 0", concat({range(0, 255), {0x00}}),
       concat({{0x01, 0x00, 0x01, 0x00}, range(2, 255), {0x00}})},
      {"marker among the last three bytes", concat({range(2, 255), range(2, 255), {0, 0, 1}}),
       concat({{0x01}, range(2, 255), {0x01, 0x81, 0x7E, 0x81, 0x7E, 0x00, 0x00, 0x01, 0x00}})},
  });
}

TEST(ShannonFanoEncode, StreamLayout) {
  // Leaves are "1" + 8 symbol bits; an inner node is "0", then "1"+left or "0", then
  // "1"+right or "0". A = 01000001, B = 01000010, C = 01000011, D = 01000100.
  expect_layouts(shannon_fano_encode, 1, {
      {"empty input", {}, {}},
      {"one repeated byte: 12-bit tree, 1-bit codes", text("AAAA"),
       bits("0 1 1_01000001 0   0000")},
      {"two bytes", text("AB"), bits("0 1 1_01000001 1 1_01000010   0 1")},
      {"the left group stops at (total+1)/2", text("ABC"),
       bits("0 1 0 1 1_01000001 1 1_01000010 1 1_01000011   00 01 1")},
      {"heaviest first", text("CAAABBA"),
       bits("0 1 1_01000001 1 0 1 1_01000010 1 1_01000011   11 0 0 0 10 10 0")},
      {"equal counts keep ascending symbols", text("DCBA"),
       bits("0 1 0 1 1_01000001 1 1_01000010 1 0 1 1_01000011 1 1_01000100   11 10 01 00")},
      {"the last entry stays right", {0x05, 0x05, 0x05, 0x05, 0x06},
       bits("0 1 1_00000101 1 1_00000110   0 0 0 0 1")},
  });
}

// The corpus every codec must carry through unchanged.
std::vector<std::pair<std::string, Bytes>> corpus() {
  std::mt19937 random(2024);
  Bytes noise(100 * 1024);
  for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
  Bytes balanced;
  for (int round = 0; round < 64; ++round) {
    Bytes values = range(0, 255);
    std::shuffle(values.begin(), values.end(), random);
    balanced.insert(balanced.end(), values.begin(), values.end());
  }
  std::string prose;
  for (int i = 0; i < 300; ++i)
    prose += "The quick brown fox jumps over the lazy dog " + std::to_string(i * 7919 % 1000) +
             (i % 5 == 0 ? ".\r\n" : ", ");
  Bytes small_alphabet(5000);
  for (uint8_t& byte : small_alphabet) byte = static_cast<uint8_t>('a' + random() % 3);
  return {
      {"empty", {}},
      {"one byte", {0x7A}},
      {"one zero byte", {0x00}},
      {"run of 32,769 equal bytes", repeat(0x00, 32769)},
      {"100 KB of random bytes", noise},
      {"text", Bytes(prose.begin(), prose.end())},
      {"all 256 byte values", range(0, 255)},
      {"every value equally often", balanced},
      {"three letters at random", small_alphabet},
      {"marker runs", concat({range(0, 255), repeat(0x00, 5), range(0, 255), repeat(0x01, 3)})},
  };
}

struct Codec {
  const char* name;
  int method;
  Encoder encoder;
};

const Codec kCodecs[] = {
    {"rle", 0, rle_encode},
    {"shannon-fano", 1, shannon_fano_encode},
    {"lz", 2, lz_encode},
};

TEST(Codecs, CorpusRoundTrips) {
  const auto items = corpus();
  for (const Codec& codec : kCodecs) {
    for (const auto& [name, input] : items) {
      const int32_t length = static_cast<int32_t>(input.size());
      const Bytes stream = encode(codec.encoder, codec.method, input);
      const std::string row = std::string(codec.name) + ": " + name;
      ASSERT_LE(static_cast<int64_t>(stream.size()), codec_encoded_capacity(codec.method, length))
          << row;
      if (length > 0) {
        ASSERT_GT(stream.size(), 0u) << row;
      } else {
        ASSERT_TRUE(stream.empty()) << row;
      }
      EXPECT_EQ(decode(codec.method, stream, length), input) << row;
      // The same input always gives the same bytes, whatever the buffer held.
      Bytes zeroed(stream.size() + 8, 0x00);
      EXPECT_EQ(codec.encoder(input.data(), zeroed.data(), length,
                              static_cast<int32_t>(zeroed.size())),
                static_cast<int32_t>(stream.size()))
          << row;
      EXPECT_TRUE(std::equal(stream.begin(), stream.end(), zeroed.begin())) << row;
    }
  }
}

TEST(Codecs, CapacityIsRespected) {
  const auto items = corpus();
  for (const Codec& codec : kCodecs) {
    for (const auto& [name, input] : items) {
      const int32_t length = static_cast<int32_t>(input.size());
      if (length == 0) continue;
      const std::string row = std::string(codec.name) + ": " + name;
      const Bytes stream = encode(codec.encoder, codec.method, input);
      // One byte short: exact-size buffers let the sanitizer see any overrun.
      Bytes short_output(stream.size() - 1);
      EXPECT_EQ(codec.encoder(input.data(), short_output.data(), length,
                              static_cast<int32_t>(short_output.size())),
                kCodecFailed)
          << row;
      Bytes short_decoded(static_cast<size_t>(length - 1));
      const int32_t stream_length = static_cast<int32_t>(stream.size());
      int32_t result = 0;
      if (codec.method == 0)
        result = rle_decode(stream.data(), short_decoded.data(), stream_length, length - 1);
      else if (codec.method == 2)
        result = lz_decode(stream.data(), short_decoded.data(), stream_length, length - 1);
      else
        result = shannon_fano_decode(stream.data(), short_decoded.data(), length,
                                     stream_length - 1);  // the stream cut instead
      if (codec.method == 1 && stream.size() > 0 && length > 0) {
        // Dropping the last byte loses at least one code bit, unless only padding.
        EXPECT_TRUE(result == kCodecFailed || result == length) << row;
      } else {
        EXPECT_EQ(result, kCodecFailed) << row;
      }
    }
  }
}

TEST(Codecs, BadArgumentsFail) {
  uint8_t buffer[16] = {};
  for (const Codec& codec : kCodecs) {
    EXPECT_EQ(codec.encoder(buffer, buffer + 8, -1, 8), kCodecFailed) << codec.name;
    EXPECT_EQ(codec.encoder(buffer, buffer + 8, 4, -1), kCodecFailed) << codec.name;
    EXPECT_EQ(codec.encoder(nullptr, buffer, 4, 8), kCodecFailed) << codec.name;
    EXPECT_EQ(codec.encoder(nullptr, nullptr, 0, 0), 0) << codec.name;
  }
  EXPECT_EQ(rle_decode(buffer, buffer + 8, -1, 8), kCodecFailed);
  EXPECT_EQ(lz_decode(buffer, buffer + 8, -1, 8), kCodecFailed);
  EXPECT_EQ(shannon_fano_decode(buffer, buffer + 8, 8, -1), kCodecFailed);
  EXPECT_EQ(codec_encoded_capacity(3, 10), -1);
  EXPECT_EQ(codec_encoded_capacity(0, -1), -1);
}

TEST(Codecs, MalformedStreams) {
  struct Row {
    const char* name;
    int method;
    Bytes stream;
    int32_t capacity;
    int32_t expected;  // bytes decoded or kCodecFailed
  };
  const Row rows[] = {
      {"rle: only the marker", 0, {0x07}, 4, 0},
      {"rle: cut after the marker escape", 0, {0x00, 0x41, 0x00}, 4, kCodecFailed},
      {"rle: cut 3-byte item", 0, {0x00, 0x00, 0x09}, 16, kCodecFailed},
      {"rle: cut 4-byte item", 0, {0x00, 0x00, 0x80, 0x80}, 200, kCodecFailed},
      {"rle: run beyond capacity", 0, {0x00, 0x00, 0x09, 0x41}, 9, kCodecFailed},
      {"rle: run exactly at capacity", 0, {0x00, 0x00, 0x09, 0x41}, 10, 10},
      {"lz: only the marker", 2, {0x07}, 4, 0},
      {"lz: cut after the marker", 2, {0x00, 0x41, 0x00}, 4, kCodecFailed},
      {"lz: reference before the output", 2, {0x00, 0x41, 0x00, 0x04, 0x02}, 16, kCodecFailed},
      {"lz: distance 0", 2, {0x00, 0x41, 0x00, 0x04, 0x00}, 16, kCodecFailed},
      {"lz: overlapping distance 1", 2, {0x00, 0x41, 0x00, 0x04, 0x01}, 16, 5},
      {"lz: cut distance", 2, {0x00, 0x41, 0x42, 0x00, 0x04, 0x81}, 16, kCodecFailed},
      {"lz: six-group number", 2, {0x00, 0x41, 0x00, 0x81, 0x80, 0x80, 0x80, 0x80, 0x01, 0x01},
       64, kCodecFailed},
      {"lz: five-group length too long", 2, {0x00, 0x41, 0x00, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x01},
       64, kCodecFailed},
      {"lz: reference beyond capacity", 2, {0x00, 0x41, 0x42, 0x43, 0x00, 0x04, 0x03}, 6,
       kCodecFailed},
      {"sf: empty stream", 1, {}, 4, kCodecFailed},
      {"sf: cut tree", 1, bits("0 1 1_0100"), 4, kCodecFailed},
      {"sf: code the tree lacks", 1, bits("0 1 1_01000001 0   0 1"), 2, kCodecFailed},
      {"sf: inner node without children", 1, bits("0 0 0  0000 0000"), 1, kCodecFailed},
      // Seven code bits and four padding bits hold eleven codes.
      {"sf: codes run out", 1, bits("0 1 1_01000001 1 1_01000010   0 1 1 0 1 0 1"), 12,
       kCodecFailed},
      {"sf: a lone leaf needs no code bits", 1, bits("1_01000001"), 3, 3},
  };
  for (const Row& row : rows) {
    Bytes output(static_cast<size_t>(row.capacity));
    const int32_t length = static_cast<int32_t>(row.stream.size());
    // An empty vector may hold no buffer; decoders must not need one for length 0.
    const uint8_t* stream = row.stream.empty() ? output.data() : row.stream.data();
    int32_t result = 0;
    if (row.method == 0)
      result = rle_decode(stream, output.data(), length, row.capacity);
    else if (row.method == 2)
      result = lz_decode(stream, output.data(), length, row.capacity);
    else
      result = shannon_fano_decode(stream, output.data(), row.capacity, length);
    EXPECT_EQ(result, row.expected) << row.name;
  }
}

TEST(Codecs, OverlappingReferenceRepeatsItsSource) {
  const Bytes stream = {0x00, 0x41, 0x42, 0x00, 0x05, 0x02};
  EXPECT_EQ(decode(2, stream, 7), text("ABABABA"));
}

// Corrupted, cut and random streams decode or fail; exact-size buffers let the sanitizer
// catch any read or write outside them.
TEST(Codecs, CorruptedStreamsNeverFault) {
  std::mt19937 random(77);
  std::vector<Bytes> samples;
  for (const auto& item : corpus())
    if (!item.second.empty() && item.second.size() <= 20000) samples.push_back(item.second);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);
  int decoded = 0, failed = 0;
  for (const Codec& codec : kCodecs) {
    for (const Bytes& sample : samples) {
      const Bytes stream = encode(codec.encoder, codec.method, sample);
      for (int trial = 0; trial < 400 && std::chrono::steady_clock::now() < deadline; ++trial) {
        Bytes damaged = stream;
        switch (trial % 4) {
          case 0:  // bit flips
            for (int flips = 1 + random() % 4; flips > 0; --flips)
              damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1 << (random() % 8));
            break;
          case 1:  // truncation
            damaged.resize(random() % damaged.size());
            break;
          case 2:  // a stretch of random bytes
            for (size_t i = random() % damaged.size(), n = 1 + random() % 16;
                 i < damaged.size() && n > 0; ++i, --n)
              damaged[i] = static_cast<uint8_t>(random());
            break;
          case 3:  // wholly random
            damaged.resize(1 + random() % 200);
            for (uint8_t& byte : damaged) byte = static_cast<uint8_t>(random());
            break;
        }
        const int32_t capacity = static_cast<int32_t>(
            trial % 3 == 0 ? sample.size() : random() % (sample.size() * 2 + 1));
        std::unique_ptr<uint8_t[]> input(new uint8_t[damaged.size() + 1]);
        std::memcpy(input.get(), damaged.data(), damaged.size());
        std::unique_ptr<uint8_t[]> output(new uint8_t[static_cast<size_t>(capacity) + 1]);
        const int32_t length = static_cast<int32_t>(damaged.size());
        int32_t result = 0;
        if (codec.method == 0)
          result = rle_decode(input.get(), output.get(), length, capacity);
        else if (codec.method == 2)
          result = lz_decode(input.get(), output.get(), length, capacity);
        else
          result = shannon_fano_decode(input.get(), output.get(), capacity, length);
        const std::string row = std::string(codec.name) + " trial " + std::to_string(trial);
        ASSERT_GE(result, kCodecFailed) << row;
        ASSERT_LE(result, capacity) << row;
        if (codec.method == 1) {
          ASSERT_TRUE(result == kCodecFailed || result == capacity) << row;
        }
        (result == kCodecFailed ? failed : decoded)++;
      }
    }
  }
  EXPECT_GT(failed, 100);
  EXPECT_GT(decoded, 10);
}

// The match search, written as the plain scan over every distance from 3 to 100,000.
Bytes plain_lz_encode(const Bytes& input) {
  const int32_t length = static_cast<int32_t>(input.size());
  if (length == 0) return {};
  const uint8_t marker = least_frequent_byte(input.data(), length);
  Bytes out = {marker};
  auto number = [&out](uint32_t value) {
    int groups = 1;
    while (groups < 5 && (value >> (7 * groups)) != 0) ++groups;
    for (int group = groups - 1; group >= 0; --group)
      out.push_back(static_cast<uint8_t>((group ? 0x80 : 0) | ((value >> (7 * group)) & 0x7F)));
  };
  int32_t p = 0;
  while (length - p > 3) {
    const int32_t remaining = length - p;
    int32_t best = 3, best_distance = 0;
    if (p >= 3) {
      for (int32_t d = 3; d <= std::min(p, 100000); ++d) {
        int32_t n = 0;
        while (n < std::min(remaining, d) && input[p + n] == input[p - d + n]) ++n;
        if (n > best) best = n, best_distance = d;
      }
    }
    const int32_t limits[] = {0, 0, 0, 0, 127, 16383, 2097151, 268435455};
    if (best_distance != 0 && (best >= 8 || best_distance <= limits[best])) {
      out.push_back(marker);
      number(static_cast<uint32_t>(best));
      number(static_cast<uint32_t>(best_distance));
      p += best;
    } else {
      out.push_back(input[p]);
      if (input[p] == marker) out.push_back(0);
      ++p;
    }
  }
  for (; p < length; ++p) {
    out.push_back(input[p]);
    if (input[p] == marker) out.push_back(0);
  }
  return out;
}

TEST(LzEncode, ChoosesTheSameMatchesAsThePlainScan) {
  std::mt19937 random(99);
  for (int trial = 0; trial < 150; ++trial) {
    const int alphabet = 1 + trial % 6;
    Bytes input(random() % 1500);
    for (uint8_t& byte : input) byte = static_cast<uint8_t>(random() % alphabet);
    // Pasted repeats at assorted distances.
    for (int paste = 0; paste < 4 && input.size() > 64; ++paste) {
      const size_t from = random() % (input.size() - 32), to = random() % (input.size() - 32);
      std::copy_n(input.begin() + from, 4 + random() % 28, input.begin() + to);
    }
    ASSERT_EQ(encode(lz_encode, 2, input), plain_lz_encode(input)) << "trial " << trial;
  }
}

}  // namespace

TEST(LzEncode, WindowReachesBack100000Bytes) {
  std::mt19937 random(5);
  const Bytes pattern = text("ZRKWINDO");
  for (int32_t distance : {100000, 100001}) {
    Bytes input = pattern;
    while (static_cast<int32_t>(input.size()) < distance)
      input.push_back(static_cast<uint8_t>(random() % 64));  // no pattern letters
    input.insert(input.end(), pattern.begin(), pattern.end());
    const Bytes stream = encode(lz_encode, 2, input);
    const Bytes tail(stream.end() - 5, stream.end());
    if (distance == 100000) {
      EXPECT_EQ(tail, (Bytes{stream[0], 0x08, 0x86, 0x8D, 0x20})) << "distance " << distance;
    } else {
      EXPECT_EQ(tail, Bytes(pattern.end() - 5, pattern.end())) << "distance " << distance;
    }
    EXPECT_EQ(decode(2, stream, static_cast<int32_t>(input.size())), input);
  }
}
