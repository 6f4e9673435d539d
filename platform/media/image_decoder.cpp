// The image decoder over stb_image, limited to the four formats the device decodes.
#include "platform/media/image_decoder.h"

#include <cstdlib>
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

bool decode_image(const uint8_t* data, size_t size, int largest_side, DecodedImage* image) {
  if (data == nullptr || size == 0 || size > 0x7FFFFFFF) return false;
  int width = 0, height = 0, channels = 0;
  if (!stbi_info_from_memory(data, int(size), &width, &height, &channels)) return false;
  if (width <= 0 || height <= 0 || width > largest_side || height > largest_side) return false;
  stbi_uc* pixels = stbi_load_from_memory(data, int(size), &width, &height, &channels, 4);
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
