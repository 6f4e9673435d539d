// Drawing: pixels in every target format, fills, outlined shapes, lines and the block
// copies between contexts.
#include "platform/gdi/drawing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/gdi/gdi_state.h"
#include "platform/user/window_state.h"

namespace platform::gdi {

uint32_t encode(const Target& target, COLORREF colour) {
  uint32_t red = GetRValue(colour), green = GetGValue(colour), blue = GetBValue(colour);
  switch (target.bit_count) {
    case 16:
      if (target.rgb555) return ((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3);
      return ((red >> 3) << 11) | ((green >> 2) << 5) | (blue >> 3);
    case 24:
    case 32: return (red << 16) | (green << 8) | blue;
    case 1: return (red + green + blue) >= 384 ? 1 : 0;
    default: return 0;
  }
}

namespace {

COLORREF decode(const Target& target, uint32_t pixel) {
  switch (target.bit_count) {
    case 16: {
      if (target.rgb555) {
        uint32_t r = (pixel >> 10) & 31, g = (pixel >> 5) & 31, b = pixel & 31;
        return RGB(BYTE((r << 3) | (r >> 2)), BYTE((g << 3) | (g >> 2)), BYTE((b << 3) | (b >> 2)));
      }
      uint32_t r = (pixel >> 11) & 31, g = (pixel >> 5) & 63, b = pixel & 31;
      return RGB(BYTE((r << 3) | (r >> 2)), BYTE((g << 2) | (g >> 4)), BYTE((b << 3) | (b >> 2)));
    }
    case 24:
    case 32: return RGB(BYTE(pixel >> 16), BYTE(pixel >> 8), BYTE(pixel));
    case 1: return pixel ? RGB(255, 255, 255) : 0;
    default: return 0;
  }
}

uint8_t* row_of(const Target& target, int y) { return target.bits + ptrdiff_t(y) * target.stride; }

uint32_t read_raw(const Target& target, int x, int y) {
  uint8_t* row = row_of(target, y);
  switch (target.bit_count) {
    case 16: return reinterpret_cast<uint16_t*>(row)[x];
    case 24: return row[x * 3] | (row[x * 3 + 1] << 8) | (uint32_t(row[x * 3 + 2]) << 16);
    case 32: return reinterpret_cast<uint32_t*>(row)[x] & 0xFFFFFF;
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    default: return 0;
  }
}

bool inside_clip(const Target& target, int x, int y) {
  return x >= target.clip.left && x < target.clip.right && y >= target.clip.top && y < target.clip.bottom;
}

RECT clipped(const Target& target, RECT area) {
  RECT out;
  if (!IntersectRect(&out, &area, &target.clip)) SetRectEmpty(&out);
  return out;
}

}  // namespace

COLORREF read_pixel(const Target& target, int x, int y) { return decode(target, read_raw(target, x, y)); }

void write_pixel(const Target& target, int x, int y, uint32_t pixel) {
  uint8_t* row = row_of(target, y);
  switch (target.bit_count) {
    case 16: reinterpret_cast<uint16_t*>(row)[x] = uint16_t(pixel); break;
    case 24:
      row[x * 3] = uint8_t(pixel);
      row[x * 3 + 1] = uint8_t(pixel >> 8);
      row[x * 3 + 2] = uint8_t(pixel >> 16);
      break;
    case 32: reinterpret_cast<uint32_t*>(row)[x] = pixel; break;
    case 1:
      if (pixel) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
      else row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
      break;
    default: break;
  }
}

void fill_pixels(const Target& target, RECT area, COLORREF colour) {
  area = clipped(target, area);
  if (IsRectEmpty(&area)) return;
  uint32_t pixel = encode(target, colour);
  for (int y = area.top; y < area.bottom; ++y) {
    if (target.bit_count == 16) {
      uint16_t* row = reinterpret_cast<uint16_t*>(row_of(target, y));
      std::fill(row + area.left, row + area.right, uint16_t(pixel));
    } else {
      for (int x = area.left; x < area.right; ++x) write_pixel(target, x, y, pixel);
    }
  }
}

void blend_pixel(const Target& target, int x, int y, COLORREF colour, int coverage) {
  if (coverage <= 0 || !inside_clip(target, x, y)) return;
  if (coverage >= 255) {
    write_pixel(target, x, y, encode(target, colour));
    return;
  }
  COLORREF under = read_pixel(target, x, y);
  auto mix = [&](int top, int bottom) { return BYTE(bottom + ((top - bottom) * coverage + 127) / 255); };
  COLORREF mixed = RGB(mix(GetRValue(colour), GetRValue(under)), mix(GetGValue(colour), GetGValue(under)),
                       mix(GetBValue(colour), GetBValue(under)));
  write_pixel(target, x, y, encode(target, mixed));
}

}  // namespace platform::gdi

using namespace platform::gdi;

namespace {

// A drawing call's context resolved under the lock, which it holds for the call.
struct Drawing {
  std::unique_lock<std::recursive_mutex> hold{gdi_lock()};
  HDC dc = nullptr;
  Target target;
  bool ok = false;
  explicit Drawing(HDC context) : dc(context) {
    ok = live_context(dc) && resolve_target(dc, &target);
  }
  ~Drawing() {
    if (ok && dc->kind != ContextKind::Memory) platform::user::screen_changed();
  }
  int x(int logical) const { return logical + target.origin.x; }
  int y(int logical) const { return logical + target.origin.y; }
};

void plot(const Target& target, int x, int y, uint32_t pixel) {
  if (x >= target.clip.left && x < target.clip.right && y >= target.clip.top && y < target.clip.bottom) {
    write_pixel(target, x, y, pixel);
  }
}

// A pen dot: a square of the pen's width centred on the point.
void pen_dot(const Target& target, HGDIOBJ pen, int x, int y, uint32_t pixel) {
  if (pen->pen_width <= 1) {
    plot(target, x, y, pixel);
    return;
  }
  int half = pen->pen_width / 2;
  for (int dy = 0; dy < pen->pen_width; ++dy)
    for (int dx = 0; dx < pen->pen_width; ++dx) plot(target, x - half + dx, y - half + dy, pixel);
}

// A line in device coordinates, without its end point.
void draw_line(const Target& target, HGDIOBJ pen, int x0, int y0, int x1, int y1) {
  if (pen->hollow) return;
  uint32_t pixel = encode(target, pen->colour);
  int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int error = dx + dy;
  int step = 0;
  while (x0 != x1 || y0 != y1) {
    bool on = pen->pen_style != PS_DASH || (step / 6) % 2 == 0;
    if (on) pen_dot(target, pen, x0, y0, pixel);
    ++step;
    int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x0 += sx;
    }
    if (twice <= dx) {
      error += dx;
      y0 += sy;
    }
  }
}

void fill_span(const Target& target, int y, int left, int right, uint32_t pixel) {
  if (y < target.clip.top || y >= target.clip.bottom) return;
  left = std::max(left, int(target.clip.left));
  right = std::min(right, int(target.clip.right));
  for (int x = left; x < right; ++x) write_pixel(target, x, y, pixel);
}

bool known_operation(DWORD operation) {
  switch (operation) {
    case SRCCOPY: case SRCPAINT: case SRCAND: case SRCINVERT: case NOTSRCCOPY: case PATCOPY: case PATINVERT:
    case DSTINVERT: case BLACKNESS: case WHITENESS: return true;
    default: return false;
  }
}

uint32_t format_mask(const Target& target) {
  switch (target.bit_count) {
    case 16: return 0xFFFF;
    case 1: return 1;
    default: return 0xFFFFFF;
  }
}

// The result of a raster operation on one pixel (all values in the target's format).
uint32_t combine(DWORD operation, uint32_t source, uint32_t destination, uint32_t pattern, uint32_t mask) {
  switch (operation) {
    case SRCCOPY: return source;
    case SRCPAINT: return source | destination;
    case SRCAND: return source & destination;
    case SRCINVERT: return source ^ destination;
    case NOTSRCCOPY: return ~source & mask;
    case PATCOPY: return pattern;
    case PATINVERT: return pattern ^ destination;
    case DSTINVERT: return ~destination & mask;
    case BLACKNESS: return 0;
    case WHITENESS: return mask;
    default: return destination;
  }
}

bool uses_source(DWORD operation) {
  return operation != PATCOPY && operation != PATINVERT && operation != DSTINVERT && operation != BLACKNESS &&
         operation != WHITENESS;
}

// Copies with scaling; source coordinates come from the target pixel's position.
BOOL block_copy(HDC target_dc, int x, int y, int width, int height, HDC source_dc, int source_x, int source_y,
                int source_width, int source_height, DWORD operation) {
  if (!known_operation(operation)) return FALSE;
  Drawing draw(target_dc);
  if (!draw.ok) return FALSE;
  Target source;
  bool needs_source = uses_source(operation);
  if (needs_source && (!live_context(source_dc) || !resolve_target(source_dc, &source))) return FALSE;
  if (width == 0 || height == 0) return TRUE;
  // A negative extent on either side mirrors the copy.
  bool mirror_x = (width < 0) != (source_width < 0);
  bool mirror_y = (height < 0) != (source_height < 0);
  if (width < 0) { x += width; width = -width; }
  if (height < 0) { y += height; height = -height; }
  if (source_width < 0) { source_x += source_width; source_width = -source_width; }
  if (source_height < 0) { source_y += source_height; source_height = -source_height; }
  const Target& target = draw.target;
  RECT area = {draw.x(x), draw.y(y), draw.x(x) + width, draw.y(y) + height};
  RECT visible;
  if (!IntersectRect(&visible, &area, &target.clip)) return TRUE;
  uint32_t mask = format_mask(target);
  uint32_t pattern = encode(target, draw.dc->state.brush ? draw.dc->state.brush->colour : 0);
  int base_x = needs_source ? source_x + source.origin.x : 0;
  int base_y = needs_source ? source_y + source.origin.y : 0;
  bool plain = needs_source && operation == SRCCOPY && source.bit_count == target.bit_count &&
               source.rgb555 == target.rgb555 && source_width == width && source_height == height && !mirror_x &&
               !mirror_y && target.bit_count >= 8;
  // Pixels read in source order into a row first, so copies within one target overlap safely.
  std::vector<uint32_t> row(size_t(visible.right - visible.left));
  for (int ty = visible.top; ty < visible.bottom; ++ty) {
    int offset_y = ty - area.top;
    int sy = base_y + (mirror_y ? (height - 1 - offset_y) : offset_y) * source_height / height;
    bool source_row_ok = !needs_source || (sy >= 0 && sy < source.height);
    if (plain && source_row_ok) {
      int sx0 = base_x + (visible.left - area.left);
      int sx1 = sx0 + (visible.right - visible.left);
      int from = std::max(sx0, 0), to = std::min(sx1, source.width);
      if (from < to) {
        int bytes = target.bit_count / 8;
        std::memmove(row_of_target(target, ty) + (visible.left + (from - sx0)) * bytes,
                     source.bits + ptrdiff_t(sy) * source.stride + from * bytes, size_t(to - from) * bytes);
      }
      continue;
    }
    for (int tx = visible.left; tx < visible.right; ++tx) {
      uint32_t value = 0;
      if (needs_source) {
        int offset_x = tx - area.left;
        int sx = base_x + (mirror_x ? (width - 1 - offset_x) : offset_x) * source_width / width;
        if (!source_row_ok || sx < 0 || sx >= source.width) {
          row[size_t(tx - visible.left)] = UINT32_MAX;
          continue;
        }
        value = encode(target, read_pixel(source, sx, sy));
      }
      row[size_t(tx - visible.left)] = value;
    }
    for (int tx = visible.left; tx < visible.right; ++tx) {
      uint32_t value = row[size_t(tx - visible.left)];
      if (value == UINT32_MAX) continue;  // outside the source: left alone
      uint32_t destination = encode(target, read_pixel(target, tx, ty));
      write_pixel(target, tx, ty, combine(operation, value, destination, pattern, mask) & mask);
    }
  }
  return TRUE;
}

}  // namespace

namespace platform::gdi {
uint8_t* row_of_target(const Target& target, int y) { return target.bits + ptrdiff_t(y) * target.stride; }
}  // namespace platform::gdi

int FillRect(HDC dc, LPCRECT rect, HBRUSH brush) {
  Drawing draw(dc);
  // A brush may also be a system colour index + 1, as window classes give it.
  uintptr_t value = reinterpret_cast<uintptr_t>(brush);
  if (value > 0 && value <= 32) brush = GetSysColorBrush(int(value - 1));
  if (!draw.ok || !rect || !live_object(brush) || brush->type != OBJ_BRUSH) return FALSE;
  if (brush->hollow) return TRUE;
  fill_pixels(draw.target, {draw.x(rect->left), draw.y(rect->top), draw.x(rect->right), draw.y(rect->bottom)},
              brush->colour);
  return TRUE;
}

int FrameRect(HDC dc, LPCRECT rect, HBRUSH brush) {
  Drawing draw(dc);
  if (!draw.ok || !rect || !live_object(brush) || brush->type != OBJ_BRUSH) return FALSE;
  if (IsRectEmpty(rect) || brush->hollow) return TRUE;
  int left = draw.x(rect->left), top = draw.y(rect->top), right = draw.x(rect->right), bottom = draw.y(rect->bottom);
  fill_pixels(draw.target, {left, top, right, top + 1}, brush->colour);
  fill_pixels(draw.target, {left, bottom - 1, right, bottom}, brush->colour);
  fill_pixels(draw.target, {left, top, left + 1, bottom}, brush->colour);
  fill_pixels(draw.target, {right - 1, top, right, bottom}, brush->colour);
  return TRUE;
}

BOOL Rectangle(HDC dc, int left, int top, int right, int bottom) {
  Drawing draw(dc);
  if (!draw.ok) return FALSE;
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  HGDIOBJ pen = draw.dc->state.pen, brush = draw.dc->state.brush;
  int l = draw.x(left), t = draw.y(top), r = draw.x(right), b = draw.y(bottom);
  int inset = pen->hollow ? 0 : std::max(1, pen->pen_width / 2 + 1) - 0;
  if (!brush->hollow) fill_pixels(draw.target, {l + inset, t + inset, r - inset, b - inset}, brush->colour);
  if (!pen->hollow) {
    int w = std::min(pen->pen_width, std::max(1, std::min(r - l, b - t)));
    fill_pixels(draw.target, {l, t, r, t + w}, pen->colour);
    fill_pixels(draw.target, {l, b - w, r, b}, pen->colour);
    fill_pixels(draw.target, {l, t, l + w, b}, pen->colour);
    fill_pixels(draw.target, {r - w, t, r, b}, pen->colour);
  }
  return TRUE;
}

BOOL RoundRect(HDC dc, int left, int top, int right, int bottom, int, int) {
  return Rectangle(dc, left, top, right, bottom);
}

BOOL Ellipse(HDC dc, int left, int top, int right, int bottom) {
  Drawing draw(dc);
  if (!draw.ok) return FALSE;
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  if (right - left < 1 || bottom - top < 1) return TRUE;
  HGDIOBJ pen = draw.dc->state.pen, brush = draw.dc->state.brush;
  const Target& target = draw.target;
  double cx = (left + right - 1) / 2.0, cy = (top + bottom - 1) / 2.0;
  double rx = (right - left) / 2.0, ry = (bottom - top) / 2.0;
  // The span of each row: the pixels whose centres lie inside the ellipse.
  int rows = bottom - top;
  auto span = [&](int i) {
    double dy = (top + i - cy) / ry;
    double half = dy * dy >= 1 ? 0 : rx * std::sqrt(1 - dy * dy);
    int start = int(std::lround(cx - half + 0.5 - 1e-9));
    int end = int(std::lround(cx + half + 0.5 - 1e-9));
    return std::pair<int, int>{start, std::max(end, start + 1)};
  };
  // Only the rows on the target are drawn: an ellipse of any height costs no more than
  // the target's.
  int64_t device_top = int64_t(top) + target.origin.y;
  int first = int(std::clamp<int64_t>(int64_t(target.clip.top) - device_top, 0, rows));
  int last = int(std::clamp<int64_t>(int64_t(target.clip.bottom) - device_top, first, rows));
  if (!brush->hollow) {
    uint32_t fill = encode(target, brush->colour);
    for (int i = first; i < last; ++i) {
      auto [start, end] = span(i);
      fill_span(target, draw.y(top + i), draw.x(start), draw.x(end), fill);
    }
  }
  if (!pen->hollow) {
    uint32_t outline = encode(target, pen->colour);
    for (int i = first; i < last; ++i) {
      // Each row's ends, widened to meet the next row's so the outline has no gaps.
      auto [start, end] = span(i);
      int inner_start = start + 1, inner_end = end - 1;
      for (int j : {i - 1, i + 1}) {
        if (j < 0 || j >= rows) {
          inner_start = end;
          inner_end = start;
          continue;
        }
        auto [next_start, next_end] = span(j);
        inner_start = std::max(inner_start, next_start);
        inner_end = std::min(inner_end, next_end);
      }
      int y = draw.y(top + i);
      if (inner_start >= inner_end) {
        fill_span(target, y, draw.x(start), draw.x(end), outline);
      } else {
        fill_span(target, y, draw.x(start), draw.x(inner_start), outline);
        fill_span(target, y, draw.x(inner_end), draw.x(end), outline);
      }
    }
  }
  return TRUE;
}

BOOL Polygon(HDC dc, const POINT* points, int count) {
  Drawing draw(dc);
  if (!draw.ok || !points || count < 2) return FALSE;
  HGDIOBJ pen = draw.dc->state.pen, brush = draw.dc->state.brush;
  const Target& target = draw.target;
  if (!brush->hollow) {
    // Even-odd scan conversion at pixel centres.
    int low = points[0].y, high = points[0].y;
    for (int i = 1; i < count; ++i) {
      low = std::min(low, int(points[i].y));
      high = std::max(high, int(points[i].y));
    }
    uint32_t fill = encode(target, brush->colour);
    std::vector<double> crossings;
    for (int y = low; y < high; ++y) {
      double centre = y + 0.5;
      crossings.clear();
      for (int i = 0; i < count; ++i) {
        POINT a = points[i], b = points[(i + 1) % count];
        if ((a.y <= centre) == (b.y <= centre)) continue;
        crossings.push_back(a.x + (centre - a.y) * double(b.x - a.x) / double(b.y - a.y));
      }
      std::sort(crossings.begin(), crossings.end());
      for (size_t i = 0; i + 1 < crossings.size(); i += 2) {
        int from = int(std::ceil(crossings[i] - 0.5)), to = int(std::ceil(crossings[i + 1] - 0.5));
        fill_span(target, draw.y(y), draw.x(from), draw.x(to), fill);
      }
    }
  }
  for (int i = 0; i < count; ++i) {
    POINT a = points[i], b = points[(i + 1) % count];
    draw_line(target, pen, draw.x(a.x), draw.y(a.y), draw.x(b.x), draw.y(b.y));
  }
  return TRUE;
}

BOOL Polyline(HDC dc, const POINT* points, int count) {
  Drawing draw(dc);
  if (!draw.ok || !points || count < 2) return FALSE;
  for (int i = 0; i + 1 < count; ++i) {
    draw_line(draw.target, draw.dc->state.pen, draw.x(points[i].x), draw.y(points[i].y), draw.x(points[i + 1].x),
              draw.y(points[i + 1].y));
  }
  return TRUE;
}

BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc)) return FALSE;
  if (previous) *previous = dc->state.position;
  dc->state.position = {x, y};
  return TRUE;
}

BOOL LineTo(HDC dc, int x, int y) {
  Drawing draw(dc);
  if (!draw.ok) return FALSE;
  POINT from = draw.dc->state.position;
  draw_line(draw.target, draw.dc->state.pen, draw.x(from.x), draw.y(from.y), draw.x(x), draw.y(y));
  draw.dc->state.position = {x, y};
  return TRUE;
}

COLORREF SetPixel(HDC dc, int x, int y, COLORREF colour) {
  Drawing draw(dc);
  if (!draw.ok) return CLR_INVALID;
  int dx = draw.x(x), dy = draw.y(y);
  if (dx < draw.target.clip.left || dx >= draw.target.clip.right || dy < draw.target.clip.top ||
      dy >= draw.target.clip.bottom) {
    return CLR_INVALID;
  }
  write_pixel(draw.target, dx, dy, encode(draw.target, colour));
  return read_pixel(draw.target, dx, dy);
}

COLORREF GetPixel(HDC dc, int x, int y) {
  std::lock_guard hold(gdi_lock());
  Target target;
  if (!live_context(dc) || !resolve_target(dc, &target)) return CLR_INVALID;
  int dx = x + target.origin.x, dy = y + target.origin.y;
  if (dx < target.clip.left || dx >= target.clip.right || dy < target.clip.top || dy >= target.clip.bottom) {
    return CLR_INVALID;
  }
  return read_pixel(target, dx, dy);
}

BOOL BitBlt(HDC target, int x, int y, int width, int height, HDC source, int source_x, int source_y, DWORD operation) {
  return block_copy(target, x, y, width, height, source, source_x, source_y, width, height, operation);
}

BOOL StretchBlt(HDC target, int x, int y, int width, int height, HDC source, int source_x, int source_y,
                int source_width, int source_height, DWORD operation) {
  if (uses_source(operation) && (source_width == 0 || source_height == 0)) return FALSE;
  return block_copy(target, x, y, width, height, source, source_x, source_y, source_width, source_height, operation);
}

BOOL PatBlt(HDC dc, int x, int y, int width, int height, DWORD operation) {
  if (uses_source(operation)) return FALSE;
  return block_copy(dc, x, y, width, height, nullptr, 0, 0, width, height, operation);
}

BOOL DrawEdge(HDC dc, LPRECT rect, UINT edge, UINT flags) {
  if (!rect) return FALSE;
  RECT area = *rect;
  auto line = [&](const RECT& box, COLORREF top_left, COLORREF bottom_right) {
    HBRUSH light = CreateSolidBrush(top_left), dark = CreateSolidBrush(bottom_right);
    RECT side;
    if (flags & 0x2) { side = {box.left, box.top, box.right, box.top + 1}; FillRect(dc, &side, light); }
    if (flags & 0x1) { side = {box.left, box.top, box.left + 1, box.bottom}; FillRect(dc, &side, light); }
    if (flags & 0x8) { side = {box.left, box.bottom - 1, box.right, box.bottom}; FillRect(dc, &side, dark); }
    if (flags & 0x4) { side = {box.right - 1, box.top, box.right, box.bottom}; FillRect(dc, &side, dark); }
    DeleteObject(light);
    DeleteObject(dark);
  };
  COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT), shadow = GetSysColor(COLOR_BTNSHADOW);
  COLORREF dark = GetSysColor(COLOR_3DDKSHADOW), light = GetSysColor(COLOR_3DLIGHT);
  if (edge & (BDR_RAISEDOUTER | BDR_SUNKENOUTER)) {
    bool raised = edge & BDR_RAISEDOUTER;
    line(area, raised ? light : shadow, raised ? dark : highlight);
    InflateRect(&area, -1, -1);
  }
  if (edge & (BDR_RAISEDINNER | BDR_SUNKENINNER)) {
    bool raised = edge & BDR_RAISEDINNER;
    line(area, raised ? highlight : dark, raised ? shadow : light);
  }
  return TRUE;
}

BOOL DrawFocusRect(HDC dc, LPCRECT rect) {
  if (!rect) return FALSE;
  if (IsRectEmpty(rect)) return TRUE;
  // One dot of each side, the dots of the whole frame alternating along its perimeter.
  auto invert = [dc](int x, int y) {
    COLORREF colour = GetPixel(dc, x, y);
    if (colour != CLR_INVALID) SetPixel(dc, x, y, colour ^ 0xFFFFFF);
  };
  int right = rect->right - 1, bottom = rect->bottom - 1;
  for (int x = rect->left; x <= right; x += 2) {
    invert(x, rect->top);
    if (bottom != rect->top) invert(x, bottom);
  }
  for (int y = rect->top + 2; y < bottom; y += 2) {
    invert(rect->left, y);
    if (right != rect->left) invert(right, y);
  }
  return TRUE;
}
