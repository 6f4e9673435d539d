// String hashes and checksums.
#include "foundation/hashes.h"

#include <cstring>

uint32_t hash_name(const void* bytes, int32_t count) {
  auto* signed_bytes = static_cast<const int8_t*>(bytes);
  uint32_t h = 0;
  for (int32_t i = 0; i < count; ++i) h = h * 65599u + static_cast<uint32_t>(static_cast<int32_t>(signed_bytes[i]));
  return h & 0x7FFFFFFFu;
}

uint32_t hash_name_text(const char* text) {
  return text ? hash_name(text, static_cast<int32_t>(std::strlen(text))) : 0;
}
