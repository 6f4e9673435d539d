// crc16, crc32, hash and encrypt over the bytes of a script text. The algorithms are the
// runtime's shared ones; here are the argument order and the limits of each byte run.
#include "library/strings/checksum_builtins.h"

#include <cstdint>
#include <cstring>

#include "foundation/conversion.h"
#include "foundation/hashes.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/scrambler.h"
#include "foundation/value_stack.h"
#include "platform/platform.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

constexpr int32_t kMd5Kind = 9;

// The bytes a run may read of a cell's text: its heap block when it has one, else the
// text with its terminator. A script length past that would read foreign memory.
int32_t readable_bytes(const ValueCell* cell, const void* text) {
  if (!text) return 0;
  if (uint32_t block = alloc_block_size(text)) return static_cast<int32_t>(block);
  if (cell->flags & kCellWideText) {
    return static_cast<int32_t>((crt::wcslen(static_cast<const char16_t*>(text)) + 1) * sizeof(char16_t));
  }
  return static_cast<int32_t>(std::strlen(static_cast<const char*>(text)) + 1);
}

int32_t clamp_run(int32_t length, int32_t readable) { return length < readable ? length : readable; }

// crc16(data, length): CRC-16/MODBUS of the first length bytes; 65535 for none.
void builtin_crc16() {
  int32_t length = pop_integer();
  ValueCell* cell = stack_pop(current_program);
  const char* text = cell_text(cell);
  uint32_t crc = length < 1 ? crc16_compute(nullptr, 0) : crc16_compute(text, clamp_run(length, readable_bytes(cell, text)));
  stack_push_uint(crc & 0xFFFFu);
}

// crc32(data, length): CRC-32 without the final inversion; 4294967295 for none.
void builtin_crc32() {
  int32_t length = pop_integer();
  ValueCell* cell = stack_pop(current_program);
  const char* text = cell_text(cell);
  uint32_t crc = length < 1 ? crc32_compute(nullptr, 0) : crc32_compute(text, clamp_run(length, readable_bytes(cell, text)));
  stack_push_uint(crc);
}

// MD5 of the text up to its first zero byte (within its readable bytes), as 32
// lower-case hex digits.
char* md5_digest_text(const char* text, int32_t readable) {
  Md5Context context{};
  md5_init(&context);
  if (text) md5_update(&context, text, static_cast<int32_t>(strnlen(text, static_cast<size_t>(readable))));
  md5_final(&context);
  char* hex = md5_hex(&context);
  // md5_hex writes "0x" before the digits; a digest reads better without it.
  if (hex && hex[0] == '0' && hex[1] == 'x') std::memmove(hex, hex + 2, std::strlen(hex + 2) + 1);
  return hex;
}

// hash(kind, data, length): a 31-bit hash of the first length bytes by kind (0-8), or
// the MD5 digest text of the whole text (kind 9). Another kind gives 0.
void builtin_hash() {
  int32_t length = pop_integer();
  ValueCell* cell = stack_pop(current_program);
  int32_t kind = pop_integer();
  const char* text = cell_text(cell);
  if (kind == kMd5Kind) {
    push_owned_text(md5_digest_text(text, readable_bytes(cell, text)));
    return;
  }
  int32_t count = length < 1 ? 0 : clamp_run(length, readable_bytes(cell, text));
  stack_push_uint(hash_of_kind(text, count, kind) & 0x7FFFFFFFu);
}

// encrypt(data, length, key, mode): shifts the data's own characters by the key's, adding
// for mode 0 and subtracting otherwise. A length of -1 covers the whole heap block less
// its terminator, so characters scrambling turned into 0 are restored too.
void builtin_encrypt() {
  int32_t mode = pop_integer();
  ValueCell* key_cell = stack_pop(current_program);
  char* narrow_key = (key_cell->text && (key_cell->flags & kCellWideText))
                         ? to_narrow(cell_wide_text(key_cell))
                         : nullptr;
  const char* key = narrow_key ? narrow_key : cell_text(key_cell);
  int32_t length = pop_integer();
  ValueCell* cell = stack_pop(current_program);
  // A number has no text of its own to change.
  if (cell->text) {
    int32_t readable = readable_bytes(cell, cell->text);
    if (cell->flags & kCellWideText) {
      int32_t units = readable / static_cast<int32_t>(sizeof(char16_t)) - 1;
      if (length == -1 || length > units) length = units;
      scramble_wide(static_cast<char16_t*>(cell->text), length, key, static_cast<uint32_t>(mode), 0);
    } else {
      // A text keeps its terminator; a data block may be scrambled to its last byte.
      int32_t limit = (cell->flags & kCellList) ? readable : readable - 1;
      if (length == -1) length = readable - 1;
      if (length > limit) length = limit;
      scramble_bytes(static_cast<uint8_t*>(cell->text), length, key, static_cast<uint32_t>(mode), 0);
    }
  }
  crt::free(narrow_key);
}

}  // namespace

void register_checksum_builtins() {
  builtin_register("crc16", builtin_crc16);
  builtin_register("crc32", builtin_crc32);
  builtin_register("hash", builtin_hash);
  builtin_register("encrypt", builtin_encrypt);
}
