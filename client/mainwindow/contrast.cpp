#include "client/mainwindow/contrast.h"

#include <algorithm>
#include <cmath>

namespace skin {

namespace {

double Channel(unsigned v) {
  const double c = v / 255.0;
  return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(Rgb c) {
  return 0.2126 * Channel((c >> 16) & 0xFF) + 0.7152 * Channel((c >> 8) & 0xFF) + 0.0722 * Channel(c & 0xFF);
}

}  // namespace

double ContrastRatio(Rgb a, Rgb b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TextColours ChooseTextColours(const SystemColours& s) {
  if (s.highContrast || ContrastRatio(s.buttonText, kSkinWhite) < kReadableContrast)
    return {true, s.windowText, s.window};
  return {false, s.buttonText, kSkinWhite};
}

}  // namespace skin
