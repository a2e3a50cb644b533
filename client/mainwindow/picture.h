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
  // RT_BITMAP resource of the running executable.
  static Picture FromBitmapResource(int id);
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
  // differ.
  void Draw(HDC dc, int x, int y, int w, int h) const;

 private:
  win::UniqueBitmap bitmap_;  // 32-bit top-down DIB, premultiplied alpha
  win::UniqueIcon icon_;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace skin
