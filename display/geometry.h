// Points and rectangles of the display layer: signed 32-bit, right and bottom exclusive.
#pragma once

#include <cstdint>

namespace display {

struct Point {
    int32_t x;
    int32_t y;
};

struct Rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;

    bool empty() const { return right <= left || bottom <= top; }
};

// Larger left and top, smaller right and bottom; may come out empty.
inline Rect intersect(const Rect& a, const Rect& b) {
    return {a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
            a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
}

// The six values of a transformed blit: a, b, c, d in 1/1024, ox, oy in 1/65536 pixel.
struct TransformMatrix {
    int32_t a;
    int32_t b;
    int32_t c;
    int32_t d;
    int32_t ox;
    int32_t oy;
};

}  // namespace display
