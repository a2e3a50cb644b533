#include "client/mainwindow/hiddenchars.h"

#include <algorithm>
#include <iterator>

namespace hiddenchars {

namespace {

struct Range {
  char32_t first, last;
};

constexpr Range kHidden[] = {
#include "client/mainwindow/hiddenchars_table.inc"
};

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

bool IsHidden(char32_t c) {
  const Range* end = std::end(kHidden);
  const Range* r =
      std::upper_bound(std::begin(kHidden), end, c, [](char32_t v, const Range& x) { return v < x.first; });
  return r != std::begin(kHidden) && c <= std::prev(r)->last;
}

bool HoldsHidden(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsHigh(c) && i + 1 < text.size() && IsLow(text[i + 1])) {
      // Tag characters and the other planes' marks arrive as pairs.
      if (IsHidden(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00))) return true;
      ++i;
    } else if (IsHigh(c) || IsLow(c) || IsHidden(c)) {
      return true;
    }
  }
  return false;
}

}  // namespace hiddenchars
