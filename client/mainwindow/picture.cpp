#include "client/mainwindow/picture.h"

#include <cstring>
#include <string_view>

#include "client/mainwindow/dibdecode.h"

namespace skin {

Picture Picture::FromBitmapResource(int id) {
  Picture p;
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
  if (!res) return p;
  HGLOBAL data = ::LoadResource(module, res);
  const void* bytes = data ? ::LockResource(data) : nullptr;
  if (!bytes) return p;
  auto pixels = DecodePackedDib(std::string_view(static_cast<const char*>(bytes), ::SizeofResource(module, res)));
  if (!pixels) return p;
  return FromPixels(pixels->width, pixels->height, pixels->argb.data());
}

Picture Picture::FromPixels(int width, int height, const uint32_t* argb) {
  Picture p;
  if (width <= 0 || height <= 0 || !argb) return p;

  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  p.bitmap_.reset(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!p.bitmap_ || !bits) {
    p.bitmap_.reset();
    return p;
  }
  std::memcpy(bits, argb, static_cast<size_t>(width) * static_cast<size_t>(height) * sizeof(uint32_t));
  p.width_ = width;
  p.height_ = height;
  return p;
}

Picture Picture::FromIconResource(int id, int size) {
  Picture p;
  p.icon_.reset(static_cast<HICON>(
      ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0)));
  if (p.icon_) p.width_ = p.height_ = size;
  return p;
}

void Picture::Draw(HDC dc, int x, int y, int w, int h) const {
  if (w <= 0 || h <= 0) return;
  if (icon_) {
    ::DrawIconEx(dc, x, y, icon_.get(), w, h, 0, nullptr, DI_NORMAL);
    return;
  }
  if (!bitmap_) return;
  win::UniqueMemDc mem(::CreateCompatibleDC(dc));
  win::SelectGuard sel(mem.get(), bitmap_.get());
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  ::AlphaBlend(dc, x, y, w, h, mem.get(), 0, 0, width_, height_, blend);
}

}  // namespace skin
