#!/usr/bin/python3
"""Makes the image fixtures of the display tests (tests/fixtures/images) with Pillow:
one small picture in each format the imaging component decodes, with odd sizes, a
palette, transparency and alpha. Run again only to change them; they are committed."""
import os
import sys

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "tests", "fixtures", "images")


def picture(width, height, seed):
    image = Image.new("RGB", (width, height))
    pixels = image.load()
    for y in range(height):
        for x in range(width):
            v = (x * 2654435761 ^ (y * 40503 + seed * 97)) & 0xFFFFFFFF
            v ^= v >> 13
            pixels[x, y] = ((v * 7) & 255, (v >> 8) & 255, (x * 255 // max(1, width - 1) + y) & 255)
    return image


def smooth(width, height):
    # Gradients: what a JPEG keeps within a step of the original.
    image = Image.new("RGB", (width, height))
    pixels = image.load()
    for y in range(height):
        for x in range(width):
            pixels[x, y] = (x * 255 // (width - 1), y * 255 // (height - 1), (x + y) * 255 // (width + height - 2))
    return image


def main():
    os.makedirs(OUT, exist_ok=True)
    picture(37, 21, 1).save(os.path.join(OUT, "rgb.png"))
    rgba = picture(19, 13, 2).convert("RGBA")
    alpha = rgba.load()
    for y in range(13):
        for x in range(19):
            r, g, b, _ = alpha[x, y]
            alpha[x, y] = (r, g, b, (0, 255, 128, 37)[(x + y) % 4])
    rgba.save(os.path.join(OUT, "alpha.png"))
    picture(23, 17, 3).quantize(colors=16).save(os.path.join(OUT, "palette.gif"))
    picture(29, 11, 4).save(os.path.join(OUT, "rgb24.bmp"))
    picture(16, 9, 5).quantize(colors=200).save(os.path.join(OUT, "palette8.bmp"))
    smooth(40, 24).save(os.path.join(OUT, "smooth.jpg"), quality=95, subsampling=0)
    return 0


if __name__ == "__main__":
    sys.exit(main())
