// Bounded byte and bit streams shared by the codecs: every read and write is checked
// against its buffer, and an overrun sticks as a failure instead of touching memory.
#pragma once

#include <cstdint>
#include <cstring>

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

}  // namespace codec
