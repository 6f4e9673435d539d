// String hashes and checksums. Every hash reads its bytes as signed 8-bit values and
// returns 31 bits; hash_name keys every name lookup of the runtime and the compiler.
#pragma once

#include <cstdint>

// h = h * 65599 + c over signed bytes, ANDed with 0x7FFFFFFF; 0 for no bytes.
uint32_t hash_name(const void* bytes, int32_t count);
// hash_name over a C string (null counts as empty).
uint32_t hash_name_text(const char* text);

// The other string hashes offered to scripts. Each reads count signed bytes (a null
// pointer or a count below 1 reads none) and returns its value ANDed with 0x7FFFFFFF.
uint32_t hash_rs(const void* bytes, int32_t count);    // h*a + c, a *= 378551
uint32_t hash_js(const void* bytes, int32_t count);    // empty: 1315423911
uint32_t hash_pjw(const void* bytes, int32_t count);
uint32_t hash_elf(const void* bytes, int32_t count);
uint32_t hash_bkdr(const void* bytes, int32_t count);  // h*131 + c
uint32_t hash_djb(const void* bytes, int32_t count);   // h*33 + c from 5381
uint32_t hash_ap(const void* bytes, int32_t count);

// The hash a script asks for by kind: 0 and 6 hash_name, 1 rs, 2 js, 3 pjw, 4 elf,
// 5 bkdr, 7 djb, 8 ap, 9 MD5 of the C string at text (count unused) read as a number
// and truncated to 32 bits. An unknown kind gives 0.
uint32_t hash_of_kind(const char* text, int32_t count, int32_t kind);

// MD5 as in RFC 1321. The context starts zero-filled; md5_init sets it up.
struct Md5Context {
  uint32_t bit_count[2];  // low word first
  uint32_t state[4];
  uint8_t buffer[64];
  uint8_t digest[16];
};
static_assert(sizeof(Md5Context) == 104);

void md5_init(Md5Context* context);
// Adds count bytes (none when count is below 1 or bytes is null).
void md5_update(Md5Context* context, const void* bytes, int32_t count);
// Pads, appends the bit count and leaves the result in digest.
void md5_final(Md5Context* context);
// One 64-byte block, read as sixteen little-endian words, folded into state.
void md5_transform(uint32_t state[4], const uint8_t block[64]);
// A new zero-filled 128-byte text (crt::malloc): "0x" and the digest as 32 lower-case hex
// digits. The caller frees it with crt::free.
char* md5_hex(const Md5Context* context);

// CRC-16 of the reflected polynomial 0x8005 from 0xFFFF, no final XOR (CRC-16/MODBUS);
// a length below 1 gives 0xFFFFFFFF.
uint32_t crc16_compute(const void* bytes, int32_t length);
// CRC-32 of the reflected polynomial 0x04C11DB7 from 0xFFFFFFFF without the final XOR
// (the complement of the usual CRC-32); a length below 1 gives 0xFFFFFFFF.
uint32_t crc32_compute(const void* bytes, int32_t length);
// crc32_compute over a C string (null counts as empty).
uint32_t crc32_text(const char* text);
