#!/usr/bin/python3
"""Fixtures of display_frame.zrk and the frame it must show, composed with numpy from the
same drawing, independently of the engine: the VGA font from a Debian console font,
pictures made here (decoded with Pillow), blending and alpha weights by the RGB565
arithmetic of the display's blitters. The TrueType text's pixels are the glyph cells the
script saves (display_frame.text.bmp.expected, checked by the test itself); placing them
is composed here.

Run it with /usr/bin/python3 (numpy and Pillow from the distribution) in this folder."""
import gzip
import os

import numpy as np
from PIL import Image

here = os.path.dirname(os.path.abspath(__file__))
rng = np.random.default_rng(102)
MAGENTA = 0xF81F


def rgb565(rgb):
    r, g, b = (rgb[..., i].astype(np.uint32) for i in range(3))
    return ((r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3).astype(np.uint32)


# ---- Fixtures ----
with gzip.open("/usr/share/consolefonts/Lat15-VGA16.psf.gz", "rb") as psf:
    data = psf.read()
assert data[0] == 0x36 and data[1] == 0x04 and data[3] == 16, "not a PSF1 8x16 font"
font = data[4:4 + 256 * 16]
with open(os.path.join(here, "Vgarom.fnt"), "wb") as f:
    f.write(font)

picture = rng.integers(0, 256, size=(9, 13, 3), dtype=np.uint8)
Image.fromarray(picture, "RGB").save(os.path.join(here, "frame_picture.bmp"))

keyed = rng.integers(0, 256, size=(10, 12, 3), dtype=np.uint8)
keyed[2:8, 3:9] = (255, 0, 255)  # a transparent hole
Image.fromarray(keyed, "RGB").save(os.path.join(here, "frame_keyed.png"))

# Alpha weights: the green field's upper five bits, 0 (transparent) to 31, by column.
weights = np.zeros((9, 13, 3), dtype=np.uint8)
weights[..., 1] = (np.arange(13) * 21).clip(0, 255)[None, :]
Image.fromarray(weights, "RGB").save(os.path.join(here, "frame_weights.bmp"))

# ---- The frame ----
text_path = os.path.join(here, "display_frame.text.bmp.expected")
if not os.path.exists(text_path):
    raise SystemExit("run display_frame.zrk once to get its text.bmp, then run this again")


def read_bmp565(path):
    raw = open(path, "rb").read()
    offset = int.from_bytes(raw[10:14], "little")
    width = int.from_bytes(raw[18:22], "little", signed=True)
    height = int.from_bytes(raw[22:26], "little", signed=True)
    row = (2 * width + 3) & ~3
    rows = [np.frombuffer(raw, dtype="<u2", count=width, offset=offset + row * y) for y in range(abs(height))]
    image = np.array(rows, dtype=np.uint32)
    return image[::-1] if height > 0 else image


W, H = 240, 320
screen = np.full((H, W), 16, dtype=np.uint32)
screen[10:60, 10:110] = 0xF800
screen[10, 120:230] = screen[59, 120:230] = 0x07E0
screen[10:60, 120] = screen[10:60, 229] = 0x07E0
screen[70, 10:230] = 0xFFFF
screen[80:151, 5] = 0xFFE0
screen[300, 200] = 0xF81F

glyphs = np.unpackbits(np.frombuffer(font, dtype=np.uint8)).reshape(256, 16, 8)
for index, ch in enumerate("Zg~ VGA"):
    x = 10 + 8 * index
    lit = glyphs[ord(ch)] == 1
    screen[80:96, x:x + 8][lit] = 0xFFFF

# TrueType text: the saved cells, keyed by magenta, at (20, 200).
text = read_bmp565(text_path)
area = screen[200:200 + text.shape[0], 20:20 + text.shape[1]]
area[text != MAGENTA] = text[text != MAGENTA]

pic = rgb565(picture)
screen[100:109, 20:33] = pic
key = rgb565(keyed)
area = screen[100:110, 40:52]
area[key != MAGENTA] = key[key != MAGENTA]
# Twice the size: each source pixel covers two by two.
screen[100:118, 60:86] = pic.repeat(2, axis=0).repeat(2, axis=1)
# Mirrored left-right, only the left 10 columns shown.
screen[100:109, 100:110] = pic[:, ::-1][:, :10]


def spread(p):
    return (p & 0x07E0F81F) | ((p & 0x07E0) << 16)


def alpha_mix(s, d, weight):
    ds = spread(d)
    r = (ds + (((spread(s) - ds) & 0xFFFFFFFF) * weight >> 5)) & 0xFFFFFFFF
    return (r & 0xF81F) | ((r & 0x07E0F81F) >> 16)


weight = (rgb565(weights) >> 6) & 31
area = screen[100:109, 120:133]
mixed = alpha_mix(pic.astype(np.uint64), area.astype(np.uint64), weight.astype(np.uint64)).astype(np.uint32)
screen[100:109, 120:133] = np.where(weight != 0, mixed, area)


def level_mix(v, d, level):
    v, d = v.astype(np.int64), d.astype(np.int64)
    rb = (d & 0xF81F) + ((((v & 0xF81F) - (d & 0xF81F)) * (level >> 3)) >> 5)
    g = (d & 0x07E0) + ((((v & 0x07E0) - (d & 0x07E0)) * (level >> 2)) >> 6)
    return ((rb & 0xF81F) | (g & 0x07E0)).astype(np.uint32)


screen[150:180, 150:200] = level_mix(np.full((30, 50), 0xFFFF), screen[150:180, 150:200], 128)

# As the screenshot writes it: 24-bit, bottom-up, each field widened by repeating its top bits.
r, g, b = screen >> 11 & 31, screen >> 5 & 63, screen & 31
bgr = np.stack([(b << 3) | (b >> 2), (g << 2) | (g >> 4), (r << 3) | (r >> 2)], axis=-1).astype(np.uint8)
row_bytes = (W * 3 + 3) & ~3
header = b"BM" + (54 + row_bytes * H).to_bytes(4, "little") + bytes(4) + (54).to_bytes(4, "little")
header += (40).to_bytes(4, "little") + W.to_bytes(4, "little") + H.to_bytes(4, "little")
header += (1).to_bytes(2, "little") + (24).to_bytes(2, "little") + bytes(4) + (row_bytes * H).to_bytes(4, "little")
header += (3780).to_bytes(4, "little") * 2 + bytes(8)
rows = b"".join(bgr[y].tobytes() + bytes(row_bytes - 3 * W) for y in range(H - 1, -1, -1))
with open(os.path.join(here, "display_frame.screen.bmp.expected"), "wb") as f:
    f.write(header + rows)
