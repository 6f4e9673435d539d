// The keyed byte scrambler over bytes and over 16-bit units.
#include "foundation/scrambler.h"

#include <cstring>

namespace {

// Applies the key walk to `count` units, handing each unit and its key character to
// `shift`. Stepping `start` times around a key of L characters lands on start mod L.
template <typename Unit, typename Shift>
void walk_key(Unit* buffer, int32_t count, const char* key, uint32_t start, Shift shift) {
  if (buffer == nullptr || key == nullptr || count <= 0) return;
  const size_t key_length = std::strlen(key);
  // An empty key shifts by its terminating zero: nothing changes.
  if (key_length == 0) return;
  size_t index = start % key_length;
  for (int32_t i = 0; i < count; ++i) {
    buffer[i] = shift(buffer[i], static_cast<uint8_t>(key[index]));
    if (++index == key_length) index = 0;
  }
}

}  // namespace

void scramble_bytes(uint8_t* buffer, int32_t length, const char* key, uint32_t direction,
                    uint32_t start) {
  walk_key(buffer, length, key, start, [direction](uint8_t unit, uint8_t shift) {
    return static_cast<uint8_t>(direction != 0 ? unit - shift : unit + shift);
  });
}

void scramble_wide(char16_t* buffer, int32_t count, const char* key, uint32_t direction,
                   uint32_t start) {
  walk_key(buffer, count, key, start, [direction](char16_t unit, uint8_t shift) {
    const uint32_t result = direction != 0 ? unit - shift : unit + shift;
    // The low byte, sign-extended back to 16 bits.
    return static_cast<char16_t>(static_cast<int16_t>(static_cast<int8_t>(result & 0xFF)));
  });
}
