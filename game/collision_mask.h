// One-bit-per-pixel collision masks: 32 pixels of a row in one word, the words of a
// 32-pixel column stored top to bottom, columns left to right; overlap tests at an offset.
#pragma once

#include <cstdint>

struct CollisionMask {
  int32_t width;
  int32_t height;
  uint32_t* bits;  // ((width - 1) >> 5) + 1 columns of height words; owned
};
static_assert(sizeof(CollisionMask) == 12);

// A zero-filled mask; null when a side is below 1, when its bits would take more than
// 2 GB, or when memory runs out (nothing is left allocated).
CollisionMask* mask_create(int32_t width, int32_t height);
// Frees the bits, then the record. Null does nothing.
void mask_free(CollisionMask* mask);
// Every pixel clear / every pixel of the width solid (bits beyond the width stay clear).
void mask_clear(CollisionMask* mask);
void mask_fill(CollisionMask* mask);

// Words per column and the word that holds pixel (x, y).
inline int32_t mask_columns(const CollisionMask* mask) { return ((mask->width - 1) >> 5) + 1; }
inline bool mask_pixel(const CollisionMask* mask, int32_t x, int32_t y) {
  return (mask->bits[(x >> 5) * mask->height + y] >> (x & 31)) & 1;
}
inline void mask_set_pixel(CollisionMask* mask, int32_t x, int32_t y) {
  mask->bits[(x >> 5) * mask->height + y] |= 1u << (x & 31);
}

// b is placed with its top-left at (x_off, y_off) in a's coordinates.
// 1 when a solid pixel of b meets one of a.
int32_t mask_overlap(const CollisionMask* a, const CollisionMask* b, int32_t x_off, int32_t y_off);
// 1 and the first overlapping pixel in a's coordinates (a's 32-pixel columns left to
// right, rows top to bottom, lowest bit first), or 0.
int32_t mask_overlap_pos(const CollisionMask* a, const CollisionMask* b, int32_t x_off, int32_t y_off,
                         int32_t* x, int32_t* y);
// The number of overlapping pixels.
int32_t mask_overlap_area(const CollisionMask* a, const CollisionMask* b, int32_t x_off, int32_t y_off);
// ORs b into a at the offset (the part of b that falls inside a).
void mask_draw(CollisionMask* a, const CollisionMask* b, int32_t x_off, int32_t y_off);

// The number of set bits of a word.
int32_t bit_count32(uint32_t value);
