#include "client/mainwindow/placement.h"

#include <algorithm>

namespace skin {

namespace {

bool Fits(double width, double height, double scale, const PixelRect& work) {
  return ToPixel(width * scale) <= work.right - work.left && ToPixel(height * scale) <= work.bottom - work.top;
}

// One axis of KeepInside.
int Inside(int start, int size, int lo, int hi) {
  if (size > hi - lo) return lo;
  return std::clamp(start, lo, hi - size);
}

Placement Sized(double width, double height, double monitorScale, const PixelRect& work) {
  Placement p;
  p.scale = FitScale(width, height, monitorScale, work);
  p.window.right = ToPixel(width * p.scale);
  p.window.bottom = ToPixel(height * p.scale);
  return p;
}

PixelRect At(const PixelRect& sized, int left, int top) {
  return {left, top, left + sized.right, top + sized.bottom};
}

}  // namespace

double FitScale(double width, double height, double monitorScale, const PixelRect& work) {
  if (monitorScale <= 0) monitorScale = 1;
  if (width <= 0 || height <= 0 || Fits(width, height, monitorScale, work)) return monitorScale;
  // Below 100 % only where the monitor itself is below it.
  const double floor = std::min(1.0, monitorScale);
  const double w = work.right - work.left, h = work.bottom - work.top;
  // The window then fills the work area's width or height to the pixel.
  return std::max(std::min(w / width, h / height), floor);
}

PixelRect KeepInside(const PixelRect& r, const PixelRect& work) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int left = Inside(r.left, w, work.left, work.right);
  const int top = Inside(r.top, h, work.top, work.bottom);
  return {left, top, left + w, top + h};
}

Placement PlaceCentred(double width, double height, double monitorScale, const PixelRect& work,
                       const PixelRect& centreOn) {
  Placement p = Sized(width, height, monitorScale, work);
  const int left = centreOn.left + (centreOn.right - centreOn.left - p.window.right) / 2;
  const int top = centreOn.top + (centreOn.bottom - centreOn.top - p.window.bottom) / 2;
  p.window = KeepInside(At(p.window, left, top), work);
  return p;
}

Placement PlaceAt(double width, double height, double monitorScale, const PixelRect& work, int left, int top) {
  Placement p = Sized(width, height, monitorScale, work);
  p.window = KeepInside(At(p.window, left, top), work);
  return p;
}

}  // namespace skin
