// Pictures of the skinned windows, loaded from the executable's resources:
// bitmaps (24 or 32 bits per pixel, drawn with their alpha) and icons.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/win/owners.h"

namespace skin {

class Picture {
 public:
  Picture() = default;
  // RT_BITMAP resource of the running executable. The same picture drawn
  // for 125, 150 and 200 %, where the executable has it (at id plus
  // kScaleStep times 1, 2 and 3), is loaded when first drawn at that scale.
  static Picture FromBitmapResource(int id);
  static constexpr int kScaleStep = 1000;
  // RT_GROUP_ICON resource, the image of size x size pixels.
  static Picture FromIconResource(int id, int size);
  // Top-down premultiplied 0xAARRGGBB pixels (see dibdecode.h).
  static Picture FromPixels(int width, int height, const uint32_t* argb);

  explicit operator bool() const { return bitmap_ || icon_; }
  int width() const { return width_; }
  int height() const { return height_; }
  HICON icon() const { return icon_.get(); }  // null for bitmaps
  HBITMAP bitmap() const { return bitmap_.get(); }

  // Draws the picture into the rectangle, stretching it when the sizes
  // differ. `scale` is the window's: the picture drawn for it (or the next
  // larger one) is the one stretched.
  void Draw(HDC dc, int x, int y, int w, int h, double scale = 1.0) const;
  // An icon picture's image of size x size pixels from its resource (the
  // caller owns it); null for bitmaps.
  HICON IconOfSize(int size) const;

 private:
  struct Scaled {
    bool tried = false;
    win::UniqueBitmap bitmap;
    int width = 0, height = 0;
  };
  const Scaled* For(double scale) const;

  win::UniqueBitmap bitmap_;  // 32-bit top-down DIB, premultiplied alpha
  int bitmapId_ = 0;
  mutable Scaled scaled_[3];  // 1.25, 1.5, 2; loaded on first use
  win::UniqueIcon icon_;
  int iconId_ = 0;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace skin
