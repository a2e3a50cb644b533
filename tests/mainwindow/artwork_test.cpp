// The artwork inside the client: every picture and icon in its size and
// colour depth.
#include <gtest/gtest.h>

#include <windows.h>

#include "artwork/resource.h"
#include "client/mainwindow/picture.h"
#include "client/mainwindow/skinmodel.h"

namespace {

#pragma pack(push, 2)
struct GroupEntry {
  BYTE width, height, colors, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
struct GroupDir {
  WORD reserved, type, count;
  GroupEntry entries[1];
};
#pragma pack(pop)

struct IconImage {
  int size;
  int bits;
  bool operator==(const IconImage&) const = default;
};

std::vector<IconImage> GroupImages(int id) {
  HMODULE m = ::GetModuleHandleW(nullptr);
  HRSRC r = ::FindResourceW(m, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
  if (!r) return {};
  auto* dir = static_cast<const GroupDir*>(::LockResource(::LoadResource(m, r)));
  std::vector<IconImage> out;
  for (int i = 0; i < dir->count; ++i)
    out.push_back({dir->entries[i].width ? dir->entries[i].width : 256, dir->entries[i].bitCount});
  return out;
}

TEST(Artwork, PicturesHaveTheirSizes) {
  struct {
    int id, w, h;
  } want[] = {{IDB_TOP, 7, 29},           {IDB_TITLEICON, 32, 32},      {IDB_MIN_NORMAL, 36, 20},
              {IDB_MIN_HOVER, 36, 20},    {IDB_CLOSE_NORMAL, 36, 20},   {IDB_CLOSE_HOVER, 36, 20},
              {IDB_SET_CLOSE_NORMAL, 36, 20}, {IDB_SET_CLOSE_HOVER, 36, 20}, {IDB_BTN_NORMAL, 97, 40},
              {IDB_BTN_HOVER, 98, 40},    {IDB_BTN_ACTIVE, 97, 39}};
  for (auto w : want) {
    skin::Picture p = skin::Picture::FromBitmapResource(w.id);
    ASSERT_TRUE(p) << w.id;
    EXPECT_EQ(p.width(), w.w) << w.id;
    EXPECT_EQ(p.height(), w.h) << w.id;
    // Each drawn again for 125, 150 and 200 %, at that size (the strip
    // is stretched across anyway and keeps its 7 columns).
    int k = 1;
    for (double scale : {1.25, 1.5, 2.0}) {
      skin::Picture big = skin::Picture::FromBitmapResource(w.id + skin::Picture::kScaleStep * k++);
      ASSERT_TRUE(big) << w.id << " at " << scale;
      EXPECT_EQ(big.width(), w.id == IDB_TOP ? 7 : skin::ToPixel(w.w * scale)) << w.id << " at " << scale;
      EXPECT_EQ(big.height(), skin::ToPixel(w.h * scale)) << w.id << " at " << scale;
    }
  }
}

TEST(Artwork, IconsHaveTheirImages) {
  // The sizes the shell asks for at 100 to 200 %: small 16, 20, 24, 32;
  // large 32, 40, 48, 64; the hand cursor 32, 40, 48, 64.
  EXPECT_EQ(GroupImages(IDI_VELBOX), (std::vector<IconImage>{{32, 8}, {256, 32}, {16, 24}, {32, 24}, {48, 24},
                                                              {20, 32}, {24, 32}, {40, 32}, {64, 32}}));
  EXPECT_EQ(GroupImages(IDI_TRAY), (std::vector<IconImage>{{16, 24}, {20, 32}, {24, 32}, {32, 32}}));
  EXPECT_EQ(GroupImages(IDI_HANDPOINTER), (std::vector<IconImage>{{32, 4}, {40, 4}, {48, 4}, {64, 4}}));
  skin::Picture tray = skin::Picture::FromIconResource(IDI_TRAY, 16);
  ASSERT_TRUE(tray);
  EXPECT_NE(tray.icon(), nullptr);
  EXPECT_TRUE(skin::Picture::FromIconResource(IDI_HANDPOINTER, 32));
}

}  // namespace
