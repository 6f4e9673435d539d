// Method 1: a Shannon-Fano prefix code; the code tree, then the code of each byte, in
// one bit stream read from the most significant bit of each byte.
#include <algorithm>
#include <array>

#include "foundation/codecs.h"

namespace {

constexpr int kLongestCode = 32;
// A tree of 256 leaves has 255 inner nodes; the encoder writes no larger one.
constexpr int kMostNodes = 511;

// Appends bits to a buffer of fixed capacity; each byte is zeroed when first touched so
// the padding of the last byte is always zero bits.
class BitSink {
 public:
  BitSink(uint8_t* buffer, int32_t capacity) : buffer_(buffer), capacity_(capacity) {}

  void put(uint32_t bits, int count) {
    for (int i = count - 1; i >= 0; --i) put_bit((bits >> i) & 1);
  }
  void put_bit(uint32_t bit) {
    const int64_t byte = bit_count_ >> 3;
    if (byte >= capacity_) {
      failed_ = true;
      return;
    }
    const int shift = 7 - static_cast<int>(bit_count_ & 7);
    if (shift == 7) buffer_[byte] = 0;
    buffer_[byte] |= static_cast<uint8_t>(bit << shift);
    ++bit_count_;
  }
  bool failed() const { return failed_; }
  int32_t bytes_touched() const { return static_cast<int32_t>((bit_count_ + 7) >> 3); }

 private:
  uint8_t* buffer_;
  int64_t capacity_;
  int64_t bit_count_ = 0;
  bool failed_ = false;
};

class BitSource {
 public:
  BitSource(const uint8_t* buffer, int32_t length)
      : buffer_(buffer), bit_length_(static_cast<int64_t>(length) * 8) {}

  // The next bit, or -1 past the end.
  int take_bit() {
    if (position_ >= bit_length_) return -1;
    const int bit = (buffer_[position_ >> 3] >> (7 - (position_ & 7))) & 1;
    ++position_;
    return bit;
  }

 private:
  const uint8_t* buffer_;
  int64_t bit_length_;
  int64_t position_ = 0;
};

struct SymbolCount {
  uint32_t count;
  uint8_t symbol;
};

struct TreeWriter {
  const std::array<SymbolCount, 256>& entries;
  BitSink& sink;
  std::array<uint32_t, 256> codes{};
  std::array<int, 256> code_lengths{};
  bool too_deep = false;

  uint64_t sum(int low, int high) const {
    uint64_t total = 0;
    for (int i = low; i <= high; ++i) total += entries[i].count;
    return total;
  }

  // Writes the subtree of the entries low..high, whose path from the root is `code`.
  void write(int low, int high, uint32_t code, int depth) {
    if (low == high) {
      if (depth > kLongestCode) too_deep = true;
      sink.put_bit(1);
      sink.put(entries[low].symbol, 8);
      codes[entries[low].symbol] = code;
      code_lengths[entries[low].symbol] = depth;
      return;
    }
    sink.put_bit(0);
    const uint64_t total = sum(low, high);
    // The left group takes entries while its sum is below half; `high` stays right.
    int split = low;
    uint64_t left_sum = 0;
    while (left_sum < (total + 1) / 2 && split < high) left_sum += entries[split++].count;
    // Codes deeper than 32 bits are reported, not stored: the shift stays in range.
    const uint32_t left_code = depth < kLongestCode ? code << 1 : 0;
    if (left_sum != 0) {
      sink.put_bit(1);
      write(low, split - 1, left_code, depth + 1);
    } else {
      sink.put_bit(0);
    }
    if (total - left_sum != 0) {
      sink.put_bit(1);
      write(split, high, left_code | 1, depth + 1);
    } else {
      sink.put_bit(0);
    }
  }
};

struct TreeNode {
  int16_t child[2];  // -1: none
  int16_t symbol;    // -1: an inner node
};

struct TreeReader {
  BitSource& source;
  std::array<TreeNode, kMostNodes> nodes;
  int node_count = 0;

  // Reads one subtree at `depth`; returns its node index or -1 for a malformed tree.
  int read(int depth) {
    const int kind = source.take_bit();
    if (kind < 0 || node_count == kMostNodes || depth > kLongestCode) return -1;
    const int index = node_count++;
    nodes[index] = {{-1, -1}, -1};
    if (kind == 1) {
      int symbol = 0;
      for (int i = 0; i < 8; ++i) {
        const int bit = source.take_bit();
        if (bit < 0) return -1;
        symbol = (symbol << 1) | bit;
      }
      nodes[index].symbol = static_cast<int16_t>(symbol);
      return index;
    }
    for (int side = 0; side < 2; ++side) {
      const int present = source.take_bit();
      if (present < 0) return -1;
      if (present == 0) continue;
      const int child = read(depth + 1);
      if (child < 0) return -1;
      nodes[index].child[side] = static_cast<int16_t>(child);
    }
    return index;
  }
};

}  // namespace

int32_t shannon_fano_encode(const uint8_t* input, uint8_t* output, int32_t length,
                            int32_t capacity) {
  if (length < 0 || capacity < 0) return kCodecFailed;
  if (length == 0) return 0;
  if (input == nullptr || output == nullptr) return kCodecFailed;
  std::array<SymbolCount, 256> entries;
  for (int value = 0; value < 256; ++value)
    entries[value] = {0, static_cast<uint8_t>(value)};
  for (int32_t i = 0; i < length; ++i) ++entries[input[i]].count;
  std::stable_sort(entries.begin(), entries.end(),
                   [](const SymbolCount& a, const SymbolCount& b) { return a.count > b.count; });
  int last = 255;
  while (entries[last].count == 0) --last;
  // One distinct byte still gets a 1-bit code: its sibling is the empty second entry.
  if (last == 0) last = 1;

  BitSink sink(output, capacity);
  TreeWriter tree{entries, sink};
  tree.write(0, last, 0, 0);
  if (tree.too_deep) return kCodecFailed;
  for (int32_t i = 0; i < length && !sink.failed(); ++i)
    sink.put(tree.codes[input[i]], tree.code_lengths[input[i]]);
  return sink.failed() ? kCodecFailed : sink.bytes_touched();
}

// Walking the tree bit by bit finds the same leaf as testing the codes shortest first:
// the codes of a tree are free of prefixes.
int32_t shannon_fano_decode(const uint8_t* input, uint8_t* output, int32_t output_length,
                            int32_t input_length) {
  if (output_length < 0 || input_length < 0) return kCodecFailed;
  if (output_length == 0) return 0;
  if (input == nullptr || output == nullptr) return kCodecFailed;
  BitSource source(input, input_length);
  TreeReader tree{source, {}};
  if (tree.read(0) != 0) return kCodecFailed;
  const TreeNode* nodes = tree.nodes.data();
  for (int32_t i = 0; i < output_length; ++i) {
    int node = 0;
    while (nodes[node].symbol < 0) {
      const int bit = source.take_bit();
      if (bit < 0) return kCodecFailed;
      node = nodes[node].child[bit];
      if (node < 0) return kCodecFailed;  // a code the tree does not hold
    }
    output[i] = static_cast<uint8_t>(nodes[node].symbol);
  }
  return output_length;
}
