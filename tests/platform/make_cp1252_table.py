#!/usr/bin/env python3
"""Prints the reference table of Windows-1252 used by text_test.cpp: the UTF-16 unit
of every byte, as Python's own cp1252 codec decodes it.

Python leaves five bytes undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D). The device's code
page maps each of them to the C1 control of the same value, so the script does too;
every other entry is Python's answer. Paste the output over the table in the test.
"""

UNDEFINED = {0x81, 0x8D, 0x8F, 0x90, 0x9D}


def unit_of(byte):
    try:
        text = bytes([byte]).decode("cp1252")
    except UnicodeDecodeError:
        assert byte in UNDEFINED, hex(byte)
        return byte
    assert len(text) == 1 and byte not in UNDEFINED
    return ord(text)


def main():
    units = [unit_of(byte) for byte in range(256)]
    print("constexpr char16_t kCp1252Reference[256] = {")
    for row in range(0, 256, 8):
        print("    " + " ".join(f"0x{unit:04X}," for unit in units[row:row + 8]))
    print("};")


if __name__ == "__main__":
    main()
