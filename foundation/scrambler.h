// The keyed byte scrambler: each unit of a buffer is shifted by the next character
// of a text key. It guards compiled program files, packages and the "encrypt" built-in.
#pragma once

#include <cstdint>

// The key of compiled program files; the writer scrambles with it (direction 1) after
// compressing and the reader unscrambles with it (direction 0) before decompressing.
inline constexpr char kCompiledFileKey[] = "ZRK:compiled-program/1";

// Shifts each byte by the next key character: subtracts when direction is non-zero, adds
// when it is 0 (mod 256). The key walk starts `start` characters in and wraps at its end.
// An empty or null key, or a length of 0 or less, leaves the buffer unchanged.
void scramble_bytes(uint8_t* buffer, int32_t length, const char* key, uint32_t direction,
                    uint32_t start);

// The same walk over 16-bit units; each result is cut to 8 bits and stored sign-extended
// (0x80-0xFF become 0xFF80-0xFFFF), so only units up to 0x7F survive a round trip.
void scramble_wide(char16_t* buffer, int32_t count, const char* key, uint32_t direction,
                   uint32_t start);
