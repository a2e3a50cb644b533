// The colours the skinned windows draw their texts in: the skin's own on its
// white, or the system's text colour on the system's window colour where the
// user asked for high contrast or the skin's would not be readable. No
// Windows header.
#pragma once

#include <cstdint>

namespace skin {

// 0xRRGGBB.
using Rgb = uint32_t;
inline constexpr Rgb kSkinWhite = 0xFFFFFF;

// Contrast ratio of two colours as the web's accessibility guidelines define
// it: 1 (the same luminance) to 21 (black on white).
double ContrastRatio(Rgb a, Rgb b);
// The least ratio that normal text needs to be readable.
inline constexpr double kReadableContrast = 4.5;

// What the system says, read again whenever its colours or settings change.
struct SystemColours {
  bool highContrast = false;  // SPI_GETHIGHCONTRAST's HCF_HIGHCONTRASTON
  Rgb windowText = 0x000000;  // COLOR_WINDOWTEXT
  Rgb window = 0xFFFFFF;      // COLOR_WINDOW
  Rgb buttonText = 0x000000;  // COLOR_BTNTEXT, the skin's text colour
  bool operator==(const SystemColours&) const = default;
};

struct TextColours {
  // True: every text in `text` on `back`, its box filled (the system's
  // pair). False: each text in its own colour, transparent, on the skin.
  bool system = false;
  Rgb text = 0x000000;  // check boxes and labels that take the system's colour
  Rgb back = kSkinWhite;  // behind the texts and on the bare surface
  bool operator==(const TextColours&) const = default;
};

// High contrast on: the system's pair. Off: the skin's white with the
// system's button text colour on it, unless that colour is not readable on
// white (a dark colour scheme), which also gets the system's pair.
TextColours ChooseTextColours(const SystemColours& s);

}  // namespace skin
