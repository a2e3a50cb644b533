// The artwork inside the client: every picture and icon in its size and
// colour depth.
#include <gtest/gtest.h>

#include <windows.h>

#include "artwork/resource.h"
#include "client/mainwindow/picture.h"

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
  }
}

TEST(Artwork, IconsHaveTheirImages) {
  EXPECT_EQ(GroupImages(IDI_VELBOX),
            (std::vector<IconImage>{{32, 8}, {256, 32}, {16, 24}, {32, 24}, {48, 24}}));
  EXPECT_EQ(GroupImages(IDI_TRAY), (std::vector<IconImage>{{16, 24}}));
  EXPECT_EQ(GroupImages(IDI_HANDPOINTER), (std::vector<IconImage>{{32, 4}}));
  skin::Picture tray = skin::Picture::FromIconResource(IDI_TRAY, 16);
  ASSERT_TRUE(tray);
  EXPECT_NE(tray.icon(), nullptr);
  EXPECT_TRUE(skin::Picture::FromIconResource(IDI_HANDPOINTER, 32));
}

}  // namespace
