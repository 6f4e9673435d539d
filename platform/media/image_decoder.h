// Decoding of image files held in memory: PNG, JPEG, GIF (its first frame) and BMP.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;  // rows top-down, four bytes per pixel: red, green, blue, alpha
};

// False for data that is not a whole image of those formats, or one larger than
// largest_side on a side.
bool decode_image(const uint8_t* data, size_t size, int largest_side, DecodedImage* image);

}  // namespace platform
