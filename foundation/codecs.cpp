// What the three codecs share: the marker choice and the capacity a caller must provide.
#include "foundation/codecs.h"

uint8_t least_frequent_byte(const uint8_t* input, int32_t length) {
  uint32_t counts[256] = {};
  for (int32_t i = 0; i < length; ++i) ++counts[input[i]];
  int marker = 0;
  for (int value = 1; value < 256; ++value)
    if (counts[value] < counts[marker]) marker = value;
  return static_cast<uint8_t>(marker);
}

int64_t codec_encoded_capacity(int32_t method, int32_t length) {
  if (length < 0) return -1;
  const int64_t bytes = length;
  switch (method) {
    case 0:
    case 2:
      // Only a marker byte of the input grows (to two bytes), and the marker is the
      // rarest value, so at most one byte in 256 is one.
      return 1 + bytes + bytes / 256 + 1;
    case 1:
      // A tree of at most 256 leaves (9 bits) and 255 inner nodes (3 bits), then codes
      // of at most 32 bits each.
      return 385 + 4 * bytes;
    default:
      return -1;
  }
}
