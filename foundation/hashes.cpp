// String hashes, MD5 and the CRC-16/CRC-32 checksums.
#include "foundation/hashes.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "foundation/conversion.h"
#include "foundation/numbers.h"
#include "platform/kernel/memory.h"

namespace {

constexpr uint32_t kLow31Bits = 0x7FFFFFFFu;

// Bytes count as -128..127, sign-extended into the 32-bit arithmetic: stored names and
// scripts' hash values depend on it.
inline uint32_t signed_byte(const void* bytes, int32_t index) {
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<const int8_t*>(bytes)[index]));
}

inline int32_t readable_count(const void* bytes, int32_t count) { return bytes && count > 0 ? count : 0; }

// Hashes of the form h = step(h, c) from a start value.
template <typename Step>
uint32_t fold_bytes(const void* bytes, int32_t count, uint32_t start, Step step) {
  uint32_t h = start;
  int32_t n = readable_count(bytes, count);
  for (int32_t i = 0; i < n; ++i) h = step(h, signed_byte(bytes, i));
  return h & kLow31Bits;
}

// pjw and elf differ only in how the top nibble is folded back.
template <bool kElf>
uint32_t fold_top_nibble(const void* bytes, int32_t count) {
  return fold_bytes(bytes, count, 0, [](uint32_t h, uint32_t c) {
    h = (h << 4) + c;
    uint32_t g = h & 0xF0000000u;
    if (g != 0) h = kElf ? (h ^ (g >> 24)) & ~g : (h ^ (g >> 24)) & 0x0FFFFFFFu;
    return h;
  });
}

template <typename Word, Word kReflectedPolynomial>
constexpr std::array<Word, 256> reflected_crc_table() {
  std::array<Word, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    Word value = static_cast<Word>(i);
    for (int bit = 0; bit < 8; ++bit) {
      value = static_cast<Word>((value & 1) ? (value >> 1) ^ kReflectedPolynomial : value >> 1);
    }
    table[i] = value;
  }
  return table;
}

constexpr auto kCrc16Table = reflected_crc_table<uint16_t, 0xA001>();
constexpr auto kCrc32Table = reflected_crc_table<uint32_t, 0xEDB88320u>();
static_assert(kCrc16Table[1] == 0xC0C1 && kCrc16Table[2] == 0xC181 && kCrc16Table[3] == 0x0140);
static_assert(kCrc32Table[1] == 0x77073096u);

}  // namespace

uint32_t hash_name(const void* bytes, int32_t count) {
  return fold_bytes(bytes, count, 0, [](uint32_t h, uint32_t c) { return h * 65599u + c; });
}

uint32_t hash_name_text(const char* text) {
  return text ? hash_name(text, static_cast<int32_t>(std::strlen(text))) : 0;
}

uint32_t hash_rs(const void* bytes, int32_t count) {
  uint32_t a = 63689;
  return fold_bytes(bytes, count, 0, [&a](uint32_t h, uint32_t c) {
    h = h * a + c;
    a *= 378551u;
    return h;
  });
}

uint32_t hash_js(const void* bytes, int32_t count) {
  return fold_bytes(bytes, count, 1315423911u, [](uint32_t h, uint32_t c) { return h ^ ((h << 5) + (h >> 2) + c); });
}

uint32_t hash_pjw(const void* bytes, int32_t count) { return fold_top_nibble<false>(bytes, count); }

uint32_t hash_elf(const void* bytes, int32_t count) { return fold_top_nibble<true>(bytes, count); }

uint32_t hash_bkdr(const void* bytes, int32_t count) {
  return fold_bytes(bytes, count, 0, [](uint32_t h, uint32_t c) { return h * 131u + c; });
}

uint32_t hash_djb(const void* bytes, int32_t count) {
  return fold_bytes(bytes, count, 5381, [](uint32_t h, uint32_t c) { return h * 33u + c; });
}

uint32_t hash_ap(const void* bytes, int32_t count) {
  uint32_t h = 0;
  int32_t n = readable_count(bytes, count);
  for (int32_t i = 0; i < n; ++i) {
    uint32_t c = signed_byte(bytes, i);
    h ^= (i & 1) == 0 ? ((h << 7) ^ c ^ (h >> 3)) : ~((h << 11) ^ c ^ (h >> 5));
  }
  return h & kLow31Bits;
}

uint32_t hash_of_kind(const char* text, int32_t count, int32_t kind) {
  switch (kind) {
    case 0:
    case 6:
      return hash_name(text, count);
    case 1:
      return hash_rs(text, count);
    case 2:
      return hash_js(text, count);
    case 3:
      return hash_pjw(text, count);
    case 4:
      return hash_elf(text, count);
    case 5:
      return hash_bkdr(text, count);
    case 7:
      return hash_djb(text, count);
    case 8:
      return hash_ap(text, count);
    case 9: {
      Md5Context context{};
      md5_init(&context);
      if (text) md5_update(&context, text, static_cast<int32_t>(std::strlen(text)));
      md5_final(&context);
      char* hex = md5_hex(&context);
      double number = text_to_number(hex);
      crt::free(hex);
      return static_cast<uint32_t>(truncate_to_int(number));
    }
    default:
      return 0;
  }
}

// ---- MD5 ----

namespace {

inline uint32_t rotate_left(uint32_t value, int amount) { return (value << amount) | (value >> (32 - amount)); }

constexpr int kShifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

inline uint32_t little_endian_word(const uint8_t* bytes) {
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

inline void store_little_endian(uint8_t* bytes, uint32_t word) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(word >> (8 * i));
}

}  // namespace

void md5_init(Md5Context* context) {
  context->bit_count[0] = context->bit_count[1] = 0;
  context->state[0] = 0x67452301;
  context->state[1] = 0xEFCDAB89;
  context->state[2] = 0x98BADCFE;
  context->state[3] = 0x10325476;
}

void md5_transform(uint32_t state[4], const uint8_t block[64]) {
  uint32_t words[16];
  for (int i = 0; i < 16; ++i) words[i] = little_endian_word(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int step = 0; step < 64; ++step) {
    int round = step / 16;
    uint32_t mixed;
    int word;
    switch (round) {
      case 0:
        mixed = (b & c) | (~b & d);
        word = step;
        break;
      case 1:
        mixed = (b & d) | (c & ~d);
        word = (5 * step + 1) % 16;
        break;
      case 2:
        mixed = b ^ c ^ d;
        word = (3 * step + 5) % 16;
        break;
      default:
        mixed = c ^ (b | ~d);
        word = (7 * step) % 16;
        break;
    }
    uint32_t next = b + rotate_left(a + mixed + kSines[step] + words[word], kShifts[round][step % 4]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

void md5_update(Md5Context* context, const void* bytes, int32_t count) {
  int32_t n = readable_count(bytes, count);
  if (n == 0) return;
  auto* input = static_cast<const uint8_t*>(bytes);
  uint32_t used = (context->bit_count[0] >> 3) & 0x3F;
  uint32_t added_bits = static_cast<uint32_t>(n) << 3;
  context->bit_count[0] += added_bits;
  if (context->bit_count[0] < added_bits) ++context->bit_count[1];
  context->bit_count[1] += static_cast<uint32_t>(n) >> 29;

  uint32_t room = 64 - used;
  uint32_t length = static_cast<uint32_t>(n);
  uint32_t i = 0;
  if (length >= room) {
    std::memcpy(context->buffer + used, input, room);
    md5_transform(context->state, context->buffer);
    for (i = room; i + 63 < length; i += 64) md5_transform(context->state, input + i);
    used = 0;
  }
  std::memcpy(context->buffer + used, input + i, length - i);
}

void md5_final(Md5Context* context) {
  uint8_t length_bytes[8];
  store_little_endian(length_bytes, context->bit_count[0]);
  store_little_endian(length_bytes + 4, context->bit_count[1]);
  uint32_t used = (context->bit_count[0] >> 3) & 0x3F;
  static const uint8_t kPadding[64] = {0x80};
  md5_update(context, kPadding, static_cast<int32_t>(used < 56 ? 56 - used : 120 - used));
  md5_update(context, length_bytes, 8);
  for (int i = 0; i < 4; ++i) store_little_endian(context->digest + 4 * i, context->state[i]);
}

char* md5_hex(const Md5Context* context) {
  auto* text = static_cast<char*>(crt::calloc(128, 1));
  if (!text) return nullptr;
  text[0] = '0';
  text[1] = 'x';
  for (int i = 0; i < 16; ++i) std::snprintf(text + 2 + 2 * i, 3, "%02x", context->digest[i]);
  return text;
}

// ---- CRCs ----

uint32_t crc16_compute(const void* bytes, int32_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  if (!bytes || length < 1) return crc;
  auto* input = static_cast<const uint8_t*>(bytes);
  for (int32_t i = 0; i < length; ++i) crc = kCrc16Table[(input[i] ^ crc) & 0xFF] ^ ((crc >> 8) & 0xFF);
  return crc;
}

uint32_t crc32_compute(const void* bytes, int32_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  if (!bytes || length < 1) return crc;
  auto* input = static_cast<const uint8_t*>(bytes);
  for (int32_t i = 0; i < length; ++i) crc = kCrc32Table[(input[i] ^ crc) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint32_t crc32_text(const char* text) {
  return text ? crc32_compute(text, static_cast<int32_t>(std::strlen(text))) : 0xFFFFFFFFu;
}
