// Method 0: run-length coding behind the rarest byte value as an escape marker.
#include "foundation/codec_stream.h"
#include "foundation/codecs.h"

namespace {

constexpr int32_t kLongestRun = 32768;  // the 15-bit run item holds L = run - 1

}  // namespace

int32_t rle_encode(const uint8_t* input, uint8_t* output, int32_t length, int32_t capacity) {
  if (length < 0 || capacity < 0) return kCodecFailed;
  if (length == 0) return 0;
  if (input == nullptr || output == nullptr) return kCodecFailed;
  const uint8_t marker = least_frequent_byte(input, length);
  codec::ByteSink sink(output, capacity);
  sink.put(marker);
  int32_t position = 0;
  while (position < length && !sink.failed()) {
    const uint8_t value = input[position];
    int32_t run = 1;
    while (run < kLongestRun && position + run < length && input[position + run] == value)
      ++run;
    if (run >= 4) {
      const int32_t repeat = run - 1;
      sink.put(marker);
      if (repeat <= 127) {
        sink.put(static_cast<uint8_t>(repeat));
      } else {
        sink.put(static_cast<uint8_t>(0x80 | (repeat >> 8)));
        sink.put(static_cast<uint8_t>(repeat & 0xFF));
      }
      sink.put(value);
    } else if (value == marker) {
      sink.put(marker);
      sink.put(static_cast<uint8_t>(run - 1));
    } else {
      sink.fill(value, run);
    }
    position += run;
  }
  return sink.failed() ? kCodecFailed : sink.count();
}

int32_t rle_decode(const uint8_t* input, uint8_t* output, int32_t input_length,
                   int32_t capacity) {
  return codec::decode_escaped(input, output, input_length, capacity,
                               [](codec::ByteSource& source, codec::ByteSink& sink, uint8_t marker) {
    const uint8_t count = source.take();
    if (count <= 2) {
      sink.fill(marker, count + 1);
      return true;
    }
    int32_t repeat = count;
    if (count & 0x80) repeat = ((count & 0x7F) << 8) | source.take();
    const uint8_t value = source.take();
    if (source.failed()) return false;  // a cut run
    sink.fill(value, repeat + 1);
    return true;
  });
}
