// Bounded byte and bit streams shared by the codecs: every read and write is checked
// against its buffer, and an overrun sticks as a failure instead of touching memory.
#pragma once

#include <cstdint>
#include <cstring>

#include "foundation/codecs.h"

namespace codec {

// Appends bytes to a buffer of fixed capacity; once full, further writes only mark failure.
class ByteSink {
 public:
  ByteSink(uint8_t* buffer, int32_t capacity) : buffer_(buffer), capacity_(capacity) {}

  void put(uint8_t byte) {
    if (count_ >= capacity_) {
      failed_ = true;
      return;
    }
    buffer_[count_++] = byte;
  }
  // Appends `count` copies of `byte`.
  void fill(uint8_t byte, int32_t count) {
    if (count > capacity_ - count_) {
      failed_ = true;
      return;
    }
    std::memset(buffer_ + count_, byte, static_cast<size_t>(count));
    count_ += count;
  }
  // Counts `count` bytes that the caller wrote itself after the current end (within room()).
  void advance(int32_t count) { count_ += count; }
  bool failed() const { return failed_; }
  int32_t count() const { return count_; }
  uint8_t* data() const { return buffer_; }
  int32_t room() const { return capacity_ - count_; }

 private:
  uint8_t* buffer_;
  int32_t capacity_;
  int32_t count_ = 0;
  bool failed_ = false;
};

// Reads bytes from a buffer of known length; reading past the end marks failure and yields 0.
class ByteSource {
 public:
  ByteSource(const uint8_t* buffer, int32_t length) : buffer_(buffer), length_(length) {}

  bool at_end() const { return position_ >= length_; }
  uint8_t take() {
    if (position_ >= length_) {
      failed_ = true;
      return 0;
    }
    return buffer_[position_++];
  }
  uint8_t peek() const { return position_ < length_ ? buffer_[position_] : 0; }
  bool failed() const { return failed_; }

 private:
  const uint8_t* buffer_;
  int32_t length_;
  int32_t position_ = 0;
  bool failed_ = false;
};

// Decodes a stream whose first byte is the escape marker: every other byte is a literal,
// and each marker hands the source and sink to escape(source, sink, marker), which
// returns false for a malformed sequence. Returns the bytes written or kCodecFailed for
// a cut, oversized or malformed stream.
template <typename Escape>
int32_t decode_escaped(const uint8_t* input, uint8_t* output, int32_t input_length, int32_t capacity,
                       Escape escape) {
  if (input_length < 0 || capacity < 0) return kCodecFailed;
  if (input_length == 0) return 0;
  if (input == nullptr || (output == nullptr && capacity > 0)) return kCodecFailed;
  ByteSource source(input, input_length);
  ByteSink sink(output, capacity);
  const uint8_t marker = source.take();
  bool malformed = false;
  while (!source.at_end() && !sink.failed() && !malformed) {
    const uint8_t byte = source.take();
    if (byte != marker) {
      sink.put(byte);
      continue;
    }
    malformed = !escape(source, sink, marker);
  }
  return source.failed() || sink.failed() || malformed ? kCodecFailed : sink.count();
}

}  // namespace codec
