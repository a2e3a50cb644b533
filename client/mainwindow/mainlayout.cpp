#include "client/mainwindow/mainlayout.h"

#include <cmath>

#include "client/mainwindow/placement.h"

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
  const PixelRect work = s.work.right > s.work.left && s.work.bottom > s.work.top
                             ? s.work
                             : PixelRect{0, 0, s.width, s.height};
  // Where the window does not fit at the dpi's scale it is laid out at a
  // smaller one, whose twips per pixel the arithmetic below uses.
  const double dpiScale = kTwipsPerUnit / s.tppX;
  const double scale = skin::FitScale(kWidth, kHeight, dpiScale, work);
  const double factor = dpiScale / scale;  // exactly 1 where it fits
  const double tppX = s.tppX * factor;
  const double tppY = s.tppY * factor;
  Layout out = LayoutParts(scale, titleWidth, titleHeight);
  // 1. The window's size in twips, handed to the platform in its pixels.
  const double widthTwips = kWidth * kTwipsPerUnit;
  const double heightTwips = kHeight * kTwipsPerUnit;
  const int w = TwipsToPixels(widthTwips, tppX);
  const int h = TwipsToPixels(heightTwips, tppY);
  // 2. Centred on the primary screen, then moved into the work area: the
  // title strip never lies above the screen or under the taskbar.
  const int left = TwipsToPixels(static_cast<double>(CentreTwips(s.width * tppX, widthTwips)), tppX);
  const int top = TwipsToPixels(static_cast<double>(CentreTwips(s.height * tppY, heightTwips)), tppY);
  out.window = skin::KeepInside({left, top, left + w, top + h}, work);
  return out;
}

Layout LayoutParts(double scale, double titleWidth, double titleHeight) {
  Layout out;
  out.scale = scale;
  const double tpp = kTwipsPerUnit / scale;

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
  out.picFrame = skin::ScaleEdges(frameLeft, frameTop, frameLeft + frameWidth, frameTop + frameHeight, scale);

  // 5. The browser starts 25 twips above and left of the frame's corner
  // (the nearest pixel: -2 at 96 dpi) and reaches one pixel beyond the
  // frame's right and bottom edges, so the frame cuts the browser's own
  // edge off on every side.
  const int off = TwipsToPixels(-25, tpp);
  out.browser1 = {off, off, out.picFrame.right - out.picFrame.left + 1, out.picFrame.bottom - out.picFrame.top + 1};

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
