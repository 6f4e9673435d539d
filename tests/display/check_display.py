#!/usr/bin/python3
"""Checks the display library against independent oracles: numpy turns of the drawn
picture for every orientation of every simulated device, Pillow's decoding of the image
fixtures, and a struct reading of the BMP files savesurface writes.
Usage: check_display.py PROBE FIXTURES WORKDIR"""
import glob
import os
import struct
import subprocess
import sys

import numpy as np
from PIL import Image

# Drivers found on each device, in the order found: 1 GDI, 2 GETGXINFO, 3 GAPI,
# 4 StrongARM, 5 XScale, 6 Imageon, 7 MediaQ, 8 raw frame buffer.
EXPECTED_DRIVERS = {
    "pocketpc": [1, 3, 5], "ipaq3800": [1, 3, 4], "vga": [1, 8], "gapi-o1": [1, 3], "gapi-o2": [1, 3],
    "gapi-dram": [1, 3], "gapi-fault": [1], "gxinfo": [1, 2], "raw-o1": [1, 8], "raw-o2": [1, 8],
    "raw-o3": [1, 8], "imageon": [1, 6], "mediaq": [1, 3, 7], "gdi": [1],
}

failures = []


def fail(message):
    failures.append(message)
    print("FAIL:", message)


def read_bin(path):
    with open(path, "rb") as f:
        width, height = struct.unpack("<II", f.read(8))
        pixels = np.frombuffer(f.read(), dtype="<u2")
    if pixels.size != width * height:
        raise ValueError(path + ": wrong pixel count")
    return pixels.reshape(height, width)


def check_frames(probe, work):
    out = os.path.join(work, "frames")
    os.makedirs(out, exist_ok=True)
    subprocess.run([probe, "frames", out], check=True)
    for profile, expected in EXPECTED_DRIVERS.items():
        with open(os.path.join(out, profile + ".ids")) as f:
            found = [int(v) for v in f.read().split()]
        if found != expected:
            fail(f"{profile}: drivers {found}, expected {expected}")
        shown = sorted(int(p.rsplit("-o", 1)[1].split("-")[0])
                       for p in glob.glob(os.path.join(out, profile + "-o*-drawn.bin")))
        wanted = [0, 1, 2, 3]
        if shown != wanted:
            fail(f"{profile}: frames shown in orientations {shown}, expected {wanted}")
        for orientation in shown:
            stem = os.path.join(out, f"{profile}-o{orientation}")
            drawn, panel = read_bin(stem + "-drawn.bin"), read_bin(stem + "-panel.bin")
            turned = np.rot90(drawn, orientation)
            if turned.shape != panel.shape or not np.array_equal(turned, panel):
                bad = "shape" if turned.shape != panel.shape else int(np.count_nonzero(turned != panel))
                fail(f"{profile} orientation {orientation}: the panel differs from rot90 of the drawing ({bad})")


def rgb565(rgba):
    a = rgba[..., 3].astype(np.uint32)
    # Alpha over black, as drawing a decoded image into a new surface does.
    r, g, b = ((rgba[..., i].astype(np.uint32) * a + 127) // 255 for i in range(3))
    return (((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3)).astype(np.uint16)


def check_decoding(probe, fixtures, work):
    out = os.path.join(work, "decoded")
    os.makedirs(out, exist_ok=True)
    files = sorted(glob.glob(os.path.join(fixtures, "*")))
    if len(files) < 6:
        fail("image fixtures missing")
    subprocess.run([probe, "decode", out] + files, check=True)
    for path in files:
        name = os.path.basename(path)
        expected = rgb565(np.asarray(Image.open(path).convert("RGBA")))
        try:
            got = read_bin(os.path.join(out, name + ".bin"))
        except FileNotFoundError:
            fail(f"{name}: not decoded")
            continue
        if got.shape != expected.shape:
            fail(f"{name}: size {got.shape}, Pillow {expected.shape}")
            continue
        if name.endswith(".jpg"):
            # Two JPEG decoders agree within a step of each channel.
            for shift, mask in ((11, 31), (5, 63), (0, 31)):
                step = np.abs(((got >> shift) & mask).astype(int) - ((expected >> shift) & mask).astype(int))
                if step.max() > 1:
                    fail(f"{name}: a channel differs from Pillow by {step.max()}")
        elif not np.array_equal(got, expected):
            fail(f"{name}: {int(np.count_nonzero(got != expected))} pixels differ from Pillow's")


def check_saved(probe, work):
    out = os.path.join(work, "saved")
    os.makedirs(out, exist_ok=True)
    subprocess.run([probe, "save", out], check=True)
    for name in ("three_by_two", "odd", "even"):
        pixels = read_bin(os.path.join(out, name + ".bin"))
        height, width = pixels.shape
        with open(os.path.join(out, name + ".bmp"), "rb") as f:
            data = f.read()
        row = (2 * width + 3) & ~3
        fields = struct.unpack("<2sIIIIiiHHIIiiIIIII", data[:66])
        (magic, size, reserved, offset, header, w, h, planes, bits, compression, image_size,
         _, _, _, _, red, green, blue) = fields
        wanted = (b"BM", 66 + row * height, 0, 66, 40, width, height, 1, 16, 3, row * height,
                  0xF800, 0x07E0, 0x001F)
        got = (magic, size, reserved, offset, header, w, h, planes, bits, compression, image_size, red, green, blue)
        if got != wanted or len(data) != 66 + row * height:
            fail(f"{name}.bmp: header {got}, expected {wanted}")
            continue
        for y in range(height):
            start = 66 + (height - 1 - y) * row
            line = np.frombuffer(data[start:start + 2 * width], dtype="<u2")
            if not np.array_equal(line, pixels[y]) or any(data[start + 2 * width:start + row]):
                fail(f"{name}.bmp: row {y} differs")
                break
    if name == "three_by_two" and os.path.getsize(os.path.join(out, "three_by_two.bmp")) != 82:
        fail("a 3x2 surface is not 82 bytes")


def main():
    probe, fixtures, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    check_frames(probe, work)
    check_decoding(probe, fixtures, work)
    check_saved(probe, work)
    print("failures:", len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
