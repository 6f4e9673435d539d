// Rectangle helpers of the game library (right and bottom exclusive).
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/kernel/system_info.h"

// A sum or product of script numbers (positions, sizes, offsets) held to 32 bits: a place
// beyond them is off every screen, and held at the limit it stays there instead of
// wrapping round to the other side. Values within the range come back as they are.
inline int32_t clamp_to_int32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// The common part of a and b; false (and an all-zero out) when they do not meet.
inline bool rect_intersection(const RECT& a, const RECT& b, RECT* out) {
  RECT common{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
  if (common.left >= common.right || common.top >= common.bottom) {
    *out = RECT{0, 0, 0, 0};
    return false;
  }
  *out = common;
  return true;
}

inline bool rects_intersect(const RECT& a, const RECT& b) {
  RECT unused;
  return rect_intersection(a, b, &unused);
}

inline bool rects_equal(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
