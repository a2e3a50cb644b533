#include "client/mainwindow/mainlayout.h"

#include <cmath>

namespace mainwindow {

double TwipsPerPixel(int dpi) { return dpi > 0 ? 1440.0 / dpi : 15.0; }

long long RoundHalfEven(double v) {
  const double f = std::floor(v);
  const double rest = v - f;
  long long r = static_cast<long long>(f);
  if (rest > 0.5 || (rest == 0.5 && (r % 2 != 0))) ++r;
  return r;
}

long long CentreTwips(double screenTwips, double windowTwips) {
  // Integer division in C++ drops the remainder towards zero.
  return RoundHalfEven(screenTwips - windowTwips) / 2;
}

int TwipsToPixels(double twips, double twipsPerPixel) {
  return static_cast<int>(std::floor(twips / twipsPerPixel + 0.5));
}

Layout LayoutMain(const Screen& s, double titleWidth, double titleHeight) {
  Layout out;
  out.scale = kTwipsPerUnit / s.tppX;
  // 1. The window's size in twips, handed to the platform in its pixels.
  const double widthTwips = kWidth * kTwipsPerUnit;
  const double heightTwips = kHeight * kTwipsPerUnit;
  const int w = TwipsToPixels(widthTwips, s.tppX);
  const int h = TwipsToPixels(heightTwips, s.tppY);
  // 2. Centred on the primary screen (negative on a smaller screen).
  const int left = TwipsToPixels(static_cast<double>(CentreTwips(s.width * s.tppX, widthTwips)), s.tppX);
  const int top = TwipsToPixels(static_cast<double>(CentreTwips(s.height * s.tppY, heightTwips)), s.tppY);
  out.window = {left, top, left + w, top + h};

  // 3. The chrome, on the client area, in 96-dpi pixels.
  skin::ChromeInput in;
  in.width = kWidth;
  in.height = kHeight;
  in.titleWidth = titleWidth;
  in.titleHeight = titleHeight;
  out.chrome = skin::PlaceChrome(in);

  // 4. The browser frame under the title strip: left 2, top 35, width
  // W - 3, height H - 35 - 2, its edges scaled.
  const double frameTop = out.chrome.top.top + out.chrome.top.height;
  const double frameLeft = 2;
  const double frameHeight = kHeight - out.chrome.top.height - 2;
  const double frameWidth = kWidth - 3;
  out.picFrame = skin::ScaleEdges(frameLeft, frameTop, frameLeft + frameWidth, frameTop + frameHeight, out.scale);

  // 5. The browser starts 25 twips above and left of the frame's corner
  // (the nearest pixel: -2 at 96 dpi) and reaches one pixel beyond the
  // frame's right and bottom edges, so the frame cuts the browser's own
  // edge off on every side.
  const int offX = TwipsToPixels(-25, s.tppX);
  const int offY = TwipsToPixels(-25, s.tppY);
  out.browser1 = {offX, offY, out.picFrame.right - out.picFrame.left + 1, out.picFrame.bottom - out.picFrame.top + 1};

  // 6. The second browser out of sight.
  out.browser2 = {-10, -10, -10, -10};
  return out;
}

std::u16string_view ArgumentText(std::u16string_view c) {
  size_t i = 0;
  while (i < c.size() && (c[i] == u' ' || c[i] == u'\t')) ++i;
  if (i < c.size() && c[i] == u'"') {
    size_t close = c.find(u'"', i + 1);
    i = close == std::u16string_view::npos ? c.size() : close + 1;
  } else {
    while (i < c.size() && c[i] != u' ' && c[i] != u'\t') ++i;
  }
  while (i < c.size() && (c[i] == u' ' || c[i] == u'\t')) ++i;
  return c.substr(i);
}

bool HasRegStart(std::u16string_view arguments) { return arguments.find(u"/regstart") != std::u16string_view::npos; }

}  // namespace mainwindow
