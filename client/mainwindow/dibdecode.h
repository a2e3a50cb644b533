// Decodes the packed device-independent bitmaps of the resources (24 or 32
// bits per pixel, uncompressed) into top-down, premultiplied 32-bit pixels
// ready for alpha blending. No Windows header.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace skin {

struct Pixels {
  int width = 0;
  int height = 0;
  // Row-major from the top; each value 0xAARRGGBB, colour premultiplied.
  std::vector<uint32_t> argb;
};

// Nothing for anything malformed or of another format. A 32-bit picture
// whose alpha bytes are all zero is taken as opaque.
std::optional<Pixels> DecodePackedDib(std::string_view bytes);

}  // namespace skin
