#!/usr/bin/env python3
"""The cosines the game's tables hold, from Python's math.cos, as hexadecimal floats:
256 lines for the 256-step table, then 361 for the degree table."""
import math
import sys

with open(sys.argv[1], "w") as out:
    for i in range(256):
        out.write(float.hex(math.cos(i * 6.28318530718 / 256)) + "\n")
    for x in range(361):
        out.write(float.hex(math.cos(x / 57.29577951307855)) + "\n")
