// Rectangle helpers of the game library (right and bottom exclusive).
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/kernel/saturate.h"
#include "platform/kernel/system_info.h"

using platform::clamp_to_int32;

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
