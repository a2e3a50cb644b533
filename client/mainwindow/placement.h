// Where a skinned window goes on its monitor: the scale it is laid out at
// and its rectangle on the screen, so that it lies within the monitor's work
// area with its title strip inside. No Windows header.
#pragma once

#include "client/mainwindow/skinmodel.h"

namespace skin {

// The scale a window of width x height 96-dpi pixels is laid out at on a
// monitor of scale `monitorScale` (its dpi / 96) whose work area is `work`:
// the monitor's scale where the window fits the work area at it, else the
// largest scale that fits, never below 100 % (a window that does not fit
// even then keeps its 100 % size).
double FitScale(double width, double height, double monitorScale, const PixelRect& work);

// The window moved, not resized, into the work area: on each axis where it
// fits it lies wholly inside; where it does not, its left or top edge is the
// work area's. Then its top-left corner and (as far as the work area is wide
// enough) its title strip are always inside.
PixelRect KeepInside(const PixelRect& window, const PixelRect& work);

struct Placement {
  double scale = 1;  // window pixels per 96-dpi pixel
  PixelRect window;  // screen pixels
};

// The window at FitScale, centred on `centreOn`, kept inside the work area.
Placement PlaceCentred(double width, double height, double monitorScale, const PixelRect& work,
                       const PixelRect& centreOn);
// The window at FitScale with its top-left corner at (left, top), kept
// inside the work area.
Placement PlaceAt(double width, double height, double monitorScale, const PixelRect& work, int left, int top);

}  // namespace skin
