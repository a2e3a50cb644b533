#include "client/mainwindow/picture.h"

#include <cstring>
#include <optional>
#include <string_view>

#include "client/mainwindow/dibdecode.h"

namespace skin {

namespace {

win::UniqueBitmap DibOf(int width, int height, const uint32_t* argb) {
  void* bits = nullptr;
  win::UniqueBitmap bmp = win::TopDownDib(width, height, &bits);
  if (!bmp || !bits) return {};
  std::memcpy(bits, argb, static_cast<size_t>(width) * static_cast<size_t>(height) * sizeof(uint32_t));
  return bmp;
}

std::optional<Pixels> BitmapResource(int id) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
  if (!res) return std::nullopt;
  HGLOBAL data = ::LoadResource(module, res);
  const void* bytes = data ? ::LockResource(data) : nullptr;
  if (!bytes) return std::nullopt;
  return DecodePackedDib(std::string_view(static_cast<const char*>(bytes), ::SizeofResource(module, res)));
}

}  // namespace

Picture Picture::FromBitmapResource(int id) {
  auto pixels = BitmapResource(id);
  if (!pixels) return {};
  Picture p = FromPixels(pixels->width, pixels->height, pixels->argb.data());
  if (p) p.bitmapId_ = id;
  return p;
}

Picture Picture::FromPixels(int width, int height, const uint32_t* argb) {
  Picture p;
  if (width <= 0 || height <= 0 || !argb) return p;
  p.bitmap_ = DibOf(width, height, argb);
  if (!p.bitmap_) return p;
  p.width_ = width;
  p.height_ = height;
  return p;
}

Picture Picture::FromIconResource(int id, int size) {
  Picture p;
  p.icon_.reset(static_cast<HICON>(
      ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0)));
  if (p.icon_) {
    p.width_ = p.height_ = size;
    p.iconId_ = id;
  }
  return p;
}

HICON Picture::IconOfSize(int size) const {
  if (!icon_ || !iconId_) return nullptr;
  return static_cast<HICON>(
      ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconId_), IMAGE_ICON, size, size, 0));
}

const Picture::Scaled* Picture::For(double scale) const {
  // The picture drawn for the smallest scale at least this one (the
  // largest beyond 200 %); none when the executable does not have it.
  constexpr double kScales[3] = {1.25, 1.5, 2.0};
  size_t k = 0;
  while (k + 1 < 3 && kScales[k] + 1e-6 < scale) ++k;
  Scaled& s = scaled_[k];
  if (!s.tried && bitmapId_) {
    s.tried = true;
    if (auto more = BitmapResource(bitmapId_ + kScaleStep * static_cast<int>(k + 1))) {
      s.bitmap = DibOf(more->width, more->height, more->argb.data());
      s.width = more->width;
      s.height = more->height;
    }
  }
  return s.bitmap ? &s : nullptr;
}

void Picture::Draw(HDC dc, int x, int y, int w, int h, double scale) const {
  if (w <= 0 || h <= 0) return;
  if (icon_) {
    ::DrawIconEx(dc, x, y, icon_.get(), w, h, 0, nullptr, DI_NORMAL);
    return;
  }
  if (!bitmap_) return;
  HBITMAP source = bitmap_.get();
  int sw = width_, sh = height_;
  if (scale > 1.0 + 1e-6) {
    if (const Scaled* s = For(scale)) {
      source = s->bitmap.get();
      sw = s->width;
      sh = s->height;
    }
  }
  win::UniqueMemDc mem(::CreateCompatibleDC(dc));
  win::SelectGuard sel(mem.get(), source);
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  ::AlphaBlend(dc, x, y, w, h, mem.get(), 0, 0, sw, sh, blend);
}

}  // namespace skin
