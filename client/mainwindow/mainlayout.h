// Arithmetic of the main window: twips and pixels, its scale and place on
// the screen, the places of the chrome, the browser frame and the two
// browsers; and the reading of the command line. No Windows header.
#pragma once

#include <string>
#include <string_view>

#include "client/mainwindow/skinmodel.h"

namespace mainwindow {

inline constexpr int kWidth = 1000;  // pixels, also the client area
inline constexpr int kHeight = 710;

// 15 at 96 dots per inch.
double TwipsPerPixel(int dpi);
// To the nearest whole number, halves to the even neighbour.
long long RoundHalfEven(double v);
// (screen - window) rounded half-to-even, then halved towards zero: the
// left or top of a centred window, in twips.
long long CentreTwips(double screenTwips, double windowTwips);
// Twips to the nearest pixel (halves up).
int TwipsToPixels(double twips, double twipsPerPixel);

// The primary screen in the window's pixels, the twips per pixel at the
// window's dpi (15 at 96 dpi, 10 at 144) and the work area of its monitor
// (the screen without the taskbar); an empty work area is the whole screen.
struct Screen {
  int width = 0;
  int height = 0;
  double tppX = 15;
  double tppY = 15;
  skin::PixelRect work;
};

// A 96-dpi pixel is 15 twips at every dpi: sizes given in such pixels
// become twips this way and reach the window's pixels through its own
// twips per pixel, which scales them.
inline constexpr double kTwipsPerUnit = 15;

using skin::PixelRect;

struct Layout {
  double scale = 1;          // the window's pixels per 96-dpi pixel, as laid out
  PixelRect window;          // screen pixels
  skin::ChromeLayout chrome;  // 96-dpi pixels of the client area
  PixelRect picFrame;        // client pixels of the main window
  PixelRect browser1;        // client pixels of picFrame
  PixelRect browser2;        // client pixels of the main window
};

// The layout of the main window; the title label measures titleWidth x
// titleHeight 96-dpi pixels. The window is laid out at the largest scale up
// to the dpi's at which it fits the work area (never below 100 %), centred
// on the screen and then moved into the work area.
Layout LayoutMain(const Screen& screen, double titleWidth, double titleHeight);
// Steps 3 to 6 alone, for a window laid out at `scale` wherever it is: the
// chrome, the frame and the browsers (`window` stays empty).
Layout LayoutParts(double scale, double titleWidth, double titleHeight);

// The argument text of a command line: everything after the program part
// (a quoted path, or the text up to the first blank), leading blanks
// dropped.
std::u16string_view ArgumentText(std::u16string_view commandLine);
// "/regstart" anywhere in the arguments, case-sensitive.
bool HasRegStart(std::u16string_view arguments);

}  // namespace mainwindow
