// String hashes and checksums. Every hash reads its bytes as signed 8-bit values and
// returns 31 bits; hash_name keys every name lookup of the runtime and the compiler.
#pragma once

#include <cstdint>

// h = h * 65599 + c over signed bytes, ANDed with 0x7FFFFFFF; 0 for no bytes.
uint32_t hash_name(const void* bytes, int32_t count);
// hash_name over a C string (null counts as empty).
uint32_t hash_name_text(const char* text);
