#!/usr/bin/env python3
"""Fixtures and expected values for the game drawing tests, made independently of the
engine: flood fills from scipy's component labelling, an 8x16 VGA font taken from a
Debian console font with the pixels its text must light, and small BMP and PNG pictures
with their RGB565 values from Pillow.

Usage: make_drawing_fixtures.py OUTPUT   (OUTPUT names the fill cases; the other files
are written beside it)."""
import gzip
import os
import sys

import numpy as np
from PIL import Image
from scipy import ndimage

out_path = sys.argv[1]
folder = os.path.dirname(out_path)
rng = np.random.default_rng(26)

# Flood fill: random maps of a few colours; the filled region is the 4-connected
# component of the seed among pixels of the seed's value.
with open(out_path, "w") as out:
    cases = []
    for width, height, colours, count in [(7, 5, 2, 20), (33, 21, 2, 30), (64, 48, 3, 20), (240, 320, 2, 4)]:
        for _ in range(count):
            cases.append((width, height, colours))
    out.write(f"{len(cases)}\n")
    for width, height, colours in cases:
        values = rng.integers(0, colours, size=(height, width)) * 0x1111
        sx, sy = int(rng.integers(0, width)), int(rng.integers(0, height))
        labels, _ = ndimage.label(values == values[sy, sx])
        region = labels == labels[sy, sx]
        out.write(f"{width} {height} {sx} {sy}\n")
        out.write(" ".join(str(v) for v in values.flatten()) + "\n")
        out.write("".join("1" if r else "0" for r in region.flatten()) + "\n")

# The VGA font: the first 256 glyphs of a PSF1 8x16 console font, 16 bytes each.
with gzip.open("/usr/share/consolefonts/Lat15-VGA16.psf.gz", "rb") as psf:
    data = psf.read()
assert data[0] == 0x36 and data[1] == 0x04 and data[3] == 16, "not a PSF1 8x16 font"
font = data[4:4 + 256 * 16]
with open(os.path.join(folder, "Vgarom.fnt"), "wb") as f:
    f.write(font)

# The pixels "Zg~" lights at (3, 2) on a 40 x 24 picture, one row of 0/1 per line.
glyphs = np.unpackbits(np.frombuffer(font, dtype=np.uint8)).reshape(256, 16, 8)
picture = np.zeros((24, 40), dtype=np.uint8)
for index, ch in enumerate("Zg~"):
    x = 3 + 8 * index
    picture[2:18, x:x + 8] |= glyphs[ord(ch)]
with open(os.path.join(folder, "vga_text.txt"), "w") as f:
    f.write("\n".join("".join(str(v) for v in row) for row in picture) + "\n")

# Pictures: random colours, saved as 24-bit BMP and PNG, with their RGB565 values.
rgb = rng.integers(0, 256, size=(9, 13, 3), dtype=np.uint8)
Image.fromarray(rgb, "RGB").save(os.path.join(folder, "picture.bmp"))
Image.fromarray(rgb, "RGB").save(os.path.join(folder, "picture.png"))
r, g, b = (rgb[..., i].astype(np.int64) for i in range(3))
rgb565 = (r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3
with open(os.path.join(folder, "picture_565.txt"), "w") as f:
    f.write(f"{rgb.shape[1]} {rgb.shape[0]}\n" + " ".join(str(v) for v in rgb565.flatten()) + "\n")
