#include "client/mainwindow/dibdecode.h"


namespace skin {

namespace {

uint32_t U32(std::string_view b, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}
uint16_t U16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}

constexpr uint32_t kBiRgb = 0;
constexpr int kMaxSide = 4096;

}  // namespace

std::optional<Pixels> DecodePackedDib(std::string_view b) {
  if (b.size() < 40) return std::nullopt;
  const uint32_t headerSize = U32(b, 0);
  if (headerSize < 40 || headerSize > b.size()) return std::nullopt;
  const int32_t width = static_cast<int32_t>(U32(b, 4));
  const int32_t rawHeight = static_cast<int32_t>(U32(b, 8));
  const uint16_t planes = U16(b, 12);
  const uint16_t bits = U16(b, 14);
  const uint32_t compression = U32(b, 16);
  const uint32_t colorsUsed = U32(b, 32);
  if (planes != 1 || (bits != 24 && bits != 32) || compression != kBiRgb) return std::nullopt;
  if (width <= 0 || width > kMaxSide || rawHeight == 0 || rawHeight < -kMaxSide || rawHeight > kMaxSide)
    return std::nullopt;
  const bool bottomUp = rawHeight > 0;
  const int height = bottomUp ? rawHeight : -rawHeight;
  const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
  const size_t offset = headerSize + static_cast<size_t>(colorsUsed) * 4;
  if (offset > b.size() || (b.size() - offset) / stride < static_cast<size_t>(height)) return std::nullopt;

  Pixels p;
  p.width = width;
  p.height = height;
  p.argb.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  bool anyAlpha = false;
  for (int y = 0; y < height; ++y) {
    const size_t row = offset + static_cast<size_t>(bottomUp ? height - 1 - y : y) * stride;
    for (int x = 0; x < width; ++x) {
      const size_t at = row + static_cast<size_t>(x) * (bits / 8);
      const uint32_t bl = static_cast<unsigned char>(b[at]);
      const uint32_t g = static_cast<unsigned char>(b[at + 1]);
      const uint32_t r = static_cast<unsigned char>(b[at + 2]);
      const uint32_t a = bits == 32 ? static_cast<unsigned char>(b[at + 3]) : 255u;
      if (bits == 32 && a) anyAlpha = true;
      p.argb[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
          a << 24 | r << 16 | g << 8 | bl;
    }
  }
  for (uint32_t& v : p.argb) {
    uint32_t a = v >> 24;
    if (bits == 32 && !anyAlpha) a = 255;
    const uint32_t r = ((v >> 16) & 0xFF) * a / 255;
    const uint32_t g = ((v >> 8) & 0xFF) * a / 255;
    const uint32_t bl = (v & 0xFF) * a / 255;
    v = a << 24 | r << 16 | g << 8 | bl;
  }
  return p;
}

}  // namespace skin
