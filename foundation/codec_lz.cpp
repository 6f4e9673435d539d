// Method 2: literals and back references (length, distance) behind an escape marker,
// the numbers written as big-endian groups of 7 bits.
#include <cstring>
#include <memory>
#include <new>

#include "foundation/codec_stream.h"
#include "foundation/codecs.h"

namespace {

constexpr int32_t kWindow = 100000;
constexpr int32_t kShortestDistance = 3;
constexpr int32_t kHashBits = 16;
constexpr int32_t kNoPosition = -1;

void put_number(codec::ByteSink& sink, uint32_t value) {
  int groups = 1;
  while (groups < 5 && (value >> (7 * groups)) != 0) ++groups;
  for (int group = groups - 1; group > 0; --group)
    sink.put(static_cast<uint8_t>(0x80 | ((value >> (7 * group)) & 0x7F)));
  sink.put(static_cast<uint8_t>(value & 0x7F));
}

// Reads one number of 1 to 5 groups; more groups, or a cut number, fail the source.
uint64_t take_number(codec::ByteSource& source, bool& malformed) {
  uint64_t value = 0;
  for (int group = 0; group < 5; ++group) {
    const uint8_t byte = source.take();
    value = (value << 7) | (byte & 0x7F);
    if ((byte & 0x80) == 0) return value;
  }
  malformed = true;
  return 0;
}

// A reference must be shorter than the bytes it replaces.
bool worth_a_reference(int32_t length, int32_t distance) {
  switch (length) {
    case 4: return distance <= 127;
    case 5: return distance <= 16383;
    case 6: return distance <= 2097151;
    case 7: return distance <= 268435455;
    default: return length >= 8;
  }
}

uint32_t hash_of_four(const uint8_t* bytes) {
  uint32_t word;
  std::memcpy(&word, bytes, 4);
  return (word * 2654435761u) >> (32 - kHashBits);
}

// Length of the common prefix of a and b, at most `limit` bytes, knowing the first
// `known` bytes are equal.
int32_t common_length(const uint8_t* a, const uint8_t* b, int32_t known, int32_t limit) {
  int32_t length = known;
  while (length + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + length, 8);
    std::memcpy(&y, b + length, 8);
    if (x != y) break;
    length += 8;
  }
  while (length < limit && a[length] == b[length]) ++length;
  return length;
}

}  // namespace

// The match at each position is the longest one over every distance from 3 to 100,000,
// of equal lengths the nearest, each compared for at most min(remaining, distance)
// bytes. Only matches of 4 bytes or more count, so the candidates are found through
// chains of earlier positions with the same first four bytes, nearest first; the result
// is the same as scanning every distance.
int32_t lz_encode(const uint8_t* input, uint8_t* output, int32_t length, int32_t capacity) {
  if (length < 0 || capacity < 0) return kCodecFailed;
  if (length == 0) return 0;
  if (input == nullptr || output == nullptr) return kCodecFailed;
  std::unique_ptr<int32_t[]> heads(new (std::nothrow) int32_t[1 << kHashBits]);
  std::unique_ptr<int32_t[]> previous(new (std::nothrow) int32_t[length]);
  if (!heads || !previous) return kCodecFailed;
  for (int32_t i = 0; i < (1 << kHashBits); ++i) heads[i] = kNoPosition;

  const uint8_t marker = least_frequent_byte(input, length);
  codec::ByteSink sink(output, capacity);
  sink.put(marker);
  int32_t position = 0;
  int32_t chained = 0;  // positions below this are in the chains
  while (length - position > 3 && !sink.failed()) {
    const int32_t remaining = length - position;
    int32_t best_length = 3;
    int32_t best_distance = 0;
    // Chain every earlier position that has four bytes of its own.
    for (; chained < position; ++chained) {
      const uint32_t hash = hash_of_four(input + chained);
      previous[chained] = heads[hash];
      heads[hash] = chained;
    }
    const uint8_t* here = input + position;
    for (int32_t candidate = heads[hash_of_four(here)]; candidate != kNoPosition;
         candidate = previous[candidate]) {
      const int32_t distance = position - candidate;
      if (distance > kWindow) break;
      if (distance < kShortestDistance) continue;
      const int32_t limit = remaining < distance ? remaining : distance;
      if (limit <= best_length) continue;
      const uint8_t* there = input + candidate;
      // Longer than the best means equal through the byte at the best length.
      if (there[best_length] != here[best_length] ||
          std::memcmp(there, here, static_cast<size_t>(best_length)) != 0)
        continue;
      best_length = common_length(here, there, best_length + 1, limit);
      best_distance = distance;
      if (best_length == remaining) break;
    }
    if (best_distance != 0 && worth_a_reference(best_length, best_distance)) {
      sink.put(marker);
      put_number(sink, static_cast<uint32_t>(best_length));
      put_number(sink, static_cast<uint32_t>(best_distance));
      position += best_length;
    } else {
      if (input[position] == marker) {
        sink.put(marker);
        sink.put(0);
      } else {
        sink.put(input[position]);
      }
      ++position;
    }
  }
  for (; position < length; ++position) {
    sink.put(input[position]);
    if (input[position] == marker) sink.put(0);
  }
  return sink.failed() ? kCodecFailed : sink.count();
}

int32_t lz_decode(const uint8_t* input, uint8_t* output, int32_t input_length,
                  int32_t capacity) {
  return codec::decode_escaped(input, output, input_length, capacity,
                               [](codec::ByteSource& source, codec::ByteSink& sink, uint8_t marker) {
    if (source.peek() == 0) {
      source.take();  // fails the source when the stream ends after the marker
      sink.put(marker);
      return true;
    }
    bool malformed = false;
    const uint64_t copy_length = take_number(source, malformed);
    const uint64_t distance = take_number(source, malformed);
    if (source.failed() || malformed) return false;
    if (distance == 0 || distance > static_cast<uint64_t>(sink.count()) ||
        copy_length > static_cast<uint64_t>(sink.room())) {
      return false;
    }
    // Byte by byte: a reference may overlap the bytes it writes.
    uint8_t* out = sink.data() + sink.count();
    const uint8_t* from = out - distance;
    for (uint64_t i = 0; i < copy_length; ++i) out[i] = from[i];
    sink.advance(static_cast<int32_t>(copy_length));
    return true;
  });
}
