#!/usr/bin/env python3
"""Makes the expected frames of loop_bounce.zrk from a simulation of its motion written
apart from the engine: a ball that reverses at the border, and boxes that fall under
gravity and rest on the border's bottom. Run in this folder after loop_bounce.expected
holds the step counts before each saved frame."""
import math
import re
import struct

SCREEN_W, SCREEN_H = 240, 320
BORDER = (0, 0, 80, 60)
GRAVITY = 0.25


class Box:
    def __init__(self, x, y, w, h, colour, mass=0.0, vx=0.0, vy=0.0, bounces=False):
        self.x, self.y, self.w, self.h, self.colour = float(x), float(y), w, h, colour
        self.mass, self.vx, self.vy, self.bounces = mass, vx, vy, bounces
        self.prev_y = 0.0

    def rect(self):
        left, top = math.trunc(self.x), math.trunc(self.y)
        return left, top, left + self.w, top + self.h


def step(box):
    px, py = math.trunc(box.x), math.trunc(box.y)
    step_gravity = 0.0
    if box.mass:
        g = (box.mass + 1) * GRAVITY
        step_gravity = g
        v = box.vy + g
        ny = math.trunc(box.y + v)
        if ny == math.trunc(box.y):
            box.vy = v
        elif ny + box.h > BORDER[3]:  # would reach below the bottom: it rests
            if box.prev_y != 0:
                box.y = box.prev_y
            box.vy = 0.0
        else:
            box.vy = v
    if box.vx or box.vy:
        box.x += box.vx
        box.y += box.vy
    if (math.trunc(box.x), math.trunc(box.y)) != (px, py):
        left, top, right, bottom = box.rect()
        if left < BORDER[0] or right > BORDER[2]:
            box.vx = -box.vx if box.bounces and abs(box.vx) >= step_gravity else 0.0
            box.x = px
        left, top, right, bottom = box.rect()
        if top < BORDER[1] or bottom > BORDER[3]:
            box.vy = -box.vy if box.bounces and abs(box.vy) >= step_gravity else 0.0
            box.y = py
    box.prev_y = float(math.trunc(box.y))


def scene():
    boxes = [Box(10, 10, 4, 4, 65535, vx=3, vy=2, bounces=True)]
    for i in range(3):
        boxes.append(Box(40 + i * 12, 5 + i * 8, 8, 6, 2016 + i * 31, mass=1.0))
    return boxes


def write_bmp(path, boxes):
    pixels = [[0] * SCREEN_W for _ in range(SCREEN_H)]
    for box in boxes:
        left, top, right, bottom = box.rect()
        for y in range(max(top, 0), min(bottom, SCREEN_H)):
            for x in range(max(left, 0), min(right, SCREEN_W)):
                pixels[y][x] = box.colour
    row = (2 * SCREEN_W + 3) & ~3
    image = row * SCREEN_H
    header = struct.pack("<2sIHHIIiiHHIIiiII", b"BM", 66 + image, 0, 0, 66, 40, SCREEN_W, SCREEN_H, 1, 16, 3,
                         image, 0, 0, 0, 0)
    header += struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    with open(path, "wb") as out:
        out.write(header)
        for y in reversed(range(SCREEN_H)):
            line = struct.pack("<%dH" % SCREEN_W, *pixels[y])
            out.write(line + b"\0" * (row - len(line)))


def main():
    counts = {}
    for line in open("loop_bounce.expected"):
        found = re.search(r"frame (\d+) after (\d+) steps", line)
        if found:
            counts[int(found.group(1))] = int(found.group(2))
    boxes, done = scene(), 0
    for frame in sorted(counts):
        while done < counts[frame]:
            for box in boxes:
                step(box)
            done += 1
        write_bmp("loop_bounce.frame%d.bmp.expected" % frame, boxes)


if __name__ == "__main__":
    main()
