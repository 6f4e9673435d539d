// Collision masks and their overlap tests. An offset of b becomes a word shift into two
// neighbouring columns of a, so a row of 32 pixels is tested by one AND.
#include "game/collision_mask.h"

#include <algorithm>

#include "platform/kernel/memory.h"

namespace {

// Blocks of bits past 2 GB cannot exist in a 32-bit process; counting the words in 64 bits
// and refusing such masks keeps the count from wrapping into a small block that the
// pixels would then overrun.
constexpr uint64_t kLargestMaskWords = 0x7FFFFFFFu / sizeof(uint32_t);

}  // namespace

CollisionMask* mask_create(int32_t width, int32_t height) {
  if (width < 1 || height < 1) return nullptr;
  uint64_t words = ((uint64_t(width) - 1) / 32 + 1) * uint64_t(height);
  if (words > kLargestMaskWords) return nullptr;
  auto* mask = static_cast<CollisionMask*>(crt::calloc(1, sizeof(CollisionMask)));
  if (!mask) return nullptr;
  mask->width = width;
  mask->height = height;
  mask->bits = static_cast<uint32_t*>(crt::calloc(static_cast<size_t>(words), sizeof(uint32_t)));
  if (!mask->bits) {
    crt::free(mask);
    return nullptr;
  }
  return mask;
}

void mask_free(CollisionMask* mask) {
  if (!mask) return;
  crt::free(mask->bits);
  crt::free(mask);
}

void mask_clear(CollisionMask* mask) {
  std::fill_n(mask->bits, mask_columns(mask) * mask->height, 0u);
}

namespace {

// The bits of a mask's column that lie inside its width.
uint32_t column_bits(const CollisionMask* mask, int32_t column) {
  int32_t rest = mask->width - 32 * column;
  return rest >= 32 ? 0xFFFFFFFFu : (1u << rest) - 1;
}

enum class Scan { kAny, kFirst, kArea };

// The shared walk over the overlap of b at (x_off, y_off) >= (0, ...) in a. Bits beyond
// either width are masked off, so filled masks never reach outside their picture.
template <Scan kind>
int32_t scan_overlap(const CollisionMask* a, const CollisionMask* b, int32_t x_off, int32_t y_off, int32_t* x,
                     int32_t* y) {
  if (x_off >= a->width || y_off >= a->height || y_off <= -b->height) return 0;
  int32_t a_row = y_off < 0 ? 0 : y_off;
  int32_t b_row = y_off < 0 ? -y_off : 0;
  int32_t rows = y_off < 0 ? std::min(b->height + y_off, a->height) : std::min(b->height, a->height - y_off);
  int32_t a_columns = mask_columns(a);
  int32_t b_columns = mask_columns(b);
  int32_t start = x_off >> 5;
  int32_t shift = x_off & 31;
  int32_t area = 0;
  for (int32_t k = 0; k < b_columns; ++k) {
    int32_t column = start + k;
    if (column >= a_columns) break;
    const uint32_t* b_words = b->bits + k * b->height + b_row;
    const uint32_t* low_words = a->bits + column * a->height + a_row;
    bool has_high = shift != 0 && column + 1 < a_columns;
    const uint32_t* high_words = has_high ? a->bits + (column + 1) * a->height + a_row : nullptr;
    uint32_t b_mask = column_bits(b, k);
    uint32_t low_mask = column_bits(a, column);
    uint32_t high_mask = has_high ? column_bits(a, column + 1) : 0;
    for (int32_t r = 0; r < rows; ++r) {
      uint32_t word = b_words[r] & b_mask;
      if (!word) continue;
      uint32_t low = (word << shift) & low_words[r] & low_mask;
      uint32_t high = has_high ? (word >> (32 - shift)) & high_words[r] & high_mask : 0;
      if constexpr (kind == Scan::kArea) {
        area += bit_count32(low) + bit_count32(high);
      } else if (low || high) {
        if constexpr (kind == Scan::kFirst) {
          *y = a_row + r;
          *x = low ? 32 * column + __builtin_ctz(low) : 32 * (column + 1) + __builtin_ctz(high);
        }
        return 1;
      }
    }
  }
  return area;
}

// b lies wholly beside a: also keeps the offsets away from the negation of INT32_MIN.
bool misses(const CollisionMask* a, const CollisionMask* b, int32_t x_off, int32_t y_off) {
  return !a || !b || x_off >= a->width || x_off <= -b->width || y_off >= a->height || y_off <= -b->height;
}

}  // namespace

void mask_fill(CollisionMask* mask) {
  for (int32_t column = 0; column < mask_columns(mask); ++column) {
    std::fill_n(mask->bits + column * mask->height, mask->height, column_bits(mask, column));
  }
}

int32_t mask_overlap(const CollisionMask* a, const CollisionMask* b, int32_t x_off, int32_t y_off) {
  if (misses(a, b, x_off, y_off)) return 0;
  if (x_off < 0) return scan_overlap<Scan::kAny>(b, a, -x_off, -y_off, nullptr, nullptr);
  return scan_overlap<Scan::kAny>(a, b, x_off, y_off, nullptr, nullptr);
}

int32_t mask_overlap_pos(const CollisionMask* a, const CollisionMask* b, int32_t x_off, int32_t y_off,
                         int32_t* x, int32_t* y) {
  if (misses(a, b, x_off, y_off)) return 0;
  if (x_off < 0) {
    if (!scan_overlap<Scan::kFirst>(b, a, -x_off, -y_off, x, y)) return 0;
    *x += x_off;
    *y += y_off;
    return 1;
  }
  return scan_overlap<Scan::kFirst>(a, b, x_off, y_off, x, y);
}

int32_t mask_overlap_area(const CollisionMask* a, const CollisionMask* b, int32_t x_off, int32_t y_off) {
  if (misses(a, b, x_off, y_off)) return 0;
  if (x_off < 0) return scan_overlap<Scan::kArea>(b, a, -x_off, -y_off, nullptr, nullptr);
  return scan_overlap<Scan::kArea>(a, b, x_off, y_off, nullptr, nullptr);
}

void mask_draw(CollisionMask* a, const CollisionMask* b, int32_t x_off, int32_t y_off) {
  if (!a || !b) return;
  int32_t first_x = std::max(0, -x_off), last_x = std::min(b->width, a->width - x_off);
  int32_t first_y = std::max(0, -y_off), last_y = std::min(b->height, a->height - y_off);
  for (int32_t bx = first_x; bx < last_x; ++bx) {
    for (int32_t by = first_y; by < last_y; ++by) {
      if (mask_pixel(b, bx, by)) mask_set_pixel(a, bx + x_off, by + y_off);
    }
  }
}

// Octal digits: each 3-bit group holds its own count, pairs of groups are added, and the
// 6-bit sums are folded by the remainder modulo 63. The masks must cover all 32 bits;
// shortened ones lose the top bits and the sum must take every 6-bit group.
int32_t bit_count32(uint32_t value) {
  uint32_t t = value - ((value >> 1) & 0xDB6DB6DBu) - ((value >> 2) & 0x49249249u);
  t = (t + (t >> 3)) & 0xC71C71C7u;
  return static_cast<int32_t>(t % 63u);
}
