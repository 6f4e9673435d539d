#!/usr/bin/python3
"""Writes the reference tables the foundation tests check hashes, checksums and
conversions against, computed with Python's own libraries (zlib, hashlib, crcmod,
the cp1252 codec, '%f' formatting) and the published hash recurrences.

Usage: make_reference_tables.py OUTPUT

Each line is one case: a kind word and its fields, separated by tabs. Byte strings and
UTF-16 texts are hex ('-' when empty); numbers are the 16 hex digits of the double's bits.
"""
import hashlib
import random
import struct
import sys
import unicodedata
import zlib

import crcmod.predefined

MASK32 = 0xFFFFFFFF
crc16_modbus = crcmod.predefined.mkCrcFun('modbus')


def signed(data):
    """Bytes as the signed values -128..127, seen in 32-bit unsigned arithmetic."""
    return [(b - 256 if b >= 128 else b) & MASK32 for b in data]


def sdbm(data):  # the published form: h = c + (h << 6) + (h << 16) - h
    h = 0
    for c in signed(data):
        h = (c + (h << 6) + (h << 16) - h) & MASK32
    return h & 0x7FFFFFFF


def rs(data):
    a, b, h = 63689, 378551, 0
    for c in signed(data):
        h = (h * a + c) & MASK32
        a = (a * b) & MASK32
    return h & 0x7FFFFFFF


def js(data):
    h = 1315423911
    for c in signed(data):
        h ^= ((h << 5) + c + (h >> 2)) & MASK32
    return h & 0x7FFFFFFF


def pjw(data, elf):
    h = 0
    for c in signed(data):
        h = ((h << 4) + c) & MASK32
        g = h & 0xF0000000
        if g:
            h = (h ^ (g >> 24)) & ((~g & MASK32) if elf else 0x0FFFFFFF)
    return h & 0x7FFFFFFF


def multiply(data, start, factor):
    h = start
    for c in signed(data):
        h = (h * factor + c) & MASK32
    return h & 0x7FFFFFFF


def ap(data):
    h = 0
    for i, c in enumerate(signed(data)):
        if i % 2 == 0:
            h ^= ((h << 7) ^ c ^ (h >> 3)) & MASK32
        else:
            h ^= ~((h << 11) ^ c ^ (h >> 5)) & MASK32
    return h & 0x7FFFFFFF


def md5_kind_of_hash(data):
    """The script hash of kind 9: the MD5 text "0x..." read as a hex number into 64 bits
    that keep the last 16 digits, as a signed double, then truncated to 32 bits."""
    value = int(hashlib.md5(data).hexdigest()[-16:], 16)
    if value >= 2**63:
        value -= 2**64
    truncated = int(float(value))
    truncated = max(-2**63, min(2**63 - 1, truncated))
    return truncated & MASK32


def hexbytes(data):
    return data.hex() if data else '-'


def hexunits(text):
    return text.encode('utf-16-le').hex() if text else '-'


def random_bytes(rng, length, allow_zero=True):
    low = 0 if allow_zero else 1
    # Half the strings lean on bytes with the high bit set.
    if rng.random() < 0.5:
        return bytes(rng.randint(max(low, 0x80), 0xFF) if rng.random() < 0.7 else rng.randint(low, 0x7F)
                     for _ in range(length))
    return bytes(rng.randint(low, 0xFF) for _ in range(length))


def byte_cases(rng, count):
    cases = [b'', b'\xe9', b'123456789', b'A', bytes(range(256)), b'\xff' * 300]
    cases += [random_bytes(rng, n) for n in range(1, 140)]  # every MD5 padding position
    for _ in range(count):
        roll = rng.random()
        length = rng.randint(0, 48) if roll < 0.8 else rng.randint(0, 300) if roll < 0.98 else rng.randint(0, 3000)
        cases.append(random_bytes(rng, length))
    return cases


def ansi_decode(data):
    """cp1252; its five unassigned bytes stand for the C1 controls of the same value."""
    out = []
    for b in data:
        try:
            out.append(bytes([b]).decode('cp1252'))
        except UnicodeDecodeError:
            out.append(chr(b))
    return ''.join(out)


def ansi_encode_unit(ch):
    try:
        return ch.encode('cp1252')
    except UnicodeEncodeError:
        if 0x80 <= ord(ch) <= 0x9F and ansi_decode(bytes([ord(ch)])) == ch:
            return bytes([ord(ch)])
        return b'?'


# Combining marks the composite check is asked about: some make cp1252 letters, some not.
MARKS = [0x300, 0x301, 0x302, 0x303, 0x304, 0x306, 0x308, 0x30A, 0x30C, 0x327, 0x328]


def ansi_encode(text):
    """A letter and the combining mark after it become the composed letter when cp1252 has
    it, else the mark is dropped; characters cp1252 lacks become '?'."""
    out = b''
    i = 0
    while i < len(text):
        ch = text[i]
        if i + 1 < len(text) and 0x300 <= ord(text[i + 1]) <= 0x36F:
            composed = unicodedata.normalize('NFC', ch + text[i + 1])
            encoded = ansi_encode_unit(composed) if len(composed) == 1 else b'?'
            out += encoded if encoded != b'?' else ansi_encode_unit(ch)
            i += 2
            continue
        out += ansi_encode_unit(ch)
        i += 1
    return out


def random_wide_text(rng, length):
    pools = [lambda: chr(rng.randint(1, 0x7F)),
             lambda: ansi_decode(bytes([rng.randint(0x80, 0xFF)])),
             lambda: chr(rng.choice([0x100, 0x3A9, 0x416, 0x20AC, 0x2122, 0x4E2D, 0xFB01, 0x2603, 0xFFFD])),
             lambda: chr(rng.choice([rng.randint(0x100, 0x2FF), rng.randint(0x370, 0xD7FF)])),
             lambda: rng.choice('AEIOUYaeiouyCcNnSsZz') + chr(rng.choice(MARKS))]
    return ''.join(rng.choice(pools)() for _ in range(length))


def random_double(rng):
    choice = rng.randrange(8)
    if choice == 0:
        return float(rng.randint(-10**9, 10**9))
    if choice == 1:
        return rng.uniform(-1000, 1000)
    if choice == 2:  # six-decimal rounding boundaries
        return (rng.randint(-10**7, 10**7) + 0.5) / 10**6
    if choice == 3:
        return rng.uniform(-1, 1) * 10.0 ** rng.randint(-12, 22)
    if choice == 4:
        return rng.uniform(-1, 1) * 10.0 ** rng.randint(22, 308)
    if choice == 5:
        return rng.randint(0, 10**6) / 1000.0
    while True:  # any finite bit pattern, subnormals included
        value = struct.unpack('<d', struct.pack('<Q', rng.getrandbits(64)))[0]
        if value == value and abs(value) != float('inf'):
            return value


def stripped_f(value):
    text = '%f' % value
    if '.' in text:
        text = text.rstrip('0').rstrip('.')
    return text


def double_bits(value):
    return '%016x' % struct.unpack('<Q', struct.pack('<d', value))[0]


def main():
    rng = random.Random(20261209)
    lines = []
    for data in byte_cases(rng, 3000):
        h = hexbytes(data)
        lines.append('hash_name\t%s\t%08x' % (h, sdbm(data)))
        lines.append('hash_rs\t%s\t%08x' % (h, rs(data)))
        lines.append('hash_js\t%s\t%08x' % (h, js(data)))
        lines.append('hash_pjw\t%s\t%08x' % (h, pjw(data, False)))
        lines.append('hash_elf\t%s\t%08x' % (h, pjw(data, True)))
        lines.append('hash_bkdr\t%s\t%08x' % (h, multiply(data, 0, 131)))
        lines.append('hash_djb\t%s\t%08x' % (h, multiply(data, 5381, 33)))
        lines.append('hash_ap\t%s\t%08x' % (h, ap(data)))
        lines.append('md5\t%s\t%s' % (h, hashlib.md5(data).hexdigest()))
        if data:  # both checksums answer 0xFFFFFFFF for no bytes, not the library's value
            lines.append('crc32\t%s\t%08x' % (h, zlib.crc32(data) ^ MASK32))
            lines.append('crc16\t%s\t%08x' % (h, crc16_modbus(data)))

    for data in byte_cases(rng, 300):
        text = data.replace(b'\0', b'')
        lines.append('hash_kind9\t%s\t%08x' % (hexbytes(text), md5_kind_of_hash(text)))

    specials = [0.0, -0.0, 1.0, -1.0, 3.5, 2.0, 100.0, 0.1234567, -0.0000001, 1e20, 0.5, 1e-7, 5e-7,
                4.9999999e-7, 0.0000005, 1e308, -1e308, 1.7976931348623157e308, 5e-324, 2.0**63, 2.0**64,
                123456789.123456789, 0.1, 0.2, 0.3, 1.0 / 3.0, 2.0 / 3.0, 999999.9999995, 1234.5000005]
    for value in specials + [random_double(rng) for _ in range(4000)]:
        lines.append('number\t%s\t%s' % (double_bits(value), stripped_f(value)))

    wide_cases = [bytes(range(1, 256))] + [random_bytes(rng, rng.randint(0, 60), allow_zero=False)
                                           for _ in range(2000)]
    for data in wide_cases:
        lines.append('to_wide\t%s\t%s' % (hexbytes(data), hexunits(ansi_decode(data))))
    narrow_cases = [ansi_decode(bytes(range(1, 256)))] + [random_wide_text(rng, rng.randint(0, 40))
                                                          for _ in range(2000)]
    for text in narrow_cases:
        lines.append('to_narrow\t%s\t%s' % (hexunits(text), hexbytes(ansi_encode(text))))

    with open(sys.argv[1], 'w', encoding='ascii') as output:
        output.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
