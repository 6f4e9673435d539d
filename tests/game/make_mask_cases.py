#!/usr/bin/env python3
"""Random collision-mask cases checked by brute force with numpy.

Each line: seed a_width a_height b_width b_height density x_off y_off overlap area
first_x first_y. Pixel i of a mask (row-major; b numbered after a) is solid when
mix(seed ^ (i * 0x9E3779B1)) % 100 < density, mix being the 32-bit finaliser of
MurmurHash3; the unit test draws the masks the same way. first_x and first_y are 0 when nothing overlaps.
"""
import random
import sys

import numpy as np


def mix(h):
    h = h ^ (h >> np.uint32(16))
    h = h * np.uint32(0x85EBCA6B)
    h = h ^ (h >> np.uint32(13))
    h = h * np.uint32(0xC2B2AE35)
    return h ^ (h >> np.uint32(16))


def make_masks(seed, aw, ah, bw, bh, density):
    index = np.arange(aw * ah + bw * bh, dtype=np.uint32)
    with np.errstate(over="ignore"):
        values = mix(np.uint32(seed) ^ (index * np.uint32(0x9E3779B1)))
    solid = values % np.uint32(100) < density
    return solid[:aw * ah].reshape(ah, aw), solid[aw * ah:].reshape(bh, bw)


def overlap_map(a, b, x_off, y_off):
    """Boolean map in a's coordinates of the pixels where both are solid."""
    ah, aw = a.shape
    bh, bw = b.shape
    placed = np.zeros_like(a)
    x0, y0 = max(0, x_off), max(0, y_off)
    x1, y1 = min(aw, x_off + bw), min(ah, y_off + bh)
    if x0 < x1 and y0 < y1:
        placed[y0:y1, x0:x1] = b[y0 - y_off:y1 - y_off, x0 - x_off:x1 - x_off]
    return a & placed


def first_position(a, b, x_off, y_off):
    """The scan order of the mask test: for a negative x offset the masks swap roles;
    otherwise b's 32-pixel columns left to right, rows top to bottom, the part in a's
    column before the part in the next one, lowest bit first."""
    if x_off < 0:
        found = first_position(b, a, -x_off, -y_off)
        return None if found is None else (found[0] + x_off, found[1] + y_off)
    ys, xs = np.nonzero(overlap_map(a, b, x_off, y_off))
    if len(xs) == 0:
        return None
    k = (xs - x_off) >> 5
    part = (xs >> 5) - ((x_off >> 5) + k)
    order = np.lexsort((xs & 31, part, ys, k))
    return int(xs[order[0]]), int(ys[order[0]])


def main():
    rng = random.Random(20261210)
    lines = []
    for case in range(3000):
        seed = rng.randrange(1, 2**32)
        aw, ah, bw, bh = (rng.randint(1, 70) for _ in range(4))
        density = rng.choice([2, 10, 50, 95])
        kind = case % 10
        if kind < 8:
            x_off = rng.randint(-bw - 3, aw + 3)
            y_off = rng.randint(-bh - 3, ah + 3)
        elif kind == 8:
            x_off = rng.choice([-1, 1]) * rng.randint(100, 100000)
            y_off = rng.randint(-bh, ah)
        else:
            x_off = rng.choice([-2**31, 2**31 - 1, -bw, aw, 0])
            y_off = rng.choice([-2**31, 2**31 - 1, -bh, ah, 0])
        a, b = make_masks(seed, aw, ah, bw, bh, density)
        both = overlap_map(a, b, x_off, y_off) if abs(x_off) < 1000 and abs(y_off) < 1000 else np.zeros((1, 1), bool)
        area = int(both.sum())
        first = first_position(a, b, x_off, y_off) if area else None
        fx, fy = first if first else (0, 0)
        lines.append(f"{seed} {aw} {ah} {bw} {bh} {density} {x_off} {y_off} {int(area > 0)} {area} {fx} {fy}\n")
    with open(sys.argv[1], "w") as out:
        out.writelines(lines)


if __name__ == "__main__":
    main()
