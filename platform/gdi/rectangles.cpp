// Rectangle helpers (right and bottom exclusive).
#include <algorithm>
#include <cstdint>

#include "platform/gdi/gdi_types.h"
#include "platform/kernel/saturate.h"

BOOL SetRect(LPRECT rect, int left, int top, int right, int bottom) {
  if (!rect) return FALSE;
  *rect = {left, top, right, bottom};
  return TRUE;
}

BOOL SetRectEmpty(LPRECT rect) { return SetRect(rect, 0, 0, 0, 0); }

BOOL CopyRect(LPRECT target, LPCRECT source) {
  if (!target || !source) return FALSE;
  *target = *source;
  return TRUE;
}

BOOL IsRectEmpty(LPCRECT rect) { return !rect || rect->right <= rect->left || rect->bottom <= rect->top; }

BOOL PtInRect(LPCRECT rect, POINT point) {
  return rect && point.x >= rect->left && point.x < rect->right && point.y >= rect->top && point.y < rect->bottom;
}

namespace {

// An edge moved by delta, held at the ends of the 32-bit range rather than wrapping past them.
LONG moved_edge(LONG edge, int64_t delta) {
  return platform::clamp_to_int32(int64_t{edge} + delta);
}

}  // namespace

BOOL OffsetRect(LPRECT rect, int dx, int dy) {
  if (!rect) return FALSE;
  rect->left = moved_edge(rect->left, dx);
  rect->right = moved_edge(rect->right, dx);
  rect->top = moved_edge(rect->top, dy);
  rect->bottom = moved_edge(rect->bottom, dy);
  return TRUE;
}

BOOL InflateRect(LPRECT rect, int dx, int dy) {
  if (!rect) return FALSE;
  rect->left = moved_edge(rect->left, -int64_t{dx});
  rect->right = moved_edge(rect->right, dx);
  rect->top = moved_edge(rect->top, -int64_t{dy});
  rect->bottom = moved_edge(rect->bottom, dy);
  return TRUE;
}

BOOL IntersectRect(LPRECT target, LPCRECT first, LPCRECT second) {
  if (!target || !first || !second) return FALSE;
  RECT out{std::max(first->left, second->left), std::max(first->top, second->top),
           std::min(first->right, second->right), std::min(first->bottom, second->bottom)};
  if (IsRectEmpty(&out)) {
    SetRectEmpty(target);
    return FALSE;
  }
  *target = out;
  return TRUE;
}

BOOL UnionRect(LPRECT target, LPCRECT first, LPCRECT second) {
  if (!target || !first || !second) return FALSE;
  if (IsRectEmpty(first)) {
    *target = *second;
  } else if (IsRectEmpty(second)) {
    *target = *first;
  } else {
    *target = {std::min(first->left, second->left), std::min(first->top, second->top),
               std::max(first->right, second->right), std::max(first->bottom, second->bottom)};
  }
  return !IsRectEmpty(target);
}

BOOL EqualRect(LPCRECT first, LPCRECT second) {
  return first && second && first->left == second->left && first->top == second->top &&
         first->right == second->right && first->bottom == second->bottom;
}
