// The image decoder over stb_image, limited to the four formats the device decodes.
#include "platform/media/image_decoder.h"

#include <cstdlib>
#include <cstring>
#include <new>

#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_GIF
#define STBI_ONLY_BMP
#define STBI_NO_FAILURE_STRINGS
// Every size the decoder reads is checked against this before memory is taken.
#define STBI_MAX_DIMENSIONS 8192
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

namespace platform {

namespace {

uint32_t little32(const uint8_t* at) { return uint32_t(at[0] | at[1] << 8 | at[2] << 16) | uint32_t(at[3]) << 24; }

// The decoder reads missing BMP rows as black; a file must hold every row it declares.
bool bmp_holds_its_rows(const uint8_t* data, size_t size) {
  if (size < 2 || data[0] != 'B' || data[1] != 'M') return true;
  if (size < 34) return false;
  uint32_t offset = little32(data + 10);
  int32_t width = int32_t(little32(data + 18)), height = int32_t(little32(data + 22));
  uint32_t bits = uint32_t(data[28] | data[29] << 8), compression = little32(data + 30);
  if (compression != 0 && compression != 3) return true;  // compressed rows have no fixed size
  if (width <= 0 || height == 0 || bits == 0 || bits > 32) return false;
  uint64_t rows = height < 0 ? uint64_t(-int64_t(height)) : uint64_t(height);
  uint64_t stride = (uint64_t(width) * bits + 31) / 32 * 4;
  return uint64_t(offset) + stride * rows <= size;
}

// The bytes handed to the decoder through its reading callbacks: the decoder then never
// moves a pointer of its own past the end (a chunk length of 2 GB would wrap it).
struct MemoryReader {
  const uint8_t* data;
  size_t size;
  size_t position;
};

int read_bytes(void* user, char* out, int wanted) {
  auto* reader = static_cast<MemoryReader*>(user);
  size_t left = reader->size - reader->position;
  size_t count = wanted > 0 && size_t(wanted) < left ? size_t(wanted) : (wanted > 0 ? left : 0);
  std::memcpy(out, reader->data + reader->position, count);
  reader->position += count;
  return int(count);
}

void skip_bytes(void* user, int count) {
  auto* reader = static_cast<MemoryReader*>(user);
  if (count < 0) {
    size_t back = size_t(-int64_t(count));
    reader->position = back > reader->position ? 0 : reader->position - back;
  } else {
    size_t left = reader->size - reader->position;
    reader->position += size_t(count) < left ? size_t(count) : left;
  }
}

int at_end(void* user) {
  auto* reader = static_cast<MemoryReader*>(user);
  return reader->position >= reader->size ? 1 : 0;
}

const stbi_io_callbacks memory_callbacks = {read_bytes, skip_bytes, at_end};

}  // namespace

bool decode_image(const uint8_t* data, size_t size, int largest_side, DecodedImage* image) {
  if (data == nullptr || size == 0 || size > 0x7FFFFFFF) return false;
  if (!bmp_holds_its_rows(data, size)) return false;
  int width = 0, height = 0, channels = 0;
  MemoryReader reader{data, size, 0};
  if (!stbi_info_from_callbacks(&memory_callbacks, &reader, &width, &height, &channels)) return false;
  if (width <= 0 || height <= 0 || width > largest_side || height > largest_side) return false;
  reader.position = 0;
  stbi_uc* pixels = stbi_load_from_callbacks(&memory_callbacks, &reader, &width, &height, &channels, 4);
  if (pixels == nullptr) return false;
  if (width <= 0 || height <= 0 || width > largest_side || height > largest_side) {
    stbi_image_free(pixels);
    return false;
  }
  image->width = width;
  image->height = height;
  bool copied = true;
  try {
    image->rgba.assign(pixels, pixels + size_t(width) * size_t(height) * 4);
  } catch (const std::bad_alloc&) {
    copied = false;
  }
  stbi_image_free(pixels);
  return copied;
}

}  // namespace platform
